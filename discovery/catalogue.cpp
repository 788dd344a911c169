#include "discovery/catalogue.h"

#include "discovery/trace.h"

#include <algorithm>

bool operator==(const BrowserRecord& a, const BrowserRecord& b) {
    return a.Name == b.Name && a.InstallLocation == b.InstallLocation;
}

void AppendRecord(BrowserCatalogue& catalogue, const BrowserRecord& record) { catalogue.push_back(record); }

bool ContainsRecord(const BrowserCatalogue& catalogue, const BrowserRecord& record) {
    return std::find(catalogue.begin(), catalogue.end(), record) != catalogue.end();
}

std::string FindInstallLocation(const BrowserCatalogue& catalogue, const std::string& name) {
    // A record without a location does not end the search: a later one of the
    // same name may have one.
    for (const BrowserRecord& record : catalogue)
        if (record.Name == name && !record.InstallLocation.empty()) return record.InstallLocation;
    return {};
}

void TraceCatalogue(const BrowserCatalogue& catalogue) {
    for (const BrowserRecord& record : catalogue) {
        TraceLine(record.Name);
        TraceLine(record.InstallLocation);
    }
}
