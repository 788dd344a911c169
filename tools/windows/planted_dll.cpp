// A DLL that stands for one a hostile web page dropped into Downloads beside
// the launcher, named like a system DLL (uxtheme.dll, version.dll ...). When
// any process loads it, it leaves a marker file named after itself in
// C:\kestlo-e2e\planted\, so that a test sees it was loaded, and then lets
// the load go on.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(self, path, MAX_PATH);
    const wchar_t* name = path;
    for (DWORD i = 0; i < length; ++i)
        if (path[i] == L'\\') name = path + i + 1;
    wchar_t marker[MAX_PATH] = L"C:\\kestlo-e2e\\planted\\";
    lstrcatW(marker, name);
    lstrcatW(marker, L".loaded");
    const HANDLE file = CreateFileW(marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return TRUE;
}
