// The process: its token's user (the per-user scan's SID) and the DLL search
// settings. The stand-in loads nothing; it records what was asked.
#include "standin/call_record.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace standin {

HANDLE StandInMachine::OpenToken() {
    tokens_.push_back(true);
    return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0x1000 + 4 * (tokens_.size() - 1)));
}

bool StandInMachine::IsToken(HANDLE token) const {
    const auto value = reinterpret_cast<std::uintptr_t>(token);
    if (value < 0x1000 || value % 4 != 0) return false;
    const std::size_t index = (value - 0x1000) / 4;
    return index < tokens_.size() && tokens_[index];
}

bool StandInMachine::CloseToken(HANDLE token) {
    if (!IsToken(token)) return false;
    tokens_[(reinterpret_cast<std::uintptr_t>(token) - 0x1000) / 4] = false;
    return true;
}

std::size_t StandInMachine::OpenTokenCount() const { return std::count(tokens_.begin(), tokens_.end(), true); }

char* StandInMachine::LocalAllocString(const std::string& text) {
    localBlocks_.push_back(std::make_unique<char[]>(text.size() + 1));
    std::memcpy(localBlocks_.back().get(), text.c_str(), text.size() + 1);
    return localBlocks_.back().get();
}

bool StandInMachine::LocalFreeBlock(void* block) {
    for (auto& owned : localBlocks_)
        if (owned && owned.get() == block) {
            owned.reset();
            return true;
        }
    return false;
}

std::size_t StandInMachine::LocalAllocCount() const {
    return std::count_if(localBlocks_.begin(), localBlocks_.end(), [](const auto& block) { return block != nullptr; });
}

}  // namespace standin

std::string standin::SidBytes(const std::string& text) {
    if (text.compare(0, 4, "S-1-") != 0) return {};
    std::vector<unsigned long long> parts;
    for (std::size_t start = 4;;) {
        const std::size_t end = std::min(text.find('-', start), text.size());
        const std::string part = text.substr(start, end - start);
        if (part.empty() || part.size() > 15 || part.find_first_not_of("0123456789") != std::string::npos) return {};
        parts.push_back(std::stoull(part));
        if (end == text.size()) break;
        start = end + 1;
    }
    if (parts.size() < 2 || parts.size() > 16 || parts[0] >= (1ull << 48)) return {};
    std::string bytes{char(1), char(parts.size() - 1)};
    for (int shift = 40; shift >= 0; shift -= 8) bytes += char((parts[0] >> shift) & 0xFF);
    for (std::size_t i = 1; i < parts.size(); ++i) {
        if (parts[i] > 0xFFFFFFFFull) return {};
        for (int shift = 0; shift < 32; shift += 8) bytes += char((parts[i] >> shift) & 0xFF);
    }
    return bytes;
}

using standin::CallRecord;

namespace {

const HMODULE Kernel32Module = reinterpret_cast<HMODULE>(static_cast<std::uintptr_t>(0x7B000000));
const HMODULE LoadedModule = reinterpret_cast<HMODULE>(static_cast<std::uintptr_t>(0x7C000000));

// Wide text as the stand-in records it: each character as one byte, as the
// file names and folders it sees are ASCII.
std::string Narrow(LPCWSTR text) {
    std::string narrow;
    for (; text != nullptr && *text != 0; ++text) narrow += static_cast<char>(*text);
    return narrow;
}

BOOL WINAPI StandInSetDefaultDllDirectories(DWORD flags) {
    CallRecord("SetDefaultDllDirectories").Call().Flags = flags;
    return TRUE;
}

// The process is a 32-bit one: under WOW64 exactly when Windows is 64-bit.
BOOL WINAPI StandInIsWow64Process(HANDLE process, BOOL* wow64) {
    CallRecord record("IsWow64Process");
    if (process != GetCurrentProcess() || wow64 == nullptr) return record.Fail(ERROR_INVALID_PARAMETER);
    *wow64 = record.Machine.Is64BitWindows ? TRUE : FALSE;
    return TRUE;
}

}  // namespace

DWORD GetLastError() { return standin::StandInMachine::Active().LastError; }

HANDLE GetCurrentProcess() { return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1)); }

BOOL OpenProcessToken(HANDLE process, DWORD desiredAccess, PHANDLE token) {
    CallRecord record("OpenProcessToken");
    record.Call().Flags = desiredAccess;
    if (process != GetCurrentProcess() || token == nullptr) return record.Fail(ERROR_INVALID_PARAMETER);
    if (record.Machine.TokenFails.OpenProcessToken) return record.Fail(*record.Machine.TokenFails.OpenProcessToken);
    *token = record.Machine.OpenToken();
    return TRUE;
}

BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS informationClass, LPVOID information, DWORD length,
                         LPDWORD returnLength) {
    CallRecord record("GetTokenInformation");
    standin::StandInMachine& machine = record.Machine;
    record.Call().Flags = static_cast<DWORD>(informationClass);
    if (!machine.IsToken(token)) return record.Fail(ERROR_INVALID_HANDLE);
    if (informationClass != TokenUser || returnLength == nullptr) return record.Fail(ERROR_INVALID_PARAMETER);
    if (machine.TokenFails.GetTokenInformation) return record.Fail(*machine.TokenFails.GetTokenInformation);
    const std::string sid = standin::SidBytes(machine.UserSid);
    if (sid.empty()) {
        std::fprintf(stderr, "standin: UserSid \"%s\" is not a SID\n", machine.UserSid.c_str());
        std::abort();
    }
    *returnLength = static_cast<DWORD>(sizeof(TOKEN_USER) + sid.size());
    if (information == nullptr || length < *returnLength) return record.Fail(ERROR_INSUFFICIENT_BUFFER);
    auto* user = static_cast<TOKEN_USER*>(information);
    char* sidCopy = static_cast<char*>(information) + sizeof(TOKEN_USER);
    std::memcpy(sidCopy, sid.data(), sid.size());
    user->User.Sid = sidCopy;
    user->User.Attributes = 0;
    return TRUE;
}

BOOL ConvertSidToStringSidA(PSID sid, LPSTR* text) {
    CallRecord record("ConvertSidToStringSidA");
    if (sid == nullptr || text == nullptr) return record.Fail(ERROR_INVALID_PARAMETER);
    if (record.Machine.TokenFails.ConvertSidToStringSidA)
        return record.Fail(*record.Machine.TokenFails.ConvertSidToStringSidA);
    const auto* bytes = static_cast<const unsigned char*>(sid);
    if (bytes[0] != 1 || bytes[1] > 15) return record.Fail(ERROR_INVALID_SID);
    unsigned long long authority = 0;
    for (int i = 2; i < 8; ++i) authority = (authority << 8) | bytes[i];
    std::string result = "S-1-" + std::to_string(authority);
    for (int i = 0; i < bytes[1]; ++i) {
        const unsigned char* sub = bytes + 8 + 4 * i;
        result += "-" + std::to_string(std::uint32_t(sub[0]) | std::uint32_t(sub[1]) << 8 |
                                       std::uint32_t(sub[2]) << 16 | std::uint32_t(sub[3]) << 24);
    }
    *text = record.Machine.LocalAllocString(result);
    return TRUE;
}

HLOCAL LocalFree(HLOCAL memory) {
    CallRecord record("LocalFree");
    if (memory == nullptr || record.Machine.LocalFreeBlock(memory)) return nullptr;
    record.Fail(ERROR_INVALID_HANDLE);
    return memory;
}

BOOL CloseHandle(HANDLE handle) {
    CallRecord record("CloseHandle");
    return record.Machine.CloseToken(handle) ? TRUE : record.Fail(ERROR_INVALID_HANDLE);
}

HMODULE GetModuleHandleW(LPCWSTR moduleName) {
    const std::string name = Narrow(moduleName);
    CallRecord record("GetModuleHandleW", name);
    if (standin::SameKeyName(name, "kernel32.dll") || standin::SameKeyName(name, "kernel32")) return Kernel32Module;
    record.Fail(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR procName) {
    CallRecord record("GetProcAddress", procName ? procName : "");
    const auto named = [&](const char* name) {
        return module == Kernel32Module && procName != nullptr && std::strcmp(procName, name) == 0;
    };
    if (named("SetDefaultDllDirectories") && record.Machine.HasSetDefaultDllDirectories)
        return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&StandInSetDefaultDllDirectories));
    if (named("IsWow64Process") && record.Machine.HasIsWow64Process)
        return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&StandInIsWow64Process));
    record.Fail(ERROR_PROC_NOT_FOUND);
    return nullptr;
}

BOOL SetDllDirectoryW(LPCWSTR pathName) {
    CallRecord record("SetDllDirectoryW", Narrow(pathName));
    return TRUE;
}

UINT GetSystemDirectoryW(LPWSTR buffer, UINT size) {
    CallRecord record("GetSystemDirectoryW");
    const std::string& folder = record.Machine.SystemDirectory;
    if (buffer == nullptr || size <= folder.size()) return static_cast<UINT>(folder.size() + 1);
    for (std::size_t i = 0; i < folder.size(); ++i) buffer[i] = static_cast<unsigned char>(folder[i]);
    buffer[folder.size()] = 0;
    return static_cast<UINT>(folder.size());
}

HMODULE LoadLibraryExW(LPCWSTR fileName, HANDLE, DWORD flags) {
    CallRecord("LoadLibraryExW", Narrow(fileName)).Call().Flags = flags;
    return LoadedModule;
}
