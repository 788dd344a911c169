// The registry: two roots of keys kept in the registry's own order, handles,
// injected failures, and the five "A" functions the launcher calls.
#include "standin/call_record.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace standin {
namespace {

// Handles are small integers, below any address the predefined roots take.
HKEY HandleFromIndex(std::size_t index) { return reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(index + 1)); }

std::string JoinPath(const std::vector<std::string>& names) {
    std::string path;
    for (const std::string& name : names) path += (path.empty() ? "" : "\\") + name;
    return path;
}

// The subkey of `parent` named `name`, letter case ignored, or where it would
// go: equal names have equal RegistryOrder, which the subkeys are sorted by.
template <typename Key>
auto Child(Key& parent, const std::u16string& order) {
    return std::lower_bound(parent.Subkeys.begin(), parent.Subkeys.end(), order,
                            [](const RegistryKey& key, const std::u16string& o) { return key.Order < o; });
}

}  // namespace

RegistryKey* StandInMachine::RootKey(HKEY root, RegistryView view, std::vector<std::string>& names) {
    if (root == HKEY_USERS) return &users_;
    if (root != HKEY_LOCAL_MACHINE) return nullptr;
    if (view != RegistryView::SixtyFourBit || names.empty() || !SameKeyName(names[0], "SOFTWARE")) return &localMachine_;
    names.erase(names.begin());
    return &software64_;
}

RegistryKey& StandInMachine::AddKey(HKEY root, const std::string& path, RegistryView view) {
    std::vector<std::string> names;
    const bool split = SplitKeyPath(path, names);
    RegistryKey* key = RootKey(root, view, names);
    if (key == nullptr || !split || (view == RegistryView::SixtyFourBit && (key != &software64_ || !Is64BitWindows))) {
        std::fprintf(stderr, "standin: AddKey: bad root, path or view \"%s\"\n", path.c_str());
        std::abort();
    }
    for (const std::string& name : names) {
        std::u16string order = RegistryOrder(name);
        auto found = Child(*key, order);
        if (found == key->Subkeys.end() || found->Order != order)
            found = key->Subkeys.insert(found, RegistryKey{name, std::move(order), {}, {}});
        key = &*found;
    }
    return *key;
}

void StandInMachine::AddValue(HKEY root, const std::string& path, const std::string& name, DWORD type,
                              const std::string& data, RegistryView view) {
    std::vector<RegistryValue>& values = AddKey(root, path, view).Values;
    const auto same = std::find_if(values.begin(), values.end(), [&](auto& v) { return SameKeyName(v.Name, name); });
    if (same == values.end()) values.push_back(RegistryValue{name, type, data});
    else *same = RegistryValue{same->Name, type, data};
}

void StandInMachine::AddString(HKEY root, const std::string& path, const std::string& name, const std::string& text,
                               DWORD type) {
    AddValue(root, path, name, type, text + '\0');
}

bool StandInMachine::RemoveKey(HKEY root, const std::string& path) {
    std::vector<std::string> names;
    if (!SplitKeyPath(path, names) || names.empty()) return false;
    const std::string leaf = names.back();
    names.pop_back();
    auto* parent = const_cast<RegistryKey*>(FindKey(root, JoinPath(names)));
    if (parent == nullptr) return false;
    const std::u16string order = RegistryOrder(leaf);
    const auto found = Child(*parent, order);
    if (found == parent->Subkeys.end() || found->Order != order) return false;
    parent->Subkeys.erase(found);
    return true;
}

const RegistryKey* StandInMachine::FindKey(HKEY root, const std::string& path, RegistryView view) const {
    std::vector<std::string> names;
    if (!SplitKeyPath(path, names)) return nullptr;
    const RegistryKey* key = const_cast<StandInMachine*>(this)->RootKey(root, view, names);
    if (key == nullptr) return nullptr;
    for (const std::string& name : names) {
        const std::u16string order = RegistryOrder(name);
        const auto found = Child(*key, order);
        if (found == key->Subkeys.end() || found->Order != order) return nullptr;
        key = &*found;
    }
    return key;
}

const InjectedFailure* StandInMachine::FindFailure(RegistryCall call, HKEY root, const std::string& path,
                                                   std::optional<DWORD> index) const {
    if (failures_.empty()) return nullptr;
    std::vector<std::string> wanted, names;
    if (!SplitKeyPath(path, wanted)) return nullptr;
    for (const InjectedFailure& failure : failures_) {
        if (failure.Call != call || failure.Root != root || (failure.Index && failure.Index != index)) continue;
        if (SplitKeyPath(failure.Path, names) && names.size() == wanted.size() &&
            std::equal(names.begin(), names.end(), wanted.begin(), SameKeyName))
            return &failure;
    }
    return nullptr;
}

HKEY StandInMachine::OpenHandle(HKEY root, const std::string& path, RegistryView view) {
    std::vector<std::string> names;
    SplitKeyPath(path, names);
    handles_.push_back(Handle{root, JoinPath(names), view, true});
    return HandleFromIndex(handles_.size() - 1);
}

bool StandInMachine::HandleTarget(HKEY handle, HKEY& root, std::string& path, RegistryView* view) const {
    if (handle == HKEY_LOCAL_MACHINE || handle == HKEY_USERS) {
        root = handle;
        path.clear();
        if (view != nullptr) *view = RegistryView::ThirtyTwoBit;  // a 32-bit program's own
        return true;
    }
    const auto index = reinterpret_cast<std::uintptr_t>(handle);
    if (index == 0 || index > handles_.size() || !handles_[index - 1].Open) return false;
    root = handles_[index - 1].Root;
    path = handles_[index - 1].Path;
    if (view != nullptr) *view = handles_[index - 1].View;
    return true;
}

bool StandInMachine::CloseKeyHandle(HKEY handle) {
    const auto index = reinterpret_cast<std::uintptr_t>(handle);  // a root's is far past every handle
    if (index == 0 || index > handles_.size() || !handles_[index - 1].Open) return false;
    handles_[index - 1].Open = false;
    return true;
}

std::size_t StandInMachine::CallCount(RegistryCall call) const {
    static const char* const names[] = {"RegOpenKeyExA", "RegQueryInfoKeyA", "RegEnumKeyExA", "RegEnumValueA",
                                        "RegCloseKey"};
    return CallsOf(names[static_cast<int>(call)]).size();
}

std::size_t StandInMachine::RegistryCallCount() const {
    return std::count_if(Calls.begin(), Calls.end(),
                         [](const PlatformCall& c) { return c.Function.compare(0, 3, "Reg") == 0; });
}

std::size_t StandInMachine::OpenHandleCount() const {
    return std::count_if(handles_.begin(), handles_.end(), [](const Handle& h) { return h.Open; });
}

}  // namespace standin

using standin::CallRecord;
using standin::RegistryCall;

namespace {

bool AllZero(const void* buffer, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    return buffer != nullptr && std::all_of(bytes, bytes + size, [](unsigned char b) { return b == 0; });
}

// Rights that change a key. A standard user has none of them under
// HKEY_LOCAL_MACHINE, nor anywhere in HKEY_USERS but in the user's own hive;
// the launcher's manifest asks for no more than the user's own rights.
constexpr REGSAM WriteRights = 0x0002 /* KEY_SET_VALUE */ | 0x0004 /* KEY_CREATE_SUB_KEY */ |
                               0x0020 /* KEY_CREATE_LINK */ | 0x00010000 /* DELETE */ | 0x00040000 /* WRITE_DAC */ |
                               0x00080000 /* WRITE_OWNER */;

bool InOwnHive(const standin::StandInMachine& machine, HKEY root, const std::string& path) {
    std::vector<std::string> names;
    return root == HKEY_USERS && standin::SplitKeyPath(path, names) && !names.empty() &&
           standin::SameKeyName(names[0], machine.UserSid);
}

// An injected failure of an enumeration: what it writes to the name buffer, and its result.
LONG Fail(const standin::InjectedFailure& failure, LPSTR nameBuffer, DWORD bufferSize) {
    if (failure.NameBufferHolds && nameBuffer != nullptr)
        std::memcpy(nameBuffer, failure.NameBufferHolds->data(),
                    std::min<std::size_t>(failure.NameBufferHolds->size(), bufferSize));
    return failure.Result;
}

}  // namespace

LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM desired, PHKEY result) {
    CallRecord record("RegOpenKeyExA");
    standin::StandInMachine& machine = record.Machine;
    record.Call().Options = options;
    record.Call().Flags = desired;
    HKEY root;
    std::string path;
    if (result == nullptr) return record.Result(ERROR_INVALID_PARAMETER);
    if (!record.Key(key, root, path)) return ERROR_INVALID_HANDLE;
    if (subKey != nullptr && *subKey != '\0') path += path.empty() ? std::string(subKey) : "\\" + std::string(subKey);
    record.Call().Target = standin::KeyTarget(root, path);
    if (machine.Behaviour == standin::Flavour::Wine && subKey != nullptr && std::strlen(subKey) > MAX_PATH)
        return record.Result(ERROR_MORE_DATA);
    // Wine's conformance tests never pass both view flags, and the launcher
    // must not: the stand-in refuses them, so that a run that did would show.
    if ((desired & KEY_WOW64_32KEY) && (desired & KEY_WOW64_64KEY)) return record.Result(ERROR_INVALID_PARAMETER);
    // A flag chooses the view; without one a key opened from an open key
    // stays in its view (Wine's test_redirection, which passes on Windows).
    standin::RegistryView view = record.View;
    if (desired & (KEY_WOW64_32KEY | KEY_WOW64_64KEY))
        view = desired & KEY_WOW64_64KEY ? standin::RegistryView::SixtyFourBit : standin::RegistryView::ThirtyTwoBit;
    if (!machine.Is64BitWindows) view = standin::RegistryView::ThirtyTwoBit;
    if ((desired & WriteRights) && !InOwnHive(machine, root, path)) return record.Result(ERROR_ACCESS_DENIED);
    if (const auto* failure = machine.FindFailure(RegistryCall::OpenKey, root, path, std::nullopt))
        return record.Result(failure->Result);
    if (machine.FindKey(root, path, view) == nullptr) return record.Result(ERROR_FILE_NOT_FOUND);
    *result = machine.OpenHandle(root, path, view);
    return record.Result(ERROR_SUCCESS);
}

LONG RegQueryInfoKeyA(HKEY key, LPSTR keyClass, LPDWORD keyClassLength, LPDWORD reserved, LPDWORD subKeys,
                      LPDWORD maxSubKeyLength, LPDWORD maxClassLength, LPDWORD values, LPDWORD maxValueNameLength,
                      LPDWORD maxValueLength, LPDWORD securityDescriptorLength, PFILETIME lastWriteTime) {
    CallRecord record("RegQueryInfoKeyA");
    if (keyClass || keyClassLength || reserved || maxSubKeyLength || maxClassLength || values ||
        maxValueNameLength || maxValueLength || securityDescriptorLength || lastWriteTime) {
        std::fputs("standin: RegQueryInfoKeyA: only the subkey count is provided\n", stderr);
        std::abort();
    }
    HKEY root;
    std::string path;
    if (!record.Key(key, root, path)) return ERROR_INVALID_HANDLE;
    if (const auto* failure = record.Machine.FindFailure(RegistryCall::QueryInfoKey, root, path, std::nullopt))
        return record.Result(failure->Result);
    const standin::RegistryKey* target = record.Machine.FindKey(root, path, record.View);
    if (target == nullptr) return record.Result(ERROR_KEY_DELETED);
    if (subKeys != nullptr) *subKeys = static_cast<DWORD>(target->Subkeys.size());
    return record.Result(ERROR_SUCCESS);
}

LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameLength, LPDWORD, LPSTR, LPDWORD, PFILETIME) {
    CallRecord record("RegEnumKeyExA");
    record.Call().Index = index;
    HKEY root;
    std::string path;
    if (!record.Key(key, root, path)) return ERROR_INVALID_HANDLE;
    if (name == nullptr || nameLength == nullptr) return record.Result(ERROR_INVALID_PARAMETER);
    record.Call().NameLength = *nameLength;
    record.Call().BuffersCleared = AllZero(name, *nameLength);
    if (const auto* failure = record.Machine.FindFailure(RegistryCall::EnumKey, root, path, index))
        return record.Result(Fail(*failure, name, *nameLength));
    const standin::RegistryKey* target = record.Machine.FindKey(root, path, record.View);
    if (target == nullptr) return record.Result(ERROR_KEY_DELETED);
    if (index >= target->Subkeys.size()) return record.Result(ERROR_NO_MORE_ITEMS);
    const std::string& found = target->Subkeys[index].Name;
    if (found.size() >= *nameLength) return record.Result(ERROR_MORE_DATA);
    std::memcpy(name, found.c_str(), found.size() + 1);
    *nameLength = static_cast<DWORD>(found.size());
    return record.Result(ERROR_SUCCESS);
}

LONG RegEnumValueA(HKEY key, DWORD index, LPSTR valueName, LPDWORD valueNameLength, LPDWORD, LPDWORD type,
                   LPBYTE data, LPDWORD dataLength) {
    CallRecord record("RegEnumValueA");
    record.Call().Index = index;
    HKEY root;
    std::string path;
    if (!record.Key(key, root, path)) return ERROR_INVALID_HANDLE;
    if (valueName == nullptr || valueNameLength == nullptr || *valueNameLength == 0)
        return record.Result(ERROR_INVALID_PARAMETER);
    record.Call().NameLength = *valueNameLength;
    record.Call().DataLength = dataLength ? *dataLength : 0;
    record.Call().BuffersCleared = data != nullptr && dataLength != nullptr && AllZero(data, *dataLength);
    if (const auto* failure = record.Machine.FindFailure(RegistryCall::EnumValue, root, path, index))
        return record.Result(Fail(*failure, valueName, *valueNameLength));
    const standin::RegistryKey* target = record.Machine.FindKey(root, path, record.View);
    if (target == nullptr) return record.Result(ERROR_KEY_DELETED);
    if (index >= target->Values.size()) return record.Result(ERROR_NO_MORE_ITEMS);
    const standin::RegistryValue& value = target->Values[index];

    const DWORD nameRoom = *valueNameLength;
    if (value.Name.size() >= nameRoom) {
        std::memcpy(valueName, value.Name.data(), nameRoom - 1);
        valueName[nameRoom - 1] = '\0';
        return record.Result(ERROR_MORE_DATA);
    }
    if (type != nullptr) *type = value.Type;
    if (dataLength != nullptr && value.Data.size() > *dataLength) {
        // Windows and Wine alike: the size needed and the type, and nothing
        // else; the name, its length and the data buffer are left as they were
        // (Wine's conformance test "overflow data", which passes on Windows).
        *dataLength = static_cast<DWORD>(value.Data.size());
        return record.Result(ERROR_MORE_DATA);
    }
    std::memcpy(valueName, value.Name.c_str(), value.Name.size() + 1);
    *valueNameLength = static_cast<DWORD>(value.Name.size());
    if (dataLength == nullptr) return record.Result(ERROR_SUCCESS);
    if (data != nullptr) std::memcpy(data, value.Data.data(), value.Data.size());
    *dataLength = static_cast<DWORD>(value.Data.size());
    return record.Result(ERROR_SUCCESS);
}

LONG RegCloseKey(HKEY key) {
    CallRecord record("RegCloseKey");
    HKEY root;
    std::string path;
    if (record.Machine.HandleTarget(key, root, path)) record.Call().Target = standin::KeyTarget(root, path);
    return record.Result(record.Machine.CloseKeyHandle(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE);
}
