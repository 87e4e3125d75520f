#!/usr/bin/env bash
# Builds the libFuzzer targets (preset `fuzz`, clang) and runs each one for a set time over
# a working copy of its seed corpus, one target after another.
#
#   scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]
#
# SECONDS_PER_TARGET defaults to 60. Without target names every target runs. The seeds in
# fuzz/corpus/<target>/ are copied to build/fuzz/work/corpus/<target>/ and only that copy
# grows; a finding is saved as build/fuzz/work/<target>-crash-... (add it to the seed
# corpus by hand once the fault is mended). Prints the executions done per target and exits
# non-zero when any target found something or failed to run.
set -u -o pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
SECONDS_PER_TARGET="${1:-60}"
shift || true
ALL_TARGETS=(command_string command_file ini_file hex_number mbus_decode receive_path mbus_records)
if [ "$#" -gt 0 ]; then TARGETS=("$@"); else TARGETS=("${ALL_TARGETS[@]}"); fi
JOBS="${JOBS:-2}"

if ! [[ "$SECONDS_PER_TARGET" =~ ^[0-9]+$ ]] || [ "$SECONDS_PER_TARGET" -eq 0 ]; then
    echo "usage: $0 [SECONDS_PER_TARGET] [TARGET...]" >&2
    exit 2
fi

cd "$ROOT"
cmake --preset fuzz >/dev/null || exit 1
cmake --build --preset fuzz -j "$JOBS" --target fuzzers || exit 1

BIN="$ROOT/build/fuzz/fuzz"
WORK="$ROOT/build/fuzz/work"
mkdir -p "$WORK/corpus" "$WORK/logs" "$WORK/tmp"

# Per-target options: the settings reader gets room for values past the read limit; the
# receive path stays small enough to check every row of every input.
options_for() {
    case "$1" in
        ini_file) echo "-max_len=8192" ;;
        receive_path) echo "-max_len=1024" ;;
        *) echo "" ;;
    esac
}

export ASAN_OPTIONS="${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
# The settings target writes a file per input: keep it in memory when /dev/shm is there.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; else export TMPDIR="$WORK/tmp"; fi

failed=0
summary=()
for t in "${TARGETS[@]}"; do
    exe="$BIN/${t}_fuzz"
    if [ ! -x "$exe" ] || [ ! -d "fuzz/corpus/$t" ]; then
        echo "fuzz: unknown target '$t'" >&2
        summary+=("$t: unknown target")
        failed=1
        continue
    fi
    corpus="$WORK/corpus/$t"
    mkdir -p "$corpus"
    cp -n "fuzz/corpus/$t"/* "$corpus"/ 2>/dev/null || true
    log="$WORK/logs/$t.log"
    echo "== $t: ${SECONDS_PER_TARGET}s"
    # shellcheck disable=SC2046
    "$exe" -max_total_time="$SECONDS_PER_TARGET" -print_final_stats=1 \
        -artifact_prefix="$WORK/$t-" $(options_for "$t") "$corpus" >"$log" 2>&1
    rc=$?
    execs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)"
    if [ "$rc" -ne 0 ]; then
        failed=1
        echo "!! $t: finding or failure (exit $rc), log $log"
        grep -E "invariant broken|ERROR:|SUMMARY:|Test unit written" "$log" | head -n 8
        summary+=("$t: FAILED after ${execs:-?} executions (exit $rc)")
    else
        summary+=("$t: ${execs:-?} executions, no finding")
    fi
done

echo "== fuzz summary (${SECONDS_PER_TARGET}s per target)"
printf '  %s\n' "${summary[@]}"
exit "$failed"
