// The machine itself: the one active instance, the record of calls, and the
// key-name rules that the registry and the scenario loader share.
#include "standin/call_record.h"

#include <iconv.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>

namespace standin {
namespace {

StandInMachine* activeMachine = nullptr;
int callDepth = 0;

}  // namespace

StandInMachine::StandInMachine() : software64_{"SOFTWARE", RegistryOrder("SOFTWARE"), {}, {}} {
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

CallRecord::CallRecord(const char* function, const std::string& target)
    : Machine(StandInMachine::Active()), index_(Machine.Calls.size()) {
    ++callDepth;
    PlatformCall& call = Machine.Calls.emplace_back();
    call.Function = function;
    call.Target = target;
}

CallRecord::~CallRecord() { --callDepth; }

bool CallRecord::Key(HKEY handle, HKEY& root, std::string& path) {
    if (!Machine.HandleTarget(handle, root, path, &View)) {
        Result(ERROR_INVALID_HANDLE);
        return false;
    }
    Call().Target = KeyTarget(root, path);
    return true;
}

bool InsideStandIn() { return callDepth > 0; }

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

std::string KeyTarget(HKEY root, const std::string& path) {
    const std::string name = root == HKEY_LOCAL_MACHINE ? "HKLM" : root == HKEY_USERS ? "HKU" : "?";
    return path.empty() ? name : name + "\\" + path;
}

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
    for (std::size_t start = 0; start < path.size();) {
        std::size_t end = start;
        while (end < path.size() && path[end] != '\\') end += IsLeadByte(path[end]) && end + 1 < path.size() ? 2 : 1;
        if (end == start) return false;  // "\\" at the start or doubled
        names.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return true;
}

std::u16string RegistryOrder(const std::string& name) {
    static const iconv_t converter = iconv_open("UTF-16LE", "GBK");
    const bool canConvert = converter != reinterpret_cast<iconv_t>(-1);
    std::u16string units;
    for (std::size_t i = 0; i < name.size();) {
        if (static_cast<unsigned char>(name[i]) < 0x80) {  // ASCII is its own code unit
            units += static_cast<char16_t>(FoldAscii(name[i++]));
            continue;
        }
        const std::size_t width = IsLeadByte(name[i]) && i + 1 < name.size() ? 2 : 1;
        char in[2] = {FoldAscii(name[i]), width == 2 ? name[i + 1] : '\0'};
        unsigned char out[4] = {};
        char* inPtr = in;
        char* outPtr = reinterpret_cast<char*>(out);
        std::size_t inLeft = width, outLeft = sizeof out;
        if (canConvert) iconv(converter, nullptr, nullptr, nullptr, nullptr);  // a fresh shift state
        if (canConvert && iconv(converter, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1) &&
            outLeft == 2) {
            units += static_cast<char16_t>(out[0] | out[1] << 8);
            i += width;
        } else {
            units += static_cast<char16_t>(0xDC00 + static_cast<unsigned char>(name[i++]));
        }
    }
    return units;
}

}  // namespace standin
