#include "machines/scenario.h"

#include "discovery/uninstall_paths.h"

#include <iconv.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <sstream>
#include <tuple>

namespace machines {
namespace {

// iconv from `from` to `to`. A byte that does not convert is kept as it is;
// with `unit` set, each `unit` bytes that do not convert become '?' instead
// (as WideCharToMultiByte's default character under code page 936), and a
// character cut off at the end is dropped.
std::string Convert(const std::string& text, const char* to, const char* from, std::size_t unit = 0) {
    const iconv_t converter = iconv_open(to, from);
    if (converter == reinterpret_cast<iconv_t>(-1)) return text;
    std::string out;
    char* in = const_cast<char*>(text.data());
    std::size_t inLeft = text.size();
    while (inLeft > 0) {
        char buffer[256];
        char* outPtr = buffer;
        std::size_t outLeft = sizeof buffer;
        const bool failed = iconv(converter, &in, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1);
        out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
        if (!failed || errno == E2BIG) continue;
        if (unit == 0) {
            out += *in++;
            --inLeft;
            continue;
        }
        if (errno == EINVAL) break;
        const std::size_t skip = std::min(unit, inLeft);
        in += skip;
        inLeft -= skip;
        out += '?';
    }
    iconv_close(converter);
    return out;
}

// Splits off the first space-separated word of `rest`.
std::string NextWord(std::string& rest) {
    const std::size_t space = rest.find(' ');
    std::string word = rest.substr(0, space);
    rest = space == std::string::npos ? std::string() : rest.substr(space + 1);
    return word;
}

// Replaces each "{N*C}" with N copies of the character C (one UTF-8 character).
std::string ExpandRuns(const std::string& line) {
    std::string out;
    for (std::size_t i = 0; i < line.size();) {
        std::size_t digits = i + 1;
        while (digits < line.size() && std::isdigit(static_cast<unsigned char>(line[digits]))) ++digits;
        if (line[i] == '{' && digits > i + 1 && digits + 2 < line.size() && line[digits] == '*') {
            const auto lead = static_cast<unsigned char>(line[digits + 1]);
            const std::size_t width = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
            if (digits + 1 + width < line.size() && line[digits + 1 + width] == '}') {
                const std::string character = line.substr(digits + 1, width);
                for (unsigned long n = std::stoul(line.substr(i + 1, digits - i - 1)); n > 0; --n) out += character;
                i = digits + 2 + width;
                continue;
            }
        }
        out += line[i++];
    }
    return out;
}

// The scenario's lines with their numbers, comments and blanks dropped,
// "repeat N" ... "end" blocks unrolled ("{n}" becomes the index, zero-padded
// to the width of N - 1) and "{N*C}" runs expanded.
bool ExpandLines(const std::string& text, std::vector<std::pair<int, std::string>>& lines, std::string& error) {
    std::istringstream in(text);
    std::string line;
    std::vector<std::pair<int, std::string>> block;
    unsigned long repeat = 0;
    for (int number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        if (line.rfind("repeat ", 0) == 0) {
            char* end = nullptr;
            repeat = std::strtoul(line.c_str() + 7, &end, 10);
            if (repeat == 0 || *end != '\0' || !block.empty()) {
                error = "line " + std::to_string(number) + ": expected repeat COUNT (not nested)";
                return false;
            }
            block.emplace_back(number, std::string());  // marks the open block
            continue;
        }
        if (line == "end" && repeat > 0) {
            const std::size_t width = std::to_string(repeat - 1).size();
            for (unsigned long n = 0; n < repeat; ++n) {
                std::string index = std::to_string(n);
                index.insert(0, width - index.size(), '0');
                for (std::size_t i = 1; i < block.size(); ++i) {
                    std::string copy = block[i].second;
                    for (std::size_t at; (at = copy.find("{n}")) != std::string::npos;) copy.replace(at, 3, index);
                    lines.emplace_back(block[i].first, ExpandRuns(copy));
                }
            }
            block.clear();
            repeat = 0;
            continue;
        }
        if (repeat > 0)
            block.emplace_back(number, line);
        else
            lines.emplace_back(number, ExpandRuns(line));
    }
    if (repeat > 0) {
        error = "line " + std::to_string(block.front().first) + ": repeat without end";
        return false;
    }
    return true;
}

// Whether a key is one the Wine runs' registry reset takes back: at or below
// the machine's uninstall key (in either view) or the user's, or in a hive
// under HKEY_USERS that a fresh prefix does not have (the reset deletes those
// whole).
bool Resettable(ScenarioRoot root, const std::vector<std::string>& names) {
    const auto below = [&names](std::string_view key) {
        std::vector<std::string> wanted;
        standin::SplitKeyPath(std::string(key), wanted);
        return names.size() >= wanted.size() &&
               std::equal(wanted.begin(), wanted.end(), names.begin(), standin::SameKeyName);
    };
    switch (root) {
    case ScenarioRoot::Machine:
    case ScenarioRoot::Machine64: return below(MachineUninstallKey);
    case ScenarioRoot::CurrentUser: return below(UserUninstallKey);
    case ScenarioRoot::Users: return !standin::SameKeyName(names[0], ".Default");
    }
    return false;
}

}  // namespace

bool ParseHexBytes(const std::string& text, char separator, std::string& bytes) {
    const auto isHex = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
    std::size_t at = 0;
    const auto skipSpaces = [&] { while (at < text.size() && text[at] == ' ') ++at; };
    for (skipSpaces(); at < text.size();) {
        if (at + 1 >= text.size() || !isHex(text[at]) || !isHex(text[at + 1])) return false;
        bytes += static_cast<char>(std::stoi(text.substr(at, 2), nullptr, 16));
        const std::size_t pairEnd = at += 2;
        skipSpaces();
        if (at == text.size() || separator == '\0') continue;
        // Spaces are the separator, or stand around it.
        if (separator == ' ' ? at == pairEnd : text[at++] != separator) return false;
        skipSpaces();
        if (at == text.size()) return false;  // a trailing separator
    }
    return true;
}

std::string Utf8ToGbk(const std::string& text) { return Convert(text, "GBK", "UTF-8"); }
std::string GbkToUtf8(const std::string& text) { return Convert(text, "UTF-8", "GBK"); }
std::string GbkToUtf16Le(const std::string& text) { return Convert(text, "UTF-16LE", "GBK"); }
std::string Utf8ToUtf16Le(const std::string& text) { return Convert(text, "UTF-16LE", "UTF-8"); }
std::string Utf16LeToGbk(const std::string& text) {
    return Convert(text.substr(0, text.size() / 2 * 2), "GBK", "UTF-16LE", 2);
}
std::string Utf16LeToUtf8(const std::string& text) { return Convert(text, "UTF-8", "UTF-16LE", 2); }

bool ParseScenario(const std::string& text, Scenario& scenario, std::string& error) {
    std::vector<std::pair<int, std::string>> lines;
    if (!ExpandLines(text, lines, error)) return false;
    ScenarioKey* key = nullptr;
    std::set<std::tuple<ScenarioRoot, std::u16string, std::u16string>> valueNames;
    for (const auto& numbered : lines) {
        const int number = numbered.first;
        const std::string& line = numbered.second;
        auto fail = [&](const std::string& why) {
            error = "line " + std::to_string(number) + ": " + why + ": " + line;
            return false;
        };
        std::string rest = line;
        const std::string directive = NextWord(rest);
        if (directive == "key") {
            const std::size_t slash = rest.find('\\');
            const std::string root = rest.substr(0, slash);
            ScenarioKey parsed;
            parsed.Path = Utf8ToGbk(slash == std::string::npos ? std::string() : rest.substr(slash + 1));
            const auto* named = std::find(std::begin(ScenarioRootNames), std::end(ScenarioRootNames), root);
            parsed.Root = static_cast<ScenarioRoot>(named - std::begin(ScenarioRootNames));
            std::vector<std::string> names;
            if (named == std::end(ScenarioRootNames) || parsed.Path.empty() || !standin::SplitKeyPath(parsed.Path, names))
                return fail("expected key HKLM|HKLM64|HKU|HKCU\\path");
            // HKU\<the user's SID>\... is HKCU\..., one key under two names.
            if (parsed.Root == ScenarioRoot::Users && standin::SameKeyName(names[0], standin::WineUserSid)) {
                names.erase(names.begin());
                parsed.Root = ScenarioRoot::CurrentUser;
                if (names.empty()) return fail("the user's own hive is there on every machine: name a key below it");
            }
            if (!Resettable(parsed.Root, names))
                return fail("keys only below the uninstall keys (HKLM, HKLM64, HKCU) or in a hive of their own under "
                            "HKU, which the Wine runs take back after each machine");
            // Joined again without a trailing separator; a GBK character's
            // second byte may be '\\' and stays.
            parsed.Path.clear();
            for (const std::string& name : names) parsed.Path += (parsed.Path.empty() ? "" : "\\") + name;
            scenario.Keys.push_back(parsed);
            key = &scenario.Keys.back();
        } else if (directive == "value") {
            if (key == nullptr) return fail("value before any key");
            ScenarioValue value;
            value.Name = Utf8ToGbk(NextWord(rest));
            const std::string type = NextWord(rest);
            if (type == "sz" || type == "expand_sz") {
                value.Type = type == "sz" ? REG_SZ : REG_EXPAND_SZ;
                value.Data = Utf8ToGbk(rest) + '\0';
            } else if (type == "dword") {
                value.Type = REG_DWORD;
                char* end = nullptr;
                const unsigned long parsed = std::strtoul(rest.c_str(), &end, 0);
                if (rest.empty() || *end != '\0' || parsed > 0xFFFFFFFFul) return fail("dword data must be a number");
                const auto number32 = static_cast<std::uint32_t>(parsed);
                for (int shift = 0; shift < 32; shift += 8) value.Data += static_cast<char>((number32 >> shift) & 0xFF);
            } else if (type == "binary") {
                value.Type = REG_BINARY;
                if (!ParseHexBytes(rest, ' ', value.Data)) return fail("binary data must be hex bytes such as 41 00");
            } else {
                return fail("value type must be sz, expand_sz, dword or binary");
            }
            if (value.Name.empty()) return fail("value needs a name");
            // A key holds one value of a name; a scenario that sets one twice says two things.
            if (!valueNames.insert({key->Root, standin::RegistryOrder(key->Path), standin::RegistryOrder(value.Name)})
                     .second)
                return fail("the key has a value of this name already (ASCII letters in either case)");
            key->Values.push_back(value);
        } else if (directive == "file") {
            scenario.Files.push_back(Utf8ToGbk(rest));
        } else if (directive == "expect") {
            const std::string what = NextWord(rest);
            if (what == "trace") {
                scenario.Expected.TraceLines.push_back(Utf8ToGbk(rest));
            } else if (what == "start" && !rest.empty()) {
                scenario.Expected.StartedFile = Utf8ToGbk(rest);
            } else if (what == "message" && rest.empty()) {
                scenario.Expected.MessageBox = true;
            } else {
                return fail("expected: expect trace TEXT | expect start PATH | expect message");
            }
        } else {
            return fail("unknown directive");
        }
    }
    if (scenario.Expected.StartedFile && scenario.Expected.MessageBox) {
        error = "a scenario expects either a started browser or the message box, not both";
        return false;
    }
    return true;
}

bool IsSixtyFourBit(const Scenario& scenario) {
    return std::any_of(scenario.Keys.begin(), scenario.Keys.end(),
                       [](const ScenarioKey& key) { return key.Root == ScenarioRoot::Machine64; });
}

void BuildMachine(const Scenario& scenario, standin::StandInMachine& machine) {
    machine.Behaviour = standin::Flavour::Wine;
    machine.Is64BitWindows = IsSixtyFourBit(scenario);
    machine.AddKey(HKEY_USERS, ".Default");
    machine.AddKey(HKEY_USERS, machine.UserSid);
    // Added in the registry's own order, each key lands after its siblings:
    // tens of thousands of entries in any order build in linear time, not in
    // the square of their number. The sort is stable, so that the values of a
    // key named twice keep their order.
    std::vector<std::pair<std::vector<std::u16string>, const ScenarioKey*>> ordered;
    for (const ScenarioKey& key : scenario.Keys) {
        std::vector<std::string> names;
        standin::SplitKeyPath(key.Root == ScenarioRoot::CurrentUser ? machine.UserSid + "\\" + key.Path : key.Path, names);
        std::vector<std::u16string> order{std::u16string(1, static_cast<char16_t>(key.Root))};
        for (const std::string& name : names) order.push_back(standin::RegistryOrder(name));
        ordered.emplace_back(std::move(order), &key);
    }
    std::stable_sort(ordered.begin(), ordered.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [order, sorted] : ordered) {
        const ScenarioKey& key = *sorted;
        const bool machineWide = key.Root == ScenarioRoot::Machine || key.Root == ScenarioRoot::Machine64;
        const HKEY root = machineWide ? HKEY_LOCAL_MACHINE : HKEY_USERS;
        const auto view = key.Root == ScenarioRoot::Machine64 ? standin::RegistryView::SixtyFourBit
                                                              : standin::RegistryView::ThirtyTwoBit;
        const std::string path = key.Root == ScenarioRoot::CurrentUser ? machine.UserSid + "\\" + key.Path : key.Path;
        machine.AddKey(root, path, view);
        for (const ScenarioValue& value : key.Values)
            machine.AddValue(root, path, value.Name, value.Type, value.Data, view);
    }
    for (const std::string& file : scenario.Files) machine.AddFile(file);
}

}  // namespace machines
