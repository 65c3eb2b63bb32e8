#!/usr/bin/env bash
# Makes the driver packages of the signature cases in a folder: one folder per case, each a
# complete package (sample.inf, sample.cat, bin/sample.sys, sample.dat) that breaks one thing of
# its signature, or none.
#
#   bash tests/signing/make-packages.sh [--ec] <folder> [<PKI folder>]
#
# The PKI is tests/signing/make-pki.sh's, made in <folder>/pki unless one is given (--ec: with
# ECDSA keys, quicker to make than the RSA ones). The driver
# image is built from sample-driver.c with x86_64-w64-mingw32-gcc, or written by minimal-pe.py
# when mingw is not installed. <folder>/cases.txt lists the cases, one a line:
#   <case> <plan's exit code> <Deploy's result> <signer (a PKI name) or -> <file plan names or ->
# for a machine that trusts pki/root.cer in Root and pki/publisher.cer in TrustedPublisher.
# Needs openssl, osslsigncode and python3 with asn1crypto. Exits non-zero on any failure.
set -euo pipefail
key_option=()
if [[ ${1:-} == --ec ]]; then
    key_option=(--ec)
    shift
fi
if (($# < 1 || $# > 2)); then
    echo "usage: $0 [--ec] <folder> [<PKI folder>]" >&2
    exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$1"
out=$(cd "$1" && pwd)
pki=${2:-$out/pki}
if (($# == 1)); then
    bash "$here/make-pki.sh" "${key_option[@]}" "$pki"
fi
pki=$(cd "$pki" && pwd)

# A python3 that has asn1crypto: the one on PATH, else Debian's own.
python=python3
if ! "$python" -c 'import asn1crypto' 2>/dev/null; then
    python=/usr/bin/python3
fi
catalog() { "$python" "$here/catalog.py" "$@"; }

# The driver image, once for every case. A fixed image base and no time stamp: the same bytes
# wherever it is built (the linker otherwise derives the base from the output's path).
image=$out/driver/sample.sys
mkdir -p "$out/driver"
if command -v x86_64-w64-mingw32-gcc >/dev/null; then
    x86_64-w64-mingw32-gcc -O2 -s -nostdlib -shared -Wl,--subsystem,native \
        -Wl,--entry,DriverEntry -Wl,--no-insert-timestamp -Wl,--image-base,0x140000000 \
        -o "$image" "$here/sample-driver.c"
else
    "$python" "$here/minimal-pe.py" "$image"
fi
if (($(stat -c %s "$image") % 8 != 0)); then
    echo "make-packages: $image is not a multiple of 8 bytes long" >&2
    exit 1
fi

# The INF: examples/sample.inf's device and install, copying the image and a plain file.
write_inf() {
    cat >"$1/sample.inf" <<'INF'
; sample.inf - a driver package of the signature cases (tests/signing/make-packages.sh).
; It lets the device use the in-box WinUSB driver, and copies a driver image and a data file.

[Version]
Signature   = "$Windows NT$"
Class       = USBDevice
ClassGuid   = {88BAE032-5A81-49f0-BC3D-A4FF138216D6}
Provider    = %ProviderName%
DriverVer   = 03/01/2024,1.0.0.0
CatalogFile = sample.cat
PnpLockdown = 1

[Manufacturer]
%ProviderName% = SampleModels, NTx86, NTamd64, NTarm64

[SampleModels.NTx86]
%DeviceDesc% = SampleInstall, USB\VID_1234&PID_5678&REV_0100
%DeviceDesc% = SampleInstall, USB\VID_1234&PID_5678

[SampleModels.NTamd64]
%DeviceDesc% = SampleInstall, USB\VID_1234&PID_5678&REV_0100
%DeviceDesc% = SampleInstall, USB\VID_1234&PID_5678

[SampleModels.NTarm64]
%DeviceDesc% = SampleInstall, USB\VID_1234&PID_5678&REV_0100
%DeviceDesc% = SampleInstall, USB\VID_1234&PID_5678

[SampleInstall.NT]
Include   = winusb.inf
Needs     = WINUSB.NT
CopyFiles = SampleCopy

[SampleInstall.NT.Services]
Include = winusb.inf
Needs   = WINUSB.NT.Services

[SampleInstall.NT.HW]
AddReg = SampleInstall.AddReg

[SampleInstall.AddReg]
HKR,,DeviceInterfaceGUIDs,0x10000,"{6F1D3A52-9C4E-4B7A-8E21-5D0B7C93A4E1}"

[SampleCopy]
sample.sys
sample.dat

[DestinationDirs]
SampleCopy = 12

[SourceDisksNames]
1 = %DiskName%,,,

[SourceDisksFiles]
sample.sys = 1,bin
sample.dat = 1

[Strings]
ProviderName = "Example Devices"
DeviceDesc   = "Example USB Sample Device"
DiskName     = "Example Devices driver disk"
INF
}

# package <case>: the package's files, without its catalog.
package() {
    local folder=$out/$1
    rm -rf "$folder"
    mkdir -p "$folder/bin"
    write_inf "$folder"
    cp "$image" "$folder/bin/sample.sys"
    printf 'Example Devices sample data, version 1.0.0.0\n' >"$folder/sample.dat"
}

# The unsigned catalogs, written once since every package is the same until a case changes it:
# every file with SHA-256 or with SHA-1 members, and every file but sample.dat.
unsigned=$out/unsigned
package "${unsigned#"$out/"}"
write_catalog() {
    local name=$1 algorithm=$2
    shift 2
    (cd "$unsigned" && catalog write --hash "$algorithm" --attr OS=10_X86,10_X64,10_ARM64 \
        --attr 'HWID1=usb\vid_1234&pid_5678' -o "$name.cat" "$@")
}
write_catalog sha256 sha256 sample.inf bin/sample.sys sample.dat
write_catalog sha1 sha1 sample.inf bin/sample.sys sample.dat
write_catalog without-dat sha256 sample.inf bin/sample.sys

# sign <case> <unsigned catalog> <signer> [<extra certificate>]: the case's sample.cat, that
# unsigned catalog signed as that PKI signer, with SHA-256 and no timestamp (unless TIMESTAMP
# gives its time, in seconds since 1970: then timestamper's RFC 3161 timestamp of that time),
# with the extra certificate (an intermediate or root) added to the message.
sign() {
    local folder=$out/$1 signer=$3 extra=()
    [[ -z ${4:-} ]] || extra=(-ac "$pki/$4.pem")
    [[ -z ${TIMESTAMP:-} ]] || extra+=(-TSA-certs "$pki/timestamper.pem"
        -TSA-key "$pki/timestamper.key" -TSA-time "$TIMESTAMP")
    osslsigncode sign -certs "$pki/$signer.pem" -key "$pki/$signer.key" "${extra[@]}" -h sha256 \
        -n "Example Devices sample driver" -in "$unsigned/$2.cat" -out "$folder/sample.cat" \
        >"$folder/sign.log"
    rm "$folder/sign.log"
}

: >"$out/cases.txt"
case_line() { echo "$*" >>"$out/cases.txt"; }

package good-sha256
sign good-sha256 sha256 publisher
case_line good-sha256 0 0 publisher -

package good-sha1
sign good-sha1 sha1 publisher
case_line good-sha1 0 0 publisher -

# Catalogued unsigned, then signed in place: the image hash leaves the signature out.
package image-signed-after
sign image-signed-after sha256 publisher
rm "$out/image-signed-after/bin/sample.sys"
osslsigncode sign -certs "$pki/publisher.pem" -key "$pki/publisher.key" -h sha256 \
    -n "Example Devices sample driver" -in "$image" \
    -out "$out/image-signed-after/bin/sample.sys" >/dev/null
case_line image-signed-after 0 0 publisher -

# One byte of the image's last section, after signing.
package image-changed
sign image-changed sha256 publisher
printf '\x5a' | dd of="$out/image-changed/bin/sample.sys" bs=1 \
    seek=$(($(stat -c %s "$image") - 1)) conv=notrunc status=none
case_line image-changed 1 1603 publisher 'bin\sample.sys'

package inf-changed
sign inf-changed sha256 publisher
printf '; changed after signing\n' >>"$out/inf-changed/sample.inf"
case_line inf-changed 1 1603 publisher sample.inf

# The INF copies sample.dat, which the catalog leaves out.
package file-not-in-catalog
sign file-not-in-catalog without-dat publisher
case_line file-not-in-catalog 1 1603 publisher sample.dat

# The untrusted root travels in the message, so that the chain is complete but untrusted.
package untrusted-root
sign untrusted-root sha256 untrusted-signer untrusted-root
case_line untrusted-root 1 1603 untrusted-signer -

package catalog-content-changed
sign catalog-content-changed sha256 publisher
catalog tamper "$out/catalog-content-changed/sample.cat"
case_line catalog-content-changed 1 1603 publisher -

package unsigned-catalog
cp "$unsigned/sha256.cat" "$out/unsigned-catalog/sample.cat"
case_line unsigned-catalog 1 1603 - -

package expired-signer
sign expired-signer sha256 expired-signer
case_line expired-signer 1 1603 expired-signer -

# The same signer, with a timestamp of 2020-06-01, while its certificate was valid: the chain is
# judged at that time, and only the publisher is missing (a machine that trusts expired-signer
# as a publisher installs it).
package expired-signer-timestamped
TIMESTAMP=1590969600 sign expired-signer-timestamped sha256 expired-signer
case_line expired-signer-timestamped 1 1603 expired-signer -

# Deploy gives 0 with /trustpublisher and second-publisher's thumbprint.
package untrusted-publisher
sign untrusted-publisher sha256 second-publisher
case_line untrusted-publisher 1 1603 second-publisher -

# The CA named like Microsoft's travels in the message; the chain ends at the test root.
package fake-microsoft
sign fake-microsoft sha256 hardware-publisher hardware-ca
case_line fake-microsoft 1 1603 hardware-publisher -

package not-a-catalog
printf 'This file is named as the catalog of sample.inf, but it is plain text.\n' \
    >"$out/not-a-catalog/sample.cat"
case_line not-a-catalog 1 1603 - -
