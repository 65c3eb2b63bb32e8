#!/usr/bin/env bash
# Makes the test PKI of the signature cases in a folder, with openssl. Nothing of it is kept in
# the repository: every key is made afresh here, at test time.
#
#   bash tests/signing/make-pki.sh [--ec] <folder>
#
# Made (each <name>.pem the certificate in PEM, <name>.cer the same in DER, <name>.key its
# private key, unencrypted PEM):
#   root                the test root CA ("Example Test Root"); a machine trusts it in Root
#   publisher           code signing, under root; a machine trusts it in TrustedPublisher
#   second-publisher    code signing, under root, and never trusted as a publisher
#   untrusted-root      a second root CA, which no machine trusts
#   untrusted-signer    code signing, under untrusted-root
#   expired-signer      code signing, under root; valid only during 2020 (and no timestamp ever
#                       vouches for a signature made with it)
#   hardware-ca         a CA under root whose name is that of Microsoft's third-party component CA
#   hardware-publisher  under hardware-ca, named as Microsoft's hardware compatibility publisher,
#                       with the hardware-driver usage 1.3.6.1.4.1.311.10.3.5 besides code signing:
#                       a certificate that only calls itself Microsoft's
#   timestamper         time stamping (its only usage), under root: the RFC 3161 timestamps of
#                       the cases that have one
# and thumbprints.txt: one line per certificate, "<name> <SHA-1> <SHA-256>" (upper-case hex).
#
# Subjects, serial numbers and validity dates are fixed, so that only the keys and signatures
# differ from one run to the next. The keys are 2048-bit RSA with SHA-256 signatures, which every
# Windows version that checks driver packages accepts for Authenticode and for catalogs. --ec
# makes ECDSA P-256 keys instead, much faster to make; Windows accepts those for Authenticode in
# user mode from Windows 8 on, but not for every kernel-mode check, and whether Wine's crypt32
# verifies them has not been tried, so the cases use RSA.
set -euo pipefail
key_type=rsa
if [[ ${1:-} == --ec ]]; then
    key_type=ec
    shift
fi
if (($# != 1)); then
    echo "usage: $0 [--ec] <folder>" >&2
    exit 2
fi
out=$1
mkdir -p "$out"
out=$(cd "$out" && pwd)
ca=$out/ca
rm -rf "$ca"
mkdir -p "$ca"

# One openssl ca configuration for every issuer; CA_DIR picks the issuer's database.
cat >"$ca/openssl.cnf" <<'CONFIG'
[ca]
default_ca = test_ca

[test_ca]
database        = $ENV::CA_DIR/index.txt
new_certs_dir   = $ENV::CA_DIR
serial          = $ENV::CA_DIR/serial
default_md      = sha256
policy          = any_name
unique_subject  = no
copy_extensions = none
email_in_dn     = no

[any_name]
countryName            = optional
stateOrProvinceName    = optional
localityName           = optional
organizationName       = optional
commonName             = supplied

[req]
distinguished_name = empty_dn
prompt             = no

[empty_dn]

[root]
basicConstraints     = critical, CA:TRUE
keyUsage             = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash

[intermediate]
basicConstraints       = critical, CA:TRUE, pathlen:0
keyUsage               = critical, keyCertSign, cRLSign
subjectKeyIdentifier   = hash
authorityKeyIdentifier = keyid

[code_signing]
basicConstraints       = critical, CA:FALSE
keyUsage               = critical, digitalSignature
extendedKeyUsage       = codeSigning
subjectKeyIdentifier   = hash
authorityKeyIdentifier = keyid

[timestamping]
basicConstraints       = critical, CA:FALSE
keyUsage               = critical, digitalSignature
extendedKeyUsage       = critical, timeStamping
subjectKeyIdentifier   = hash
authorityKeyIdentifier = keyid

[hardware_publisher]
basicConstraints       = critical, CA:FALSE
keyUsage               = critical, digitalSignature
extendedKeyUsage       = 1.3.6.1.4.1.311.10.3.5, codeSigning
subjectKeyIdentifier   = hash
authorityKeyIdentifier = keyid
CONFIG
export OPENSSL_CONF=$ca/openssl.cnf
# The configuration names CA_DIR, so every openssl command that reads it needs one.
export CA_DIR=$ca

valid_from=20200101000000Z
valid_to=20491231235959Z

# issue <name> <issuer name|self> <serial> <extensions> <subject> [<from> <to>]
issue() {
    local name=$1 issuer=$2 serial=$3 extensions=$4 subject=$5
    local from=${6:-$valid_from} to=${7:-$valid_to}
    local issuer_dir=$ca/${issuer/#self/$name}
    mkdir -p "$issuer_dir"
    [[ -f $issuer_dir/index.txt ]] || : >"$issuer_dir/index.txt"
    echo "$serial" >"$issuer_dir/serial"
    openssl req -new -key "$out/$name.key" -subj "$subject" -out "$ca/$name.csr"
    local signing=()
    if [[ $issuer == self ]]; then
        signing=(-selfsign -keyfile "$out/$name.key")
    else
        signing=(-cert "$out/$issuer.pem" -keyfile "$out/$issuer.key")
    fi
    CA_DIR=$issuer_dir openssl ca -batch -notext -preserveDN "${signing[@]}" \
        -extensions "$extensions" -startdate "$from" -enddate "$to" \
        -in "$ca/$name.csr" -out "$out/$name.pem" 2>"$ca/$name.log" ||
        {
            cat "$ca/$name.log" >&2
            return 1
        }
    openssl x509 -in "$out/$name.pem" -outform DER -out "$out/$name.cer"
}

names=(root publisher second-publisher untrusted-root untrusted-signer expired-signer hardware-ca
    hardware-publisher timestamper)

# The keys first, two at a time (RSA key generation is most of the time this takes).
for name in "${names[@]}"; do
    if [[ $key_type == ec ]]; then
        openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$out/$name.key"
    else
        openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$out/$name.key" \
            2>/dev/null &
        (($(jobs -rp | wc -l) < 2)) || wait -n
    fi
done
wait

issue root self 1001 root '/O=Example Devices/CN=Example Test Root'
issue publisher root 1002 code_signing '/O=Example Devices/CN=Example Devices Test Publisher'
issue second-publisher root 1003 code_signing \
    '/O=Example Devices/CN=Example Devices Second Publisher'
issue untrusted-root self 2001 root '/O=Example Elsewhere/CN=Example Untrusted Root'
issue untrusted-signer untrusted-root 2002 code_signing \
    '/O=Example Elsewhere/CN=Example Untrusted Signer'
issue expired-signer root 1004 code_signing '/O=Example Devices/CN=Example Devices Expired Signer' \
    20200101000000Z 20201231235959Z
microsoft='/C=US/ST=Washington/L=Redmond/O=Microsoft Corporation/CN=Microsoft Windows'
issue hardware-ca root 1005 intermediate "$microsoft Third Party Component CA 2014"
issue hardware-publisher hardware-ca 1006 hardware_publisher \
    "$microsoft Hardware Compatibility Publisher"
issue timestamper root 1007 timestamping '/O=Example Devices/CN=Example Devices Test Timestamper'

: >"$out/thumbprints.txt"
for name in "${names[@]}"; do
    sha1=$(openssl x509 -in "$out/$name.pem" -noout -fingerprint -sha1 | sed 's/.*=//; s/://g')
    sha256=$(openssl x509 -in "$out/$name.pem" -noout -fingerprint -sha256 | sed 's/.*=//; s/://g')
    echo "$name $sha1 $sha256" >>"$out/thumbprints.txt"
done
