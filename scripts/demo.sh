#!/usr/bin/env bash
# Sets up everything, builds the host program and runs its main job on the bundled example
# machine: one present and one absent device with the same hardware ID. Shows the machine
# before and after, and the trace as plain text.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --preset host >/dev/null
cmake --build --preset host --target Installer TraceLogDecode >/dev/null

demo=build/demo
rm -rf "$demo"
mkdir -p "$demo"
# The program reads its settings from, and logs to, its own folder: run a copy in the demo
# folder so that nothing else is touched.
cp build/host/Installer "$demo/Installer"
cp examples/Machine.ini "$demo/Machine.ini"
printf '[OUTPUT]\nLOGFILE=1\nVIEW=1\nLEVEL=1\n' >"$demo/TqDbgCfg.ini"

hardware_id='USB\VID_1234&PID_5678'
inf="$PWD/examples/sample.inf"

echo "== Machine before"
cat "$demo/Machine.ini"
echo
echo "== Running: Installer '$hardware_id' '$inf'"
INSTALLER_MACHINE="$PWD/$demo/Machine.ini" \
    XTRACE_DEBUG_CHANNEL="$PWD/$demo/debug-channel.txt" \
    XTRACE_USER_REGISTRY="$PWD/$demo/no-overrides.reg" \
    "$demo/Installer" "$hardware_id" "$inf"
echo "exit code: $?"
echo
echo "== Trace (debugger channel)"
cat "$demo/debug-channel.txt"
echo
echo "== Machine after"
cat "$demo/Machine.ini"
echo
echo "== Driver store"
ls -l "$demo/DriverStore"
echo
echo "== Log file $(basename "$demo"/*.log): first lines as written, then decoded"
head -c 240 "$demo"/*.log | cat -v
echo
build/host/TraceLogDecode "$demo"/*.log
