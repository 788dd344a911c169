#include "discovery/user_uninstall_path.h"

#include "standin/uninstall_entries.h"

#include <gtest/gtest.h>

namespace {

using standin::StandInMachine;

const std::string Suffix = "\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

TEST(FindUserUninstallPath, IsTheProcessUsersOwnHiveWhateverItsForm) {
    const char* const sids[] = {
        standin::WineUserSid,                           // Wine's user
        "S-1-5-21-3623811015-3361044348-30300820-1013",  // a domain or local account
        "S-1-5-18",                                     // SYSTEM reads its own profile's hive
        "S-1-12-1-3570717441-1201541541-2870795942-3512313087",  // a Microsoft Entra ID account
        "S-1-5-21-4294967295-4294967295-4294967295-4294967295",  // subauthorities at their largest
    };
    for (const char* sid : sids) {
        StandInMachine machine;
        machine.UserSid = sid;
        // Other hives, sorting before the user's, change nothing: none is read.
        for (const char* other : {".DEFAULT", "S-1-5-18", "S-1-5-21-0-0-0-0999", "S-1-5-21-0-0-0-0999_Classes"})
            machine.AddKey(HKEY_USERS, other);
        EXPECT_EQ(FindUserUninstallPath(), sid + Suffix) << sid;
        EXPECT_EQ(machine.RegistryCallCount(), 0u) << sid;
        EXPECT_EQ(machine.OpenTokenCount(), 0u) << sid;
        EXPECT_EQ(machine.LocalAllocCount(), 0u) << sid;
        EXPECT_TRUE(machine.DebugOutput.empty());
    }
}

TEST(CurrentUserSid, AsksTheTokenForItsUserOnly) {
    StandInMachine machine;
    EXPECT_EQ(CurrentUserSid(), standin::WineUserSid);
    EXPECT_EQ(machine.CallNames(), (std::vector<std::string>{"OpenProcessToken", "GetTokenInformation",
                                                             "ConvertSidToStringSidA", "LocalFree", "CloseHandle"}));
    EXPECT_EQ(machine.Calls[0].Flags, TOKEN_QUERY);  // no more rights than reading it
    EXPECT_EQ(machine.Calls[1].Flags, static_cast<DWORD>(TokenUser));
}

TEST(CurrentUserSid, AnUnreadableSidIsEmptyAndLeaksNothing) {
    const struct {
        const char* What;
        std::optional<DWORD> standin::TokenFailures::*Call;
        std::size_t CallsMade;
    } cases[] = {
        {"OpenProcessToken", &standin::TokenFailures::OpenProcessToken, 1},
        {"GetTokenInformation", &standin::TokenFailures::GetTokenInformation, 3},  // then CloseHandle
        {"ConvertSidToStringSidA", &standin::TokenFailures::ConvertSidToStringSidA, 4},
    };
    for (const auto& c : cases) {
        StandInMachine machine;
        machine.AddKey(HKEY_USERS, machine.UserSid);
        machine.TokenFails.*c.Call = ERROR_ACCESS_DENIED;
        EXPECT_EQ(CurrentUserSid(), "") << c.What;
        EXPECT_EQ(FindUserUninstallPath(), "") << c.What;
        EXPECT_EQ(machine.Calls.size(), 2 * c.CallsMade) << c.What;
        EXPECT_EQ(machine.OpenTokenCount(), 0u) << c.What;
        EXPECT_EQ(machine.LocalAllocCount(), 0u) << c.What;
        EXPECT_EQ(machine.RegistryCallCount(), 0u) << c.What;
    }
}

}  // namespace
