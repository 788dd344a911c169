#include "discovery/registry_views.h"

#include <type_traits>

namespace {

using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, BOOL*);
#ifdef _WIN32
// A wrong calling convention would corrupt the stack only in the 32-bit exe.
static_assert(std::is_same_v<IsWow64ProcessFunction, decltype(&::IsWow64Process)>,
              "the pointer type must match the Windows headers' declaration");
#endif

}  // namespace

bool HasSixtyFourBitView() {
#ifdef _WIN64
    return true;
#else
    const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    if (kernel32 == nullptr) return false;
    const FARPROC found = GetProcAddress(kernel32, "IsWow64Process");
    if (found == nullptr) return false;
    const auto isWow64 = reinterpret_cast<IsWow64ProcessFunction>(reinterpret_cast<void (*)()>(found));
    BOOL wow64 = FALSE;
    return isWow64(GetCurrentProcess(), &wow64) != FALSE && wow64 != FALSE;
#endif
}
