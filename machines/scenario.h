// Scenario files: a machine's uninstall entries and what the launcher must do
// on it, as reviewable text (the format: scenarios/README.md). This loader is
// the only reader of the format: the host stand-in is built from a Scenario,
// and the runs of the real executable under Wine import what
// scenario_export.h writes from one.
#pragma once

#include "standin/standin_machine.h"

#include <optional>
#include <string>
#include <vector>

namespace machines {

struct ScenarioExpectation {
    std::vector<std::string> TraceLines;     // GBK, exactly as traced
    std::optional<std::string> StartedFile;  // GBK
    bool MessageBox = false;
};

// Where a key lives. Machine is HKLM as a 32-bit program sees it: its 32-bit
// view, the only one on 32-bit Windows. Machine64 is the 64-bit view of
// HKLM\SOFTWARE, which only 64-bit Windows has. CurrentUser is the hive of the
// process's user.
enum class ScenarioRoot { Machine, Machine64, Users, CurrentUser };
// How a scenario file writes each ScenarioRoot, in the enumeration's order.
inline constexpr const char* ScenarioRootNames[] = {"HKLM", "HKLM64", "HKU", "HKCU"};

struct ScenarioValue {
    std::string Name;  // GBK
    DWORD Type = REG_SZ;
    std::string Data;  // the bytes RegEnumValueA hands out (GBK text with its NUL for strings)
};

struct ScenarioKey {
    ScenarioRoot Root = ScenarioRoot::Machine;
    std::string Path;  // GBK, below the root; for CurrentUser below the user's hive
    std::vector<ScenarioValue> Values;
};

struct Scenario {
    std::vector<ScenarioKey> Keys;
    std::vector<std::string> Files;  // GBK paths of programs present
    ScenarioExpectation Expected;
};

// A machine with keys in the 64-bit view is a 64-bit Windows; any other runs
// alike on 32-bit and 64-bit Windows.
bool IsSixtyFourBit(const Scenario& scenario);

// Reads the scenario text. On a malformed line returns false with `error`
// naming the line.
bool ParseScenario(const std::string& text, Scenario& scenario, std::string& error);

// Gives `machine` the scenario's keys and files, as a fresh Wine prefix holds
// them: HKEY_USERS has ".Default" and the user's own hive. A scenario with
// 64-bit view keys makes it a 64-bit Windows (Is64BitWindows). The machine behaves
// as Wine where Wine and Windows differ (standin::Flavour::Wine), so that the stand-in
// run and the Wine run of a scenario agree.
void BuildMachine(const Scenario& scenario, standin::StandInMachine& machine);

// Bytes written as pairs of hex digits ("41 42 00"): between pairs one
// `separator` (',' in .reg files, ' ' in scenarios, '\0' for none), with
// spaces around it. False on anything else, a trailing separator included.
bool ParseHexBytes(const std::string& text, char separator, std::string& bytes);

// Conversions between the scenario files' UTF-8 and the launcher's GBK; bytes
// that do not convert are kept as they are.
std::string Utf8ToGbk(const std::string& text);
std::string GbkToUtf8(const std::string& text);
// UTF-16LE, as Windows keeps the registry's names and text.
std::string GbkToUtf16Le(const std::string& text);
std::string Utf8ToUtf16Le(const std::string& text);
// From UTF-16LE as the "A" functions convert it: what code page 936 lacks
// becomes '?'. And to UTF-8, the same way.
std::string Utf16LeToGbk(const std::string& text);
std::string Utf16LeToUtf8(const std::string& text);

}  // namespace machines
