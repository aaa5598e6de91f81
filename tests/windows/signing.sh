#!/usr/bin/env bash
# The Windows packages signed with a throw-away certificate, as an
# administrator signs them with the desk's: scripts/windows-package --test
# with the certificate installs the signed MSI under wine and starts the
# installed programs; then every signature (the three programs in the zip, the
# two in the MSI, the MSI) verifies against that certificate and not
# against the system's authorities, a changed byte breaks it, the signed demo
# runs to "Update finished" under wine, and signing requests that cannot work
# are refused with dist/ left as it was.
#
# Part of scripts/windows-test (which has built build-win and set WINEPREFIX).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
version=1.77
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
  echo "signing test: FAILED: $*" >&2
  exit 1
}

# The certificate: a self-signed code-signing key, in a PKCS#12 file whose
# password is the first line of a file.
cd "$work"
echo "throw-away $RANDOM$RANDOM" >password
openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 \
  -subj "/CN=MVXTVUP signing test" -addext extendedKeyUsage=codeSigning \
  -addext keyUsage=digitalSignature >/dev/null 2>&1 || fail "openssl could not make the certificate"
openssl pkcs12 -export -inkey key.pem -in cert.pem -out desk.p12 -passout file:password ||
  fail "openssl could not write the PKCS#12 file"

dist=$work/dist
MVX_DIST_DIR=$dist MVX_SIGN_PKCS12=$work/desk.p12 MVX_SIGN_PASSWORD_FILE=$work/password \
  "$root/scripts/windows-package" --test || fail "scripts/windows-package --test with a certificate"
msi=$dist/mvxtvup-$version-x64.msi
zip=$dist/mvxtvup-$version-windows-x64.zip

unzip -q "$zip" -d zip
msiextract -C msi "$msi" >/dev/null || fail "msiextract $msi"
from_msi=$(find msi -type f -name mvxtvup.exe)
[ -f "$from_msi" ] || fail "the MSI holds no mvxtvup.exe"
cli_from_msi=$(find msi -type f -name mvxtvup-cli.exe)
[ -f "$cli_from_msi" ] || fail "the MSI holds no mvxtvup-cli.exe"
for file in zip/MVXTVUP/mvxtvup.exe zip/MVXTVUP/mvxtvup-cli.exe zip/MVXTVUP/mvxtvup-demo.exe \
  "$from_msi" "$cli_from_msi" "$msi"; do
  osslsigncode verify -in "$file" -CAfile cert.pem >verify.log 2>&1 ||
    { cat verify.log; fail "$file: the signature does not verify against the certificate"; }
  grep -q 'CN=MVXTVUP signing test' verify.log || fail "$file: not signed by the test certificate"
  # The certificate is trusted only where it is named: against the system's
  # authorities the same signature must not pass.
  ! osslsigncode verify -in "$file" >/dev/null 2>&1 || fail "$file verifies without its certificate"
  # One byte changed in the signed content breaks the signature.
  cp "$file" tampered
  size=$(stat -c %s tampered)
  printf '\x5a' | dd of=tampered bs=1 seek=$((size / 3)) conv=notrunc status=none
  cmp -s "$file" tampered && printf '\xa5' | dd of=tampered bs=1 seek=$((size / 3)) conv=notrunc status=none
  ! osslsigncode verify -in tampered -CAfile cert.pem >/dev/null 2>&1 || fail "$file: a changed byte still verifies"
done
echo "signing test: the programs and the MSI carry signatures that verify, and break when changed"

# The signed demo still runs: Windows' loader reads the signature as a
# security directory that the program itself never touches.
mkdir run && cp zip/MVXTVUP/mvxtvup-demo.exe run/
(cd run && timeout 120 "$root/cmake/wine-run" mvxtvup-demo.exe) >demo.log 2>&1 || true
grep -q '\[demo\] done: Update finished' demo.log || { tail -20 demo.log; fail "the signed demo did not finish"; }
echo "signing test: the signed demo ran to Update finished under wine"

# Requests that cannot work end before anything is built or replaced.
sums=$(sha256sum "$dist"/*)
echo wrong >wrong-password
while IFS='|' read -r want args; do
  status=0
  # shellcheck disable=SC2086
  MVX_DIST_DIR=$dist "$root/scripts/windows-package" $args >refused.log 2>&1 || status=$?
  [ "$status" = "$want" ] || { cat refused.log; fail "windows-package $args: exit $status, not $want"; }
  [ "$(sha256sum "$dist"/*)" = "$sums" ] || fail "windows-package $args changed dist/"
done <<EOF
2|--pkcs12 $work/desk.p12
2|--password-file $work/password
2|--pkcs12 $work/missing.p12 --password-file $work/password
2|--pkcs12 $work/desk.p12 --password-file $work/missing
2|--pkcs12
1|--pkcs12 $work/desk.p12 --password-file $work/wrong-password
1|--pkcs12 $work/cert.pem --password-file $work/password
EOF
echo "signing test: requests without a usable certificate or password are refused, dist/ untouched"
