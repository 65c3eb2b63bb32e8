#!/usr/bin/env bash
# Prints what the signature check's Windows layer answers under Wine for each package of
# tests/signing/make-packages.sh, in one run of WineTrustHelper's probe: per case the signer, its
# certificate, the chain and its policies, TrustedPublisher, and WinVerifyTrust for the INF, the
# image and the data file, each by the tag the case's member algorithm gives it.
#
#   bash tests/wine/probe-trust.sh <build folder of a Windows preset> <packages folder>
#
# Runs in the Wine prefix of $WINEPREFIX, which must trust the root.cer of the packages' PKI in Root
# and its publisher.cer in TrustedPublisher (WineTrustHelper add). The answers hold no key-dependent
# bytes, so that two runs with two PKIs print the same.
set -euo pipefail
if (($# != 2)); then
    echo "usage: $0 <Windows build folder> <packages folder>" >&2
    exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
helper=$(cd "$1" && pwd)/wine-tests/WineTrustHelper.exe
packages=$(cd "$2" && pwd)
python=python3
"$python" -c 'import asn1crypto' 2>/dev/null || python=/usr/bin/python3
windows() { printf 'Z:%s' "${1//\//\\}"; }

# In the packages folder, which the ARM64 Wine sees at its own path (its /tmp is its own).
list=$(mktemp -p "$packages" probe-list.XXXXXX)
trap 'rm -f "$list"' EXIT
while read -r case _; do
    folder=$packages/$case
    algorithm=sha256
    [[ $case == good-sha1 ]] && algorithm=sha1
    line=$case$'\t'$(windows "$folder/sample.cat")
    while read -r tag _ file; do
        line+=$'\t'$tag$'\t'$(windows "$file")
    done < <("$python" "$here/../signing/catalog.py" hash --hash "$algorithm" \
        "$folder/sample.inf" "$folder/bin/sample.sys" "$folder/sample.dat")
    printf '%s\n' "$line"
done <"$packages/cases.txt" >"$list"
WINEDEBUG=${WINEDEBUG:--all} timeout -k 5 300 wine "$helper" probe "$(windows "$list")" | tr -d '\r'
