// Scenario files: a machine's uninstall entries and what the launcher must do
// on it, as reviewable text. The same files drive the host stand-in and the
// runs of the real executable under Wine.
//
//   # comment                     blank lines and lines starting with '#' are skipped
//   key HKLM\SOFTWARE\...\Name    a key: HKLM is what a 32-bit program sees (on
//                                 64-bit Windows, the 32-bit view); HKLM64 is the
//                                 64-bit view only; HKU is HKEY_USERS; HKCU is the
//                                 logged-on user's hive, HKU\S-1-5-21-0-0-0-1000
//   value NAME TYPE DATA          a value of the last key. TYPE: sz or expand_sz
//                                 (DATA is the rest of the line, UTF-8, stored as
//                                 GBK), dword (hex, e.g. 0x1), binary (hex bytes,
//                                 e.g. 41 42 00)
//   file PATH                     a program present on the machine
//   expect trace TEXT             the next trace line, in order (may be empty)
//   expect start PATH             the browser started, with the login page
//   expect message                the no-browser message box
//   repeat N ... end              the lines between, N times; "{n}" in them is
//                                 the index from 0, zero-padded to the width of N-1
//   {N*C}                         anywhere in a line: N copies of the character C
//
// The machine behaves as Wine where Wine and Windows differ (Flavour::Wine).
// Every machine starts as a fresh Wine prefix does: HKEY_USERS holds ".Default"
// and the logged-on user's hive, nothing else. Subkeys enumerate sorted, letter
// case ignored, as on Windows and Wine, whatever order the file gives them in;
// values keep the file's order (Wine sorts them, Windows does not: scenarios
// must not depend on it).
#pragma once

#include "platform/standin_machine.h"

#include <optional>
#include <string>
#include <vector>

namespace standin {


struct ScenarioExpectation {
    std::vector<std::string> TraceLines;     // GBK, exactly as traced
    std::optional<std::string> StartedFile;  // GBK
    bool MessageBox = false;
    bool Given() const { return !TraceLines.empty() || StartedFile || MessageBox; }
};

// Fills `machine` from the scenario text and `expected` from its expectations.
// On a malformed line returns false with `error` naming the line.
bool LoadScenario(const std::string& text, StandInMachine& machine, ScenarioExpectation& expected,
                  std::string& error);

// Conversions between the scenario files' UTF-8 and the launcher's GBK; bytes
// that do not convert are kept as they are.
std::string Utf8ToGbk(const std::string& text);
std::string GbkToUtf8(const std::string& text);

}  // namespace standin
