#!/usr/bin/env bash
# Builds the checked-out commit a second time and compares: the Windows programs and every
# release zip must come out byte for byte as in build/. The second build runs in a fresh clone at
# another path, later, in another time zone and with another umask; it builds only the Windows
# presets (their programs and the suite's small helpers), their zips and the deployment zip, and
# compares every program of each preset and every zip. Uncommitted changes to tracked files are
# carried into the clone; untracked files are not.
#
#   bash scripts/check-reproducible.sh
#
# Needs build/win32, build/win64 and build/bundle with their zips (scripts/test.sh makes them);
# with build/winarm64 there (the ARM64 build, where the machine has its zig), that one too.
# Prints each file's SHA-256 and the time the second build took; on a difference, names the
# files and keeps the clone for a closer look (diffoscope, cmp -l); exits 1.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
started=$SECONDS
presets=(win32 win64)
[[ ! -d build/winarm64 ]] || presets+=(winarm64)

clone=$(mktemp -d "${TMPDIR:-/tmp}/installer-rebuild.XXXXXX")
git init --quiet "$clone"
git -C "$clone" fetch --quiet "$repo" HEAD
git -C "$clone" checkout --quiet --detach FETCH_HEAD
git diff --binary HEAD | git -C "$clone" apply --allow-empty

(
    cd "$clone"
    umask 077
    export TZ=UTC-14
    for preset in "${presets[@]}"; do
        cmake --preset "$preset" >/dev/null
        cmake --build --preset "$preset" >/dev/null
        cpack --preset "$preset" >/dev/null
    done
    cmake --preset bundle >/dev/null
    cpack --preset bundle >/dev/null
)
echo "second build took $((SECONDS - started)) s (in $clone)"

cd "$clone/build"
files=(bundle/*.zip bundle/SHA256SUMS)
for preset in "${presets[@]}"; do
    files+=("$preset"/*.exe "$preset"/*.zip "$preset"/SHA256SUMS)
done
sha256sum "${files[@]}"
if ! (cd "$repo/build" && sha256sum --check --quiet) < <(sha256sum "${files[@]}"); then
    echo "check-reproducible: the files above differ from build/; the second build is in $clone" >&2
    exit 1
fi
cd "$repo"
rm -rf "$clone"
echo "reproducible: ${#files[@]} files the same in both builds"
