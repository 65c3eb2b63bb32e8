# Scenario group, sourced by run-wine-suite.sh (helpers in wine-lib.sh and 40-installer-check.sh):
# the host tests' table of packages (tests/support/PackageTable.h), written out by
# build/host/package_table_writer, given to plan with Wine's Setup API; and plan's promise to
# change nothing for a device whose class is not the INF's.

# 42. The shared package table: for a present device with the ID, plan gives each package the
#     reasons the host tests expect (the host's device name replaced by this one's), exit 0 for
#     a package without any. An INF that does not parse: an error code, whichever Wine gives.
scenario_check_package_table() {
    cp "$build/$arch/InstallerCheck.exe" "$prog/"
    local writer=$build/host/package_table_writer device table row index name update reasons
    [[ -x $writer ]] || { failure "no $writer (build the host preset)"; return; }
    device=$(add_device --flags 0 "$ID") || return
    table=$("$writer" "$dir/table") || { failure "package_table_writer failed"; return; }
    while IFS='|' read -r index name update reasons; do
        check "table$index" plan "$ID" "$(windows_path "$dir/table/$index/pkg.inf")"
        expect_code "table$index" "$([[ -z $reasons ]] && echo 0 || echo 1)"
        if [[ $name == "does not parse" ]]; then
            grep -Eq '^InstallerCheck: the INF does not open as a Windows NT INF: error 0x' \
                "$dir/table$index.err" || failure "$name: no parse reason"
            continue
        fi
        local expected=${reasons//ROOT\\PRESENT\\0000/$device}
        expected=${expected//\\n/$'\n'}
        cmp -s <(printf '%s' "$expected") "$dir/table$index.err" ||
            failure "$name: stderr \"$(cat "$dir/table$index.err")\", expected \"$expected\""
    done <<<"$table"
}

# 43. plan writes nothing to the device's key: a device of the System class and an INF of the
#     USB class, whose driver Windows offers it; the Enum key and the machine's certificate
#     stores exported before and after plan, plan --json and verify are the same (selecting the driver would write "Class"="USB" there). The driver named is the
#     one of the line whose ID is in a compatible ID's place, and a line whose IDs fill more
#     than the first buffer for the driver's details is read whole.
scenario_check_writes_nothing() {
    cp "$build/$arch/InstallerCheck.exe" "$prog/"
    local device inf long='' i
    device=$(add_device --flags 0 "$ID") || return
    for i in $(seq 1 40); do long+=", USB\\VID_FFFF&PID_$(printf '%04d' "$i")&MI_00&REV_0001"; done
    mkdir -p "$dir/usb"
    {
        printf '[Version]\r\nSignature = "$Windows NT$"\r\nClass = USB\r\n'
        printf 'ClassGuid = {36fc9e60-c465-11cf-8056-444553540000}\r\nProvider = %%V%%\r\n'
        printf 'CatalogFile = usb.cat\r\nDriverVer = 01/01/2024,1.0.0.0\r\n\r\n'
        printf '[Manufacturer]\r\n%%V%% = Models, NTx86, NTamd64\r\n\r\n'
        printf '[Models.NTx86]\r\n%%D%% = UsbInstall,, %s%s\r\n\r\n' "$ID" "$long"
        printf '[Models.NTamd64]\r\n%%D%% = UsbInstall,, %s%s\r\n\r\n' "$ID" "$long"
        printf '[UsbInstall]\r\nCopyFiles = UsbCopy\r\n\r\n[UsbCopy]\r\nusb.sys\r\n\r\n'
        printf '[DestinationDirs]\r\nDefaultDestDir = 12\r\n\r\n'
        printf '[SourceDisksNames]\r\n1 = %%Disk%%,,,\\x64\r\n\r\n[SourceDisksFiles]\r\nusb.sys = 1\r\n\r\n'
        printf '[Strings]\r\nV = "Example"\r\nD = "Example USB Composite Device"\r\nDisk = "Disk"\r\n'
    } >"$dir/usb/usb.inf"
    mkdir -p "$dir/usb/x64"
    printf 'stand-in\r\n' >"$dir/usb/x64/usb.sys"
    write_catalog "$dir/usb/usb.cat" "$dir/usb/usb.inf" "$dir/usb/x64/usb.sys" >&2
    inf=$(windows_path "$dir/usb/usb.inf")
    # The device keys and the machine's certificate stores, before and after every command.
    local keys=('HKLM\System\CurrentControlSet\Enum' 'HKLM\Software\Microsoft\SystemCertificates')
    local i when
    for when in before after; do
        if [[ $when == after ]]; then
            check usb plan "$ID" "$inf"
            expect_code usb 0
            says usb "  $device: driver \"Example USB Composite Device\", install section UsbInstall, matched $ID"
            check usb plan --json "$ID" "$inf"
            check usb verify "$ID" "$inf"
        fi
        for i in "${!keys[@]}"; do
            wine_quiet reg export "${keys[i]}" "$(windows_path "$dir/key$i-$when.reg")" /y \
                >/dev/null 2>&1 || failure "reg export of ${keys[i]} $when failed"
        done
    done
    for i in "${!keys[@]}"; do
        diff <(registry_text "$dir/key$i-before.reg") <(registry_text "$dir/key$i-after.reg") \
            >"$dir/key$i.diff" ||
            failure "plan or verify changed ${keys[i]}: $(head -c 400 "$dir/key$i.diff")"
    done
}

scenario 42 'InstallerCheck: the shared package table' scenario_check_package_table
scenario 43 'InstallerCheck: plan writes nothing to a device of another class' \
    scenario_check_writes_nothing
