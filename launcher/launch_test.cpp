#include "launcher/launch.h"

#include "discovery/uninstall_paths.h"
#include "launcher/constants.h"
#include "standin/uninstall_entries.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using standin::RegistryCall;
using standin::StandInMachine;
using testing_support::AddMachineEntry;
using testing_support::AddUninstallEntry;
using testing_support::AddUserEntry;
using testing_support::UserSid;

using Lines = std::vector<std::string>;

void LoadUserHives(StandInMachine& machine) {
    for (const std::string& hive : {std::string(".DEFAULT"), std::string("S-1-5-18"), UserSid, UserSid + "_Classes"})
        machine.AddKey(HKEY_USERS, hive);
}

// Checks the one ShellExecuteA call, argument by argument.
void ExpectStarted(const StandInMachine& machine, const std::string& file) {
    ASSERT_EQ(machine.ShellCalls.size(), 1u);
    const standin::ShellExecuteCall& call = machine.ShellCalls[0];
    EXPECT_FALSE(call.HasOwner);
    EXPECT_EQ(call.Verb, std::string("open"));
    EXPECT_EQ(call.File, file);
    EXPECT_EQ(call.Parameters, std::string(LoginPageUrl));
    EXPECT_EQ(call.Directory, std::nullopt);
    EXPECT_EQ(call.ShowCommand, 5);
    EXPECT_TRUE(machine.MessageBoxes.empty());
}

void ExpectMessage(const StandInMachine& machine) {
    EXPECT_TRUE(machine.ShellCalls.empty());
    ASSERT_EQ(machine.MessageBoxes.size(), 1u);
    const standin::MessageBoxCall& box = machine.MessageBoxes[0];
    EXPECT_FALSE(box.HasOwner);
    EXPECT_EQ(box.Caption, std::string("\xCC\xE1\xCA\xBE", 4));
    EXPECT_EQ(box.Text, std::string("\xC4\xFA\xBB\xB9\xC3\xBB\xD3\xD0\xB0\xB2\xD7\xB0\xBF\xC9\xD3\xC3\xB5\xC4\xE4\xAF"
                                    "\xC0\xC0\xC6\xF7\xA3\xAC\xC7\xEB\xCF\xC8\xCF\xC2\xD4\xD8\x33\x36\x30\xE4\xAF\xC0"
                                    "\xC0\xC6\xF7\xA1\xA2\xB9\xC8\xB8\xE8\xE4\xAF\xC0\xC0\xC6\xF7\xBB\xF2\xD5\xDF\xBB"
                                    "\xF0\xBA\xFC\xE4\xAF\xC0\xC0\xC6\xF7",
                                    69));
    EXPECT_EQ(box.Type, 0x40u);
}

TEST(LoginPageUrl, IsTheMemberLoginPageOfAnHttpHost) {
    const std::string url = LoginPageUrl;
    EXPECT_EQ(url.rfind("http://", 0), 0u) << url;
    EXPECT_EQ(url.find('/', 7), url.size() - std::string("/member/login.jhtml").size()) << url;
    EXPECT_TRUE(url.ends_with("/member/login.jhtml")) << url;
}

TEST(RunLauncher, WalksThePreferenceTableInOrder) {
    const std::string safe360 = "360\xB0\xB2\xC8\xAB\xE4\xAF\xC0\xC0\xC6\xF7";
    const std::string extreme360 = "360\xBC\xAB\xCB\xD9\xE4\xAF\xC0\xC0\xC6\xF7";
    const struct {
        const char* What;
        std::vector<std::pair<std::string, std::optional<std::string>>> Entries;  // display name, location
        std::string Started;  // empty: the message box
    } cases[] = {
        {"Chrome beats Firefox", {{"Mozilla Firefox", "C:\\F"}, {"Google Chrome", "C:\\C"}}, "C:\\C\\Chrome.exe"},
        {"Chrome without a location", {{"Google Chrome", std::nullopt}, {"Mozilla Firefox", "C:\\F"}}, "C:\\F\\firefox.exe"},
        {"360 safe beats 360 extreme", {{extreme360 + " 13.0", "C:\\X"}, {safe360 + " 13.1", "C:\\S"}}, "C:\\S\\360se.exe"},
        {"360 extreme beats Firefox", {{"Mozilla Firefox", "C:\\F"}, {extreme360, "C:\\X"}}, "C:\\X\\360chrome.exe"},
        {"trailing backslash kept", {{"Google Chrome", "C:\\Chrome\\"}}, "C:\\Chrome\\\\Chrome.exe"},
        {"others are never started", {{"Opera Stable", "C:\\O"}, {"Internet Explorer", "C:\\I"}, {"Safari", "C:\\S"}}, ""},
        {"a relative Chrome, then a real one", {{"Google Chrome", "evil"}, {"Google Chrome", "C:\\G"}}, "C:\\G\\Chrome.exe"},
        {"nothing installed", {}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        StandInMachine machine;
        int n = 0;
        for (const auto& [name, location] : c.Entries) AddMachineEntry(machine, "Entry" + std::to_string(n++), name, location);
        EXPECT_EQ(RunLauncher(), 0);
        if (c.Started.empty())
            ExpectMessage(machine);
        else
            ExpectStarted(machine, c.Started);
    }
}

// A location the shell would resolve against the current folder, its search
// path or a URL scheme counts as none: Firefox is started instead.
TEST(RunLauncher, UsesOnlyLocationsTheShellCannotMisread) {
    const struct {
        const char* Location;
        bool Used;
    } cases[] = {
        {".", false}, {"evil", false}, {"C:evil", false}, {"file:///C:/x", false}, {"\\\\?\\C:\\x", false},
        {"\\\\.\\C:\\x", false}, {"%", false}, {"%%\\x", false}, {" C:\\x", false}, {"\\\\\\x", false},
        {"%a\\b%c", false},  // a path between the percent signs: resolved against the current folder
        {"C:\\x", true}, {"c:/x", true}, {"\\\\srv\\share\\x", true}, {"%SystemDrive%\\x", true},
        {"C:\\x\\..\\y", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Location);
        StandInMachine machine;
        AddMachineEntry(machine, "Google Chrome", "Google Chrome", c.Location);
        AddMachineEntry(machine, "Mozilla Firefox", "Mozilla Firefox", "C:\\Firefox");
        EXPECT_EQ(RunLauncher(), 0);
        ExpectStarted(machine, c.Used ? c.Location + std::string("\\Chrome.exe") : "C:\\Firefox\\firefox.exe");
        // The trace still shows the location as the registry holds it.
        EXPECT_EQ(machine.TraceLines()[4], "Chrome");
        EXPECT_EQ(machine.TraceLines()[5], c.Location);
    }
}

TEST(RunLauncher, IncompleteChromeBeforeCompleteOneStillStartsChrome) {
    for (bool completeForUser : {false, true}) {
        SCOPED_TRACE(completeForUser ? "complete entry per user" : "both machine-wide");
        StandInMachine machine;
        LoadUserHives(machine);
        AddMachineEntry(machine, "Chrome (broken)", "Google Chrome");
        if (completeForUser)
            AddUserEntry(machine, "Google Chrome", "Google Chrome", "C:\\Users\\me\\Chrome");
        else
            AddMachineEntry(machine, "Google Chrome", "Google Chrome", "C:\\Users\\me\\Chrome");
        AddMachineEntry(machine, "Mozilla Firefox", "Mozilla Firefox", "C:\\Firefox");
        EXPECT_EQ(RunLauncher(), 0);
        ExpectStarted(machine, "C:\\Users\\me\\Chrome\\Chrome.exe");
    }
}

// Every key the run opened, as "HKLM\\path" or "HKU\\path".
std::vector<std::string> OpenedKeys(const StandInMachine& machine) {
    std::vector<std::string> keys;
    for (const standin::PlatformCall& call : machine.CallsOf("RegOpenKeyExA")) keys.push_back(call.Target);
    return keys;
}

TEST(RunLauncher, ReadsOnlyTheStartingUsersHive) {
    // Another user, signed in on the same PC, sorts first and registers a
    // "Chrome" of their choosing; values at the root of their hive look like
    // an entry too. The user's own Firefox is the one started.
    StandInMachine machine;
    LoadUserHives(machine);
    const std::string other = "S-1-5-21-0-0-0-0999";
    AddUninstallEntry(machine, HKEY_USERS, other + UserUninstallSuffix,
                      "Google Chrome", "Google Chrome", "C:\\Users\\other\\Chrome");
    machine.AddString(HKEY_USERS, other, "DisplayName", "Google Chrome");
    machine.AddString(HKEY_USERS, other, "InstallLocation", "C:\\Users\\other\\Root");
    AddUserEntry(machine, "Mozilla Firefox", "Mozilla Firefox", "C:\\Users\\me\\Firefox");
    EXPECT_EQ(RunLauncher(), 0);
    ExpectStarted(machine, "C:\\Users\\me\\Firefox\\firefox.exe");
    for (const std::string& key : OpenedKeys(machine)) {
        const bool machineWide = key.rfind("HKLM\\", 0) == 0;
        const bool ownHive = key.rfind("HKU\\" + UserSid + "\\", 0) == 0;
        EXPECT_TRUE(machineWide || ownHive) << key;
    }
}

TEST(RunLauncher, UnknownUserMeansNoPerUserScanAtAll) {
    for (auto fail : {&standin::TokenFailures::OpenProcessToken, &standin::TokenFailures::GetTokenInformation,
                      &standin::TokenFailures::ConvertSidToStringSidA}) {
        StandInMachine machine;
        LoadUserHives(machine);
        machine.AddString(HKEY_USERS, "S-1-5-18", "DisplayName", "Google Chrome");
        machine.AddString(HKEY_USERS, "S-1-5-18", "InstallLocation", "C:\\Root");
        AddUserEntry(machine, "Mozilla Firefox", "Mozilla Firefox", "C:\\Firefox");
        machine.TokenFails.*fail = ERROR_ACCESS_DENIED;
        EXPECT_EQ(RunLauncher(), 0);
        EXPECT_EQ(OpenedKeys(machine), (Lines{"HKLM\\" + std::string(MachineUninstallPath)}));
        EXPECT_TRUE(machine.DebugOutput.empty());
        ExpectMessage(machine);
        EXPECT_EQ(machine.OpenTokenCount(), 0u);
        EXPECT_EQ(machine.LocalAllocCount(), 0u);
    }
}

TEST(RunLauncher, UserWhoseHiveIsNotLoadedHasNoPerUserEntries) {
    StandInMachine machine;
    machine.UserSid = "S-1-5-21-1-2-3-1001";  // signed in, but the hive under HKEY_USERS is someone else's
    LoadUserHives(machine);
    AddUserEntry(machine, "Mozilla Firefox", "Mozilla Firefox", "C:\\Firefox");
    EXPECT_EQ(RunLauncher(), 0);
    EXPECT_TRUE(machine.DebugOutput.empty());
    ExpectMessage(machine);
    EXPECT_EQ(OpenedKeys(machine).back(), "HKU\\S-1-5-21-1-2-3-1001" + std::string(UserUninstallSuffix));
}

TEST(RunLauncher, RestrictsDllLoadingBeforeAnyOtherCall) {
    for (bool modernWindows : {true, false}) {
        SCOPED_TRACE(modernWindows ? "SetDefaultDllDirectories" : "without SetDefaultDllDirectories");
        StandInMachine machine;
        machine.HasSetDefaultDllDirectories = modernWindows;
        LoadUserHives(machine);
        AddMachineEntry(machine, "Google Chrome", "Google Chrome", "C:\\Chrome");
        EXPECT_EQ(RunLauncher(), 0);
        const std::vector<std::string> calls = machine.CallNames();
        ASSERT_GE(calls.size(), 3u);
        EXPECT_EQ(calls[0], "GetModuleHandleW");
        EXPECT_EQ(calls[1], "GetProcAddress");
        const std::string restriction = modernWindows ? "SetDefaultDllDirectories" : "SetDllDirectoryW";
        EXPECT_EQ(calls[2], restriction);
        // Nothing else comes before it, and it is done once.
        EXPECT_EQ(std::count(calls.begin(), calls.end(), restriction), 1);
        const auto firstOther = std::find_if(calls.begin(), calls.end(), [](const std::string& name) {
            return name.rfind("Reg", 0) == 0 || name == "OpenProcessToken" || name == "ShellExecuteA";
        });
        EXPECT_GT(firstOther - calls.begin(), 2);
        ExpectStarted(machine, "C:\\Chrome\\Chrome.exe");
    }
}

TEST(RunLauncher, MissingExecutableIsSilent) {
    StandInMachine machine;
    AddMachineEntry(machine, "Google Chrome", "Google Chrome", "C:\\Empty");
    AddMachineEntry(machine, "Mozilla Firefox", "Mozilla Firefox", "C:\\Firefox");
    machine.AddFile("C:\\Firefox\\firefox.exe");  // present, but Chrome comes first
    EXPECT_EQ(RunLauncher(), 0);
    ExpectStarted(machine, "C:\\Empty\\Chrome.exe");  // fails in the shell; no fallback, no message
}

TEST(RunLauncher, PathTooLongForTheShellIsASilentFailedStart) {
    const std::string suffix = "\\Chrome.exe";
    for (std::size_t length : {std::size_t{MAX_PATH} - 1, std::size_t{MAX_PATH}, std::size_t{1034}}) {
        SCOPED_TRACE(length);
        StandInMachine machine;
        const std::string location = "C:\\" + std::string(length - suffix.size() - 3, 'd');
        AddMachineEntry(machine, "Google Chrome", "Google Chrome", location);
        AddMachineEntry(machine, "Mozilla Firefox", "Mozilla Firefox", "C:\\Firefox");
        EXPECT_EQ(RunLauncher(), 0);
        if (length < MAX_PATH)
            ExpectStarted(machine, location + suffix);
        else
            EXPECT_TRUE(machine.ShellCalls.empty());  // and no fallback to Firefox
        EXPECT_TRUE(machine.MessageBoxes.empty());
    }
}

TEST(RunLauncher, ReadsWithClearedBuffersOfTheKnownSizesAndClosesEveryKeyItOpens) {
    StandInMachine machine;
    LoadUserHives(machine);
    for (int i = 0; i < 20; ++i) AddMachineEntry(machine, "App" + std::to_string(i), "Application " + std::to_string(i));
    AddMachineEntry(machine, "Google Chrome", "Google Chrome", "C:\\Chrome");
    AddUserEntry(machine, "Mozilla Firefox", "Mozilla Firefox", "C:\\Firefox");
    EXPECT_EQ(RunLauncher(), 0);
    EXPECT_EQ(machine.CallCount(RegistryCall::OpenKey), machine.CallCount(RegistryCall::CloseKey));
    EXPECT_EQ(machine.OpenHandleCount(), 0u);
    for (const standin::PlatformCall& call : machine.Calls) {
        SCOPED_TRACE(call.Function + " " + call.Target);
        if (call.Function == "RegOpenKeyExA") {
            EXPECT_EQ(call.Options, 0u);
            EXPECT_EQ(call.Flags, KEY_READ);  // no write rights, no registry-view flag
        } else if (call.Function == "RegEnumKeyExA") {
            EXPECT_EQ(call.NameLength, 255u);
            EXPECT_TRUE(call.BuffersCleared);
        } else if (call.Function == "RegEnumValueA") {
            EXPECT_EQ(call.NameLength, 260u);
            EXPECT_EQ(call.DataLength, 1024u);
            EXPECT_TRUE(call.BuffersCleared);
        }
    }
}

TEST(RunLauncher, ReadsTheSixtyFourBitViewSecondOnlyWhereIsWow64ProcessSaysSo) {
    const struct {
        bool HasIsWow64Process, SixtyFourBit;
        std::vector<DWORD> Opens;  // access masks of the machine key's opens, in order
    } cases[] = {{true, false, {KEY_READ}}, {true, true, {KEY_READ, KEY_READ | KEY_WOW64_64KEY}}, {false, true, {KEY_READ}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.HasIsWow64Process) + std::to_string(c.SixtyFourBit));
        StandInMachine machine;
        machine.HasIsWow64Process = c.HasIsWow64Process;
        machine.Is64BitWindows = c.SixtyFourBit;
        machine.AddKey(HKEY_LOCAL_MACHINE, MachineUninstallPath);
        EXPECT_EQ(RunLauncher(), 0);
        std::vector<DWORD> opens;
        for (const standin::PlatformCall& call : machine.CallsOf("RegOpenKeyExA"))
            if (call.Target == "HKLM\\" + std::string(MachineUninstallPath)) opens.push_back(call.Flags);
        EXPECT_EQ(opens, c.Opens);
    }
}

TEST(RunLauncher, TracesTheCatalogueBeforeStartingOrShowingAnything) {
    for (bool browser : {true, false}) {
        StandInMachine machine;
        LoadUserHives(machine);
        AddMachineEntry(machine, "Opera", "Opera Stable", "C:\\Opera");
        if (browser) AddMachineEntry(machine, "Google Chrome", "Google Chrome", "C:\\Chrome");
        EXPECT_EQ(RunLauncher(), 0);
        const std::vector<std::string> calls = machine.CallNames();
        const auto outcome = std::find(calls.begin(), calls.end(), browser ? "ShellExecuteA" : "MessageBoxA");
        ASSERT_NE(outcome, calls.end());
        EXPECT_EQ(outcome + 1, calls.end()) << "nothing after the launch or the message";
        // The last trace line, the catalogue's last record, ends just before it.
        ASSERT_GE(outcome - calls.begin(), 2);
        EXPECT_EQ(*(outcome - 1), "OutputDebugStringA");
        EXPECT_EQ(machine.Calls[outcome - calls.begin() - 1].Target, "\n");
        EXPECT_EQ(machine.Calls[outcome - calls.begin() - 2].Target, "C:\\Opera");  // "Opera" sorts last
    }
}

}  // namespace
