// trace_collector: runs a program as a debuggee and records, byte for byte,
// every string it passes to OutputDebugStringA, its message box, and its exit
// code; what a debug-output viewer shows, written to a file.
//
//   trace_collector.exe [--require-job] OUTPUT TIMEOUT_SECONDS PROGRAM [ARGUMENTS...]
//
// OUTPUT gets one line per event: "S <hex bytes>" for each debug string of the
// program (the bytes without their NUL); "M <caption hex> <text hex>" for a
// message box of it, which is then answered with OK; "P <image hex> <command
// line hex>" for each process it started, or they started, in the ANSI code
// page ("3f", a '?', where it cannot be read); "X <exit code>" when it ended;
// "T program" when it still ran after TIMEOUT_SECONDS (it is then
// terminated), "T started" when only what it started still ran then.
// The program and everything it starts run in a job object, so the
// collector returns only once they have all ended (closing the job ends
// nothing). Every process the job reports is in OUTPUT: the collector debugs
// them all, so each is seen, stopped at its creation, before it can run. Where
// the program cannot be put in a job (before Windows 8, when the collector
// already is in one), the collector says so on stderr and waits for the
// program alone; with --require-job it stops instead.
// Exits 0 once OUTPUT is written, 2 on bad arguments, 3 if PROGRAM cannot
// start, 4 with --require-job when there can be no job.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <winternl.h>

#include <cstdio>
#include <set>
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

using NtQueryInformationProcessFunction = NTSTATUS(NTAPI*)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);

// The process's image path or command line, from its process parameters, in
// the ANSI code page; "?" where they cannot be read (another bitness).
std::string ProcessText(HANDLE process, bool commandLine) {
    const FARPROC found = GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationProcess");
    const auto query = reinterpret_cast<NtQueryInformationProcessFunction>(reinterpret_cast<void (*)()>(found));
    PROCESS_BASIC_INFORMATION basic = {};
    PEB peb = {};
    RTL_USER_PROCESS_PARAMETERS parameters = {};
    if (query == nullptr || query(process, ProcessBasicInformation, &basic, sizeof basic, nullptr) != 0 ||
        !ReadProcessMemory(process, basic.PebBaseAddress, &peb, sizeof peb, nullptr) ||
        !ReadProcessMemory(process, peb.ProcessParameters, &parameters, sizeof parameters, nullptr))
        return "?";
    const UNICODE_STRING& text = commandLine ? parameters.CommandLine : parameters.ImagePathName;
    std::wstring wide(text.Length / sizeof(WCHAR), L'\0');
    if (wide.empty() || !ReadProcessMemory(process, text.Buffer, &wide[0], text.Length, nullptr)) return "?";
    std::string ansi(wide.size() * 2, '\0');
    const int length = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), &ansi[0],
                                           static_cast<int>(ansi.size()), nullptr, nullptr);
    ansi.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
    return ansi.empty() ? "?" : ansi;
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

// Takes the job's messages that have arrived: the processes it was given
// (`joined`) and whether its last process has ended.
bool JobEmptied(HANDLE port, std::set<DWORD>& joined) {
    DWORD message = 0;
    ULONG_PTR key = 0;
    LPOVERLAPPED detail = nullptr;
    bool empty = false;
    while (GetQueuedCompletionStatus(port, &message, &key, &detail, 0)) {
        if (message == JOB_OBJECT_MSG_NEW_PROCESS) joined.insert(static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(detail)));
        empty = empty || message == JOB_OBJECT_MSG_ACTIVE_PROCESS_ZERO;
    }
    return empty;
}

}  // namespace

int main(int argc, char** argv) {
    const bool requireJob = argc > 1 && std::string(argv[1]) == "--require-job";
    if (requireJob) --argc, ++argv;
    if (argc < 4) {
        std::fprintf(stderr, "usage: trace_collector [--require-job] OUTPUT TIMEOUT_SECONDS PROGRAM [ARGUMENTS...]\n");
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
    // What is still debugged when the collector ends (a real browser on a
    // member's PC) goes on running.
    DebugSetProcessKillOnExit(FALSE);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    // Suspended until it is in the job, so that nothing it starts escapes;
    // everything it starts is debugged too, so that each is seen as it starts.
    if (!CreateProcessA(argv[3], &commandLine[0], nullptr, nullptr, FALSE, DEBUG_PROCESS | CREATE_SUSPENDED,
                        nullptr, nullptr, &startup, &process)) {
        std::fprintf(stderr, "trace_collector: cannot start %s (error %lu)\n", argv[3], GetLastError());
        return 3;
    }
    HANDLE port = CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1);
    HANDLE job = JobAround(process.hProcess, port);
    if (job == nullptr && requireJob) {
        TerminateProcess(process.hProcess, 1);
        std::fclose(out);
        return 4;
    }
    ResumeThread(process.hThread);

    bool answered = false, exited = false, emptied = job == nullptr;
    std::set<DWORD> joined, named;
    for (LONG left; !(exited && emptied) && (left = static_cast<LONG>(deadline - GetTickCount())) > 0;) {
        DEBUG_EVENT event = {};
        // Between debug events, at most 20 ms apart, the message box and the
        // job's messages are looked for; not while events keep coming (a
        // trace of thousands of lines).
        if (!WaitForDebugEvent(&event, left < 20 ? static_cast<DWORD>(left) : 20)) {
            if (job != nullptr && !emptied) emptied = JobEmptied(port, joined);
            const HWND box = answered || exited ? nullptr : MessageBoxOf(process.dwProcessId);
            if (box != nullptr) {
                // Its text is the static control 0xFFFF, on Windows and Wine alike.
                write("M " + Hex(WindowText(box)) + " " + Hex(WindowText(GetDlgItem(box, 0xFFFF))));
                PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
                answered = true;
            }
            continue;
        }
        const bool program = event.dwProcessId == process.dwProcessId;
        DWORD continueStatus = DBG_CONTINUE;
        if (event.dwDebugEventCode == OUTPUT_DEBUG_STRING_EVENT && program) {
            // The length counts the terminating NUL; ANSI strings only.
            std::string text(event.u.DebugString.nDebugStringLength, '\0');
            SIZE_T read = 0;
            if (text.empty() ||
                !ReadProcessMemory(process.hProcess, event.u.DebugString.lpDebugStringData, &text[0], text.size(), &read))
                read = 0;
            text.resize(read);
            if (!text.empty() && text.back() == '\0') text.pop_back();
            write("S " + Hex(text));
        } else if (event.dwDebugEventCode == CREATE_PROCESS_DEBUG_EVENT) {
            if (!program) {
                // Stopped at its creation: its parameters are there, and it has run nothing yet.
                const HANDLE started = event.u.CreateProcessInfo.hProcess;
                write("P " + Hex(ProcessText(started, false)) + " " + Hex(ProcessText(started, true)));
                named.insert(event.dwProcessId);
            }
            if (event.u.CreateProcessInfo.hFile) CloseHandle(event.u.CreateProcessInfo.hFile);
        } else if (event.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT && event.u.LoadDll.hFile) {
            CloseHandle(event.u.LoadDll.hFile);
        } else if (event.dwDebugEventCode == EXCEPTION_DEBUG_EVENT &&
                   event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT) {
            // The loader's initial breakpoint is ours to swallow; anything else
            // goes back to the process as it would without a debugger.
            continueStatus = DBG_EXCEPTION_NOT_HANDLED;
        } else if (event.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT && program) {
            write("X " + std::to_string(event.u.ExitProcess.dwExitCode));
            exited = true;
        }
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, continueStatus);
    }
    if (job != nullptr && !emptied) emptied = JobEmptied(port, joined);
    // A process the job holds that no debug event named: started some other way.
    for (DWORD id : joined)
        if (id != process.dwProcessId && named.count(id) == 0) write("P " + Hex("?") + " " + Hex("?"));
    if (!exited) TerminateProcess(process.hProcess, 1);  // a message box nobody closed, or a hang
    if (!exited) write("T program");
    else if (!emptied) write("T started");
    std::fclose(out);
    for (HANDLE handle : {job, port, process.hThread, process.hProcess})
        if (handle) CloseHandle(handle);
    return 0;
}
