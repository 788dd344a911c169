#include "discovery/catalogue.h"

#include "standin/standin_machine.h"

#include <gtest/gtest.h>

namespace {

TEST(FindInstallLocation, TakesFirstRecordOfTheNameThatHasALocation) {
    const BrowserCatalogue catalogue = {
        {"Chrome", ""}, {"Firefox", "C:\\F"}, {"Chrome", "C:\\P1"}, {"Chrome", "C:\\P2"}};
    EXPECT_EQ(FindInstallLocation(catalogue, "Chrome"), "C:\\P1");
    EXPECT_EQ(FindInstallLocation(catalogue, "Firefox"), "C:\\F");
    EXPECT_EQ(FindInstallLocation(catalogue, "chrome"), "");  // names are case-sensitive
    EXPECT_EQ(FindInstallLocation(catalogue, "360"), "");
    for (const char* name : {"Chrome", "360", "360chrome", "Firefox", ""})
        EXPECT_EQ(FindInstallLocation({}, name), "") << name;
}

TEST(ContainsRecord, ComparesBothFields) {
    BrowserCatalogue catalogue;
    AppendRecord(catalogue, {"Chrome", "P"});
    EXPECT_FALSE(ContainsRecord(catalogue, {"Chrome", ""}));
    EXPECT_TRUE(ContainsRecord(catalogue, {"Chrome", "P"}));
    EXPECT_FALSE(ContainsRecord(catalogue, {"Chrome", "p"}));
    AppendRecord(catalogue, {"Chrome", ""});
    EXPECT_TRUE(ContainsRecord(catalogue, {"Chrome", ""}));
    ASSERT_EQ(catalogue.size(), 2u);
    EXPECT_EQ(catalogue[1].Name, "Chrome");  // appended at the end, in order
}

TEST(TraceCatalogue, TwoLinesPerRecordAndNothingForNone) {
    standin::StandInMachine machine;
    TraceCatalogue({});
    EXPECT_TRUE(machine.DebugOutput.empty());
    TraceCatalogue({{"IE", "C:\\Program Files\\Internet Explorer"}, {"Firefox", ""}});
    EXPECT_EQ(machine.DebugOutput,
              standin::TraceCalls({"IE", "C:\\Program Files\\Internet Explorer", "Firefox", ""}));
}

}  // namespace
