# Scenario group, sourced by run-wine-suite.sh (helpers in wine-lib.sh): TraceLogDecode.exe as
# an administrator runs it on a log copied off a machine.

# Writes the log of the records on standard input (one per line, UTF-8) as the trace writes it:
# every character but a space shifted up by 0x40, one byte each, CR LF.
scrambled_log() {
    python3 -c '
import sys
out = bytearray()
for line in sys.stdin.read().splitlines():
    for c in line:
        c = ord(c) if c == " " else (ord(c) + 0x40) % 0x10000
        out.append(c if c < 0x100 else 0x3F)
    out += b"\r\n"
sys.stdout.buffer.write(out)
'
}

# 47. A log whose second record holds U+FFDA, which the trace writes as the byte 0x1A: read from
#     standard input and by a name outside the ANSI code page, every record comes back, with LF
#     line ends, and the exit code is 0; a name that does not exist gives 1.
scenario_log_decoder() {
    cp "$build/$arch/TraceLogDecode.exe" "$prog/"
    local records=$dir/records.txt log=$dir/12061858.log named i
    {
        printf '          Entry.cpp(0022) : argc =3\n'
        printf '         Sample.cpp(0007) : before \xef\xbf\x9a after\n'
        for ((i = 1; i <= 85; i++)); do
            printf '      Reinstall.cpp(%04d) : record %d \xc2\xa9\n' "$i" "$i"
        done
    } >"$records"
    scrambled_log <"$records" >"$log"
    grep -q $'\x1a' "$log" || failure "the log holds no byte 0x1A"
    named=$dir/$'\xd0\xb6\xd1\x83\xd1\x80\xd0\xbd\xd0\xb0\xd0\xbb-\xe6\x97\xa5\xe6\x9c\xac.log'
    cp "$log" "$named"

    local status=0
    WINEDEBUG=-all timeout -k 5 120 wine "$prog/TraceLogDecode.exe" <"$log" >"$dir/stdin.out" \
        2>"$dir/stdin.err" || status=$?
    cmp -s "$dir/stdin.out" "$records" ||
        failure "TraceLogDecode.exe < log: $(wc -l <"$dir/stdin.out") of $(wc -l <"$records") lines, or other bytes"
    ((status == 0)) || failure "TraceLogDecode.exe < log: exit $status"

    status=0
    WINEDEBUG=-all timeout -k 5 120 wine "$prog/TraceLogDecode.exe" "$(windows_path "$named")" \
        >"$dir/named.out" 2>"$dir/named.err" || status=$?
    cmp -s "$dir/named.out" "$records" ||
        failure "TraceLogDecode.exe NAME: $(head -c 200 "$dir/named.err") $(wc -l <"$dir/named.out") lines"
    ((status == 0)) || failure "TraceLogDecode.exe NAME: exit $status"

    status=0
    WINEDEBUG=-all timeout -k 5 120 wine "$prog/TraceLogDecode.exe" "$(windows_path "$dir/none.log")" \
        >"$dir/none.out" 2>"$dir/none.err" || status=$?
    ((status == 1)) || failure "TraceLogDecode.exe on a missing file: exit $status, expected 1"
    grep -Fxq "TraceLogDecode: cannot open $(windows_path "$dir/none.log")" "$dir/none.err" ||
        failure "TraceLogDecode.exe on a missing file: $(cat "$dir/none.err")"
}

scenario 47 'TraceLogDecode.exe reads every byte and any name' scenario_log_decoder
