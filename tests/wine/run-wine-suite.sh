#!/usr/bin/env bash
# End-to-end suite: runs the programs of the Windows builds, build/win32/ (prefix rule) and
# build/win64/ (equality rule), or build/winarm64/ alone, under Wine in a private prefix.
#
#   bash tests/wine/run-wine-suite.sh [win32] [win64]
#   bash tests/wine/run-wine-suite.sh winarm64
#
# winarm64, the ARM64 programs, runs alone, in an ARM64 Wine: Debian's arm64 wine64 in the root
# that scripts/make-arm64-wine.sh makes (or reuses) outside the checkout, in
# /var/cache/installer-arm64-wine/, run through qemu.
# Every Wine tool the suite calls (wine, wineboot, wineserver) then runs in that root
# (arm64-wine-run.sh), with the build and the sources at their own paths; its prefix is
# <build>/wine-suite-winarm64/prefix. Only ARM64 code runs there: the programs and the suite's
# helpers of the winarm64 build. By default it runs the device scenarios: no device, present,
# absent, the check's plan and verify, the planted DLLs, a removal, Deploy.cmd from the
# deployment zip (25), and the signature layer and plan over the signature cases (48, 49).
#
# Needs the win32 and win64 builds (Installer.exe and wine-tests/ with WineDeviceHelper.exe and
# the test cfgmgr32.dll) and build/host/TraceLogDecode; it makes the test PKI in build/host/test-pki
# when the host tests have not (tests/signing/test-pki.sh). Devices are registered in the prefix by
# WineDeviceHelper.exe; the test cfgmgr32.dll makes chosen devices absent, which Wine's own
# CM_Get_DevNode_Status never reports. It is installed in the prefix's system folders (system32
# for 64-bit programs, syswow64 for 32-bit ones), the only place the programs load cfgmgr32.dll
# from, and only runs with WINEDLLOVERRIDES=cfgmgr32=n,b prefer it to Wine's own.
#
# Environment: INSTALLER_BUILD_DIR (default <repo>/build); INSTALLER_WINE_SCENARIOS, scenario
# numbers separated by spaces, runs only those (default all); WINEDEBUG for the helper runs
# (default -all; the program runs always use -all,warn+seh, which shows the debugger channel).
# Prints one line per scenario and program, then "N passed, N failed"; exits 1 on any failure.
#
# Shared helpers live in wine-lib.sh (and wine-channel.py, which reads the debugger channel out
# of Wine's log); the scenarios in scenarios/NN-name.sh, sourced in name order, each registering
# its scenarios with `scenario NUMBER TITLE FUNCTION [PROGRAM]` (PROGRAM: only for that one).
# A new group is one new file there.
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/../.." && pwd)
build=${INSTALLER_BUILD_DIR:-$repo/build}
work=$build/wine-suite
decoder=$build/host/TraceLogDecode
if (($# > 0)); then archs=("$@"); else archs=(win32 win64); fi
if [[ " ${archs[*]} " == *" winarm64 "* ]]; then
    if ((${#archs[@]} > 1)); then
        echo "wine suite: winarm64 runs in an ARM64 Wine of its own: run it alone" >&2
        exit 2
    fi
    work=$build/wine-suite-winarm64
    INSTALLER_WINE_SCENARIOS=${INSTALLER_WINE_SCENARIOS:-5 6 7 9 10 11 18 25 30 48 49}
    root_log=$(mktemp)
    # One root for every checkout and build folder (INSTALLER_ARM64_ROOT names another).
    arm64_root=${INSTALLER_ARM64_ROOT:-/var/cache/installer-arm64-wine/root}
    if ! bash "$repo/scripts/make-arm64-wine.sh" "$arm64_root" >"$root_log" 2>&1; then
        cat "$root_log" >&2
        rm -f "$root_log"
        exit 1
    fi
    grep '^arm64 wine:' "$root_log"
    export INSTALLER_ARM64_ROOT
    INSTALLER_ARM64_ROOT=$(tail -1 "$root_log")
    rm -f "$root_log"
    export INSTALLER_ARM64_BINDS=$repo:$build
    mkdir -p "$work/bin"
    for tool in wine wine64 wineboot wineserver; do
        ln -sf "$here/arm64-wine-run.sh" "$work/bin/$tool"
    done
    export PATH=$work/bin:$PATH
fi

export WINEPREFIX=$work/prefix
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko: nothing here needs them, and their installers would ask.
base_overrides="mscoree,mshtml="
export WINEDLLOVERRIDES=$base_overrides

started=$SECONDS

for tool in wine wineboot wineserver python3 timeout openssl osslsigncode flock; do
    command -v "$tool" >/dev/null || { echo "wine suite: $tool not found" >&2; exit 1; }
done
for arch in "${archs[@]}"; do
    for file in Installer.exe InstallerCheck.exe wine-tests/WineDeviceHelper.exe \
        wine-tests/WineTrustHelper.exe wine-tests/cfgmgr32.dll; do
        if [[ ! -f $build/$arch/$file ]]; then
            echo "wine suite: $build/$arch/$file missing" >&2
            exit 1
        fi
    done
done

# A prefix left by an interrupted run may still have its server.
[[ -d $WINEPREFIX ]] && wineserver -k >/dev/null 2>&1
rm -rf "${work:?}"/{prefix,win32,win64,winarm64,wineboot.log,signing,settle,settle.cer,test-pki.log}
mkdir -p "$WINEPREFIX"
trap 'wineserver -k >/dev/null 2>&1' EXIT
# One persistent wineserver for the whole suite: the Wine services start once, not per run.
wineserver -p
# The services wineboot starts keep its output files: their messages never reach a program run.
if ! timeout -k 10 600 wineboot -i >"$work/wineboot.log" 2>&1; then
    echo "wine suite: wineboot -i failed (see $work/wineboot.log)" >&2
    exit 1
fi
for arch in "${archs[@]}"; do
    system_folder=$WINEPREFIX/drive_c/windows/$([[ $arch == win32 ]] && echo syswow64 || echo system32)
    cp "$build/$arch/wine-tests/cfgmgr32.dll" "$system_folder/cfgmgr32.dll"
done
# Debian's Wine 8 for arm64 writes PROCESSOR_ARCHITECTURE=x86 into the prefix at every boot,
# where ARM64 Windows says ARM64 to its native programs (Deploy.cmd reads it): the suite's one
# wineserver keeps what is written after the boot.
if [[ ${archs[*]} == winarm64 ]] &&
    ! timeout -k 5 120 wine reg add 'HKLM\System\CurrentControlSet\Control\Session Manager\Environment' \
        /v PROCESSOR_ARCHITECTURE /t REG_SZ /d ARM64 /f >/dev/null 2>&1; then
    echo "wine suite: setting PROCESSOR_ARCHITECTURE=ARM64 in the prefix failed" >&2
    exit 1
fi
# One test PKI for the whole suite: the host tests' (tests/signing/test-pki.sh, RSA keys, as Wine's
# crypt32 verifies no ECDSA signature), which signs the host package table's catalogs too. The
# suite signs every catalog it writes as its publisher.
pki=$build/host/test-pki
if ! bash "$repo/tests/signing/test-pki.sh" "$pki" >"$work/test-pki.log" 2>&1; then
    echo "wine suite: the test PKI could not be made (see $work/test-pki.log)" >&2
    exit 1
fi
# shellcheck source=wine-lib.sh
source "$here/wine-lib.sh"
# Wine's crypt32 makes the certificate stores' keys, and copies the host's trusted roots into
# LocalMachine Root, the first time a chain is built in a prefix (Windows has them from its
# setup); WinVerifyTrust's chain, built by the current user's engine, makes that user's Root. A
# chain built here with both engines, by each build, so that no scenario's run is the first to
# ask. Then the prefix trusts the PKI's root in LocalMachine Root and its publisher in
# LocalMachine TrustedPublisher, as a machine that installs the publisher's packages unattended
# does (each build adds them, whether or not Wine's WOW64 shares the stores). Last, the signature
# layer is asked about a catalog of that publisher's: Wine's wintrust writes the current user's
# Wintrust\Trust Providers\Software Publishing State at its first WinVerifyTrust in a prefix
# (every Windows profile has it), so that plan's first run does not look as if it had changed
# the registry.
settle=$work/settle
mkdir -p "$settle"
printf 'settle\r\n' >"$settle/settle.txt"
python=python3
"$python" -c 'import asn1crypto' 2>/dev/null || python=/usr/bin/python3
if ! write_catalog "$settle/settle.cat" "$settle/settle.txt" >"$settle/catalog.log" 2>&1 ||
    ! tag=$("$python" "$repo/tests/signing/catalog.py" hash "$settle/settle.txt" | cut -d' ' -f1); then
    echo "wine suite: the settling catalog could not be written (see $settle/catalog.log)" >&2
    exit 1
fi
printf 'settle\t%s\t%s\t%s\n' "$(windows_path "$settle/settle.cat")" "$tag" \
    "$(windows_path "$settle/settle.txt")" >"$settle/list.txt"
for arch in "${archs[@]}"; do
    if ! trust_helper chain "$(windows_path "$pki/root.cer")" >/dev/null 2>&1; then
        echo "wine suite: WineTrustHelper chain failed for $arch" >&2
        exit 1
    fi
    for store in Root:root TrustedPublisher:publisher; do
        if ! trust_helper add "${store%%:*}" "$(windows_path "$pki/${store#*:}.cer")" \
            >/dev/null 2>&1; then
            echo "wine suite: WineTrustHelper add ${store%%:*} failed for $arch" >&2
            exit 1
        fi
    done
    trust_helper probe "$(windows_path "$settle/list.txt")" >"$settle/$arch.txt" 2>&1
    if [[ $(grep -cxE 'signature: verifies|chain: problems=0x0 authenticode=0x0 .*|trustedPublisher: present|WinVerifyTrust settle.txt: 0x0' \
        <(tr -d '\r' <"$settle/$arch.txt")) != 4 ]]; then
        echo "wine suite: the signature layer did not trust the settling catalog for $arch:" \
            "$(tr -d '\r' <"$settle/$arch.txt" | paste -sd'|')" >&2
        exit 1
    fi
done
echo "Wine prefix ready in $((SECONDS - started)) s: $WINEPREFIX"

for group in "$here"/scenarios/*.sh; do
    # shellcheck source=/dev/null
    source "$group"
done

for arch in "${archs[@]}"; do
    for i in "${!scenario_functions[@]}"; do
        [[ -z ${scenario_archs[i]} || ${scenario_archs[i]} == "$arch" ]] || continue
        [[ -z ${INSTALLER_WINE_SCENARIOS:-} ||
            " $INSTALLER_WINE_SCENARIOS " == *" ${scenario_numbers[i]} "* ]] || continue
        run_scenario "${scenario_numbers[i]}" "${scenario_titles[i]}" "${scenario_functions[i]}"
    done
done

echo "Wine suite took $((SECONDS - started)) s"
echo "$passed passed, $failed failed"
((passed + failed > 0)) || echo "wine suite: no scenario numbered ${INSTALLER_WINE_SCENARIOS:-}" >&2
((failed == 0 && passed > 0))
