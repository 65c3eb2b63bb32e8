# Scenario group, sourced by run-wine-suite.sh (helpers in wine-lib.sh; `package` and
# `models_for` from 40-installer-check.sh, `unpack_bundle` and `deploy` from 50-deploy.sh, all
# defined before any scenario runs): Deploy.cmd and the package pre-flight, win64 only (the
# deployment zip holds both builds).

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

scenario 41 'Deploy.cmd: the pre-flight refuses a bad package (1603), changing nothing' \
    scenario_deploy_preflight win64
