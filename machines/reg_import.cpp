#include "machines/reg_import.h"

#include "discovery/uninstall_paths.h"

#include <iconv.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace machines {
namespace {

std::string Utf8ToAnsi(const std::string& utf8) { return Utf16LeToGbk(Utf8ToUtf16Le(utf8)); }

bool StartsWithCaseless(const std::string& text, const std::string& prefix, std::size_t at = 0) {
    if (text.size() < at + prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(text[at + i])) != std::toupper(static_cast<unsigned char>(prefix[i])))
            return false;
    return true;
}

// `path` with `prefix` (followed by its end or a backslash) taken off, into `rest`.
bool Below(const std::string& path, const std::string& prefix, std::string& rest) {
    if (!StartsWithCaseless(path, prefix) || (path.size() > prefix.size() && path[prefix.size()] != '\\'))
        return false;
    rest = path.substr(prefix.size());
    return true;
}

// Where a key of the export goes in the replayed machine; false for a key
// the launcher never reads. `wow64` tells a machine key named by its
// WOW6432Node form.
bool PlaceKey(const std::string& key, ScenarioKey& placed, std::string& sid, bool& wow64) {
    const std::string machine(MachineUninstallKey), user(UserUninstallKey);
    std::string rest;
    placed.Values.clear();
    wow64 = Below(key, "HKEY_LOCAL_MACHINE\\" + std::string(MachineUninstallKeyWow64), rest);
    if (wow64 || Below(key, "HKEY_LOCAL_MACHINE\\" + machine, rest)) {
        placed.Root = wow64 ? ScenarioRoot::Machine : ScenarioRoot::Machine64;  // until ReplayedMachine
        placed.Path = machine + rest;
        return true;
    }
    std::string hive = key;
    if (StartsWithCaseless(key, "HKEY_USERS\\")) {
        const std::size_t end = key.find('\\', 11);
        if (end == std::string::npos) return false;
        sid = key.substr(11, end - 11);
        hive = "HKEY_CURRENT_USER" + key.substr(end);
    }
    if (!Below(hive, "HKEY_CURRENT_USER\\" + user, rest)) return false;
    placed.Root = ScenarioRoot::CurrentUser;
    placed.Path = user + rest;
    return true;
}

// A quoted name or text at `at` (just past its opening quote), with \\, \",
// \n, \r and \0 unescaped; `at` ends past the closing quote. False when the
// line ends first.
bool Unquote(const std::string& line, std::size_t& at, std::string& text) {
    for (; at < line.size(); ++at) {
        char c = line[at];
        if (c == '"') {
            ++at;
            return true;
        }
        if (c == '\\' && at + 1 < line.size()) {
            const char next = line[++at];
            c = next == 'n' ? '\n' : next == 'r' ? '\r' : next == '0' ? '\0' : next;
            if (next != '\\' && next != '"' && next != 'n' && next != 'r' && next != '0') text += '\\';
        }
        text += c;
    }
    return false;
}

// The text after '=': its type and the bytes RegEnumValueA hands out.
bool ParseData(const std::string& data, bool unicode, ScenarioValue& value, std::string& expected) {
    expected = "\"text\", dword:XXXXXXXX, hex:... or hex(N):... after =";
    if (!data.empty() && data[0] == '"') {
        std::size_t at = 1;
        std::string text;
        if (!Unquote(data, at, text) || data.find_first_not_of(' ', at) != std::string::npos) {
            expected = "text in quotes, ending with \"";
            return false;
        }
        value.Type = REG_SZ;
        value.Data = (unicode ? Utf8ToAnsi(text) : Utf8ToGbk(text)) + '\0';
        return true;
    }
    if (data.rfind("dword:", 0) == 0) {
        const std::string digits = data.substr(6);
        if (digits.empty() || digits.size() > 8 || digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
            expected = "dword: and up to eight hex digits";
            return false;
        }
        const auto number = static_cast<std::uint32_t>(std::strtoul(digits.c_str(), nullptr, 16));
        value.Type = REG_DWORD;
        for (int shift = 0; shift < 32; shift += 8) value.Data += static_cast<char>((number >> shift) & 0xFF);
        return true;
    }
    std::size_t colon = 0;
    if (data.rfind("hex:", 0) == 0) {
        value.Type = REG_BINARY;
        colon = 3;
    } else if (data.rfind("hex(", 0) == 0) {
        const std::size_t close = data.find("):");
        char* end = nullptr;
        value.Type = static_cast<DWORD>(std::strtoul(data.c_str() + 4, &end, 16));
        if (close == std::string::npos || close == 4 || end != data.c_str() + close) return false;
        colon = close + 1;
    } else {
        return false;
    }
    std::string bytes;
    if (!ParseHexBytes(data.substr(colon + 1), ',', bytes)) {
        expected = "hex bytes such as 43,00,3a,00";
        return false;
    }
    const bool text = value.Type == REG_SZ || value.Type == REG_EXPAND_SZ || value.Type == REG_MULTI_SZ;
    value.Data = text && unicode ? Utf16LeToGbk(bytes) : bytes;
    return true;
}

// Converts each line from `from` to UTF-8, refusing the first that is not
// valid text of that encoding: false, with `bad` its index.
bool StrictlyToUtf8(std::vector<std::string>& lines, const char* from, std::size_t& bad) {
    const iconv_t converter = iconv_open("UTF-8", from);
    if (converter == reinterpret_cast<iconv_t>(-1)) return bad = 0, false;
    bool ok = true;
    for (bad = 0; bad < lines.size(); ++bad) {
        std::string& line = lines[bad];
        std::string out(line.size() * 3 + 4, '\0');
        char* in = line.data();
        char* outPtr = out.data();
        std::size_t inLeft = line.size(), outLeft = out.size();
        iconv(converter, nullptr, nullptr, nullptr, nullptr);
        ok = iconv(converter, &in, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1) && inLeft == 0;
        if (!ok) break;
        line.assign(out.data(), static_cast<std::size_t>(outPtr - out.data()));
    }
    iconv_close(converter);
    return ok;
}

// The file as UTF-8 lines, from UTF-16LE or UTF-8 after their byte-order
// mark, or without one from the members' ANSI code page, 936 (regedit's
// REGEDIT4 exports, Notepad's "ANSI" save); `encoding` says which was
// assumed. `unicode` tells the format: "Windows Registry Editor Version
// 5.00", whose hex data of text values is UTF-16, or REGEDIT4, ANSI.
bool Decode(const std::string& bytes, std::vector<std::string>& lines, bool& unicode, std::string& encoding,
            std::string& error) {
    const auto split = [&lines](const std::string& text, std::size_t from) {
        for (std::size_t start = from; start <= text.size();) {
            std::size_t end = text.find('\n', start);
            if (end == std::string::npos) end = text.size();
            std::string& line = lines.emplace_back(text, start, end - start);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            start = end + 1;
        }
    };
    std::size_t bad = 0;
    if (bytes.rfind("\xFF\xFE", 0) == 0) {
        if (bytes.size() % 2 != 0) {
            error = ": UTF-16 text of an odd number of bytes (a file cut short?)";
            return false;
        }
        encoding = "UTF-16 (byte-order mark FF FE)";
        split(Utf16LeToUtf8(bytes.substr(2)), 0);  // what code page 936 lacks becomes '?', as the "A" functions give
    } else if (bytes.rfind("\xFE\xFF", 0) == 0) {
        error = ":1: expected UTF-16 little-endian (FF FE), as Windows writes it: this file is big-endian";
        return false;
    } else if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) {
        encoding = "UTF-8 (byte-order mark EF BB BF)";
        split(bytes, 3);
        if (!StrictlyToUtf8(lines, "UTF-8", bad)) {
            error = ":" + std::to_string(bad + 1) + ": expected UTF-8 text, as the byte-order mark says";
            return false;
        }
    } else {
        encoding = "GBK (code page 936): no byte-order mark";
        split(bytes, 0);
        if (!StrictlyToUtf8(lines, "GBK", bad)) {
            error = ":" + std::to_string(bad + 1) +
                    ": expected GBK text (code page 936), as a file without a byte-order mark is read";
            return false;
        }
    }
    const auto header = std::find_if(lines.begin(), lines.end(), [](const std::string& l) { return !l.empty(); });
    if (header != lines.end() && (*header == "Windows Registry Editor Version 5.00" || *header == "REGEDIT4")) {
        unicode = *header != "REGEDIT4";
    } else {
        error = ":1: expected \"Windows Registry Editor Version 5.00\" or \"REGEDIT4\": not a registry export";
        return false;
    }
    *header = std::string();
    return true;
}

// The length of valid UTF-8 text in UTF-16 units, as the registry counts names.
std::size_t Utf16Length(std::string_view utf8) {
    std::size_t units = 0;
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        units += (byte & 0xC0) != 0x80;  // each character's first byte
        units += byte >= 0xF0;           // outside the BMP: a surrogate pair
    }
    return units;
}

// A NUL, a line end or another control character: no name Windows lets a
// program give a key or a value, and one the "A" functions would cut short.
bool HasControlCharacter(std::string_view utf8) {
    return std::any_of(utf8.begin(), utf8.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

// Why a key path from the file is not one Windows can hold, or empty.
std::string BadKeyPath(const std::string& utf8) {
    std::size_t depth = 0;
    for (std::size_t start = 0;; ++depth) {
        const std::size_t end = std::min(utf8.find('\\', start), utf8.size());
        if (end == start) return "a key path without empty names (no doubled, leading or trailing \\)";
        if (HasControlCharacter(std::string_view(utf8).substr(start, end - start)))
            return "key names of printable characters, as Windows allows";
        if (Utf16Length(std::string_view(utf8).substr(start, end - start)) > MaxKeyNameLength)
            return "key names of at most 255 characters, as Windows allows";
        if (end == utf8.size()) break;
        start = end + 1;
    }
    if (depth > MaxKeyDepth) return "keys at most 512 levels deep, as Windows allows";
    return {};
}

}  // namespace

bool ReadRegExport(const std::string& bytes, const std::string& fileName, RegImport& into, std::string& error) {
    std::vector<std::string> lines;
    bool unicode = true;
    std::string encoding;
    if (!Decode(bytes, lines, unicode, encoding, error)) {
        error = fileName + error;
        return false;
    }
    RegImport read = into;
    ScenarioKey* key = nullptr;
    bool inKey = false;  // false before the first key; a key the launcher never reads has no ScenarioKey
    for (std::size_t number = 1; number <= lines.size(); ++number) {
        const std::size_t first = number;
        std::string line = lines[number - 1];
        const auto fail = [&](const std::string& what) {
            error = fileName + ":" + std::to_string(first) + ": expected " + what;
            return false;
        };
        const std::size_t indent = line.find_first_not_of(" \t");
        if (indent == std::string::npos || line[indent] == ';') continue;
        line.erase(0, indent);
        while (!line.empty() && line.back() == '\\' && line.find("=hex") != std::string::npos) {
            if (number == lines.size() || lines[number].find_first_not_of(" \t") == std::string::npos)
                return fail("another line after the trailing \\");
            line.pop_back();
            const std::string& next = lines[number++];
            line += next.substr(std::min(next.find_first_not_of(" \t"), next.size()));
        }
        line.erase(line.find_last_not_of(" \t") + 1);
        if (line[0] == '[') {
            if (line.back() != ']') return fail("] at the end of the key's line");
            const std::string path = line.substr(line[1] == '-' ? 2 : 1, line.size() - (line[1] == '-' ? 3 : 2));
            if (const std::string why = BadKeyPath(path); !why.empty()) return fail(why);
            ScenarioKey placed;
            std::string sid;
            bool wow64 = false;
            inKey = true;
            key = nullptr;
            if (line[1] == '-' || !PlaceKey(line.substr(1, line.size() - 2), placed, sid, wow64)) {
                ++read.IgnoredKeys;
                continue;
            }
            if (!sid.empty() && standin::SidBytes(sid).empty()) return fail("a SID such as S-1-5-21-...-1001 after HKEY_USERS\\");
            if (!sid.empty() && !read.UserSid.empty() && sid != read.UserSid)
                return fail("one user's keys, but the exports name " + read.UserSid + " and " + sid);
            if (!sid.empty()) read.UserSid = sid;
            placed.Path = unicode ? Utf8ToAnsi(placed.Path) : Utf8ToGbk(placed.Path);
            read.NamesWow64View |= wow64;
            read.Machine.Keys.push_back(placed);
            key = &read.Machine.Keys.back();
            continue;
        }
        if (line[0] != '"' && line[0] != '@') return fail("[key], \"name\"=value or @=value");
        if (!inKey) return fail("[key] before the first value");
        std::size_t at = 1;
        std::string name;
        if (line[0] == '"' && !Unquote(line, at, name)) return fail("the value's name to end with \"");
        if (Utf16Length(name) > MaxValueNameLength)
            return fail("value names of at most 16,383 characters, as Windows allows");
        if (HasControlCharacter(name)) return fail("value names of printable characters, as Windows allows");
        if (at >= line.size() || line[at] != '=') return fail("= after the value's name");
        ScenarioValue value;
        value.Name = unicode ? Utf8ToAnsi(name) : Utf8ToGbk(name);
        std::string expected;
        if (line.compare(at + 1, std::string::npos, "-") == 0) continue;  // a deletion: nothing to read
        if (!ParseData(line.substr(at + 1), unicode, value, expected)) return fail(expected);
        if (key != nullptr) key->Values.push_back(value);
    }
    read.Notes.push_back(fileName + ": read as " + encoding);
    into = read;
    return true;
}

Scenario ReplayedMachine(const RegImport& import) {
    Scenario machine = import.Machine;
    if (!import.NamesWow64View)  // a 32-bit Windows: its one view
        for (ScenarioKey& key : machine.Keys)
            if (key.Root == ScenarioRoot::Machine64) key.Root = ScenarioRoot::Machine;
    return machine;
}

}  // namespace machines
