#!/usr/bin/env bash
# The catalog check's cost: InstallerCheck plan over a signed package of 512 MiB (a 256 MiB driver
# image, hashed by its Authenticode image hash, and a 256 MiB data file) against sha256sum over
# the same files, warm page cache, one run of each side by side; and each one's peak memory
# (maximum resident set, from /usr/bin/time). Figures only: nothing is compared with a limit.
#
#   bash scripts/bench-catalog.sh <InstallerCheck> <work folder> [<Windows build folder>]
#
# Called by scripts/bench.sh with the bench preset's host program. The package, its PKI
# (tests/signing/make-pki.sh, made once, RSA) and the machine file go in the work folder. With a
# Windows build folder (build/win64, built with the Wine suite's helpers) and wine installed, the
# same under Wine: that build's InstallerCheck.exe plan in a prefix of its own that trusts the
# PKI (wine-tests/WineTrustHelper.exe), against sha256sum again.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
check=$1
work=$2
mkdir -p "$work"
work=$(cd "$work" && pwd)
python=python3
"$python" -c 'import asn1crypto' 2>/dev/null || python=/usr/bin/python3

[[ -f $work/pki/thumbprints.txt ]] || bash "$here/tests/signing/make-pki.sh" "$work/pki" >/dev/null
package=$work/package
if [[ ! -f $package/sample.cat ]]; then
    rm -rf "$package"
    mkdir -p "$package/bin"
    # The INF of the signature cases' packages, written by make-packages.sh for one case.
    bash "$here/tests/signing/make-packages.sh" "$work/cases" "$work/pki" >/dev/null
    cp "$work/cases/good-sha256/sample.inf" "$package/"
    # A minimal image, then 256 MiB of section data that the image hash covers like any other.
    "$python" "$here/tests/signing/minimal-pe.py" "$package/bin/sample.sys"
    head -c $((256 << 20)) /dev/urandom >>"$package/bin/sample.sys"
    head -c $((256 << 20)) /dev/urandom >"$package/sample.dat"
    (cd "$package" && "$python" "$here/tests/signing/catalog.py" write -o unsigned.cat \
        sample.inf bin/sample.sys sample.dat)
    osslsigncode sign -certs "$work/pki/publisher.pem" -key "$work/pki/publisher.key" -h sha256 \
        -in "$package/unsigned.cat" -out "$package/sample.cat" >/dev/null
    rm "$package/unsigned.cat"
fi
cat >"$work/Machine.ini" <<MACHINE
[machine]
driver-store = DriverStore

[device USB\\VID_1234&PID_5678\\BENCH]
hardware-id = USB\\VID_1234&PID_5678
present = yes
config-flags = 0x00000000

[trust]
root = pki/root.pem
trusted-publisher = pki/publisher.pem
MACHINE

files=("$package/sample.inf" "$package/bin/sample.sys" "$package/sample.dat")
cat "${files[@]}" "$package/sample.cat" >/dev/null # the page cache, warm
measure() {
    local out=$work/time.txt start end
    start=$(date +%s%N)
    /usr/bin/time -f %M -o "$out" "$@" >/dev/null 2>&1 || true
    end=$(date +%s%N)
    echo "$(((end - start) / 1000000)) $(cat "$out")"
}
read -r sum_ms sum_kib < <(measure sha256sum "${files[@]}")
export INSTALLER_MACHINE=$work/Machine.ini
read -r plan_ms plan_kib < <(measure "$check" plan 'USB\VID_1234&PID_5678' "$package/sample.inf")
"$check" plan 'USB\VID_1234&PID_5678' "$package/sample.inf" >"$work/plan.txt" 2>&1 ||
    { echo "bench-catalog: plan did not pass:" >&2; cat "$work/plan.txt" >&2; exit 1; }
size=$(cat "${files[@]}" | wc -c)
report() {
    python3 - "$@" <<'PY'
import sys
name = sys.argv[1]
size, sum_ms, sum_kib, plan_ms, plan_kib = map(int, sys.argv[2:])
print(f"package: {size / 2**20:.0f} MiB in 3 files")
print(f"sha256sum        {sum_ms / 1000:7.3f} s  peak {sum_kib / 1024:6.1f} MiB")
print(f"{name:<16} {plan_ms / 1000:7.3f} s  peak {plan_kib / 1024:6.1f} MiB  "
      f"({plan_ms / max(sum_ms, 1):.2f}x sha256sum's time)")
PY
}
report InstallerCheck "$size" "$sum_ms" "$sum_kib" "$plan_ms" "$plan_kib"

windows=${3:-}
if [[ -z $windows ]] || ! command -v wine >/dev/null; then
    exit 0
fi
windows=$(cd "$windows" && pwd)
export WINEPREFIX=$work/wine-prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset INSTALLER_MACHINE
if [[ ! -f $WINEPREFIX/.trusted ]]; then
    rm -rf "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1
    wine "$windows/wine-tests/WineTrustHelper.exe" add Root "$(winepath -w "$work/pki/root.cer")"
    wine "$windows/wine-tests/WineTrustHelper.exe" add TrustedPublisher \
        "$(winepath -w "$work/pki/publisher.cer")"
    touch "$WINEPREFIX/.trusted"
fi
wineserver -p || true
inf=$(winepath -w "$package/sample.inf")
wine "$windows/InstallerCheck.exe" plan 'USB\VID_1234&PID_5678' "$inf" >"$work/wine-plan.txt" 2>&1 ||
    { echo "bench-catalog: plan did not pass under Wine:" >&2; cat "$work/wine-plan.txt" >&2; exit 1; }
cat "${files[@]}" "$package/sample.cat" >/dev/null
read -r sum_ms sum_kib < <(measure sha256sum "${files[@]}")
read -r plan_ms plan_kib < <(measure wine "$windows/InstallerCheck.exe" plan 'USB\VID_1234&PID_5678' "$inf")
wineserver -k || true
echo "under Wine ($(basename "$windows")/InstallerCheck.exe; its peak is the wine loader's, the"
echo "wineserver apart):"
report "InstallerCheck.exe" "$size" "$sum_ms" "$sum_kib" "$plan_ms" "$plan_kib"
