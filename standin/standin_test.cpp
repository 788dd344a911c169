// Probes of the stand-in's registry: the behaviour of Windows that discovery
// relies on. Buffers are pre-filled with '#' so that an unexpected write shows.
#include "standin/standin_machine.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using standin::RegistryCall;
using standin::StandInMachine;

HKEY Open(HKEY root, const char* path) {
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(root, path, 0, KEY_READ, &key), ERROR_SUCCESS) << path;
    return key;
}

TEST(StandInRegistry, OpensKeysCaseInsensitivelyWithOrWithoutTrailingBackslash) {
    StandInMachine machine;
    machine.AddKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor\\App");
    for (const char* path : {"SOFTWARE\\Vendor\\App", "software\\vendor\\APP\\", "Software\\Vendor"})
        RegCloseKey(Open(HKEY_LOCAL_MACHINE, path));
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Other", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\\\Vendor", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    RegCloseKey(Open(HKEY_USERS, nullptr));  // no path: the root itself
    RegCloseKey(Open(HKEY_USERS, ""));
    EXPECT_EQ(machine.OpenHandleCount(), 0u);
}

TEST(StandInRegistry, EnumeratesSubkeysInRegistryOrderAndRejectsNamesThatDoNotFit) {
    StandInMachine machine;
    machine.AddKey(HKEY_LOCAL_MACHINE, "K\\zeta");
    machine.AddKey(HKEY_LOCAL_MACHINE, "K\\Alpha");
    machine.AddKey(HKEY_LOCAL_MACHINE, "K\\" + std::string(255, 'n'));
    HKEY key = Open(HKEY_LOCAL_MACHINE, "K");
    DWORD count = 0;
    EXPECT_EQ(RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(count, 3u);
    char name[255] = {};
    DWORD length = sizeof name;
    std::memset(name, '#', sizeof name);
    EXPECT_EQ(RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_STREQ(name, "Alpha");
    EXPECT_EQ(length, 5u);
    length = sizeof name;
    std::memset(name, '#', sizeof name);
    EXPECT_EQ(RegEnumKeyExA(key, 1, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);  // 255 + NUL
    EXPECT_EQ(name[0], '#');
    length = sizeof name;
    EXPECT_EQ(RegEnumKeyExA(key, 2, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_STREQ(name, "zeta");
    length = sizeof name;
    EXPECT_EQ(RegEnumKeyExA(key, 3, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
    RegCloseKey(key);
}

// Found by comparing random machines with Wine: the registry orders names by
// their UTF-16 code units, not by their GBK bytes, and a GBK character's
// second byte is never a separator or a letter to fold.
TEST(StandInRegistry, GbkNamesSortAsUtf16AndKeepTheirSecondBytes) {
    StandInMachine machine;
    machine.AddKey(HKEY_LOCAL_MACHINE, "K\\\xB3\xCC\xD0\xF2");  // 程序, U+7A0B: GBK B3 CC
    machine.AddKey(HKEY_LOCAL_MACHINE, "K\\\xCE\xA2\xD0\xC5");  // 微信, U+5FAE: GBK CE A2
    machine.AddKey(HKEY_LOCAL_MACHINE, "K\\b");
    machine.AddKey(HKEY_LOCAL_MACHINE, "K\\\x81\x5C");            // 乗: its second byte is '\\'
    machine.AddKey(HKEY_LOCAL_MACHINE, "K\\\x81\x41");            // 丄 and 乤: second bytes 'A' and 'a'
    machine.AddKey(HKEY_LOCAL_MACHINE, "K\\\x81\x61");
    HKEY key = Open(HKEY_LOCAL_MACHINE, "K");
    std::vector<std::string> names;
    char name[255] = {};
    DWORD length = sizeof name;
    for (DWORD index = 0; RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
         ++index, length = sizeof name)
        names.emplace_back(name, length);
    RegCloseKey(key);
    // b, then U+4E04 丄, U+4E64 乤, U+4E57 乗... in code unit order: 4E04 < 4E57 < 4E64 < 5FAE < 7A0B.
    EXPECT_EQ(names, (std::vector<std::string>{"b", "\x81\x41", "\x81\x5C", "\x81\x61", "\xCE\xA2\xD0\xC5",
                                               "\xB3\xCC\xD0\xF2"}));
    RegCloseKey(Open(HKEY_LOCAL_MACHINE, "K\\\x81\x5C"));
    HKEY missing = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "K\\\x81", 0, KEY_READ, &missing), ERROR_FILE_NOT_FOUND);
}

TEST(StandInRegistry, EnumeratesValuesWithTheirTypeAndOverflowCodes) {
    StandInMachine machine;
    machine.AddString(HKEY_LOCAL_MACHINE, "K", "Path", "%SystemRoot%", REG_EXPAND_SZ);
    machine.AddValue(HKEY_LOCAL_MACHINE, "K", "Big", REG_BINARY, std::string(20, 'x'));
    machine.AddString(HKEY_LOCAL_MACHINE, "K", "LongerName", "v");
    HKEY key = Open(HKEY_LOCAL_MACHINE, "K");
    char name[8], data[16];
    std::memset(data, '#', sizeof data);  // known bytes, so an unexpected write shows
    DWORD nameLength = sizeof name, dataLength = sizeof data, type = 0;
    EXPECT_EQ(RegEnumValueA(key, 0, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data), &dataLength),
              ERROR_SUCCESS);
    EXPECT_STREQ(name, "Path");
    EXPECT_EQ(type, REG_EXPAND_SZ);
    EXPECT_STREQ(data, "%SystemRoot%");  // not expanded
    EXPECT_EQ(dataLength, 13u);
    // overflow data only: ERROR_MORE_DATA, the size needed, the name left as it was
    nameLength = sizeof name, dataLength = sizeof data;
    EXPECT_EQ(RegEnumValueA(key, 1, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data), &dataLength),
              ERROR_MORE_DATA);
    EXPECT_STREQ(name, "Path");
    EXPECT_EQ(dataLength, 20u);
    // overflow the name: truncated, NUL-terminated, ERROR_MORE_DATA
    nameLength = sizeof name, dataLength = sizeof data;
    EXPECT_EQ(RegEnumValueA(key, 2, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data), &dataLength),
              ERROR_MORE_DATA);
    EXPECT_STREQ(name, "LongerN");
    nameLength = sizeof name, dataLength = sizeof data;
    EXPECT_EQ(RegEnumValueA(key, 3, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data), &dataLength),
              ERROR_NO_MORE_ITEMS);
    RegCloseKey(key);
}

TEST(StandInRegistry, WineFlavourRejectsLongPaths) {
    for (auto flavour : {standin::Flavour::Windows, standin::Flavour::Wine}) {
        StandInMachine machine;
        machine.Behaviour = flavour;
        const std::string longPath = "K\\" + std::string(258, 'p');  // 260 characters
        machine.AddKey(HKEY_LOCAL_MACHINE, longPath + "\\q");
        RegCloseKey(Open(HKEY_LOCAL_MACHINE, longPath.c_str()));
        HKEY tooLong = nullptr;
        EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, (longPath + "\\q").c_str(), 0, KEY_READ, &tooLong),
                  flavour == standin::Flavour::Wine ? ERROR_MORE_DATA : ERROR_SUCCESS);
        if (flavour == standin::Flavour::Windows) RegCloseKey(tooLong);
    }
}

TEST(StandInRegistry, DataOverflowGivesTheSizeAndTypeAndTouchesNothingElse) {
    // Wine's conformance test "overflow data", which passes on Windows: the
    // name, its length and the data buffer stay as they were.
    for (auto flavour : {standin::Flavour::Windows, standin::Flavour::Wine}) {
        StandInMachine machine;
        machine.Behaviour = flavour;
        machine.AddString(HKEY_LOCAL_MACHINE, "K", "Test", "foobar");
        HKEY key = Open(HKEY_LOCAL_MACHINE, "K");
        char name[20] = "xxxxxxxxxx", data[20] = "xxxxxxxxxx";
        DWORD nameLength = 20, dataLength = 2, type = 1234;
        EXPECT_EQ(RegEnumValueA(key, 0, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data), &dataLength),
                  ERROR_MORE_DATA);
        EXPECT_EQ(nameLength, 20u);
        EXPECT_EQ(dataLength, 7u);
        EXPECT_EQ(type, REG_SZ);
        EXPECT_STREQ(name, "xxxxxxxxxx");
        EXPECT_STREQ(data, "xxxxxxxxxx");
        RegCloseKey(key);
    }
}

TEST(StandInRegistry, InjectedFailuresHitOnlyTheirCallKeyAndIndex) {
    StandInMachine machine;
    machine.AddKey(HKEY_LOCAL_MACHINE, "K\\A");
    machine.AddKey(HKEY_LOCAL_MACHINE, "K\\B");
    machine.Inject({RegistryCall::EnumKey, HKEY_LOCAL_MACHINE, "k\\", 1, ERROR_ACCESS_DENIED, std::string("XY")});
    machine.Inject({RegistryCall::OpenKey, HKEY_LOCAL_MACHINE, "K\\B", std::nullopt, ERROR_ACCESS_DENIED, std::nullopt});
    HKEY key = Open(HKEY_LOCAL_MACHINE, "K");
    char name[255] = {};
    DWORD length = sizeof name;
    EXPECT_EQ(RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    length = sizeof name;
    EXPECT_EQ(RegEnumKeyExA(key, 1, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_ACCESS_DENIED);
    EXPECT_EQ(std::string(name, 3), std::string("XY\0", 3));  // written as given, rest as it was
    HKEY sub = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "K\\B\\", 0, KEY_READ, &sub), ERROR_ACCESS_DENIED);
    RegCloseKey(Open(HKEY_LOCAL_MACHINE, "K\\A"));
    RegCloseKey(key);
    EXPECT_EQ(machine.CallCount(RegistryCall::EnumKey), 2u);
}

TEST(StandInRegistry, DeletedKeyFailsThroughAnOpenHandle) {
    StandInMachine machine;
    machine.AddString(HKEY_LOCAL_MACHINE, "K\\Entry", "DisplayName", "x");
    HKEY key = Open(HKEY_LOCAL_MACHINE, "K\\Entry");
    EXPECT_TRUE(machine.RemoveKey(HKEY_LOCAL_MACHINE, "K\\Entry"));
    char name[260] = {}, data[16] = {};
    DWORD nameLength = sizeof name, dataLength = sizeof data;
    EXPECT_EQ(RegEnumValueA(key, 0, name, &nameLength, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &dataLength),
              ERROR_KEY_DELETED);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
}

TEST(StandInMachine, TraceLinesSplitOnNewlines) {
    StandInMachine machine;
    OutputDebugStringA("one");
    OutputDebugStringA("\n");
    OutputDebugStringA("");
    OutputDebugStringA("\n");
    OutputDebugStringA("unended");
    EXPECT_EQ(machine.TraceLines(), (std::vector<std::string>{"one", "", "unended"}));
}

TEST(StandInRegistry, DeniesWriteAccessOutsideTheUsersOwnHiveAndKeepsOneView) {
    StandInMachine machine;
    const std::string machineKey = "SOFTWARE\\Vendor";
    machine.AddKey(HKEY_LOCAL_MACHINE, machineKey);
    machine.AddKey(HKEY_USERS, machine.UserSid + "\\Software");
    machine.AddKey(HKEY_USERS, "S-1-5-18");
    const struct {
        HKEY Root;
        std::string Path;
        REGSAM Access;
        LONG Expected;
    } cases[] = {
        {HKEY_LOCAL_MACHINE, machineKey, KEY_READ, ERROR_SUCCESS},
        {HKEY_LOCAL_MACHINE, machineKey, KEY_READ | KEY_WOW64_32KEY, ERROR_SUCCESS},  // a 32-bit program's own view
        {HKEY_LOCAL_MACHINE, machineKey, KEY_ALL_ACCESS, ERROR_ACCESS_DENIED},
        {HKEY_LOCAL_MACHINE, machineKey, KEY_WRITE, ERROR_ACCESS_DENIED},
        {HKEY_LOCAL_MACHINE, machineKey, KEY_READ | KEY_WOW64_64KEY, ERROR_INVALID_PARAMETER},
        {HKEY_USERS, machine.UserSid + "\\Software", KEY_ALL_ACCESS, ERROR_SUCCESS},
        {HKEY_USERS, "S-1-5-18", KEY_ALL_ACCESS, ERROR_ACCESS_DENIED},
        {HKEY_USERS, "", KEY_ALL_ACCESS, ERROR_ACCESS_DENIED},
    };
    for (const auto& c : cases) {
        HKEY key = nullptr;
        EXPECT_EQ(RegOpenKeyExA(c.Root, c.Path.c_str(), 0, c.Access, &key), c.Expected) << c.Path << " " << c.Access;
        if (key != nullptr) RegCloseKey(key);
    }
}

}  // namespace
