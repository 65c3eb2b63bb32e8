# Scenario group, sourced by run-wine-suite.sh (helpers in wine-lib.sh, and check, expect_code,
# says, snapshot and same_snapshot from 40-installer-check.sh): InstallerRemove after the same
# build's Installer.exe, and verify's restart signal. Wine has no DiUninstallDriverW, so every
# removal here goes through SetupUninstallOEMInfW, which in Wine deletes only with
# SUOI_FORCEDELETE: without it, it reports success and deletes nothing, and the verify step after
# the removal must say so.

# Runs the program copy's InstallerRemove.exe: remove NAME ARG... Leaves NAME.out, NAME.err and
# NAME.code in $dir; Wine's own log lines are dropped from NAME.err.
remove() {
    local name=$1
    shift
    local code=0
    (cd "$dir" && WINEDEBUG=-all timeout -k 5 120 wine "$prog/InstallerRemove.exe" "$@") \
        >"$dir/$name.out" 2>"$dir/$name.raw" || code=$?
    grep -vE '^[0-9a-f]{4,8}:(fixme|err|warn|trace):' "$dir/$name.raw" >"$dir/$name.err"
    printf '%s' "$code" >"$dir/$name.code"
}

# The one INF the last run staged: new_copy BEFORE (the folder's listing before the run).
new_copy() {
    comm -13 <(printf '%s\n' "$1") <(staged_infs) | grep .
}

nothing_printed() {
    [[ ! -s $dir/$1.out && ! -s $dir/$1.err ]] || failure "$1: printed $(head -c 200 "$dir/$1.out")"
}

# 30. Staged only: --dry-run lists the copy and changes nothing; without --force Wine's removal
#     reports success and deletes nothing, which the removal's own verify step reports (exit 1,
#     naming the copy); with --force the copy is gone from C:\windows\INF and detection prints
#     nothing. Another INF in that folder with the same bytes is, to Wine, the publication of the
#     INF of that name: another package's, named in every report and never removed, and while it
#     is staged the package is not removed (exit 1).
scenario_remove_staged() {
    cp "$build/$arch/InstallerCheck.exe" "$build/$arch/InstallerRemove.exe" "$prog/"
    local inf win before copy
    inf=$(fresh_inf removestage.inf)
    win=$(windows_path "$inf")
    before=$(staged_infs)
    run stage "$NO_SUCH_ID" "$win"
    copy=$(new_copy "$before") || { failure "nothing staged"; return; }
    local line="copy C:\\windows\\INF\\$copy: "
    local same=same-bytes-$copy
    cp "$inf_dir/$copy" "$inf_dir/$same"

    local other="copy C:\\windows\\INF\\$same: FAILED, still staged: another package with the INF's bytes, not removed: published for $same"
    snapshot before
    remove dry --dry-run "$NO_SUCH_ID" "$win"
    snapshot after
    same_snapshot before after
    expect_code dry 1
    says dry "${line}would be removed"
    says dry "$other"
    says dry 'result: dry run, nothing changed'

    remove plain "$NO_SUCH_ID" "$win"
    expect_code plain 1
    says plain "$(rule_line remove "$win" "$NO_SUCH_ID")"
    says plain "${line}FAILED, still staged: SetupUninstallOEMInfW reported success but left it in place"
    says plain 'result: not removed'
    [[ -f $inf_dir/$copy ]] || failure "plain: $copy deleted"

    remove forced --force "$NO_SUCH_ID" "$win"
    expect_code forced 1
    says forced "${line}removed by SetupUninstallOEMInfW"
    says forced "$other"
    says forced 'result: not removed'
    [[ ! -e $inf_dir/$copy ]] || failure "forced: $copy still in C:\\windows\\INF"
    [[ -f $inf_dir/$same ]] || failure "forced: $same deleted"
    rm -f "$inf_dir/$same"
    check detect verify --detect "$NO_SUCH_ID" "$win"
    expect_code detect 0
    nothing_printed detect
}

# 31. A present device that uses the package: with the test cfgmgr32.dll reporting that its node
#     needs a restart, verify exits 4 and detection still prints its line; without --force
#     nothing is removed (exit 1, naming the device); with --force the copy is deleted under the
#     device, which still reports the restart: exit 4, and detection prints nothing.
scenario_remove_in_use() {
    cp "$build/$arch/InstallerCheck.exe" "$build/$arch/InstallerRemove.exe" "$prog/"
    local device inf win before copy
    device=$(add_device --flags 0 "$ID_LOWER") || return
    inf=$(fresh_inf removepresent.inf)
    win=$(windows_path "$inf")
    before=$(staged_infs)
    run present "$ID" "$win"
    copy=$(new_copy "$before") || { failure "nothing staged"; return; }
    local line="copy C:\\windows\\INF\\$copy: "

    local saved=$WINEDLLOVERRIDES
    export WINEDLLOVERRIDES="$base_overrides;cfgmgr32=n,b"
    export INSTALLER_TEST_RESTART=$device
    check restart verify "$ID" "$win"
    expect_code restart 4
    says restart "  $device: restart needed, driver from $copy"
    says restart 'result: verified, restart needed'
    check detect verify --detect "$ID" "$win"
    expect_code detect 0
    [[ $(wc -l <"$dir/detect.out") == 1 ]] || failure "detect: not one line: $(cat "$dir/detect.out")"

    remove inuse "$ID" "$win"
    expect_code inuse 1
    says inuse "${line}FAILED, still staged: not tried: a present device uses the package, and without DiUninstallDriverW only --force removes a copy in use"
    says inuse "  $device: present, still uses it, restart needed"
    [[ -f $inf_dir/$copy ]] || failure "inuse: $copy deleted"

    remove forced --force "$ID" "$win"
    expect_code forced 4
    says forced "${line}removed by SetupUninstallOEMInfW"
    says forced "  $device: present, still names it, though it is gone, restart needed"
    says forced 'result: removed, restart needed'
    [[ ! -e $inf_dir/$copy ]] || failure "forced: $copy still in C:\\windows\\INF"
    check gone verify --detect "$ID" "$win"
    expect_code gone 0
    nothing_printed gone
    unset INSTALLER_TEST_RESTART
    export WINEDLLOVERRIDES=$saved
}

# 32. An INF that is not a plain disk file, a FIFO in the prefix or the NUL device: both programs
#     refuse it as a wrong command line, without waiting for a writer, and read no device.
scenario_not_a_plain_file() {
    cp "$build/$arch/InstallerCheck.exe" "$build/$arch/InstallerRemove.exe" "$prog/"
    mkfifo "$dir/fifo.inf"
    local fifo
    fifo=$(windows_path "$dir/fifo.inf")
    local path name n=0
    for path in "$fifo" '\\.\NUL'; do
        name=check$((++n))
        check "$name" verify "$ID" "$path"
        expect_code "$name" 2
        grep -Fxq "InstallerCheck: the INF \"$path\" is not a plain file" "$dir/$name.err" ||
            failure "$name: $(head -c 300 "$dir/$name.err")"
        name=remove$n
        remove "$name" "$ID" "$path"
        expect_code "$name" 2
        grep -Fxq "InstallerRemove: the INF \"$path\" is not a plain file" "$dir/$name.err" ||
            failure "$name: $(head -c 300 "$dir/$name.err")"
    done
}

# 35. The INF under a name that differs from the one it was installed with only in the case of a
#     letter beyond ASCII (Écran.inf, écran.inf): one name to the file system, so the removal
#     finds the copy Wine published under the first name and removes it.
scenario_remove_case() {
    cp "$build/$arch/InstallerCheck.exe" "$build/$arch/InstallerRemove.exe" "$prog/"
    local saved=${LC_ALL-} inf lower before copy
    export LC_ALL=C.UTF-8
    inf=$(fresh_inf "Écran-$arch.inf")
    before=$(staged_infs)
    run stage "$NO_SUCH_ID" "$(windows_path "$inf")"
    copy=$(new_copy "$before") || { failure "nothing staged"; export LC_ALL=$saved; return; }
    lower=$dir/écran-$arch.inf
    mv "$inf" "$lower"
    remove forced --force "$NO_SUCH_ID" "$(windows_path "$lower")"
    expect_code forced 0
    says forced "copy C:\\windows\\INF\\$copy: removed by SetupUninstallOEMInfW"
    says forced 'result: removed'
    [[ ! -e $inf_dir/$copy ]] || failure "forced: $copy still in C:\\windows\\INF"
    export LC_ALL=$saved
}

# 36. The INF under another name than at the installation (a link to it): the copy Wine published
#     under the first name holds its bytes, so the removal names it as another package's and says
#     "not removed" (exit 1), never "nothing to remove". A file under the INF's own name that
#     names no catalog, as an inbox INF, is never removed, even with --force.
scenario_remove_other_name() {
    cp "$build/$arch/InstallerCheck.exe" "$build/$arch/InstallerRemove.exe" "$prog/"
    local inf before copy inbox
    inf=$(fresh_inf "linked-$arch.inf")
    before=$(staged_infs)
    run stage "$NO_SUCH_ID" "$(windows_path "$inf")"
    copy=$(new_copy "$before") || { failure "nothing staged"; return; }
    ln -s "linked-$arch.inf" "$dir/link.inf"
    remove link --force "$NO_SUCH_ID" "$(windows_path "$dir/link.inf")"
    expect_code link 1
    says link "copy C:\\windows\\INF\\$copy: FAILED, still staged: another package with the INF's bytes, not removed: published for $copy"
    says link 'result: not removed'
    [[ -f $inf_dir/$copy ]] || failure "link: $copy deleted"
    rm -f "$inf_dir/$copy"

    inbox=$(fresh_inf inboxremove.inf)
    sed -i '/^CatalogFile/d' "$inbox"
    cp "$inbox" "$inf_dir/inboxremove.inf"
    remove inbox --force "$NO_SUCH_ID" "$(windows_path "$inbox")"
    expect_code inbox 1
    says inbox "copy C:\\windows\\INF\\inboxremove.inf: FAILED, still staged: another package with the INF's bytes, not removed: the INF names no catalog for this platform"
    [[ -f $inf_dir/inboxremove.inf ]] || failure "inbox: inboxremove.inf deleted"
    rm -f "$inf_dir/inboxremove.inf"
}

scenario 30 'InstallerRemove: staged only, removed by Wine only with --force' scenario_remove_staged
scenario 31 'InstallerRemove: a device in use that needs a restart' scenario_remove_in_use
scenario 32 'InstallerCheck, InstallerRemove: an INF that is not a plain file' scenario_not_a_plain_file
scenario 35 'InstallerRemove: a name that differs in the case of a letter beyond ASCII' scenario_remove_case
scenario 36 'InstallerRemove: the INF under another name, and an inbox-like INF' scenario_remove_other_name
