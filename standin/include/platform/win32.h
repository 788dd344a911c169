// The host's platform/win32.h: the Win32 functions the launcher calls, found
// before the product's own header by every host target's include path. Same
// names, signatures, constants and result codes as the Windows headers.
// Calls act on the StandInMachine that is alive at the time (standin_machine.h);
// calling one while no machine exists aborts with a message.
#pragma once

#include <cstdint>

using LONG = std::int32_t;  // 32 bits, as on Windows, also on LP64 hosts
using DWORD = std::uint32_t;
using UINT = unsigned int;
using INT = int;
using BYTE = std::uint8_t;
using LPSTR = char*;
using LPCSTR = const char*;
using LPBYTE = BYTE*;
using LPDWORD = DWORD*;
using REGSAM = DWORD;
using BOOL = int;
using HANDLE = void*;
using PHANDLE = HANDLE*;
using HLOCAL = void*;
using LPVOID = void*;
using PSID = void*;
using WCHAR = wchar_t;  // 16 bits on Windows; the stand-in only copies and compares them
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;

struct HKEY__;
using HKEY = HKEY__*;
using PHKEY = HKEY*;
struct HWND__;
using HWND = HWND__*;
struct HINSTANCE__;
using HINSTANCE = HINSTANCE__*;
struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};
using PFILETIME = FILETIME*;
using HMODULE = HINSTANCE;
using FARPROC = std::intptr_t (*)();
#define WINAPI  // the host has one calling convention

constexpr BOOL FALSE = 0;
constexpr BOOL TRUE = 1;

struct SID_AND_ATTRIBUTES {
    PSID Sid;
    DWORD Attributes;
};
struct TOKEN_USER {
    SID_AND_ATTRIBUTES User;
};
enum TOKEN_INFORMATION_CLASS { TokenUser = 1 };
constexpr DWORD TOKEN_QUERY = 0x0008;
constexpr DWORD SECURITY_MAX_SID_SIZE = 68;

constexpr DWORD LOAD_WITH_ALTERED_SEARCH_PATH = 0x00000008;
constexpr DWORD LOAD_LIBRARY_SEARCH_SYSTEM32 = 0x00000800;

// The predefined roots carry the same (sign-extended) values as on Windows.
inline HKEY const HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(static_cast<std::intptr_t>(LONG(0x80000002)));
inline HKEY const HKEY_USERS = reinterpret_cast<HKEY>(static_cast<std::intptr_t>(LONG(0x80000003)));

constexpr LONG ERROR_SUCCESS = 0;
constexpr LONG ERROR_FILE_NOT_FOUND = 2;
constexpr LONG ERROR_ACCESS_DENIED = 5;
constexpr LONG ERROR_INVALID_HANDLE = 6;
constexpr LONG ERROR_INVALID_PARAMETER = 87;
constexpr LONG ERROR_INSUFFICIENT_BUFFER = 122;
constexpr LONG ERROR_MOD_NOT_FOUND = 126;
constexpr LONG ERROR_PROC_NOT_FOUND = 127;
constexpr LONG ERROR_MORE_DATA = 234;
constexpr LONG ERROR_NO_MORE_ITEMS = 259;
constexpr LONG ERROR_KEY_DELETED = 1018;
constexpr LONG ERROR_INVALID_SID = 1337;

constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;
constexpr REGSAM KEY_WOW64_64KEY = 0x0100;
constexpr REGSAM KEY_WOW64_32KEY = 0x0200;
constexpr DWORD MAX_PATH = 260;

constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_MULTI_SZ = 7;

constexpr INT SW_SHOW = 5;
constexpr UINT MB_OK = 0x00;
constexpr UINT MB_ICONINFORMATION = 0x40;
constexpr int IDOK = 1;

// Registry (advapi32). Paths are relative to the given key; an empty or null
// path opens that key itself, and a trailing backslash is allowed. Key names
// compare case-insensitively (ASCII letters). On a 64-bit machine
// KEY_WOW64_64KEY opens HKLM\SOFTWARE's 64-bit view; both flags at once are refused.
LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM desired, PHKEY result);
// Only the subkey count is filled; every other output must be null here.
LONG RegQueryInfoKeyA(HKEY key, LPSTR keyClass, LPDWORD keyClassLength, LPDWORD reserved, LPDWORD subKeys,
                      LPDWORD maxSubKeyLength, LPDWORD maxClassLength, LPDWORD values, LPDWORD maxValueNameLength,
                      LPDWORD maxValueLength, LPDWORD securityDescriptorLength, PFILETIME lastWriteTime);
// *nameLength is the buffer's size in characters, NUL included. A name that
// does not fit gives ERROR_MORE_DATA and leaves the buffer untouched.
LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameLength, LPDWORD reserved, LPSTR keyClass,
                   LPDWORD keyClassLength, PFILETIME lastWriteTime);
// Data is returned as stored (REG_EXPAND_SZ unexpanded). A name that does not
// fit comes back truncated with ERROR_MORE_DATA. Data that does not fit gives
// ERROR_MORE_DATA with the size needed and the type, and leaves the name, its
// length and the data buffer untouched, as on Windows and Wine.
LONG RegEnumValueA(HKEY key, DWORD index, LPSTR valueName, LPDWORD valueNameLength, LPDWORD reserved, LPDWORD type,
                   LPBYTE data, LPDWORD dataLength);
LONG RegCloseKey(HKEY key);

// Shell (shell32): records the call; the result is above 32 when the file is
// one the machine has, and 2 (file not found) otherwise.
HINSTANCE ShellExecuteA(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters, LPCSTR directory, INT showCommand);

// User interface (user32): records the call and returns IDOK, as if the user
// had pressed OK at once.
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

// Debugger trace (kernel32): records each call's text as one string.
void OutputDebugStringA(LPCSTR text);

// The process's token (advapi32, kernel32). The token's user is the machine's
// UserSid; each call can be made to fail with a chosen last error. Token
// handles and the strings ConvertSidToStringSidA allocates are counted, so a
// leak shows.
DWORD GetLastError();
HANDLE GetCurrentProcess();  // the pseudo-handle, (HANDLE)-1, as on Windows
BOOL OpenProcessToken(HANDLE process, DWORD desiredAccess, PHANDLE token);
// TokenUser only: a TOKEN_USER whose Sid points to the binary SID written
// right after it in the same buffer. ERROR_INSUFFICIENT_BUFFER (and the size
// needed) when the buffer is too small.
BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS informationClass, LPVOID information,
                         DWORD length, LPDWORD returnLength);
// "S-1-5-21-...": a LocalAlloc'd string the caller frees with LocalFree.
BOOL ConvertSidToStringSidA(PSID sid, LPSTR* text);
HLOCAL LocalFree(HLOCAL memory);  // null on success, the block on failure
BOOL CloseHandle(HANDLE handle);

// DLL loading (kernel32). The stand-in loads nothing: it records the calls.
// GetProcAddress(kernel32, "SetDefaultDllDirectories") is null when the
// machine is an older Windows without it (HasSetDefaultDllDirectories), and
// so is "IsWow64Process" (HasIsWow64Process), which tells Is64BitWindows.
HMODULE GetModuleHandleW(LPCWSTR moduleName);
FARPROC GetProcAddress(HMODULE module, LPCSTR procName);
BOOL SetDllDirectoryW(LPCWSTR pathName);
// Copies the machine's SystemDirectory; returns its length, or the size needed
// (NUL included) when the buffer is too small.
UINT GetSystemDirectoryW(LPWSTR buffer, UINT size);
HMODULE LoadLibraryExW(LPCWSTR fileName, HANDLE file, DWORD flags);
