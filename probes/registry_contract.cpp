#include "probes/registry_contract.h"

#include "discovery/registry_limits.h"
#include "discovery/registry_views.h"

#include <cstdio>
#include <cstring>

// The probes read with the launcher's buffers; the boundaries around them are
// written out (254, 259, 1,025...) so that each probe reads as the platform
// fact it checks.
static_assert(SubkeyNameBufferSize == 255 && ValueNameBufferSize == 260 && ValueDataBufferSize == 1024,
              "the probes straddle the launcher's buffer sizes");

namespace {

// The failures of one run, each with the line of its check.
struct Report {
    std::vector<std::string> Failures;
    void Check(bool condition, int line, const std::string& what) {
        if (!condition) Failures.push_back("registry_contract.cpp:" + std::to_string(line) + ": " + what);
    }
};
#define CHECK(condition, what) report.Check((condition), __LINE__, (what))

std::string Code(LONG result) { return " (got " + std::to_string(result) + ")"; }

bool AllFill(const char* buffer, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i)
        if (buffer[i] != '#') return false;
    return true;
}

// A buffer pre-filled with '#'.
template <std::size_t N>
struct Filled {
    char Bytes[N];
    Filled() { std::memset(Bytes, '#', N); }
    bool Untouched() const { return AllFill(Bytes, N); }
    // The text up to the first NUL, or all N bytes when there is none: a
    // failed call may well leave the buffer unterminated.
    std::string Text() const { return std::string(Bytes, strnlen(Bytes, N)); }
};

// RegOpenKeyExA's result, the key closed again when it opened.
LONG TryOpen(HKEY root, const std::string& path, REGSAM access = KEY_READ) {
    HKEY key = nullptr;
    const LONG result = RegOpenKeyExA(root, path.c_str(), 0, access, &key);
    if (result == ERROR_SUCCESS) RegCloseKey(key);
    return result;
}

// The subkey names of `path`, in enumeration order; stops at the first failure.
std::vector<std::string> Subkeys(HKEY root, const std::string& path) {
    std::vector<std::string> names;
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return names;
    for (DWORD index = 0;; ++index) {
        char name[256] = {};
        DWORD length = sizeof name;
        if (RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(name, length);
    }
    RegCloseKey(key);
    return names;
}

struct Enumerated {
    LONG Result = -1;
    Filled<ValueNameBufferSize> Name;
    DWORD NameLength = ValueNameBufferSize;
    DWORD Type = 0xDEADBEEF;
    Filled<ValueDataBufferSize> Data;
    DWORD DataLength = ValueDataBufferSize;
};

// RegEnumValueA at `index` of the key, with the launcher's buffer sizes.
Enumerated EnumerateValue(HKEY root, const std::string& path, DWORD index) {
    Enumerated out;
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return out;
    out.Result = RegEnumValueA(key, index, out.Name.Bytes, &out.NameLength, nullptr, &out.Type,
                               reinterpret_cast<BYTE*>(out.Data.Bytes), &out.DataLength);
    RegCloseKey(key);
    return out;
}

}  // namespace

std::vector<std::string> RunRegistryContract(const ContractPlatform& platform, const ContractScratch& scratch) {
    Report report;
    const HKEY root = scratch.Root;
    const std::string s = scratch.Path + "\\";

    // The keys: created in an order that is not the enumeration order.
    for (const char* name : {"zeta", "Alpha", "beta"}) scratch.AddKey(s + "Case\\" + name);
    // 程序 (U+7A0B), 微信 (U+5FAE), 乗 (U+4E57, its second GBK byte is '\'),
    // 丄 (U+4E04) and 乤 (U+4E64), whose second bytes are 'A' and 'a'.
    for (const char* name : {"\xB3\xCC\xD0\xF2", "\xCE\xA2\xD0\xC5", "\x81\x5C", "b", "\x81\x41", "\x81\x61"})
        scratch.AddKey(s + "Gbk\\" + name);
    scratch.AddKey(s + "Long\\" + std::string(254, 'n'));
    scratch.AddKey(s + "Long\\" + std::string(255, 'o'));
    scratch.AddValue(s + "Name259", std::string(259, 'a'), REG_SZ, std::string("x\0", 2));
    scratch.AddValue(s + "Name260", std::string(260, 'b'), REG_SZ, std::string("x\0", 2));
    for (const std::size_t size : {1023u, 1024u, 1025u})
        scratch.AddValue(s + "Data" + std::to_string(size), "DisplayName", REG_SZ, std::string(size - 1, 'd') + '\0');
    scratch.AddValue(s + "Expand", "InstallLocation", REG_EXPAND_SZ, std::string("%SystemDrive%\\Apps\0", 19));
    scratch.AddValue(s + "Binary", "DisplayName", REG_BINARY, std::string("G\0\xFF" "A", 4));
    scratch.AddValue(s + "Dword", "DisplayName", REG_DWORD, std::string("ABC\0", 4));
    // 名称 = 腾讯浏览器
    scratch.AddValue(s + "GbkValue", "\xC3\xFB\xB3\xC6", REG_SZ, std::string("\xCC\xDA\xD1\xB6\xE4\xAF\xC0\xC0\xC6\xF7\0", 11));
    // Set out of order, then one set again in other letter case.
    for (const char* name : {"C", "A", "B"}) scratch.AddValue(s + "Reset", name, REG_SZ, std::string("old\0", 4));
    scratch.AddValue(s + "Reset", "b", REG_SZ, std::string("new\0", 4));
    const std::string path260 = s + "Exact\\" + std::string(260 - s.size() - 6, 'e');
    scratch.AddKey(path260 + "\\f");
    const std::string made32 = std::string(ViewProbeKey) + "\\Made in the 32-bit view";
    const std::string made64 = std::string(ViewProbeKey) + "\\Made in the 64-bit view";
    scratch.AddViewKey(made32, KEY_WOW64_32KEY);
    scratch.AddViewKey(made64, KEY_WOW64_64KEY);

    // Paths open without regard to letter case, with or without a trailing
    // backslash; a missing key is ERROR_FILE_NOT_FOUND. No path, or an empty
    // one, opens the root itself.
    for (const std::string& path : {s + "Case\\Alpha", s + "CASE\\alpha", s + "case\\ALPHA\\", s + "Case"}) {
        const LONG result = TryOpen(root, path);
        CHECK(result == ERROR_SUCCESS, "open " + path + Code(result));
    }
    const LONG missing = TryOpen(root, s + "Case\\Gamma");
    CHECK(missing == ERROR_FILE_NOT_FOUND, "a missing key is ERROR_FILE_NOT_FOUND" + Code(missing));
    for (const char* path : {static_cast<const char*>(nullptr), ""}) {
        HKEY key = nullptr;
        const LONG result = RegOpenKeyExA(root, path, 0, KEY_READ, &key);
        CHECK(result == ERROR_SUCCESS, std::string(path ? "an empty path" : "no path") + " opens the root" + Code(result));
        if (result == ERROR_SUCCESS && key != root) RegCloseKey(key);
    }
    {
        HKEY key = nullptr;
        DWORD count = 0;
        LONG result = RegOpenKeyExA(root, (s + "Case").c_str(), 0, KEY_READ, &key);
        if (result == ERROR_SUCCESS) {
            result = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr,
                                      nullptr, nullptr, nullptr);
            RegCloseKey(key);
        }
        CHECK(result == ERROR_SUCCESS && count == 3, "RegQueryInfoKeyA counts 3 subkeys" + Code(result));
    }

    // Subkeys enumerate sorted, letter case ignored, whatever order they were made in.
    CHECK(Subkeys(root, s + "Case") == (std::vector<std::string>{"Alpha", "beta", "zeta"}),
          "subkeys enumerate as Alpha, beta, zeta");
    // GBK names sort by their UTF-16 code units, not their bytes; a GBK
    // character whose second byte is '\' is one name.
    CHECK(Subkeys(root, s + "Gbk") == (std::vector<std::string>{"b", "\x81\x41", "\x81\x5C", "\x81\x61",
                                                                 "\xCE\xA2\xD0\xC5", "\xB3\xCC\xD0\xF2"}),
          "GBK subkeys enumerate in UTF-16 order: b, U+4E04, U+4E57, U+4E64, U+5FAE, U+7A0B");
    const LONG gbk = TryOpen(root, s + "Gbk\\\x81\x5C");
    CHECK(gbk == ERROR_SUCCESS, "a GBK name with a '\\' second byte opens" + Code(gbk));
    const LONG leadByte = TryOpen(root, s + "Gbk\\\x81");
    CHECK(leadByte == ERROR_FILE_NOT_FOUND, "a lone GBK lead byte names no key" + Code(leadByte));

    // Subkey names: 254 characters fit the 255-character buffer, 255 do not.
    {
        HKEY key = nullptr;
        CHECK(RegOpenKeyExA(root, (s + "Long").c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS, "open Long");
        Filled<SubkeyNameBufferSize> name;
        DWORD length = sizeof name.Bytes;
        LONG result = RegEnumKeyExA(key, 0, name.Bytes, &length, nullptr, nullptr, nullptr, nullptr);
        CHECK(result == ERROR_SUCCESS && length == 254 && name.Text() == std::string(254, 'n'),
              "a 254-character subkey name fits" + Code(result));
        Filled<SubkeyNameBufferSize> tooLong;
        length = sizeof tooLong.Bytes;
        result = RegEnumKeyExA(key, 1, tooLong.Bytes, &length, nullptr, nullptr, nullptr, nullptr);
        CHECK(result == ERROR_MORE_DATA, "a 255-character subkey name is ERROR_MORE_DATA" + Code(result));
        CHECK(tooLong.Untouched(), "a subkey name that does not fit leaves the buffer as it was");
        // The end of the enumeration.
        length = sizeof name.Bytes;
        result = RegEnumKeyExA(key, 2, name.Bytes, &length, nullptr, nullptr, nullptr, nullptr);
        CHECK(result == ERROR_NO_MORE_ITEMS, "past the last subkey is ERROR_NO_MORE_ITEMS" + Code(result));
        RegCloseKey(key);
    }

    // Value names: 259 characters fit the 260-character buffer.
    {
        const Enumerated fits = EnumerateValue(root, s + "Name259", 0);
        CHECK(fits.Result == ERROR_SUCCESS && fits.NameLength == 259 &&
                  fits.Name.Text() == std::string(259, 'a'),
              "a 259-character value name fits" + Code(fits.Result));
        CHECK(EnumerateValue(root, s + "Name259", 1).Result == ERROR_NO_MORE_ITEMS,
              "past the last value is ERROR_NO_MORE_ITEMS");
    }
    // 260 characters do not: ERROR_MORE_DATA, the name length as passed, the
    // name cut to 259 characters or left as it was (Windows versions differ),
    // never a 260-character name read as whole.
    {
        const Enumerated over = EnumerateValue(root, s + "Name260", 0);
        CHECK(over.Result == ERROR_MORE_DATA, "a 260-character value name is ERROR_MORE_DATA" + Code(over.Result));
        CHECK(over.NameLength == 260, "the name length stays as passed");
        CHECK(over.Name.Untouched() || over.Name.Text() == std::string(259, 'b'),
              "the name is cut to 259 characters with a NUL, or left as it was");
    }

    // Data of 1,023 and 1,024 bytes fits the 1,024-byte buffer, byte for byte.
    for (const std::size_t size : {1023u, 1024u}) {
        const Enumerated fits = EnumerateValue(root, s + "Data" + std::to_string(size), 0);
        CHECK(fits.Result == ERROR_SUCCESS && fits.DataLength == size && fits.Type == REG_SZ &&
                  std::memcmp(fits.Data.Bytes, (std::string(size - 1, 'd') + '\0').data(), size) == 0,
              std::to_string(size) + " bytes of data fit" + Code(fits.Result));
    }
    // 1,025 bytes do not: ERROR_MORE_DATA with the type and the size needed,
    // and the name, its length and the data left as they were. (On Chinese,
    // Japanese and Korean Windows the size may come back larger than needed.)
    {
        const Enumerated over = EnumerateValue(root, s + "Data1025", 0);
        CHECK(over.Result == ERROR_MORE_DATA, "1,025 bytes of data are ERROR_MORE_DATA" + Code(over.Result));
        CHECK(over.Type == REG_SZ, "the type is given");
        CHECK(over.DataLength >= 1025, "the size needed is given, got " + std::to_string(over.DataLength));
        CHECK(over.Name.Untouched(), "the name buffer is left as it was");
        CHECK(over.NameLength == 260, "the name length is left as it was");
        CHECK(over.Data.Untouched(), "the data buffer is left as it was");
    }

    // REG_EXPAND_SZ comes back unexpanded, with its type.
    {
        const Enumerated value = EnumerateValue(root, s + "Expand", 0);
        CHECK(value.Result == ERROR_SUCCESS && value.Type == REG_EXPAND_SZ && value.DataLength == 19 &&
                  std::memcmp(value.Data.Bytes, "%SystemDrive%\\Apps\0", 19) == 0,
              "REG_EXPAND_SZ is handed out unexpanded" + Code(value.Result));
    }
    // REG_BINARY and REG_DWORD come back as their bytes, zeros included.
    {
        const Enumerated binary = EnumerateValue(root, s + "Binary", 0);
        CHECK(binary.Result == ERROR_SUCCESS && binary.Type == REG_BINARY && binary.DataLength == 4 &&
                  std::memcmp(binary.Data.Bytes, "G\0\xFF" "A", 4) == 0 && binary.Data.Bytes[4] == '#',
              "REG_BINARY is its bytes, nothing added" + Code(binary.Result));
        const Enumerated dword = EnumerateValue(root, s + "Dword", 0);
        CHECK(dword.Result == ERROR_SUCCESS && dword.Type == REG_DWORD && dword.DataLength == 4 &&
                  std::memcmp(dword.Data.Bytes, "ABC\0", 4) == 0 && dword.Data.Bytes[4] == '#',
              "REG_DWORD is its four bytes, nothing added" + Code(dword.Result));
    }
    // GBK names and text come back as the same bytes under code page 936.
    {
        const Enumerated value = EnumerateValue(root, s + "GbkValue", 0);
        CHECK(value.Result == ERROR_SUCCESS && value.NameLength == 4 &&
                  std::memcmp(value.Name.Bytes, "\xC3\xFB\xB3\xC6\0", 5) == 0 && value.DataLength == 11 &&
                  std::memcmp(value.Data.Bytes, "\xCC\xDA\xD1\xB6\xE4\xAF\xC0\xC0\xC6\xF7\0", 11) == 0,
              "a GBK value name and text round-trip byte for byte" + Code(value.Result));
    }

    // A key holds one value of a name, ASCII letters in either case: setting it again
    // replaces the data where the value stands and keeps the name's spelling.
    {
        std::string values;
        for (DWORD index = 0; index < 4; ++index) {  // a fourth value would show
            const Enumerated value = EnumerateValue(root, s + "Reset", index);
            if (value.Result == ERROR_SUCCESS) values += value.Name.Text() + "=" + value.Data.Text() + " ";
        }
        const char* expected = platform.ValuesSorted ? "A=old B=new C=old " : "C=old A=old B=new ";
        CHECK(values == expected, std::string("values enumerate as ") + expected);
    }

    // A path of 260 characters opens; one of more may not.
    const LONG at260 = TryOpen(root, path260);
    CHECK(at260 == ERROR_SUCCESS, "a path of 260 characters opens" + Code(at260));
    const LONG over260 = TryOpen(root, path260 + "\\f");
    CHECK(over260 == (platform.LongPathsFail ? ERROR_MORE_DATA : ERROR_SUCCESS),
          std::string("a path over 260 characters ") + (platform.LongPathsFail ? "fails with ERROR_MORE_DATA" : "opens") +
              Code(over260));

    // The registry views, through the launcher's access masks: IsWow64Process
    // tells 64-bit Windows, where a key made in one view is absent from the
    // other; 32-bit Windows ignores the view flags and has one.
    const bool twoViews = scratch.SixtyFourBitWindows;
    CHECK(HasSixtyFourBitView() == twoViews,
          std::string("IsWow64Process tells ") + (twoViews ? "64-bit" : "32-bit") + " Windows");
    const struct {
        const std::string& Path;
        REGSAM Access;
        bool Seen;
        const char* What;
    } views[] = {{made32, ThirtyTwoBitViewAccess, true, "a 32-bit view key in the 32-bit view"},
                 {made64, SixtyFourBitViewAccess, true, "a 64-bit view key in the 64-bit view"},
                 {made32, SixtyFourBitViewAccess, !twoViews, "a 32-bit view key in the 64-bit view"},
                 {made64, ThirtyTwoBitViewAccess, !twoViews, "a 64-bit view key in the 32-bit view"}};
    for (const auto& v : views) {
        const LONG result = TryOpen(HKEY_LOCAL_MACHINE, v.Path, v.Access);
        CHECK(result == (v.Seen ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND),
              std::string(v.What) + (v.Seen ? " opens" : " is absent") + Code(result));
    }

    // Access rights: reading HKLM always works, and so does writing in the
    // user's own hive; writing elsewhere only with full rights.
    const LONG read = TryOpen(HKEY_LOCAL_MACHINE, "SOFTWARE");
    CHECK(read == ERROR_SUCCESS, "HKLM\\SOFTWARE opens for reading" + Code(read));
    const LONG own = TryOpen(root, scratch.Path, KEY_ALL_ACCESS);
    CHECK(own == ERROR_SUCCESS, "KEY_ALL_ACCESS opens in the user's own hive" + Code(own));
    const struct {
        HKEY Root;
        const char* Path;
        REGSAM Access;
    } writes[] = {{HKEY_LOCAL_MACHINE, "SOFTWARE", KEY_ALL_ACCESS},
                  {HKEY_LOCAL_MACHINE, "SOFTWARE", KEY_WRITE},
                  {HKEY_USERS, "", KEY_ALL_ACCESS},
                  {HKEY_USERS, ".DEFAULT", KEY_ALL_ACCESS}};
    for (const auto& w : writes) {
        const LONG write = TryOpen(w.Root, w.Path, w.Access);
        CHECK(write == (platform.WritesOutsideOwnHiveDenied ? ERROR_ACCESS_DENIED : ERROR_SUCCESS),
              std::string("write access to ") + (w.Root == HKEY_USERS ? "HKU\\" : "HKLM\\") + w.Path + " " +
                  (platform.WritesOutsideOwnHiveDenied ? "is ERROR_ACCESS_DENIED" : "opens") + Code(write));
    }
    return report.Failures;
}

namespace {

// Plain text, GBK (提示), every byte from 0x80 to 0xFF, an empty string, a
// lone line end, and a string of 1,023 bytes: a debugger gets each as it is.
std::vector<std::string> TraceProbeStrings() {
    std::string high;
    for (int byte = 0x80; byte <= 0xFF; ++byte) high += static_cast<char>(byte);
    return {"Google Chrome", "\xCC\xE1\xCA\xBE", high, "", "\n", std::string(1023, 'L')};
}

}  // namespace

void WriteTraceProbes() {
    for (const std::string& text : TraceProbeStrings()) OutputDebugStringA(text.c_str());
}

std::vector<std::string> CheckTraceProbes(const std::vector<std::string>& received) {
    Report report;
    const std::vector<std::string> sent = TraceProbeStrings();
    CHECK(received.size() == sent.size(), "one debug string per call: " + std::to_string(sent.size()) +
                                              " sent, " + std::to_string(received.size()) + " received");
    for (std::size_t i = 0; i < sent.size() && i < received.size(); ++i)
        CHECK(received[i] == sent[i], "debug string " + std::to_string(i + 1) + " arrives byte for byte");
    return report.Failures;
}
