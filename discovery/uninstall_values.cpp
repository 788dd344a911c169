#include "discovery/uninstall_values.h"

#include "discovery/recognition.h"
#include "discovery/registry_limits.h"
#include "discovery/trace.h"

#include <cstring>

namespace {

// True when `buffer` holds exactly `name` and its NUL. Reads no further than
// `size` bytes: after a failed enumeration the buffer may hold no NUL at all.
bool BufferHoldsName(const char* buffer, std::size_t size, const char* name) {
    const std::size_t length = std::strlen(name);
    return length < size && std::memcmp(buffer, name, length) == 0 && buffer[length] == '\0';
}

}  // namespace

std::optional<std::string> FindValueText(HKEY root, const std::string& entryPath, const char* valueName,
                                         REGSAM access) {
    HKEY entry = nullptr;
    if (RegOpenKeyExA(root, entryPath.c_str(), 0, access, &entry) != ERROR_SUCCESS) return std::nullopt;

    std::optional<std::string> text;
    char name[ValueNameBufferSize] = {};  // cleared once: a failed call may leave it as it was
    char data[ValueDataBufferSize];
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = ValueNameBufferSize;
        DWORD dataLength = ValueDataBufferSize;
        DWORD type = 0;
        std::memset(data, 0, sizeof data);
        const LONG result = RegEnumValueA(entry, index, name, &nameLength, nullptr, &type,
                                          reinterpret_cast<BYTE*>(data), &dataLength);
        // ERROR_MORE_DATA concerns this one value (its name or data is too
        // long), so the walk goes on past it. Any other failure, such as the
        // entry having been deleted while it is read, would repeat at every
        // index: it ends the walk, as ERROR_NO_MORE_ITEMS does.
        if (result != ERROR_SUCCESS && result != ERROR_MORE_DATA) break;
        if (!BufferHoldsName(name, sizeof name, valueName)) continue;
        // Only a platform that names a value whose data did not fit gets
        // here; the data buffer is then undefined, and a cut-off folder would
        // be a wrong path, so it reads as empty.
        text = result == ERROR_SUCCESS ? std::string(data, strnlen(data, sizeof data)) : std::string();
        break;
    }
    RegCloseKey(entry);
    return text;
}

std::string ReadInstallLocation(HKEY root, const std::string& entryPath, REGSAM access) {
    return FindValueText(root, entryPath, "InstallLocation", access).value_or(std::string());
}

std::string ReadDisplayName(HKEY root, const std::string& entryPath, REGSAM access) {
    const std::optional<std::string> displayName = FindValueText(root, entryPath, "DisplayName", access);
    if (!displayName) return {};
    TraceLine(*displayName);
    return ClassifyBrowserName(*displayName).CanonicalName;
}
