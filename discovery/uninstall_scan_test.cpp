#include "discovery/uninstall_scan.h"

#include "discovery/uninstall_paths.h"
#include "standin/uninstall_entries.h"

#include <gtest/gtest.h>

namespace {

using standin::RegistryCall;
using standin::StandInMachine;
using testing_support::AddMachineEntry;
using testing_support::AddUserEntry;
using testing_support::UserUninstall;

using Lines = std::vector<std::string>;

void ScanMachine(BrowserCatalogue& catalogue) { ScanUninstallKey(HKEY_LOCAL_MACHINE, MachineUninstallPath, catalogue); }

TEST(ScanUninstallKey, TracesEachSubkeyThenItsDisplayName) {
    StandInMachine machine;
    AddMachineEntry(machine, "7-Zip", "7-Zip 23.01", "C:\\Program Files\\7-Zip");
    AddMachineEntry(machine, "Google Chrome", "Google Chrome", "C:\\Chrome");
    AddMachineEntry(machine, "Mozilla Firefox", "Mozilla Firefox 118.0 (x86 zh-CN)");
    AddMachineEntry(machine, "KB2468871", std::nullopt, "C:\\Windows");
    BrowserCatalogue catalogue;
    ScanMachine(catalogue);
    // Subkeys come in the registry's order, whatever order they were made in.
    EXPECT_EQ(machine.TraceLines(), (Lines{"7-Zip", "7-Zip 23.01", "Google Chrome", "Google Chrome", "KB2468871",
                                           "Mozilla Firefox", "Mozilla Firefox 118.0 (x86 zh-CN)"}));
    EXPECT_EQ(catalogue, (BrowserCatalogue{{"Chrome", "C:\\Chrome"}, {"Firefox", ""}}));
    EXPECT_EQ(machine.OpenHandleCount(), 0u);
}

TEST(ScanUninstallKey, EmptyOrUnreadableKeyScansNothing) {
    for (int variant = 0; variant < 3; ++variant) {
        StandInMachine machine;
        if (variant == 0) machine.AddKey(HKEY_LOCAL_MACHINE, MachineUninstallPath);  // no subkeys
        if (variant == 1) {
            AddMachineEntry(machine, "Google Chrome", "Google Chrome", "C:\\Chrome");
            machine.Inject({RegistryCall::QueryInfoKey, HKEY_LOCAL_MACHINE, MachineUninstallPath, std::nullopt,
                            ERROR_ACCESS_DENIED, std::nullopt});
        }
        // variant 2: the key does not exist at all
        BrowserCatalogue catalogue;
        ScanMachine(catalogue);
        EXPECT_TRUE(catalogue.empty()) << variant;
        EXPECT_TRUE(machine.DebugOutput.empty()) << variant;
        EXPECT_EQ(machine.OpenHandleCount(), 0u) << variant;
    }
}

TEST(ScanUninstallKey, SkipsSubkeysThatCannotBeEnumerated) {
    StandInMachine machine;
    AddMachineEntry(machine, std::string(254, 'a'), "Longest name that fits");
    AddMachineEntry(machine, std::string(255, 'b'), "Google Chrome", "C:\\Hidden");  // needs 256 with its NUL
    AddMachineEntry(machine, "Vanishing", "Opera", "C:\\Opera");
    AddMachineEntry(machine, "Mozilla Firefox", "Mozilla Firefox", "C:\\Firefox");
    machine.Inject({RegistryCall::EnumKey, HKEY_LOCAL_MACHINE, MachineUninstallPath, 3, ERROR_NO_MORE_ITEMS,
                    std::nullopt});  // "Vanishing", removed after the count
    BrowserCatalogue catalogue;
    ScanMachine(catalogue);
    EXPECT_EQ(machine.TraceLines(),
              (Lines{std::string(254, 'a'), "Longest name that fits", "Mozilla Firefox", "Mozilla Firefox"}));
    EXPECT_EQ(catalogue, (BrowserCatalogue{{"Firefox", "C:\\Firefox"}}));
}

TEST(ScanUninstallKey, CountIsTakenOnceBeforeTheWalk) {
    StandInMachine machine;
    AddMachineEntry(machine, "A", "Google Chrome", "C:\\Chrome");
    AddMachineEntry(machine, "B", "Mozilla Firefox", "C:\\Firefox");
    // Every index fails: the walk still asks each index of the count once.
    machine.Inject({RegistryCall::EnumKey, HKEY_LOCAL_MACHINE, MachineUninstallPath, std::nullopt,
                    ERROR_NO_MORE_ITEMS, std::nullopt});
    BrowserCatalogue catalogue;
    ScanMachine(catalogue);
    EXPECT_EQ(machine.CallCount(RegistryCall::EnumKey), 2u);
    EXPECT_TRUE(catalogue.empty());
}

TEST(ScanUninstallKey, KeepsEachDistinctRecordAndAnIncompleteOneHidesNoLaterLocation) {
    StandInMachine machine;
    AddMachineEntry(machine, "Chrome 1", "Google Chrome");  // no InstallLocation
    AddMachineEntry(machine, "Chrome 2", "Google Chrome", "C:\\P1");
    AddMachineEntry(machine, "Chrome 3", "Google Chrome");  // stored once only
    AddMachineEntry(machine, "Chrome 4", "Google Chrome", "C:\\P2");
    AddMachineEntry(machine, "Chrome 5", "Google Chrome", "C:\\P1");  // exact duplicate of the second
    BrowserCatalogue catalogue;
    ScanMachine(catalogue);
    EXPECT_EQ(catalogue, (BrowserCatalogue{{"Chrome", ""}, {"Chrome", "C:\\P1"}, {"Chrome", "C:\\P2"}}));
    EXPECT_EQ(FindInstallLocation(catalogue, "Chrome"), "C:\\P1");
}

TEST(ScanUninstallKey, BothScansShareOneCatalogue) {
    StandInMachine machine;
    AddMachineEntry(machine, "Google Chrome", "Google Chrome");  // machine-wide, incomplete
    AddUserEntry(machine, "Google Chrome", "Google Chrome", "C:\\Users\\me\\AppData\\Local\\Google\\Chrome\\Application");
    AddUserEntry(machine, "Chrome again", "Google Chrome");  // incomplete, name already stored without location
    BrowserCatalogue catalogue;
    ScanMachine(catalogue);
    ScanUninstallKey(HKEY_USERS, UserUninstall, catalogue);
    EXPECT_EQ(catalogue, (BrowserCatalogue{{"Chrome", ""},
                                           {"Chrome", "C:\\Users\\me\\AppData\\Local\\Google\\Chrome\\Application"}}));
}

TEST(ScanUninstallKey, EmptyBasePathWalksTheRootItself) {
    StandInMachine machine;
    machine.AddString(HKEY_USERS, ".DEFAULT", "Other", "x");
    machine.AddString(HKEY_USERS, "S-1-5-18", "DisplayName", "Mozilla Firefox");
    machine.AddString(HKEY_USERS, "S-1-5-18", "InstallLocation", "C:\\Firefox");
    BrowserCatalogue catalogue;
    ScanUninstallKey(HKEY_USERS, "", catalogue);
    EXPECT_EQ(machine.TraceLines(), (Lines{".DEFAULT", "S-1-5-18", "Mozilla Firefox"}));
    EXPECT_EQ(catalogue, (BrowserCatalogue{{"Firefox", "C:\\Firefox"}}));
}

TEST(ScanUninstallKey, EntryWithoutDisplayNameIsNotReadFurther) {
    StandInMachine machine;
    AddMachineEntry(machine, "Silent", std::nullopt, "C:\\Somewhere");
    AddMachineEntry(machine, "Tool", "Not a browser", "C:\\Tool");
    BrowserCatalogue catalogue;
    ScanMachine(catalogue);
    // One open and one enumeration walk per entry, for the display name only.
    EXPECT_EQ(machine.CallCount(RegistryCall::OpenKey), 3u);
    EXPECT_TRUE(catalogue.empty());
}

}  // namespace
