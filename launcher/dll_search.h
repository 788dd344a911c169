// Where Windows may look for the DLLs that the launcher's calls load on demand.
#pragma once

// DLLs outside Windows' KnownDLLs list that the shell call and the message box
// can load on demand, on some Windows version or other: the list that
// well-known installers preload. Each is in the system folder.
inline constexpr const wchar_t* PreloadedSystemDlls[] = {
    L"uxtheme.dll", L"userenv.dll", L"setupapi.dll", L"apphelp.dll", L"propsys.dll", L"dwmapi.dll",
    L"cryptbase.dll", L"oleacc.dll", L"clbcatq.dll", L"ntmarta.dll", L"version.dll",
};

// Makes every later DLL load search the system folder only: never the
// launcher's own folder (often Downloads, where a web page may have dropped a
// DLL named like a system one) nor the current folder. Call it before anything
// else.
//
// Where kernel32 has SetDefaultDllDirectories (Windows 8 and later, 7 with
// KB2533623), one call of it with LOAD_LIBRARY_SEARCH_SYSTEM32 does this; it is
// looked up at run time, so that the launcher still starts where it is missing.
// There, SetDllDirectoryW(L"") takes the current folder out of the search, and
// each of PreloadedSystemDlls is loaded by its full path in the system folder
// (GetSystemDirectoryW), its own imports searched from there too, so that the
// later loads by name find it already loaded; the launcher's own folder still
// comes first for any other DLL. Failures change nothing and are not reported:
// a DLL that this Windows lacks stays unloaded.
void RestrictDllSearchToSystemFolder();
