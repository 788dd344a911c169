// Registry exports, as `reg export` and regedit write them, read back into
// the scenario model: what support replays from a member's PC.
#pragma once

#include "machines/scenario.h"

#include <cstddef>
#include <string>
#include <vector>

namespace machines {

// What the exports of one PC hold for the launcher.
struct RegImport {
    // Keys below the machine-wide uninstall key and below the user's own
    // (ScenarioRoot::CurrentUser, from HKEY_CURRENT_USER\... or
    // HKEY_USERS\<SID>\...). A machine key named with WOW6432Node after
    // SOFTWARE is the 32-bit view of a 64-bit Windows (ScenarioRoot::Machine);
    // one named without it is read as that PC's 64-bit view (Machine64), and
    // is the only view, the 32-bit one, when no file names the WOW6432Node
    // form (ReplayedMachine). Text in code page 936, as the "A" functions hand it out.
    Scenario Machine;
    bool NamesWow64View = false;  // some key was named with WOW6432Node
    std::string UserSid;  // from HKEY_USERS\<SID>\...; empty when no file names one
    std::size_t IgnoredKeys = 0;  // keys outside the two uninstall keys
    std::vector<std::string> Notes;  // per file, how its text was read
};

// What Windows allows, in UTF-16 units: key names of 255, value names of
// 16,383, keys 512 levels deep below the root.
inline constexpr std::size_t MaxKeyNameLength = 255, MaxValueNameLength = 16383, MaxKeyDepth = 512;
// The largest export file read: one of the two uninstall keys is a few MB.
inline constexpr std::size_t MaxExportFileSize = 64u << 20;

// Reads one export file into `into`: UTF-16LE or UTF-8 after its byte-order
// mark, GBK (code page 936) without one, each strictly, whatever its header
// ("Windows Registry Editor Version 5.00" or "REGEDIT4"). Every key path and
// value name is checked against what Windows allows. Values: "text" (with \\ and \" escapes), dword:, hex:, hex(N):
// (N in hex), @= for the default value, and lines continued by a trailing
// backslash. Text the ANSI functions convert (REG_SZ, REG_EXPAND_SZ,
// REG_MULTI_SZ) becomes GBK, a character it lacks becoming '?'; other data
// stays byte for byte. On bad input returns false, with `error` as
// "FILE:LINE: what was expected", and leaves `into` as it was.
bool ReadRegExport(const std::string& bytes, const std::string& fileName, RegImport& into, std::string& error);

// The machine that all the files read into `import` describe, each machine
// key in its view.
Scenario ReplayedMachine(const RegImport& import);

}  // namespace machines
