// The host tool over the in-memory Windows.
//
//   kestlo-standin-run [--check] FILE.scenario
//       Runs the launch sequence once over the machine the scenario describes
//       and prints what happened: the trace, then the browser started or the
//       message shown. With --check, compares that with the scenario's
//       expectations and exits 1 on any difference.
//   kestlo-standin-run --random SEED
//       The same for the random machine of that seed, the machine printed first.
//   kestlo-standin-run --export DIR FILE.scenario...
//   kestlo-standin-run --export DIR --random FIRST COUNT
//       Writes each scenario, or the random machines FIRST .. FIRST+COUNT-1,
//       for the Wine runner (tools/wine_scenarios.py): NAME.own.reg and
//       NAME.other.reg (the two registry views; a file only where the view has
//       keys) and NAME.json (files and expectations). A random machine's
//       expectation is what the stand-in does on it. Also writes launcher.json,
//       the DLLs the launcher preloads.
//   kestlo-standin-run --reg FILE [--reg FILE...] [--json]
//       Replays a PC from its registry exports (reg export, regedit): the
//       machine-wide uninstall key and the user's own. Prints the trace and
//       what was started, or with --json one object: "debug_strings" (each
//       OutputDebugStringA argument as hex), "started" ({"file": hex,
//       "parameters": ...} or null) and "message_box". --wine replays as Wine
//       behaves where it differs from Windows (the Wine tests' own exports).
#include "launcher/constants.h"
#include "launcher/dll_search.h"
#include "launcher/launch.h"
#include "machines/random_machine.h"
#include "machines/reg_import.h"
#include "machines/scenario_export.h"
#include "machines/scenario.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace {

using machines::GbkToUtf8;
using machines::Scenario;

// What one run over the stand-in did, kept after its machine is gone.
struct StandInRun {
    int ExitCode = 0;
    std::vector<std::string> Trace;
    std::vector<std::string> DebugOutput;
    std::vector<standin::ShellExecuteCall> ShellCalls;
    std::vector<bool> FileExists;  // for each shell call
    std::vector<standin::MessageBoxCall> MessageBoxes;
    std::size_t OpenKeys = 0;

    // What an observer of the machine sees: the program started (a shell
    // call on a missing file fails silently) and the message box.
    machines::ScenarioExpectation Observed() const {
        machines::ScenarioExpectation seen{Trace, std::nullopt, MessageBoxes.size() == 1};
        for (std::size_t i = 0; i < ShellCalls.size(); ++i)
            if (FileExists[i]) seen.StartedFile = ShellCalls[i].File;
        return seen;
    }
};

StandInRun RunOnStandIn(const Scenario& scenario, const std::string& userSid = standin::WineUserSid,
                        standin::Flavour flavour = standin::Flavour::Wine) {
    standin::StandInMachine machine;
    machine.UserSid = userSid;
    machines::BuildMachine(scenario, machine);
    machine.Behaviour = flavour;
    StandInRun run;
    run.ExitCode = RunLauncher();
    run.Trace = machine.TraceLines();
    run.DebugOutput = machine.DebugOutput;
    run.ShellCalls = machine.ShellCalls;
    for (const standin::ShellExecuteCall& call : machine.ShellCalls)
        run.FileExists.push_back(machine.HasFile(call.File.value_or("")));
    run.MessageBoxes = machine.MessageBoxes;
    run.OpenKeys = machine.OpenHandleCount();
    return run;
}

int Differs(const char* what, const std::string& expected, const std::string& actual) {
    std::printf("MISMATCH %s\n  expected: \"%s\"\n  actual:   \"%s\"\n", what, GbkToUtf8(expected).c_str(),
                GbkToUtf8(actual).c_str());
    return 1;
}

int Check(const machines::ScenarioExpectation& expected, const StandInRun& run) {
    int failures = 0;
    for (std::size_t i = 0; i < std::max(run.Trace.size(), expected.TraceLines.size()); ++i) {
        const std::string want = i < expected.TraceLines.size() ? expected.TraceLines[i] : "<no line>";
        const std::string got = i < run.Trace.size() ? run.Trace[i] : "<no line>";
        if (want != got) failures += Differs(("trace line " + std::to_string(i + 1)).c_str(), want, got);
    }
    if (run.DebugOutput != standin::TraceCalls(run.Trace))
        failures += Differs("debug-output calls", "each line's text, then a lone \\n", "other calls");
    const machines::ScenarioExpectation seen = run.Observed();
    if (run.ShellCalls.size() > 1)
        failures += Differs("shell calls", "at most 1", std::to_string(run.ShellCalls.size()));
    if (expected.StartedFile != seen.StartedFile)
        failures += Differs("started file", expected.StartedFile.value_or("<none>"), seen.StartedFile.value_or("<none>"));
    // Every argument of the calls the member sees the result of.
    for (const standin::ShellExecuteCall& call : run.ShellCalls) {
        if (call.Parameters != std::string(LoginPageUrl)) failures += Differs("argument", LoginPageUrl, call.Parameters.value_or("<null>"));
        if (call.Verb != std::string("open")) failures += Differs("verb", "open", call.Verb.value_or("<null>"));
        if (call.HasOwner || call.Directory || call.ShowCommand != SW_SHOW)
            failures += Differs("shell call", "no owner, no directory, SW_SHOW", "otherwise");
    }
    if (expected.MessageBox != seen.MessageBox || run.MessageBoxes.size() > 1)
        failures += Differs("message boxes", expected.MessageBox ? "1" : "0", std::to_string(run.MessageBoxes.size()));
    for (const standin::MessageBoxCall& box : run.MessageBoxes) {
        if (box.Caption != NoBrowserCaption || box.Text != NoBrowserMessage) failures += Differs("message", NoBrowserMessage, box.Text);
        if (box.HasOwner || box.Type != (MB_OK | MB_ICONINFORMATION))
            failures += Differs("message box", "no owner, MB_OK | MB_ICONINFORMATION", "otherwise");
    }
    if (run.ExitCode != 0) failures += Differs("exit code", "0", std::to_string(run.ExitCode));
    if (run.OpenKeys != 0) failures += Differs("registry keys left open", "0", std::to_string(run.OpenKeys));
    std::printf("%s\n", failures == 0 ? "OK: as the scenario expects" : "FAILED: differs from the scenario");
    return failures == 0 ? 0 : 1;
}

void PrintMachine(const Scenario& scenario) {
    std::printf("Machine:\n");
    for (const machines::ScenarioKey& key : scenario.Keys) {
        std::printf("  key %s\\%s\n", machines::ScenarioRootNames[static_cast<int>(key.Root)], GbkToUtf8(key.Path).c_str());
        for (const machines::ScenarioValue& value : key.Values) {
            std::string data;
            for (const char c : value.Data) data += c == '\0' ? std::string("\\0") : std::string(1, c);
            std::printf("    value %s (type %u, %zu bytes) %s\n", GbkToUtf8(value.Name).c_str(),
                        static_cast<unsigned>(value.Type), value.Data.size(), GbkToUtf8(data).c_str());
        }
    }
    for (const std::string& file : scenario.Files) std::printf("  file %s\n", GbkToUtf8(file).c_str());
}

// filesKnown: whether the machine's files are known (a scenario's are; a
// member's PC's are not).
void PrintRun(const StandInRun& run, bool filesKnown = true) {
    std::printf("Debugger trace (%zu lines):\n", run.Trace.size());
    for (const std::string& line : run.Trace) std::printf("  | %s\n", GbkToUtf8(line).c_str());
    for (std::size_t i = 0; i < run.ShellCalls.size(); ++i)
        std::printf("Started: \"%s\" %s (%s)\n", GbkToUtf8(run.ShellCalls[i].File.value_or("")).c_str(),
                    run.ShellCalls[i].Parameters.value_or("").c_str(),
                    !filesKnown           ? "whether that file exists on the PC cannot be checked from its exports"
                    : run.FileExists[i] ? "the file exists"
                                        : "the file is missing: the shell call fails silently");
    if (run.ShellCalls.empty() && run.MessageBoxes.empty()) std::printf("Nothing started and no message shown.\n");
    for (const standin::MessageBoxCall& box : run.MessageBoxes)
        std::printf("Message box \"%s\": %s\n", GbkToUtf8(box.Caption).c_str(), GbkToUtf8(box.Text).c_str());
    std::printf("Exit code: %d\n", run.ExitCode);
}

int Usage(const char* program, std::FILE* to = stderr) {
    std::fprintf(to,
                 "usage: %s [--check] FILE.scenario\n"
                 "       %s --random SEED\n"
                 "       %s --export DIR FILE.scenario...\n"
                 "       %s --export DIR --random FIRST COUNT\n"
                 "       %s --reg FILE [--reg FILE...] [--json]\n",
                 program, program, program, program, program);
    return to == stderr ? 2 : 0;
}

bool ReadFile(const std::string& path, std::string& bytes) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    bytes = text.str();
    if (file) return true;
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    return false;
}

bool ReadScenario(const std::string& path, Scenario& scenario) {
    std::string text, error;
    if (!ReadFile(path, text)) return false;
    if (machines::ParseScenario(text, scenario, error)) return true;
    std::fprintf(stderr, "%s: %s\n", path.c_str(), error.c_str());
    return false;
}

// --reg FILE... [--json] [--wine]: every file read whole before anything runs.
int Replay(const std::vector<std::string>& args, const char* program) {
    machines::RegImport import;
    bool json = false, wine = false, files = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string bytes, error;
        if (args[i] == "--json" || args[i] == "--wine") {
            (args[i] == "--json" ? json : wine) = true;
        } else if (args[i] != "--reg" || i + 1 == args.size()) {
            return Usage(program);
        } else if (!ReadFile(args[++i], bytes)) {
            return 2;
        } else if (!machines::ReadRegExport(bytes, args[i], import, error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 2;
        } else {
            files = true;
        }
    }
    if (!files) return Usage(program);
    if (import.IgnoredKeys > 0)
        std::fprintf(stderr, "note: %zu keys outside the two uninstall keys were ignored\n", import.IgnoredKeys);
    const StandInRun run = RunOnStandIn(import.Machine, import.UserSid.empty() ? standin::WineUserSid : import.UserSid,
                                        wine ? standin::Flavour::Wine : standin::Flavour::Windows);
    if (!json) {
        PrintRun(run, false);
        return 0;
    }
    std::string out = "{\"debug_strings\": [";
    for (std::size_t i = 0; i < run.DebugOutput.size(); ++i)
        out += (i > 0 ? ", \"" : "\"") + machines::HexDigits(run.DebugOutput[i]) + "\"";
    out += "],\n \"started\": ";
    if (run.ShellCalls.empty())
        out += "null";
    else
        out += "{\"file\": \"" + machines::HexDigits(run.ShellCalls[0].File.value_or("")) + "\", \"parameters\": " +
               machines::JsonString(GbkToUtf8(run.ShellCalls[0].Parameters.value_or(""))) + "}";
    out += std::string(",\n \"message_box\": ") + (run.MessageBoxes.empty() ? "false" : "true") + "}\n";
    std::fputs(out.c_str(), stdout);
    return 0;
}

bool WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary);
    file << bytes;
    if (file.flush()) return true;
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    return false;
}

bool Export(const Scenario& scenario, const std::string& folder, const std::string& name) {
    const std::string base = folder + "/" + name;
    for (const bool other : {false, true}) {
        const std::string reg = machines::ExportRegFile(scenario, other, standin::WineUserSid);
        const std::string view = other ? ".other.reg" : ".own.reg";
        std::remove((base + view).c_str());
        std::remove((base + ".undo" + view).c_str());
        if (!reg.empty() && !(WriteFile(base + view, reg) &&
                              WriteFile(base + ".undo" + view, machines::ExportUndoFile(scenario, other, standin::WineUserSid))))
            return false;
    }
    return WriteFile(base + ".json", machines::ExportExpectations(scenario));
}

// launcher.json: what the Wine runner needs to know of the launcher itself,
// the DLLs it preloads from the system folder (names without ".dll").
bool ExportLauncherFacts(const std::string& folder) {
    std::string names;
    for (const wchar_t* dll : PreloadedSystemDlls) {
        std::string name;
        for (; *dll != L'\0' && *dll != L'.'; ++dll) name += static_cast<char>(*dll);
        names += (names.empty() ? "\"" : ", \"") + name + "\"";
    }
    return WriteFile(folder + "/launcher.json", "{\"preloaded_system_dlls\": [" + names + "]}\n");
}

std::string NameOf(const std::string& path) {
    std::string name = path.substr(path.find_last_of('/') + 1);
    return name.substr(0, name.rfind('.'));
}

bool ParseNumber(const char* text, std::uint64_t& number) {
    char* end = nullptr;
    number = std::strtoull(text, &end, 10);
    return *text != '\0' && *end == '\0';
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) return Usage(argv[0], stdout);
    if (!args.empty() && args[0] == "--reg") return Replay(args, argv[0]);
    std::uint64_t first = 0, count = 0;
    if (args.size() >= 3 && args[0] == "--export") {
        if (!ExportLauncherFacts(args[1])) return 2;
        if (args[2] == "--random") {
            if (args.size() != 5 || !ParseNumber(argv[4], first) || !ParseNumber(argv[5], count)) return Usage(argv[0]);
            for (std::uint64_t seed = first; seed < first + count; ++seed) {
                Scenario machine = machines::RandomMachine(seed);
                machine.Expected = RunOnStandIn(machine).Observed();
                if (!Export(machine, args[1], "random-" + std::to_string(seed))) return 2;
            }
            return 0;
        }
        for (std::size_t i = 2; i < args.size(); ++i) {
            Scenario scenario;
            if (!ReadScenario(args[i], scenario) || !Export(scenario, args[1], NameOf(args[i]))) return 2;
        }
        return 0;
    }
    if (args.size() == 2 && args[0] == "--random") {
        if (!ParseNumber(argv[2], first)) return Usage(argv[0]);
        const Scenario machine = machines::RandomMachine(first);
        PrintMachine(machine);
        PrintRun(RunOnStandIn(machine));
        return 0;
    }
    const bool check = args.size() == 2 && args[0] == "--check";
    if (args.size() != 1 && !check) return Usage(argv[0]);
    Scenario scenario;
    if (!ReadScenario(args.back(), scenario)) return 2;
    const StandInRun run = RunOnStandIn(scenario);
    PrintRun(run);
    return check ? Check(scenario.Expected, run) : 0;
}
