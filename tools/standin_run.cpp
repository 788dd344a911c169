// Runs the launch sequence once over the in-memory Windows, set up from a
// scenario file, and prints what happened: the trace, then the browser started
// or the message shown. With --check, compares that with the scenario's
// expectations and exits 1 on any difference.
//
//   kestlo-standin-run [--check] FILE.scenario
#include "launcher/constants.h"
#include "launcher/launch.h"
#include "standin/standin_scenario.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace {

using standin::GbkToUtf8;

int Differs(const char* what, const std::string& expected, const std::string& actual) {
    std::printf("MISMATCH %s\n  expected: \"%s\"\n  actual:   \"%s\"\n", what, GbkToUtf8(expected).c_str(),
                GbkToUtf8(actual).c_str());
    return 1;
}

int Check(const standin::ScenarioExpectation& expected, const standin::StandInMachine& machine, int exitCode) {
    int failures = 0;
    const std::vector<std::string> trace = machine.TraceLines();
    for (std::size_t i = 0; i < std::max(trace.size(), expected.TraceLines.size()); ++i) {
        const std::string want = i < expected.TraceLines.size() ? expected.TraceLines[i] : "<no line>";
        const std::string got = i < trace.size() ? trace[i] : "<no line>";
        if (want != got) failures += Differs(("trace line " + std::to_string(i + 1)).c_str(), want, got);
    }
    // Every line is two calls, the text and a lone "\n".
    for (std::size_t i = 1; i < machine.DebugOutput.size(); i += 2)
        if (machine.DebugOutput[i] != "\n") failures += Differs("line end", "\n", machine.DebugOutput[i]);
    // A start is a shell call on a file the machine has; a call on a missing
    // file fails silently, as on Windows, and must not be followed by another.
    std::vector<const standin::ShellExecuteCall*> started;
    for (const standin::ShellExecuteCall& call : machine.ShellCalls)
        if (machine.HasFile(call.File.value_or(""))) started.push_back(&call);
    if (machine.ShellCalls.size() > 1)
        failures += Differs("shell calls", "at most 1", std::to_string(machine.ShellCalls.size()));
    if (expected.StartedFile) {
        if (started.size() != 1) {
            failures += Differs("started programs", "1", std::to_string(started.size()));
        } else {
            const standin::ShellExecuteCall& call = *started[0];
            if (call.File != expected.StartedFile) failures += Differs("started file", *expected.StartedFile, call.File.value_or("<null>"));
            if (call.Parameters != std::string(LoginPageUrl)) failures += Differs("argument", LoginPageUrl, call.Parameters.value_or("<null>"));
            if (call.Verb != std::string("open")) failures += Differs("verb", "open", call.Verb.value_or("<null>"));
        }
    } else if (!started.empty()) {
        failures += Differs("started programs", "0", std::to_string(started.size()));
    }
    if (expected.MessageBox != (machine.MessageBoxes.size() == 1))
        failures += Differs("message boxes", expected.MessageBox ? "1" : "0", std::to_string(machine.MessageBoxes.size()));
    if (exitCode != 0) failures += Differs("exit code", "0", std::to_string(exitCode));
    if (machine.OpenHandleCount() != 0) failures += Differs("registry keys left open", "0", std::to_string(machine.OpenHandleCount()));
    std::printf("%s\n", failures == 0 ? "OK: as the scenario expects" : "FAILED: differs from the scenario");
    return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const bool check = argc == 3 && std::strcmp(argv[1], "--check") == 0;
    if (argc != 2 && !check) {
        std::fprintf(stderr, "usage: %s [--check] FILE.scenario\n", argv[0]);
        return 2;
    }
    const char* path = argv[argc - 1];
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "%s: cannot read %s\n", argv[0], path);
        return 2;
    }
    std::ostringstream text;
    text << file.rdbuf();

    standin::StandInMachine machine;
    standin::ScenarioExpectation expected;
    std::string error;
    if (!standin::LoadScenario(text.str(), machine, expected, error)) {
        std::fprintf(stderr, "%s: %s\n", path, error.c_str());
        return 2;
    }
    const int exitCode = RunLauncher();

    std::printf("Debugger trace (%zu lines):\n", machine.TraceLines().size());
    for (const std::string& line : machine.TraceLines()) std::printf("  | %s\n", GbkToUtf8(line).c_str());
    for (const standin::ShellExecuteCall& call : machine.ShellCalls)
        std::printf("Started: \"%s\" %s (the file %s)\n", GbkToUtf8(call.File.value_or("")).c_str(),
                    call.Parameters.value_or("").c_str(),
                    machine.HasFile(call.File.value_or("")) ? "exists" : "is missing: the shell call fails silently");
    for (const standin::MessageBoxCall& box : machine.MessageBoxes)
        std::printf("Message box \"%s\": %s\n", GbkToUtf8(box.Caption).c_str(), GbkToUtf8(box.Text).c_str());
    std::printf("Exit code: %d\n", exitCode);
    return check ? Check(expected, machine, exitCode) : 0;
}
