#!/usr/bin/env bash
# Installs what building and testing need on a fresh Debian machine (run as root; apt-get).
# Safe to run again: packages already present are left as they are.
set -euo pipefail

packages=(
    cmake ninja-build g++ make googletest libgtest-dev libgmock-dev libbenchmark-dev
    clang-format python3 unzip clang libclang-rt-dev valgrind
    mingw-w64 g++-mingw-w64-x86-64-win32 g++-mingw-w64-i686-win32 binutils-mingw-w64
    strip-nondeterminism git osslsigncode openssl
)
if [[ "${INSTALLER_WITH_WINE:-0}" == 1 ]]; then
    packages+=(wine wine64 wine32:i386)
fi

missing=()
for package in "${packages[@]}"; do
    dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
if ((${#missing[@]} == 0)); then
    exit 0
fi

if [[ $(id -u) != 0 ]]; then
    echo "setup: missing packages: ${missing[*]} (run as root to install them)" >&2
    exit 1
fi
if [[ " ${missing[*]} " == *":i386 "* ]]; then
    dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
