#include "discovery/user_uninstall_path.h"

#include "discovery/test_support.h"

#include <gtest/gtest.h>

namespace {

using standin::RegistryCall;
using standin::StandInMachine;

const std::string Sid = "S-1-5-21-1004336348-1177238915-682003330-512";
const std::string Suffix = "\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

void LoadHives(StandInMachine& machine, const std::vector<std::string>& hives) {
    for (const std::string& hive : hives) machine.AddKey(HKEY_USERS, hive);
}

TEST(FindUserUninstallPath, PicksTheFirstOrdinaryUserHive) {
    const struct {
        std::vector<std::string> Hives;
        std::string Expected;
    } cases[] = {
        {{".DEFAULT", "S-1-5-18", Sid, Sid + "_Classes"}, Sid + Suffix},
        {{Sid + "_Classes", Sid}, Sid + Suffix},
        {{"S-1-5-18", "S-1-5-19", "S-1-5-20", ".DEFAULT"}, ""},
        {{Sid, "S-1-5-21-1-2-3-1001"}, Sid + Suffix},  // only the first user counts
        {{"s-1-5-21-1-2-3-1001"}, ""},                 // markers are case-sensitive
        {{Sid + "_classes"}, Sid + "_classes" + Suffix},
        {{}, ""},
    };
    for (const auto& c : cases) {
        StandInMachine machine;
        LoadHives(machine, c.Hives);
        EXPECT_EQ(FindUserUninstallPath(), c.Expected) << ::testing::PrintToString(c.Hives);
        EXPECT_EQ(machine.OpenHandleCount(), 0u);
        EXPECT_TRUE(machine.DebugOutput.empty());
    }
}

TEST(FindUserUninstallPath, AFailureEndsTheSearchEmpty) {
    const standin::InjectedFailure failures[] = {
        {RegistryCall::OpenKey, HKEY_USERS, "", std::nullopt, ERROR_ACCESS_DENIED, std::nullopt},
        {RegistryCall::QueryInfoKey, HKEY_USERS, "", std::nullopt, ERROR_ACCESS_DENIED, std::nullopt},
        {RegistryCall::EnumKey, HKEY_USERS, "", 1, ERROR_MORE_DATA, std::nullopt},  // not skipped over
    };
    for (const standin::InjectedFailure& failure : failures) {
        StandInMachine machine;
        LoadHives(machine, {"S-1-5-18", "S-1-5-19", Sid});
        machine.Inject(failure);
        EXPECT_EQ(FindUserUninstallPath(), "") << static_cast<int>(failure.Call);
        EXPECT_EQ(machine.OpenHandleCount(), 0u);
    }
}

}  // namespace
