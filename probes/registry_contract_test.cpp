// The registry probes (registry_contract.cpp) against the stand-in,
// in both of its flavours: it must answer them as Windows and Wine do.
#include "probes/registry_contract.h"
#include "standin/standin_machine.h"

#include <gtest/gtest.h>

namespace {

using standin::StandInMachine;

StandInMachine* machine = nullptr;

ContractScratch StandInScratch(StandInMachine& active) {
    machine = &active;
    active.AddKey(HKEY_LOCAL_MACHINE, "SOFTWARE");  // as every Windows has them
    active.AddKey(HKEY_USERS, ".DEFAULT");
    ContractScratch scratch;
    scratch.Root = HKEY_USERS;
    scratch.Path = active.UserSid + "\\Software\\Kestlo registry probes";
    scratch.AddKey = [](const std::string& path) { machine->AddKey(HKEY_USERS, path); };
    scratch.AddValue = [](const std::string& key, const std::string& name, DWORD type, const std::string& data) {
        machine->AddValue(HKEY_USERS, key, name, type, data);
    };
    scratch.AddViewKey = [](const std::string& path, REGSAM view) {
        const bool view64 = machine->Is64BitWindows && view == KEY_WOW64_64KEY;
        machine->AddKey(HKEY_LOCAL_MACHINE, path, view64 ? standin::RegistryView::SixtyFourBit
                                                         : standin::RegistryView::ThirtyTwoBit);
    };
    scratch.SixtyFourBitWindows = active.Is64BitWindows;
    return scratch;
}

std::string Lines(const std::vector<std::string>& failures) {
    std::string text;
    for (const std::string& failure : failures) text += failure + "\n";
    return text;
}

TEST(RegistryContract, EachFlavourAnswersEveryProbeAsItsPlatformDoes) {
    for (const auto& [flavour, platform] : {std::pair{standin::Flavour::Windows, StandInWindows},
                                            std::pair{standin::Flavour::Wine, StandInWine}}) {
        for (const bool sixtyFourBit : {false, true}) {
            StandInMachine active;
            active.Behaviour = flavour;
            active.Is64BitWindows = sixtyFourBit;
            const std::vector<std::string> failures = RunRegistryContract(platform, StandInScratch(active));
            EXPECT_TRUE(failures.empty()) << platform.Name << (sixtyFourBit ? ", 64-bit" : ", 32-bit") << ":\n"
                                          << Lines(failures);
            EXPECT_EQ(active.OpenHandleCount(), 0u) << platform.Name;
        }
    }
}

TEST(RegistryContract, DebugStringsArriveByteForByte) {
    StandInMachine active;
    WriteTraceProbes();
    const std::vector<std::string> failures = CheckTraceProbes(active.DebugOutput);
    EXPECT_TRUE(failures.empty()) << Lines(failures);
    // And the check sees a string that changed on the way.
    std::vector<std::string> changed = active.DebugOutput;
    changed[1][0] = '?';
    EXPECT_EQ(CheckTraceProbes(changed).size(), 1u);
}

}  // namespace
