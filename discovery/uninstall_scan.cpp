#include "discovery/uninstall_scan.h"

#include "discovery/registry_limits.h"
#include "discovery/trace.h"
#include "discovery/uninstall_values.h"

#include <cstring>

void ScanUninstallKey(HKEY root, const std::string& basePath, BrowserCatalogue& catalogue, REGSAM access) {
    HKEY uninstall = nullptr;
    if (RegOpenKeyExA(root, basePath.c_str(), 0, access, &uninstall) != ERROR_SUCCESS) return;

    DWORD subkeyCount = 0;
    if (RegQueryInfoKeyA(uninstall, nullptr, nullptr, nullptr, &subkeyCount, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        subkeyCount = 0;

    std::string entryPath;  // reused, so that walking an entry costs no allocation of its own
    for (DWORD index = 0; index < subkeyCount; ++index) {
        char name[SubkeyNameBufferSize] = {};
        DWORD nameLength = SubkeyNameBufferSize;
        // Any failure skips just this index: ERROR_MORE_DATA for an overlong
        // name, ERROR_NO_MORE_ITEMS when subkeys were removed after the count.
        if (RegEnumKeyExA(uninstall, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            continue;
        const std::string subkey(name, strnlen(name, sizeof name));
        TraceLine(subkey);

        entryPath.assign(basePath).append(subkey).append("\\");
        BrowserRecord candidate{ReadDisplayName(root, entryPath, access), std::string()};
        if (candidate.Name.empty()) continue;
        // The location is read before the duplicate test, so that an entry
        // without one cannot hide a later, complete entry of the same browser.
        candidate.InstallLocation = ReadInstallLocation(root, entryPath, access);
        if (!ContainsRecord(catalogue, candidate)) AppendRecord(catalogue, candidate);
    }
    RegCloseKey(uninstall);
}
