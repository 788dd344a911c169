// An in-memory Windows machine for host builds: a registry, a set of files,
// the process's user, and a record of every Win32 call made against it.
//
// Exactly one StandInMachine may exist at a time; while it exists the Win32
// stand-in functions (include/platform/win32.h) act on it. Each test makes a
// fresh one, so no state leaks from one test to the next.
#pragma once

#include "platform/win32.h"

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace standin {

struct RegistryValue {
    std::string Name;
    DWORD Type = REG_SZ;
    std::string Data;  // raw bytes, as RegEnumValueA hands them out
};

struct RegistryKey {
    std::string Name;
    std::u16string Order;               // what the registry sorts names by (RegistryOrder)
    std::vector<RegistryValue> Values;  // enumerated in the order they were added, as on Windows
    std::vector<RegistryKey> Subkeys;   // always in the registry's order
};

enum class RegistryCall { OpenKey, QueryInfoKey, EnumKey, EnumValue, CloseKey };

// A 64-bit Windows keeps HKLM\SOFTWARE twice; which of the two a key is in.
// Everywhere else (HKEY_USERS, HKLM outside SOFTWARE, a 32-bit Windows) there
// is one tree, which the stand-in files under ThirtyTwoBit.
enum class RegistryView { ThirtyTwoBit, SixtyFourBit };

// A result forced onto calls that match: the call returns Result instead of
// doing its work. For OpenKey, Path is the key being opened; for the others it
// is the key the handle was opened on. Paths compare like registry paths
// (case-insensitive, trailing backslash ignored).
struct InjectedFailure {
    RegistryCall Call = RegistryCall::OpenKey;
    HKEY Root = nullptr;
    std::string Path;
    std::optional<DWORD> Index;  // enumerations only; none means every index
    LONG Result = ERROR_ACCESS_DENIED;
    // Enumerations only: bytes written to the start of the name buffer before
    // returning (no NUL is added). None leaves the buffer as it was.
    std::optional<std::string> NameBufferHolds;
};

// Whose behaviour the stand-in copies on a path of more than 260 characters:
// Wine's RegOpenKeyExA fails with ERROR_MORE_DATA, Windows' opens it. In all
// else the two flavours act alike; ContractPlatform (probes/registry_contract.h)
// lists where the stand-in, Windows and Wine differ.
enum class Flavour { Windows, Wine };

// The logged-on user of every Wine prefix, and so the stand-in's default user.
inline constexpr char WineUserSid[] = "S-1-5-21-0-0-0-1000";

// One Win32 call made against the machine, in the order made.
struct PlatformCall {
    std::string Function;  // "RegOpenKeyExA", "OutputDebugStringA", "LoadLibraryExW", ...
    // What it acted on: for registry calls the key, as "HKLM\path" or
    // "HKU\path" (the root alone for a root); the text for OutputDebugStringA;
    // the file for ShellExecuteA and LoadLibraryExW; the directory for
    // SetDllDirectoryW; the procedure for GetProcAddress; the caption for
    // MessageBoxA.
    std::string Target;
    DWORD Options = 0;             // RegOpenKeyExA's options
    DWORD Flags = 0;               // RegOpenKeyExA's access mask; the DLL calls' flags
    std::optional<DWORD> Index;    // enumerations
    DWORD NameLength = 0;          // enumerations: the name buffer's length as passed
    DWORD DataLength = 0;          // RegEnumValueA: the data buffer's length as passed
    bool BuffersCleared = false;   // enumerations: every byte of the buffers passed was 0
    LONG Result = 0;               // registry calls: the result returned
};

// Last errors the token calls fail with; none lets the call succeed.
struct TokenFailures {
    std::optional<DWORD> OpenProcessToken, GetTokenInformation, ConvertSidToStringSidA;
};

struct ShellExecuteCall {
    bool HasOwner = false;
    std::optional<std::string> Verb, File, Parameters, Directory;  // none for a null pointer
    INT ShowCommand = 0;
};

struct MessageBoxCall {
    bool HasOwner = false;
    std::string Text, Caption;
    UINT Type = 0;
};

class StandInMachine {
public:
    StandInMachine();
    ~StandInMachine();
    StandInMachine(const StandInMachine&) = delete;
    StandInMachine& operator=(const StandInMachine&) = delete;

    // --- Setting the machine up -------------------------------------------
    // Creates the key and any missing parents, each among its siblings where
    // the registry keeps it; returns it (valid until the next change). A key
    // of the 64-bit view must be below HKLM\SOFTWARE of a 64-bit machine.
    RegistryKey& AddKey(HKEY root, const std::string& path, RegistryView view = RegistryView::ThirtyTwoBit);
    // Sets a value of the key (creating the key) as RegSetValueEx does: a name
    // the key has (ASCII letters in either case) keeps its place and spelling
    // and takes the new type and data; a new one goes after the others.
    void AddValue(HKEY root, const std::string& path, const std::string& name, DWORD type, const std::string& data,
                  RegistryView view = RegistryView::ThirtyTwoBit);
    // A REG_SZ or REG_EXPAND_SZ value: the text and its terminating NUL.
    void AddString(HKEY root, const std::string& path, const std::string& name, const std::string& text,
                   DWORD type = REG_SZ);
    // Removes the key and its subtree; true when it existed.
    bool RemoveKey(HKEY root, const std::string& path);
    void AddFile(const std::string& path);  // ShellExecuteA succeeds on it
    void Inject(const InjectedFailure& failure) { failures_.push_back(failure); }

    Flavour Behaviour = Flavour::Windows;

    // The process: its token's user, what fails, and what its Windows has.
    std::string UserSid = WineUserSid;  // S-1-<authority>-<sub>...; at most 15 subauthorities
    TokenFailures TokenFails;
    bool HasSetDefaultDllDirectories = true;  // false: Vista, XP, or 7 without KB2533623
    // 64-bit Windows: HKLM\SOFTWARE has a 64-bit view beside the 32-bit one,
    // which the program (a 32-bit one, as the shipped exe) sees unless it asks
    // for the other with KEY_WOW64_64KEY; IsWow64Process says TRUE. A 32-bit
    // machine ignores both view flags, as 32-bit Windows does.
    bool Is64BitWindows = false;
    bool HasIsWow64Process = true;  // false: XP SP1 and older
    std::string SystemDirectory = "C:\\windows\\system32";

    // --- What the program did ------------------------------------------------
    std::vector<PlatformCall> Calls;  // every call, in order
    std::vector<std::string> CallNames() const;  // Calls' function names
    std::vector<PlatformCall> CallsOf(const std::string& function) const;
    std::vector<std::string> DebugOutput;  // one string per OutputDebugStringA call
    std::vector<ShellExecuteCall> ShellCalls;
    std::vector<MessageBoxCall> MessageBoxes;
    std::size_t CallCount(RegistryCall call) const;
    std::size_t RegistryCallCount() const;  // all five functions together
    std::size_t OpenHandleCount() const;    // keys opened and not yet closed
    std::size_t OpenTokenCount() const;     // tokens opened and not yet closed
    std::size_t LocalAllocCount() const;    // strings handed out and not yet freed
    // Like the shell: environment references expanded, letter case and
    // doubled backslashes ignored.
    bool HasFile(const std::string& path) const;

    std::vector<std::string> TraceLines() const;  // of DebugOutput

    // --- Used by the stand-in functions --------------------------------------
    static StandInMachine& Active();
    const RegistryKey* FindKey(HKEY root, const std::string& path,
                               RegistryView view = RegistryView::ThirtyTwoBit) const;
    const InjectedFailure* FindFailure(RegistryCall call, HKEY root, const std::string& path,
                                       std::optional<DWORD> index) const;
    HKEY OpenHandle(HKEY root, const std::string& path, RegistryView view);
    bool HandleTarget(HKEY handle, HKEY& root, std::string& path, RegistryView* view = nullptr) const;
    bool CloseKeyHandle(HKEY handle);
    HANDLE OpenToken();
    bool CloseToken(HANDLE token);
    bool IsToken(HANDLE token) const;
    char* LocalAllocString(const std::string& text);
    bool LocalFreeBlock(void* block);
    DWORD LastError = 0;

private:
    struct Handle {
        HKEY Root;
        std::string Path;
        RegistryView View;
        bool Open;
    };
    RegistryKey localMachine_, users_;
    RegistryKey software64_;  // HKLM\SOFTWARE in the 64-bit view
    std::vector<InjectedFailure> failures_;
    std::vector<std::string> files_;
    std::vector<Handle> handles_;  // a handle is 1 + its index here
    std::vector<bool> tokens_;     // open or closed; a token is 0x1000 + 4 * its index
    std::vector<std::unique_ptr<char[]>> localBlocks_;  // null once freed

    // The tree `names` (a path below `root`) start in: the 64-bit view's own
    // for HKLM\SOFTWARE, whose name it then takes off `names`.
    RegistryKey* RootKey(HKEY root, RegistryView view, std::vector<std::string>& names);
};

// Debug output read as trace lines: text up to each "\n". Text after the last
// "\n" (a line never ended) becomes a last line of its own.
std::vector<std::string> TraceLines(const std::vector<std::string>& debugOutput);

// A file name as the shell opens it: the environment references it expands
// ("%SystemDrive%" is "C:" on every stand-in machine, as in a Wine prefix).
std::string ExpandEnvironment(const std::string& path);
// The path the file system resolves: a doubled backslash is one.
std::string WithoutDoubledBackslashes(const std::string& path);

// The OutputDebugStringA calls that write these trace lines: each line is two
// calls, its text and then a lone "\n". The one statement of that rule for
// every check of a trace, here and under Wine (through the exported
// expectations).
std::vector<std::string> TraceCalls(const std::vector<std::string>& lines);

// True while one of the stand-in Win32 functions runs: lets a measurement tell
// the launcher's own work (its heap allocations) from the stand-in's.
bool InsideStandIn();

// The path of a registry call's key, as PlatformCall::Target gives it.
std::string KeyTarget(HKEY root, const std::string& path);

// Registry path helpers shared by the stand-in and its scenario loader.
// Whether two key paths, or two value names, name the same thing: ASCII
// letters compared without case; the two bytes of a GBK character as they are.
bool SameKeyName(const std::string& a, const std::string& b);
// Splits "A\B\C\" into {"A","B","C"}; false for an empty name inside the
// path. The second byte of a GBK character never splits.
bool SplitKeyPath(const std::string& path, std::vector<std::string>& names);
// The binary form of a SID, as Windows keeps it: revision 1, the count of
// subauthorities, a 6-byte big-endian authority, then each subauthority as a
// little-endian DWORD. Empty for text that is not a SID ("S-1-5-21-...-1001",
// 1 to 15 subauthorities), which no machine's UserSid may be.
std::string SidBytes(const std::string& text);
// What the registry orders key names by: their UTF-16 code units (it keeps
// names in UTF-16), ASCII letters in upper case. GBK bytes order otherwise:
// 程 (B3 CC) comes before 微 (CE A2) as bytes, after it as U+7A0B and U+5FAE.
// Bytes that are not GBK sort as units of their own.
std::u16string RegistryOrder(const std::string& name);

}  // namespace standin
