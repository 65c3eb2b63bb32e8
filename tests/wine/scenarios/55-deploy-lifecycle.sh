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

# 19. Install with Deploy.cmd /keep, then /uninstall /keep. Without /force Wine's
#     SetupUninstallOEMInfW reports success and deletes nothing: InstallerRemove's own check after
#     the removal catches it, so the run is 1603 (not done), naming the copy, and the kept folder
#     stays whole (the driver stays, so detection still finds it, and a retry can name the kept
#     INF). With /force, given the kept INF, the staged copy is gone from C:\windows\INF, the
#     kept folder with it, detection prints nothing, and the run is 0. /force without /uninstall
#     is a wrong command line.
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

    deploy 64 plain /uninstall /keep "$(windows_path "$keep")" "$NO_SUCH_ID" "$win"
    deploy_exit_is plain 1603
    deploy_stdout_has plain "copy C:\\windows\\INF\\$copy: FAILED, still staged: SetupUninstallOEMInfW reported success but left it in place"
    deploy_stdout_has plain 'result: not removed'
    [[ $(tr -d '\r' <"$dir/plain.err") == "Deploy: the removal is not done; \"$(windows_path "$keep")\" keeps the detection command's files." ]] ||
        failure "plain: stderr $(head -c 300 "$dir/plain.err")"
    [[ -f $inf_dir/$copy ]] || failure "plain: the copy went"
    local kept
    kept=$(find "$keep" -mindepth 1 -printf '%f\n' 2>/dev/null | sort | xargs)
    [[ $kept == 'InstallerCheck.exe suite-device.cat uninstall.inf' ]] || failure "plain: the kept folder holds '$kept'"
    detect still "$NO_SUCH_ID" "$(windows_path "$keep")\\uninstall.inf"
    [[ $(wc -l <"$dir/still.out") == 1 ]] || failure "detection after the failed uninstall: $(head -c 200 "$dir/still.out")"

    deploy 32 forced /force /keep "$(windows_path "$keep")" /uninstall "$NO_SUCH_ID" \
        "$(windows_path "$keep")\\uninstall.inf"
    deploy_exit_is forced 0
    deploy_stdout_has forced 'result: removed'
    [[ ! -e $inf_dir/$copy ]] || failure "forced: $copy is still staged"
    [[ ! -e $keep ]] || failure "forced: the kept folder is still there"
    detect gone "$NO_SUCH_ID" "$win"
    [[ ! -s $dir/gone.out ]] || failure "detection after the uninstall: $(head -c 200 "$dir/gone.out")"

    deploy 64 force-install /force "$NO_SUCH_ID" "$win"
    deploy_exit_is force-install 2
    deploy_stderr_has force-install 'Usage: Deploy.cmd [/uninstall [/force]] [/keep <folder>] [/log <file>] [/nocheck] [/trustpublisher <thumbprint>] <hardware ID> <INF path>'
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
        'Usage: Deploy.cmd [/uninstall [/force]] [/keep <folder>] [/log <file>] [/nocheck] [/trustpublisher <thumbprint>] <hardware ID> <INF path>' \
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

# The record of LOG whose command line ends with TAIL, CR dropped: from its "==== " line to the
# next.
record_of() {
    # Through the environment: awk -v would read the backslashes as escapes.
    tr -d '\r' <"$1" | TAIL=" $2" awk '
        BEGIN { tail = ENVIRON["TAIL"] }
        /^==== / { if (found) exit; text = "" }
        { text = text $0 "\n" }
        /^command line: / && substr($0, length($0) - length(tail) + 1) == tail { found = 1 }
        END { if (found) printf "%s", text }'
}

# A whole record of one install: its header first, then the pre-flight, Installer.exe and the
# verify, each with its exit code, and its own result last; no line of the other deployment.
record_is_whole() {
    local log=$1 win=$2 other=$3 text
    text=$(record_of "$log" "$NO_SUCH_ID $win")
    [[ -n $text ]] || { failure "no record for $win"; return; }
    [[ $(head -1 <<<"$text") == '==== '*' Deploy.cmd install on '* ]] ||
        failure "$win: record starts with $(head -1 <<<"$text")"
    [[ $(tail -1 <<<"$text") == 'result: 0 (done and verified)' ]] ||
        failure "$win: record ends with $(tail -1 <<<"$text")"
    [[ $(grep -c '^exit code: 0$' <<<"$text") == 3 ]] || failure "$win: not three programs' exit codes"
    ! grep -Fq -- "$other" <<<"$text" || failure "$win: the record holds the other deployment's lines"
}

# 23. Two Deploy.cmd runs at the same time, each with an INF of its own, write to one log: both
#     records are there, whole and apart, each with its own result.
scenario_deploy_concurrent() {
    unpack_bundle || return
    local log=$dir/logs/InstallerDeploy.log first second
    mkdir -p "$dir/logs"
    first=$(windows_path "$(fresh_inf first-together.inf)")
    second=$(windows_path "$(fresh_inf second-together.inf)")
    deploy_caller=one deploy 64 one /log "$(windows_path "$log")" "$NO_SUCH_ID" "$first" &
    local one=$!
    deploy_caller=two deploy 64 two /log "$(windows_path "$log")" "$NO_SUCH_ID" "$second" &
    wait "$one" $!
    deploy_exit_is one 0
    deploy_exit_is two 0
    [[ $(records "$log" | wc -l) == 2 ]] || failure "records: $(records "$log" | paste -sd'|')"
    record_is_whole "$log" "$first" second-together.inf
    record_is_whole "$log" "$second" first-together.inf
}

# 24. A log viewer holds the log open for reading with full sharing while Deploy.cmd runs: the
#     record is written all the same, and nothing is said about the log.
scenario_deploy_viewer() {
    unpack_bundle || return
    local log=$dir/viewed.log inf viewer
    printf 'earlier\r\n' >"$log"
    inf=$(windows_path "$(fresh_inf viewed.inf)")
    helper hold "$(windows_path "$log")" 120 >"$dir/hold.out" 2>&1 &
    viewer=$!
    local tries=0
    until grep -q held "$dir/hold.out" 2>/dev/null || ((++tries > 600)); do sleep 0.1; done
    deploy 64 viewed /log "$(windows_path "$log")" "$NO_SUCH_ID" "$inf"
    kill -0 "$viewer" 2>/dev/null || failure "the viewer had let go of the log"
    kill "$viewer" 2>/dev/null
    wait "$viewer" 2>/dev/null
    deploy_exit_is viewed 0
    ! grep -Fq 'deployment log' "$dir/viewed.err" || failure "viewed: $(grep -F 'deployment log' "$dir/viewed.err")"
    [[ $(head -1 "$log") == $'earlier\r' ]] || failure "the earlier record changed"
    record_is_whole "$log" "$inf" earlier
}

scenario 19 'Deploy.cmd: uninstall, with and without /force' scenario_deploy_uninstall win64
scenario 20 'Deploy.cmd: a device that needs a restart (3010)' scenario_deploy_restart win64
scenario 21 'Deploy.cmd: the deployment log, its folder and its rollover' scenario_deploy_log win64
scenario 23 'Deploy.cmd: two runs at the same time, two whole records' scenario_deploy_concurrent win64
scenario 24 'Deploy.cmd: the log held by a viewer' scenario_deploy_viewer win64
