// fake_browser: stands in for a web browser in the end-to-end runs. Copied to
// a browser's install folder under the browser's file name ("Chrome.exe",
// "firefox.exe" ...), it appends to C:\kestlo-e2e\started.log one line with
// the path it was started from and one with its whole command line, then exits.
// The Wine benchmark counts the starts by it; the scenario runs need no record
// of their own, as trace_collector.exe names every process the launcher starts.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>

int main() {
    char self[MAX_PATH * 4] = {};
    GetModuleFileNameA(nullptr, self, sizeof self - 1);
    CreateDirectoryA("C:\\kestlo-e2e", nullptr);
    FILE* log = std::fopen("C:\\kestlo-e2e\\started.log", "ab");
    if (log == nullptr) return 1;
    std::fprintf(log, "module %s\ncommand %s\n", self, GetCommandLineA());
    std::fclose(log);
    return 0;
}
