#!/usr/bin/env bash
# Sets up everything and runs the whole test suite: a format check, a check that the docs name
# only scripts, presets and targets that exist, the host tests (plain and under sanitizers),
# bounded fuzz runs, the two Windows builds with their packages and the deployment zip of both,
# and both Windows programs (with InstallerCheck and Deploy.cmd) end to end under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

# The end-to-end suite at the end runs the Windows programs under Wine: setup.sh installs it too.
export INSTALLER_WITH_WINE=1
bash scripts/setup.sh

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
for preset in win32 win64; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
    # Imports only KnownDLLs, ASLR/DEP, the stack protector, the manifests, and a check that
    # holds no call that changes device state.
    bash scripts/check-windows-programs.sh "$preset"
    cpack --preset "$preset" >/dev/null
    listing=$(unzip -l build/$preset/Installer-*-$preset.zip)
    for file in Installer.exe README-trace.txt TqDbgCfg.ini; do
        grep -q "/$file\$" <<<"$listing" || { echo "$file missing from the $preset zip" >&2; exit 1; }
    done
done

# The deployment zip of both programs: each folder's three programs, the texts, CR LF line ends.
cmake --preset bundle >/dev/null
cpack --preset bundle >/dev/null
bundle_zip=$(ls build/bundle/Installer-*-windows.zip)
listing=$(unzip -l "$bundle_zip")
for file in {x86,x64}/{Installer,InstallerCheck,TraceLogDecode}.exe TqDbgCfg.ini README.txt Deploy.cmd; do
    grep -q "/$file\$" <<<"$listing" || { echo "$file missing from $bundle_zip" >&2; exit 1; }
done
for file in README.txt Deploy.cmd; do
    if unzip -p "$bundle_zip" "*/$file" | grep -qv $'\r$'; then
        echo "$file in $bundle_zip has a line without CR LF" >&2
        exit 1
    fi
done

# ---------------------------------------------------------------------------------------------
# End-to-end: both Windows programs under Wine, in a private prefix (build/wine-suite/), with
# devices registered by the suite's helper. Needs the win32, win64 and host builds above.
echo "== Windows programs under Wine"
bash SourceCode/Installer/tests/wine/run-wine-suite.sh
