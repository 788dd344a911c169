// Host stand-in for the Win32 functions the launcher calls (see win32.h).
//
// Same names, signatures, constants and result codes as the Windows headers.
// Calls act on the StandInMachine that is alive at the time (standin_machine.h);
// calling one while no machine exists aborts with a message.
#pragma once

#include <cstdint>

using LONG = std::int32_t;  // 32 bits, as on Windows, also on LP64 hosts
using DWORD = std::uint32_t;
using UINT = unsigned int;
using INT = int;
using BYTE = std::uint8_t;
using CHAR = char;
using LPSTR = char*;
using LPCSTR = const char*;
using LPBYTE = BYTE*;
using LPDWORD = DWORD*;
using REGSAM = DWORD;

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

// The predefined roots carry the same (sign-extended) values as on Windows.
inline HKEY const HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(static_cast<std::intptr_t>(LONG(0x80000002)));
inline HKEY const HKEY_USERS = reinterpret_cast<HKEY>(static_cast<std::intptr_t>(LONG(0x80000003)));

constexpr LONG ERROR_SUCCESS = 0;
constexpr LONG ERROR_FILE_NOT_FOUND = 2;
constexpr LONG ERROR_ACCESS_DENIED = 5;
constexpr LONG ERROR_INVALID_HANDLE = 6;
constexpr LONG ERROR_INVALID_PARAMETER = 87;
constexpr LONG ERROR_MORE_DATA = 234;
constexpr LONG ERROR_NO_MORE_ITEMS = 259;
constexpr LONG ERROR_KEY_DELETED = 1018;

constexpr REGSAM KEY_READ = 0x20019;
constexpr DWORD MAX_PATH = 260;

constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;

constexpr INT SW_SHOW = 5;
constexpr UINT MB_OK = 0x00;
constexpr UINT MB_ICONINFORMATION = 0x40;
constexpr int IDOK = 1;

// Registry (advapi32). Paths are relative to the given key; an empty or null
// path opens that key itself, and a trailing backslash is allowed. Key names
// compare case-insensitively (ASCII letters).
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
// fit comes back truncated with ERROR_MORE_DATA; data that does not fit gives
// ERROR_MORE_DATA with the name written and the data buffer holding a
// truncated copy (Windows leaves it undefined). Tests can change both.
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
