#include "machines/random_machine.h"

#include "discovery/recognition.h"
#include "discovery/uninstall_paths.h"
#include "launcher/constants.h"

#include <string>
#include <vector>

namespace machines {
namespace {

// splitmix64: fixed arithmetic, so that a seed means the same machine
// everywhere (the standard library's distributions do not promise that).
struct Random {
    std::uint64_t State;
    std::uint64_t Next() {
        std::uint64_t z = (State += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    std::size_t Below(std::size_t count) { return static_cast<std::size_t>(Next() % count); }
    bool Chance(int percent) { return Below(100) < static_cast<std::size_t>(percent); }
    template <typename T, std::size_t N>
    const T& Pick(const T (&items)[N]) { return items[Below(N)]; }
};

// Ordinary programs and GBK text: 腾讯QQ, 微信, 搜狗输入法, 程序, 浏览器.
const char* const OrdinaryNames[] = {
    "7-Zip 19.00 (x64)", "WPS Office", "Microsoft Visual C++ 2015 Redistributable (x86)",
    "\xCC\xDA\xD1\xB6QQ", "\xCE\xA2\xD0\xC5", "\xCB\xD1\xB9\xB7\xCA\xE4\xC8\xEB\xB7\xA8", "Google Update Helper",
    "Mozilla Maintenance Service", "chrome remote desktop host", "OPERA"};
const char* const Decorations[] = {"", " Stable", " 118.0 (x86 zh-CN)", " \xE4\xAF\xC0\xC0\xC6\xF7", "Beta ", ""};
const char* const GbkWords[] = {"\xB3\xCC\xD0\xF2", "\xE4\xAF\xC0\xC0\xC6\xF7", "\xCC\xDA\xD1\xB6", "Kestlo"};

std::string DisplayText(Random& random) {
    if (random.Chance(12)) {
        // At and past the 1,024-byte data buffer, the NUL counted.
        const std::size_t length = 1021 + random.Below(5);
        std::string text = random.Chance(50) ? std::string(BrowserRecognitionTable[random.Below(std::size(BrowserRecognitionTable))].Marker) : "";
        while (text.size() < length) text += text.size() + 2 <= length && random.Chance(30) ? "\xB0\xA1" : "x";
        return text;
    }
    if (random.Chance(35)) return random.Pick(OrdinaryNames);
    const RecognitionRow& row = BrowserRecognitionTable[random.Below(std::size(BrowserRecognitionTable))];
    std::string text = std::string(random.Pick(Decorations)) + std::string(row.Marker) + random.Pick(Decorations);
    if (random.Chance(15)) text += " " + std::string(BrowserRecognitionTable[random.Below(std::size(BrowserRecognitionTable))].Marker);
    return text;
}

std::string SubkeyName(Random& random, std::size_t index) {
    switch (random.Below(8)) {
    case 0: return std::string(254 + random.Below(2), static_cast<char>('k' + index % 3));  // at the name buffer
    case 1: return "{" + std::to_string(random.Next() % 1000000) + "-A1B2-" + std::to_string(index) + "}";
    case 2: return std::string(random.Pick(GbkWords)) + std::to_string(index);
    case 3: return (random.Chance(50) ? "google chrome " : "Google Chrome ") + std::to_string(index);
    case 4: return std::string(random.Pick(OrdinaryNames)).substr(0, 12) + " " + std::to_string(index);
    default: return std::string(1, static_cast<char>((random.Chance(50) ? 'A' : 'a') + random.Below(26))) +
                    "pp" + std::to_string(index);
    }
}

std::string Location(Random& random, bool& plain) {
    static const char* const folders[] = {
        "C:\\Program Files\\Google\\Chrome\\Application", "C:\\Program Files\\Mozilla Firefox",
        "C:\\Program Files (x86)\\360\\360se6\\Application", "C:\\Users\\Public\\360Chrome\\Chrome\\Application",
        "C:\\\xB3\xCC\xD0\xF2\\\xE4\xAF\xC0\xC0\xC6\xF7", "C:\\Apps\\Browser"};
    plain = false;
    switch (random.Below(10)) {
    case 0: return "";
    case 1: return std::string(random.Pick(folders)) + "\\";
    case 2: return "%SystemDrive%\\Apps\\Expand";
    case 3: return "C:\\" + std::string(1019 + random.Below(4), 'L');  // about the data buffer
    default: plain = true; return random.Pick(folders);
    }
}

// A value of the wanted text, stored as one of several types.
ScenarioValue TextValue(Random& random, const std::string& name, const std::string& text, bool oddTypes) {
    ScenarioValue value{name, REG_SZ, text + '\0'};
    if (!oddTypes || random.Chance(70)) return value;
    switch (random.Below(5)) {
    case 0: value.Type = REG_EXPAND_SZ; break;
    case 1: value.Type = REG_BINARY; if (random.Chance(50)) value.Data.pop_back(); break;
    case 2: value.Type = REG_MULTI_SZ; value.Data += '\0'; break;
    case 3: value.Type = REG_DWORD; value.Data = "ABC\0"; value.Data.resize(4); break;
    default: value.Type = REG_NONE; break;
    }
    return value;
}

void AddEntry(Random& random, Scenario& scenario, ScenarioRoot root, const std::string& base, std::size_t index,
              std::vector<std::string>& names) {
    std::string name;
    bool clash;
    do {  // subkey names are unique, letter case ignored
        name = SubkeyName(random, index);
        clash = false;
        for (const std::string& other : names) clash = clash || standin::SameKeyName(other, name);
    } while (clash);
    names.push_back(name);
    ScenarioKey key{root, base + name, {}};
    if (random.Chance(85)) {
        static const char* const spellings[] = {"DisplayName", "DisplayName", "DisplayName", "displayname"};
        key.Values.push_back(TextValue(random, random.Pick(spellings), DisplayText(random), true));
    }
    bool plain = false;
    if (random.Chance(80)) {
        const std::string location = Location(random, plain);
        static const char* const spellings[] = {"InstallLocation", "InstallLocation", "INSTALLLOCATION"};
        ScenarioValue value = TextValue(random, random.Pick(spellings), location, true);
        if (location.rfind("%SystemDrive%", 0) == 0) value.Type = REG_EXPAND_SZ;
        key.Values.push_back(value);
        // The browsers' programs are there more often than not.
        if (plain && random.Chance(75))
            for (const LaunchPreference& preference : LaunchPreferenceTable)
                scenario.Files.push_back(location + std::string(preference.ExecutableSuffix));
    }
    if (random.Chance(30)) {
        // Value names at and past the 260-character name buffer.
        key.Values.push_back({std::string(258 + random.Below(4), 'V'), REG_SZ, "Chrome" + std::string(1, '\0')});
    }
    if (random.Chance(30)) key.Values.push_back({"Publisher", REG_SZ, std::string(random.Pick(GbkWords)) + '\0'});
    // Values in a random order: Windows keeps their order, Wine sorts them.
    for (std::size_t i = key.Values.size(); i > 1; --i) std::swap(key.Values[i - 1], key.Values[random.Below(i)]);
    scenario.Keys.push_back(key);
}

}  // namespace

Scenario RandomMachine(std::uint64_t seed) {
    Random random{seed};
    Scenario scenario;
    const std::string machineBase = MachineUninstallPath;
    const std::string userBase = std::string(UserUninstallSuffix).substr(1);
    const std::string otherHive = "S-1-5-21-1004336348-1177238915-682003330-1001";
    // Half the machines are 64-bit Windows, their 64-bit view's uninstall key
    // present and holding up to three entries.
    const bool sixtyFourBit = random.Chance(50);
    if (sixtyFourBit) scenario.Keys.push_back({ScenarioRoot::Machine64, std::string(MachineUninstallKey), {}});
    struct Place {
        ScenarioRoot Root;
        std::string Base;
        std::size_t Most;
    } places[] = {{ScenarioRoot::Machine, machineBase, 6},
                  {ScenarioRoot::Machine64, machineBase, sixtyFourBit ? 3u : 0u},
                  {ScenarioRoot::CurrentUser, userBase, 3},
                  {ScenarioRoot::Users, otherHive + "\\" + userBase, 2}};
    for (const Place& place : places) {
        std::vector<std::string> names;
        for (std::size_t n = random.Below(place.Most + 1), i = 0; i < n; ++i)
            AddEntry(random, scenario, place.Root, place.Base, i, names);
    }
    if (random.Chance(20)) {
        // Look-alike values at the root of another user's hive.
        ScenarioKey root{ScenarioRoot::Users, otherHive, {}};
        root.Values.push_back({"DisplayName", REG_SZ, "Google Chrome" + std::string(1, '\0')});
        root.Values.push_back({"InstallLocation", REG_SZ, "C:\\Apps\\Browser" + std::string(1, '\0')});
        scenario.Keys.push_back(root);
    }
    return scenario;
}

}  // namespace machines
