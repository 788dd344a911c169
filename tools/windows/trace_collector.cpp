// trace_collector: runs a program as a debuggee and records, byte for byte,
// every string it passes to OutputDebugStringA, its message box, and its exit
// code; what a debug-output viewer shows, written to a file.
//
//   trace_collector.exe OUTPUT TIMEOUT_SECONDS PROGRAM [ARGUMENTS...]
//
// OUTPUT gets one line per event: "S <hex bytes>" for each debug string (the
// bytes without their NUL); "M <caption hex> <text hex>" for a message box of
// the program, which is then answered with OK; "X <exit code>" when it ended;
// "T" when it, or a program it started, still ran after TIMEOUT_SECONDS (the
// program is then terminated). The program runs in a job object, so the
// collector returns only once whatever it started (a browser) has ended too;
// closing the job ends nothing. Where the program cannot be put in a job
// (before Windows 8, when the collector already is in one), the collector says
// so on stderr and waits for the program alone.
// Exits 0 once OUTPUT is written, 2 on bad arguments, 3 if PROGRAM cannot start.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>
#include <string>

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
    for (char byte : bytes) hex += {"0123456789abcdef"[(byte >> 4) & 15], "0123456789abcdef"[byte & 15]};
    return hex;
}

std::string WindowText(HWND window) {
    char text[1024] = {};
    if (window != nullptr) GetWindowTextA(window, text, sizeof text);
    return text;
}

struct BoxSearch {
    DWORD ProcessId;
    HWND Found;
};

BOOL CALLBACK FindBox(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<BoxSearch*>(context);
    DWORD owner = 0;
    char kind[16] = {};
    GetWindowThreadProcessId(window, &owner);
    GetClassNameA(window, kind, sizeof kind);
    if (owner != search->ProcessId || !IsWindowVisible(window) || std::string(kind) != "#32770") return TRUE;
    search->Found = window;
    return FALSE;
}

// The message box of the process, if it shows one: a visible dialog of it.
HWND MessageBoxOf(DWORD processId) {
    BoxSearch search = {processId, nullptr};
    EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
    return search.Found;
}

// The program in a job that reports to `port`, or null (and why, on stderr).
HANDLE JobAround(HANDLE process, HANDLE port) {
    HANDLE job = port ? CreateJobObjectA(nullptr, nullptr) : nullptr;
    JOBOBJECT_ASSOCIATE_COMPLETION_PORT link = {job, port};
    if (job && SetInformationJobObject(job, JobObjectAssociateCompletionPortInformation, &link, sizeof link) &&
        AssignProcessToJobObject(job, process))
        return job;
    std::fprintf(stderr, "trace_collector: no job (error %lu): the programs it starts are not waited for\n",
                 GetLastError());
    if (job) CloseHandle(job);
    return nullptr;
}

// Waits until the job's last process has ended, or the deadline (GetTickCount) passes.
bool JobEnded(HANDLE port, DWORD deadline) {
    DWORD message = 0;
    ULONG_PTR key = 0;
    LPOVERLAPPED detail = nullptr;
    for (LONG left; (left = static_cast<LONG>(deadline - GetTickCount())) > 0;) {
        if (!GetQueuedCompletionStatus(port, &message, &key, &detail, static_cast<DWORD>(left))) return false;
        if (message == JOB_OBJECT_MSG_ACTIVE_PROCESS_ZERO) return true;
    }
    return false;
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
    const auto write = [out](const std::string& line) { std::fputs((line + "\n").c_str(), out), std::fflush(out); };
    const DWORD deadline = GetTickCount() + static_cast<DWORD>(std::atoi(argv[2])) * 1000;
    std::string commandLine = Quote(argv[3]);
    for (int i = 4; i < argc; ++i) commandLine += " " + Quote(argv[i]);

    // Under Wine the first process to ask for the desktop window starts the
    // desktop process, which lives as long as the session: it must be us, not
    // the program, or the job would never empty.
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
    HANDLE job = JobAround(process.hProcess, port);
    ResumeThread(process.hThread);

    bool answered = false, exited = false;
    for (LONG left; !exited && (left = static_cast<LONG>(deadline - GetTickCount())) > 0;) {
        DEBUG_EVENT event = {};
        // Between debug events, at most 20 ms apart, the message box is looked for.
        if (!WaitForDebugEvent(&event, left < 20 ? static_cast<DWORD>(left) : 20)) {
            const HWND box = answered ? nullptr : MessageBoxOf(process.dwProcessId);
            if (box != nullptr) {
                // Its text is the static control 0xFFFF, on Windows and Wine alike.
                write("M " + Hex(WindowText(box)) + " " + Hex(WindowText(GetDlgItem(box, 0xFFFF))));
                PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
                answered = true;
            }
            continue;
        }
        DWORD continueStatus = DBG_CONTINUE;
        if (event.dwDebugEventCode == OUTPUT_DEBUG_STRING_EVENT) {
            // The length counts the terminating NUL; ANSI strings only.
            std::string text(event.u.DebugString.nDebugStringLength, '\0');
            SIZE_T read = 0;
            if (text.empty() ||
                !ReadProcessMemory(process.hProcess, event.u.DebugString.lpDebugStringData, &text[0], text.size(), &read))
                read = 0;
            text.resize(read);
            if (!text.empty() && text.back() == '\0') text.pop_back();
            write("S " + Hex(text));
        } else if (event.dwDebugEventCode == CREATE_PROCESS_DEBUG_EVENT && event.u.CreateProcessInfo.hFile) {
            CloseHandle(event.u.CreateProcessInfo.hFile);
        } else if (event.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT && event.u.LoadDll.hFile) {
            CloseHandle(event.u.LoadDll.hFile);
        } else if (event.dwDebugEventCode == EXCEPTION_DEBUG_EVENT &&
                   event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT) {
            // The loader's initial breakpoint is ours to swallow; anything else
            // goes back to the program as it would without a debugger.
            continueStatus = DBG_EXCEPTION_NOT_HANDLED;
        } else if (event.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT) {
            write("X " + std::to_string(event.u.ExitProcess.dwExitCode));
            exited = true;
        }
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, continueStatus);
    }
    if (!exited) TerminateProcess(process.hProcess, 1);  // a message box nobody closed, or a hang
    if (!exited || (job && !JobEnded(port, deadline))) write("T");
    std::fclose(out);
    for (HANDLE handle : {job, port, process.hThread, process.hProcess})
        if (handle) CloseHandle(handle);
    return 0;
}
