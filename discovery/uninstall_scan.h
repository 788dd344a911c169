// Walking one uninstall key and cataloguing the browsers among its entries.
#pragma once

#include "discovery/catalogue.h"
#include "platform/win32.h"

#include <string>

// Walks every subkey of `basePath` under `root` (a path ending in a backslash,
// or empty for the root itself) and appends a record for each browser entry.
//
// For each subkey it traces the subkey's name, then ReadDisplayName traces the
// display name. A recognised entry's InstallLocation is read and the record
// (name, location) appended, unless the catalogue already holds an equal one.
// A key that cannot be opened or counted scans nothing; a subkey that cannot be
// enumerated (a name of 255 characters or more, a subkey removed meanwhile) is
// skipped. The subkey count is taken once, before the walk. The key and each
// entry are opened with `access`: KEY_READ, and the flag of a registry view.
void ScanUninstallKey(HKEY root, const std::string& basePath, BrowserCatalogue& catalogue, REGSAM access = KEY_READ);
