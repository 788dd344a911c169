// Scenario files: a machine's uninstall entries and what the launcher must do
// on it, as reviewable text (the format: scenarios/README.md). The same files
// drive the host stand-in and the runs of the real executable under Wine. The
// machine behaves as Wine where Wine and Windows differ (Flavour::Wine), so
// that both runs of a scenario agree.
#pragma once

#include "standin/standin_machine.h"

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
