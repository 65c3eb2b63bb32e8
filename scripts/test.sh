#!/usr/bin/env bash
# Sets up everything and runs the whole test suite: the host tests, a format check and the
# two Windows builds.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

echo "== format check"
git ls-files -- '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

echo "== host build and tests"
cmake --preset host >/dev/null
cmake --build --preset host
ctest --preset host

echo "== Windows builds"
for preset in win32 win64; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
    test -f "build/$preset/Installer.exe"
done
