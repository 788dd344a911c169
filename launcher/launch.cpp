#include "launcher/launch.h"

#include "discovery/catalogue.h"
#include "discovery/recognition.h"
#include "discovery/registry_views.h"
#include "discovery/uninstall_paths.h"
#include "discovery/uninstall_scan.h"
#include "discovery/user_uninstall_path.h"
#include "launcher/constants.h"
#include "launcher/dll_search.h"
#include "platform/win32.h"

#include <string>
#include <string_view>

namespace {

// A preferred browser that the recognition table never names could never be
// started: a typo in either table would silently drop a browser.
constexpr bool EveryPreferenceIsRecognisable() {
    for (const LaunchPreference& preference : LaunchPreferenceTable) {
        bool named = false;
        for (const RecognitionRow& row : BrowserRecognitionTable)
            named = named || row.CanonicalName == preference.CanonicalName;
        if (!named) return false;
    }
    return true;
}
static_assert(EveryPreferenceIsRecognisable(), "each LaunchPreferenceTable name must be a canonical name "
                                               "that BrowserRecognitionTable gives");

}  // namespace

int RunLauncher() {
    // Before anything can load a DLL: the shell call and the message box load
    // some by name, and the launcher's own folder may be Downloads.
    RestrictDllSearchToSystemFolder();

    BrowserCatalogue catalogue;
    // The 32-bit view first, so that whatever it gives keeps its place; the
    // 64-bit view (64-bit Firefox registers there) only adds what it lacks.
    ScanUninstallKey(HKEY_LOCAL_MACHINE, MachineUninstallPath, catalogue, ThirtyTwoBitViewAccess);
    if (HasSixtyFourBitView())
        ScanUninstallKey(HKEY_LOCAL_MACHINE, MachineUninstallPath, catalogue, SixtyFourBitViewAccess);
    // Only the user's own hive: an empty path means the user is unknown, and
    // HKEY_USERS itself holds every other user's hive.
    const std::string userPath = FindUserUninstallPath();
    if (!userPath.empty()) ScanUninstallKey(HKEY_USERS, userPath, catalogue);
    TraceCatalogue(catalogue);

    for (const LaunchPreference& preference : LaunchPreferenceTable) {
        const std::string location = FindInstallLocation(catalogue, std::string(preference.CanonicalName));
        if (location.empty()) continue;
        // e.g. "C:\Program Files\Google\Chrome\Application" + "\Chrome.exe";
        // not quoted and not checked: the shell reports nothing we act on.
        const std::string executable = location + std::string(preference.ExecutableSuffix);
        // The shell's ANSI entry cannot open a path of MAX_PATH characters or
        // more, and Wine's overruns a stack buffer on one: treat it as the
        // failed start it would be, silently, with no fallback.
        if (executable.size() >= MAX_PATH) return 0;
        // No owner window (the launcher has none), the shell's default folder.
        ShellExecuteA(nullptr, "open", executable.c_str(), LoginPageUrl, nullptr, SW_SHOW);
        return 0;
    }
    MessageBoxA(nullptr, NoBrowserMessage, NoBrowserCaption, MB_OK | MB_ICONINFORMATION);
    return 0;
}
