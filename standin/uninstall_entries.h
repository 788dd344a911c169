// Helpers for tests that set up uninstall entries on the stand-in machine.
#pragma once

#include "discovery/uninstall_paths.h"
#include "standin/standin_machine.h"

#include <optional>
#include <string>

namespace testing_support {

// The user the stand-in's process runs as, and so the hive its per-user scan
// reads under HKEY_USERS.
inline const std::string UserSid = standin::WineUserSid;
inline const std::string UserUninstall = UserSid + UserUninstallSuffix;

// Adds an uninstall entry `subkey` under `base`, with a DisplayName and an
// InstallLocation where given (none: the value is absent).
inline void AddUninstallEntry(standin::StandInMachine& machine, HKEY root, const std::string& base,
                              const std::string& subkey, const std::optional<std::string>& displayName,
                              const std::optional<std::string>& location = std::nullopt) {
    machine.AddKey(root, base + subkey);
    if (displayName) machine.AddString(root, base + subkey, "DisplayName", *displayName);
    if (location) machine.AddString(root, base + subkey, "InstallLocation", *location);
}

// The same, machine-wide.
inline void AddMachineEntry(standin::StandInMachine& machine, const std::string& subkey,
                            const std::optional<std::string>& displayName,
                            const std::optional<std::string>& location = std::nullopt) {
    AddUninstallEntry(machine, HKEY_LOCAL_MACHINE, MachineUninstallPath, subkey, displayName, location);
}

// The same, for the user whose hive is UserSid.
inline void AddUserEntry(standin::StandInMachine& machine, const std::string& subkey,
                         const std::optional<std::string>& displayName,
                         const std::optional<std::string>& location = std::nullopt) {
    AddUninstallEntry(machine, HKEY_USERS, UserUninstall, subkey, displayName, location);
}

}  // namespace testing_support
