// The two registry views of HKLM\SOFTWARE on 64-bit Windows.
//
// 64-bit Windows keeps HKLM\SOFTWARE twice: a 32-bit view (stored as
// SOFTWARE\WOW6432Node) and a 64-bit view. Installers write their uninstall
// entry into the view of their own bitness, and some 64-bit installers
// (Firefox's NSIS installer among them) switch to the 64-bit view, so the
// machine-wide uninstall key is read in both. A user's hive has one view.
#pragma once

#include "platform/win32.h"

// RegOpenKeyExA's access mask for each view, for this build. The 32-bit exe
// sees the 32-bit view by default and asks for the 64-bit one; the 64-bit
// test build the other way round. 32-bit Windows ignores both flags.
#ifdef _WIN64
inline constexpr REGSAM ThirtyTwoBitViewAccess = KEY_READ | KEY_WOW64_32KEY;
inline constexpr REGSAM SixtyFourBitViewAccess = KEY_READ;
#else
inline constexpr REGSAM ThirtyTwoBitViewAccess = KEY_READ;
inline constexpr REGSAM SixtyFourBitViewAccess = KEY_READ | KEY_WOW64_64KEY;
#endif

// True on 64-bit Windows, where HKLM\SOFTWARE has a 64-bit view beside the
// 32-bit one. A 64-bit program runs only there. A 32-bit one asks
// IsWow64Process, looked up at run time (XP SP1's kernel32 lacks it): not
// found, failed or FALSE means 32-bit Windows, one view. On ARM64 Windows it
// is TRUE for an x86 process too, which has the same two views.
bool HasSixtyFourBitView();
