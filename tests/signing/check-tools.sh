#!/usr/bin/env bash
# Checks the signature cases' tools against tools that are not ours: makes the PKI and the
# packages (make-packages.sh) and then
# - osslsigncode verify, trusting only the test root, accepts the good catalogs' signatures and
#   refuses the unsigned catalog, the untrusted root's, the expired signer's and the one whose
#   content changed after signing;
# - osslsigncode verify -catalog finds every file of the good packages (the image signed after
#   cataloguing included) among its catalog's members, and neither the changed image nor the
#   changed INF;
# - the Authenticode image hash that catalog.py gives the driver image, unsigned and signed,
#   equals the message digest osslsigncode calculates for the signed image;
# - openssl: each good catalog's signer messageDigest is the hash of the trust list's content
#   octets, and its signature over the signed attributes verifies with the signer's public key;
# - catalog.py list reads back from each signed catalog the members it wrote, sorted, of the
#   hash asked for.
#
#   bash tests/signing/check-tools.sh [<folder>]
#
# Works in <folder> (kept) or in a temporary folder (removed). Prints one line per failure and a
# summary; exits 1 on any failure.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if (($# == 1)); then
    mkdir -p "$1"
    work=$(cd "$1" && pwd)
else
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
fi
python=python3
if ! "$python" -c 'import asn1crypto' 2>/dev/null; then
    python=/usr/bin/python3
fi
catalog() { "$python" "$here/catalog.py" "$@"; }

bash "$here/make-packages.sh" "$work"
pki=$work/pki
failures=0
fail() {
    echo "FAIL  $*" >&2
    failures=$((failures + 1))
}

# verifies <expected: pass|fail> <what> <osslsigncode verify arguments...>
verifies() {
    local expected=$1 what=$2 result=fail
    shift 2
    if osslsigncode verify -CAfile "$pki/root.pem" "$@" >"$work/verify.log" 2>&1; then
        result=pass
    fi
    [[ $result == "$expected" ]] ||
        fail "osslsigncode verify $what: $result, expected $expected ($(grep -m1 -iE 'fail|error' \
            "$work/verify.log" || tail -1 "$work/verify.log"))"
}

good=(good-sha256 good-sha1 image-signed-after)
for case in "${good[@]}" file-not-in-catalog untrusted-publisher fake-microsoft; do
    verifies pass "$case/sample.cat" -in "$work/$case/sample.cat"
done
for case in unsigned-catalog untrusted-root expired-signer catalog-content-changed not-a-catalog; do
    verifies fail "$case/sample.cat" -in "$work/$case/sample.cat"
done
for case in "${good[@]}"; do
    for file in sample.inf bin/sample.sys sample.dat; do
        verifies pass "-catalog $case: $file" -catalog "$work/$case/sample.cat" \
            -in "$work/$case/$file"
    done
done
verifies fail "-catalog image-changed: bin/sample.sys" -catalog "$work/image-changed/sample.cat" \
    -in "$work/image-changed/bin/sample.sys"
verifies fail "-catalog inf-changed: sample.inf" -catalog "$work/inf-changed/sample.cat" \
    -in "$work/inf-changed/sample.inf"
verifies fail "-catalog file-not-in-catalog: sample.dat" \
    -catalog "$work/file-not-in-catalog/sample.cat" -in "$work/file-not-in-catalog/sample.dat"

# The image hash: ours of the unsigned and of the signed image, osslsigncode's of the signed one.
signed_image=$work/image-signed-after/bin/sample.sys
osslsigncode verify -CAfile "$pki/root.pem" -in "$signed_image" >"$work/verify.log" 2>&1 || true
calculated=$(sed -n 's/^Calculated message digest *: *\([0-9A-Fa-f]*\).*/\1/p' "$work/verify.log")
current=$(sed -n 's/^Current message digest *: *\([0-9A-Fa-f]*\).*/\1/p' "$work/verify.log")
ours_unsigned=$(catalog hash "$work/driver/sample.sys" | cut -d' ' -f1)
ours_signed=$(catalog hash "$signed_image" | cut -d' ' -f1)
if [[ -z $calculated || ${calculated^^} != "$ours_unsigned" || ${current^^} != "$ours_unsigned" ||
    $ours_signed != "$ours_unsigned" ]]; then
    fail "image hash: osslsigncode calculated '$calculated' (signed: '$current'), catalog.py" \
        "'$ours_unsigned' unsigned, '$ours_signed' signed"
fi

# The members read back, and the signature checked with openssl.
for case in good-sha256 good-sha1; do
    algorithm=${case#good-}
    expected=$(cd "$work/$case" && catalog hash --hash "$algorithm" sample.inf bin/sample.sys \
        sample.dat | awk '{ name = $3; sub(/.*\//, "", name); print $1, $2, name }' | sort)
    if ! diff <(printf 'members: %s, signers: 1\n%s\n' "$algorithm" "$expected") \
        <(catalog list "$work/$case/sample.cat") >&2; then
        fail "catalog.py list $case/sample.cat: not the members written (above)"
    fi
    parts=$work/$case/parts
    mkdir -p "$parts"
    "$python" - "$here" "$work/$case/sample.cat" "$parts" <<'PYTHON'
import hashlib
import os
import sys

sys.path.insert(0, sys.argv[1])
import catalog  # noqa: E402 (tests/signing/catalog.py)

signed, ctl = catalog.trust_list(open(sys.argv[2], 'rb').read())
signer = signed['signer_infos'][0]
attributes = signer['signed_attrs']
digest = [a['values'][0].native for a in attributes if a['type'].native == 'message_digest'][0]
algorithm = signer['digest_algorithm']['algorithm'].native
with open(os.path.join(sys.argv[3], 'result'), 'w') as out:
    # Authenticode hashes the content's octets, without the trust list's tag and length.
    out.write('digest ' + ('ok' if hashlib.new(algorithm, ctl.contents).digest() == digest
                           else 'differs') + '\n')
# The signature covers the signed attributes encoded as a SET OF (tag 0x31), not as [0].
open(os.path.join(sys.argv[3], 'attributes.der'), 'wb').write(
    b'\x31' + attributes.dump()[1:])
open(os.path.join(sys.argv[3], 'signature.bin'), 'wb').write(signer['signature'].native)
PYTHON
    if [[ $(cat "$parts/result") != "digest ok" ]]; then
        fail "$case/sample.cat: the messageDigest is not the hash of the trust list's content"
    fi
    openssl x509 -in "$pki/publisher.pem" -noout -pubkey >"$parts/publisher.pub"
    if ! openssl dgst -sha256 -verify "$parts/publisher.pub" -signature "$parts/signature.bin" \
        "$parts/attributes.der" >/dev/null; then
        fail "$case/sample.cat: openssl does not verify the signature with the publisher's key"
    fi
done

if ((failures > 0)); then
    echo "signing tools: $failures failures" >&2
    exit 1
fi
echo "signing tools: osslsigncode and openssl agree with every case's catalog"
