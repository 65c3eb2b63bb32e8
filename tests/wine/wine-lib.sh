# Shared helpers of the end-to-end suite, sourced by run-wine-suite.sh after it has set $here,
# $build, $work, $decoder, $pki (the test PKI the prefix trusts) and WINEPREFIX. Scenario files
# (scenarios/NN-name.sh) use these and register their scenarios with
# `scenario NUMBER TITLE FUNCTION [PROGRAM]`.

channel() { python3 "$here/wine-channel.py" "$@"; }

# ---------------------------------------------------------------------------------------------
# Scenario bookkeeping. Each scenario has a fresh folder $dir for its fixtures and the captured
# output of its runs, and in it $prog, the folder of its copy of the program ($arch is the program
# under test). Checks add to $failures.
passed=0
failed=0
failures=()

failure() { failures+=("$*"); }

# The registered scenarios, run in registration order for each program, or only for the program
# named as a fourth argument.
scenario_numbers=()
scenario_titles=()
scenario_functions=()
scenario_archs=()
scenario() {
    scenario_numbers+=("$1")
    scenario_titles+=("$2")
    scenario_functions+=("$3")
    scenario_archs+=("${4:-}")
}

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

# A catalog (tests/signing/catalog.py, SHA-256 members) of files, signed by the suite's PKI's
# publisher (osslsigncode, SHA-256), whom the prefix trusts: write_catalog CATALOG
# [--attr NAME=VALUE] FILE...
write_catalog() {
    local python=python3 catalog=$1
    shift
    "$python" -c 'import asn1crypto' 2>/dev/null || python=/usr/bin/python3
    # osslsigncode writes no file that is there already.
    rm -f "$catalog"
    "$python" "$here/../signing/catalog.py" write -o "$catalog.unsigned" "$@" &&
        osslsigncode sign -certs "$pki/publisher.pem" -key "$pki/publisher.key" -h sha256 \
            -in "$catalog.unsigned" -out "$catalog" >/dev/null &&
        rm "$catalog.unsigned"
}

# A copy of the suite's INF whose bytes no earlier run staged, so that Wine stages it anew, and
# its catalog beside it: suite-device.cat, whose members are every INF of the folder (Wine's
# catroot keeps one catalog of that name, the last staged: the folder's catalog is the latest).
fresh_inf() {
    local inf=$dir/$1 folder
    folder=$(dirname "$inf")
    cp "$here/suite-device.inf" "$inf"
    printf '; %s %s %s\n' "$arch" "$dir" "$(date +%s%N)" >>"$inf"
    write_catalog "$folder/suite-device.cat" "$folder"/*.inf >&2
    printf '%s' "$inf"
}

# The packages of the signature cases (tests/signing/make-packages.sh with the suite's PKI, whose
# root and publisher the prefix trusts), made once per suite run in $work/signing. Sets $signing
# to the packages' folder; cases.txt there lists each case with plan's and Deploy's expected
# results. Returns 1 (with a failure) when they cannot be made.
signing=$work/signing
signing_cases() {
    if [[ ! -f $signing/cases.txt ]] &&
        ! bash "$here/../signing/make-packages.sh" "$signing" "$pki" >"$work/signing.log" 2>&1; then
        rm -f "$signing/cases.txt"
        failure "make-packages.sh failed (see $work/signing.log)"
        return 1
    fi
}

# A thumbprint (upper-case hex) of a certificate of the suite's PKI: thumbprint NAME [sha256]
# (SHA-1 unless sha256 is given).
thumbprint() {
    awk -v name="$1" -v column=$([[ ${2:-} == sha256 ]] && echo 3 || echo 2) \
        '$1 == name { print $column }' "$pki/thumbprints.txt"
}

# The signature line of plan's report for a catalog signed by the suite's publisher.
publisher_line() {
    printf '  signature: signer "Example Devices Test Publisher" (SHA-1 %s), root "Example Test Root", publisher trusted' \
        "$(thumbprint publisher)"
}

trust_helper() { wine_quiet "$build/$arch/wine-tests/WineTrustHelper.exe" "$@"; }

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
