// A scenario written out for the runs of the real executable under Wine
// (tools/wine_scenarios.py), so that the Wine runner never reads the scenario
// format itself: the registry as .reg files to import, and the files as JSON.
#pragma once

#include "machines/scenario.h"

#include <string>

namespace machines {

// A .reg file (UTF-16LE with its byte-order mark, as regedit writes one) with
// the scenario's keys of one registry view, to import through that view: the
// 32-bit one (HKLM, and HKU and HKCU, which have one view; HKCU under
// HKEY_USERS\<userSid>) or the 64-bit one (HKLM64). Empty when it has no keys. Text values are stored as Windows stores
// them, in UTF-16, so that the "A" functions under code page 936 hand out the
// scenario's GBK bytes; other types are stored byte for byte.
std::string ExportRegFile(const Scenario& scenario, bool sixtyFourBitView, const std::string& userSid);

// {"files": [...], "sixty_four_bit": B, "user_uninstall_key": U}: the
// programs the machine holds, paths in UTF-8; whether it is a 64-bit Windows
// (IsSixtyFourBit); and whether the user's uninstall key exists on it, as
// the caller found (so that its export must succeed). What a
// run is expected to do, the host tool checks itself (--check-wine).
std::string ExportFiles(const Scenario& scenario, bool userUninstallKey);

// A JSON string of UTF-8 text, quoted and escaped.
std::string JsonString(const std::string& utf8);

}  // namespace machines
