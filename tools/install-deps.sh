#!/usr/bin/env bash
# Installs, from Debian's packages, whatever of the build and test tools is
# missing. Safe to run again: it does nothing when everything is there.
#
#   tools/install-deps.sh host      compiler, CMake, GoogleTest
#   tools/install-deps.sh release   the 32-bit cross toolchain, pefile, osslsigncode
#                                   and openssl: what tools/release.sh needs
#   tools/install-deps.sh all       also clang with libFuzzer, Google Benchmark,
#                                   the Windows cross toolchains (32-bit, and
#                                   64-bit for the Wine test build), Wine, a virtual
#                                   display, a CJK font, pefile and valgrind;
#                                   and the system locale zh_CN.UTF-8
set -euo pipefail

set_name=${1:-all}
packages=(g++ cmake make libgtest-dev libgmock-dev)
fuzzing=(clang libclang-rt-14-dev libbenchmark-dev)
i386=no
case "$set_name" in
  host) ;;
  release)
    packages+=(g++-mingw-w64-i686-win32 binutils-mingw-w64-i686 python3-pefile osslsigncode openssl) ;;
  all)
    packages+=("${fuzzing[@]}"
               g++-mingw-w64-i686-win32 binutils-mingw-w64-i686 python3-pefile
               g++-mingw-w64-x86-64-win32 binutils-mingw-w64-x86-64
               wine wine32:i386 wine64 xvfb xauth xdotool imagemagick fonts-wqy-microhei valgrind
               osslsigncode openssl lld locales)
    i386=yes ;;
  *) echo "usage: $0 [host|release|all]" >&2; exit 2 ;;
esac

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" || missing+=("$package")
done
# Wine runs with LC_ALL=zh_CN.UTF-8. The code page 936 that programs see needs
# no system locale, but Wine's file names on Linux do: without it they are not
# UTF-8, and a program in a folder with a Chinese name cannot be started.
locale_missing=no
if [ "$set_name" = all ] && ! locale -a 2>/dev/null | grep -qix 'zh_CN\.utf-\?8'; then
  locale_missing=yes
fi
[ ${#missing[@]} -eq 0 ] && [ "$locale_missing" = no ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  [ ${#missing[@]} -gt 0 ] && echo "Missing Debian packages: ${missing[*]}" >&2
  [ "$locale_missing" = yes ] && echo "Missing the system locale zh_CN.UTF-8 (localedef -i zh_CN -f UTF-8 zh_CN.UTF-8)" >&2
  echo "Run this script as root and try again." >&2
  exit 1
fi
if [ "$locale_missing" = yes ]; then
  echo "Generating the locale zh_CN.UTF-8"
  localedef -i zh_CN -f UTF-8 zh_CN.UTF-8
fi
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
if [ "$i386" = yes ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386   # Wine runs 32-bit programs through wine32:i386
fi
apt-get update -q
DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
