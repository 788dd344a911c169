// The Win32 surface the launcher uses: five registry functions, the shell's
// ShellExecuteA, MessageBoxA and OutputDebugStringA; the process token's user
// (OpenProcessToken, GetTokenInformation, ConvertSidToStringSidA, LocalFree,
// CloseHandle); and the DLL search settings (GetProcAddress for
// SetDefaultDllDirectories, SetDllDirectoryW, GetSystemDirectoryW,
// LoadLibraryExW). All of them come from KERNEL32, ADVAPI32, SHELL32 and USER32.
//
// On Windows these are the real functions from the Windows headers. On any
// other host they come from the in-memory stand-in (standin_api.h), with the
// same names, signatures and result codes, so that discovery/ and launcher/
// compile unchanged on both.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <sddl.h>
#include <shellapi.h>
#else
#include "standin/standin_api.h"
#endif
