#!/usr/bin/env bash
# Builds preset "bench" and prints every benchmark figure:
#   1. time of whole installation runs on simulated machines of 1,000, 10,000 and 100,000
#      devices, trace off and on, with the growth from one size to the next;
#   2. instructions per record dropped with the trace off, counted by callgrind;
#   3. peak heap of a run against the number of devices;
#   4. InstallerCheck plan over a signed 512 MiB package against sha256sum over its files, time
#      and peak memory (scripts/bench-catalog.sh);
#   5. under Wine, when it is installed: wall time of build/win64/Installer.exe with the trace
#      off on a prefix with 2,000 extra registered devices, against a program that makes only
#      the same platform calls (SourceCode/Installer/bench/PlatformCalls-win32.cpp).
# Figures only: nothing is compared with a limit. Results of (1) are also kept in
# build/bench/installation.json.
#
#   BENCH_MIN_TIME   seconds each timing runs for at least (default 0.5)
#   BENCH_WINE       0 skips the Wine timing (default: run it when wine is installed)
#   BENCH_RUNS       runs of each program under Wine (default 5)
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
if ! command -v valgrind >/dev/null; then
    if [[ $(id -u) != 0 ]]; then
        echo "bench: valgrind is missing (run as root to install it)" >&2
        exit 1
    fi
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends valgrind >/dev/null
fi
cmake --preset bench >/dev/null
cmake --build --preset bench

bin=build/bench/benchmarks
# The developer's own overrides must not switch the trace on, and records must go nowhere.
export XTRACE_USER_REGISTRY=$PWD/build/bench/no-overrides.reg
unset XTRACE_DEBUG_CHANNEL

echo
echo "== 1. whole installation runs (equality rule; 5 devices with the ID, the rest without)"
"$bin/installer_bench" --benchmark_min_time="${BENCH_MIN_TIME:-0.5}" \
    --benchmark_out=build/bench/installation.json --benchmark_out_format=json
python3 - build/bench/installation.json <<'PY'
import json, sys
runs = [b for b in json.load(open(sys.argv[1]))["benchmarks"] if b.get("run_type") == "iteration"]
table = {}
for b in runs:
    name, devices = b["name"].split("/")
    table.setdefault(int(devices), {})[name] = b["real_time"]  # milliseconds
print()
print(f"{'devices':>8} {'trace off ms':>13} {'x prev':>7} {'ns/device':>10}"
      f" {'trace on ms':>12} {'x prev':>7} {'ns/device':>10}")
previous = None
for devices in sorted(table):
    row = table[devices]
    cells = [f"{devices:>8}"]
    for name in ("TraceOff", "TraceOn"):
        ms = row.get(name)
        growth = f"{ms / previous[name]:.1f}" if previous and name in previous else "-"
        cells += [f"{ms:>13.3f}" if name == "TraceOff" else f"{ms:>12.3f}", f"{growth:>7}",
                  f"{ms * 1e6 / devices:>10.0f}"]
    print(" ".join(cells))
    previous = row
PY

echo
echo "== 2. instructions per record dropped with the trace off (callgrind)"
instructions() {
    valgrind --tool=callgrind --callgrind-out-file=/dev/null "$bin/dropped_record" "$@" 2>&1 |
        sed -n 's/.*Collected : *//p'
}
count=1000000
none=$(instructions 0 record)
records=$(instructions "$count" record)
empty=$(instructions "$count" empty)
python3 - "$count" "$none" "$records" "$empty" <<'PY'
import sys
count, none, records, empty = map(int, sys.argv[1:])
print(f"{count} calls of a site with a record: {records} instructions; no calls: {none}; "
      f"{count} calls of an empty site: {empty}")
print(f"per dropped record, the site's call included: {(records - none) / count:.2f}")
print(f"per dropped record, against an empty site:    {(records - empty) / count:.2f}")
PY

echo
echo "== 3. peak heap of one run against the number of devices (bytes)"
"$bin/installer_heap"

echo
echo "== 4. plan's catalog check over a signed 512 MiB package, against sha256sum (host, warm cache)"
cmake --build --preset bench --target InstallerCheck >/dev/null
windows=()
if [[ ${BENCH_WINE:-1} != 0 ]] && command -v wine >/dev/null; then
    cmake --preset win64 >/dev/null
    cmake --build --preset win64 --target InstallerCheck WineTrustHelper >/dev/null
    windows=(build/win64)
fi
bash scripts/bench-catalog.sh build/bench/InstallerCheck build/bench/catalog "${windows[@]}"

if [[ ${BENCH_WINE:-1} == 0 ]] || ! command -v wine >/dev/null; then
    echo
    echo "== 5. Wine timing skipped (BENCH_WINE=0 or no wine)"
    exit 0
fi

echo
echo "== 5. Installer.exe and InstallerCheck.exe verify under Wine, trace off, 2,000 registered"
echo "      devices (seconds, wall)"
wine_dir=$PWD/build/bench/wine
mkdir -p "$wine_dir"
if [[ ! -f build/win64/Installer.exe || ! -f build/win64/InstallerCheck.exe ]]; then
    cmake --preset win64 >/dev/null
    cmake --build --preset win64 --target Installer InstallerCheck >/dev/null
fi
# A copy with nothing beside it: no settings file switches the trace on.
cp build/win64/Installer.exe build/win64/InstallerCheck.exe "$wine_dir/"
x86_64-w64-mingw32-g++ -std=c++20 -O2 -Wall -Wextra -Werror -municode -static \
    -I SourceCode/Win32 SourceCode/Installer/bench/PlatformCalls-win32.cpp -lsetupapi -ladvapi32 \
    -o "$wine_dir/PlatformCalls.exe"
printf '[Version]\r\nSignature="$Windows NT$"\r\nClass=System\r\n' >"$wine_dir/sample.inf"

# A prefix of the benchmark's own, made once: wineboot, then 2,000 devices under
# HKLM\System\CurrentControlSet\Enum\ROOT\BENCH, each with a two-entry hardware-ID list.
export WINEPREFIX=$PWD/build/bench/wine-prefix WINEDEBUG=-all
if [[ ! -f $WINEPREFIX/.bench-devices ]]; then
    rm -rf "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1
    python3 - "$wine_dir/devices.reg" <<'PY'
import sys
lines = ["Windows Registry Editor Version 5.00", ""]
for i in range(2000):
    full = "PCI\\VEN_8086&DEV_%04X&SUBSYS_%08X&REV_%02X" % (i, i * 2654435761 % 0xFFFFFFFF, i % 256)
    data = "".join(s + "\0" for s in (full, "PCI\\VEN_8086&DEV_%04X" % i)) + "\0"
    lines += ["[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Enum\\ROOT\\BENCH\\%04d]" % i,
              '"ClassGUID"="{4D36E97D-E325-11CE-BFC1-08002BE10318}"',
              '"ConfigFlags"=dword:00000000',
              '"HardwareID"=hex(7):' + ",".join("%02x" % b for b in data.encode("utf-16-le")), ""]
open(sys.argv[1], "w", encoding="utf-16").write("\r\n".join(lines) + "\r\n")
PY
    wine regedit /S "$(winepath -w "$wine_dir/devices.reg")" >/dev/null 2>&1
    wineserver -w
    touch "$WINEPREFIX/.bench-devices"
fi

inf=$(winepath -w "$wine_dir/sample.inf")
time_run() {
    local start end
    start=$(date +%s%N)
    wine "$@" >/dev/null 2>&1
    end=$(date +%s%N)
    echo $(((end - start) / 1000000))
}
# Kept running between the runs, so that they do not pay for its start (2: already running).
wineserver -p || true
time_run "$wine_dir/Installer.exe" 'PCI\VEN_1234&DEV_FFFF' "$inf" >/dev/null # warm-up
time_run "$wine_dir/PlatformCalls.exe" "$inf" >/dev/null
installer=()
calls=()
check=()
for ((i = 0; i < ${BENCH_RUNS:-5}; ++i)); do
    installer+=("$(time_run "$wine_dir/Installer.exe" 'PCI\VEN_1234&DEV_FFFF' "$inf")")
    calls+=("$(time_run "$wine_dir/PlatformCalls.exe" "$inf")")
    check+=("$(time_run "$wine_dir/InstallerCheck.exe" verify 'PCI\VEN_1234&DEV_FFFF' "$inf")")
done
wineserver -k
python3 - "${installer[*]}" "${calls[*]}" "${check[*]}" <<'PY'
import statistics, sys
installer, calls, check = ([int(ms) / 1000 for ms in arg.split()] for arg in sys.argv[1:])
for name, times in (("Installer.exe", installer), ("platform calls only", calls),
                    ("InstallerCheck verify", check)):
    print(f"{name:<20} median {statistics.median(times):6.3f}  runs " +
          " ".join(f"{t:.3f}" for t in times))
print(f"difference of the medians: {statistics.median(installer) - statistics.median(calls):+.3f}")
PY

