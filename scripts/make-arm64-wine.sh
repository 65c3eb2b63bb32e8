#!/usr/bin/env bash
# Makes the ARM64 Wine that the Wine suite runs the winarm64 programs in: Debian's own wine64
# for arm64 in a `debootstrap --arch=arm64` root, run through qemu-user-static (binfmt_misc).
#
#   bash scripts/make-arm64-wine.sh [ROOT]     (default ROOT: /var/cache/installer-arm64-wine/root)
#
# Made once and kept outside every checkout, as zig's toolchain is (/opt/installer-zig), so that
# a fresh clone on a machine that keeps it does not make it again: a root whose recorded key matches is used as it is. The key is the suite,
# the mirror, the package list, and the versions the host's package
# indexes give for Wine's packages (Debian builds every architecture of a suite from the same
# source version, so a new Wine for amd64 means a new one for arm64 too). Anything else makes
# the root anew (so does a new $layout, raised when this script makes a different root). Prints the root's path on its last line; every decision is one line on stdout
# beginning "arm64 wine:". Needs root (debootstrap, chroot, mount), debootstrap and
# qemu-user-static (scripts/setup.sh installs both with INSTALLER_WITH_WINE=1).
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
root=${1:-/var/cache/installer-arm64-wine/root}
packages=(wine wine64)
layout=1

say() { echo "arm64 wine: $*"; }

[[ $(id -u) == 0 ]] || { say "needs root (debootstrap, chroot, mount)" >&2; exit 1; }
for tool in debootstrap chroot unshare; do
    command -v "$tool" >/dev/null || { say "$tool not found" >&2; exit 1; }
done

# ARM64 programs run through qemu's binfmt_misc handler. Its F flag opens the emulator when the
# handler is registered, so that it also serves programs inside the root.
binfmt=/proc/sys/fs/binfmt_misc
if [[ ! -e $binfmt/register ]]; then
    mount -t binfmt_misc binfmt_misc "$binfmt"
fi
if [[ ! -e $binfmt/qemu-aarch64 ]]; then
    conf=/usr/lib/binfmt.d/qemu-aarch64.conf
    [[ -f $conf ]] || { say "$conf not found: is qemu-user-static installed?" >&2; exit 1; }
    grep -v '^#' "$conf" >"$binfmt/register"
    say "registered qemu-aarch64 with binfmt_misc"
fi
[[ $(head -1 "$binfmt/qemu-aarch64") == enabled ]] || echo 1 >"$binfmt/qemu-aarch64"

# The host's own Debian suite and mirror (its first "deb" source), unless told otherwise.
. /etc/os-release
suite=${INSTALLER_ARM64_SUITE:-$VERSION_CODENAME}
mirror=${INSTALLER_ARM64_MIRROR:-}
if [[ -z $mirror ]]; then
    mirror=$(cat /etc/apt/sources.list.d/*.sources 2>/dev/null |
        awk '/^URIs:/ { print $2; exit }')
fi
if [[ -z $mirror ]]; then
    mirror=$(awk '$1 == "deb" && $2 !~ /^\[/ { print $2; exit }' /etc/apt/sources.list 2>/dev/null)
fi
[[ -n $mirror ]] || { say "no Debian mirror in the host's apt sources" >&2; exit 1; }

versions=$(for package in "${packages[@]}" libwine; do
    printf '%s=%s\n' "$package" "$(apt-cache policy "$package" | awk '/Candidate:/ { print $2 }')"
done)
key=$(printf '%s\n' "$layout" "$suite" "$mirror" "${packages[*]}" "$versions" | sha256sum |
    cut -c1-16)

# One maker at a time per root: checkouts share it.
mkdir -p "$(dirname "$root")"
exec 9>"$(dirname "$root")/.lock"
flock 9

if [[ -f $root/.installer-key && $(cat "$root/.installer-key") == "$key" &&
    -x $root/usr/lib/wine/wine64 ]]; then
    say "reusing $root (key $key)"
    echo "$root"
    exit 0
fi

started=$SECONDS
say "making $root for $suite arm64 ($(paste -sd' ' <<<"$versions"))"
# Runs mount /proc, /dev and the build in private namespaces, never on the host; still, nothing
# is deleted while something is mounted inside.
if findmnt -rn -o TARGET | grep -qE "^($root|$root.new)(/|\$)"; then
    say "something is mounted under $root: not making it anew" >&2
    exit 1
fi
rm -rf "$root" "$root.new"
log=$(dirname "$root")/debootstrap.log
include=$(IFS=,; echo "${packages[*]}")
if ! debootstrap --arch=arm64 --variant=minbase --include="$include" "$suite" "$root.new" \
    "$mirror" >"$log" 2>&1; then
    tail -20 "$log" >&2
    say "debootstrap failed (above; whole log in $log)" >&2
    exit 1
fi
# Only ARM64 code runs there: no x86 emulation inside, no package cache kept.
rm -rf "$root.new/var/cache/apt/archives/"*.deb
# Wine finds its own libraries through /proc, as every run in the root does (the Wine suite's
# arm64-wine-run.sh): a private mount of it for this one check.
if ! unshare --mount --propagation private sh -c \
    'mount -t proc proc "$1/proc" && chroot "$1" /usr/lib/wine/wine64 --version' sh \
    "$root.new" >/dev/null 2>&1; then
    say "wine64 does not start in $root.new" >&2
    exit 1
fi
echo "$key" >"$root.new/.installer-key"
mv "$root.new" "$root"
say "made $root in $((SECONDS - started)) s (key $key)"
echo "$root"
