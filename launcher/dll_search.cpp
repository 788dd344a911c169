#include "launcher/dll_search.h"

#include "platform/win32.h"

#include <cstring>
#include <cwchar>
#include <type_traits>

namespace {

using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
#ifdef _WIN32
// A wrong calling convention would corrupt the stack only in the 32-bit exe.
static_assert(std::is_same_v<SetDefaultDllDirectoriesFunction, decltype(&::SetDefaultDllDirectories)>,
              "the pointer type must match the Windows headers' declaration");
#endif

bool SetDefaultDllDirectoriesToSystem() {
    const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    if (kernel32 == nullptr) return false;
    const FARPROC found = GetProcAddress(kernel32, "SetDefaultDllDirectories");
    if (found == nullptr) return false;
    // Through void(*)(): the one function-pointer type every other converts
    // to and from without a warning about mismatched signatures.
    const auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFunction>(reinterpret_cast<void (*)()>(found));
    return setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32) != FALSE;
}

}  // namespace

void RestrictDllSearchToSystemFolder() {
    if (SetDefaultDllDirectoriesToSystem()) return;

    SetDllDirectoryW(L"");
    wchar_t path[MAX_PATH];
    const UINT folderLength = GetSystemDirectoryW(path, MAX_PATH);  // "C:\Windows\system32"
    if (folderLength == 0 || folderLength >= MAX_PATH) return;
    for (const wchar_t* name : PreloadedSystemDlls) {
        const std::size_t nameLength = std::wcslen(name);
        if (folderLength + 1 + nameLength >= MAX_PATH) continue;
        path[folderLength] = L'\\';
        std::memcpy(path + folderLength + 1, name, (nameLength + 1) * sizeof(wchar_t));
        // "C:\Windows\system32\uxtheme.dll"; with LOAD_WITH_ALTERED_SEARCH_PATH
        // its own imports are searched for beside it, not beside the launcher.
        LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    }
}
