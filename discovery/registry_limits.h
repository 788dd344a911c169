// Fixed buffer sizes for reading the registry through the "A" functions.
#pragma once

#include "platform/win32.h"

// Subkey names, in characters with the NUL: registry key names are at most 255
// characters, so the longest names do not fit and RegEnumKeyExA fails on them.
constexpr DWORD SubkeyNameBufferSize = 255;

// Value names, in characters with the NUL: MAX_PATH. Longer names come back
// truncated with ERROR_MORE_DATA.
constexpr DWORD ValueNameBufferSize = 260;

// Value data, in bytes: room for the display names and install folders of real
// uninstall entries. Longer data gives ERROR_MORE_DATA.
constexpr DWORD ValueDataBufferSize = 1024;
