// registry_probes: the registry probes of probes/registry_contract.cpp
// against the real registry, as the stand-in runs them on the host.
//
//   registry_probes.exe (--32-bit-windows | --64-bit-windows)
//       Builds the probes' keys below HKEY_USERS\<user SID>\Software\Kestlo
//       registry probes (and two below HKLM, one through each registry view),
//       runs the probes, on a machine its caller says is 32-bit or 64-bit
//       Windows, writes the debug-output probes, deletes every key it made,
//       prints each failure; exits 0 when none failed.
//   registry_probes.exe --check-trace FILE
//       Checks what trace_collector.exe recorded of such a run in FILE.
#include "discovery/user_uninstall_path.h"
#include "probes/registry_contract.h"

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

std::wstring Wide(const std::string& text) {
    std::wstring wide(text.size() + 1, L'\0');
    const int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), &wide[0],
                                           static_cast<int>(wide.size()));
    wide.resize(static_cast<std::size_t>(length > 0 ? length : 0));
    return wide;
}

// Creates the key one level at a time, relative to its parent, so that no
// single call sees a path longer than one name; the path is split after its
// conversion, where a GBK character's second byte can no longer pass for '\'.
HKEY Create(HKEY root, const std::string& path, REGSAM view = 0) {
    const std::wstring wide = Wide(path);
    HKEY parent = root;
    std::size_t start = 0;
    while (start <= wide.size()) {
        std::size_t end = wide.find(L'\\', start);
        if (end == std::wstring::npos) end = wide.size();
        HKEY child = nullptr;
        const LONG result = RegCreateKeyExW(parent, wide.substr(start, end - start).c_str(), 0, nullptr, 0,
                                            KEY_WRITE | KEY_READ | view, nullptr, &child, nullptr);
        if (parent != root) RegCloseKey(parent);
        if (result != ERROR_SUCCESS) {
            std::printf("setup: cannot create %s (error %ld)\n", path.c_str(), static_cast<long>(result));
            return nullptr;
        }
        parent = child;
        start = end + 1;
    }
    return parent;
}

void AddKey(const std::string& path) {
    if (HKEY key = Create(HKEY_USERS, path)) RegCloseKey(key);
}

void AddValue(const std::string& keyPath, const std::string& name, DWORD type, const std::string& data) {
    HKEY key = Create(HKEY_USERS, keyPath);
    if (key == nullptr) return;
    const LONG result = RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()),
                                       static_cast<DWORD>(data.size()));
    if (result != ERROR_SUCCESS) std::printf("setup: cannot set a value of %s (error %ld)\n", keyPath.c_str(), result);
    RegCloseKey(key);
}

void AddViewKey(const std::string& path, REGSAM view) {
    if (HKEY key = Create(HKEY_LOCAL_MACHINE, path, view)) RegCloseKey(key);
}

// Deletes what the probes made (and what an earlier, interrupted run left).
void DeleteScratch(const std::string& scratch) {
    RegDeleteTreeA(HKEY_USERS, scratch.c_str());
    for (const REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
        HKEY software = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_ALL_ACCESS | view, &software) != ERROR_SUCCESS) continue;
        RegDeleteTreeA(software, std::string(ViewProbeKey).substr(sizeof "SOFTWARE").c_str());
        RegCloseKey(software);
    }
}

int RunProbes(bool sixtyFourBitWindows) {
    const std::string sid = CurrentUserSid();
    if (sid.empty()) {
        std::printf("cannot read this process's user SID\n");
        return 1;
    }
    ContractScratch scratch;
    scratch.Root = HKEY_USERS;
    scratch.Path = sid + "\\Software\\Kestlo registry probes";
    scratch.AddKey = AddKey;
    scratch.AddValue = AddValue;
    scratch.AddViewKey = AddViewKey;
    scratch.SixtyFourBitWindows = sixtyFourBitWindows;
    DeleteScratch(scratch.Path);
    const std::vector<std::string> failures = RunRegistryContract(RealWine, scratch);
    DeleteScratch(scratch.Path);
    WriteTraceProbes();
    for (const std::string& failure : failures) std::printf("FAIL %s\n", failure.c_str());
    std::printf("registry probes on %s: %s\n", RealWine.Name, failures.empty() ? "all passed" : "FAILED");
    return failures.empty() ? 0 : 1;
}

// trace_collector's record: "S <hex>" for each debug string.
int CheckTrace(const char* path) {
    std::ifstream file(path);
    if (!file) {
        std::printf("cannot read %s\n", path);
        return 1;
    }
    std::vector<std::string> received;
    for (std::string line; std::getline(file, line);) {
        if (line.rfind("S ", 0) != 0) continue;
        std::string bytes;
        for (std::size_t i = 2; i + 1 < line.size(); i += 2)
            bytes += static_cast<char>(std::stoi(line.substr(i, 2), nullptr, 16));
        received.push_back(bytes);
    }
    const std::vector<std::string> failures = CheckTraceProbes(received);
    for (const std::string& failure : failures) std::printf("FAIL %s\n", failure.c_str());
    std::printf("debug-output probes: %s\n", failures.empty() ? "all passed" : "FAILED");
    return failures.empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--check-trace") return CheckTrace(argv[2]);
    if (argc == 2 && std::string(argv[1]) == "--32-bit-windows") return RunProbes(false);
    if (argc == 2 && std::string(argv[1]) == "--64-bit-windows") return RunProbes(true);
    std::printf("usage: registry_probes.exe (--32-bit-windows | --64-bit-windows | --check-trace FILE)\n");
    return 2;
}
