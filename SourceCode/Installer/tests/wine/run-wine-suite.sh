#!/usr/bin/env bash
# End-to-end suite: runs the two Windows programs, build/win32/Installer.exe (prefix rule) and
# build/win64/Installer.exe (equality rule), under Wine in a private prefix.
#
#   bash SourceCode/Installer/tests/wine/run-wine-suite.sh [win32] [win64]
#
# Needs the win32 and win64 builds (Installer.exe and wine-tests/ with WineDeviceHelper.exe and
# the test cfgmgr32.dll) and build/host/TraceLogDecode. Devices are registered in the prefix by
# WineDeviceHelper.exe; the test cfgmgr32.dll beside a copy of the program makes chosen devices
# absent, which Wine's own CM_Get_DevNode_Status never reports.
#
# Environment: INSTALLER_BUILD_DIR (default <repo>/build); WINEDEBUG for the helper runs (default
# -all; the program runs always use -all,warn+seh, which shows the debugger channel).
# Prints one line per scenario and program, then "N passed, N failed"; exits 1 on any failure.
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/../../../.." && pwd)
build=${INSTALLER_BUILD_DIR:-$repo/build}
work=$build/wine-suite
decoder=$build/host/TraceLogDecode
if (($# > 0)); then archs=("$@"); else archs=(win32 win64); fi

export WINEPREFIX=$work/prefix
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko: nothing here needs them, and their installers would ask.
base_overrides="mscoree,mshtml="
export WINEDLLOVERRIDES=$base_overrides

started=$SECONDS

for tool in wine wineboot wineserver python3 timeout; do
    command -v "$tool" >/dev/null || { echo "wine suite: $tool not found" >&2; exit 1; }
done
for arch in "${archs[@]}"; do
    for file in Installer.exe wine-tests/WineDeviceHelper.exe wine-tests/cfgmgr32.dll; do
        if [[ ! -f $build/$arch/$file ]]; then
            echo "wine suite: $build/$arch/$file missing" >&2
            exit 1
        fi
    done
done

# A prefix left by an interrupted run may still have its server.
[[ -d $WINEPREFIX ]] && wineserver -k >/dev/null 2>&1
rm -rf "$work"
mkdir -p "$WINEPREFIX"
trap 'wineserver -k >/dev/null 2>&1' EXIT
# One persistent wineserver for the whole suite: the Wine services start once, not per run.
wineserver -p
# The services wineboot starts keep its output files: their messages never reach a program run.
if ! timeout -k 10 600 wineboot -i >"$work/wineboot.log" 2>&1; then
    echo "wine suite: wineboot -i failed (see $work/wineboot.log)" >&2
    exit 1
fi
echo "Wine prefix ready in $((SECONDS - started)) s: $WINEPREFIX"

# ---------------------------------------------------------------------------------------------
# The debugger channel: each OutputDebugString call is one Wine log line
#   NNNN:warn:seh:OutputDebugStringA "escaped text"      (cut after ~300 bytes: "..." follows)
# followed by a "dispatch_exception" line with the same text, which is ignored.
channel_tool=$work/channel.py
cat >"$channel_tool" <<'PYTHON'
import re
import sys

RECORD = re.compile(r'^[0-9a-f]+:warn:seh:OutputDebugStringA "(.*)"(\.\.\.)?$')
ESCAPE = re.compile(r'\\(x[0-9a-fA-F]{2}|.)')
LAYOUT = re.compile(r'^( *)([^ ]+)\(([0-9]{4})\) : (.*)$')


def unescape(text):
    def one(match):
        code = match.group(1)
        if code[0] == 'x':
            return chr(int(code[1:], 16))
        return {'n': '\n', 'r': '\r', 't': '\t'}.get(code, code)
    return ESCAPE.sub(one, text)


def records(path):
    found = []
    with open(path, encoding='latin-1') as log:
        for line in log:
            match = RECORD.match(line.rstrip('\n'))
            if match:
                found.append((unescape(match.group(1)), match.group(2) is not None))
    return found


def messages(recs):
    # The message of each line with the record layout ("%19s(%04d) : "); "?" marks other
    # non-empty lines and "..." a record Wine cut.
    for text, cut in recs:
        for line in text.split('\n'):
            if not line:
                continue
            match = LAYOUT.match(line)
            if match and len(match.group(1) + match.group(2)) == max(19, len(match.group(2))):
                line = match.group(4)
            else:
                line = '?' + line
            print(line + ('...' if cut else ''))


def log_bytes(recs):
    # What the log file holds for these records: one byte per character, CR LF for a line
    # feed, and every character before the first line feed but a space shifted up by 0x40.
    out = bytearray()
    for text, _ in recs:
        head, newline, rest = text.partition('\n')
        for ch in head:
            code = ord(ch) if ch == ' ' else ord(ch) + 0x40
            out.append(code if code <= 0xFF else ord('?'))
        for ch in newline + rest:
            if ch == '\n':
                out += b'\r\n'
            else:
                out.append(ord(ch) if ord(ch) <= 0xFF else ord('?'))
    return bytes(out)


command, paths = sys.argv[1], sys.argv[2:]
recs = [rec for path in paths for rec in records(path)]
if command == 'count':
    print(len(recs))
elif command == 'messages':
    messages(recs)
elif any(cut for _, cut in recs):
    sys.exit('channel: a record was cut by Wine')
elif command == 'text':
    sys.stdout.buffer.write(''.join(text for text, _ in recs).encode('utf-8'))
elif command == 'logbytes':
    sys.stdout.buffer.write(log_bytes(recs))
PYTHON

channel() { python3 "$channel_tool" "$@"; }

# ---------------------------------------------------------------------------------------------
# Scenario bookkeeping. Each scenario has a fresh folder $dir for its fixtures and the captured
# output of its runs, and in it $prog, the folder of its copy of the program ($arch is the program
# under test). Checks add to $failures.
passed=0
failed=0
failures=()

failure() { failures+=("$*"); }

run_scenario() {
    local number=$1 title=$2 function=$3
    failures=()
    dir=$work/$arch/$number-$function
    prog=$dir/program
    mkdir -p "$prog"
    cp "$build/$arch/Installer.exe" "$prog/"
    reset_machine
    "$function"
    if ((${#failures[@]} == 0)); then
        passed=$((passed + 1))
        echo "PASS  $arch  $number $title"
    else
        failed=$((failed + 1))
        echo "FAIL  $arch  $number $title"
        printf '        %s\n' "${failures[@]}"
    fi
}

wine_quiet() { timeout -k 5 120 wine "$@"; }

helper() { wine_quiet "$build/$arch/wine-tests/WineDeviceHelper.exe" "$@"; }

# Registers a device (arguments: [--flags N] ID...) and prints its instance ID.
add_device() {
    local instance
    instance=$(helper add "$@") || { failure "WineDeviceHelper add $* failed"; return 1; }
    printf '%s' "$instance"
}

flags_of() { helper flags "$1"; }

driver_of() { helper list | id=$1 awk -F'\t' '$1 == ENVIRON["id"] { print $3 }'; }

expect_flags() {
    local instance=$1 expected=$2 actual
    actual=$(flags_of "$instance")
    [[ $actual == "$expected" ]] || failure "$instance: config flags $actual, expected $expected"
}

reg_set() {
    wine_quiet reg add 'HKCU\XTrace' /v "$1" /t "${3:-REG_DWORD}" /d "$2" /f >/dev/null 2>&1 ||
        failure "reg add HKCU\\XTrace $1 failed"
}

reg_clear() { wine_quiet reg delete 'HKCU\XTrace' /f >/dev/null 2>&1; }

# No suite devices and no overrides.
reset_machine() {
    reg_clear
    local devices
    mapfile -t devices < <(helper list | awk -F'\t' '$1 ~ /^ROOT\\INSTALLERSUITE\\/ { print $1 }')
    if ((${#devices[@]} > 0)); then
        helper remove "${devices[@]}" || failure "WineDeviceHelper remove failed"
    fi
}

# Settings file beside the program copy: write_ini KEY=VALUE...
write_ini() {
    {
        printf '[OUTPUT]\r\n'
        local line
        for line in "$@"; do printf '%s\r\n' "$line"; done
    } >"$prog/TqDbgCfg.ini"
}

windows_path() {
    local path=$1
    printf 'Z:%s' "${path//\//\\}"
}

# A copy of the suite's INF whose bytes no earlier run staged, so that Wine stages it anew.
fresh_inf() {
    local inf=$dir/$1
    cp "$here/suite-device.inf" "$inf"
    printf '; %s %s %s\n' "$arch" "$dir" "$(date +%s%N)" >>"$inf"
    printf '%s' "$inf"
}

# Wine stages an INF under its own name when that is free in C:\windows\inf, else as oemN.inf.
inf_dir=$WINEPREFIX/drive_c/windows/inf
staged_infs() { find "$inf_dir" -maxdepth 1 -iname '*.inf' -printf '%f\n' | sort; }

# Runs the program copy with the debugger channel shown: run NAME [ARG...]. Leaves NAME.out,
# NAME.err and NAME.msg (the channel's messages, one per line) in $dir. The working folder is
# $run_cwd when set, otherwise $dir. Every run must exit with 0 and write nothing to the
# console: stdout empty, stderr nothing but Wine's own log lines (NNNN:class:channel:...).
run() {
    local name=$1
    shift
    local cwd=${run_cwd:-$dir} code=0
    (cd "$cwd" && WINEDEBUG=-all,warn+seh timeout -k 5 120 wine "$prog/Installer.exe" "$@") \
        >"$dir/$name.out" 2>"$dir/$name.err" || code=$?
    channel messages "$dir/$name.err" >"$dir/$name.msg"
    ((code == 0)) || failure "$name: exit code $code"
    [[ ! -s $dir/$name.out ]] || failure "$name: wrote to stdout: $(head -c 200 "$dir/$name.out")"
    if grep -qvE '^[0-9a-f]{4,8}:(fixme|err|warn|trace):[a-z0-9_]+:' "$dir/$name.err"; then
        failure "$name: wrote to stderr: $(grep -vE '^[0-9a-f]{4,8}:' "$dir/$name.err" | head -3)"
    fi
}

# Record checks on a run's messages.
has() { grep -Fxq -- "$2" "$dir/$1.msg" || failure "$1: no record \"$2\""; }
lacks() { ! grep -Fq -- "$2" "$dir/$1.msg" || failure "$1: unexpected record \"$2\""; }
count_is() {
    local n
    n=$(grep -Fxc -- "$2" "$dir/$1.msg")
    ((n == $3)) || failure "$1: \"$2\" $n times, expected $3"
}
# The given messages appear in this order (others may come between).
in_order() {
    local name=$1
    shift
    local missing
    missing=$(want=$(printf '%s\n' "$@") awk '
        BEGIN { n = split(ENVIRON["want"], w, "\n"); i = 1 }
        i <= n && $0 == w[i] { i++ }
        END { if (i <= n) print w[i] }' "$dir/$name.msg")
    [[ -z $missing ]] || failure "$name: records out of order or missing from \"$missing\" on"
}
# Exactly these messages, nothing else.
only() {
    local name=$1
    shift
    diff <(printf '%s\n' "$@") "$dir/$name.msg" >/dev/null ||
        failure "$name: records $(paste -sd'|' "$dir/$name.msg"), expected $(printf '%s|' "$@")"
}
no_records() {
    local n
    n=$(channel count "$dir/$1.err")
    ((n == 0)) || failure "$1: $n records on the debugger channel, expected none"
}
no_log_file() {
    local logs
    logs=$(find "$prog" -maxdepth 1 -name '*.log' -printf '%f ')
    [[ -z $logs ]] || failure "$1: log file $logs"
}

readonly ID='USB\VID_1234&PID_5678'
readonly ID_LOWER='usb\vid_1234&pid_5678'
readonly NO_SUCH_ID='USB\VID_FFFF&PID_0001'

# ---------------------------------------------------------------------------------------------
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
    cp "$build/$arch/wine-tests/cfgmgr32.dll" "$prog/"
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

for arch in "${archs[@]}"; do
    run_scenario 1 'default silence' scenario_silence
    run_scenario 2 'argument count' scenario_arguments
    run_scenario 3 'registry overrides' scenario_overrides
    run_scenario 4 'log file' scenario_log_file
    run_scenario 5 'no device: INF staged' scenario_no_device
    run_scenario 6 'present device, long ID list' scenario_present_device
    run_scenario 7 'absent devices marked' scenario_absent_devices
    run_scenario 8 'match rule' scenario_match_rule
done

echo "Wine suite took $((SECONDS - started)) s"
echo "$passed passed, $failed failed"
((failed == 0))
