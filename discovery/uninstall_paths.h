// Where Windows keeps the uninstall entries the launcher reads: one key for
// the machine and one in each user's hive. The launcher, the random machines,
// the reader of members' registry exports and (through the host tool's
// launcher.json) the Wine runner all take the paths from here.
#pragma once

#include <string_view>

// Below HKEY_LOCAL_MACHINE. A 32-bit program on 64-bit Windows reads it
// through the 32-bit registry view (SOFTWARE\WOW6432Node\...).
inline constexpr char MachineUninstallPath[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

// Appended to a user's hive name below HKEY_USERS; "Software" in this capitalisation.
inline constexpr char UserUninstallSuffix[] = "\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

// The two keys without their outer backslashes, as reg.exe and .reg files name them.
inline constexpr std::string_view MachineUninstallKey{MachineUninstallPath, sizeof MachineUninstallPath - 2};
inline constexpr std::string_view UserUninstallKey{UserUninstallSuffix + 1, sizeof UserUninstallSuffix - 3};
static_assert(MachineUninstallKey.back() != '\\' && UserUninstallKey.back() != '\\');
static_assert(UserUninstallKey.front() != '\\');
