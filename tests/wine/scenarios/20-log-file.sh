# Scenario group, sourced by run-wine-suite.sh (helpers in wine-lib.sh): the log file and what
# TraceLogDecode makes of it.

# 4. The log file: named after the local start time, the channel's records shifted, CR LF line
#    ends; TraceLogDecode gives the channel's text back. A second run from another working folder
#    in the same minute appends to the same file.
scenario_log_file() {
    write_ini LOGFILE=1 VIEW=1 LEVEL=1
    local missing_inf
    missing_inf=$(windows_path "$dir/missing.inf")
    mkdir -p "$dir/cwd1" "$dir/cwd2"
    # Both runs in one minute; a zone far from UTC (the C runtime reads TZ) shows that the
    # name is local time.
    local second zone=XST-5:30
    second=$(date +%S)
    if ((10#$second > 45)); then sleep $((61 - 10#$second)); fi
    local before after
    before=$(TZ=$zone date +%m%d%H%M)
    TZ=$zone run_cwd=$dir/cwd1 run first "$NO_SUCH_ID" "$missing_inf"
    after=$(TZ=$zone date +%m%d%H%M)
    local logs=("$prog"/*.log)
    if ((${#logs[@]} != 1)) || [[ ! -f ${logs[0]} ]]; then
        failure "expected one log file, found: ${logs[*]##*/}"
        return
    fi
    local log=${logs[0]} name=${logs[0]##*/}
    [[ $name == "$before.log" || $name == "$after.log" ]] ||
        failure "log file $name, expected $before.log or $after.log"
    has first 'OemCopylINF Error = 2'
    cmp -s "$log" <(channel logbytes "$dir/first.err") ||
        failure "log bytes differ from the shifted channel records"
    check_decoder "$log" first

    TZ=$zone run_cwd=$dir/cwd2 run second "$NO_SUCH_ID" "$missing_inf"
    logs=("$prog"/*.log)
    ((${#logs[@]} == 1)) || failure "second run made another file: ${logs[*]##*/}"
    cmp -s "$log" <(channel logbytes "$dir/first.err" "$dir/second.err") ||
        failure "second run did not append its records to $name"
    check_decoder "$log" first second
    [[ -z $(find "$dir/cwd1" "$dir/cwd2" -mindepth 1) ]] ||
        failure "files created in a working folder"
}

check_decoder() {
    local log=$1
    shift
    local runs=()
    local name
    for name in "$@"; do runs+=("$dir/$name.err"); done
    if [[ ! -x $decoder ]]; then
        failure "$decoder missing (host build)"
        return
    fi
    cmp -s <("$decoder" "$log") <(channel text "${runs[@]}") ||
        failure "TraceLogDecode $log differs from the channel text"
    cmp -s <("$decoder" <"$log") <(channel text "${runs[@]}") ||
        failure "TraceLogDecode < $log differs from the channel text"
}

scenario 4 'log file' scenario_log_file
