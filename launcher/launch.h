// The launcher's whole run, from discovery to the browser or the message.
#pragma once

// Restricts DLL loading to the system folder, first of all. Then scans the
// machine-wide uninstall key and the starting user's own one (none when the
// user's SID cannot be read) into one catalogue, traces the catalogue, and
// starts the first preferred browser that has a usable install location
// (IsUsableInstallLocation) with ShellExecuteA("open", location + suffix,
// LoginPageUrl). When none has one, shows NoBrowserMessage and returns once
// the user has closed it. Whether the browser really starts is not checked:
// there is no fallback and no report; a path too long for the shell (MAX_PATH
// characters or more) is not even handed to it. Always returns 0, the
// process's exit code.
int RunLauncher();
