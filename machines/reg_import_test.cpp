#include "machines/reg_import.h"

#include <gtest/gtest.h>

namespace {

using machines::RegImport;
using machines::ScenarioRoot;
using namespace std::string_literals;

const std::string Header = "Windows Registry Editor Version 5.00\r\n\r\n";
const std::string MachineKey = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\App]\r\n";

// The file as reg.exe writes it: UTF-16LE after a byte-order mark.
std::string Utf16File(const std::string& utf8) { return "\xFF\xFE" + machines::Utf8ToUtf16Le(utf8); }

RegImport Read(const std::string& bytes) {
    RegImport read;
    std::string error;
    EXPECT_TRUE(machines::ReadRegExport(bytes, "member.reg", read, error)) << error;
    return read;
}

TEST(ReadRegExport, EachValueFormGivesWhatRegEnumValueAHandsOut) {
    const struct {
        const char* Line;
        DWORD Type;
        std::string Data;
    } cases[] = {
        {"\"DisplayName\"=\"Google Chrome\"", REG_SZ, std::string("Google Chrome\0", 14)},
        {"\"P\"=\"C:\\\\Program Files\\\\\\\"x\\\"\"", REG_SZ, std::string("C:\\Program Files\\\"x\"\0", 21)},
        {"\"P\"=hex(2):25,00,41,00,25,00,00,00", REG_EXPAND_SZ, std::string("%A%\0", 4)},  // unexpanded, UTF-16 to ANSI
        {"\"M\"=hex(7):61,00,00,00,62,00,00,00,00,00", REG_MULTI_SZ, std::string("a\0b\0\0", 5)},
        {"\"N\"=hex(0):", REG_NONE, ""},
        {"\"D\"=dword:00434241", REG_DWORD, "ABC\0"s},
        {"\"B\"=hex:47,00,ff", REG_BINARY, std::string("G\0\xFF", 3)},
        {"\"Q\"=hex(b):01,02", 11, "\x01\x02"},  // REG_QWORD: any other type, byte for byte
        {"@=\"default\"", REG_SZ, std::string("default\0", 8)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Line);
        const RegImport read = Read(Utf16File(Header + MachineKey + c.Line + "\r\n"));
        ASSERT_EQ(read.Machine.Keys.size(), 1u);
        ASSERT_EQ(read.Machine.Keys[0].Values.size(), 1u);
        const machines::ScenarioValue& value = read.Machine.Keys[0].Values[0];
        EXPECT_EQ(value.Name, c.Line[0] == '@' ? "" : std::string(c.Line + 1, std::string(c.Line).find('"', 1) - 1));
        EXPECT_EQ(value.Type, c.Type);
        EXPECT_EQ(value.Data, c.Data);
    }
}

TEST(ReadRegExport, JoinsContinuedLinesAndSkipsComments) {
    const RegImport read = Read(Utf16File(Header + MachineKey + "; a comment\r\n"
                                          "\"InstallLocation\"=hex(2):43,00,3a,00,\\\r\n"
                                          "  5c,00,41,00,00,00\r\n"
                                          "\"DisplayName\"=\"Ends with a backslash\\\\\"\r\n"));
    ASSERT_EQ(read.Machine.Keys[0].Values.size(), 2u);
    EXPECT_EQ(read.Machine.Keys[0].Values[0].Data, std::string("C:\\A\0", 5));
    EXPECT_EQ(read.Machine.Keys[0].Values[1].Data, std::string("Ends with a backslash\\\0", 23));
}

TEST(ReadRegExport, PlacesTheUninstallKeysInTheirViewsAndCountsTheRest) {
    const RegImport read = Read(Utf16File(
        Header + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\A]\r\n" +
        "[hkey_local_machine\\software\\microsoft\\windows\\currentversion\\uninstall]\r\n" +
        "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\B]\r\n" +
        "[HKEY_USERS\\S-1-5-21-1-2-3-1001\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\C]\r\n" +
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\UninstallOther]\r\n" +
        "\"DisplayName\"=\"ignored with its key\"\r\n" +
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes]\r\n" +
        "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\D]\r\n"));
    const std::string machine = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
    const std::string user = "Software" + machine.substr(8);
    // The WOW6432Node form names the 32-bit view, so the plain one is the 64-bit view.
    std::vector<std::pair<ScenarioRoot, std::string>> placed;
    for (const machines::ScenarioKey& key : machines::ReplayedMachine(read).Keys) placed.emplace_back(key.Root, key.Path);
    EXPECT_EQ(placed, (decltype(placed){{ScenarioRoot::Machine, machine + "\\A"}, {ScenarioRoot::Machine64, machine},
                                        {ScenarioRoot::CurrentUser, user + "\\B"},
                                        {ScenarioRoot::CurrentUser, user + "\\C"}}));
    EXPECT_EQ(read.UserSid, "S-1-5-21-1-2-3-1001");
    EXPECT_EQ(read.IgnoredKeys, 3u);
    // Without the WOW6432Node form anywhere, the plain one is a 32-bit Windows' one view.
    EXPECT_EQ(machines::ReplayedMachine(Read(Utf16File(Header + MachineKey))).Keys[0].Root, ScenarioRoot::Machine);
}

TEST(ReadRegExport, TextBecomesGbkInEveryEncoding) {
    // 腾讯QQ as a subkey, a value name and text; 😀 is not in GBK: '?', as the "A" functions give.
    const std::string body = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\腾讯QQ]\r\n"
                             "\"名称\"=\"腾讯QQ\"\r\n";
    const std::string gbkQq = "\xCC\xDA\xD1\xB6QQ";
    // reg.exe's UTF-16, UTF-8 after its mark, Notepad's "ANSI" save of either header (GBK, no mark).
    for (const std::string& file : {Utf16File(Header + body), "\xEF\xBB\xBF" + Header + body,
                                    machines::Utf8ToGbk(Header + body), machines::Utf8ToGbk("REGEDIT4\r\n\r\n" + body)}) {
        const RegImport read = Read(file);
        ASSERT_EQ(read.Machine.Keys.size(), 1u);
        EXPECT_EQ(read.Machine.Keys[0].Path, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + gbkQq);
        EXPECT_EQ(read.Machine.Keys[0].Values[0].Name, "\xC3\xFB\xB3\xC6");
        EXPECT_EQ(read.Machine.Keys[0].Values[0].Data, gbkQq + '\0');
    }
    const RegImport emoji = Read(Utf16File(Header + MachineKey + "\"DisplayName\"=\"A\xF0\x9F\x98\x80\"\r\n"));
    EXPECT_EQ(emoji.Machine.Keys[0].Values[0].Data.substr(0, 1), "A");
    EXPECT_EQ(emoji.Machine.Keys[0].Values[0].Data.find_first_not_of("A?"), emoji.Machine.Keys[0].Values[0].Data.size() - 1);
}

TEST(ReadRegExport, BadInputNamesTheFileTheLineAndWhatWasExpected) {
    const struct {
        std::string File;
        const char* Message;
    } cases[] = {
        {"not a registry file\r\n", "member.reg:1: expected \"Windows Registry Editor Version 5.00\" or \"REGEDIT4\""},
        {Header + "\"DisplayName\"=\"x\"\r\n", "member.reg:3: expected [key] before the first value"},
        {Header + "[HKEY_LOCAL_MACHINE\\SOFTWARE\r\n", "member.reg:3: expected ] at the end of the key's line"},
        {Header + MachineKey + "DisplayName=x\r\n", "member.reg:4: expected [key], \"name\"=value or @=value"},
        {Header + MachineKey + "\"DisplayName=x\r\n", "member.reg:4: expected the value's name to end with \""},
        {Header + MachineKey + "\"DisplayName\" \"x\"\r\n", "member.reg:4: expected = after the value's name"},
        {Header + MachineKey + "\"D\"=\"x\r\n", "member.reg:4: expected text in quotes, ending with \""},
        {Header + MachineKey + "\"D\"=text\r\n", "member.reg:4: expected \"text\", dword:XXXXXXXX, hex:..."},
        {Header + MachineKey + "\"D\"=dword:123456789\r\n", "member.reg:4: expected dword: and up to eight hex digits"},
        {Header + MachineKey + "\"D\"=hex:4,00\r\n", "member.reg:4: expected hex bytes such as 43,00,3a,00"},
        {Header + MachineKey + "\"D\"=hex(2):41,00,\\\r\n", "member.reg:4: expected another line after the trailing \\"},
        {Header + "[HKEY_USERS\\S-1-x\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall]\r\n",
         "member.reg:3: expected a SID such as S-1-5-21-...-1001"},
        {Header + "[HKEY_USERS\\S-1-5-21-1\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall]\r\n"
                  "[HKEY_USERS\\S-1-5-21-2\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall]\r\n",
         "member.reg:4: expected one user's keys, but the exports name S-1-5-21-1 and S-1-5-21-2"},
        {"\xFF\xFE\x41", "member.reg: UTF-16 text of an odd number of bytes"},
        {"\xFE\xFF\x00\x41", "member.reg:1: expected UTF-16 little-endian"},
        {Header + MachineKey + "\"D\"=\"\x81\"\r\n", "member.reg:4: expected GBK text (code page 936)"},
        {"\xEF\xBB\xBF" + Header + MachineKey + "\"D\"=\"\xE8\x85\"\r\n", "member.reg:4: expected UTF-8 text"},
        // Key paths and names that Windows cannot hold, in keys the launcher reads or not.
        {Header + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\\\Google Chrome]\r\n",
         "member.reg:3: expected a key path without empty names"},
        {Header + "[HKEY_CURRENT_USER\\Software\\]\r\n", "member.reg:3: expected a key path without empty names"},
        {Header + "[-HKEY_LOCAL_MACHINE\\" + std::string(256, 'n') + "]\r\n",
         "member.reg:3: expected key names of at most 255 characters"},
        {Header + "[HKEY_LOCAL_MACHINE" + [] { std::string deep; for (int i = 0; i < 513; ++i) deep += "\\d"; return deep; }() +
             "]\r\n", "member.reg:3: expected keys at most 512 levels deep"},
        {Header + MachineKey + "\"" + std::string(16384, 'v') + "\"=\"x\"\r\n",
         "member.reg:4: expected value names of at most 16,383 characters"},
        {Header + "[HKEY_LOCAL_MACHINE\\A" + std::string(1, '\0') + "B]\r\n", "member.reg:3: expected key names of printable"},
        {Header + MachineKey + "\"Display\\0Name\"=\"x\"\r\n", "member.reg:4: expected value names of printable"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Message);
        RegImport read;
        read.IgnoredKeys = 7;  // what an earlier file left: kept as it was
        std::string error;
        EXPECT_FALSE(machines::ReadRegExport(c.File, "member.reg", read, error));
        EXPECT_EQ(error.rfind(c.Message, 0), 0u) << error;
        EXPECT_TRUE(read.Machine.Keys.empty());
        EXPECT_EQ(read.IgnoredKeys, 7u);
    }
}

}  // namespace
