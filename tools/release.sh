#!/usr/bin/env bash
# Builds the files to publish from the current commit:
#
#   tools/release.sh [--allow-dirty] [--dist DIR] [--build DIR]
#
# dist/ (or DIR) receives "Kestlo desktop.exe", SHA256SUMS (for sha256sum -c)
# and BUILD-INFO.txt. The executable is built by the windows preset in a clean
# build folder (build/release), checked, and signed with osslsigncode when
# both of these are given:
#
#   KESTLO_SIGN_PKCS12          the PKCS#12 file: certificate, its chain and key
#   KESTLO_SIGN_PASSWORD_FILE   a file holding its password (never the password
#                               itself: it would show in the process list)
#   KESTLO_SIGN_TIMESTAMP_URL   optional: an RFC 3161 time-stamp server
#
# The vendor settings KESTLO_LOGIN_HOST, KESTLO_COMPANY_NAME and
# KESTLO_COPYRIGHT are taken from the environment when set (else the build's
# defaults). On any error dist/ is left empty: nothing half-written is kept.
set -euo pipefail
cd "$(dirname "$0")/.."

allow_dirty=no
dist=dist
build=build/release
while [ $# -gt 0 ]; do
  case "$1" in
    --allow-dirty) allow_dirty=yes ;;
    --dist) dist=$2; shift ;;
    --build) build=$2; shift ;;
    *) echo "usage: $0 [--allow-dirty] [--dist DIR] [--build DIR]" >&2; exit 2 ;;
  esac
  shift
done

fail() { echo "release: $*" >&2; exit 1; }

# Whatever happens next, no earlier release is left to be taken for this one.
mkdir -p "$dist"
dist=$(cd "$dist" && pwd)
rm -rf "${dist:?}"/* "${dist:?}"/.[!.]*
staging=$(mktemp -d)
trap 'rm -rf "$staging"' EXIT

# What is published must be what the commit says: anyone can then rebuild the
# same unsigned bytes from it.
tree=clean
if [ -n "$(git status --porcelain)" ]; then
  [ "$allow_dirty" = yes ] || fail "the work tree has uncommitted changes (git status); the release would not be
the commit it names. Commit or stash them, or pass --allow-dirty for a trial release."
  tree="dirty (uncommitted changes)"
fi

# --- Signing inputs, checked before anything is built ------------------------
pkcs12=${KESTLO_SIGN_PKCS12:-}
password_file=${KESTLO_SIGN_PASSWORD_FILE:-}
timestamp_url=${KESTLO_SIGN_TIMESTAMP_URL:-}
sign=no
if [ -n "$pkcs12" ] || [ -n "$password_file" ]; then
  [ -n "$pkcs12" ] || fail "KESTLO_SIGN_PASSWORD_FILE is set but KESTLO_SIGN_PKCS12 is not: give both to sign."
  [ -n "$password_file" ] || fail "KESTLO_SIGN_PKCS12 is set but KESTLO_SIGN_PASSWORD_FILE is not: give both to sign."
  [ -f "$pkcs12" ] || fail "the certificate file KESTLO_SIGN_PKCS12=$pkcs12 does not exist."
  [ -f "$password_file" ] || fail "the password file KESTLO_SIGN_PASSWORD_FILE=$password_file does not exist."
  sign=yes
fi

tools/install-deps.sh release

if [ "$sign" = yes ]; then
  certificate="$staging/certificate.pem"
  openssl pkcs12 -in "$pkcs12" -passin "file:$password_file" -clcerts -nokeys -out "$certificate" 2>/dev/null ||
    fail "cannot open $pkcs12 with the password in $password_file: wrong password, or not a PKCS#12 file."
  grep -q "BEGIN CERTIFICATE" "$certificate" || fail "$pkcs12 holds no certificate for its key."
  openssl x509 -in "$certificate" -noout -checkend 0 >/dev/null ||
    fail "the signing certificate expired on $(openssl x509 -in "$certificate" -noout -enddate | cut -d= -f2)."
  usage=$(openssl x509 -in "$certificate" -noout -ext extendedKeyUsage 2>/dev/null || true)
  case "$usage" in
    *"Code Signing"*) ;;
    *) fail "the signing certificate is not for code signing (its extended key usage lacks Code Signing)." ;;
  esac
  signer=$(openssl x509 -in "$certificate" -noout -subject | sed 's/^subject=//')
fi

# --- Build and check ------------------------------------------------------------
vendor=()
for variable in KESTLO_LOGIN_HOST KESTLO_COMPANY_NAME KESTLO_COPYRIGHT; do
  [ -z "${!variable:-}" ] || vendor+=("-D$variable=${!variable}")
done
rm -rf "$build"
cmake --preset windows -B "$build" "${vendor[@]}" >"$staging/build.log" 2>&1 ||
  fail "configuring failed: $(tail -n 5 "$staging/build.log")"
cmake --build "$build" -j"$(nproc)" --target kestlo_desktop >"$staging/build.log" 2>&1 ||
  fail "the build failed: $(tail -n 15 "$staging/build.log")"
grep -F "SHA-256" "$staging/build.log"
ctest --test-dir "$build" -R '^executable\.file$' --output-on-failure >/dev/null ||
  fail "the built file failed its checks (ctest --test-dir $build -R executable.file)."

exe="Kestlo desktop.exe"
unsigned_sha=$(sha256sum "$build/$exe" | cut -d' ' -f1)
cache() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }

if [ "$sign" = yes ]; then
  options=(sign -pkcs12 "$pkcs12" -readpass "$password_file" -h sha256 -n "Kestlo desktop"
           -i "http://$(cache KESTLO_LOGIN_HOST)/")
  [ -z "$timestamp_url" ] || options+=(-ts "$timestamp_url")
  osslsigncode "${options[@]}" -in "$build/$exe" -out "$staging/$exe" >"$staging/sign.log" 2>&1 ||
    fail "osslsigncode could not sign: $(tail -n 3 "$staging/sign.log")"
  rm -f "$staging/sign.log"
  # The signature is all that was added: taking it off gives the built bytes back.
  osslsigncode remove-signature -in "$staging/$exe" -out "$staging/check.exe" >/dev/null 2>&1 &&
    cmp -s "$staging/check.exe" "$build/$exe" || fail "the signed file is not the built file plus a signature."
  rm -f "$staging/check.exe"
  echo "Signed by: $signer"
else
  cp "$build/$exe" "$staging/$exe"
  echo "NOT SIGNED: KESTLO_SIGN_PKCS12 and KESTLO_SIGN_PASSWORD_FILE are not set. Windows SmartScreen and"
  echo "security suites will warn about or block an unsigned download; sign before publishing."
fi

(cd "$staging" && sha256sum "$exe" > SHA256SUMS)
cat > "$staging/BUILD-INFO.txt" <<EOF
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

mv "$staging/$exe" "$staging/SHA256SUMS" "$staging/BUILD-INFO.txt" "$dist/"
echo "Release written to $dist:"
(cd "$dist" && ls -l)
