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
#
# A mirror caught mid-sync makes apt-get update fail on one index file ("File
# has unexpected size ... Mirror sync in progress?"). The update is tried a few
# times and then the lists apt has are used, with a warning naming the files.
# A list left out of step like that can leave the two halves of a multiarch
# pair (libc6 and libc6:i386) at versions that cannot be matched; the install
# is then tried once more from the release's own suite (-t <codename>).
set -euo pipefail

set_name=${1:-all}
retry_delay=${KESTLO_APT_RETRY_DELAY:-5}  # seconds between tries of apt-get update
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
               wine wine32:i386 wine64 xvfb xauth fonts-wqy-microhei valgrind
               osslsigncode openssl lld locales)
    i386=yes ;;
  *) echo "usage: $0 [host|release|all]" >&2; exit 2 ;;
esac

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$package")
done
# Wine runs with LC_ALL=zh_CN.UTF-8. The code page 936 that programs see needs
# no system locale, but Wine's file names on Linux do: without it they are not
# UTF-8, and a program in a folder with a Chinese name cannot be started.
locale_missing=no
if [ "$set_name" = all ]; then
  locales=$(locale -a 2>/dev/null || true)  # read whole: grep -q in a pipe can fail the pipe
  grep -qix 'zh_CN\.utf-\?8' <<<"$locales" || locale_missing=yes
fi
[ ${#missing[@]} -eq 0 ] && [ "$locale_missing" = no ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  [ ${#missing[@]} -gt 0 ] && echo "Missing Debian packages: ${missing[*]}" >&2
  [ "$locale_missing" = yes ] && echo "Missing the system locale zh_CN.UTF-8 (localedef -i zh_CN -f UTF-8 zh_CN.UTF-8)" >&2
  echo "Run this script as root and try again." >&2
  exit 1
fi

apt_update() {
  local output attempt failed
  for attempt in 1 2 3; do
    output=$(apt-get update -q 2>&1) && return 0
    [ "$attempt" = 3 ] || { echo "apt-get update failed (try $attempt of 3); again in $retry_delay s" >&2; sleep "$retry_delay"; }
  done
  failed=$(sed -n 's/^[EW]: Failed to fetch \([^ ]*\).*/\1/p' <<<"$output" | sort -u)
  if [ -z "$failed" ]; then
    echo "$output" >&2
    echo "install-deps: apt-get update failed (its output is above); check the network and /etc/apt/sources.list*." >&2
    exit 1
  fi
  echo "install-deps: warning: apt-get update could not fetch these index files (a mirror mid-sync?);" >&2
  echo "carrying on with the package lists apt already has:" >&2
  sed 's/^/  /' <<<"$failed" >&2
}

apt_install() {
  local codename
  export DEBIAN_FRONTEND=noninteractive
  apt-get install -y -q --no-install-recommends "$@" && return 0
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  if [ -n "$codename" ]; then
    echo "install-deps: apt-get install failed; trying once more from the release's own suite ($codename)" >&2
    apt-get install -y -q --no-install-recommends -t "$codename" "$@" && return 0
  fi
  echo "install-deps: could not install: $*" >&2
  echo "apt's message is above. A mirror in mid-sync clears within the hour: run this again later," >&2
  echo "or point /etc/apt/sources.list* at another mirror (then apt-get update)." >&2
  exit 1
}

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  if [ "$i386" = yes ] && ! grep -qx i386 <<<"$(dpkg --print-foreign-architectures)"; then
    dpkg --add-architecture i386   # Wine runs 32-bit programs through wine32:i386
  fi
  apt_update
  apt_install "${missing[@]}"
fi
# After the packages: localedef needs the locales package's sources.
if [ "$locale_missing" = yes ]; then
  echo "Generating the locale zh_CN.UTF-8"
  localedef -i zh_CN -f UTF-8 zh_CN.UTF-8
fi
