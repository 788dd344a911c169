// The launcher's whole run, from discovery to the browser or the message.
#pragma once

// Scans the machine-wide and then the first user's uninstall key into one
// catalogue, traces the catalogue, and starts the first preferred browser that
// has an install location with ShellExecuteA("open", location + suffix,
// LoginPageUrl). When none has one, shows NoBrowserMessage and returns once the
// user has closed it. Whether the browser really starts is not checked: there
// is no fallback and no report; a path too long for the shell (MAX_PATH
// characters or more) is not even handed to it. Always returns 0, the
// process's exit code.
int RunLauncher();
