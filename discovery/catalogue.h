// The catalogue of recognised browsers: what the uninstall scans found, in the
// order they found it.
#pragma once

#include <string>
#include <vector>

struct BrowserRecord {
    std::string Name;             // canonical browser name, such as "Chrome"; never empty once stored
    std::string InstallLocation;  // the entry's InstallLocation text, or empty when it had none
};

bool operator==(const BrowserRecord& a, const BrowserRecord& b);

// Records in discovery order: machine-wide entries first, then the user's.
// Only ever appended to.
using BrowserCatalogue = std::vector<BrowserRecord>;

void AppendRecord(BrowserCatalogue& catalogue, const BrowserRecord& record);

bool ContainsRecord(const BrowserCatalogue& catalogue, const BrowserRecord& record);

// True for a location that names one folder whatever the current folder and
// the shell's search path: "C:\..." or "c:/...", a UNC path "\\server\...",
// or one that starts with an environment reference, "%ProgramFiles%\..."
// (REG_EXPAND_SZ is read unexpanded). No installer writes anything else:
// ".", "Chrome", "C:x", "file:///C:/x", "\\?\C:\x" and "" are refused, so
// that the current folder (often Downloads) cannot choose the program.
bool IsUsableInstallLocation(const std::string& location);

// The install location of the first record named exactly `name` (case-sensitive)
// whose location is usable (IsUsableInstallLocation); an empty string when
// there is none.
std::string FindInstallLocation(const BrowserCatalogue& catalogue, const std::string& name);

// Traces each record as two lines, its name and then its install location
// (an empty location still gives its line). An empty catalogue traces nothing.
void TraceCatalogue(const BrowserCatalogue& catalogue);
