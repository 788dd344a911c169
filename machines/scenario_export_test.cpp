// The one reader of scenario files, what it exports for the Wine runs, and the
// random machines compared with Wine.
#include "launcher/constants.h"
#include "machines/random_machine.h"
#include "machines/scenario_export.h"
#include "machines/scenario.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using machines::Scenario;
using machines::ScenarioRoot;

#define UNINSTALL "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall"
#define USER_UNINSTALL "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"

Scenario Parse(const std::string& text) {
    Scenario scenario;
    std::string error;
    EXPECT_TRUE(machines::ParseScenario(text, scenario, error)) << error;
    return scenario;
}

std::string ParseError(const std::string& text) {
    Scenario scenario;
    std::string error;
    EXPECT_FALSE(machines::ParseScenario(text, scenario, error)) << text;
    return error;
}

TEST(ParseScenario, RejectsWhatTheFormatDoesNotAllowNamingTheLine) {
    EXPECT_EQ(ParseError("# a comment\nkey HKCU\n"), "line 2: expected key HKLM|HKLM64|HKU|HKCU\\path: key HKCU");
    EXPECT_NE(ParseError("key HKCU\\\n").find("line 1"), std::string::npos);
    EXPECT_NE(ParseError("key HKCR\\Software\n").find("line 1"), std::string::npos);
    // Keys the Wine runs could not take back: outside the uninstall keys, or in the user's hive by its SID.
    for (const char* key : {"key HKLM64\\SYSTEM\\K\n", "key HKCU\\Software\\KestloHarnessLeak\n",
                            "key HKU\\S-1-5-21-0-0-0-1000\\Software\\Leak\n", "key HKU\\.DEFAULT\\Software\n"})
        EXPECT_NE(ParseError(key).find("keys only below the uninstall keys"), std::string::npos) << key;
    EXPECT_NE(ParseError("value DisplayName sz Chrome\n").find("value before any key"), std::string::npos);
    EXPECT_NE(ParseError("key HKU\\H\nvalue V qword 1\n").find("line 2"), std::string::npos);
    EXPECT_NE(ParseError("key HKU\\H\nvalue V dword 0x100000000\n").find("line 2"), std::string::npos);
    EXPECT_NE(ParseError("key HKU\\H\nvalue V binary 4\n").find("line 2"), std::string::npos);
    EXPECT_NE(ParseError("expect start C:\\a.exe\nexpect message\n").find("not both"), std::string::npos);
    EXPECT_NE(ParseError("repeat 2\nkey HKU\\H{n}\n").find("repeat without end"), std::string::npos);
    // One value of a name per key, letter case ignored, also when the key is named twice, under either name.
    EXPECT_NE(ParseError("key HKU\\H\nvalue V sz a\nkey HKU\\h\\\nvalue v dword 1\n").find("line 4"), std::string::npos);
    EXPECT_NE(ParseError("key HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\nvalue V sz a\n"
                         "key HKU\\S-1-5-21-0-0-0-1000\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\n"
                         "value v sz b\n").find("line 4"), std::string::npos);
}

TEST(ParseScenario, ReadsEachTypeAsTheBytesTheRegistryHandsOut) {
    const Scenario scenario = Parse(
        "key HKLM\\" UNINSTALL "\\K\\\n"
        "value S sz \xE8\x85\xBE\xE8\xAE\xAF\n"  // 腾讯 in UTF-8 becomes GBK
        "value E expand_sz %SystemDrive%\\x\n"
        "value D dword 0x434241\n"
        "value B binary 47 00 ff\n"
        "key HKLM64\\software\\microsoft\\windows\\currentversion\\uninstall\\Other\n"
        "key HKCU\\" USER_UNINSTALL "\\Mine\n"
        "repeat 2\nkey HKU\\H{n}\nend\n");
    ASSERT_EQ(scenario.Keys.size(), 5u);
    EXPECT_EQ(scenario.Keys[0].Path, UNINSTALL "\\K");  // trailing backslash dropped
    const auto& values = scenario.Keys[0].Values;
    ASSERT_EQ(values.size(), 4u);
    EXPECT_EQ(values[0].Data, std::string("\xCC\xDA\xD1\xB6\0", 5));
    EXPECT_EQ(values[1].Type, REG_EXPAND_SZ);
    EXPECT_EQ(values[1].Data, std::string("%SystemDrive%\\x\0", 16));
    EXPECT_EQ(values[2].Data, std::string("ABC\0", 4));
    EXPECT_EQ(values[3].Data, std::string("G\0\xFF", 3));
    EXPECT_EQ(scenario.Keys[1].Root, ScenarioRoot::Machine64);
    EXPECT_EQ(scenario.Keys[2].Root, ScenarioRoot::CurrentUser);
    EXPECT_EQ(scenario.Keys[4].Path, "H1");

    // The stand-in is a 64-bit Windows with the key in its 64-bit view only,
    // and HKCU under its user's hive.
    standin::StandInMachine machine;
    machine.UserSid = "S-1-5-21-1-2-3-1001";
    machines::BuildMachine(scenario, machine);
    EXPECT_NE(machine.FindKey(HKEY_USERS, "S-1-5-21-1-2-3-1001\\" USER_UNINSTALL "\\Mine"), nullptr);
    EXPECT_TRUE(machine.Is64BitWindows);
    EXPECT_NE(machine.FindKey(HKEY_LOCAL_MACHINE, UNINSTALL "\\Other", standin::RegistryView::SixtyFourBit), nullptr);
    EXPECT_EQ(machine.FindKey(HKEY_LOCAL_MACHINE, UNINSTALL "\\Other"), nullptr);
    EXPECT_EQ(machine.Behaviour, standin::Flavour::Wine);
}

// The .reg file as text: every other byte of UTF-16LE after the mark,
// for the ASCII parts.
std::string Ascii(const std::string& utf16) {
    std::string text;
    for (std::size_t i = 2; i + 1 < utf16.size(); i += 2) text += utf16[i + 1] == 0 ? utf16[i] : '?';
    return text;
}

TEST(ExportRegFile, WritesEachViewAsUtf16WithTextInUtf16AndOtherTypesAsBytes) {
    const Scenario scenario = Parse(
        "key HKLM\\" UNINSTALL "\\\xE4\xB9\x97\n"  // 乗: GBK 81 5C, whose second byte is '\'
        "value \xE5\x90\x8D sz \xE8\x85\xBE\n"  // 名 = 腾
        "value D dword 1\n"
        "key HKCU\\" USER_UNINSTALL "\\Mine\n"
        "key HKLM64\\" UNINSTALL "\\Other\n");
    const std::string own = machines::ExportRegFile(scenario, false, "S-1-5-21-0-0-0-1000");
    ASSERT_GE(own.size(), 2u);
    EXPECT_EQ(own.substr(0, 2), "\xFF\xFE");
    // 乗 is U+4E57 in the key name, not two characters around a separator.
    EXPECT_NE(own.find(std::string("\\\x00\x57\x4E]\x00", 6)), std::string::npos);
    EXPECT_NE(Ascii(own).find("[HKEY_USERS\\S-1-5-21-0-0-0-1000\\" USER_UNINSTALL "\\Mine]"), std::string::npos);
    EXPECT_NE(Ascii(own).find("=hex(1):7e,81,00,00\r\n"), std::string::npos);  // 腾 is U+817E, then the NUL
    EXPECT_NE(Ascii(own).find("\"D\"=hex(4):01,00,00,00"), std::string::npos);
    EXPECT_EQ(Ascii(own).find("Other"), std::string::npos);
    const std::string other = machines::ExportRegFile(scenario, true, "S-1-5-21-0-0-0-1000");
    EXPECT_NE(Ascii(other).find("[HKEY_LOCAL_MACHINE\\" UNINSTALL "\\Other]"), std::string::npos);
    EXPECT_EQ(Ascii(other).find("Mine"), std::string::npos);
    EXPECT_EQ(machines::ExportRegFile(Parse("key HKLM\\" UNINSTALL "\n"), true, "S-1-5-18"), "");
}

TEST(ExportFiles, GivesEachPathInUtf8) {
    EXPECT_EQ(machines::ExportFiles(Parse("file C:\\\xE6\xB5\x8F\\Chrome.exe\n"), true),
              "{\"files\": [\"C:\\\\\xE6\xB5\x8F\\\\Chrome.exe\"], \"sixty_four_bit\": false, \"user_uninstall_key\": true}\n");
}

TEST(RandomMachine, TheSameSeedIsTheSameMachineAndTheSeedsReachEveryKindOfEntry) {
    const Scenario first = machines::RandomMachine(7), again = machines::RandomMachine(7);
    EXPECT_EQ(machines::ExportRegFile(first, false, "S"), machines::ExportRegFile(again, false, "S"));
    EXPECT_EQ(first.Files, again.Files);
    EXPECT_NE(machines::ExportRegFile(first, false, "S"), machines::ExportRegFile(machines::RandomMachine(8), false, "S"));

    bool otherView = false, user = false, otherHive = false, gbkName = false, longName = false, longValueName = false;
    bool data1024 = false, data1025 = false, expandable = false, trailing = false, lowerCase = false, oddType = false;
    for (std::uint64_t seed = 1; seed <= 100; ++seed) {
        for (const machines::ScenarioKey& key : machines::RandomMachine(seed).Keys) {
            otherView |= key.Root == ScenarioRoot::Machine64;
            user |= key.Root == ScenarioRoot::CurrentUser;
            otherHive |= key.Root == ScenarioRoot::Users;
            const std::string name = key.Path.substr(key.Path.rfind('\\') + 1);
            gbkName |= static_cast<unsigned char>(name[0]) >= 0x81;
            longName |= name.size() == 255;
            for (const machines::ScenarioValue& value : key.Values) {
                longValueName |= value.Name.size() >= 260;
                data1024 |= value.Data.size() == 1024;
                data1025 |= value.Data.size() == 1025;
                expandable |= value.Type == REG_EXPAND_SZ && value.Data.find('%') != std::string::npos;
                trailing |= value.Name == "InstallLocation" && value.Data.size() > 2 &&
                            value.Data[value.Data.size() - 2] == '\\';
                lowerCase |= value.Name == "displayname" || value.Name == "INSTALLLOCATION";
                oddType |= value.Type == REG_NONE || value.Type == REG_MULTI_SZ || value.Type == REG_DWORD;
            }
        }
    }
    EXPECT_TRUE(otherView && user && otherHive);
    EXPECT_TRUE(gbkName && longName && longValueName);
    EXPECT_TRUE(data1024 && data1025);
    EXPECT_TRUE(expandable && trailing && lowerCase && oddType);
}

}  // namespace
