# Scenario group, sourced by run-wine-suite.sh (helpers in wine-lib.sh): the signature check's
# Windows layer (CatalogTrust-win32.cpp) asked by WineTrustHelper about the packages of the
# signature cases, in a prefix that trusts the suite's test root and publisher.

# 48. What Wine's crypt32 and wintrust answer for each of the 14 cases, compared whole with
#     signature-layer-answers.txt: the signer, its digest, whether the signature verifies (also
#     for the catalog whose content changed: only its messageDigest no longer matches), the
#     certificate's name and usages, the chain's problems (untrusted root 0x20, expired 0x1),
#     the Authenticode and Microsoft-root policies (the look-alike Microsoft signer fails the
#     latter), TrustedPublisher, the RFC 3161 timestamp's path (its signer, content, imprint,
#     time and the time stamping authority's chain at that time), and WinVerifyTrust per member
#     (which passes what Windows refuses). The machine's certificate stores are the same before
#     and after. A certificate with the trusted publisher's issuer and serial number but another
#     key is not taken for it.
scenario_signature_layer() {
    signing_cases || return
    local keys=('HKLM\Software\Microsoft\SystemCertificates'
        'HKCU\Software\Microsoft\SystemCertificates') i when
    for when in before after; do
        for i in "${!keys[@]}"; do
            wine_quiet reg export "${keys[i]}" "$(windows_path "$dir/stores$i.$when.reg")" /y \
                >/dev/null 2>&1 || failure "reg export ${keys[i]} failed"
        done
        [[ $when == after ]] && break
        bash "$here/probe-trust.sh" "$build/$arch" "$signing" >"$dir/answers.txt" 2>"$dir/probe.err" ||
            failure "probe-trust.sh failed: $(head -3 "$dir/probe.err")"
    done
    diff "$here/signature-layer-answers.txt" "$dir/answers.txt" >"$dir/answers.diff" ||
        failure "the layer's answers differ: $(head -8 "$dir/answers.diff" | paste -sd'|')"
    for i in "${!keys[@]}"; do
        cmp -s "$dir/stores$i.before.reg" "$dir/stores$i.after.reg" ||
            failure "${keys[i]} changed while the layer was asked"
    done

    # Another key under the trusted publisher's issuer name and serial number.
    local look=$dir/look-alike
    mkdir -p "$look"
    if openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 \
        -subj '/O=Example Devices/CN=Example Test Root' -keyout "$look/root.key" \
        -out "$look/root.pem" >/dev/null 2>&1 &&
        openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes \
            -subj "$(openssl x509 -in "$pki/publisher.pem" -noout -subject -nameopt compat |
                sed 's/^subject=//')" -keyout "$look/publisher.key" -out "$look/publisher.csr" \
            >/dev/null 2>&1 &&
        openssl x509 -req -in "$look/publisher.csr" -CA "$look/root.pem" -CAkey "$look/root.key" \
            -set_serial "0x$(openssl x509 -in "$pki/publisher.pem" -noout -serial | sed 's/^serial=//')" \
            -days 2 -outform der -out "$look/publisher.cer" >/dev/null 2>&1; then
        local answer
        answer=$(trust_helper has TrustedPublisher "$(windows_path "$look/publisher.cer")" | tr -d '\r')
        [[ $answer == absent ]] || failure "a look-alike of the publisher is $answer in TrustedPublisher"
        answer=$(trust_helper has TrustedPublisher "$(windows_path "$pki/publisher.cer")" | tr -d '\r')
        [[ $answer == present ]] || failure "the publisher is $answer in TrustedPublisher"
    else
        failure "openssl could not make the look-alike publisher"
    fi
}

scenario 48 "the signature layer's answers for the signature cases" scenario_signature_layer

# 49. plan over the 14 signature cases for a present device: each case's exit code as cases.txt
#     gives it and its standard error compared whole with signature-plan-reasons.txt, thumbprints
#     and hashes written <hex> (the keys are the build tree's): the file changed or missing
#     named, the untrusted root, the expired signer, the changed catalog, the unsigned catalog,
#     the untrusted publisher and the look-alike Microsoft signer each with its reason; the
#     expired signer whose timestamp vouches for its signature only with the publisher's. The
#     good package's report names its signer, its root and a trusted publisher, the timestamped
#     one's its timestamp. With the expired signer also in TrustedPublisher, the timestamped
#     package plans (0) and the one without a timestamp still does not.
scenario_signature_plan() {
    cp "$build/$arch/InstallerCheck.exe" "$prog/"
    signing_cases || return
    add_device --flags 0 "$ID" >/dev/null || return
    local case code _
    while read -r case code _; do
        check "$case" plan "$ID" "$(windows_path "$signing/$case/sample.inf")"
        expect_code "$case" "$code"
        printf '== %s %s\n' "$case" "$code"
        sed -E 's/[0-9A-F]{40,64}/<hex>/g' "$dir/$case.err"
        printf 'exit %s\n' "$(cat "$dir/$case.code")"
    done <"$signing/cases.txt" >"$dir/reasons.txt"
    diff "$here/signature-plan-reasons.txt" "$dir/reasons.txt" >"$dir/reasons.diff" ||
        failure "plan's reasons differ: $(head -8 "$dir/reasons.diff" | paste -sd'|')"
    says good-sha256 "$(publisher_line)"
    local expired stamped
    expired=$(thumbprint expired-signer)
    stamped="  signature: signer \"Example Devices Expired Signer\" (SHA-1 $expired), root \"Example Test Root\", timestamped 2020-06-01 00:00:00 UTC"
    says expired-signer-timestamped "$stamped, publisher not trusted"

    local certificate
    certificate=$(windows_path "$pki/expired-signer.cer")
    trust_helper add TrustedPublisher "$certificate" ||
        { failure "WineTrustHelper add TrustedPublisher failed"; return; }
    check trusted-stamped plan "$ID" "$(windows_path "$signing/expired-signer-timestamped/sample.inf")"
    check trusted-expired plan "$ID" "$(windows_path "$signing/expired-signer/sample.inf")"
    trust_helper remove TrustedPublisher "$certificate" ||
        failure "WineTrustHelper remove TrustedPublisher failed"
    [[ $(trust_helper has TrustedPublisher "$certificate" | tr -d '\r') == absent ]] ||
        failure "expired-signer stayed in TrustedPublisher"
    expect_code trusted-stamped 0
    [[ ! -s $dir/trusted-stamped.err ]] ||
        failure "trusted-stamped: wrote to stderr: $(cat "$dir/trusted-stamped.err")"
    says trusted-stamped "$stamped, publisher trusted"
    expect_code trusted-expired 1
    [[ $(cat "$dir/trusted-expired.err") == "InstallerCheck: the catalog sample.cat (CatalogFile)'s signer Example Devices Expired Signer has a chain to Example Test Root that holds a certificate that is expired or not yet valid" ]] ||
        failure "trusted-expired: stderr $(cat "$dir/trusted-expired.err")"
}

scenario 49 "plan over the signature cases" scenario_signature_plan
