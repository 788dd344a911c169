// The registry and debug-output behaviour the launcher relies on, as probes
// that run against any implementation of platform/win32.h: the host's
// stand-in (probes/registry_contract_test.cpp) and Windows itself
// (probes/registry_probes_main.cpp, run under Wine by wine_scenarios.py --probes).
// One source, so that the stand-in is held to what the real registry does.
//
// The probes build their own keys below a scratch key in the user's own hive,
// through the setup functions each platform gives, and read them back through
// the "A" functions the launcher calls, buffers pre-filled with '#' so that an
// unexpected write shows.
#pragma once

#include "platform/win32.h"

#include <string>
#include <vector>

// Where the stand-in, Windows and Wine differ in what the launcher can see,
// one flag each; a probe that meets one checks the behaviour of the platform
// it runs on. (Where Windows versions differ, the probes accept either.)
struct ContractPlatform {
    const char* Name;
    // Wine's RegOpenKeyExA converts the path through a MAX_PATH-sized buffer:
    // a path of more than 260 characters fails with ERROR_MORE_DATA. Windows
    // opens it.
    bool LongPathsFail;
    // A standard user on Windows (the launcher's manifest is asInvoker) gets
    // ERROR_ACCESS_DENIED for write rights outside their own hive: on HKLM,
    // HKEY_USERS itself and .DEFAULT. Wine runs every program with full rights.
    bool WritesOutsideOwnHiveDenied;
    // Wine enumerates a key's values sorted by name, letter case ignored;
    // Windows, and the stand-in, in the order they were set.
    bool ValuesSorted;
};

inline constexpr ContractPlatform StandInWindows{"the stand-in, Windows flavour", false, true, false};
inline constexpr ContractPlatform StandInWine{"the stand-in, Wine flavour", true, true, false};
inline constexpr ContractPlatform RealWine{"Wine", true, false, true};

// How a platform builds the probes' keys: paths below Root, values with their
// data as RegEnumValueA hands it out (GBK text with its NUL for strings).
// Root is HKEY_USERS, and it holds .DEFAULT, as on every Windows.
struct ContractScratch {
    HKEY Root = nullptr;
    std::string Path;  // the scratch key, e.g. "<user SID>\Software\Kestlo registry probes"
    void (*AddKey)(const std::string& path) = nullptr;
    void (*AddValue)(const std::string& keyPath, const std::string& name, DWORD type, const std::string& data) =
        nullptr;
    // A key below HKLM, made through the registry view that `view`
    // (KEY_WOW64_32KEY or KEY_WOW64_64KEY) names; 32-bit Windows ignores it.
    void (*AddViewKey)(const std::string& path, REGSAM view) = nullptr;
    bool SixtyFourBitWindows = false;  // what the machine is, as its maker knows it
};

// The path below HKLM under which the view probes make their keys.
inline constexpr char ViewProbeKey[] = "SOFTWARE\\Kestlo registry probes";

// Builds the probes' keys, runs every registry probe, and returns one line per
// failed check: "registry_contract.cpp:LINE: what was expected".
std::vector<std::string> RunRegistryContract(const ContractPlatform& platform, const ContractScratch& scratch);

// Writes the debug-output probes with OutputDebugStringA, one call each.
void WriteTraceProbes();
// Checks what a debugger received from WriteTraceProbes, one string per call
// without its NUL; returns one line per failed check.
std::vector<std::string> CheckTraceProbes(const std::vector<std::string>& received);
