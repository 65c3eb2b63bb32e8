# Scenario group, sourced by run-wine-suite.sh (helpers in wine-lib.sh): InstallerCheck against
# the same build's Installer.exe. plan and verify before a run, verify after it in each branch,
# verify again after the state is undone, the --detect and --json forms, and that neither
# command changes the registry or the INF folder.

# Runs the program copy's InstallerCheck.exe: check NAME ARG... Leaves NAME.out, NAME.err and
# NAME.code in $dir; Wine's own log lines are dropped from NAME.err.
check() {
    local name=$1
    shift
    local code=0
    (cd "$dir" && WINEDEBUG=-all timeout -k 5 120 wine "$prog/InstallerCheck.exe" "$@") \
        >"$dir/$name.out" 2>"$dir/$name.raw" || code=$?
    grep -vE '^[0-9a-f]{4,8}:(fixme|err|warn|trace):' "$dir/$name.raw" >"$dir/$name.err"
    printf '%s' "$code" >"$dir/$name.code"
}

expect_code() {
    local code
    code=$(cat "$dir/$1.code")
    [[ $code == "$2" ]] || failure "$1: exit code $code, expected $2: $(head -c 300 "$dir/$1.err")"
}

# The output holds this line (whole).
says() { grep -Fxq -- "$2" "$dir/$1.out" || failure "$1: no line \"$2\" in: $(head -c 600 "$dir/$1.out")"; }

# What the check must never change: the device and driver state in the registry, the user's
# keys, and the INF folder.
snapshot() {
    wine_quiet reg export 'HKLM\System\CurrentControlSet' "$(windows_path "$dir/$1.system.reg")" \
        /y >/dev/null 2>&1 || failure "reg export HKLM failed"
    wine_quiet reg export 'HKCU' "$(windows_path "$dir/$1.user.reg")" /y >/dev/null 2>&1 ||
        failure "reg export HKCU failed"
    (cd "$inf_dir" && find . -type f -printf '%p %s %T@\n' | sort) >"$dir/$1.inf-folder"
}

# Wine's service manager counts the services it starts in Control\ServiceCurrent, also while a
# check runs, and Wine's desktop process (explorer.exe), which starts when a process needs a
# desktop and none runs, writes a Control\Video\{new GUID} key for its display each time it
# starts (plan's runs over signed catalogs come to start it): neither is state of the check's.
registry_text() {
    iconv -f UTF-16LE -t UTF-8 "$1" | tr -d '\r' |
        awk '/^\[/ { skip = ($0 ~ /\\Control\\ServiceCurrent\]$/ || $0 ~ /\\Control\\Video\\\{/) } !skip'
}

same_snapshot() {
    local part
    for part in system.reg user.reg; do
        cmp -s <(registry_text "$dir/$1.$part") <(registry_text "$dir/$2.$part") ||
            failure "the check changed $part"
    done
    cmp -s "$dir/$1.inf-folder" "$dir/$2.inf-folder" || failure "the check changed inf-folder"
}

rule_line() {
    local kind=$1 inf=$2 id=${3:-$ID}
    local rule=equality
    [[ $arch == win32 ]] && rule=prefix
    local given=""
    [[ $id != "${id,,}" ]] && given=" (given as \"$id\")"
    printf '%s for hardware ID "%s"%s, %s rule, INF "%s"' "$kind" "${id,,}" "$given" "$rule" "$inf"
}

# The 32-bit program under WOW64 says so, in both commands.
wow64_notes() {
    [[ $arch == win32 ]] || return 0
    grep -Fq 'ERROR_IN_WOW64): use the x86-64 programs' "$dir/$1.out" ||
        failure "$1: no WOW64 note"
    grep -Fq 'note: this 32-bit program runs on 64-bit Windows' "$dir/$2.out" ||
        failure "$2: no WOW64 note"
}

# 9. No device: plan says stage, verify fails on the missing copy; after the run the copy is
#    there and verify passes, in all three forms; another INF fails again. plan and verify
#    leave the registry and the INF folder exactly as they were.
scenario_check_no_device() {
    cp "$build/$arch/InstallerCheck.exe" "$prog/"
    local inf win other
    inf=$(fresh_inf checkstage.inf)
    win=$(windows_path "$inf")
    snapshot before
    check plan plan "$NO_SUCH_ID" "$win"
    check before verify "$NO_SUCH_ID" "$win"
    snapshot after
    same_snapshot before after
    expect_code plan 0
    says plan "$(rule_line plan "$win" "$NO_SUCH_ID")"
    says plan '1. stage the INF (no present device matches)'
    says plan '2. nothing to mark'
    expect_code before 1
    says before 'INF staged: FAILED, no INF in C:\windows\INF holds the INF'"'"'s bytes'
    says before 'result: not verified'
    wow64_notes plan before

    run stage "$NO_SUCH_ID" "$win"
    check after verify "$NO_SUCH_ID" "$win"
    expect_code after 0
    says after 'result: verified'
    grep -Eq '^INF staged: ok, C:\\windows\\INF\\[^\\]+\.inf holds the INF.s bytes$' \
        "$dir/after.out" || failure "after: no staged copy named"
    check detect verify --detect "$NO_SUCH_ID" "$win"
    expect_code detect 0
    [[ $(wc -l <"$dir/detect.out") == 1 ]] || failure "detect: not one line: $(cat "$dir/detect.out")"
    [[ ! -s $dir/detect.err ]] || failure "detect: wrote to stderr"
    check json verify --json "$NO_SUCH_ID" "$win"
    expect_code json 0
    python3 -c 'import json,sys; r=json.load(open(sys.argv[1])); sys.exit(r["result"] != "verified" or r["stagedCopies"] == [])' \
        "$dir/json.out" || failure "json: not a verified JSON report: $(head -c 300 "$dir/json.out")"

    other=$(fresh_inf checkother.inf)
    check other verify "$NO_SUCH_ID" "$(windows_path "$other")"
    expect_code other 1
    check otherdetect verify --detect "$NO_SUCH_ID" "$(windows_path "$other")"
    expect_code otherdetect 0
    [[ ! -s $dir/otherdetect.out && ! -s $dir/otherdetect.err ]] ||
        failure "otherdetect: printed something"
    check missing verify "$NO_SUCH_ID" "$(windows_path "$dir/missing.inf")"
    expect_code missing 2
}

# 10. A present device (lower-case ID, which Wine's case-sensitive update installs on): plan
#     names it, verify fails on its missing driver, and passes once the run installed it.
scenario_check_present() {
    cp "$build/$arch/InstallerCheck.exe" "$prog/"
    local device inf win
    device=$(add_device --flags 0 "$ID_LOWER") || return
    inf=$(fresh_inf checkpresent.inf)
    win=$(windows_path "$inf")
    check plan plan "$ID" "$win"
    expect_code plan 0
    says plan '1. install the driver on 1 present device:'
    says plan "     $device"
    says plan '2. nothing to mark'
    check before verify "$ID" "$win"
    expect_code before 1
    says before "  $device: has no driver from an INF"
    wow64_notes plan before

    run present "$ID" "$win"
    check after verify "$ID" "$win"
    expect_code after 0
    grep -Eq "^  ${device//\\/\\\\}: ok, driver from [^ ]+\\.inf\$" "$dir/after.out" ||
        failure "after: $device not ok: $(cat "$dir/after.out")"
}

# 11. Absent devices (through the test cfgmgr32.dll): plan lists them with their flags, verify
#     fails until the run marked them, and fails again, naming the device, once one flag is
#     cleared; --detect then prints nothing; a node state that cannot be read is exit 3. Wine's set of present devices holds every device,
#     so the run tries a driver update, not the copy, and plan says so; with lower-case IDs
#     Wine's update installs on the absent devices (resetting their flags), which stages the INF.
scenario_check_absent() {
    cp "$build/$arch/InstallerCheck.exe" "$prog/"
    local a b inf win
    a=$(add_device --flags 0x00010004 "$ID_LOWER") || return
    b=$(add_device --flags 0x00000000 "$ID_LOWER") || return
    inf=$(fresh_inf checkabsent.inf)
    win=$(windows_path "$inf")
    export INSTALLER_TEST_ABSENT="$a;$b"
    local saved=$WINEDLLOVERRIDES
    export WINEDLLOVERRIDES="$base_overrides;cfgmgr32=n,b"
    check plan plan "$ID" "$win"
    expect_code plan 0
    says plan '1. install the driver on 0 present devices'
    says plan '2. mark 2 absent devices for reinstallation:'
    says plan "     $a  config flags now 0x00010004"
    says plan "     $b  config flags now 0x00000000"
    grep -Fq "note: the lookup of present devices finds a match, but no matching device's node" \
        "$dir/plan.out" || failure "plan: no note on the lookup"
    check before verify "$ID" "$win"
    expect_code before 1
    says before "  $a: not marked, config flags 0x00010004"

    run absent "$ID" "$win"
    check after verify "$ID" "$win"
    expect_code after 0
    says after "  $a: ok, config flags 0x00000020"
    says after "  $b: ok, config flags 0x00000020"

    wine_quiet reg add "HKLM\\System\\CurrentControlSet\\Enum\\$b" /v ConfigFlags /t REG_DWORD \
        /d 0 /f >/dev/null 2>&1 || failure "could not clear the flags of $b"
    check cleared verify "$ID" "$win"
    expect_code cleared 1
    says cleared "  $b: not marked, config flags 0x00000000"
    check detect verify --detect "$ID" "$win"
    expect_code detect 0
    [[ ! -s $dir/detect.out && ! -s $dir/detect.err ]] || failure "detect: printed something"
    # A node state that cannot be read leaves the state unknown: 3, in every form.
    INSTALLER_TEST_NODE_FAIL=$a check unreadable verify "$ID" "$win"
    expect_code unreadable 3
    grep -Fq "the node state of $a could not be read (CONFIGRET 0x13)" "$dir/unreadable.err" ||
        failure "unreadable: no reason on stderr: $(cat "$dir/unreadable.err")"
    [[ ! -s $dir/unreadable.out ]] || failure "unreadable: wrote a report"
    INSTALLER_TEST_NODE_FAIL=$a check unreadable-detect verify --detect "$ID" "$win"
    expect_code unreadable-detect 3
    export WINEDLLOVERRIDES=$saved
    unset INSTALLER_TEST_ABSENT
}

# A package in a folder of its own under $dir, with the suite's present-device ID in its models
# as given: package NAME VERSION-LINES DECORATIONS MODELS-SECTIONS [FILE...] (VERSION-LINES
# with \r\n escapes). The files are
# small stand-ins. Prints the INF's Windows path.
package() {
    local name=$1 version=$2 decorations=$3 models=$4
    shift 4
    local folder=$dir/$name
    mkdir -p "$folder"
    {
        printf '[Version]\r\nSignature = "$Windows NT$"\r\nClass = System\r\n'
        printf 'ClassGuid = {4d36e97d-e325-11ce-bfc1-08002be10318}\r\nProvider = %%Vendor%%\r\n'
        printf '%bDriverVer = 01/01/2024,1.0.0.0\r\n\r\n' "$version"
        printf '[Manufacturer]\r\n%%Vendor%% = Models, %s\r\n\r\n%s\r\n\r\n' "$decorations" "$models"
        printf '[PkgInstall]\r\nCopyFiles = PkgCopy\r\n\r\n[PkgInstall.Services]\r\n'
        printf 'AddService = , 2\r\n\r\n[PkgCopy]\r\npkg.sys\r\n\r\n'
        printf '[DestinationDirs]\r\nDefaultDestDir = 12\r\n\r\n'
        printf '[SourceDisksNames]\r\n1 = %%Disk%%\r\n\r\n[SourceDisksFiles]\r\npkg.sys = 1\r\n\r\n'
        printf '[Strings]\r\nVendor = "Example Devices"\r\nDesc = "Example USB Sample Device"\r\n'
        printf 'Disk = "Example disk"\r\n'
    } >"$folder/pkg.inf"
    local file catalog=no
    for file in "$@"; do printf 'stand-in\r\n' >"$folder/$file"; done
    # pkg.cat is a real catalog of the INF and the other files.
    local members=("$folder/pkg.inf")
    for file in "$@"; do
        if [[ $file == pkg.cat ]]; then catalog=yes; else members+=("$folder/$file"); fi
    done
    [[ $catalog == no ]] || write_catalog "$folder/pkg.cat" "${members[@]}" >&2
    windows_path "$folder/pkg.inf"
}

models_for() {
    local decoration
    for decoration in "$@"; do
        printf '[Models.%s]\r\n%%Desc%% = PkgInstall, %s\r\n\r\n' "$decoration" "${MODEL_ID:-$ID_LOWER}"
    done
}

# 40. The package pre-flight: the same packages for both programs, a present device with the
#     ID. The complete one (its catalog signed by the publisher the prefix trusts): plan exit 0,
#     the driver Windows chose and the signer, also in the JSON report; each bad one: exit 1 with
#     its reason on standard error. The platform is the machine's (NTamd64 in this prefix, for
#     the 32-bit program too). Nothing changes.
scenario_check_packages() {
    cp "$build/$arch/InstallerCheck.exe" "$prog/"
    local device cat='CatalogFile = pkg.cat\r\n' both_models inf
    device=$(add_device --flags 0 "$ID_LOWER") || return
    both_models=$(models_for NTx86 NTamd64)
    snapshot before
    inf=$(package complete "$cat" 'NTx86, NTamd64' "$both_models" pkg.cat pkg.sys)
    check complete plan "$ID" "$inf"
    expect_code complete 0
    says complete 'package for NTamd64: will install here'
    says complete '  catalog: pkg.cat (CatalogFile), members: checked (SHA256)'
    says complete "$(publisher_line)"
    says complete "  $device: driver \"Example USB Sample Device\", install section PkgInstall, matched $ID_LOWER"
    [[ ! -s $dir/complete.err ]] || failure "complete: wrote to stderr: $(cat "$dir/complete.err")"
    # The JSON report's signature, whole.
    check completejson plan --json "$ID" "$inf"
    expect_code completejson 0
    python3 -c 'import json, sys
expected = {"algorithm": "SHA256", "signed": True, "signer": "Example Devices Test Publisher",
            "sha1": sys.argv[2], "sha256": sys.argv[3], "root": "Example Test Root",
            "timestamp": None, "signatureValid": True, "chainTrusted": True,
            "publisherTrusted": True, "microsoftHardware": False}
sys.exit(json.load(open(sys.argv[1]))["package"]["signature"] != expected)' \
        "$dir/completejson.out" "$(thumbprint publisher)" "$(thumbprint publisher sha256)" ||
        failure "completejson: not the publisher's signature: $(head -c 600 "$dir/completejson.out")"

    # name | [Version] lines | decorations | files shipped | the reason
    local -a cases=(
        "x86only|$cat|NTx86|pkg.cat pkg.sys|the INF offers no driver for $device on NTamd64"
        "otherid|$cat|NTamd64|pkg.cat pkg.sys|the INF offers no driver for $device on NTamd64"
        "nocatalog||NTx86, NTamd64|pkg.cat pkg.sys|the INF names no catalog for NTamd64: [Version] has no CatalogFile.NTamd64 or CatalogFile entry"
        "nocat|CatalogFile.NTamd64 = pkg64.cat\\r\\n$cat|NTx86, NTamd64|pkg.cat pkg.sys|the catalog pkg64.cat (CatalogFile.NTamd64) is not beside the INF"
        "nofile|$cat|NTx86, NTamd64|pkg.cat|the file pkg.sys that section [PkgCopy] copies is not in the package"
    )
    local row name version decorations models files reason
    for row in "${cases[@]}"; do
        IFS='|' read -r name version decorations files reason <<<"$row"
        case $name in
        x86only) models=$(models_for NTx86) ;;
        otherid) models=$(MODEL_ID='usb\vid_9999&pid_0001' models_for NTamd64) ;;
        *) models=$both_models ;;
        esac
        # shellcheck disable=SC2086
        inf=$(package "$name" "$version" "$decorations" "$models" $files)
        check "$name" plan "$ID" "$inf"
        expect_code "$name" 1
        grep -Fxq -- "InstallerCheck: $reason" "$dir/$name.err" ||
            failure "$name: no reason \"$reason\" on stderr: $(head -c 400 "$dir/$name.err")"
        says "$name" "  reason: $reason"
    done
    mkdir -p "$dir/broken"
    printf '[Version]\r\nSignature = "$Windows NT$"\r\n\r\n[Manufacturer\r\n%%V%% = Models\r\n' \
        >"$dir/broken/pkg.inf"
    check broken plan "$ID" "$(windows_path "$dir/broken/pkg.inf")"
    expect_code broken 1
    grep -Eq '^InstallerCheck: the INF does not open as a Windows NT INF: error 0x[0-9a-f]+' \
        "$dir/broken.err" || failure "broken: no parse reason: $(head -c 400 "$dir/broken.err")"
    snapshot after
    same_snapshot before after
}

# 33. Another version of a staged package: the same INF bytes with another catalog (what a failed
#     upgrade leaves: the new version's install staged nothing). verify and detection for it
#     fail, naming the first version's copy as another package's: the catalog kept with it
#     (Wine: in System32\catroot) is not the new one's. The first version stays verified.
scenario_check_other_version() {
    cp "$build/$arch/InstallerCheck.exe" "$prog/"
    local inf win v2 before copy
    inf=$(fresh_inf version.inf)
    win=$(windows_path "$inf")
    before=$(staged_infs)
    run stage "$NO_SUCH_ID" "$win"
    copy=$(comm -13 <(printf '%s\n' "$before") <(staged_infs) | grep .) ||
        { failure "nothing staged"; return; }
    check v1 verify --detect "$NO_SUCH_ID" "$win"
    expect_code v1 0
    [[ $(wc -l <"$dir/v1.out") == 1 ]] || failure "v1: not verified: $(cat "$dir/v1.out")"
    mkdir -p "$dir/v2"
    cp "$inf" "$dir/v2/version.inf"
    write_catalog "$dir/v2/suite-device.cat" --attr Version=2 "$dir/v2/version.inf" >&2
    v2=$(windows_path "$dir/v2/version.inf")
    check v2 verify "$NO_SUCH_ID" "$v2"
    expect_code v2 1
    says v2 "INF staged: FAILED, C:\\windows\\INF\\$copy holds the INF's bytes, but is another package: the catalog suite-device.cat the system keeps with it is not the package's"
    says v2 'result: not verified'
    check v2detect verify --detect "$NO_SUCH_ID" "$v2"
    expect_code v2detect 0
    [[ ! -s $dir/v2detect.out && ! -s $dir/v2detect.err ]] ||
        failure "v2detect: printed $(head -c 300 "$dir/v2detect.out")"
    check v1again verify --detect "$NO_SUCH_ID" "$win"
    [[ $(wc -l <"$dir/v1again.out") == 1 ]] || failure "v1again: not verified"
}

# 34. A file the system did not publish, in C:\windows\INF under the INF's own name with the INF's
#     bytes, as an inbox INF such as keyboard.inf is: Wine counts every name there as a possible
#     publication, but this INF names no catalog (inbox INFs have none), so it has no copy of its
#     own: verify fails and names the file as another package's. That the own name never counts
#     on Windows is what the program knows from Wine's ntdll export; the host tests show it.
scenario_check_inbox() {
    cp "$build/$arch/InstallerCheck.exe" "$prog/"
    local inf win
    inf=$(fresh_inf inboxlike.inf)
    sed -i '/^CatalogFile/d' "$inf"
    win=$(windows_path "$inf")
    cp "$inf" "$inf_dir/inboxlike.inf"
    check inbox verify "$NO_SUCH_ID" "$win"
    expect_code inbox 1
    says inbox "INF staged: FAILED, C:\\windows\\INF\\inboxlike.inf holds the INF's bytes, but is another package: the INF names no catalog for this platform"
    check inboxdetect verify --detect "$NO_SUCH_ID" "$win"
    expect_code inboxdetect 0
    [[ ! -s $dir/inboxdetect.out ]] || failure "inboxdetect: printed $(cat "$dir/inboxdetect.out")"
    rm -f "$inf_dir/inboxlike.inf"
}

scenario 9 'InstallerCheck: no device, INF staged' scenario_check_no_device
scenario 10 'InstallerCheck: present device' scenario_check_present
scenario 11 'InstallerCheck: absent devices' scenario_check_absent
scenario 40 'InstallerCheck: the package pre-flight' scenario_check_packages
scenario 33 'InstallerCheck: another version of the package, with the same INF' scenario_check_other_version
scenario 34 'InstallerCheck: an inbox-like INF under its own name' scenario_check_inbox
