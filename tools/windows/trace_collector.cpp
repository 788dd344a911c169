// trace_collector: runs a program as a debuggee and records, byte for byte,
// every string it passes to OutputDebugStringA, then its exit code; what a
// debug-output viewer shows, written to a file.
//
//   trace_collector.exe OUTPUT TIMEOUT_SECONDS PROGRAM [ARGUMENTS...]
//
// OUTPUT gets one line per event: "S <hex bytes>" for each debug string (the
// bytes without their NUL), then "X <exit code>" when the program ended, or
// "T" when it was still running after TIMEOUT_SECONDS and was terminated.
// Exits 0 once OUTPUT is written, 2 on bad arguments, 3 if PROGRAM cannot start.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// Quotes one argument for CreateProcess's command line, as the C runtime parses it.
std::string Quote(const std::string& argument) {
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    return quoted + "\"";
}

void WriteHexLine(FILE* out, const std::vector<char>& bytes) {
    std::fputs("S ", out);
    for (char byte : bytes) std::fprintf(out, "%02x", static_cast<unsigned char>(byte));
    std::fputc('\n', out);
    std::fflush(out);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: trace_collector OUTPUT TIMEOUT_SECONDS PROGRAM [ARGUMENTS...]\n");
        return 2;
    }
    FILE* out = std::fopen(argv[1], "wb");
    if (out == nullptr) {
        std::fprintf(stderr, "trace_collector: cannot write %s\n", argv[1]);
        return 2;
    }
    const DWORD timeoutMs = static_cast<DWORD>(std::atoi(argv[2])) * 1000;
    std::string commandLine = Quote(argv[3]);
    for (int i = 4; i < argc; ++i) commandLine += " " + Quote(argv[i]);

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(argv[3], &commandLine[0], nullptr, nullptr, FALSE, DEBUG_ONLY_THIS_PROCESS, nullptr,
                        nullptr, &startup, &process)) {
        std::fprintf(stderr, "trace_collector: cannot start %s (error %lu)\n", argv[3], GetLastError());
        return 3;
    }

    const DWORD started = GetTickCount();
    for (;;) {
        const DWORD elapsed = GetTickCount() - started;
        DEBUG_EVENT event = {};
        if (elapsed >= timeoutMs || !WaitForDebugEvent(&event, timeoutMs - elapsed)) {
            // Still running: a message box nobody closed, or a hang.
            TerminateProcess(process.hProcess, 1);
            std::fputs("T\n", out);
            break;
        }
        DWORD continueStatus = DBG_CONTINUE;
        switch (event.dwDebugEventCode) {
        case OUTPUT_DEBUG_STRING_EVENT: {
            const OUTPUT_DEBUG_STRING_INFO& info = event.u.DebugString;
            // The length counts the terminating NUL; ANSI strings only.
            std::vector<char> text(info.nDebugStringLength);
            SIZE_T read = 0;
            if (!text.empty() && ReadProcessMemory(process.hProcess, info.lpDebugStringData, text.data(),
                                                   text.size(), &read)) {
                text.resize(read);
                if (!text.empty() && text.back() == '\0') text.pop_back();
            } else {
                text.clear();
            }
            WriteHexLine(out, text);
            break;
        }
        case CREATE_PROCESS_DEBUG_EVENT:
            if (event.u.CreateProcessInfo.hFile) CloseHandle(event.u.CreateProcessInfo.hFile);
            break;
        case LOAD_DLL_DEBUG_EVENT:
            if (event.u.LoadDll.hFile) CloseHandle(event.u.LoadDll.hFile);
            break;
        case EXCEPTION_DEBUG_EVENT:
            // The loader's initial breakpoint is ours to swallow; anything else
            // goes back to the program as it would without a debugger.
            if (event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT)
                continueStatus = DBG_EXCEPTION_NOT_HANDLED;
            break;
        case EXIT_PROCESS_DEBUG_EVENT:
            std::fprintf(out, "X %lu\n", event.u.ExitProcess.dwExitCode);
            std::fclose(out);
            ContinueDebugEvent(event.dwProcessId, event.dwThreadId, DBG_CONTINUE);
            CloseHandle(process.hThread);
            CloseHandle(process.hProcess);
            return 0;
        default:
            break;
        }
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, continueStatus);
    }
    std::fclose(out);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 0;
}
