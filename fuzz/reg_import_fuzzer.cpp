// libFuzzer target for the support replay: any bytes as a file a member
// mailed. The export reader either refuses it, naming the file (and the line,
// where there is one), and keeps nothing of it, or reads a machine; the
// launcher's run on that machine then ends with 0, closes every key it
// opened, and traces only the file's key names and texts and the canonical
// names they give. Its memory and time are libFuzzer's to bound (-rss_limit_mb,
// -timeout): a file may be as large as the replay's own limit.
#include "discovery/recognition.h"
#include "launcher/launch.h"
#include "machines/reg_import.h"
#include "standin/standin_machine.h"

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

namespace {

void Require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "property violated: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > machines::MaxExportFileSize) return 0;  // refused before it is read
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    machines::RegImport import;
    std::string error;
    if (!machines::ReadRegExport(bytes, "member.reg", import, error)) {
        Require(error.rfind("member.reg:", 0) == 0, "a refusal names the file");
        Require(import.Machine.Keys.empty() && import.Notes.empty(), "a refused file leaves nothing behind");
        return 0;
    }
    const machines::Scenario scenario = machines::ReplayedMachine(import);
    std::set<std::string> texts{""};
    for (const machines::ScenarioKey& key : scenario.Keys) {
        std::vector<std::string> names;
        Require(standin::SplitKeyPath(key.Path, names), "every key read is one the registry can hold");
        texts.insert(names.begin(), names.end());
        for (const machines::ScenarioValue& value : key.Values) texts.insert(value.Data.substr(0, value.Data.find('\0')));
    }
    for (const RecognitionRow& row : BrowserRecognitionTable) texts.insert(std::string(row.CanonicalName));

    standin::StandInMachine machine;
    if (!import.UserSid.empty()) machine.UserSid = import.UserSid;
    machines::BuildMachine(scenario, machine);
    Require(RunLauncher() == 0, "exit code 0");
    Require(machine.OpenHandleCount() == 0, "every key opened is closed");
    for (std::size_t i = 0; i < machine.DebugOutput.size(); i += 2)
        Require(texts.count(machine.DebugOutput[i]) == 1, "the trace holds only the file's names and texts");
    return 0;
}
