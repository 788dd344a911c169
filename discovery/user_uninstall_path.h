// Finding the uninstall key of the first user whose hive is loaded.
#pragma once

#include <string>

// Appended to the user's hive name; "Software" in this capitalisation.
inline constexpr char UserUninstallSuffix[] = "\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

// An ordinary user account's SID starts with this; service accounts
// (S-1-5-18, -19, -20) and the default profile do not.
inline constexpr char UserSidMarker[] = "S-1-5-21-";
// A user's classes hive is loaded beside the user's own hive, as SID + this.
inline constexpr char ClassesHiveMarker[] = "_Classes";

// The first subkey of HKEY_USERS (in enumeration order) whose name holds
// UserSidMarker and not ClassesHiveMarker (case-sensitive), followed by
// UserUninstallSuffix; a path relative to HKEY_USERS. An empty string when
// HKEY_USERS cannot be opened or counted, when an enumeration fails (the search
// stops there) or when no subkey qualifies.
std::string FindUserUninstallPath();
