#!/usr/bin/env bash
# Exits 0 when this machine can run Wine's 32-bit loader, and so the 32-bit
# "Kestlo desktop.exe". Some virtual machines have no 32-bit user mode: there
# exec() of any 32-bit program fails with "Exec format error".
/usr/lib/wine/wine --version >/dev/null 2>&1
