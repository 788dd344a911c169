// Reading the two values of an uninstall entry that discovery needs.
//
// Each reader opens the entry itself, from `root` by `entryPath` (a path that
// ends in a backslash) with `access` (KEY_READ and the registry view's flag), finds its value by enumerating the entry's values with
// fixed buffers (registry_limits.h), and closes it again. Value names match
// exactly, case-sensitively; the value's type is not examined, so REG_SZ and
// REG_EXPAND_SZ (unexpanded) come back as stored and other types as their
// bytes up to the first zero byte. A value whose data does not fit in 1024
// bytes is passed over as if absent: Windows then leaves the name buffer as
// it was, so the name does not match (no DisplayName line is traced for it).
#pragma once

#include "platform/win32.h"

#include <optional>
#include <string>

// The text of the entry's InstallLocation value, unchanged; an empty string
// when the entry cannot be opened, has no such value or it cannot be read.
std::string ReadInstallLocation(HKEY root, const std::string& entryPath, REGSAM access = KEY_READ);

// Traces the entry's DisplayName (one line, also for an empty name) and returns
// its canonical browser name. Returns an empty string when the display name is
// not a known browser; when the entry has no DisplayName or cannot be opened,
// nothing is traced either.
std::string ReadDisplayName(HKEY root, const std::string& entryPath, REGSAM access = KEY_READ);

// The shared value walk: the text of the first value named exactly
// `valueName`, or none when the entry cannot be opened or has no such value.
std::optional<std::string> FindValueText(HKEY root, const std::string& entryPath, const char* valueName,
                                         REGSAM access = KEY_READ);
