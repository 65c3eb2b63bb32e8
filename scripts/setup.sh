#!/usr/bin/env bash
# Installs what building and testing need on a fresh Debian machine (run as root; apt-get).
# Safe to run again: packages already present are left as they are.
#
# A package mirror can be briefly out of step with itself (one index of a suite still the old
# one while its Release file is new: "File has unexpected size ... Mirror sync in progress?").
# So apt-get update is tried a few times and then the install goes on with the indexes apt has.
# When a package of the foreign architecture (wine32:i386) then cannot be installed because the
# i386 twin of an installed library is only in the index that failed, those few libraries are
# taken at the version both architectures have (normally the main suite's, a downgrade of a
# security update) and the script says so in one line; INSTALLER_NO_DOWNGRADE=1 makes it stop
# there instead. Every decision is one line on stdout beginning "setup:".
#
# zig, the compiler of the ARM64 programs (preset winarm64), comes from PyPI (package ziglang)
# at the version cmake/zig/VERSION pins, into /opt/installer-zig/ziglang-<version>, a folder of
# its own outside every checkout, where the toolchain (cmake/zig/) looks for it. When PyPI
# cannot be reached, one line says so, and scripts/test.sh skips only the ARM64 build, its
# checks and its Wine suite.
set -euo pipefail

packages=(
    cmake ninja-build g++ make googletest libgtest-dev libgmock-dev libbenchmark-dev
    clang-format python3 unzip clang libclang-rt-dev valgrind
    mingw-w64 g++-mingw-w64-x86-64-win32 g++-mingw-w64-i686-win32 binutils-mingw-w64
    strip-nondeterminism git osslsigncode openssl llvm
    # The signature cases' catalogs (tests/signing/) and the host's cryptography stand-ins.
    python3-asn1crypto libssl-dev
)
if [[ "${INSTALLER_WITH_WINE:-0}" == 1 ]]; then
    # The ARM64 Wine (scripts/make-arm64-wine.sh) is a debootstrap root run through qemu.
    packages+=(wine wine64 wine32:i386 debootstrap qemu-user-static)
fi

read -r zig_version <"$(dirname "$0")/../cmake/zig/VERSION"
zig_prefix=/opt/installer-zig/ziglang-$zig_version
if [[ ! -x $zig_prefix/ziglang/zig ]]; then
    zig_log=$(mktemp)
    if [[ $(id -u) != 0 ]]; then
        echo "setup: zig $zig_version is not in $zig_prefix (run as root to install it):" \
            "the ARM64 build is skipped"
    elif rm -rf "$zig_prefix.new" && PIP_ROOT_USER_ACTION=ignore python3 -m pip install -q \
        --no-deps --disable-pip-version-check --target "$zig_prefix.new" \
        "ziglang==$zig_version" >"$zig_log" 2>&1 &&
        "$zig_prefix.new/ziglang/zig" version >/dev/null 2>&1; then
        mv "$zig_prefix.new" "$zig_prefix"
    else
        rm -rf "$zig_prefix.new"
        echo "setup: ziglang $zig_version could not be had from PyPI ($(tail -1 "$zig_log")):" \
            "the ARM64 build and its Wine suite are skipped"
    fi
    rm -f "$zig_log"
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
native=$(dpkg --print-architecture)
apt_options=(-y -qq --no-install-recommends -o Acquire::Retries=3)

# The index files apt could not fetch, one per line, from apt-get update's output.
failed_indexes() { sed -n 's/^E: Failed to fetch \([^ ]*\).*/\1/p' "$1" | sed 's,.*/dists/,,' | sort -u; }

update_log=$(mktemp)
trap 'rm -f "$update_log"' EXIT
updated=0
for attempt in 1 2 3; do
    if apt-get update -qq >"$update_log" 2>&1; then
        updated=1
        break
    fi
    ((attempt == 3)) || sleep $((attempt * 10))
done
if ((updated == 0)); then
    echo "setup: apt-get update failed 3 times ($(failed_indexes "$update_log" | paste -sd' ')):" \
        "going on with the package indexes apt has"
fi

# Version comparison and the versions an architecture's indexes offer.
newer() { dpkg --compare-versions "$1" gt "$2"; }
versions_of() { apt-cache madison "$1" 2>/dev/null | awk -F'|' '{ gsub(/ /, "", $2); print $2 }'; }

# For the foreign packages asked for: each installed native library of theirs (Multi-Arch: same,
# so both architectures must have one version) whose installed version the foreign indexes lack,
# and which no common version newer than it can replace, pinned with its installed siblings from
# the same source to the newest version both architectures have. Prints "package=version" words.
twin_pins() {
    local foreign=("$@") package installed source common version sibling
    local -A seen=()
    while read -r package; do
        package=${package%%:*}
        [[ -n $package && -z ${seen[$package]:-} ]] || continue
        seen[$package]=1
        installed=$(dpkg-query -W -f='${Version}' "$package:$native" 2>/dev/null) || continue
        [[ -n $installed ]] || continue
        [[ $(dpkg-query -W -f='${Multi-Arch}' "$package:$native") == same ]] || continue
        versions_of "$package:i386" | grep -qxF -- "$installed" && continue
        common=$(comm -12 <(versions_of "$package:i386" | sort -u) \
            <(versions_of "$package:$native" | sort -u))
        version=
        while read -r candidate; do
            [[ -n $candidate ]] || continue
            if [[ -z $version ]] || newer "$candidate" "$version"; then version=$candidate; fi
        done <<<"$common"
        # Nothing both have, or apt can upgrade both to a common newer version by itself.
        [[ -n $version ]] || continue
        newer "$version" "$installed" && continue
        source=$(dpkg-query -W -f='${source:Package}' "$package:$native")
        echo "$package:$native=$version" "$package:i386=$version"
        while read -r sibling; do
            [[ $sibling != "$package" ]] || continue
            versions_of "$sibling:$native" | grep -qxF -- "$version" &&
                echo "$sibling:$native=$version"
        done < <(dpkg-query -W -f='${binary:Package} ${source:Package} ${Version}\n' |
            awk -v s="$source" -v v="$installed" -v a=":$native" \
                '$2 == s && $3 == v { sub(a "$", "", $1); print $1 }')
    done < <(apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts \
        --no-breaks --no-replaces --no-enhances "${foreign[@]}" 2>/dev/null | grep -E '^[a-z0-9]')
}

install_log=$(mktemp)
trap 'rm -f "$update_log" "$install_log"' EXIT
if apt-get install "${apt_options[@]}" "${missing[@]}" >"$install_log" 2>&1; then
    exit 0
fi
foreign=()
for package in "${missing[@]}"; do
    [[ $package != *:i386 ]] || foreign+=("$package")
done
pins=()
((${#foreign[@]} == 0)) || mapfile -t pins < <(twin_pins "${foreign[@]}" | tr ' ' '\n' | sort -u)
if ((${#pins[@]} == 0)); then
    tail -20 "$install_log" >&2
    echo "setup: apt-get install failed (above)" >&2
    exit 1
fi
if [[ ${INSTALLER_NO_DOWNGRADE:-0} == 1 ]]; then
    echo "setup: ${foreign[*]} needs ${pins[*]} (older than installed, since the newer i386" \
        "twins are not in the indexes); INSTALLER_NO_DOWNGRADE=1 stops here" >&2
    exit 1
fi
echo "setup: the i386 twins of installed libraries are missing from the indexes apt has, so" \
    "these go to the version both architectures have (a downgrade): ${pins[*]}"
if ! apt-get install "${apt_options[@]}" --allow-downgrades "${missing[@]}" "${pins[@]}" \
    >"$install_log" 2>&1; then
    tail -20 "$install_log" >&2
    echo "setup: apt-get install failed with the pinned versions too (above)" >&2
    exit 1
fi
