# Scenario group, sourced by run-wine-suite.sh (helpers in wine-lib.sh): what a user who can write
# to the programs' folder plants there to take over an elevated run, and that none of it works.

# The planted DLLs that were loaded, anywhere under $dir (each leaves NAME.dll.loaded beside
# itself when a process loads it).
loaded_markers() { find "$dir" -name '*.dll.loaded' -printf '%P '; }

# 18. newdev.dll and cfgmgr32.dll planted beside every program of the build (Installer.exe,
#     InstallerCheck.exe, InstallerRemove.exe, TraceLogDecode.exe, InstallerDeploy.exe), run with
#     native DLLs preferred for both (as Windows treats DLLs outside the KnownDLLs), and hard
#     links at the names of the log files the run would write, leading to a file of someone
#     else's, then symbolic links there (to that file, then to names where nothing is): no
#     planted DLL runs, the linked file is unchanged, nothing is made where a link leads, and
#     each program still does its job. The absent device is marked through the suite's cfgmgr32.dll, which only the system
#     folder holds; the log is written once the name is free.
scenario_planted_files() {
    local planted=$build/$arch/wine-tests/planted
    cp "$planted/newdev.dll" "$planted/cfgmgr32.dll" "$build/$arch"/{InstallerCheck,InstallerRemove}.exe \
        "$build/$arch"/{TraceLogDecode,InstallerDeploy}.exe "$prog/"
    local overrides="$base_overrides;newdev,cfgmgr32=n,b"
    # The markers work: a planted DLL loaded by its full path leaves one.
    mkdir -p "$dir/control"
    cp "$planted/newdev.dll" "$dir/control/"
    WINEDLLOVERRIDES=$overrides helper load "$(windows_path "$dir/control/newdev.dll")" ||
        failure "WineDeviceHelper load failed"
    [[ -f $dir/control/newdev.dll.loaded ]] || failure "the planted DLL leaves no marker"
    rm -rf "$dir/control"

    write_ini LOGFILE=1 VIEW=1 LEVEL=1
    local present absent inf win zone=XST-5:30 minute target
    # Lower case: Wine's case-sensitive update installs on it; upper case: passed by.
    present=$(add_device --flags 0 "$ID_LOWER") || return
    absent=$(add_device --flags 0x00000004 "$ID") || return
    inf=$(fresh_inf planted.inf)
    win=$(windows_path "$inf")
    target=$dir/someone-elses.txt
    printf 'not a log\r\n' >"$target"
    for minute in 0 1 2; do
        ln "$target" "$prog/$(TZ=$zone date -d "+$minute min" +%m%d%H%M).log"
    done
    TZ=$zone INSTALLER_TEST_ABSENT="$absent" WINEDLLOVERRIDES=$overrides \
        run planted "$ID" "$win"
    in_order planted "FOUND!!! HwID = $ID_LOWER" 'UpdateDriver SUCCEED. ' '===> ENTER Reinstall' \
        'uRet = d' 'pSetbuf = 4' '*pSetbuf = 24'
    [[ $(driver_of "$present") != - ]] || failure "no driver installed on $present"
    expect_flags "$absent" 0x00000024
    [[ $(cat "$target") == $'not a log\r' ]] || failure "the linked file changed"
    [[ $(stat -c %h "$target") == 4 ]] || failure "the links at the log names were touched"

    # Symbolic links at the names, to that file and to names where nothing is: under Wine the
    # handle opened with FILE_FLAG_OPEN_REPARSE_POINT is what the link leads to, and only the
    # name's attributes tell it is a link.
    local kind
    for kind in linked dangling; do
        rm -f "$prog"/*.log
        for minute in 0 1 2; do
            ln -s "$([[ $kind == linked ]] && echo "$target" || echo "$dir/made-$minute.txt")" \
                "$prog/$(TZ=$zone date -d "+$minute min" +%m%d%H%M).log"
        done
        TZ=$zone INSTALLER_TEST_ABSENT="$absent" WINEDLLOVERRIDES=$overrides \
            run "symlink-$kind" "$ID" "$win"
        in_order "symlink-$kind" "FOUND!!! HwID = $ID_LOWER"
        [[ $(find "$prog" -maxdepth 1 -name '*.log' -type l | wc -l) == 3 ]] ||
            failure "$kind symbolic links at the log names were touched"
    done
    [[ $(cat "$target") == $'not a log\r' ]] || failure "the file a symbolic link led to changed"
    [[ -z $(find "$dir" -maxdepth 1 -name 'made-*.txt') ]] ||
        failure "a dangling symbolic link at a log name was followed"

    # The names are free again: the next run writes its log, which the decoder reads.
    rm "$prog"/*.log
    TZ=$zone INSTALLER_TEST_ABSENT="$absent" WINEDLLOVERRIDES=$overrides run again "$ID" "$win"
    local logs=("$prog"/*.log)
    [[ -f ${logs[0]} ]] || failure "no log file once the name was free"
    WINEDEBUG=-all WINEDLLOVERRIDES=$overrides timeout -k 5 120 \
        wine "$prog/TraceLogDecode.exe" "$(windows_path "${logs[0]}")" >"$dir/decoded.txt" 2>&1
    grep -Fq " : csHwID =$ID" "$dir/decoded.txt" || failure "TraceLogDecode.exe: no records"

    # InstallerDeploy.exe deploys from the programs' folder as from a package's (its parent is
    # the package; x64\, x86\ and arm64\ lead to the folder): the pre-flight, Installer.exe, the
    # verify.
    ln -s program "$dir/x64"
    ln -s program "$dir/x86"
    ln -s program "$dir/arm64"
    (cd "$dir" && INSTALLER_TEST_ABSENT="$absent" WINEDLLOVERRIDES=$overrides WINEDEBUG=-all \
        timeout -k 5 120 wine "$prog/InstallerDeploy.exe" /log "$(windows_path "$dir/deploy.log")" \
        "$ID" "$win") >"$dir/program.out" 2>&1 || failure "InstallerDeploy.exe: $(tail -3 "$dir/program.out")"
    grep -Fxq $'result: 0 (done and verified)\r' "$dir/deploy.log" ||
        failure "no deployment in the deployment log"
    # Then a removal that changes nothing.
    (cd "$dir" && INSTALLER_TEST_ABSENT="$absent" WINEDLLOVERRIDES=$overrides WINEDEBUG=-all \
        timeout -k 5 120 wine "$prog/InstallerRemove.exe" --dry-run "$ID" "$win") \
        >"$dir/remove.out" 2>&1 || failure "InstallerRemove.exe --dry-run: $(tail -3 "$dir/remove.out")"

    local markers
    markers=$(loaded_markers)
    [[ -z $markers ]] || failure "planted DLLs ran: $markers"
}

scenario 18 'planted DLLs and log links beside the programs' scenario_planted_files
