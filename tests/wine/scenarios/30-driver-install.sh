# Scenario group, sourced by run-wine-suite.sh (helpers in wine-lib.sh): the driver install,
# i.e. staging with no device, a present device, absent devices marked, the match rules, an
# empty hardware ID.

# 5. No matching device: the INF is staged in C:\windows\inf, unchanged; a missing INF
#    gives error 2 and stages nothing. Nothing is installed or marked.
scenario_no_device() {
    write_ini VIEW=1 LEVEL=1
    local inf before after new
    inf=$(fresh_inf nodevice.inf)
    before=$(staged_infs)
    run stage "$NO_SUCH_ID" "$(windows_path "$inf")"
    after=$(staged_infs)
    in_order stage 'DEVICE_UNPLUG' 'Copy inf file ===>' 'DEVICE_UNPLUG'
    lacks stage 'OemCopylINF Error'
    lacks stage 'UpdateDriver SUCCEED'
    lacks stage '===> ENTER Reinstall'
    mapfile -t new < <(comm -13 <(printf '%s\n' "$before") <(printf '%s\n' "$after") | grep .)
    if ((${#new[@]} != 1)); then
        failure "staged ${#new[@]} new INFs: ${new[*]}"
    else
        cmp -s "$inf" "$inf_dir/${new[0]}" || failure "${new[0]} differs from the INF"
    fi

    run missing "$NO_SUCH_ID" "$(windows_path "$dir/missing.inf")"
    in_order missing 'DEVICE_UNPLUG' 'Copy inf file ===>' 'OemCopylINF Error = 2'
    [[ $(staged_infs) == "$after" ]] || failure "the missing INF staged something"
}

# 6. A present device whose ID list is longer than the first buffer (260 bytes): the buffer is
#    renewed, the device found and its driver installed; the reinstall walk leaves it unmarked.
#    (Wine's installation resets a device's config flags to 0: the device starts with 0.)
scenario_present_device() {
    write_ini VIEW=1 LEVEL=1
    local long device other inf
    long="root\\installer_suite_long_id_$(printf 'x%.0s' {1..120})"
    device=$(add_device --flags 0 "$long" "$ID_LOWER") || return
    # Upper case: Wine's case-sensitive update passes it by, the program's walk does not.
    other=$(add_device --flags 0x00000004 "$ID") || return
    inf=$(fresh_inf present.inf)
    run present "$ID" "$(windows_path "$inf")"
    in_order present \
        'ERROR_INSUFFICIENT_BUFFER, renew buffer and SetupDiGetDeviceRegistryProperty again!' \
        'SetupDiGetDeviceRegistryProperty OK!!!' \
        "FOUND!!! HwID = $ID_LOWER" 'DEVICE_EXIST_AND_PLUG' 'UpdateDriver SUCCEED. ' \
        'DEVICE_EXIST' '===> ENTER Reinstall' 'uRet = 0' 'uRet = 0'
    if [[ $arch == win32 ]]; then
        has present "cs = $long"
    else
        has present "Next HwID = $long"
    fi
    lacks present 'Copy inf file ===>'
    lacks present 'pSetbuf'
    [[ $(driver_of "$device") != - ]] || failure "no driver installed on $device"
    expect_flags "$device" 0x00000000
    expect_flags "$other" 0x00000004
}

# 7. Absent devices (reported by the test cfgmgr32.dll) with a matching ID are marked for
#    reinstallation, their other flag bits kept; a present one and a non-matching absent one
#    are left alone.
scenario_absent_devices() {
    write_ini VIEW=1 LEVEL=1
    # Upper-case IDs: Wine's case-sensitive driver update (which would reset the flags) skips
    # them.
    local a b present other inf
    a=$(add_device --flags 0x00010004 "$ID&REV_0100" "$ID") || return
    b=$(add_device --flags 0x00000000 "$ID") || return
    present=$(add_device --flags 0x00000004 "$ID") || return
    other=$(add_device --flags 0x00000004 'USB\VID_1234&PID_9999') || return
    inf=$(fresh_inf absent.inf)
    INSTALLER_TEST_ABSENT="$a;$b;$other" WINEDLLOVERRIDES="$base_overrides;cfgmgr32=n,b" \
        run absent "$ID" "$(windows_path "$inf")"
    has absent '===> ENTER Reinstall'
    count_is absent 'uRet = d' 2
    count_is absent 'uRet = 0' 1
    in_order absent 'pSetbuf = 4' '*pSetbuf = 24' 'pSetbuf = 0' '*pSetbuf = 20'
    expect_flags "$a" 0x00010024
    expect_flags "$b" 0x00000020
    expect_flags "$present" 0x00000004
    expect_flags "$other" 0x00000004
}

# 8. The match rules on one device whose only entry extends the requested ID: the 32-bit
#    program finds it (the entry begins with the ID) and installs; the x86-64 program does not
#    (not equal) and stages the INF. An entry that merely contains the ID matches neither.
scenario_match_rule() {
    write_ini VIEW=1 LEVEL=1
    local device inf before
    device=$(add_device --flags 0x00000004 "$ID_LOWER&rev_0100") || return
    add_device "acme\\$ID_LOWER" >/dev/null || return
    inf=$(fresh_inf rule.inf)
    before=$(staged_infs)
    run rule "$ID" "$(windows_path "$inf")"
    lacks rule "FOUND!!! HwID = acme\\$ID_LOWER"
    if [[ $arch == win32 ]]; then
        in_order rule "cs.Find($ID_LOWER) = 0" "FOUND!!! HwID = $ID_LOWER&rev_0100" \
            'DEVICE_EXIST_AND_PLUG' 'UpdateDriver SUCCEED. ' '===> ENTER Reinstall'
        has rule "cs.Find($ID_LOWER) = 5"
        lacks rule 'Copy inf file ===>'
        [[ $(staged_infs) == "$before" ]] || failure "the INF was staged"
    else
        in_order rule "Next HwID = $ID_LOWER&rev_0100" "Next HwID = acme\\$ID_LOWER" \
            'DEVICE_UNPLUG' 'Copy inf file ===>'
        lacks rule 'FOUND!!!'
        lacks rule 'UpdateDriver SUCCEED'
        [[ $(staged_infs) != "$before" ]] || failure "the INF was not staged"
    fi
    expect_flags "$device" 0x00000004
}

# 22. An empty hardware ID, what a deployment script with an unset variable sends, is no
#     device's under either rule: the INF is staged, no driver is updated and no absent device
#     is marked, though the 32-bit program's records show the empty ID found at position 0.
scenario_empty_id() {
    write_ini VIEW=1 LEVEL=1
    local present absent inf before
    present=$(add_device --flags 0x00000004 "$ID_LOWER") || return
    absent=$(add_device --flags 0x00000004 "$ID_LOWER") || return
    inf=$(fresh_inf empty.inf)
    before=$(staged_infs)
    INSTALLER_TEST_ABSENT="$absent" WINEDLLOVERRIDES="$base_overrides;cfgmgr32=n,b" \
        run empty "" "$(windows_path "$inf")"
    in_order empty 'argc =3' 'csHwID =' 'DEVICE_UNPLUG' 'Copy inf file ===>' 'DEVICE_UNPLUG'
    lacks empty 'FOUND!!!'
    lacks empty 'InstallDriver'
    lacks empty 'OemCopylINF Error'
    lacks empty '===> ENTER Reinstall'
    if [[ $arch == win32 ]]; then
        has empty "cs.Find() = 0"
    fi
    [[ $(staged_infs) != "$before" ]] || failure "the INF was not staged"
    [[ $(driver_of "$present") == - ]] || failure "a driver was installed on $present"
    expect_flags "$present" 0x00000004
    expect_flags "$absent" 0x00000004
}

scenario 5 'no device: INF staged' scenario_no_device
scenario 6 'present device, long ID list' scenario_present_device
scenario 7 'absent devices marked' scenario_absent_devices
scenario 8 'match rule' scenario_match_rule
scenario 22 'empty hardware ID: INF staged, nothing marked' scenario_empty_id
