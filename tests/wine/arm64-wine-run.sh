#!/usr/bin/env bash
# Runs a Wine tool inside the ARM64 Wine's root (scripts/make-arm64-wine.sh): run-wine-suite.sh
# links wine, wine64, wineboot and wineserver to this file in a folder it puts first in PATH for the
# winarm64 programs, so the suite's commands stay the same. The tool is the name it is called by.
#
# Each run gets a private mount namespace (gone with its last process) in which the root has
# /proc, /dev and, at their own paths, the folders named in INSTALLER_ARM64_BINDS (the build
# and the sources), so that every path, Z:\ included, means the same inside as outside. The
# wineserver that a run starts outlives it in its namespace; the next runs reach it through the
# socket under the root's /tmp, which is one folder for all of them.
set -euo pipefail
tool=$(basename "$0")
# Debian's Wine has its 64-bit loader outside PATH.
[[ $tool != wine64 ]] || tool=/usr/lib/wine/wine64
root=${INSTALLER_ARM64_ROOT:?the ARM64 Wine root}
binds=${INSTALLER_ARM64_BINDS:?the folders the root sees}
cwd=$PWD
# shellcheck disable=SC2016
exec unshare --mount --propagation private bash -c '
    set -e
    root=$1 binds=$2 cwd=$3 tool=$4
    shift 4
    mount -t proc proc "$root/proc"
    mount --rbind /dev "$root/dev"
    IFS=: read -ra folders <<<"$binds"
    for folder in "${folders[@]}"; do
        mkdir -p "$root$folder"
        mount --bind "$folder" "$root$folder"
    done
    exec chroot "$root" /usr/bin/env --chdir="$cwd" PATH=/usr/sbin:/usr/bin:/sbin:/bin \
        "$tool" "$@"
' arm64-wine-run "$root" "$binds" "$cwd" "$tool" "$@"
