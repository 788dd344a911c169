// What only the stand-in has: its choices where Windows versions differ, and
// the failures and changes a test injects. The registry behaviour it shares
// with Windows and Wine is held by the probes (probes/registry_contract.cpp).
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

// Where the probes accept either of what Windows versions do, the stand-in
// cuts an overlong value name to the buffer, and gives the exact data size.
TEST(StandInRegistry, CutsAnOverlongValueNameAndGivesTheExactSizeNeeded) {
    StandInMachine machine;
    machine.AddValue(HKEY_LOCAL_MACHINE, "K", "Big", REG_BINARY, std::string(20, 'x'));
    machine.AddString(HKEY_LOCAL_MACHINE, "K", "LongerName", "v");
    HKEY key = Open(HKEY_LOCAL_MACHINE, "K");
    char name[8] = {}, data[16] = {};
    DWORD nameLength = sizeof name, dataLength = sizeof data, type = 0;
    EXPECT_EQ(RegEnumValueA(key, 0, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data), &dataLength),
              ERROR_MORE_DATA);
    EXPECT_EQ(dataLength, 20u);
    nameLength = sizeof name, dataLength = sizeof data;
    EXPECT_EQ(RegEnumValueA(key, 1, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data), &dataLength),
              ERROR_MORE_DATA);
    EXPECT_STREQ(name, "LongerN");
    RegCloseKey(key);
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
    for (const char* text : {"one", "\n", "", "\n", "unended"}) OutputDebugStringA(text);
    EXPECT_EQ(machine.TraceLines(), (std::vector<std::string>{"one", "", "unended"}));
}

// A doubled backslash is no legal path: Windows refuses it, except when the
// key is in its cache of recent opens; Wine opens it. The stand-in always
// refuses it, so that a launcher that built one would show.
TEST(StandInRegistry, RefusesADoubledBackslash) {
    StandInMachine machine;
    machine.AddKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor");
    RegCloseKey(Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor"));
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\\\Vendor", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
}

// A standard user may write in their own hive only; another user's hive
// (S-1-5-18 here, .DEFAULT in the probes) is denied as well.
TEST(StandInRegistry, DeniesWriteAccessToAnotherUsersHive) {
    StandInMachine machine;
    machine.AddKey(HKEY_USERS, "S-1-5-18");
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_USERS, "S-1-5-18", 0, KEY_ALL_ACCESS, &key), ERROR_ACCESS_DENIED);
}

}  // namespace
