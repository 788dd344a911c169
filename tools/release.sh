#!/usr/bin/env bash
# Builds the files to publish from the current commit:
#
#   tools/release.sh [--allow-dirty] [--no-timestamp] [--dist DIR] [--build DIR]
#
# dist/ (or DIR) receives "Kestlo desktop.exe", THIRD-PARTY-NOTICES.txt (the
# licences of the runtime code linked in), SHA256SUMS (for sha256sum -c) and
# BUILD-INFO.txt, and nothing else is ever written or deleted there: a
# DIR that holds any other file is refused untouched. The new release is
# staged beside DIR and replaces the previous one only once it is complete, in
# one rename; on any failure or interruption the previous release stays as it
# was. The executable is built by the windows preset in a fresh folder under
# build/ that is removed afterwards (or in --build DIR: an empty folder, or one
# this script built in before; it is kept), checked, and signed with
# osslsigncode when both of these are given:
#
#   KESTLO_SIGN_PKCS12          the PKCS#12 file: certificate, its chain and key
#   KESTLO_SIGN_PASSWORD_FILE   a file holding its password (never the password
#                               itself: it would show in the process list)
#   KESTLO_SIGN_TIMESTAMP_URL   an RFC 3161 time-stamp server; required, since a
#                               signature without a time stamp dies with the
#                               certificate (--no-timestamp to sign without)
#
# The vendor settings KESTLO_LOGIN_HOST, KESTLO_COMPANY_NAME and
# KESTLO_COPYRIGHT are taken from the environment when set (else the build's
# defaults).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

usage() { echo "usage: $0 [--allow-dirty] [--no-timestamp] [--dist DIR] [--build DIR]" >&2; exit 2; }
fail() { echo "release: $*" >&2; exit 1; }

allow_dirty=no
timestamp_required=yes
dist=$root/dist
build=
while [ $# -gt 0 ]; do
  case "$1" in
    --allow-dirty) allow_dirty=yes ;;
    --no-timestamp) timestamp_required=no ;;
    --dist|--build)
      [ $# -ge 2 ] && [ -n "$2" ] || { echo "release: $1 needs a folder" >&2; usage; }
      if [ "$1" = --dist ]; then dist=$2; else build=$2; fi
      shift ;;
    *) usage ;;
  esac
  shift
done

# --- Every input checked before anything is written ------------------------
# Folders given are taken from where the script was started.
dist=$(realpath -m -- "$dist")
[ -z "$build" ] || build=$(realpath -m -- "$build")
cd "$root"
exe="Kestlo desktop.exe"
notices=THIRD-PARTY-NOTICES.txt
release_files=("$exe" "$notices" SHA256SUMS BUILD-INFO.txt)
is_release_file() {
  local file
  [ -f "$1" ] && [ ! -L "$1" ] || return 1
  for file in "${release_files[@]}"; do [ "${1##*/}" = "$file" ] && return 0; done
  return 1
}
if [ -e "$dist" ] || [ -L "$dist" ]; then
  [ -d "$dist" ] && [ ! -L "$dist" ] || fail "$dist is not a folder: give --dist a folder of its own."
  while IFS= read -r -d '' entry; do
    name=${entry##*/}
    is_release_file "$entry" && continue
    fail "$dist holds $name, which a release does not write; nothing was changed. Give --dist an empty
or new folder, or one that holds only a previous release (${release_files[*]})."
  done < <(find "$dist" -mindepth 1 -maxdepth 1 -print0)
fi
[ -d "$(dirname "$dist")" ] && [ -w "$(dirname "$dist")" ] ||
  fail "cannot write beside $dist: the release is staged in $(dirname "$dist") first."

keep_build=no
if [ -n "$build" ]; then
  if [ -e "$build" ] && [ -n "$(ls -A -- "$build")" ] && [ ! -f "$build/.kestlo-release-build" ]; then
    fail "--build $build is not empty and is not a release build folder of this script; nothing was changed."
  fi
  keep_build=yes
fi

# What is published must be what the commit says: anyone can then rebuild the
# same unsigned bytes from it.
tree=clean
if [ -n "$(git status --porcelain)" ]; then
  [ "$allow_dirty" = yes ] || fail "the work tree has uncommitted changes (git status); the release would not be
the commit it names. Commit or stash them, or pass --allow-dirty for a trial release."
  tree="dirty (uncommitted changes)"
fi

pkcs12=${KESTLO_SIGN_PKCS12:-}
password_file=${KESTLO_SIGN_PASSWORD_FILE:-}
timestamp_url=${KESTLO_SIGN_TIMESTAMP_URL:-}
sign=no
if [ -n "$pkcs12" ] || [ -n "$password_file" ]; then
  [ -n "$pkcs12" ] || fail "KESTLO_SIGN_PASSWORD_FILE is set but KESTLO_SIGN_PKCS12 is not: give both to sign."
  [ -n "$password_file" ] || fail "KESTLO_SIGN_PKCS12 is set but KESTLO_SIGN_PASSWORD_FILE is not: give both to sign."
  [ -f "$pkcs12" ] || fail "the certificate file KESTLO_SIGN_PKCS12=$pkcs12 does not exist."
  [ -f "$password_file" ] || fail "the password file KESTLO_SIGN_PASSWORD_FILE=$password_file does not exist."
  if [ $(( 8#$(stat -c %a "$password_file") & 8#077 )) -ne 0 ]; then
    echo "release: warning: the password file $password_file can be read by others than its owner (chmod 600 it)." >&2
  fi
  if [ -z "$timestamp_url" ] && [ "$timestamp_required" = yes ]; then
    fail "KESTLO_SIGN_TIMESTAMP_URL is not set: a signature without a time stamp stops being valid when the
certificate expires. Set it to your certificate vendor's RFC 3161 server, or pass --no-timestamp."
  fi
  sign=yes
fi

tools/install-deps.sh release

if [ "$sign" = yes ]; then
  certificate=$(openssl pkcs12 -in "$pkcs12" -passin "file:$password_file" -clcerts -nokeys 2>/dev/null) ||
    fail "cannot open $pkcs12 with the password in $password_file: wrong password, or not a PKCS#12 file."
  grep -q "BEGIN CERTIFICATE" <<<"$certificate" || fail "$pkcs12 holds no certificate for its key."
  openssl x509 -noout -checkend 0 <<<"$certificate" >/dev/null ||
    fail "the signing certificate expired on $(openssl x509 -noout -enddate <<<"$certificate" | cut -d= -f2)."
  key_usage=$(openssl x509 -noout -ext extendedKeyUsage <<<"$certificate" 2>/dev/null || true)
  case "$key_usage" in
    *"Code Signing"*) ;;
    *) fail "the signing certificate is not for code signing (its extended key usage lacks Code Signing)." ;;
  esac
  signer=$(openssl x509 -noout -subject <<<"$certificate" | sed 's/^subject=//')
fi

# --- From here on, only the staging folder, the build folder and, at the end, dist
staging=
child=
cleanup() {
  trap '' INT TERM
  [ -z "$child" ] || { kill -TERM -- "-$child" 2>/dev/null || true; wait "$child" 2>/dev/null || true; }
  [ -z "$staging" ] || rm -rf -- "$staging"
  [ "$keep_build" = yes ] || [ -z "$build" ] || rm -rf -- "$build"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Runs a long step as its own process group, so that INT or TERM stops it at
# once (a foreground child would hold off the trap until it ended).
step() {
  setsid "$@" &
  child=$!
  wait "$child"
  local status=$?
  child=
  return "$status"
}

staging=$(mktemp -d "$(dirname "$dist")/.kestlo-release.XXXXXX")
new="$staging/new"
mkdir "$new"
if [ -z "$build" ]; then
  mkdir -p build
  build=$(mktemp -d "$root/build/release.XXXXXX")
else
  rm -rf -- "$build"   # empty, or this script's own: a clean build every time
  mkdir -p -- "$build"
fi
touch "$build/.kestlo-release-build"

vendor=()
for variable in KESTLO_LOGIN_HOST KESTLO_COMPANY_NAME KESTLO_COPYRIGHT; do
  [ -z "${!variable:-}" ] || vendor+=("-D$variable=${!variable}")
done
log="$staging/build.log"
step cmake --preset windows -B "$build" "${vendor[@]}" >"$log" 2>&1 ||
  fail "configuring failed: $(tail -n 5 "$log")"
step cmake --build "$build" -j"$(nproc)" --target kestlo_desktop >"$log" 2>&1 ||
  fail "the build failed: $(tail -n 15 "$log")"
grep -F "SHA-256" "$log"
step ctest --test-dir "$build" -R '^executable\.file$' --output-on-failure >/dev/null ||
  fail "the built file failed its checks (ctest --test-dir $build -R executable.file)."

unsigned_sha=$(sha256sum "$build/$exe" | cut -d' ' -f1)
cache() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }

if [ "$sign" = yes ]; then
  options=(sign -pkcs12 "$pkcs12" -readpass "$password_file" -h sha256 -n "Kestlo desktop"
           -i "http://$(cache KESTLO_LOGIN_HOST)/")
  [ -z "$timestamp_url" ] || options+=(-ts "$timestamp_url")
  step osslsigncode "${options[@]}" -in "$build/$exe" -out "$new/$exe" >"$staging/sign.log" 2>&1 ||
    fail "osslsigncode could not sign: $(tail -n 3 "$staging/sign.log")"
  # The signature is all that was added: taking it off gives the built bytes back.
  osslsigncode remove-signature -in "$new/$exe" -out "$staging/check.exe" >/dev/null 2>&1 &&
    cmp -s "$staging/check.exe" "$build/$exe" || fail "the signed file is not the built file plus a signature."
  echo "Signed by: $signer${timestamp_url:+, time-stamped by $timestamp_url}"
  [ -n "$timestamp_url" ] || echo "NOT TIME-STAMPED (--no-timestamp): the signature stops being valid when the certificate expires."
else
  cp "$build/$exe" "$new/$exe"
  echo "NOT SIGNED: KESTLO_SIGN_PKCS12 and KESTLO_SIGN_PASSWORD_FILE are not set. Windows SmartScreen and"
  echo "security suites will warn about or block an unsigned download; sign before publishing."
fi

cp "$build/$notices" "$new/$notices"
(cd "$new" && sha256sum "$exe" "$notices" > SHA256SUMS)
cat > "$new/BUILD-INFO.txt" <<EOF
Kestlo desktop release
commit: $(git rev-parse HEAD)
work tree: $tree
compiler: $("$(cache CMAKE_CXX_COMPILER)" --version | head -n 1)
binutils: $(i686-w64-mingw32-ld --version | head -n 1)
KESTLO_LOGIN_HOST: $(cache KESTLO_LOGIN_HOST)
KESTLO_COMPANY_NAME: $(cache KESTLO_COMPANY_NAME)
KESTLO_COPYRIGHT: $(cache KESTLO_COPYRIGHT)
unsigned SHA-256: $unsigned_sha
signed: $([ "$sign" = yes ] && echo "yes, by $signer${timestamp_url:+, timestamped by $timestamp_url}" || echo no)
EOF

# The one step that changes dist: the complete new release takes its place in
# one rename (renameat2 RENAME_EXCHANGE swaps the two folders), and the
# previous release, now in the staging folder, goes with it.
exchange() {
  /usr/bin/python3 -c '
import ctypes, os, sys
libc = ctypes.CDLL(None, use_errno=True)
AT_FDCWD, RENAME_EXCHANGE = -100, 2
if libc.renameat2(AT_FDCWD, os.fsencode(sys.argv[1]), AT_FDCWD, os.fsencode(sys.argv[2]), RENAME_EXCHANGE):
    sys.exit(1)' "$1" "$2"
}
trap '' INT TERM  # nothing may stop the swap halfway
if [ ! -d "$dist" ]; then
  mv -T -- "$new" "$dist"
elif ! exchange "$new" "$dist"; then
  # A file system without the exchange: two renames, the first undone if the second fails.
  mv -T -- "$dist" "$staging/previous" || fail "could not move the previous release out of $dist."
  mv -T -- "$new" "$dist" || { mv -T -- "$staging/previous" "$dist"; fail "could not put the release in $dist."; }
fi
trap 'exit 130' INT
trap 'exit 143' TERM
echo "Release written to $dist:"
(cd "$dist" && ls -l)
