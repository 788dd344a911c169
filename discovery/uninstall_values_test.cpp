#include "discovery/uninstall_values.h"

#include "discovery/uninstall_paths.h"
#include "standin/uninstall_entries.h"

#include <gtest/gtest.h>

namespace {

using standin::InjectedFailure;
using standin::RegistryCall;
using standin::StandInMachine;

const std::string Entry = std::string(MachineUninstallPath) + "Entry\\";

TEST(ReadDisplayName, TracesTheDisplayNameAndClassifiesIt) {
    const struct {
        std::string DisplayName, Canonical;
    } cases[] = {
        {"Mozilla Firefox 118.0.1 (x64 en-US)", "Firefox"},
        {"7-Zip 23.01", ""},
        {"", ""},  // present but empty: a line of its own, not recognised
    };
    for (const auto& c : cases) {
        StandInMachine machine;
        machine.AddString(HKEY_LOCAL_MACHINE, Entry, "DisplayIcon", "icon.ico");
        machine.AddString(HKEY_LOCAL_MACHINE, Entry, "DisplayName", c.DisplayName);
        EXPECT_EQ(ReadDisplayName(HKEY_LOCAL_MACHINE, Entry), c.Canonical) << c.DisplayName;
        EXPECT_EQ(machine.DebugOutput, standin::TraceCalls({c.DisplayName})) << c.DisplayName;
        EXPECT_EQ(machine.OpenHandleCount(), 0u);
    }
}

TEST(ReadDisplayName, AbsentOrUnreadableEntryTracesNothing) {
    StandInMachine machine;
    machine.AddString(HKEY_LOCAL_MACHINE, Entry, "displayname", "Google Chrome");  // other letter case
    machine.AddString(HKEY_LOCAL_MACHINE, Entry, "DisplayName ", "Google Chrome"); // trailing space
    EXPECT_EQ(ReadDisplayName(HKEY_LOCAL_MACHINE, Entry), "");
    EXPECT_EQ(ReadDisplayName(HKEY_LOCAL_MACHINE, std::string(MachineUninstallPath) + "Missing\\"), "");
    EXPECT_TRUE(machine.DebugOutput.empty());
    EXPECT_EQ(machine.OpenHandleCount(), 0u);
}

TEST(ReadInstallLocation, ReturnsTheDataAsStoredUpToTheFirstNul) {
    const struct {
        const char* What;
        DWORD Type;
        std::string Data, Expected;
    } cases[] = {
        {"plain string", REG_SZ, std::string("C:\\Program Files\\Google\\Chrome\\Application\0", 44),
         "C:\\Program Files\\Google\\Chrome\\Application"},
        {"expandable string, not expanded", REG_EXPAND_SZ, std::string("%ProgramFiles%\\Mozilla Firefox\0", 31),
         "%ProgramFiles%\\Mozilla Firefox"},
        {"empty string", REG_SZ, std::string("\0", 1), ""},
        {"size zero", REG_SZ, "", ""},
        {"string without terminator", REG_SZ, "D:\\Apps", "D:\\Apps"},
        {"binary with a zero inside", REG_BINARY, std::string("ABC\0DEF", 7), "ABC"},
        {"dword", REG_DWORD, std::string("\x41\x42\x43\x00", 4), "ABC"},
        {"1023 characters and NUL fill the buffer", REG_SZ, std::string(1023, 'a') + '\0', std::string(1023, 'a')},
        {"1024 bytes without a zero", REG_BINARY, std::string(1024, 'b'), std::string(1024, 'b')},
        {"1025 bytes do not fit", REG_SZ, std::string(1024, 'c') + '\0', ""},
        {"1500 bytes do not fit", REG_EXPAND_SZ, std::string(1500, 'd'), ""},
    };
    for (const auto& c : cases) {
        StandInMachine machine;
        machine.AddString(HKEY_LOCAL_MACHINE, Entry, "DisplayName", "Google Chrome");
        machine.AddValue(HKEY_LOCAL_MACHINE, Entry, "InstallLocation", c.Type, c.Data);
        EXPECT_EQ(ReadInstallLocation(HKEY_LOCAL_MACHINE, Entry), c.Expected) << c.What;
        EXPECT_EQ(machine.OpenHandleCount(), 0u) << c.What;
        EXPECT_TRUE(machine.DebugOutput.empty()) << c.What;
    }
}

TEST(ReadInstallLocation, SkipsValuesWhoseNamesDoNotFitAndStopsAtTheMatch) {
    StandInMachine machine;
    machine.AddString(HKEY_LOCAL_MACHINE, Entry, std::string(300, 'N'), "noise");
    machine.AddString(HKEY_LOCAL_MACHINE, Entry, "InstallLocation" + std::string(250, ' '), "wrong");
    machine.AddString(HKEY_LOCAL_MACHINE, Entry, "InstallLocation", "C:\\Right");
    machine.AddString(HKEY_LOCAL_MACHINE, Entry, "Publisher", "Someone");
    EXPECT_EQ(ReadInstallLocation(HKEY_LOCAL_MACHINE, Entry), "C:\\Right");
    EXPECT_EQ(machine.CallCount(RegistryCall::EnumValue), 3u);  // none after the match
}

TEST(ReadInstallLocation, NameBufferWithoutTerminatorIsNotReadPastItsEnd) {
    StandInMachine machine;
    machine.AddString(HKEY_LOCAL_MACHINE, Entry, "Publisher", "Someone");
    machine.AddString(HKEY_LOCAL_MACHINE, Entry, "InstallLocation", "C:\\Right");
    // A failed call that fills the whole 260-byte name buffer, no NUL anywhere.
    machine.Inject({RegistryCall::EnumValue, HKEY_LOCAL_MACHINE, Entry, 0, ERROR_MORE_DATA, std::string(260, 'I')});
    EXPECT_EQ(ReadInstallLocation(HKEY_LOCAL_MACHINE, Entry), "C:\\Right");
}

TEST(ReadInstallLocation, FailedCallHoldingTheSoughtNameYieldsEmptyText) {
    StandInMachine machine;
    machine.AddString(HKEY_LOCAL_MACHINE, Entry, "InstallLocation", "C:\\Right");
    machine.Inject({RegistryCall::EnumValue, HKEY_LOCAL_MACHINE, Entry, 0, ERROR_MORE_DATA,
                    std::string("InstallLocation\0", 16)});
    EXPECT_EQ(ReadInstallLocation(HKEY_LOCAL_MACHINE, Entry), "");
}

TEST(FindValueText, AnErrorAtEveryIndexEndsTheWalk) {
    for (LONG error : {ERROR_KEY_DELETED, ERROR_ACCESS_DENIED, ERROR_INVALID_HANDLE}) {
        StandInMachine machine;
        machine.AddString(HKEY_LOCAL_MACHINE, Entry, "DisplayName", "Google Chrome");
        machine.Inject({RegistryCall::EnumValue, HKEY_LOCAL_MACHINE, Entry, std::nullopt, error, std::nullopt});
        EXPECT_EQ(FindValueText(HKEY_LOCAL_MACHINE, Entry, "DisplayName"), std::nullopt) << error;
        EXPECT_EQ(machine.CallCount(RegistryCall::EnumValue), 1u) << error;
        EXPECT_EQ(machine.OpenHandleCount(), 0u) << error;
    }
}

TEST(FindValueText, EntryThatCannotBeOpenedIsAbsent) {
    StandInMachine machine;
    machine.AddString(HKEY_LOCAL_MACHINE, Entry, "DisplayName", "Google Chrome");
    machine.Inject({RegistryCall::OpenKey, HKEY_LOCAL_MACHINE, Entry, std::nullopt, ERROR_ACCESS_DENIED, std::nullopt});
    EXPECT_EQ(FindValueText(HKEY_LOCAL_MACHINE, Entry, "DisplayName"), std::nullopt);
    EXPECT_EQ(machine.CallCount(RegistryCall::EnumValue), 0u);
}

}  // namespace
