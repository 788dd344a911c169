// Finding the uninstall key of the user who started the launcher.
#pragma once

#include "discovery/uninstall_paths.h"

#include <string>

// The string SID of the process token's user ("S-1-5-21-...-1001",
// "S-1-12-1-..." for a Microsoft Entra ID account, "S-1-5-18" for SYSTEM), the
// name of that user's hive under HKEY_USERS. Empty when the token or its user
// cannot be read. Opens the token with TOKEN_QUERY and closes it, and frees the
// string Windows allocated, on every path; reads no registry.
std::string CurrentUserSid();

// CurrentUserSid() followed by UserUninstallSuffix: the user's own uninstall
// key, relative to HKEY_USERS, whatever other hives are loaded. Empty when the
// SID cannot be read; the caller then scans no per-user key at all. Whether the
// hive is loaded is not checked here: when it is not, opening the key fails.
std::string FindUserUninstallPath();
