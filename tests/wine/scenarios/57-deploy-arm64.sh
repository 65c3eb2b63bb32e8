# Scenario group, sourced by run-wine-suite.sh after 50-deploy.sh, whose helpers it uses:
# Deploy.cmd from the deployment zip on ARM64 Windows, in the ARM64 Wine (winarm64 only). Its
# cmd.exe is native ARM64 code, as every program there is.

# 25. From a native ARM64 shell, Deploy.cmd runs the arm64 programs (their log file appears in
#     arm64\ and nowhere else), installs the driver of the INF's ARM64 models on a present device
#     and verifies: exit 0.
scenario_deploy_arm64() {
    unpack_bundle || return
    bundle_ini LOGFILE=1 LEVEL=1
    local device inf
    device=$(add_device --flags 0 "$ID_LOWER") || return
    inf=$(fresh_inf arm64.inf)
    deploy 64 arm64 "$ID" "$(windows_path "$inf")"
    deploy_exit_is arm64 0
    deploy_stdout_has arm64 'result: verified'
    [[ $(<"$dir/arm64.arch") == 'ARM64 ' ]] || failure "arm64: shell $(<"$dir/arm64.arch")"
    [[ -n $(bundle_logs arm64) ]] || failure "no log file in arm64"
    [[ -z $(bundle_logs x64)$(bundle_logs x86) ]] || failure "an x86 or x64 program ran"
    [[ $(driver_of "$device") != - ]] || failure "no driver installed on $device"
}

scenario 25 'Deploy.cmd on ARM64: the arm64 programs install and verify' scenario_deploy_arm64 winarm64
