// The Win32 stand-in: an in-memory registry and recorded calls.
#include "standin/standin_machine.h"

#include <iconv.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

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

// A GBK lead byte: it and the byte after it are one character, whose second
// byte may look like '\\' or an ASCII letter.
bool IsLeadByte(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 0x81 && byte <= 0xFE;
}

// The name with its ASCII letters in upper case; the bytes of two-byte
// characters as they are. Two names are the same key name when these agree.
std::string Folded(const std::string& name) {
    std::string folded = name;
    for (std::size_t i = 0; i < folded.size(); ++i) {
        if (IsLeadByte(folded[i])) ++i;
        else folded[i] = FoldAscii(folded[i]);
    }
    return folded;
}

// What the registry orders names by: their UTF-16 code units (the registry
// keeps names in UTF-16), ASCII letters in upper case. A GBK name's bytes
// order differently: 程 (B3 CC) comes before 微 (CE A2) as bytes, after it as
// U+7A0B and U+5FAE. Bytes that are not GBK sort as units of their own.
std::u16string SortKey(const std::string& name) {
    static const iconv_t converter = iconv_open("UTF-16LE", "GBK");
    const bool canConvert = converter != reinterpret_cast<iconv_t>(-1);
    const std::string folded = Folded(name);
    std::u16string units;
    for (std::size_t i = 0; i < folded.size();) {
        const std::size_t width = IsLeadByte(folded[i]) && i + 1 < folded.size() ? 2 : 1;
        char in[2] = {folded[i], width == 2 ? folded[i + 1] : '\0'};
        unsigned char out[4] = {};
        char* inPtr = in;
        char* outPtr = reinterpret_cast<char*>(out);
        std::size_t inLeft = width, outLeft = sizeof out;
        if (canConvert) iconv(converter, nullptr, nullptr, nullptr, nullptr);  // a fresh shift state
        if (canConvert &&
            iconv(converter, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1) && outLeft == 2) {
            units += static_cast<char16_t>(out[0] | out[1] << 8);
            i += width;
        } else {
            units += static_cast<char16_t>(0xDC00 + static_cast<unsigned char>(folded[i++]));
        }
    }
    return units;
}

// Sorts subkeys as the registry keeps them (SortKey).
void SortSubkeys(RegistryKey& key) {
    std::vector<std::pair<std::u16string, std::size_t>> order;
    for (std::size_t i = 0; i < key.Subkeys.size(); ++i) order.emplace_back(SortKey(key.Subkeys[i].Name), i);
    std::stable_sort(order.begin(), order.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<RegistryKey> sorted;
    sorted.reserve(order.size());
    for (const auto& entry : order) sorted.push_back(std::move(key.Subkeys[entry.second]));
    key.Subkeys = std::move(sorted);
    for (RegistryKey& subkey : key.Subkeys) SortSubkeys(subkey);
}

std::size_t FindCaseless(const std::string& text, const std::string& part) {
    auto found = std::search(text.begin(), text.end(), part.begin(), part.end(),
                             [](char x, char y) { return FoldAscii(x) == FoldAscii(y); });
    return found == text.end() ? std::string::npos : static_cast<std::size_t>(found - text.begin());
}

}  // namespace

bool SameKeyName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (IsLeadByte(a[i]) && i + 1 < a.size()) {
            if (a[i] != b[i] || a[i + 1] != b[i + 1]) return false;
            ++i;
        } else if (FoldAscii(a[i]) != FoldAscii(b[i])) {
            return false;
        }
    }
    return true;
}

bool SplitKeyPath(const std::string& path, std::vector<std::string>& names) {
    names.clear();
    std::size_t start = 0;
    while (start < path.size()) {
        // A backslash byte that is the second byte of a GBK character does not end a name.
        std::size_t end = start;
        while (end < path.size() && path[end] != '\\') end += IsLeadByte(path[end]) && end + 1 < path.size() ? 2 : 1;
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

bool StandInMachine::CloseKeyHandle(HKEY handle) {
    auto index = reinterpret_cast<std::uintptr_t>(handle);
    if (index == 0 || index > handles_.size() || !handles_[index - 1].Open) return false;
    handles_[index - 1].Open = false;
    return true;
}

std::size_t StandInMachine::CallCount(RegistryCall call) const {
    static const char* const names[] = {"RegOpenKeyExA", "RegQueryInfoKeyA", "RegEnumKeyExA", "RegEnumValueA",
                                        "RegCloseKey"};
    const std::string name = names[static_cast<int>(call)];
    return std::count_if(Calls.begin(), Calls.end(), [&](const PlatformCall& c) { return c.Function == name; });
}

std::size_t StandInMachine::RegistryCallCount() const {
    return std::count_if(Calls.begin(), Calls.end(),
                         [](const PlatformCall& c) { return c.Function.compare(0, 3, "Reg") == 0; });
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

PlatformCall& StandInMachine::Record(const std::string& function, const std::string& target) {
    PlatformCall& call = Calls.emplace_back();
    call.Function = function;
    call.Target = target;
    return call;
}

std::vector<std::string> StandInMachine::CallNames() const {
    std::vector<std::string> names;
    for (const PlatformCall& call : Calls) names.push_back(call.Function);
    return names;
}

std::vector<PlatformCall> StandInMachine::CallsOf(const std::string& function) const {
    std::vector<PlatformCall> found;
    std::copy_if(Calls.begin(), Calls.end(), std::back_inserter(found),
                 [&](const PlatformCall& call) { return call.Function == function; });
    return found;
}

HANDLE StandInMachine::OpenToken() {
    tokens_.push_back(true);
    return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0x1000 + 4 * (tokens_.size() - 1)));
}

bool StandInMachine::IsToken(HANDLE token) const {
    const auto value = reinterpret_cast<std::uintptr_t>(token);
    if (value < 0x1000 || value % 4 != 0) return false;
    const std::size_t index = (value - 0x1000) / 4;
    return index < tokens_.size() && tokens_[index];
}

bool StandInMachine::CloseToken(HANDLE token) {
    if (!IsToken(token)) return false;
    tokens_[(reinterpret_cast<std::uintptr_t>(token) - 0x1000) / 4] = false;
    return true;
}

std::size_t StandInMachine::OpenTokenCount() const { return std::count(tokens_.begin(), tokens_.end(), true); }

char* StandInMachine::LocalAllocString(const std::string& text) {
    localBlocks_.push_back(std::make_unique<char[]>(text.size() + 1));
    std::memcpy(localBlocks_.back().get(), text.c_str(), text.size() + 1);
    return localBlocks_.back().get();
}

bool StandInMachine::LocalFreeBlock(void* block) {
    for (auto& owned : localBlocks_)
        if (owned && owned.get() == block) {
            owned.reset();
            return true;
        }
    return false;
}

std::size_t StandInMachine::LocalAllocCount() const {
    return std::count_if(localBlocks_.begin(), localBlocks_.end(), [](const auto& block) { return block != nullptr; });
}

std::string KeyTarget(HKEY root, const std::string& path) {
    const std::string name = root == HKEY_LOCAL_MACHINE ? "HKLM" : root == HKEY_USERS ? "HKU" : "?";
    return path.empty() ? name : name + "\\" + path;
}

std::vector<std::string> TraceCalls(const std::vector<std::string>& lines) {
    std::vector<std::string> calls;
    for (const std::string& line : lines) {
        calls.push_back(line);
        calls.push_back("\n");
    }
    return calls;
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

bool InOwnHive(const StandInMachine& machine, HKEY root, const std::string& path) {
    std::vector<std::string> names;
    return root == HKEY_USERS && standin::SplitKeyPath(path, names) && !names.empty() &&
           standin::SameKeyName(names[0], machine.UserSid);
}

}  // namespace

namespace {

// Starts the record of a registry call on a handle: the key it names, or
// ERROR_INVALID_HANDLE (recorded) when the handle is not open.
bool RecordKeyCall(StandInMachine& machine, standin::PlatformCall& call, HKEY key, HKEY& root, std::string& path) {
    if (!machine.HandleTarget(key, root, path)) {
        call.Result = ERROR_INVALID_HANDLE;
        return false;
    }
    call.Target = standin::KeyTarget(root, path);
    return true;
}

}  // namespace

LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM desired, PHKEY result) {
    const CallScope scope;
    StandInMachine& machine = StandInMachine::Active();
    standin::PlatformCall& call = machine.Record("RegOpenKeyExA");
    call.Options = options;
    call.Flags = desired;
    auto done = [&](LONG code) { return call.Result = code; };
    HKEY root;
    std::string path;
    if (result == nullptr) return done(ERROR_INVALID_PARAMETER);
    if (!machine.HandleTarget(key, root, path)) return done(ERROR_INVALID_HANDLE);
    if (subKey != nullptr && *subKey != '\0') path += path.empty() ? std::string(subKey) : "\\" + std::string(subKey);
    call.Target = standin::KeyTarget(root, path);
    if (machine.Behaviour == standin::Flavour::Wine && subKey != nullptr && std::strlen(subKey) > MAX_PATH)
        return done(ERROR_MORE_DATA);
    // One registry view: the one a 32-bit program sees. Asking for the other
    // would need a second tree the stand-in does not keep.
    if (desired & KEY_WOW64_64KEY) return done(ERROR_INVALID_PARAMETER);
    if ((desired & WriteRights) && !InOwnHive(machine, root, path)) return done(ERROR_ACCESS_DENIED);
    if (const auto* failure = machine.FindFailure(RegistryCall::OpenKey, root, path, std::nullopt))
        return done(failure->Result);
    if (machine.FindKey(root, path) == nullptr) return done(ERROR_FILE_NOT_FOUND);
    *result = machine.OpenHandle(root, path);
    return done(ERROR_SUCCESS);
}

LONG RegQueryInfoKeyA(HKEY key, LPSTR keyClass, LPDWORD keyClassLength, LPDWORD reserved, LPDWORD subKeys,
                      LPDWORD maxSubKeyLength, LPDWORD maxClassLength, LPDWORD values, LPDWORD maxValueNameLength,
                      LPDWORD maxValueLength, LPDWORD securityDescriptorLength, PFILETIME lastWriteTime) {
    const CallScope scope;
    StandInMachine& machine = StandInMachine::Active();
    standin::PlatformCall& call = machine.Record("RegQueryInfoKeyA");
    auto done = [&](LONG code) { return call.Result = code; };
    if (keyClass || keyClassLength || reserved || maxSubKeyLength || maxClassLength || values ||
        maxValueNameLength || maxValueLength || securityDescriptorLength || lastWriteTime) {
        std::fputs("standin: RegQueryInfoKeyA: only the subkey count is provided\n", stderr);
        std::abort();
    }
    HKEY root;
    std::string path;
    if (!RecordKeyCall(machine, call, key, root, path)) return ERROR_INVALID_HANDLE;
    if (const auto* failure = machine.FindFailure(RegistryCall::QueryInfoKey, root, path, std::nullopt))
        return done(failure->Result);
    const standin::RegistryKey* target = machine.FindKey(root, path);
    if (target == nullptr) return done(ERROR_KEY_DELETED);
    if (subKeys != nullptr) *subKeys = static_cast<DWORD>(target->Subkeys.size());
    return done(ERROR_SUCCESS);
}

LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameLength, LPDWORD, LPSTR, LPDWORD, PFILETIME) {
    const CallScope scope;
    StandInMachine& machine = StandInMachine::Active();
    standin::PlatformCall& call = machine.Record("RegEnumKeyExA");
    call.Index = index;
    auto done = [&](LONG code) { return call.Result = code; };
    HKEY root;
    std::string path;
    if (!RecordKeyCall(machine, call, key, root, path)) return ERROR_INVALID_HANDLE;
    if (name == nullptr || nameLength == nullptr) return done(ERROR_INVALID_PARAMETER);
    call.NameLength = *nameLength;
    call.BuffersCleared = AllZero(name, *nameLength);
    if (const auto* failure = machine.FindFailure(RegistryCall::EnumKey, root, path, index))
        return done(Fail(*failure, name, *nameLength));
    const standin::RegistryKey* target = machine.FindKey(root, path);
    if (target == nullptr) return done(ERROR_KEY_DELETED);
    if (index >= target->Subkeys.size()) return done(ERROR_NO_MORE_ITEMS);
    const std::string& found = target->Subkeys[index].Name;
    if (found.size() >= *nameLength) return done(ERROR_MORE_DATA);
    std::memcpy(name, found.c_str(), found.size() + 1);
    *nameLength = static_cast<DWORD>(found.size());
    return done(ERROR_SUCCESS);
}

LONG RegEnumValueA(HKEY key, DWORD index, LPSTR valueName, LPDWORD valueNameLength, LPDWORD, LPDWORD type,
                   LPBYTE data, LPDWORD dataLength) {
    const CallScope scope;
    StandInMachine& machine = StandInMachine::Active();
    standin::PlatformCall& call = machine.Record("RegEnumValueA");
    call.Index = index;
    auto done = [&](LONG code) { return call.Result = code; };
    HKEY root;
    std::string path;
    if (!RecordKeyCall(machine, call, key, root, path)) return ERROR_INVALID_HANDLE;
    if (valueName == nullptr || valueNameLength == nullptr || *valueNameLength == 0)
        return done(ERROR_INVALID_PARAMETER);
    call.NameLength = *valueNameLength;
    call.DataLength = dataLength ? *dataLength : 0;
    call.BuffersCleared = data != nullptr && dataLength != nullptr && AllZero(data, *dataLength);
    if (const auto* failure = machine.FindFailure(RegistryCall::EnumValue, root, path, index))
        return done(Fail(*failure, valueName, *valueNameLength));
    const standin::RegistryKey* target = machine.FindKey(root, path);
    if (target == nullptr) return done(ERROR_KEY_DELETED);
    if (index >= target->Values.size()) return done(ERROR_NO_MORE_ITEMS);
    const standin::RegistryValue& value = target->Values[index];

    const DWORD nameRoom = *valueNameLength;
    if (value.Name.size() >= nameRoom) {
        std::memcpy(valueName, value.Name.data(), nameRoom - 1);
        valueName[nameRoom - 1] = '\0';
        return done(ERROR_MORE_DATA);
    }
    const bool dataFits = dataLength == nullptr || value.Data.size() <= *dataLength;
    if (type != nullptr) *type = value.Type;
    if (!dataFits) {
        // Windows and Wine alike: the size needed and the type, and nothing
        // else; the name, its length and the data buffer are left as they were
        // (Wine's conformance test "overflow data", which passes on Windows).
        *dataLength = static_cast<DWORD>(value.Data.size());
        return done(ERROR_MORE_DATA);
    }
    std::memcpy(valueName, value.Name.c_str(), value.Name.size() + 1);
    *valueNameLength = static_cast<DWORD>(value.Name.size());
    if (dataLength == nullptr) return done(ERROR_SUCCESS);
    if (data != nullptr) std::memcpy(data, value.Data.data(), value.Data.size());
    *dataLength = static_cast<DWORD>(value.Data.size());
    return done(ERROR_SUCCESS);
}

LONG RegCloseKey(HKEY key) {
    const CallScope scope;
    StandInMachine& machine = StandInMachine::Active();
    standin::PlatformCall& call = machine.Record("RegCloseKey");
    auto done = [&](LONG code) { return call.Result = code; };
    HKEY root;
    std::string path;
    if (machine.HandleTarget(key, root, path)) call.Target = standin::KeyTarget(root, path);
    return done(machine.CloseKeyHandle(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE);
}

HINSTANCE ShellExecuteA(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters, LPCSTR directory, INT showCommand) {
    const CallScope scope;
    StandInMachine& machine = StandInMachine::Active();
    machine.Record("ShellExecuteA", file ? file : "");
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
    machine.Record("MessageBoxA", caption ? caption : "");
    machine.MessageBoxes.push_back(
        standin::MessageBoxCall{owner != nullptr, text ? text : "", caption ? caption : "", type});
    return IDOK;
}

void OutputDebugStringA(LPCSTR text) {
    const CallScope scope;
    StandInMachine& machine = StandInMachine::Active();
    machine.Record("OutputDebugStringA", text ? text : "");
    machine.DebugOutput.push_back(text ? text : "");
}

// --- The process's token ----------------------------------------------------

namespace {

// The binary form of a SID, as Windows keeps it: revision 1, the count of
// subauthorities, a 6-byte big-endian authority, then each subauthority as a
// little-endian DWORD. Empty for text that is not a SID.
std::string SidBytes(const std::string& text) {
    if (text.compare(0, 4, "S-1-") != 0) return {};
    std::vector<unsigned long long> parts;
    for (std::size_t start = 4;;) {
        const std::size_t end = std::min(text.find('-', start), text.size());
        const std::string part = text.substr(start, end - start);
        if (part.empty() || part.size() > 15 || part.find_first_not_of("0123456789") != std::string::npos) return {};
        parts.push_back(std::stoull(part));
        if (end == text.size()) break;
        start = end + 1;
    }
    if (parts.size() < 2 || parts.size() > 16 || parts[0] >= (1ull << 48)) return {};
    std::string bytes{char(1), char(parts.size() - 1)};
    for (int shift = 40; shift >= 0; shift -= 8) bytes += char((parts[0] >> shift) & 0xFF);
    for (std::size_t i = 1; i < parts.size(); ++i) {
        if (parts[i] > 0xFFFFFFFFull) return {};
        for (int shift = 0; shift < 32; shift += 8) bytes += char((parts[i] >> shift) & 0xFF);
    }
    return bytes;
}

BOOL FailWith(StandInMachine& machine, DWORD error) {
    machine.LastError = error;
    return FALSE;
}

}  // namespace

DWORD GetLastError() { return StandInMachine::Active().LastError; }

HANDLE GetCurrentProcess() { return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1)); }

BOOL OpenProcessToken(HANDLE process, DWORD desiredAccess, PHANDLE token) {
    const CallScope scope;
    StandInMachine& machine = StandInMachine::Active();
    machine.Record("OpenProcessToken").Flags = desiredAccess;
    if (process != GetCurrentProcess() || token == nullptr) return FailWith(machine, ERROR_INVALID_PARAMETER);
    if (machine.TokenFails.OpenProcessToken) return FailWith(machine, *machine.TokenFails.OpenProcessToken);
    *token = machine.OpenToken();
    return TRUE;
}

BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS informationClass, LPVOID information, DWORD length,
                         LPDWORD returnLength) {
    const CallScope scope;
    StandInMachine& machine = StandInMachine::Active();
    machine.Record("GetTokenInformation").Flags = static_cast<DWORD>(informationClass);
    if (!machine.IsToken(token)) return FailWith(machine, ERROR_INVALID_HANDLE);
    if (informationClass != TokenUser || returnLength == nullptr) return FailWith(machine, ERROR_INVALID_PARAMETER);
    if (machine.TokenFails.GetTokenInformation) return FailWith(machine, *machine.TokenFails.GetTokenInformation);
    const std::string sid = SidBytes(machine.UserSid);
    if (sid.empty()) {
        std::fprintf(stderr, "standin: UserSid \"%s\" is not a SID\n", machine.UserSid.c_str());
        std::abort();
    }
    *returnLength = static_cast<DWORD>(sizeof(TOKEN_USER) + sid.size());
    if (information == nullptr || length < *returnLength) return FailWith(machine, ERROR_INSUFFICIENT_BUFFER);
    auto* user = static_cast<TOKEN_USER*>(information);
    char* sidCopy = static_cast<char*>(information) + sizeof(TOKEN_USER);
    std::memcpy(sidCopy, sid.data(), sid.size());
    user->User.Sid = sidCopy;
    user->User.Attributes = 0;
    return TRUE;
}

BOOL ConvertSidToStringSidA(PSID sid, LPSTR* text) {
    const CallScope scope;
    StandInMachine& machine = StandInMachine::Active();
    machine.Record("ConvertSidToStringSidA");
    if (sid == nullptr || text == nullptr) return FailWith(machine, ERROR_INVALID_PARAMETER);
    if (machine.TokenFails.ConvertSidToStringSidA)
        return FailWith(machine, *machine.TokenFails.ConvertSidToStringSidA);
    const auto* bytes = static_cast<const unsigned char*>(sid);
    if (bytes[0] != 1 || bytes[1] > 15) return FailWith(machine, ERROR_INVALID_SID);
    unsigned long long authority = 0;
    for (int i = 2; i < 8; ++i) authority = (authority << 8) | bytes[i];
    std::string result = "S-1-" + std::to_string(authority);
    for (int i = 0; i < bytes[1]; ++i) {
        const unsigned char* sub = bytes + 8 + 4 * i;
        result += "-" + std::to_string(std::uint32_t(sub[0]) | std::uint32_t(sub[1]) << 8 |
                                       std::uint32_t(sub[2]) << 16 | std::uint32_t(sub[3]) << 24);
    }
    *text = machine.LocalAllocString(result);
    return TRUE;
}

HLOCAL LocalFree(HLOCAL memory) {
    const CallScope scope;
    StandInMachine& machine = StandInMachine::Active();
    machine.Record("LocalFree");
    if (memory == nullptr || machine.LocalFreeBlock(memory)) return nullptr;
    machine.LastError = ERROR_INVALID_HANDLE;
    return memory;
}

BOOL CloseHandle(HANDLE handle) {
    const CallScope scope;
    StandInMachine& machine = StandInMachine::Active();
    machine.Record("CloseHandle");
    return machine.CloseToken(handle) ? TRUE : FailWith(machine, ERROR_INVALID_HANDLE);
}

// --- DLL loading ---------------------------------------------------------------

namespace {

const HMODULE Kernel32Module = reinterpret_cast<HMODULE>(static_cast<std::uintptr_t>(0x7B000000));
const HMODULE LoadedModule = reinterpret_cast<HMODULE>(static_cast<std::uintptr_t>(0x7C000000));

// Wide text as the stand-in records it: each character as one byte, as the
// file names and folders it sees are ASCII.
std::string Narrow(LPCWSTR text) {
    std::string narrow;
    for (; text != nullptr && *text != 0; ++text) narrow += static_cast<char>(*text);
    return narrow;
}

BOOL WINAPI StandInSetDefaultDllDirectories(DWORD flags) {
    const CallScope scope;
    StandInMachine& machine = StandInMachine::Active();
    machine.Record("SetDefaultDllDirectories").Flags = flags;
    return TRUE;
}

}  // namespace

HMODULE GetModuleHandleW(LPCWSTR moduleName) {
    const CallScope scope;
    StandInMachine& machine = StandInMachine::Active();
    const std::string name = Narrow(moduleName);
    machine.Record("GetModuleHandleW", name);
    if (standin::SameKeyName(name, "kernel32.dll") || standin::SameKeyName(name, "kernel32")) return Kernel32Module;
    machine.LastError = ERROR_MOD_NOT_FOUND;
    return nullptr;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR procName) {
    const CallScope scope;
    StandInMachine& machine = StandInMachine::Active();
    machine.Record("GetProcAddress", procName ? procName : "");
    if (module == Kernel32Module && procName != nullptr &&
        std::strcmp(procName, "SetDefaultDllDirectories") == 0 && machine.HasSetDefaultDllDirectories)
        return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&StandInSetDefaultDllDirectories));
    machine.LastError = ERROR_PROC_NOT_FOUND;
    return nullptr;
}

BOOL SetDllDirectoryW(LPCWSTR pathName) {
    const CallScope scope;
    StandInMachine::Active().Record("SetDllDirectoryW", Narrow(pathName));
    return TRUE;
}

UINT GetSystemDirectoryW(LPWSTR buffer, UINT size) {
    const CallScope scope;
    StandInMachine& machine = StandInMachine::Active();
    machine.Record("GetSystemDirectoryW");
    const std::string& folder = machine.SystemDirectory;
    if (buffer == nullptr || size <= folder.size()) return static_cast<UINT>(folder.size() + 1);
    for (std::size_t i = 0; i < folder.size(); ++i) buffer[i] = static_cast<unsigned char>(folder[i]);
    buffer[folder.size()] = 0;
    return static_cast<UINT>(folder.size());
}

HMODULE LoadLibraryExW(LPCWSTR fileName, HANDLE, DWORD flags) {
    const CallScope scope;
    StandInMachine::Active().Record("LoadLibraryExW", Narrow(fileName)).Flags = flags;
    return LoadedModule;
}
