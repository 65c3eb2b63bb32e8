#!/usr/bin/env bash
# Sets up everything and runs the whole test suite: a format check, a check that the docs name
# only scripts, presets and targets that exist, the host tests (plain and under sanitizers),
# bounded fuzz runs, the three Windows builds (x86, x64, ARM64) with their packages and the
# deployment zip of them, a second build that must give the same bytes, a signing round trip,
# the x86 and x64 programs (with InstallerCheck and Deploy.cmd) end to end under Wine, and the
# ARM64 programs' device scenarios in an ARM64 Wine. Where setup.sh could not install the ARM64
# compiler (no PyPI), the ARM64 build and its suite are skipped, and one line says so.
set -euo pipefail
cd "$(dirname "$0")/.."

# The end-to-end suite at the end runs the Windows programs under Wine: setup.sh installs it too.
export INSTALLER_WITH_WINE=1
bash scripts/setup.sh
read -r zig_version <cmake/zig/VERSION
windows_presets=(win32 win64)
if [[ -x ${INSTALLER_ZIG:-/opt/installer-zig/ziglang-$zig_version/ziglang/zig} ]]; then
    windows_presets+=(winarm64)
else
    echo "== no zig $zig_version (see setup above): the ARM64 build and its Wine suite are skipped"
    rm -rf build/winarm64
fi

echo "== format check"
git ls-files -- '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

echo "== the docs' scripts, presets and targets exist"
bash scripts/check-docs.sh

echo "== host build and tests"
cmake --preset host >/dev/null
cmake --build --preset host
ctest --preset host

echo "== host tests under AddressSanitizer, UndefinedBehaviorSanitizer and leak checking"
cmake --preset host-asan >/dev/null
cmake --build --preset host-asan
ctest --preset host-asan

echo "== bounded fuzz runs"
FUZZ_SECONDS=${FUZZ_SECONDS:-60} bash scripts/fuzz.sh

echo "== Windows builds and release packages"
for preset in "${windows_presets[@]}"; do
    preset_started=$SECONDS
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
    # Imports only KnownDLLs, ASLR/DEP, the stack protector, the manifests, and a check that
    # holds no call that changes device state.
    bash scripts/check-windows-programs.sh "$preset"
    # Unsigned without a certificate, and saying so once.
    packaging=$(cpack --preset "$preset")
    notes=$(grep -c 'programs are not signed' <<<"$packaging" || true)
    ((notes == 1)) || { echo "cpack --preset $preset: $notes notes on signing" >&2; exit 1; }
    listing=$(unzip -l build/$preset/Installer-*-$preset.zip)
    for file in Installer.exe README-trace.txt TqDbgCfg.ini BUILDINFO.txt; do
        grep -q "/$file\$" <<<"$listing" || { echo "$file missing from the $preset zip" >&2; exit 1; }
    done
    echo "$preset build, checks and package took $((SECONDS - preset_started)) s"
done

# The deployment zip of the Windows builds: each folder's programs, the texts, CR LF line ends.
cmake --preset bundle >/dev/null
cpack --preset bundle >/dev/null
bundle_zip=$(ls build/bundle/Installer-*-windows.zip)
listing=$(unzip -l "$bundle_zip")
bundle_folders=(x86 x64)
[[ ! -d build/winarm64 ]] || bundle_folders+=(arm64)
for file in "${bundle_folders[@]/%//Installer.exe}" "${bundle_folders[@]/%//InstallerCheck.exe}" \
    "${bundle_folders[@]/%//InstallerRemove.exe}" "${bundle_folders[@]/%//TraceLogDecode.exe}" \
    "${bundle_folders[@]/%//InstallerDeploy.exe}" TqDbgCfg.ini README.txt Deploy.cmd BUILDINFO.txt \
    SHA256SUMS; do
    grep -q "/$file\$" <<<"$listing" || { echo "$file missing from $bundle_zip" >&2; exit 1; }
done
for file in README.txt Deploy.cmd; do
    if unzip -p "$bundle_zip" "*/$file" | grep -qv $'\r$'; then
        echo "$file in $bundle_zip has a line without CR LF" >&2
        exit 1
    fi
done

# The same commit built again elsewhere gives the same bytes; signing with a throwaway
# certificate verifies, comes off again without a trace and leaves programs that still work.
echo "== reproducible: a second build in a fresh clone"
bash scripts/check-reproducible.sh
echo "== signed with a throwaway certificate"
bash scripts/check-signing.sh

# ---------------------------------------------------------------------------------------------
# End-to-end: both Windows programs under Wine, in a private prefix (build/wine-suite/), with
# devices registered by the suite's helper. Needs the win32, win64 and host builds above.
echo "== Windows programs under Wine"
bash tests/wine/run-wine-suite.sh

# The ARM64 programs' device scenarios in an ARM64 Wine (Debian's arm64 wine64 in a debootstrap
# root under /var/cache/installer-arm64-wine/, made once per key and kept for every checkout,
# run through qemu).
if [[ -d build/winarm64 ]]; then
    echo "== ARM64 programs under an ARM64 Wine"
    bash tests/wine/run-wine-suite.sh winarm64
fi
