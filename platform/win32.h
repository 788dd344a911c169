// The Win32 surface the launcher uses: five registry functions, the shell's
// ShellExecuteA, MessageBoxA and OutputDebugStringA; the process token's user
// (OpenProcessToken, GetTokenInformation, ConvertSidToStringSidA, LocalFree,
// CloseHandle); and the DLL search settings (GetProcAddress for
// SetDefaultDllDirectories, SetDllDirectoryW, GetSystemDirectoryW,
// LoadLibraryExW). All of them come from KERNEL32, ADVAPI32, SHELL32 and USER32.
//
// Host builds compile discovery/ and launcher/ unchanged against a header of
// the same name that their include path puts before this one.
#pragma once

#ifndef _WIN32
#error "platform/win32.h is the Windows headers: a host build must put its own platform/win32.h first"
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <sddl.h>
#include <shellapi.h>
