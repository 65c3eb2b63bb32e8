# Scenario group, sourced by run-wine-suite.sh after 50-deploy.sh, whose helpers it uses
# (unpack_bundle, bundle_ini, deploy, deploy_exit_is, deploy_stdout_has, deploy_stderr_has): the
# rest of a fleet app's life with Deploy.cmd, uninstall, the restart code and the deployment log.
# Registered for win64 only, like the other Deploy.cmd scenarios.

intune_logs=$WINEPREFIX/drive_c/ProgramData/Microsoft/IntuneManagementExtension/Logs
# Wine names the folder in lower case; Windows matches names ignoring case.
our_logs=$WINEPREFIX/drive_c/windows/logs/Installer

# Runs the unpacked bundle's x64 InstallerCheck.exe verify --detect: detect NAME ID INF.
detect() {
    local name=$1
    shift
    (cd "$dir" && WINEDEBUG=-all timeout -k 5 120 wine "$bundle/x64/InstallerCheck.exe" verify \
        --detect "$@") >"$dir/$name.out" 2>&1 || failure "$name: exit code $?"
}

# The records of a deployment log, one line each: what follows "==== <date> <time> <zone> ".
records() { sed -n 's/^==== [^ ]* [^ ]* [^ ]* //p' "$1" | tr -d '\r'; }

# 19. Install with Deploy.cmd /keep, then /uninstall. Without /force Wine's SetupUninstallOEMInfW
#     reports success and deletes nothing: InstallerRemove's own check after the removal catches
#     it, so the run is 1603 (not done), naming the copy. With /force the staged copy is gone from
#     C:\windows\INF, the kept folder with it, detection prints nothing, and the run is 0. /force
#     without /uninstall is a wrong command line.
scenario_deploy_uninstall() {
    unpack_bundle || return
    local keep="$dir/kept (files)" inf win before copy
    inf=$(fresh_inf uninstall.inf)
    win=$(windows_path "$inf")
    before=$(staged_infs)
    deploy 64 install /keep "$(windows_path "$keep")" "$NO_SUCH_ID" "$win"
    deploy_exit_is install 0
    copy=$(comm -13 <(printf '%s\n' "$before") <(staged_infs) | grep .)
    [[ -n $copy ]] || { failure "install: nothing staged"; return; }

    deploy 64 plain /uninstall "$NO_SUCH_ID" "$win"
    deploy_exit_is plain 1603
    deploy_stdout_has plain "copy C:\\windows\\INF\\$copy: FAILED, still staged: SetupUninstallOEMInfW reported success but left it in place"
    deploy_stdout_has plain 'result: not removed'
    [[ -f $inf_dir/$copy && -d $keep ]] || failure "plain: the copy or the kept folder went"

    deploy 32 forced /force /keep "$(windows_path "$keep")" /uninstall "$NO_SUCH_ID" "$win"
    deploy_exit_is forced 0
    deploy_stdout_has forced 'result: removed'
    [[ ! -e $inf_dir/$copy ]] || failure "forced: $copy is still staged"
    [[ ! -e $keep ]] || failure "forced: the kept folder is still there"
    detect gone "$NO_SUCH_ID" "$win"
    [[ ! -s $dir/gone.out ]] || failure "detection after the uninstall: $(head -c 200 "$dir/gone.out")"

    deploy 64 force-install /force "$NO_SUCH_ID" "$win"
    deploy_exit_is force-install 2
    deploy_stderr_has force-install 'Usage: Deploy.cmd [/uninstall [/force]] [/keep <folder>] [/log <file>] <hardware ID> <INF path>'
}

# 20. A present device whose node reports that it needs a restart (the test cfgmgr32.dll, for
#     the instance in INSTALLER_TEST_RESTART): the install is done but needs a restart, so
#     Deploy.cmd exits 3010, and so does the forced uninstall after it; detection still counts
#     the installed state as installed.
scenario_deploy_restart() {
    unpack_bundle || return
    local device inf win
    # Lower case: Wine's case-sensitive update installs on it.
    device=$(add_device --flags 0 "$ID_LOWER") || return
    inf=$(fresh_inf restart.inf)
    win=$(windows_path "$inf")
    export INSTALLER_TEST_RESTART=$device
    local saved=$WINEDLLOVERRIDES
    export WINEDLLOVERRIDES="$base_overrides;cfgmgr32=n,b"
    deploy 64 install "$ID" "$win"
    deploy_exit_is install 3010
    deploy_stdout_has install 'result: verified, restart needed'
    detect detect "$ID" "$win"
    [[ $(wc -l <"$dir/detect.out") == 1 ]] || failure "detect: $(head -c 200 "$dir/detect.out")"
    deploy 64 uninstall /uninstall /force "$ID" "$win"
    deploy_exit_is uninstall 3010
    export WINEDLLOVERRIDES=$saved
    unset INSTALLER_TEST_RESTART
}

# 21. The deployment log: in a prefix with Intune's log folder every run, a wrong command line
#     included, appends its record there (the programs' reports and exit codes, the decoded trace,
#     the final code); without that folder the log goes to C:\windows\Logs\Installer; a log of
#     1 MiB is renamed to the one .old file and starts again.
scenario_deploy_log() {
    unpack_bundle || return
    bundle_ini LOGFILE=1 LEVEL=1
    rm -rf "$our_logs"
    mkdir -p "$intune_logs"
    local log=$intune_logs/InstallerDeploy.log inf win
    rm -f "$log"
    inf=$(fresh_inf logged.inf)
    win=$(windows_path "$inf")
    deploy 64 first "$NO_SUCH_ID" "$win"
    deploy_exit_is first 0
    deploy 64 wrong "$NO_SUCH_ID"
    deploy_exit_is wrong 2
    [[ $(records "$log") == 'Deploy.cmd install on '*$'\nDeploy.cmd install on '* ]] ||
        failure "Intune log records: $(records "$log" | paste -sd'|')"
    local text
    text=$(tr -d '\r' <"$log")
    local line
    for line in "command line: $NO_SUCH_ID $win" 'architecture: x64' 'result: verified' \
        'exit code: 0' "          Entry.cpp(0023) : csHwID =$NO_SUCH_ID" \
        'result: 0 (done and verified)' "command line: $NO_SUCH_ID" \
        'Usage: Deploy.cmd [/uninstall [/force]] [/keep <folder>] [/log <file>] <hardware ID> <INF path>' \
        'result: 2 (wrong command line)'; do
        grep -Fxq -- "$line" <<<"$text" || failure "Intune log lacks \"$line\""
    done
    [[ ! -e $our_logs ]] || failure "our log folder was used beside Intune's"
    rm -rf "$WINEPREFIX/drive_c/ProgramData/Microsoft/IntuneManagementExtension"

    deploy 64 second "$NO_SUCH_ID" "$win"
    deploy_exit_is second 0
    log=$our_logs/InstallerDeploy.log
    [[ $(records "$log" | wc -l) == 1 ]] || failure "our log: $(records "$log" | paste -sd'|')"
    head -c 1048576 /dev/zero | tr '\0' '.' >>"$log"
    local full
    full=$(stat -c %s "$log")
    deploy 64 third "$NO_SUCH_ID" "$win"
    deploy_exit_is third 0
    [[ $(stat -c %s "$our_logs/InstallerDeploy.old" 2>/dev/null) == "$full" ]] ||
        failure "the full log was not renamed to InstallerDeploy.old"
    [[ $(records "$log" | wc -l) == 1 ]] || failure "the new log: $(records "$log" | paste -sd'|')"
}

scenario 19 'Deploy.cmd: uninstall, with and without /force' scenario_deploy_uninstall win64
scenario 20 'Deploy.cmd: a device that needs a restart (3010)' scenario_deploy_restart win64
scenario 21 'Deploy.cmd: the deployment log, its folder and its rollover' scenario_deploy_log win64
