// trace_collector: runs a program as a debuggee and records, byte for byte,
// every string it passes to OutputDebugStringA, the message box it shows, and
// its exit code; what a debug-output viewer shows, written to a file.
//
//   trace_collector.exe OUTPUT TIMEOUT_SECONDS PROGRAM [ARGUMENTS...]
//
// OUTPUT gets one line per event: "S <hex bytes>" for each debug string (the
// bytes without their NUL); "M <caption hex> <text hex>" for a message box of
// the program, which is then answered with OK; "X <exit code>" when the
// program ended; "T" when it, or a program it started, was still running after
// TIMEOUT_SECONDS (the program is then terminated). The program runs in a job
// object, so the collector ends only once every program it started has ended
// too (a browser the launcher started writes its record, then exits); the job
// does not end them when the collector exits. Where the collector cannot put
// the program in a job (before Windows 8, when the collector itself already is
// in one), it says so on stderr and waits for the program alone.
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

std::string Hex(const std::string& bytes) {
    std::string hex;
    char digits[3];
    for (char byte : bytes) {
        std::snprintf(digits, sizeof digits, "%02x", static_cast<unsigned char>(byte));
        hex += digits;
    }
    return hex;
}

void WriteLine(FILE* out, const std::string& line) {
    std::fputs((line + "\n").c_str(), out);
    std::fflush(out);
}

std::string WindowText(HWND window) {
    char text[1024] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

struct BoxSearch {
    DWORD ProcessId;
    HWND Found;
};

// A message box of the process: a visible dialog (class #32770) it owns.
BOOL CALLBACK FindBox(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<BoxSearch*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char kind[16] = {};
    GetClassNameA(window, kind, sizeof kind);
    if (owner != search->ProcessId || !IsWindowVisible(window) || std::string(kind) != "#32770") return TRUE;
    search->Found = window;
    return FALSE;
}

// Records the process's message box, if it shows one now, and answers it with OK.
void AnswerMessageBox(FILE* out, DWORD processId, bool& answered) {
    BoxSearch search = {processId, nullptr};
    EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
    if (search.Found == nullptr || answered) return;
    // The text is the static control 0xFFFF, on Windows and Wine alike.
    const HWND text = GetDlgItem(search.Found, 0xFFFF);
    WriteLine(out, "M " + Hex(WindowText(search.Found)) + " " + Hex(text ? WindowText(text) : ""));
    PostMessageA(search.Found, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    answered = true;
}

// A job that reports to `port` when its last process has ended; null where
// the process cannot be put in it.
HANDLE JobAround(HANDLE process, HANDLE port) {
    HANDLE job = CreateJobObjectA(nullptr, nullptr);
    JOBOBJECT_ASSOCIATE_COMPLETION_PORT link = {job, port};
    if (job != nullptr && SetInformationJobObject(job, JobObjectAssociateCompletionPortInformation, &link, sizeof link) &&
        AssignProcessToJobObject(job, process))
        return job;
    std::fprintf(stderr, "trace_collector: the program is not in a job (error %lu): the programs it starts are "
                         "not waited for\n", GetLastError());
    if (job != nullptr) CloseHandle(job);
    return nullptr;
}

// Waits until the job's last process has ended, or the deadline (GetTickCount) passes.
bool JobEnded(HANDLE port, DWORD deadline) {
    for (;;) {
        const DWORD now = GetTickCount();
        if (static_cast<LONG>(deadline - now) <= 0) return false;
        DWORD message = 0;
        ULONG_PTR key = 0;
        LPOVERLAPPED detail = nullptr;
        if (!GetQueuedCompletionStatus(port, &message, &key, &detail, deadline - now)) return false;
        if (message == JOB_OBJECT_MSG_ACTIVE_PROCESS_ZERO) return true;
    }
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
    const DWORD deadline = GetTickCount() + static_cast<DWORD>(std::atoi(argv[2])) * 1000;
    std::string commandLine = Quote(argv[3]);
    for (int i = 4; i < argc; ++i) commandLine += " " + Quote(argv[i]);

    // Under Wine the first process to ask for the desktop window starts the
    // desktop process, which then runs as long as the session: it must be us,
    // not the program, or the job would never empty.
    GetDesktopWindow();
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    // Suspended until it is in the job, so that nothing it starts escapes.
    if (!CreateProcessA(argv[3], &commandLine[0], nullptr, nullptr, FALSE, DEBUG_ONLY_THIS_PROCESS | CREATE_SUSPENDED,
                        nullptr, nullptr, &startup, &process)) {
        std::fprintf(stderr, "trace_collector: cannot start %s (error %lu)\n", argv[3], GetLastError());
        return 3;
    }
    HANDLE port = CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1);
    HANDLE job = port != nullptr ? JobAround(process.hProcess, port) : nullptr;
    ResumeThread(process.hThread);

    bool answered = false, exited = false;
    while (!exited) {
        const LONG left = static_cast<LONG>(deadline - GetTickCount());
        DEBUG_EVENT event = {};
        // Short waits: between debug events, a message box is looked for.
        if (left <= 0) break;
        if (!WaitForDebugEvent(&event, left < 20 ? static_cast<DWORD>(left) : 20)) {
            AnswerMessageBox(out, process.dwProcessId, answered);
            continue;
        }
        DWORD continueStatus = DBG_CONTINUE;
        switch (event.dwDebugEventCode) {
        case OUTPUT_DEBUG_STRING_EVENT: {
            const OUTPUT_DEBUG_STRING_INFO& info = event.u.DebugString;
            // The length counts the terminating NUL; ANSI strings only.
            std::string text(info.nDebugStringLength, '\0');
            SIZE_T read = 0;
            if (!text.empty() &&
                ReadProcessMemory(process.hProcess, info.lpDebugStringData, &text[0], text.size(), &read)) {
                text.resize(read);
                if (!text.empty() && text.back() == '\0') text.pop_back();
            } else {
                text.clear();
            }
            WriteLine(out, "S " + Hex(text));
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
            WriteLine(out, "X " + std::to_string(event.u.ExitProcess.dwExitCode));
            exited = true;
            break;
        default:
            break;
        }
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, continueStatus);
    }
    if (!exited) TerminateProcess(process.hProcess, 1);  // a message box nobody closed, or a hang
    if (!exited || (job != nullptr && !JobEnded(port, deadline))) WriteLine(out, "T");
    std::fclose(out);
    if (job != nullptr) CloseHandle(job);
    if (port != nullptr) CloseHandle(port);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 0;
}
