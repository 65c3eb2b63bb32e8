#!/usr/bin/env bash
# The test PKI of make-pki.sh (RSA keys) in a folder, made once and kept: made again only when
# make-pki.sh has changed since (<folder>/made-by holds the SHA-256 of the script that made it).
# Processes that ask at the same time wait on <folder>.lock while the first makes it. The host
# tests (SigningTools.h) and the Wine suite share build/host/test-pki this way, so that the
# catalogs both sign chain to the one root the Wine prefix trusts.
#
#   bash tests/signing/test-pki.sh <folder>
set -euo pipefail
if (($# != 1)); then
    echo "usage: $0 <folder>" >&2
    exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
dir=$1
mkdir -p "$(dirname "$dir")"
exec 9>"$dir.lock"
flock 9
sum=$(sha256sum <"$here/make-pki.sh")
if [[ $(cat "$dir/made-by" 2>/dev/null) != "$sum" ]]; then
    rm -rf "$dir"
    bash "$here/make-pki.sh" "$dir" >/dev/null
    echo "$sum" >"$dir/made-by"
fi
