#include "discovery/catalogue.h"

#include "discovery/trace.h"

#include <algorithm>
#include <string_view>

bool operator==(const BrowserRecord& a, const BrowserRecord& b) {
    return a.Name == b.Name && a.InstallLocation == b.InstallLocation;
}

void AppendRecord(BrowserCatalogue& catalogue, const BrowserRecord& record) { catalogue.push_back(record); }

bool ContainsRecord(const BrowserCatalogue& catalogue, const BrowserRecord& record) {
    return std::find(catalogue.begin(), catalogue.end(), record) != catalogue.end();
}

bool IsUsableInstallLocation(const std::string& location) {
    const auto isLetter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    const std::size_t n = location.size();
    if (n >= 3 && isLetter(location[0]) && location[1] == ':' && (location[2] == '\\' || location[2] == '/'))
        return true;
    // "\\?\" and "\\.\" are device paths; "\\\" and "\\/" name no server.
    if (n >= 3 && location[0] == '\\' && location[1] == '\\')
        return std::string_view("\\/?.").find(location[2]) == std::string_view::npos;
    if (n >= 3 && location[0] == '%') {
        const std::size_t close = location.find('%', 1);
        return close != std::string::npos && close > 1 &&
               location.find_first_of("\\/:", 1) > close;  // a variable's name, not a path
    }
    return false;
}

std::string FindInstallLocation(const BrowserCatalogue& catalogue, const std::string& name) {
    // A record without a usable location does not end the search: a later one
    // of the same name may have one.
    for (const BrowserRecord& record : catalogue)
        if (record.Name == name && IsUsableInstallLocation(record.InstallLocation)) return record.InstallLocation;
    return {};
}

void TraceCatalogue(const BrowserCatalogue& catalogue) {
    for (const BrowserRecord& record : catalogue) {
        TraceLine(record.Name);
        TraceLine(record.InstallLocation);
    }
}
