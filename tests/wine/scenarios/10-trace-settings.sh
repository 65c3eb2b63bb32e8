# Scenario group, sourced by run-wine-suite.sh (helpers in wine-lib.sh): the trace's settings,
# i.e. silence by default, the argument records and the registry overrides.

# 1. Without settings the program is silent: no records, no file beside it, nothing on the
#    console, exit code 0; with or without its arguments.
scenario_silence() {
    local inf
    inf=$(fresh_inf silence.inf)
    run full "$NO_SUCH_ID" "$(windows_path "$inf")"
    run bare
    no_records full
    no_records bare
    local extra
    extra=$(find "$prog" -mindepth 1 ! -name Installer.exe -printf '%f ')
    [[ -z $extra ]] || failure "files created beside the program: $extra"
}

# 2. Only the three argument records and the complaint with one or three arguments; nothing is
#    staged.
scenario_arguments() {
    write_ini VIEW=1 LEVEL=1
    local inf before
    inf=$(windows_path "$(fresh_inf arguments.inf)")
    before=$(staged_infs)
    run one "$ID"
    run three "$ID" "$inf" extra
    only one 'argc =2' "csHwID =$ID" 'pInfFullName =(null)' '_tmain==> Parameter not correct!'
    only three 'argc =4' "csHwID =$ID" "pInfFullName =$inf" '_tmain==> Parameter not correct!'
    [[ $(staged_infs) == "$before" ]] || failure "an INF was staged"
}

# 3. HKCU\XTrace values override the settings file one by one; only four-byte values count.
scenario_overrides() {
    local complaint='_tmain==> Parameter not correct!'
    write_ini VIEW=1
    run file-only "$ID"
    no_records file-only
    reg_set LEVEL 1
    run level1 "$ID"
    has level1 'argc =2'
    has level1 "$complaint"
    reg_set LEVEL 2
    run level2 "$ID"
    only level2 "$complaint"

    write_ini LOGFILE=1 VIEW=1 LEVEL=1
    reg_clear
    reg_set LOGFILE 0
    run no-logfile "$ID"
    has no-logfile 'argc =2'
    no_log_file no-logfile
    # Two bytes of zeros: not a four-byte value, ignored; the file's VIEW=1 stands.
    reg_set VIEW 0000 REG_BINARY
    run two-bytes "$ID"
    has two-bytes 'argc =2'

    rm "$prog/TqDbgCfg.ini"
    reg_clear
    reg_set VIEW 1
    reg_set LEVEL 1
    run registry-only "$ID"
    only registry-only 'argc =2' "csHwID =$ID" 'pInfFullName =(null)' "$complaint"
}

scenario 1 'default silence' scenario_silence
scenario 2 'argument count' scenario_arguments
scenario 3 'registry overrides' scenario_overrides
