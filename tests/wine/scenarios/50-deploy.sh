# Scenario group, sourced by run-wine-suite.sh (helpers in wine-lib.sh): Deploy.cmd from
# build/bundle/Installer-*-windows.zip, unpacked into a folder whose path has a space and
# parentheses, started by cmd.exe from another working folder, in the 64-bit prefix. Registered
# for win64 only: the zip holds both builds, the devices and the test cfgmgr32.dll are win64's.
#
# Each Deploy.cmd run goes through two batch files in $dir/caller (the working folder): outer.cmd
# runs "cmd /c inner.cmd" and writes the exit code cmd.exe saw (all 32 bits; Wine hands on only
# the low 8) to code.txt; inner.cmd writes the shell's architecture to arch.txt and starts
# Deploy.cmd with each argument in double quotes, the way a deployment script does.

wine64_loader=$(command -v wine64 || echo /usr/lib/wine/wine64)
cmd32='C:\windows\syswow64\cmd.exe'

# Unpacks the zip into $bundle ("$dir/Deploy bundle (1)").
unpack_bundle() {
    local zips=("$build"/bundle/Installer-*-windows.zip)
    bundle="$dir/Deploy bundle (1)"
    if [[ ! -f ${zips[0]} ]]; then
        failure "no deployment zip in $build/bundle (cpack --preset bundle)"
        return 1
    fi
    mkdir -p "$dir/unpack"
    unzip -q "${zips[0]}" -d "$dir/unpack" && mv "$dir/unpack"/Installer-*-windows "$bundle" ||
        failure "unpacking ${zips[0]} failed"
}

# The bundle's TqDbgCfg.ini: bundle_ini KEY=VALUE...
bundle_ini() {
    {
        printf '[OUTPUT]\r\n'
        local line
        for line in "$@"; do printf '%s\r\n' "$line"; done
    } >"$bundle/TqDbgCfg.ini"
}

# deploy 64|32 NAME ARG...: runs Deploy.cmd from a 64-bit or 32-bit cmd.exe. Leaves NAME.out,
# NAME.err, NAME.code (the exit code) and NAME.arch (PROCESSOR_ARCHITECTURE and
# PROCESSOR_ARCHITEW6432 of the shell) in $dir. Lines in $deploy_prelude go before the call;
# runs at the same time each need a $deploy_caller folder name of their own.
deploy() {
    local shell=$1 name=$2
    shift 2
    local caller=$dir/${deploy_caller:-caller} line arg
    mkdir -p "$caller"
    rm -f "$caller/code.txt" "$caller/arch.txt"
    line="@\"$(windows_path "$bundle/Deploy.cmd")\""
    for arg in "$@"; do line+=" \"${arg//%/%%}\""; done
    {
        printf '@>arch.txt echo %%PROCESSOR_ARCHITECTURE%% %%PROCESSOR_ARCHITEW6432%%\r\n'
        [[ -z ${deploy_prelude:-} ]] || printf '%s\r\n' "$deploy_prelude"
        printf '%s\r\n' "$line"
    } >"$caller/inner.cmd"
    printf '@cmd /c inner.cmd\r\n@>code.txt echo %%errorlevel%%\r\n' >"$caller/outer.cmd"
    local program=("$wine64_loader" cmd)
    [[ $shell == 64 ]] || program=(wine "$cmd32")
    (cd "$caller" && timeout -k 5 300 "${program[@]}" /c outer.cmd) >"$dir/$name.out" \
        2>"$dir/$name.err"
    tr -d '\r ' <"$caller/code.txt" >"$dir/$name.code" 2>/dev/null
    tr -d '\r' <"$caller/arch.txt" >"$dir/$name.arch" 2>/dev/null
}

deploy_exit_is() {
    local code
    code=$(<"$dir/$1.code")
    [[ $code == "$2" ]] || failure "$1: Deploy.cmd exit code ${code:-none}, expected $2"
}

# The run said this on standard error.
deploy_stderr_has() {
    grep -Fq -- "$2" "$dir/$1.err" || failure "$1: stderr lacks \"$2\": $(head -3 "$dir/$1.err")"
}

# The run printed this line (InstallerCheck's report or Deploy.cmd's own).
deploy_stdout_has() {
    tr -d '\r' <"$dir/$1.out" | grep -Fxq -- "$2" || failure "$1: stdout lacks \"$2\""
}

bundle_logs() { find "$bundle/$1" -maxdepth 1 -name '*.log' -printf '%f\n'; }

# The decoded trace of the program that ran has this message.
bundle_traced() {
    local logs log
    mapfile -t logs < <(find "$bundle/x64" -maxdepth 1 -name '*.log')
    if ((${#logs[@]} == 0)); then
        failure "no log file in x64"
        return
    fi
    for log in "${logs[@]}"; do "$decoder" "$log"; done | tr -d '\r' | grep -Fq -- " : $1" ||
        failure "the x64 trace lacks \"$1\""
}

# 12. No device: from a 64-bit and a 32-bit cmd.exe on 64-bit Windows, Deploy.cmd runs the x64
#    programs (the log file appears in x64\ only) with the ID's "&" and the INF path's space,
#    "&", "^" and parentheses intact; a relative path is taken from the working folder. Each INF
#    is staged unchanged and the run exits 0.
scenario_deploy_no_device() {
    unpack_bundle || return
    bundle_ini LOGFILE=1 LEVEL=1
    local folder='drivers & (x) ^y' first second staged
    mkdir -p "$dir/$folder"
    first=$(fresh_inf "$folder/first.inf")
    second=$(fresh_inf "$folder/second.inf")
    staged=$(staged_infs)
    deploy 64 shell64 "$NO_SUCH_ID" "$(windows_path "$first")"
    deploy_exit_is shell64 0
    deploy_stdout_has shell64 'result: verified'
    [[ $(<"$dir/shell64.arch") == 'AMD64 ' ]] || failure "shell64: shell $(<"$dir/shell64.arch")"
    bundle_traced "csHwID =$NO_SUCH_ID"
    bundle_traced "pInfFullName =$(windows_path "$first")"
    deploy 32 shell32 "$NO_SUCH_ID" "..\\$folder\\second.inf"
    deploy_exit_is shell32 0
    deploy_stdout_has shell32 'result: verified'
    [[ $(<"$dir/shell32.arch") == 'x86 AMD64' ]] || failure "shell32: shell $(<"$dir/shell32.arch")"
    bundle_traced "pInfFullName =$(windows_path "$second")"
    [[ -z $(bundle_logs x86) ]] || failure "the x86 program ran"
    local new
    mapfile -t new < <(comm -13 <(printf '%s\n' "$staged") <(staged_infs) | grep .)
    [[ ${new[*]} == 'first.inf second.inf' ]] || failure "staged: ${new[*]}"
    cmp -s "$first" "$inf_dir/first.inf" || failure "the staged first.inf differs"
    cmp -s "$second" "$inf_dir/second.inf" || failure "the staged second.inf differs"
}

# 13. Absent devices (the test cfgmgr32.dll in the system folder) are marked and the run exits
#    0. Wine's device enumeration counts them as present, so Installer.exe also installs the
#    driver on them (which stages the INF and, in Wine, resets their flags to 0): lower-case IDs,
#    which Wine's case-sensitive update does not pass by. A non-matching one is left alone. A
#    node state that cannot be read makes the run exit 3.
scenario_deploy_absent() {
    unpack_bundle || return
    local a b other inf
    a=$(add_device --flags 0x00010004 "$ID_LOWER") || return
    b=$(add_device --flags 0x00000000 "$ID_LOWER&rev_0100" "$ID_LOWER") || return
    other=$(add_device --flags 0x00000004 'usb\vid_1234&pid_9999') || return
    inf=$(fresh_inf absent.inf)
    INSTALLER_TEST_ABSENT="$a;$b;$other" WINEDLLOVERRIDES="$base_overrides;cfgmgr32=n,b" \
        deploy 64 absent "$ID" "$(windows_path "$inf")"
    deploy_exit_is absent 0
    deploy_stdout_has absent 'absent devices marked for reinstallation: ok, 2 devices'
    expect_flags "$a" 0x00000020
    expect_flags "$b" 0x00000020
    expect_flags "$other" 0x00000004
    # The node state of one cannot be read (the test DLL answers CR_FAILURE): exit 3.
    INSTALLER_TEST_ABSENT="$a;$b;$other" INSTALLER_TEST_NODE_FAIL=$b \
        WINEDLLOVERRIDES="$base_overrides;cfgmgr32=n,b" \
        deploy 64 unreadable "$ID" "$(windows_path "$inf")"
    deploy_exit_is unreadable 3
    grep -Fq "the node state of $b could not be read" "$dir/unreadable.err" ||
        failure "unreadable: no reason on stderr: $(head -c 300 "$dir/unreadable.err")"
}

# 14. A file that is not an INF: the pre-flight refuses it, so Deploy.cmd exits 1603 with plan's
#    reason and its own on stderr and runs nothing else. With /nocheck it is not staged: verify
#    fails and Deploy.cmd exits 1603 with the report saying why on stdout. A package without the
#    chosen InstallerCheck.exe runs nothing and exits 1603 as well.
scenario_deploy_not_verified() {
    unpack_bundle || return
    bundle_ini LOGFILE=1 LEVEL=1
    printf 'not an INF file\r\n' >"$dir/junk.inf"
    deploy 64 refused "$NO_SUCH_ID" "$(windows_path "$dir/junk.inf")"
    deploy_exit_is refused 1603
    deploy_stderr_has refused 'InstallerCheck: the INF does not open as a Windows NT INF'
    deploy_stderr_has refused 'Deploy: the pre-flight found that the package will not install here; nothing was changed.'
    [[ -z $(bundle_logs x64) ]] || failure "refused: Installer.exe ran"
    deploy 64 junk /nocheck "$NO_SUCH_ID" "$(windows_path "$dir/junk.inf")"
    deploy_exit_is junk 1603
    deploy_stdout_has junk 'INF staged: FAILED, no INF in C:\windows\INF holds the INF'"'"'s bytes'
    deploy_stdout_has junk 'result: not verified'
    bundle_traced "pInfFullName =$(windows_path "$dir/junk.inf")"

    rm "$bundle"/x64/*.log "$bundle/x64/InstallerCheck.exe"
    deploy 32 incomplete "$NO_SUCH_ID" "$(windows_path "$(fresh_inf incomplete.inf)")"
    deploy_exit_is incomplete 1603
    deploy_stderr_has incomplete 'Deploy: the package is incomplete'
    [[ -z $(bundle_logs x64) ]] || failure "incomplete: Installer.exe ran"
}

# 15. Wrong command lines exit 2 with a message on stderr and run nothing: one argument, three,
#    /keep without both others, a missing INF, a folder, and a wildcard that matches an INF.
scenario_deploy_command_line() {
    unpack_bundle || return
    bundle_ini LOGFILE=1 LEVEL=1
    local inf staged
    inf=$(windows_path "$(fresh_inf wrong.inf)")
    staged=$(staged_infs)
    deploy 64 one "$ID"
    deploy 64 three "$ID" "$inf" extra
    deploy 32 keep-short /keep 'C:\kept' "$ID"
    deploy 64 missing "$ID" "$(windows_path "$dir/missing.inf")"
    deploy 64 folder "$ID" "$(windows_path "$dir")"
    deploy 64 wildcard "$ID" "$(windows_path "$dir")\\wr*.inf"
    local name
    for name in one three keep-short; do
        deploy_exit_is "$name" 2
        deploy_stderr_has "$name" 'Usage: Deploy.cmd [/uninstall [/force]] [/keep <folder>] [/log <file>] [/nocheck] [/trustpublisher <thumbprint>] <hardware ID> <INF path>'
    done
    for name in missing folder wildcard; do
        deploy_exit_is "$name" 2
        deploy_stderr_has "$name" 'Deploy: no INF file at'
    done
    [[ -z $(bundle_logs x64) ]] || failure "Installer.exe ran"
    [[ $(staged_infs) == "$staged" ]] || failure "an INF was staged"
}

# 16. The architecture: Deploy.cmd starts the deploy program this shell can run, which asks the
#    system (IsWow64Process2) for the machine's native one rather than the environment, so a
#    32-bit shell that claims ARM64 in PROCESSOR_ARCHITEW6432 still gets the x64 programs. A
#    shell on ARM64 (PROCESSOR_ARCHITECTURE) with no arm64\ in the package: exit 1633, the reason
#    on stderr, nothing run.
scenario_deploy_unsupported() {
    unpack_bundle || return
    bundle_ini LOGFILE=1 LEVEL=1
    local inf
    inf=$(windows_path "$(fresh_inf arm.inf)")
    deploy_prelude='@set PROCESSOR_ARCHITEW6432=ARM64' deploy 32 wow-arm "$NO_SUCH_ID" "$inf"
    deploy_exit_is wow-arm 0
    [[ -n $(bundle_logs x64) && -z $(bundle_logs x86) ]] || failure "wow-arm: not the x64 programs"
    rm -f "$bundle"/x64/*.log
    # A package without arm64\ (the deployment zip has one where the ARM64 build was made).
    rm -rf "$bundle/arm64"
    deploy_prelude='@set PROCESSOR_ARCHITECTURE=ARM64' deploy 64 arm "$NO_SUCH_ID" "$inf"
    deploy_exit_is arm 1633
    deploy_stderr_has arm 'Deploy: this Windows runs on "ARM64"'
    [[ ! -s $dir/arm.out ]] || failure "arm: wrote to stdout"
    [[ -z $(bundle_logs x64)$(bundle_logs x86) ]] || failure "Installer.exe ran"
}

# 17. /keep: the folder (a path with a space), made beforehand by a user who left DLLs for the
#    detection command and a stray file in it, is emptied and receives the chosen
#    InstallerCheck.exe, the INF and the trace log, nothing else. The printed detection command,
#    run from a batch file after the package is gone and with native DLLs preferred, prints one
#    line and exits 0, and no planted DLL runs. A /keep path that is a symbolic link, or a folder
#    that holds a folder, is refused with 1603 before anything is copied or run. (The folder is
#    made with its owner and access list in the one call that makes it; Wine keeps no access
#    lists to read back, so they are Windows' part.)
scenario_deploy_keep() {
    unpack_bundle || return
    bundle_ini LOGFILE=1 LEVEL=1
    local keep="$dir/kept files/device" inf overrides="$base_overrides;newdev,cfgmgr32=n,b"
    mkdir -p "$keep"
    cp "$build/win64/wine-tests/planted/newdev.dll" "$build/win64/wine-tests/planted/cfgmgr32.dll" \
        "$keep/"
    printf 'stray\r\n' >"$keep/stray.txt"
    inf=$(fresh_inf keep.inf)
    WINEDLLOVERRIDES=$overrides deploy 64 keep /keep "$(windows_path "$keep")" "$ID" \
        "$(windows_path "$inf")"
    deploy_exit_is keep 0
    cmp -s "$bundle/x64/InstallerCheck.exe" "$keep/InstallerCheck.exe" ||
        failure "keep: x64 InstallerCheck.exe not kept"
    cmp -s "$inf" "$keep/keep.inf" || failure "keep: the INF not kept"
    local kept
    kept=$(find "$keep" -mindepth 1 ! -name '*.log' -printf '%f ' | tr ' ' '\n' | sort | xargs)
    [[ $kept == 'InstallerCheck.exe keep.inf suite-device.cat' ]] || failure "keep: the folder holds $kept"
    [[ -n $(find "$keep" -maxdepth 1 -name '*.log') ]] || failure "keep: no trace log kept"
    local command
    command=$(tr -d '\r' <"$dir/keep.out" | sed -n 's/^Detection command: //p')
    local expected
    expected="\"$(windows_path "$keep")\\InstallerCheck.exe\" verify --detect \"$ID\""
    expected+=" \"$(windows_path "$keep")\\keep.inf\""
    [[ $command == "$expected" ]] || failure "keep: detection command \"$command\""

    mv "$bundle" "$dir/gone"
    printf '@%s\r\n@>code.txt echo %%errorlevel%%\r\n' "$command" >"$dir/caller/detect.cmd"
    (cd "$dir/caller" && WINEDLLOVERRIDES=$overrides timeout -k 5 120 "$wine64_loader" cmd /c \
        detect.cmd) >"$dir/detect.out" 2>"$dir/detect.err"
    [[ $(tr -d '\r ' <"$dir/caller/code.txt") == 0 ]] || failure "detect: exit code not 0"
    [[ $(wc -l <"$dir/detect.out") == 1 && ! -s $dir/detect.err ]] ||
        failure "detect: $(wc -l <"$dir/detect.out") lines, stderr $(head -c 200 "$dir/detect.err")"
    local markers
    markers=$(find "$dir" -name '*.dll.loaded' -printf '%P ')
    [[ -z $markers ]] || failure "planted DLLs ran: $markers"

    # Refused: a link to a folder elsewhere, and a folder that holds a folder.
    mv "$dir/gone" "$bundle"
    mkdir -p "$dir/elsewhere" "$dir/nested/inner"
    ln -s "$dir/elsewhere" "$dir/linked"
    deploy 64 linked /keep "$(windows_path "$dir/linked")" "$ID" "$(windows_path "$inf")"
    deploy_exit_is linked 1603
    deploy_stderr_has linked 'is a junction or symbolic link, not a folder'
    deploy 64 nested /keep "$(windows_path "$dir/nested")" "$ID" "$(windows_path "$inf")"
    deploy_exit_is nested 1603
    deploy_stderr_has nested 'holds folders; /keep needs a folder of its own'
    [[ -z $(find "$dir/elsewhere" -mindepth 1) && -d $dir/nested/inner ]] ||
        failure "a refused /keep folder was changed"
}

# 26. The INF's own folder given as /keep under another spelling, each of which Wine's file
#    system gives: the "\\?\" form of its path, and its path with the 8.3 short names cmd.exe
#    gives (%~s). The deploy program compares the folder's names with the INF by file identity (volume
#    serial number and file ID), so each is refused with 2 before anything runs or is deleted:
#    the INF and its catalog stay, Installer.exe never runs.
scenario_deploy_keep_spelling() {
    unpack_bundle || return
    bundle_ini LOGFILE=1 LEVEL=1
    local folder="$dir/driver files (kept)" inf win short
    mkdir -p "$folder"
    inf=$(fresh_inf 'driver files (kept)/spelled.inf')
    cp "$inf" "$dir/spelled.orig"
    win=$(windows_path "$folder")
    # From a batch file: Wine's command line would hand cmd.exe the quotes escaped. Wine shortens
    # the folders above (the suite's names are long), which is as good a spelling.
    printf '@for %%%%I in ("%s") do @echo %%%%~sI\r\n' "$win" >"$dir/short.cmd"
    short=$(cd "$dir" && wine cmd /c short.cmd | tr -d '\r')
    [[ -n $short && ${short^^} != "${win^^}" ]] || failure "no short name for $win: \"$short\""
    local name keep
    for name in prefixed short; do
        [[ $name == prefixed ]] && keep="\\\\?\\$win" || keep=$short
        deploy 64 "$name" /keep "$keep" "$NO_SUCH_ID" "$win\\spelled.inf"
        deploy_exit_is "$name" 2
        [[ $(tr -d '\r' <"$dir/$name.err") == "Deploy: the INF is in the /keep folder \"$keep\", which Deploy empties and makes anew; give the INF from another folder. Nothing was run." ]] ||
            failure "$name: stderr $(head -c 300 "$dir/$name.err")"
        [[ ! -s $dir/$name.out ]] || failure "$name: stdout $(head -c 200 "$dir/$name.out")"
    done
    [[ $(find "$folder" -mindepth 1 -printf '%f\n' | sort | xargs) == 'spelled.inf suite-device.cat' ]] ||
        failure "the INF's folder holds $(find "$folder" -mindepth 1 -printf '%f ')"
    cmp -s "$inf" "$dir/spelled.orig" || failure "the INF changed"
    [[ -z $(bundle_logs x64) ]] || failure "Installer.exe ran"
}

# 27. Links a user planted where the deploy program writes and reads by name, from a 64-bit shell
#    (the x64 deploy program) and a 32-bit one (the x86 one), each first with symbolic links to
#    files, then with dangling ones: at the deployment log's name (/log), at x64\TqDbgCfg.ini
#    (the package's settings are copied there) and, as a trace log beside the programs,
#    x64\planted.log -> a secret file (/keep copies the trace logs). Wine reports none of these
#    names as a reparse point. Each run exits 0 (the log never changes the exit code) and says on
#    stderr that the settings were not copied and the record not written; the files the links
#    lead to are unchanged, nothing is made where a dangling one leads, and the /keep folder holds
#    no planted.log.
scenario_deploy_links() {
    unpack_bundle || return
    bundle_ini LOGFILE=1 LEVEL=1
    local inf win logs="$dir/user logs" shell kind name keep
    inf=$(fresh_inf linked.inf)
    win=$(windows_path "$inf")
    mkdir -p "$logs"
    printf 'secret\r\n' >"$dir/secret.txt"
    ln -s "$dir/secret.txt" "$bundle/x64/planted.log"
    for shell in 64 32; do
        for kind in file dangling; do
            name=links$shell$kind
            keep="$dir/keep $name"
            rm -f "$logs/InstallerDeploy.log" "$bundle/x64/TqDbgCfg.ini"
            if [[ $kind == file ]]; then
                printf 'victim\r\n' >"$dir/$name.log"
                printf 'target\r\n' >"$dir/$name.ini"
            fi
            ln -s "$dir/$name.log" "$logs/InstallerDeploy.log"
            ln -s "$dir/$name.ini" "$bundle/x64/TqDbgCfg.ini"
            deploy "$shell" "$name" /keep "$(windows_path "$keep")" \
                /log "$(windows_path "$logs")\InstallerDeploy.log" "$NO_SUCH_ID" "$win"
            deploy_exit_is "$name" 0
            deploy_stderr_has "$name" "Deploy: could not copy TqDbgCfg.ini into \"$(windows_path "$bundle")\x64\"; the trace keeps its settings there."
            deploy_stderr_has "$name" "Deploy: could not write the deployment log $(windows_path "$logs")\InstallerDeploy.log (it is missing a folder, held open, or not a plain file); this deployment's record is not in it."
            if [[ $kind == file ]]; then
                [[ $(<"$dir/$name.log") == $'victim\r' ]] || failure "$name: the log's link was followed"
                [[ $(<"$dir/$name.ini") == $'target\r' ]] || failure "$name: the settings' link was followed"
            else
                [[ ! -e $dir/$name.log ]] || failure "$name: the log's dangling link made a file"
                [[ ! -e $dir/$name.ini ]] || failure "$name: the settings' dangling link made a file"
            fi
            [[ ! -e $keep/planted.log ]] ||
                failure "$name: /keep got planted.log: $(head -c 40 "$keep/planted.log")"
            [[ -f $keep/InstallerCheck.exe && -f $keep/linked.inf ]] ||
                failure "$name: /keep holds $(find "$keep" -mindepth 1 -printf '%f ')"
        done
    done
    [[ $(<"$dir/secret.txt") == $'secret\r' ]] || failure "the secret changed"
}

scenario 12 'Deploy.cmd: no device, 64- and 32-bit shells' scenario_deploy_no_device win64
scenario 13 'Deploy.cmd: absent devices marked' scenario_deploy_absent win64
scenario 14 'Deploy.cmd: refused by the pre-flight, or not verified (1603)' scenario_deploy_not_verified win64
scenario 15 'Deploy.cmd: wrong command lines (2)' scenario_deploy_command_line win64
scenario 16 'Deploy.cmd: the native architecture, and an unsupported one (1633)' scenario_deploy_unsupported win64
scenario 17 'Deploy.cmd: /keep and the detection command' scenario_deploy_keep win64
scenario 26 'Deploy.cmd: the INF folder as /keep under another spelling' scenario_deploy_keep_spelling win64
scenario 27 'Deploy.cmd: links planted at the names it writes and reads' scenario_deploy_links win64
