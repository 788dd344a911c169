// The Win32 stand-in: an in-memory registry and recorded calls.
#include "platform/standin_machine.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace standin {
namespace {

StandInMachine* activeMachine = nullptr;

char FoldAscii(char c) { return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c; }

std::string JoinPath(const std::vector<std::string>& names) {
    std::string path;
    for (const std::string& name : names) {
        if (!path.empty()) path += '\\';
        path += name;
    }
    return path;
}

// Handles are small integers above the predefined roots' range cannot reach.
HKEY HandleFromIndex(std::size_t index) { return reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(index + 1)); }

bool IsRoot(HKEY key) { return key == HKEY_LOCAL_MACHINE || key == HKEY_USERS; }

std::string Folded(const std::string& name) {
    std::string folded = name;
    for (char& c : folded) c = FoldAscii(c);
    return folded;
}

// Sorts subkeys as the registry keeps them: by name, ASCII letters folded to
// upper case, other bytes (GBK) compared as unsigned bytes.
void SortSubkeys(RegistryKey& key) {
    std::stable_sort(key.Subkeys.begin(), key.Subkeys.end(),
                     [](const RegistryKey& a, const RegistryKey& b) { return Folded(a.Name) < Folded(b.Name); });
    for (RegistryKey& subkey : key.Subkeys) SortSubkeys(subkey);
}

std::size_t FindCaseless(const std::string& text, const std::string& part) {
    auto found = std::search(text.begin(), text.end(), part.begin(), part.end(),
                             [](char x, char y) { return FoldAscii(x) == FoldAscii(y); });
    return found == text.end() ? std::string::npos : static_cast<std::size_t>(found - text.begin());
}

}  // namespace

bool SameKeyName(const std::string& a, const std::string& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return FoldAscii(x) == FoldAscii(y); });
}

bool SplitKeyPath(const std::string& path, std::vector<std::string>& names) {
    names.clear();
    std::size_t start = 0;
    while (start < path.size()) {
        std::size_t end = path.find('\\', start);
        if (end == std::string::npos) end = path.size();
        if (end == start) return false;  // "\\" at the start or doubled
        names.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return true;
}

StandInMachine::StandInMachine() {
    if (activeMachine != nullptr) {
        std::fputs("standin: a StandInMachine already exists; only one may exist at a time\n", stderr);
        std::abort();
    }
    activeMachine = this;
}

StandInMachine::~StandInMachine() { activeMachine = nullptr; }

StandInMachine& StandInMachine::Active() {
    if (activeMachine == nullptr) {
        std::fputs("standin: a Win32 function was called while no StandInMachine exists\n", stderr);
        std::abort();
    }
    return *activeMachine;
}

RegistryKey* StandInMachine::RootKey(HKEY root) {
    if (root == HKEY_LOCAL_MACHINE) return &localMachine_;
    if (root == HKEY_USERS) return &users_;
    return nullptr;
}

const RegistryKey* StandInMachine::RootKey(HKEY root) const {
    return const_cast<StandInMachine*>(this)->RootKey(root);
}

RegistryKey& StandInMachine::AddKey(HKEY root, const std::string& path) {
    childIndex_.clear();
    RegistryKey* key = RootKey(root);
    std::vector<std::string> names;
    if (key == nullptr || !SplitKeyPath(path, names)) {
        std::fprintf(stderr, "standin: AddKey: bad root or path \"%s\"\n", path.c_str());
        std::abort();
    }
    for (const std::string& name : names) {
        auto found = std::find_if(key->Subkeys.begin(), key->Subkeys.end(),
                                  [&](const RegistryKey& k) { return SameKeyName(k.Name, name); });
        if (found == key->Subkeys.end()) {
            key->Subkeys.push_back(RegistryKey{name, {}, {}});
            key = &key->Subkeys.back();
        } else {
            key = &*found;
        }
    }
    return *key;
}

void StandInMachine::AddValue(HKEY root, const std::string& path, const std::string& name, DWORD type,
                              const std::string& data) {
    AddKey(root, path).Values.push_back(RegistryValue{name, type, data});
}

void StandInMachine::AddString(HKEY root, const std::string& path, const std::string& name,
                               const std::string& text, DWORD type) {
    AddValue(root, path, name, type, text + '\0');
}

bool StandInMachine::RemoveKey(HKEY root, const std::string& path) {
    childIndex_.clear();
    std::vector<std::string> names;
    RegistryKey* key = RootKey(root);
    if (key == nullptr || !SplitKeyPath(path, names) || names.empty()) return false;
    for (std::size_t i = 0; i < names.size(); ++i) {
        auto found = std::find_if(key->Subkeys.begin(), key->Subkeys.end(),
                                  [&](const RegistryKey& k) { return SameKeyName(k.Name, names[i]); });
        if (found == key->Subkeys.end()) return false;
        if (i + 1 == names.size()) {
            key->Subkeys.erase(found);
            return true;
        }
        key = &*found;
    }
    return false;
}

void StandInMachine::SortRegistry() {
    childIndex_.clear();
    SortSubkeys(localMachine_);
    SortSubkeys(users_);
}

void StandInMachine::AddFile(const std::string& path) { files_.push_back(path); }

void StandInMachine::Inject(const InjectedFailure& failure) { failures_.push_back(failure); }

const RegistryKey* StandInMachine::FindKey(HKEY root, const std::string& path) const {
    const RegistryKey* key = RootKey(root);
    std::vector<std::string> names;
    if (key == nullptr || !SplitKeyPath(path, names)) return nullptr;
    for (const std::string& name : names) {
        // An index of each key's subkeys by folded name, built on first use,
        // keeps a lookup among thousands of entries from costing thousands of
        // comparisons; any change to the tree drops it.
        auto [index, fresh] = childIndex_.try_emplace(key);
        if (fresh)
            for (std::size_t i = 0; i < key->Subkeys.size(); ++i)
                index->second.try_emplace(Folded(key->Subkeys[i].Name), i);
        auto found = index->second.find(Folded(name));
        if (found == index->second.end()) return nullptr;
        key = &key->Subkeys[found->second];
    }
    return key;
}

const InjectedFailure* StandInMachine::FindFailure(RegistryCall call, HKEY root, const std::string& path,
                                                   std::optional<DWORD> index) const {
    std::vector<std::string> wanted, names;
    if (!SplitKeyPath(path, wanted)) return nullptr;
    for (const InjectedFailure& failure : failures_) {
        if (failure.Call != call || failure.Root != root) continue;
        if (!SplitKeyPath(failure.Path, names) || names.size() != wanted.size() ||
            !std::equal(names.begin(), names.end(), wanted.begin(), SameKeyName))
            continue;
        if (failure.Index && failure.Index != index) continue;
        return &failure;
    }
    return nullptr;
}

HKEY StandInMachine::OpenHandle(HKEY root, const std::string& path) {
    std::vector<std::string> names;
    SplitKeyPath(path, names);
    handles_.push_back(Handle{root, JoinPath(names), true});
    return HandleFromIndex(handles_.size() - 1);
}

bool StandInMachine::HandleTarget(HKEY handle, HKEY& root, std::string& path) const {
    if (IsRoot(handle)) {
        root = handle;
        path.clear();
        return true;
    }
    auto index = reinterpret_cast<std::uintptr_t>(handle);
    if (index == 0 || index > handles_.size() || !handles_[index - 1].Open) return false;
    root = handles_[index - 1].Root;
    path = handles_[index - 1].Path;
    return true;
}

bool StandInMachine::CloseHandle(HKEY handle) {
    auto index = reinterpret_cast<std::uintptr_t>(handle);
    if (index == 0 || index > handles_.size() || !handles_[index - 1].Open) return false;
    handles_[index - 1].Open = false;
    return true;
}

void StandInMachine::Count(RegistryCall call) { ++callCounts_[static_cast<int>(call)]; }

std::size_t StandInMachine::CallCount(RegistryCall call) const { return callCounts_[static_cast<int>(call)]; }

std::size_t StandInMachine::RegistryCallCount() const {
    std::size_t total = 0;
    for (std::size_t count : callCounts_) total += count;
    return total;
}

std::size_t StandInMachine::OpenHandleCount() const {
    return std::count_if(handles_.begin(), handles_.end(), [](const Handle& h) { return h.Open; });
}

bool StandInMachine::HasFile(const std::string& given) const {
    // Like the shell: environment references are expanded, and neither letter
    // case nor doubled backslashes matter.
    std::string path = given;
    for (const auto& [name, value] : Environment) {
        const std::string reference = "%" + name + "%";
        for (std::size_t at; (at = FindCaseless(path, reference)) != std::string::npos;)
            path.replace(at, reference.size(), value);
    }
    auto normal = [](const std::string& p) {
        std::string out;
        for (char c : p)
            if (!(c == '\\' && !out.empty() && out.back() == '\\')) out += c;
        return out;
    };
    return std::any_of(files_.begin(), files_.end(),
                       [&](const std::string& f) { return SameKeyName(normal(f), normal(path)); });
}

std::vector<std::string> StandInMachine::TraceLines() const {
    std::string all;
    for (const std::string& text : DebugOutput) all += text;
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = all.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(all.substr(start, end - start));
    if (start < all.size()) lines.push_back(all.substr(start));
    return lines;
}

}  // namespace standin

using standin::RegistryCall;
using standin::StandInMachine;

namespace {

int callDepth = 0;

// Marks the time spent inside a stand-in function (see InsideStandIn).
struct CallScope {
    CallScope() { ++callDepth; }
    ~CallScope() { --callDepth; }
    CallScope(const CallScope&) = delete;
    CallScope& operator=(const CallScope&) = delete;
};

}  // namespace

bool standin::InsideStandIn() { return callDepth > 0; }

namespace {

// Applies an injected failure to an enumeration's name buffer and result.
LONG Fail(const standin::InjectedFailure& failure, LPSTR nameBuffer, DWORD bufferSize) {
    if (failure.NameBufferHolds && nameBuffer != nullptr)
        std::memcpy(nameBuffer, failure.NameBufferHolds->data(),
                    std::min<std::size_t>(failure.NameBufferHolds->size(), bufferSize));
    return failure.Result;
}

}  // namespace

LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM, PHKEY result) {
    const CallScope scope;
    StandInMachine& machine = StandInMachine::Active();
    machine.Count(RegistryCall::OpenKey);
    HKEY root;
    std::string path;
    if (result == nullptr) return ERROR_INVALID_PARAMETER;
    if (!machine.HandleTarget(key, root, path)) return ERROR_INVALID_HANDLE;
    if (machine.Behaviour == standin::Flavour::Wine && subKey != nullptr && std::strlen(subKey) > MAX_PATH)
        return ERROR_MORE_DATA;
    if (subKey != nullptr && *subKey != '\0') path += path.empty() ? std::string(subKey) : "\\" + std::string(subKey);
    if (const auto* failure = machine.FindFailure(RegistryCall::OpenKey, root, path, std::nullopt))
        return failure->Result;
    if (machine.FindKey(root, path) == nullptr) return ERROR_FILE_NOT_FOUND;
    *result = machine.OpenHandle(root, path);
    return ERROR_SUCCESS;
}

LONG RegQueryInfoKeyA(HKEY key, LPSTR keyClass, LPDWORD keyClassLength, LPDWORD reserved, LPDWORD subKeys,
                      LPDWORD maxSubKeyLength, LPDWORD maxClassLength, LPDWORD values, LPDWORD maxValueNameLength,
                      LPDWORD maxValueLength, LPDWORD securityDescriptorLength, PFILETIME lastWriteTime) {
    const CallScope scope;
    StandInMachine& machine = StandInMachine::Active();
    machine.Count(RegistryCall::QueryInfoKey);
    if (keyClass || keyClassLength || reserved || maxSubKeyLength || maxClassLength || values ||
        maxValueNameLength || maxValueLength || securityDescriptorLength || lastWriteTime) {
        std::fputs("standin: RegQueryInfoKeyA: only the subkey count is provided\n", stderr);
        std::abort();
    }
    HKEY root;
    std::string path;
    if (!machine.HandleTarget(key, root, path)) return ERROR_INVALID_HANDLE;
    if (const auto* failure = machine.FindFailure(RegistryCall::QueryInfoKey, root, path, std::nullopt))
        return failure->Result;
    const standin::RegistryKey* target = machine.FindKey(root, path);
    if (target == nullptr) return ERROR_KEY_DELETED;
    if (subKeys != nullptr) *subKeys = static_cast<DWORD>(target->Subkeys.size());
    return ERROR_SUCCESS;
}

LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameLength, LPDWORD, LPSTR, LPDWORD, PFILETIME) {
    const CallScope scope;
    StandInMachine& machine = StandInMachine::Active();
    machine.Count(RegistryCall::EnumKey);
    HKEY root;
    std::string path;
    if (!machine.HandleTarget(key, root, path)) return ERROR_INVALID_HANDLE;
    if (name == nullptr || nameLength == nullptr) return ERROR_INVALID_PARAMETER;
    if (const auto* failure = machine.FindFailure(RegistryCall::EnumKey, root, path, index))
        return Fail(*failure, name, *nameLength);
    const standin::RegistryKey* target = machine.FindKey(root, path);
    if (target == nullptr) return ERROR_KEY_DELETED;
    if (index >= target->Subkeys.size()) return ERROR_NO_MORE_ITEMS;
    const std::string& found = target->Subkeys[index].Name;
    if (found.size() >= *nameLength) return ERROR_MORE_DATA;
    std::memcpy(name, found.c_str(), found.size() + 1);
    *nameLength = static_cast<DWORD>(found.size());
    return ERROR_SUCCESS;
}

LONG RegEnumValueA(HKEY key, DWORD index, LPSTR valueName, LPDWORD valueNameLength, LPDWORD, LPDWORD type,
                   LPBYTE data, LPDWORD dataLength) {
    const CallScope scope;
    StandInMachine& machine = StandInMachine::Active();
    machine.Count(RegistryCall::EnumValue);
    HKEY root;
    std::string path;
    if (!machine.HandleTarget(key, root, path)) return ERROR_INVALID_HANDLE;
    if (valueName == nullptr || valueNameLength == nullptr || *valueNameLength == 0) return ERROR_INVALID_PARAMETER;
    if (const auto* failure = machine.FindFailure(RegistryCall::EnumValue, root, path, index))
        return Fail(*failure, valueName, *valueNameLength);
    const standin::RegistryKey* target = machine.FindKey(root, path);
    if (target == nullptr) return ERROR_KEY_DELETED;
    if (index >= target->Values.size()) return ERROR_NO_MORE_ITEMS;
    const standin::RegistryValue& value = target->Values[index];

    const DWORD nameRoom = *valueNameLength;
    if (value.Name.size() >= nameRoom) {
        std::memcpy(valueName, value.Name.data(), nameRoom - 1);
        valueName[nameRoom - 1] = '\0';
        return ERROR_MORE_DATA;
    }
    const bool dataFits = dataLength == nullptr || value.Data.size() <= *dataLength;
    if (dataFits || machine.Behaviour == standin::Flavour::Windows) {
        std::memcpy(valueName, value.Name.c_str(), value.Name.size() + 1);
        *valueNameLength = static_cast<DWORD>(value.Name.size());
    }
    if (type != nullptr) *type = value.Type;
    if (dataLength == nullptr) return ERROR_SUCCESS;
    if (!dataFits) {
        // Windows leaves the buffer undefined; a truncated copy is the most
        // plausible-looking wrong answer, so that a caller who uses it shows.
        if (data != nullptr) std::memcpy(data, value.Data.data(), *dataLength);
        *dataLength = static_cast<DWORD>(value.Data.size());
        return ERROR_MORE_DATA;
    }
    if (data != nullptr) std::memcpy(data, value.Data.data(), value.Data.size());
    *dataLength = static_cast<DWORD>(value.Data.size());
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
    const CallScope scope;
    StandInMachine& machine = StandInMachine::Active();
    machine.Count(RegistryCall::CloseKey);
    return machine.CloseHandle(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

HINSTANCE ShellExecuteA(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters, LPCSTR directory, INT showCommand) {
    const CallScope scope;
    StandInMachine& machine = StandInMachine::Active();
    auto text = [](LPCSTR s) { return s ? std::optional<std::string>(s) : std::nullopt; };
    machine.ShellCalls.push_back(
        standin::ShellExecuteCall{owner != nullptr, text(verb), text(file), text(parameters), text(directory), showCommand});
    // Like ShellExecute: a value above 32 means started, 2 means file not found.
    const bool started = file != nullptr && machine.HasFile(file);
    return reinterpret_cast<HINSTANCE>(static_cast<std::uintptr_t>(started ? 42 : ERROR_FILE_NOT_FOUND));
}

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    const CallScope scope;
    StandInMachine& machine = StandInMachine::Active();
    machine.MessageBoxes.push_back(
        standin::MessageBoxCall{owner != nullptr, text ? text : "", caption ? caption : "", type});
    return IDOK;
}

void OutputDebugStringA(LPCSTR text) {
    const CallScope scope;
    StandInMachine::Active().DebugOutput.push_back(text ? text : "");
}
