#include "discovery/user_uninstall_path.h"

#include "discovery/registry_limits.h"
#include "platform/win32.h"

#include <cstring>

std::string FindUserUninstallPath() {
    HKEY users = nullptr;
    if (RegOpenKeyExA(HKEY_USERS, nullptr, 0, KEY_READ, &users) != ERROR_SUCCESS) return {};

    std::string path;
    DWORD hiveCount = 0;
    if (RegQueryInfoKeyA(users, nullptr, nullptr, nullptr, &hiveCount, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr) != ERROR_SUCCESS)
        hiveCount = 0;
    for (DWORD index = 0; index < hiveCount; ++index) {
        char name[SubkeyNameBufferSize] = {};
        DWORD nameLength = SubkeyNameBufferSize;
        // Unlike the uninstall scan, a failed enumeration ends the search.
        if (RegEnumKeyExA(users, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        const std::string hive(name, strnlen(name, sizeof name));
        if (hive.find(UserSidMarker) != std::string::npos && hive.find(ClassesHiveMarker) == std::string::npos) {
            path = hive + UserUninstallSuffix;
            break;
        }
    }
    RegCloseKey(users);
    return path;
}
