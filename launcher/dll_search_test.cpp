#include "launcher/dll_search.h"

#include "standin/standin_machine.h"

#include <gtest/gtest.h>

namespace {

using standin::StandInMachine;

TEST(RestrictDllSearchToSystemFolder, OneCallWhereWindowsHasSetDefaultDllDirectories) {
    StandInMachine machine;
    RestrictDllSearchToSystemFolder();
    EXPECT_EQ(machine.CallNames(),
              (std::vector<std::string>{"GetModuleHandleW", "GetProcAddress", "SetDefaultDllDirectories"}));
    EXPECT_EQ(machine.Calls[0].Target, "kernel32.dll");
    EXPECT_EQ(machine.Calls[1].Target, "SetDefaultDllDirectories");
    EXPECT_EQ(machine.Calls[2].Flags, LOAD_LIBRARY_SEARCH_SYSTEM32);  // the system folder and nothing else
}

TEST(RestrictDllSearchToSystemFolder, ElsewherePreloadsEachDllByItsSystemPath) {
    StandInMachine machine;
    machine.HasSetDefaultDllDirectories = false;
    machine.SystemDirectory = "C:\\WINDOWS\\system32";
    RestrictDllSearchToSystemFolder();
    const std::vector<standin::PlatformCall> directory = machine.CallsOf("SetDllDirectoryW");
    ASSERT_EQ(directory.size(), 1u);
    EXPECT_EQ(directory[0].Target, "");  // the current folder leaves the search
    std::vector<std::string> loaded;
    for (const standin::PlatformCall& call : machine.CallsOf("LoadLibraryExW")) {
        EXPECT_EQ(call.Flags, LOAD_WITH_ALTERED_SEARCH_PATH) << call.Target;
        loaded.push_back(call.Target);
    }
    EXPECT_EQ(loaded, (std::vector<std::string>{
                          "C:\\WINDOWS\\system32\\uxtheme.dll", "C:\\WINDOWS\\system32\\userenv.dll",
                          "C:\\WINDOWS\\system32\\setupapi.dll", "C:\\WINDOWS\\system32\\apphelp.dll",
                          "C:\\WINDOWS\\system32\\propsys.dll", "C:\\WINDOWS\\system32\\dwmapi.dll",
                          "C:\\WINDOWS\\system32\\cryptbase.dll", "C:\\WINDOWS\\system32\\oleacc.dll",
                          "C:\\WINDOWS\\system32\\clbcatq.dll", "C:\\WINDOWS\\system32\\ntmarta.dll",
                          "C:\\WINDOWS\\system32\\version.dll"}));
    // Restricting comes first: no DLL is loaded while the current folder is searched.
    EXPECT_EQ(machine.CallNames()[2], "SetDllDirectoryW");
}

TEST(RestrictDllSearchToSystemFolder, SystemFolderTooLongToBuildAPathLoadsOnlyWhatFits) {
    const struct {
        std::size_t FolderLength;
        std::size_t Loaded;
    } cases[] = {
        {MAX_PATH, 0},                        // GetSystemDirectoryW reports the size it needs
        {MAX_PATH - 1, 0},                    // fits, but no room for "\x.dll"
        {MAX_PATH - 1 - 13, 10},              // room for every name but "cryptbase.dll"
        {MAX_PATH - 1 - 14, 11},
    };
    for (const auto& c : cases) {
        StandInMachine machine;
        machine.HasSetDefaultDllDirectories = false;
        machine.SystemDirectory = "C:\\" + std::string(c.FolderLength - 3, 's');
        RestrictDllSearchToSystemFolder();
        const std::vector<standin::PlatformCall> loads = machine.CallsOf("LoadLibraryExW");
        EXPECT_EQ(loads.size(), c.Loaded) << c.FolderLength;
        for (const standin::PlatformCall& load : loads) EXPECT_LT(load.Target.size(), MAX_PATH) << load.Target;
    }
}

}  // namespace
