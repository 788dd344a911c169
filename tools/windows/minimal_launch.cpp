// minimal_launch: the least a launcher can do, for the benchmark: one
// ShellExecuteA("open", FILE, PARAMETERS) and nothing else.
//
//   minimal_launch.exe FILE PARAMETERS
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <shellapi.h>

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    ShellExecuteA(nullptr, "open", argv[1], argv[2], nullptr, SW_SHOW);
    return 0;
}
