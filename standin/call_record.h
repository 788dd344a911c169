// What every stand-in Win32 function does first: record the call on the
// active machine, and mark the time spent inside the stand-in.
#pragma once

#include "standin/standin_machine.h"

#include <string>

namespace standin {

class CallRecord {
public:
    explicit CallRecord(const char* function, const std::string& target = std::string());
    ~CallRecord();
    CallRecord(const CallRecord&) = delete;
    CallRecord& operator=(const CallRecord&) = delete;

    StandInMachine& Machine;
    PlatformCall& Call() { return Machine.Calls[index_]; }
    // Records a registry call's result and returns it.
    LONG Result(LONG result) { return Call().Result = result; }
    // A call on a key handle: the key it names, recorded as the target; false,
    // with ERROR_INVALID_HANDLE recorded, when the handle is not open.
    bool Key(HKEY handle, HKEY& root, std::string& path);
    RegistryView View = RegistryView::ThirtyTwoBit;  // of the handle Key resolved
    // A token or DLL call that fails: sets the last error, returns FALSE.
    BOOL Fail(DWORD error) {
        Machine.LastError = error;
        return FALSE;
    }

private:
    std::size_t index_;
};

// A GBK lead byte: it and the byte after it are one character, whose second
// byte may look like '\' or an ASCII letter.
inline bool IsLeadByte(char c) { return static_cast<unsigned char>(c) >= 0x81 && static_cast<unsigned char>(c) <= 0xFE; }
inline char FoldAscii(char c) { return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c; }

}  // namespace standin
