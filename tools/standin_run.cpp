// kestlo-standin-run: the launch sequence over the in-memory Windows, on a
// scenario's machine, a random one or a member's registry exports; and the one
// check of a run against what its machine expects, for the stand-in and for
// the real exe under Wine (tools/wine_scenarios.py). --help lists the modes.
#include "discovery/uninstall_paths.h"
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
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

using machines::GbkToUtf8;
using machines::Scenario;

// Reads the file whole; one over `limit` bytes is refused before it is read.
bool ReadFile(const std::string& path, std::string& bytes, std::uintmax_t limit = UINTMAX_MAX) {
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (!error && size > limit) {
        std::fprintf(stderr, "%s: %ju bytes, more than a registry export of the uninstall keys can be (%ju MiB at most)\n",
                     path.c_str(), size, limit >> 20);
        return false;
    }
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    bytes = text.str();
    if (file) return true;
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    return false;
}

// What an observer of one run saw: on the stand-in, or under Wine from the
// collector's record and the stand-in browser's.
struct Observed {
    std::optional<int> ExitCode;            // none: still running at the deadline
    std::vector<std::string> DebugStrings;  // each OutputDebugStringA argument
    struct Start {
        // The program: on the stand-in as the shell was given it, expanded;
        // under Wine its image path (to both, a doubled backslash is one).
        std::string File;
        std::string CommandLine;  // "<file as the shell was given it, expanded>" <parameters>
        bool Ran = true;          // false for a shell call on a missing file (it fails silently)
    };
    std::vector<Start> Starts;
    std::vector<standin::MessageBoxCall> Boxes;
    std::vector<std::string> Faults;  // what only the stand-in sees: each call's arguments, keys left open

    std::vector<std::string> Trace() const { return standin::TraceLines(DebugStrings); }

    // What happened, in the terms a scenario expects.
    machines::ScenarioExpectation Outcome() const {
        machines::ScenarioExpectation seen{Trace(), std::nullopt, !Boxes.empty()};
        for (const Start& start : Starts)
            if (start.Ran) seen.StartedFile = start.File;
        return seen;
    }
};

Observed RunOnStandIn(const Scenario& scenario, const std::string& userSid = standin::WineUserSid,
                      standin::Flavour flavour = standin::Flavour::Wine) {
    standin::StandInMachine machine;
    machine.UserSid = userSid;
    machines::BuildMachine(scenario, machine);
    machine.Behaviour = flavour;
    Observed run;
    run.ExitCode = RunLauncher();
    run.DebugStrings = machine.DebugOutput;
    for (const standin::ShellExecuteCall& call : machine.ShellCalls) {
        const std::string file = standin::ExpandEnvironment(call.File.value_or(""));
        run.Starts.push_back({file, "\"" + file + "\" " + call.Parameters.value_or(""), machine.HasFile(file)});
        if (call.Verb != std::string("open") || call.HasOwner || call.Directory || call.ShowCommand != SW_SHOW ||
            call.Parameters != std::string(LoginPageUrl))
            run.Faults.push_back("the shell call: not \"open\" of the login page with no owner, no directory and SW_SHOW");
    }
    run.Boxes = machine.MessageBoxes;
    for (const standin::MessageBoxCall& box : run.Boxes)
        if (box.HasOwner || box.Type != (MB_OK | MB_ICONINFORMATION))
            run.Faults.push_back("the message box: not MB_OK | MB_ICONINFORMATION with no owner");
    if (machine.OpenHandleCount() != 0)
        run.Faults.push_back(std::to_string(machine.OpenHandleCount()) + " registry keys left open");
    return run;
}

// The collector's record (tools/windows/trace_collector.cpp): the debug
// strings, the message box, every process the launcher started, the ending.
bool ReadWineRun(const std::string& trace, Observed& run) {
    std::string text;
    if (!ReadFile(trace, text)) return false;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string kind, first, second;
        fields >> kind >> first >> second;
        std::string bytes, more;
        if (kind == "S" && machines::ParseHexBytes(first, '\0', bytes)) run.DebugStrings.push_back(bytes);
        else if (kind == "M" && machines::ParseHexBytes(first, '\0', bytes) && machines::ParseHexBytes(second, '\0', more))
            run.Boxes.push_back({false, more, bytes, 0});
        else if (kind == "P" && machines::ParseHexBytes(first, '\0', bytes) && machines::ParseHexBytes(second, '\0', more))
            run.Starts.push_back({bytes, more, true});
        else if (kind == "X") run.ExitCode = std::atoi(first.c_str());
        else if (kind == "T" && first == "program") run.ExitCode.reset();
        else if (kind == "T" && first == "started") run.Faults.push_back("what the launcher started still ran at the deadline");
        else return std::fprintf(stderr, "%s: unexpected line \"%s\"\n", trace.c_str(), line.c_str()), false;
    }
    return true;
}

int Differs(const std::string& what, const std::string& expected, const std::string& actual) {
    std::printf("MISMATCH %s\n  expected: \"%s\"\n  actual:   \"%s\"\n", what.c_str(), GbkToUtf8(expected).c_str(),
                GbkToUtf8(actual).c_str());
    return 1;
}

// Every difference between what a scenario expects and what was observed,
// printed; the number of them. The one comparison of a run with its
// expectation, for the stand-in, the real exe under Wine and the replays.
int Check(const machines::ScenarioExpectation& expected, const Observed& run, const std::string& what = "") {
    int failures = 0;
    const std::vector<std::string> trace = run.Trace();
    for (std::size_t i = 0; i < std::max(trace.size(), expected.TraceLines.size()); ++i) {
        const std::string want = i < expected.TraceLines.size() ? expected.TraceLines[i] : "<no line>";
        const std::string got = i < trace.size() ? trace[i] : "<no line>";
        if (want != got) failures += Differs(what + "trace line " + std::to_string(i + 1), want, got);
    }
    if (run.DebugStrings != standin::TraceCalls(trace))
        failures += Differs(what + "debug-output calls", "each line's text, then a lone \\n", "other calls");
    if (run.Starts.size() > 1) failures += Differs(what + "shell calls", "at most 1", std::to_string(run.Starts.size()));
    const std::optional<std::string> started = run.Outcome().StartedFile;
    const std::optional<std::string> want =
        expected.StartedFile ? std::optional(standin::ExpandEnvironment(*expected.StartedFile)) : std::nullopt;
    if (want.has_value() != started.has_value() ||
        (want && standin::WithoutDoubledBackslashes(*want) != standin::WithoutDoubledBackslashes(*started)))
        failures += Differs(what + "started file", want.value_or("<none>"), started.value_or("<none>"));
    else if (want && run.Starts[0].CommandLine != "\"" + *want + "\" " + LoginPageUrl)
        failures += Differs(what + "command line", "\"" + *want + "\" " + LoginPageUrl, run.Starts[0].CommandLine);
    if (run.Boxes.size() != (expected.MessageBox ? 1 : 0))
        failures += Differs(what + "message boxes", expected.MessageBox ? "1" : "0", std::to_string(run.Boxes.size()));
    for (const standin::MessageBoxCall& box : run.Boxes)
        if (box.Caption != NoBrowserCaption || box.Text != NoBrowserMessage)
            failures += Differs(what + "message", std::string(NoBrowserCaption) + ": " + NoBrowserMessage,
                                box.Caption + ": " + box.Text);
    if (run.ExitCode != 0)
        failures += Differs(what + "exit code", "0", run.ExitCode ? std::to_string(*run.ExitCode) : "still running");
    for (const std::string& fault : run.Faults) failures += Differs(what + "calls", "as Windows needs them", fault);
    return failures;
}

// The last line of a check, and its exit code.
int Verdict(int failures) {
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
void PrintRun(const Observed& run, bool filesKnown = true) {
    const std::vector<std::string> trace = run.Trace();
    std::printf("Debugger trace (%zu lines):\n", trace.size());
    for (const std::string& line : trace) std::printf("  | %s\n", GbkToUtf8(line).c_str());
    for (const Observed::Start& start : run.Starts)
        std::printf("Started: %s (%s)\n", GbkToUtf8(start.CommandLine).c_str(),
                    !filesKnown ? "whether that file exists on the PC cannot be checked from its exports"
                    : start.Ran ? "started"
                                : "the file is missing: the shell call fails silently");
    if (run.Starts.empty() && run.Boxes.empty()) std::printf("Nothing started and no message shown.\n");
    for (const standin::MessageBoxCall& box : run.Boxes)
        std::printf("Message box \"%s\": %s\n", GbkToUtf8(box.Caption).c_str(), GbkToUtf8(box.Text).c_str());
    std::printf("Exit code: %s\n", run.ExitCode ? std::to_string(*run.ExitCode).c_str() : "none, still running");
}

int Usage(const char* program, std::FILE* to = stderr) {
    const char* modes[][2] = {
        {"[--check] FILE.scenario", "runs the launcher on the scenario's machine and prints the run; --check compares it with the scenario"},
        {"--random SEED", "prints a random machine and the run on it"},
        {"--check-wine TRACE (FILE.scenario | --random SEED) [--reg FILE...]",
         "compares a Wine run and the replay of reg.exe's exports with the machine's expectations"},
        {"--export DIR [FILE.scenario... | --random FIRST COUNT]", "writes launcher.json and machines as .reg files for the Wine runs"},
        {"--reg FILE [--reg FILE...] [--wine]", "replays a member's PC from its registry exports, as kestlo-replay does"},
    };
    const char* lead = "usage:";
    for (const auto& [arguments, purpose] : modes) {
        std::fprintf(to, "%s %s %s\n         %s\n", lead, program, arguments, purpose);
        lead = "      ";
    }
    return to == stderr ? 2 : 0;
}

bool ReadScenario(const std::string& path, Scenario& scenario) {
    std::string text, error;
    if (!ReadFile(path, text)) return false;
    if (machines::ParseScenario(text, scenario, error)) return true;
    std::fprintf(stderr, "%s: %s\n", path.c_str(), error.c_str());
    return false;
}

bool ParseNumber(const std::string& text, std::uint64_t& number) {
    char* end = nullptr;
    number = std::strtoull(text.c_str(), &end, 10);
    return !text.empty() && *end == '\0';
}

// A random machine, expected to do what it does on the stand-in.
Scenario RandomScenario(std::uint64_t seed) {
    Scenario machine = machines::RandomMachine(seed);
    machine.Expected = RunOnStandIn(machine).Outcome();
    return machine;
}

// The files of "--reg FILE" pairs from args[from] to the end; false on anything else.
bool RegOptions(const std::vector<std::string>& args, std::size_t from, std::vector<std::string>& files) {
    for (; from + 1 < args.size() && args[from] == "--reg"; from += 2) files.push_back(args[from + 1]);
    return from == args.size();
}

// Reads registry export files into `import`, each whole before anything runs.
bool ReadRegExports(const std::vector<std::string>& files, machines::RegImport& import) {
    for (const std::string& file : files) {
        std::string bytes, error;
        if (!ReadFile(file, bytes, machines::MaxExportFileSize)) return false;
        if (!machines::ReadRegExport(bytes, file, import, error))
            return std::fprintf(stderr, "%s\n", error.c_str()), false;
    }
    for (const std::string& note : import.Notes) std::fprintf(stderr, "note: %s\n", note.c_str());
    if (import.IgnoredKeys > 0)
        std::fprintf(stderr, "note: %zu keys outside the two uninstall keys were ignored\n", import.IgnoredKeys);
    return true;
}

Observed Replay(const machines::RegImport& import, const std::vector<std::string>& files, bool wine) {
    Scenario machine = machines::ReplayedMachine(import);
    machine.Files = files;
    return RunOnStandIn(machine, import.UserSid.empty() ? standin::WineUserSid : import.UserSid,
                        wine ? standin::Flavour::Wine : standin::Flavour::Windows);
}

// --check-wine TRACE (FILE.scenario | --random SEED) [--reg FILE...]
int CheckWine(const std::vector<std::string>& args, const char* program) {
    std::size_t next = 3;
    std::uint64_t seed = 0;
    Scenario scenario;
    Observed run;
    if (args.size() < 3 || (args[2] == "--random" && !(args.size() > 3 && ParseNumber(args[next++], seed))))
        return Usage(program);
    if (args[2] == "--random") scenario = RandomScenario(seed);
    else if (!ReadScenario(args[2], scenario)) return 2;
    std::vector<std::string> exports;
    if (!RegOptions(args, next, exports)) return Usage(program);
    if (!ReadWineRun(args[1], run)) return 2;
    PrintRun(run);
    int failures = Check(scenario.Expected, run);
    std::string replayed;
    for (const std::string& file : exports) replayed += " " + file.substr(file.find_last_of('/') + 1);
    std::printf("Replayed exports:%s\n", replayed.empty() ? " none" : replayed.c_str());
    if (!exports.empty()) {
        machines::RegImport import;
        if (!ReadRegExports(exports, import)) return 2;
        failures += Check(scenario.Expected, Replay(import, scenario.Files, true), "the replay of the exports: ");
    }
    return Verdict(failures);
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
    for (const bool view64 : {false, true}) {
        const std::string reg = machines::ExportRegFile(scenario, view64, standin::WineUserSid);
        const std::string path = base + (view64 ? ".view64.reg" : ".view32.reg");
        if (reg.empty()) std::remove(path.c_str());
        else if (!WriteFile(path, reg)) return false;
    }
    standin::StandInMachine machine;
    machines::BuildMachine(scenario, machine);
    const bool userKey = machine.FindKey(HKEY_USERS, machine.UserSid + "\\" + std::string(UserUninstallKey)) != nullptr;
    return WriteFile(base + ".json", machines::ExportFiles(scenario, userKey));
}

// launcher.json: what the Wine runner needs to know of the launcher itself,
// the DLLs it preloads from the system folder (names without ".dll") and the
// uninstall keys it reads, as reg.exe names them (the machine's 32-bit view
// also by its name in the 64-bit view).
bool ExportLauncherFacts(const std::string& folder) {
    std::string names;
    for (const wchar_t* dll : PreloadedSystemDlls) {
        std::string name;
        for (; *dll != L'\0' && *dll != L'.'; ++dll) name += static_cast<char>(*dll);
        names += (names.empty() ? "\"" : ", \"") + name + "\"";
    }
    return WriteFile(folder + "/launcher.json",
                     "{\"preloaded_system_dlls\": [" + names + "], \"uninstall_keys\": {\"machine\": " +
                         machines::JsonString("HKLM\\" + std::string(MachineUninstallKey)) +
                         ", \"machine_wow64\": " + machines::JsonString("HKLM\\" + std::string(MachineUninstallKeyWow64)) +
                         ", \"user\": " + machines::JsonString("HKCU\\" + std::string(UserUninstallKey)) + "}}\n");
}

std::string NameOf(const std::string& path) {
    std::string name = path.substr(path.find_last_of('/') + 1);
    return name.substr(0, name.rfind('.'));
}



// kestlo-replay FILE.reg...: what the launcher does on a member's PC, from the
// registry exports the member sent (README, Support), in any order.
int ReplayMain(const std::vector<std::string>& files, const char* program) {
    if (files.empty() || files[0] == "--help" || files[0] == "-h") {
        std::fprintf(files.empty() ? stderr : stdout,
                     "usage: %s FILE.reg...\n       replays the launcher on a member's PC from its registry exports\n",
                     program);
        return files.empty() ? 2 : 0;
    }
    machines::RegImport import;
    if (!ReadRegExports(files, import)) return 2;
    PrintRun(Replay(import, {}, false), false);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    // The same program under the support desk's name (a link the build makes).
    if (std::string(argv[0]).substr(std::string(argv[0]).find_last_of('/') + 1) == "kestlo-replay")
        return ReplayMain(args, argv[0]);
    const std::string mode = args.empty() ? "" : args[0];
    if (args.size() == 1 && (mode == "--help" || mode == "-h")) return Usage(argv[0], stdout);
    if (mode == "--check-wine") return CheckWine(args, argv[0]);
    if (mode == "--reg") {
        const bool wine = args.back() == "--wine";
        std::vector<std::string> files;
        machines::RegImport import;
        if (!RegOptions({args.begin(), args.end() - (wine ? 1 : 0)}, 0, files) || files.empty()) return Usage(argv[0]);
        if (!ReadRegExports(files, import)) return 2;
        PrintRun(Replay(import, {}, wine), false);
        return 0;
    }
    std::uint64_t first = 0, count = 0;
    if (args.size() >= 2 && mode == "--export") {
        if (!ExportLauncherFacts(args[1])) return 2;
        if (args.size() > 2 && args[2] == "--random") {
            if (args.size() != 5 || !ParseNumber(args[3], first) || !ParseNumber(args[4], count)) return Usage(argv[0]);
            for (std::uint64_t seed = first; seed < first + count; ++seed)
                if (!Export(RandomScenario(seed), args[1], "random-" + std::to_string(seed))) return 2;
            return 0;
        }
        for (std::size_t i = 2; i < args.size(); ++i) {
            Scenario scenario;
            if (!ReadScenario(args[i], scenario) || !Export(scenario, args[1], NameOf(args[i]))) return 2;
        }
        return 0;
    }
    if (args.size() == 2 && mode == "--random") {
        if (!ParseNumber(args[1], first)) return Usage(argv[0]);
        const Scenario machine = machines::RandomMachine(first);
        PrintMachine(machine);
        PrintRun(RunOnStandIn(machine));
        return 0;
    }
    const bool check = args.size() == 2 && mode == "--check";
    if (args.size() != 1 && !check) return Usage(argv[0]);
    Scenario scenario;
    if (!ReadScenario(args.back(), scenario)) return 2;
    const Observed run = RunOnStandIn(scenario);
    PrintRun(run);
    return check ? Verdict(Check(scenario.Expected, run)) : 0;
}
