#!/usr/bin/env bash
# Signs the release zips with a throwaway self-signed code-signing certificate, made here with
# openssl, and checks that the signed programs are the reproducible ones:
# - osslsigncode verify accepts every program's signature, the throwaway certificate being the
#   only trusted root;
# - osslsigncode remove-signature gives back exactly the program in the unsigned zip;
# - the signed programs of every architecture pass Wine scenario 10 (Installer installs on a
#   present device, InstallerCheck verifies it), the ARM64 ones in the ARM64 Wine.
# The deployment zip is signed with the password in the environment, the win64 zip (and the
# winarm64 zip, where the ARM64 build is there) with the password in a file
# (cmake/ReleaseSign.cmake).
#
#   bash scripts/check-signing.sh
#
# Needs build/win32, build/win64 (with wine-tests/) and build/bundle with their zips, as
# scripts/test.sh leaves them. Everything goes to build/signed/. Exits 1 on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
out=$repo/build/signed
rm -rf "$out"
mkdir -p "$out/cert"

# The certificate and its key, in a PKCS#12 file; the password never is an argument.
INSTALLER_SIGN_PASSWORD=$(openssl rand -hex 16)
export INSTALLER_SIGN_PASSWORD
printf '%s\n' "$INSTALLER_SIGN_PASSWORD" >"$out/cert/password"
openssl req -x509 -newkey rsa:3072 -sha256 -days 2 -subj '/CN=Installer throwaway signer' \
    -addext 'keyUsage=critical,digitalSignature' -addext 'extendedKeyUsage=critical,codeSigning' \
    -keyout "$out/cert/key.pem" -out "$out/cert/cert.pem" \
    -passout env:INSTALLER_SIGN_PASSWORD 2>/dev/null
openssl pkcs12 -export -inkey "$out/cert/key.pem" -in "$out/cert/cert.pem" \
    -out "$out/cert/signer.p12" -passin env:INSTALLER_SIGN_PASSWORD \
    -passout env:INSTALLER_SIGN_PASSWORD
export INSTALLER_SIGN_PKCS12=$out/cert/signer.p12

cpack --preset bundle -B "$out/bundle" >/dev/null
presets=(bundle win64)
[[ ! -d build/winarm64 ]] || presets+=(winarm64)
for preset in "${presets[@]:1}"; do
    env -u INSTALLER_SIGN_PASSWORD INSTALLER_SIGN_PASSWORD_FILE="$out/cert/password" \
        cpack --preset "$preset" -B "$out/$preset" >/dev/null
done

failures=0
for preset in "${presets[@]}"; do
    signed_zip=$(ls "$out/$preset"/Installer-*.zip)
    unsigned_zip=$repo/build/$preset/${signed_zip##*/}
    (cd "$out/$preset" && sha256sum --check --quiet SHA256SUMS)
    unzip -q "$signed_zip" -d "$out/$preset/unpacked"
    # The deployment zip's own sums are those of the signed files.
    for sums in "$out/$preset"/unpacked/*/SHA256SUMS; do
        if [[ -f $sums ]]; then
            (cd "${sums%/*}" && sha256sum --check --quiet SHA256SUMS)
        fi
    done
    while read -r entry; do
        program=$out/$preset/unpacked/$entry
        if ! osslsigncode verify -CAfile "$out/cert/cert.pem" -in "$program" \
            >"$program.verify" 2>&1; then
            echo "FAIL  $preset: $entry: signature not accepted (see $program.verify)" >&2
            failures=$((failures + 1))
        fi
        osslsigncode remove-signature -in "$program" -out "$program.unsigned" >/dev/null
        if ! cmp -s "$program.unsigned" <(unzip -p "$unsigned_zip" "$entry"); then
            echo "FAIL  $preset: $entry without its signature differs from the unsigned zip's" >&2
            failures=$((failures + 1))
        fi
    done < <(unzip -Z1 "$signed_zip" | grep '\.exe$')
done
if ((failures > 0)); then
    exit 1
fi
echo "signed: every program's signature verifies, and removing it gives the unsigned bytes"

# The suite takes its programs from <build>/<preset>/: the signed ones, beside the helpers.
wine_build=$out/wine-build
for pair in win32:x86 win64:x64; do
    preset=${pair%:*}
    mkdir -p "$wine_build/$preset"
    cp "$out"/bundle/unpacked/Installer-*/"${pair#*:}"/{Installer,InstallerCheck}.exe \
        "$wine_build/$preset/"
    ln -s "$repo/build/$preset/wine-tests" "$wine_build/$preset/wine-tests"
done
INSTALLER_BUILD_DIR=$wine_build INSTALLER_WINE_SCENARIOS=10 \
    bash tests/wine/run-wine-suite.sh
# The signed ARM64 programs in the ARM64 Wine, where they were built.
if [[ -d build/winarm64 ]]; then
    mkdir -p "$wine_build/winarm64"
    cp "$out"/bundle/unpacked/Installer-*/arm64/{Installer,InstallerCheck}.exe "$wine_build/winarm64/"
    ln -s "$repo/build/winarm64/wine-tests" "$wine_build/winarm64/wine-tests"
    INSTALLER_BUILD_DIR=$wine_build INSTALLER_WINE_SCENARIOS=10 \
        bash tests/wine/run-wine-suite.sh winarm64
fi
