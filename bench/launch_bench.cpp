// The launch sequence over stand-in machines of 100, 1,000 and 10,000
// ordinary uninstall entries (and Chrome last), measuring per entry: time,
// registry calls and heap allocations of the launcher's own code (the
// stand-in's own work is not counted). Run by bench/run.sh.
#include "discovery/uninstall_paths.h"
#include "launcher/launch.h"
#include "standin/standin_machine.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

namespace {

bool counting = false;
std::size_t allocations = 0;

void* Allocate(std::size_t size) {
    if (counting && !standin::InsideStandIn()) ++allocations;
    if (void* block = std::malloc(size ? size : 1)) return block;
    throw std::bad_alloc();
}

// Ordinary programs as real machines have them: a GUID-like subkey and a
// display name, both too long for the small-string buffer, and a location.
void BuildMachine(standin::StandInMachine& machine, int entries) {
    const std::string base = MachineUninstallPath;
    char subkey[64], name[64];
    for (int i = 0; i < entries; ++i) {
        std::snprintf(subkey, sizeof subkey, "{%08X-D564-463C-AFF1-A69D9E530F96}", i);
        std::snprintf(name, sizeof name, "Example Application %05d", i);
        machine.AddString(HKEY_LOCAL_MACHINE, base + subkey, "DisplayIcon", std::string("C:\\Apps\\") + name + ".exe");
        machine.AddString(HKEY_LOCAL_MACHINE, base + subkey, "DisplayName", name);
        machine.AddString(HKEY_LOCAL_MACHINE, base + subkey, "InstallLocation", std::string("C:\\Apps\\") + name);
        machine.AddString(HKEY_LOCAL_MACHINE, base + subkey, "Publisher", "Example Software Ltd.");
    }
    machine.AddString(HKEY_LOCAL_MACHINE, base + "Google Chrome", "DisplayName", "Google Chrome");
    machine.AddString(HKEY_LOCAL_MACHINE, base + "Google Chrome", "InstallLocation",
                      "C:\\Program Files\\Google\\Chrome\\Application");
    machine.AddKey(HKEY_USERS, machine.UserSid);
}

void LaunchSequence(benchmark::State& state) {
    const auto entries = static_cast<int>(state.range(0));
    standin::StandInMachine machine;
    BuildMachine(machine, entries);
    std::size_t runs = 0, allocated = 0, calls = 0;
    for (auto _ : state) {
        state.PauseTiming();
        machine.DebugOutput.clear();
        machine.ShellCalls.clear();
        machine.Calls.clear();  // the log of every call would grow run after run
        const std::size_t allocationsBefore = allocations;
        counting = true;
        state.ResumeTiming();

        benchmark::DoNotOptimize(RunLauncher());

        state.PauseTiming();
        counting = false;
        allocated += allocations - allocationsBefore;
        calls += machine.RegistryCallCount();
        ++runs;
        state.ResumeTiming();
    }
    if (machine.ShellCalls.size() != 1) state.SkipWithError("Chrome was not started");
    const double perEntry = 1.0 / (static_cast<double>(runs) * entries);
    state.counters["entries"] = entries;
    state.counters["time_per_entry"] =
        benchmark::Counter(entries, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["registry_calls_per_entry"] = static_cast<double>(calls) * perEntry;
    state.counters["allocations_per_run"] = static_cast<double>(allocated) / static_cast<double>(runs);
    state.counters["allocations_per_entry"] = static_cast<double>(allocated) * perEntry;
}

BENCHMARK(LaunchSequence)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

}  // namespace

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }

BENCHMARK_MAIN();
