// libFuzzer target: turns its input into a stand-in machine (32-bit or 64-bit
// Windows; uninstall entries machine-wide in either registry view, per user
// and directly under HKEY_USERS; names up to
// and past the buffer sizes; data of every type, with and without NULs;
// failures injected into any registry call) and runs the whole launch
// sequence on it, then checks what must hold for any registry:
// - the run restricts DLL loading before anything else;
// - the run ends, returns 0 and closes every key and token it opened;
// - it opens no key outside the machine-wide one and the user's own hive;
// - the catalogue holds only recognised names and no record twice;
// - the trace is the scans' subkey names and display names, each of which is
//   in the registry, followed by two lines per catalogue record;
// - the browser chosen is the first preferred one with a usable location, started
//   as that location followed by its suffix with the login page; otherwise
//   the message box is shown, once; never both.
#include "discovery/catalogue.h"
#include "discovery/recognition.h"
#include "discovery/registry_limits.h"
#include "discovery/registry_views.h"
#include "discovery/uninstall_paths.h"
#include "discovery/uninstall_scan.h"
#include "discovery/user_uninstall_path.h"
#include "launcher/constants.h"
#include "launcher/launch.h"
#include "standin/standin_machine.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <optional>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

namespace {

using standin::InjectedFailure;
using standin::RegistryCall;
using standin::StandInMachine;

void Require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "property violated: %s\n", what);
    std::abort();
}

const std::string UserHive = "S-1-5-21-1085031214-1563985344-725345543-1003";

std::string PickHive(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange(0, 5)) {
    case 0: return ".DEFAULT";
    case 1: return "S-1-5-18";
    case 2: return UserHive;
    case 3: return UserHive + "_Classes";
    case 4: return standin::WineUserSid;
    default: return in.ConsumeRandomLengthString(300);
    }
}

// A key or value name: sometimes exactly at a buffer's edge.
std::string PickName(FuzzedDataProvider& in, const char* const* usual, std::size_t usualCount) {
    switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0: return usual[in.ConsumeIntegralInRange<std::size_t>(0, usualCount - 1)];
    case 1: return std::string(in.PickValueInArray({253, 254, 255, 256, 259, 260, 261}), 'n');
    default: return in.ConsumeRandomLengthString(300);
    }
}

std::string PickData(FuzzedDataProvider& in) {
    static const char* const texts[] = {
        "Google Chrome", "Mozilla Firefox 118.0 (x86 zh-CN)", "Opera Stable", "Internet Explorer", "Safari",
        "360\xB0\xB2\xC8\xAB\xE4\xAF\xC0\xC0\xC6\xF7", "360\xBC\xAB\xCB\xD9\xE4\xAF\xC0\xC0\xC6\xF7",
        "C:\\Program Files\\Browser", "C:\\Apps\\", ""};
    switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0: return std::string(in.PickValueInArray(texts)) + '\0';
    case 1: return std::string(in.PickValueInArray({1023, 1024, 1025, 1500}), 'd') + (in.ConsumeBool() ? "\0" : "");
    default: return in.ConsumeRandomLengthString(1500);
    }
}

// One uninstall entry as the input made it: its key and, once the machine is
// built, its values as the registry holds them (one per name, letter case
// ignored, as on Windows).
struct PlantedEntry {
    HKEY Root;
    standin::RegistryView View;
    std::string Path;
    std::string Subkey;
    std::vector<standin::RegistryValue> Values;
};

// What the input put on the machine: the registry's names and texts (what a
// scan may trace), its entries, and whether any call was made to fail.
struct Traceable {
    std::set<std::string> Lines;
    std::vector<PlantedEntry> Entries;
    bool Injected = false;
};

void Build(FuzzedDataProvider& in, StandInMachine& machine, Traceable& traceable) {
    machine.Behaviour = in.ConsumeBool() ? standin::Flavour::Wine : standin::Flavour::Windows;
    // Who runs the launcher, and whether the token tells.
    switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0: machine.UserSid = UserHive; break;
    case 1: machine.UserSid = "S-1-5-18"; break;
    case 2: machine.UserSid = "S-1-12-1-3570717441-1201541541-2870795942-3512313087"; break;
    default: break;  // Wine's user
    }
    if (in.ConsumeIntegralInRange(0, 7) == 0) {
        auto& fails = machine.TokenFails;
        (in.ConsumeBool() ? fails.OpenProcessToken : in.ConsumeBool() ? fails.GetTokenInformation
                                                                       : fails.ConvertSidToStringSidA) = ERROR_ACCESS_DENIED;
    }
    machine.HasSetDefaultDllDirectories = in.ConsumeBool();
    machine.Is64BitWindows = in.ConsumeBool();
    static const char* const subkeys[] = {"Google Chrome", "Mozilla Firefox", "7-Zip", "360SE", "a"};
    static const char* const valueNames[] = {"DisplayName", "InstallLocation", "displayname", "DisplayIcon"};
    std::vector<std::pair<HKEY, std::string>> keys = {{HKEY_LOCAL_MACHINE, MachineUninstallPath}, {HKEY_USERS, ""}};

    for (int hives = in.ConsumeIntegralInRange(0, 4); hives > 0; --hives) {
        const std::string hive = PickHive(in);
        std::vector<std::string> names;
        if (hive.empty() || !standin::SplitKeyPath(hive, names)) continue;
        machine.AddKey(HKEY_USERS, hive);
        keys.emplace_back(HKEY_USERS, hive);
    }
    for (int entries = in.ConsumeIntegralInRange(0, 24); entries > 0 && in.remaining_bytes() > 0; --entries) {
        std::string base;
        HKEY root = HKEY_LOCAL_MACHINE;
        auto view = standin::RegistryView::ThirtyTwoBit;
        switch (in.ConsumeIntegralInRange(0, 2)) {
        case 0:
            base = MachineUninstallPath;
            if (machine.Is64BitWindows && in.ConsumeBool()) view = standin::RegistryView::SixtyFourBit;
            break;
        case 1: root = HKEY_USERS; base = PickHive(in) + UserUninstallSuffix; break;
        default: root = HKEY_USERS; break;  // directly under HKEY_USERS
        }
        std::string subkey = PickName(in, subkeys, std::size(subkeys));
        std::vector<std::string> names;
        if (!standin::SplitKeyPath(base + subkey, names) || subkey.find('\\') != std::string::npos || subkey.empty())
            continue;
        machine.AddKey(root, base + subkey, view);
        keys.emplace_back(root, base + subkey);
        // Keys that differ only in letter case are one key: their values join.
        if (std::none_of(traceable.Entries.begin(), traceable.Entries.end(), [&](const PlantedEntry& e) {
                return e.Root == root && e.View == view && standin::SameKeyName(e.Path, base + subkey);
            }))
            traceable.Entries.push_back(PlantedEntry{root, view, base + subkey, subkey, {}});
        for (int values = in.ConsumeIntegralInRange(0, 4); values > 0; --values) {
            const std::string name = PickName(in, valueNames, std::size(valueNames));
            const DWORD type = in.ConsumeIntegralInRange<DWORD>(0, 5);
            const std::string data = PickData(in);
            machine.AddValue(root, base + subkey, name, type, data, view);
            // What a display-name line can be: the data up to its first NUL,
            // or empty when it does not fit.
            const std::string text = data.substr(0, data.find('\0'));
            const bool fits = text.size() < ValueDataBufferSize || data.size() == ValueDataBufferSize;
            traceable.Lines.insert(fits ? text : "");
            traceable.Lines.insert("");
        }
    }
    for (int failures = in.ConsumeIntegralInRange(0, 4); failures > 0 && in.remaining_bytes() > 0; --failures) {
        InjectedFailure failure;
        failure.Call = static_cast<RegistryCall>(in.ConsumeIntegralInRange(0, 3));
        const auto& [root, path] = keys[in.ConsumeIntegralInRange<std::size_t>(0, keys.size() - 1)];
        failure.Root = root;
        failure.Path = path;
        if (in.ConsumeBool()) failure.Index = in.ConsumeIntegralInRange<DWORD>(0, 30);
        failure.Result = in.PickValueInArray<LONG>({2, 5, 6, 87, 234, 259, 1018, in.ConsumeIntegral<LONG>()});
        if (failure.Result == 0) failure.Result = 5;
        // A real key has finitely many values: ERROR_MORE_DATA at every index
        // of a value walk cannot happen, and would walk for ever.
        if (failure.Call == RegistryCall::EnumValue && !failure.Index && failure.Result == ERROR_MORE_DATA)
            failure.Result = ERROR_KEY_DELETED;
        if (in.ConsumeBool()) failure.NameBufferHolds = in.ConsumeRandomLengthString(300);
        machine.Inject(failure);
        traceable.Injected = true;
    }
    for (PlantedEntry& entry : traceable.Entries)
        entry.Values = machine.FindKey(entry.Root, entry.Path, entry.View)->Values;
    for (const auto& [root, path] : keys) {
        std::vector<std::string> names;
        standin::SplitKeyPath(path, names);
        // A name holding a NUL (the native API allows it) reads as far as the NUL.
        for (const std::string& name : names) traceable.Lines.insert(name.substr(0, name.find('\0')));
    }
}

// The oracle of the launch decision, from what the input put on the machine,
// not from the catalogue the launcher built.

// The text a reader with the launcher's buffers gets from the entry's value
// `name`: the value of exactly that name, when its data fits 1,024 bytes,
// up to its first NUL.
std::string ReadableText(const PlantedEntry& entry, const char* name) {
    for (const standin::RegistryValue& value : entry.Values)
        if (value.Name == name && value.Data.size() <= ValueDataBufferSize)
            return value.Data.substr(0, value.Data.find('\0'));
    return {};
}

// True when the name ends in the first byte of a two-byte GBK character: a
// name no registry hands out through code page 936, and one that swallows the
// '\' the scan appends to it.
bool EndsMidCharacter(const std::string& name) {
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto byte = static_cast<unsigned char>(name[i]);
        if (byte >= 0x81 && byte <= 0xFE && ++i == name.size()) return true;
    }
    return false;
}

// The entries the scans read, or none when the input is beyond this model:
// a failure injected, a subkey name that does not enumerate and open as
// itself (a NUL in it, too long for the name buffer, cut mid-character), a
// path Wine cannot open.
std::optional<std::vector<const PlantedEntry*>> ScannedEntries(const Traceable& planted,
                                                               const StandInMachine& machine) {
    if (planted.Injected) return std::nullopt;
    const standin::TokenFailures& fails = machine.TokenFails;
    const bool userKnown = !fails.OpenProcessToken && !fails.GetTokenInformation && !fails.ConvertSidToStringSidA;
    const std::string userBase = machine.UserSid + UserUninstallSuffix;
    std::vector<const PlantedEntry*> scanned;
    for (const PlantedEntry& entry : planted.Entries) {
        const std::string base = entry.Path.substr(0, entry.Path.size() - entry.Subkey.size());
        const bool machineWide = entry.Root == HKEY_LOCAL_MACHINE && base == MachineUninstallPath;
        const bool users = entry.Root == HKEY_USERS && userKnown && standin::SameKeyName(base, userBase);
        if (!machineWide && !users) continue;
        if (entry.Subkey.find('\0') != std::string::npos || entry.Subkey.size() >= SubkeyNameBufferSize ||
            EndsMidCharacter(entry.Subkey))
            return std::nullopt;
        if (machine.Behaviour == standin::Flavour::Wine && entry.Path.size() > MAX_PATH) return std::nullopt;
        scanned.push_back(&entry);
    }
    return scanned;
}

// The folders the launcher may start `browser` from: the usable locations of
// the scanned entries whose display name names it.
std::vector<std::string> CandidateLocations(const std::vector<const PlantedEntry*>& scanned,
                                            std::string_view browser) {
    std::vector<std::string> locations;
    for (const PlantedEntry* entry : scanned) {
        const std::string location = ReadableText(*entry, "InstallLocation");
        if (IsUsableInstallLocation(location) &&
            ClassifyBrowserName(ReadableText(*entry, "DisplayName")).CanonicalName == browser)
            locations.push_back(location);
    }
    return locations;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // First pass: the scans alone, for the catalogue and the trace they give.
    BrowserCatalogue catalogue;
    std::vector<std::string> scanTrace;
    Traceable traceable;
    {
        FuzzedDataProvider in(data, size);
        StandInMachine machine;
        Build(in, machine, traceable);
        ScanUninstallKey(HKEY_LOCAL_MACHINE, MachineUninstallPath, catalogue, ThirtyTwoBitViewAccess);
        if (machine.Is64BitWindows)
            ScanUninstallKey(HKEY_LOCAL_MACHINE, MachineUninstallPath, catalogue, SixtyFourBitViewAccess);
        const std::string userPath = FindUserUninstallPath();
        if (!userPath.empty()) ScanUninstallKey(HKEY_USERS, userPath, catalogue);
        // Compared call by call, not line by line: names may hold a "\n".
        scanTrace = machine.DebugOutput;
        Require(machine.OpenHandleCount() == 0, "the scans close every key");
    }
    std::vector<std::string> scanTexts;
    for (std::size_t i = 0; i < scanTrace.size(); i += 2) {
        Require(traceable.Lines.count(scanTrace[i]) == 1, "scan traces only names and texts of the registry");
        scanTexts.push_back(scanTrace[i]);
    }
    Require(scanTrace == standin::TraceCalls(scanTexts), "whole lines, each ending in a lone newline");
    std::set<std::pair<std::string, std::string>> seen;
    for (const BrowserRecord& record : catalogue) {
        bool known = false;
        for (const RecognitionRow& row : BrowserRecognitionTable) known |= row.CanonicalName == record.Name;
        Require(known, "catalogue holds only canonical names");
        Require(seen.insert({record.Name, record.InstallLocation}).second, "no record stored twice");
    }

    // Second pass: the whole launch sequence on the same machine.
    FuzzedDataProvider in(data, size);
    StandInMachine machine;
    Traceable unused;
    Build(in, machine, unused);
    Require(RunLauncher() == 0, "exit code 0");
    Require(machine.OpenHandleCount() == 0, "the launcher closes every key");
    Require(machine.OpenTokenCount() == 0 && machine.LocalAllocCount() == 0, "the token and its SID are released");
    const std::string ownHive = "HKU\\" + machine.UserSid + "\\";
    for (const standin::PlatformCall& open : machine.CallsOf("RegOpenKeyExA"))
        Require(open.Target.rfind("HKLM\\", 0) == 0 || open.Target.rfind(ownHive, 0) == 0,
                "only the machine-wide key and the user's own hive are opened");
    const std::vector<std::string> calls = machine.CallNames();
    const auto restricted = std::find_if(calls.begin(), calls.end(), [](const std::string& name) {
        return name == "SetDefaultDllDirectories" || name == "SetDllDirectoryW";
    });
    Require(restricted != calls.end() && restricted - calls.begin() == 2, "DLL search restricted first");

    std::vector<std::string> catalogueLines;
    for (const BrowserRecord& record : catalogue) {
        catalogueLines.push_back(record.Name);
        catalogueLines.push_back(record.InstallLocation);
    }
    std::vector<std::string> expectedTrace = scanTrace;
    for (const std::string& call : standin::TraceCalls(catalogueLines)) expectedTrace.push_back(call);
    Require(machine.DebugOutput == expectedTrace, "trace is the scans' lines, then the catalogue");

    if (machine.ShellCalls.size() == 1) {
        const standin::ShellExecuteCall& call = machine.ShellCalls[0];
        Require(machine.MessageBoxes.empty(), "no message box once a browser is chosen");
        Require(call.File && call.File->size() < MAX_PATH, "a path too long for the shell is not passed to it");
        Require(call.Parameters == std::string(LoginPageUrl) && call.Verb == std::string("open") &&
                    call.ShowCommand == SW_SHOW && !call.Directory && !call.HasOwner,
                "shell call arguments");
    }
    Require(machine.ShellCalls.size() + machine.MessageBoxes.size() <= 1, "one start or one message at most");

    const auto scanned = ScannedEntries(traceable, machine);
    if (!scanned) {
        // Beyond the model: a start is still a preferred browser's suffix
        // after a text the registry holds.
        for (const standin::ShellExecuteCall& call : machine.ShellCalls) {
            bool known = false;
            for (const LaunchPreference& row : LaunchPreferenceTable) {
                const std::string suffix(row.ExecutableSuffix);
                const std::string& file = *call.File;
                known |= file.size() > suffix.size() && file.compare(file.size() - suffix.size(), suffix.size(), suffix) == 0 &&
                         traceable.Lines.count(file.substr(0, file.size() - suffix.size())) == 1;
            }
            Require(known, "a started path is a registry text plus a preferred browser's suffix");
        }
        return 0;
    }
    for (const LaunchPreference& row : LaunchPreferenceTable) {
        const std::vector<std::string> locations = CandidateLocations(*scanned, row.CanonicalName);
        if (locations.empty()) continue;
        // The first preferred browser installed with a location is the one;
        // which of its entries comes first is the registry's order.
        std::set<std::string> paths;
        bool allTooLong = true;
        for (const std::string& location : locations) {
            paths.insert(location + std::string(row.ExecutableSuffix));
            allTooLong &= (location + std::string(row.ExecutableSuffix)).size() >= MAX_PATH;
        }
        Require(machine.MessageBoxes.empty(), "no message box when a preferred browser is installed");
        if (allTooLong) {
            Require(machine.ShellCalls.empty(), "a path too long for the shell is not passed to it");
        } else if (!machine.ShellCalls.empty()) {
            Require(paths.count(*machine.ShellCalls[0].File) == 1,
                    "started path is a location of the first preferred browser installed, plus its suffix");
        } else {
            bool someTooLong = false;
            for (const std::string& path : paths) someTooLong |= path.size() >= MAX_PATH;
            Require(someTooLong, "the first preferred browser installed is started");
        }
        return 0;
    }
    Require(machine.ShellCalls.empty(), "no shell call without a browser");
    Require(machine.MessageBoxes.size() == 1, "the message box once without a browser");
    return 0;
}
