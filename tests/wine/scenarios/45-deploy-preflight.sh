# Scenario group, sourced by run-wine-suite.sh (helpers in wine-lib.sh; `package` and
# `models_for` from 40-installer-check.sh, `unpack_bundle` and `deploy` from 50-deploy.sh, all
# defined before any scenario runs): Deploy.cmd and the package pre-flight, win64 only (the
# deployment zip holds both builds: the 32-bit shell runs the x86 deploy program).

# 41. Deploy.cmd refuses before any change: each bad package of scenario 40's kinds is exit
#     1603, the pre-flight's reason on standard error, nothing staged and no flag set; the
#     complete package still deploys.
scenario_deploy_preflight() {
    unpack_bundle || return
    local absent cat='CatalogFile = pkg.cat\r\n' both inf before row name version decorations
    local files reason models
    add_device --flags 0 "$ID_LOWER" >/dev/null || return
    absent=$(add_device --flags 0 "$ID_LOWER") || return
    both=$(models_for NTx86 NTamd64)
    local -a cases=(
        "x86only|$cat|NTx86|pkg.cat pkg.sys|on NTamd64"
        "otherid|$cat|NTamd64|pkg.cat pkg.sys|on NTamd64"
        "nocatalog||NTx86, NTamd64|pkg.cat pkg.sys|the INF names no catalog for NTamd64"
        "nocat|CatalogFile.NTamd64 = pkg64.cat\\r\\n$cat|NTx86, NTamd64|pkg.cat pkg.sys|the catalog pkg64.cat (CatalogFile.NTamd64) is not beside the INF"
        "nofile|$cat|NTx86, NTamd64|pkg.cat|the file pkg.sys that section [PkgCopy] copies is not in the package"
    )
    before=$(staged_infs)
    export INSTALLER_TEST_ABSENT=$absent
    local saved=$WINEDLLOVERRIDES
    export WINEDLLOVERRIDES="$base_overrides;cfgmgr32=n,b"
    for row in "${cases[@]}"; do
        IFS='|' read -r name version decorations files reason <<<"$row"
        case $name in
        x86only) models=$(models_for NTx86) ;;
        otherid) models=$(MODEL_ID='usb\vid_9999&pid_0001' models_for NTamd64) ;;
        *) models=$both ;;
        esac
        # shellcheck disable=SC2086
        inf=$(package "deploy-$name" "$version" "$decorations" "$models" $files)
        deploy 64 "$name" "$ID" "$inf"
        deploy_exit_is "$name" 1603
        deploy_stderr_has "$name" "$reason"
        [[ $(staged_infs) == "$before" ]] || failure "$name: an INF was staged"
        expect_flags "$absent" 0x00000000
    done
    mkdir -p "$dir/deploy-broken"
    printf '[Version]\r\nSignature = "$Windows NT$"\r\n\r\n[Manufacturer\r\n' >"$dir/deploy-broken/pkg.inf"
    deploy 64 broken "$ID" "$(windows_path "$dir/deploy-broken/pkg.inf")"
    deploy_exit_is broken 1603
    deploy_stderr_has broken 'the INF does not open as a Windows NT INF'
    [[ $(staged_infs) == "$before" ]] || failure "broken: an INF was staged"
    expect_flags "$absent" 0x00000000

    inf=$(package deploy-complete "$cat" 'NTx86, NTamd64' "$both" pkg.cat pkg.sys)
    deploy 64 complete "$ID" "$inf"
    deploy_exit_is complete 0
    expect_flags "$absent" 0x00000020
    export WINEDLLOVERRIDES=$saved
    unset INSTALLER_TEST_ABSENT
}

# The plan reasons signature-plan-reasons.txt gives a case, thumbprints and hashes as <hex>.
case_reasons() {
    awk -v head="== $1 " 'index($0, head) == 1 { on = 1; next } /^exit / { on = 0 } on' \
        "$here/signature-plan-reasons.txt"
}

# The machine's certificate stores, exported: stores NAME.
stores() {
    wine_quiet reg export 'HKLM\Software\Microsoft\SystemCertificates' \
        "$(windows_path "$dir/$1.stores.reg")" /y >/dev/null 2>&1 || failure "reg export of the stores failed"
}

same_stores() {
    cmp -s "$dir/$1.stores.reg" "$dir/$2.stores.reg" || failure "$2: the machine's certificate stores changed"
}

# Deploy.cmd's run NAME deployed the INF (0, verified); then it is removed again:
# deployed NAME INF.
deployed() {
    deploy_exit_is "$1" 0
    deploy_stdout_has "$1" 'result: verified'
    deploy 64 "$1-removed" /uninstall /force "$ID" "$2"
    deploy_exit_is "$1-removed" 0
}

# Deploy.cmd's run NAME was refused (1603) and staged nothing since $staged_before.
refused() {
    deploy_exit_is "$1" 1603
    [[ $(staged_infs) == "$staged_before" ]] || failure "$1: an INF was staged"
}

# 46. Deploy.cmd over the signature cases with no device (the INF is staged): each case gives
#     the result cases.txt says: 0 and verified for the good ones; 1603 for every other, with
#     plan's reasons on standard error and nothing staged. /trustpublisher: the signer of the
#     untrusted root named by its own thumbprint, and the untrusted publisher's package named
#     with another certificate's thumbprint, are 1603 with the machine's certificate stores
#     unchanged and nothing staged; with its own thumbprint it deploys (0) from a 64-bit shell
#     (the x64 deploy program, SHA-1) and from a 32-bit one (the x86 deploy program under
#     WOW64, SHA-256 in lower case with spaces): its pre-flight finds the publisher trusted, and
#     exactly that certificate is in LocalMachine TrustedPublisher afterwards. Every good deployment is removed again
#     (/uninstall /force), so that each case is staged with its own catalog.
scenario_deploy_signature_cases() {
    unpack_bundle || return
    signing_cases || return
    local case result inf reason
    while read -r case _ result _; do
        inf=$(windows_path "$signing/$case/sample.inf")
        staged_before=$(staged_infs)
        deploy 64 "$case" "$ID" "$inf"
        if [[ $result == 0 ]]; then
            deployed "$case" "$inf"
            continue
        fi
        refused "$case"
        [[ $result == 1603 ]] || failure "$case: cases.txt says $result"
        [[ -n $(case_reasons "$case") ]] || failure "$case: no reasons in signature-plan-reasons.txt"
        while IFS= read -r reason; do
            sed -E 's/[0-9A-F]{40,64}/<hex>/g' "$dir/$case.err" | tr -d '\r' | grep -Fxq -- "$reason" ||
                failure "$case: stderr lacks \"$reason\": $(head -3 "$dir/$case.err")"
        done < <(case_reasons "$case")
    done <"$signing/cases.txt"

    # /trustpublisher refused: an untrusted chain, and another certificate's thumbprint.
    local second sha1 sha256 refusal='; no publisher was trusted, nothing was changed.'
    second=$(windows_path "$pki/second-publisher.cer")
    sha1=$(thumbprint second-publisher)
    sha256=$(thumbprint second-publisher sha256)
    inf=$(windows_path "$signing/untrusted-publisher/sample.inf")
    staged_before=$(staged_infs)
    stores before
    deploy 64 untrusted-chain /trustpublisher "$(thumbprint untrusted-signer)" "$ID" \
        "$(windows_path "$signing/untrusted-root/sample.inf")"
    refused untrusted-chain
    deploy_stderr_has untrusted-chain "Deploy: /trustpublisher: the catalog's signer \"Example Untrusted Signer\" (SHA-1 $(thumbprint untrusted-signer)) does not chain to a trusted root$refusal"
    stores untrusted-chain
    same_stores before untrusted-chain
    deploy 64 wrong-thumbprint /trustpublisher "$(thumbprint publisher)" "$ID" "$inf"
    refused wrong-thumbprint
    deploy_stderr_has wrong-thumbprint "Deploy: /trustpublisher: the catalog is signed by \"Example Devices Second Publisher\" (SHA-1 $sha1), not by the certificate $(thumbprint publisher)$refusal"
    stores wrong-thumbprint
    same_stores before wrong-thumbprint

    # Trusted with its own thumbprint: only that certificate is added (the stores are as before
    # once it is removed again).
    local shell thumbprint answer
    for shell in 64 32; do
        thumbprint=$sha1
        [[ $shell == 32 ]] && thumbprint=$(sed -E 's/.{8}/& /g; s/ $//' <<<"${sha256,,}")
        deploy "$shell" "trusted$shell" /trustpublisher "$thumbprint" "$ID" "$inf"
        answer=$(trust_helper has TrustedPublisher "$second" | tr -d '\r')
        trust_helper remove TrustedPublisher "$second" ||
            failure "WineTrustHelper remove TrustedPublisher failed"
        [[ $answer == present ]] || failure "trusted$shell: second-publisher is $answer in TrustedPublisher"
        deploy_stdout_has "trusted$shell" "  signature: signer \"Example Devices Second Publisher\" (SHA-1 $sha1), root \"Example Test Root\", publisher trusted"
        stores "trusted$shell"
        same_stores before "trusted$shell"
        deployed "trusted$shell" "$inf"
    done
}

scenario 41 'Deploy.cmd: the pre-flight refuses a bad package (1603), changing nothing' \
    scenario_deploy_preflight win64
scenario 46 'Deploy.cmd: the signature cases, and /trustpublisher' scenario_deploy_signature_cases win64
