// "Kestlo desktop.exe": opens the member login page in an installed browser.
#include "launcher/launch.h"

int main() { return RunLauncher(); }
