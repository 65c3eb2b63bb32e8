#!/usr/bin/env bash
# Sets up everything, builds the host program and runs its main job on the bundled example
# machine: one present and one absent device with the same hardware ID. Makes a test PKI and
# signs the example package's catalog with it (no key is kept in the repository), and shows the
# pre-flight refusing the INF without its catalog and the INF changed after signing, then the
# complete package: the machine before and after, the trace as plain text, the check of the
# result, and the removal of the driver package again.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --preset host >/dev/null
cmake --build --preset host --target Installer InstallerCheck InstallerRemove TraceLogDecode >/dev/null

demo=build/demo
rm -rf "$demo"
mkdir -p "$demo"
# The program reads its settings from, and logs to, its own folder: run a copy in the demo
# folder so that nothing else is touched.
cp build/host/Installer "$demo/Installer"
cp examples/Machine.ini "$demo/Machine.ini"
printf '[OUTPUT]\nLOGFILE=1\nVIEW=1\nLEVEL=1\n' >"$demo/TqDbgCfg.ini"

hardware_id='USB\VID_1234&PID_5678'
# The example package, its catalog signed here by the test PKI's publisher; the machine trusts
# the test root and that publisher, as a fleet's machines trust their vendor's.
bash tests/signing/make-pki.sh "$demo/pki" >/dev/null
mkdir -p "$demo/package"
cp examples/sample.inf "$demo/package/sample.inf"
osslsigncode sign -certs "$demo/pki/publisher.pem" -key "$demo/pki/publisher.key" -h sha256 \
    -in examples/sample.cat -out "$demo/package/sample.cat" >/dev/null
printf '\n[trust]\nroot = pki/root.pem\ntrusted-publisher = pki/publisher.pem\n' >>"$demo/Machine.ini"
inf="$PWD/$demo/package/sample.inf"

export INSTALLER_MACHINE="$PWD/$demo/Machine.ini"
# Prints the command, runs it and shows its exit code, whatever it is.
show() {
    echo "\$ $*"
    local code=0
    "$@" || code=$?
    echo "exit code: $code"
}

echo "== Machine before"
cat "$demo/Machine.ini"
echo
echo "== The pre-flight refuses a package without its catalog: the INF alone, copied elsewhere"
mkdir -p "$demo/incomplete"
cp examples/sample.inf "$demo/incomplete/sample.inf"
show build/host/InstallerCheck plan "$hardware_id" "$PWD/$demo/incomplete/sample.inf"
echo
echo "== The pre-flight refuses the INF changed after its catalog was signed, and names it"
mkdir -p "$demo/changed"
cp "$demo/package/sample.inf" "$demo/package/sample.cat" "$demo/changed/"
printf '; changed after signing\n' >>"$demo/changed/sample.inf"
show build/host/InstallerCheck plan "$hardware_id" "$PWD/$demo/changed/sample.inf"
echo
echo "== The complete package (sample.inf and sample.cat, signed by a trusted publisher): what"
echo "== Installer would do, and whether the machine is in the installed state"
show build/host/InstallerCheck plan "$hardware_id" "$inf"
show build/host/InstallerCheck verify "$hardware_id" "$inf"
echo
echo "== Running: Installer '$hardware_id' '$inf'"
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
echo
echo "== After the run: verified, and the detection script's one line"
show build/host/InstallerCheck verify "$hardware_id" "$inf"
show build/host/InstallerCheck verify --detect "$hardware_id" "$inf"
echo
echo "== The absent device's mark undone in the state file: not verified, and no detection line"
python3 - "$demo/Machine.ini" <<'PY'
import re, sys
text = open(sys.argv[1]).read()
# The flag word of the device on port 2, back to what it was before the run.
text = re.sub(r"(\[device USB\\VID_1234&PID_5678\\5&1A2B3C4D&0&2\][^\[]*?config-flags = )0x00000020",
              r"\g<1>0x00000000", text)
open(sys.argv[1], "w").write(text)
PY
show build/host/InstallerCheck verify "$hardware_id" "$inf"
show build/host/InstallerCheck verify --detect "$hardware_id" "$inf"
echo
echo "== Taking the driver package off again: what would go, the removal, and verify afterwards"
show build/host/InstallerRemove --dry-run "$hardware_id" "$inf"
show build/host/InstallerRemove "$hardware_id" "$inf"
show build/host/InstallerCheck verify "$hardware_id" "$inf"
show build/host/InstallerCheck verify --detect "$hardware_id" "$inf"
echo
echo "== Driver store after the removal"
ls -l "$demo/DriverStore"
echo
echo "== The deploy program and a publisher the machine does not trust yet: the package signed by"
echo "== the test PKI's second publisher is refused before any change, then installed once"
echo "== /trustpublisher names that publisher's thumbprint (Linux keeps 8 bits of an exit code:"
echo "== 1603 shows as 67; the log has it whole)"
cmake --build --preset host --target InstallerDeploy >/dev/null
deploy=$demo/deploy
mkdir -p "$deploy/x64" "$demo/second"
# The zip's layout: each architecture's programs in a folder of their own, the deploy program
# among them.
for program in Installer InstallerCheck InstallerRemove TraceLogDecode InstallerDeploy; do
    cp "build/host/$program" "$deploy/x64/$program.exe"
done
cp "$demo/package/sample.inf" "$demo/second/sample.inf"
osslsigncode sign -certs "$demo/pki/second-publisher.pem" -key "$demo/pki/second-publisher.key" \
    -h sha256 -in examples/sample.cat -out "$demo/second/sample.cat" >/dev/null
thumbprint=$(awk '$1 == "second-publisher" { print $2 }' "$demo/pki/thumbprints.txt")
show "$deploy/x64/InstallerDeploy.exe" /log "$PWD/$demo/deploy.log" "$hardware_id" \
    "$PWD/$demo/second/sample.inf"
show "$deploy/x64/InstallerDeploy.exe" /log "$PWD/$demo/deploy.log" /trustpublisher "$thumbprint" \
    "$hardware_id" "$PWD/$demo/second/sample.inf"
echo
echo "== The machine's [trust] section now, and the deployment log"
sed -n '/^\[trust\]/,$p' "$demo/Machine.ini"
cat "$demo/deploy.log"
