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
# - openssl pkcs7 finds in each message the certificates it should carry (the intermediate or
#   the untrusted root that the signing added);
# - openssl: each good catalog's signer messageDigest is the hash of the trust list's content
#   octets, and its signature over the signed attributes verifies with the signer's public key;
# - catalog.py list reads back from each signed catalog the members it wrote, sorted, of the
#   hash asked for.
#
#   bash tests/signing/check-tools.sh [--ec] [<folder>]
#
# Works in <folder> (kept) or in a temporary folder (removed). --ec makes the PKI with ECDSA keys,
# which takes a fraction of the RSA keys' time (the host test suite runs it so). Prints one line
# per failure and a summary; exits 1 on any failure.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
key_option=()
if [[ ${1:-} == --ec ]]; then
    key_option=(--ec)
    shift
fi
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

bash "$here/make-packages.sh" "${key_option[@]}" "$work"
pki=$work/pki
mkdir -p "$work/check"
failures=0
fail() {
    echo "FAIL  $*" >&2
    failures=$((failures + 1))
}

# verifies <pass | the reason it fails for> <what> <osslsigncode verify arguments...>
verifies() {
    local expected=$1 what=$2 result=fail log=$work/check/verify.log
    shift 2
    if osslsigncode verify -CAfile "$pki/root.pem" -TSA-CAfile "$pki/root.pem" "$@" >"$log" 2>&1; then
        result=pass
    fi
    if [[ $expected == pass ]]; then
        [[ $result == pass ]] ||
            fail "osslsigncode verify $what: refused ($(grep -m1 -iE 'fail|error' "$log"))"
    elif [[ $result == pass ]] || ! grep -qF -- "$expected" "$log"; then
        fail "osslsigncode verify $what: $result, expected a refusal for \"$expected\""
    fi
}

good=(good-sha256 good-sha1 image-signed-after)
for case in "${good[@]}" file-not-in-catalog untrusted-publisher fake-microsoft \
    expired-signer-timestamped; do
    verifies pass "$case/sample.cat" -in "$work/$case/sample.cat"
done
verifies 'Unable to extract existing signature' unsigned-catalog/sample.cat \
    -in "$work/unsigned-catalog/sample.cat"
verifies 'self-signed certificate in certificate chain' untrusted-root/sample.cat \
    -in "$work/untrusted-root/sample.cat"
verifies 'certificate has expired' expired-signer/sample.cat -in "$work/expired-signer/sample.cat"
verifies 'digest failure' catalog-content-changed/sample.cat \
    -in "$work/catalog-content-changed/sample.cat"
verifies 'unsupported input file type' not-a-catalog/sample.cat -in "$work/not-a-catalog/sample.cat"
# osslsigncode hashes the formats it signs (the PE image here), not plain files.
for case in "${good[@]}"; do
    verifies pass "-catalog $case: bin/sample.sys" -catalog "$work/$case/sample.cat" \
        -in "$work/$case/bin/sample.sys"
done
verifies 'Catalog verification: failed' "-catalog image-changed: bin/sample.sys" \
    -catalog "$work/image-changed/sample.cat" -in "$work/image-changed/bin/sample.sys"

# The certificates each message carries, as openssl's PKCS#7 reader lists them (its CMS reader
# refuses a catalog: PKCS#7 holds the trust list itself where CMS wants an OCTET STRING).
certificates() {
    openssl pkcs7 -inform DER -in "$work/$1/sample.cat" -print_certs -noout |
        sed -n 's/^subject=.*CN = //p' | sort | paste -sd '|'
}
microsoft='Microsoft Windows Hardware Compatibility Publisher|Microsoft Windows Third Party'
for expected in 'good-sha256:Example Devices Test Publisher' \
    'untrusted-root:Example Untrusted Root|Example Untrusted Signer' \
    "fake-microsoft:$microsoft Component CA 2014"; do
    case=${expected%%:*}
    carried=$(certificates "$case")
    [[ $carried == "${expected#*:}" ]] ||
        fail "$case/sample.cat carries '$carried', expected '${expected#*:}'"
done

# The image hash: ours of the unsigned and of the signed image, osslsigncode's of the signed one.
signed_image=$work/image-signed-after/bin/sample.sys
log=$work/check/verify.log
osslsigncode verify -CAfile "$pki/root.pem" -in "$signed_image" >"$log" 2>&1 || true
calculated=$(sed -n 's/^Calculated message digest *: *\([0-9A-Fa-f]*\).*/\1/p' "$log")
current=$(sed -n 's/^Current message digest *: *\([0-9A-Fa-f]*\).*/\1/p' "$log")
ours_unsigned=$(catalog hash "$work/driver/sample.sys" | cut -d' ' -f1)
ours_signed=$(catalog hash "$signed_image" | cut -d' ' -f1)
if [[ -z $calculated || ${calculated^^} != "$ours_unsigned" || ${current^^} != "$ours_unsigned" ||
    $ours_signed != "$ours_unsigned" ]]; then
    fail "image hash: osslsigncode calculated '$calculated' (signed: '$current'), catalog.py" \
        "'$ours_unsigned' unsigned, '$ours_signed' signed"
fi

# The members read back: the plain files' tags are what sha1sum / sha256sum print, the image's
# what osslsigncode calculated; and the signature checked with openssl.
for case in good-sha256 good-sha1; do
    algorithm=${case#good-}
    image_hash=$calculated
    [[ $algorithm == sha256 ]] ||
        image_hash=$(osslsigncode verify -catalog "$work/$case/sample.cat" -CAfile "$pki/root.pem" \
            -in "$work/$case/bin/sample.sys" 2>&1 |
            sed -n 's/^Calculated message digest *: *\([0-9A-Fa-f]*\).*/\1/p')
    expected=$(
        cd "$work/$case"
        "${algorithm}sum" sample.inf sample.dat | awk '{ print toupper($1), "flat", $2 }'
        echo "${image_hash^^} pe sample.sys"
    )
    if ! diff <(printf 'members: %s, signers: 1\n%s\n' "$algorithm" "$(sort <<<"$expected")") \
        <(catalog list "$work/$case/sample.cat") >&2; then
        fail "catalog.py list $case/sample.cat: not the members expected (above)"
    fi
    parts=$work/check/$case
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
