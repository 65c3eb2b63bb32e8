#!/usr/bin/env bash
# Bounded fuzz runs: builds preset "fuzz" and runs every libFuzzer target for FUZZ_SECONDS
# (default 60) from its seed corpus. Exits non-zero when any target finds a crash, a sanitizer
# report, a timeout or a broken property; the input that did it is left in
# build/fuzz/findings/<target>/ and the target's output in build/fuzz/logs/<target>.log.
#
#   FUZZ_SECONDS   time per target (default 60)
#   FUZZ_JOBS      targets run at the same time (default: the number of processors)
#   FUZZ_TARGETS   the targets to run, separated by blanks (default: all)
#
# Inputs found along the way go to build/fuzz/corpus/<target>/, never to the seed corpora in the
# source tree; later runs start from them as well.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-60}
jobs=${FUZZ_JOBS:-$(nproc)}

# target  seed corpus  dictionary (- for none)
table=(
    "format_fuzzer              SourceCode/XTrace/fuzz/corpus/format              SourceCode/XTrace/fuzz/format.dict"
    "scramble_fuzzer            SourceCode/XTrace/fuzz/corpus/scramble            -"
    "profile_int_fuzzer         SourceCode/XTrace/fuzz/corpus/profile_int         SourceCode/XTrace/fuzz/profile_int.dict"
    "override_store_fuzzer      SourceCode/XTrace/fuzz/corpus/override_store      SourceCode/XTrace/fuzz/override_store.dict"
    "machine_file_fuzzer        SourceCode/DeviceSimulator/fuzz/corpus/machine_file SourceCode/DeviceSimulator/fuzz/machine_file.dict"
    "inf_parser_fuzzer          SourceCode/DeviceSimulator/fuzz/corpus/inf_parser  SourceCode/DeviceSimulator/fuzz/inf_parser.dict"
    "hwid_walk_equality_fuzzer  SourceCode/Installer/fuzz/corpus/hwid_walk        -"
    "hwid_walk_prefix_fuzzer    SourceCode/Installer/fuzz/corpus/hwid_walk        -"
    "check_equality_fuzzer      SourceCode/InstallerCheck/fuzz/corpus/check       -"
    "check_prefix_fuzzer        SourceCode/InstallerCheck/fuzz/corpus/check       -"
    "package_fuzzer             SourceCode/InstallerCheck/fuzz/corpus/package     SourceCode/DeviceSimulator/fuzz/inf_parser.dict"
    "catalog_fuzzer             SourceCode/Catalog/fuzz/corpus/catalog            -"
)

bash scripts/setup.sh
# clang and its fuzzer and sanitizer runtimes are not part of the basic setup.
missing=()
for package in clang libclang-rt-dev; do
    dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
if ((${#missing[@]} > 0)); then
    if [[ $(id -u) != 0 ]]; then
        echo "fuzz: missing packages: ${missing[*]} (run as root to install them)" >&2
        exit 1
    fi
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null
fi
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

out=build/fuzz
mkdir -p "$out/logs"

run_target() {
    local target=$1 seeds=$2 dict=$3
    local corpus=$out/corpus/$target findings=$out/findings/$target
    mkdir -p "$corpus" "$findings"
    local options=(-max_total_time="$seconds" -timeout=10 -print_final_stats=1
                   -artifact_prefix="$findings/")
    [[ $dict != - ]] && options+=(-dict="$dict")
    local status=0
    "$out/fuzzers/$target" "${options[@]}" "$corpus" "$seeds" >"$out/logs/$target.log" 2>&1 ||
        status=$?
    echo "$status" >"$out/logs/$target.status"
}

selected=()
for row in "${table[@]}"; do
    read -r target _ <<<"$row"
    if [[ -z ${FUZZ_TARGETS:-} || " $FUZZ_TARGETS " == *" $target "* ]]; then
        selected+=("$row")
    fi
done
((${#selected[@]} > 0)) || { echo "fuzz: no target matches FUZZ_TARGETS" >&2; exit 1; }

echo "== fuzzing ${#selected[@]} targets, ${seconds} s each, $jobs at a time"
for row in "${selected[@]}"; do
    read -r target seeds dict <<<"$row"
    while (($(jobs -rp | wc -l) >= jobs)); do
        wait -n || true
    done
    rm -f "$out/logs/$target.status"
    run_target "$target" "$seeds" "$dict" &
done
wait

failed=0
for row in "${selected[@]}"; do
    read -r target _ <<<"$row"
    status=$(cat "$out/logs/$target.status" 2>/dev/null || echo 1)
    log=$out/logs/$target.log
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    corpus=$(find "$out/corpus/$target" -type f | wc -l)
    if ((status == 0)); then
        printf '%-28s ok     %12s runs  %6s inputs in corpus\n' "$target" "${runs:-?}" "$corpus"
    else
        failed=1
        printf '%-28s FAILED (exit %d), see %s and %s\n' "$target" "$status" "$log" \
            "$out/findings/$target/"
        grep -m1 -E 'property violated|ERROR: |SUMMARY: ' "$log" | sed 's/^/    /' || true
    fi
done
exit $failed
