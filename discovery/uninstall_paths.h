// Where Windows keeps the uninstall entries the launcher reads: one key for
// the machine and one in each user's hive. The launcher, the random machines,
// the reader of members' registry exports and (through the host tool's
// launcher.json) the Wine runner all take the paths from here.
#pragma once

#include <string_view>

// Below HKEY_LOCAL_MACHINE, read in both registry views on 64-bit Windows
// (registry_views.h).
inline constexpr char MachineUninstallPath[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

// Appended to a user's hive name below HKEY_USERS; "Software" in this capitalisation.
inline constexpr char UserUninstallSuffix[] = "\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

// The two keys without their outer backslashes, as reg.exe and .reg files name them.
inline constexpr std::string_view MachineUninstallKey{MachineUninstallPath, sizeof MachineUninstallPath - 2};
inline constexpr std::string_view UserUninstallKey{UserUninstallSuffix + 1, sizeof UserUninstallSuffix - 3};
static_assert(MachineUninstallKey.back() != '\\' && UserUninstallKey.back() != '\\');
static_assert(UserUninstallKey.front() != '\\');

// The machine key's 32-bit view as 64-bit Windows stores it, and as the 64-bit
// view, regedit's exports and the Wine runner's reset name it: WOW6432Node
// after SOFTWARE.
inline constexpr std::string_view MachineUninstallKeyWow64 = "SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
static_assert(MachineUninstallKeyWow64.substr(0, 9) == MachineUninstallKey.substr(0, 9) &&
              MachineUninstallKeyWow64.substr(9, 12) == "WOW6432Node\\" &&
              MachineUninstallKeyWow64.substr(21) == MachineUninstallKey.substr(9));
