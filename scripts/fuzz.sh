#!/usr/bin/env bash
# Builds the libFuzzer targets (preset `fuzz`, clang; nothing but the targets and the core
# libraries they link) and runs each one for a set time over a working copy of its seed corpus,
# JOBS targets at a time (default 2).
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

# Runs one target over its corpus and writes its line of the summary to logs/<target>.result
# ("ok: ..." or "FAILED: ...").
run_target() {
    local t="$1" exe="$BIN/${1}_fuzz" corpus="$WORK/corpus/$1" log="$WORK/logs/$1.log"
    mkdir -p "$corpus"
    cp -n "fuzz/corpus/$t"/* "$corpus"/ 2>/dev/null || true
    # shellcheck disable=SC2046
    "$exe" -max_total_time="$SECONDS_PER_TARGET" -print_final_stats=1 \
        -artifact_prefix="$WORK/$t-" $(options_for "$t") "$corpus" >"$log" 2>&1
    local rc=$?
    local execs
    execs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)"
    if [ "$rc" -ne 0 ]; then
        echo "!! $t: finding or failure (exit $rc), log $log"
        grep -E "invariant broken|ERROR:|SUMMARY:|Test unit written" "$log" | head -n 8
        echo "FAILED: $t: FAILED after ${execs:-?} executions (exit $rc)" >"$WORK/logs/$t.result"
    else
        echo "ok: $t: ${execs:-?} executions, no finding" >"$WORK/logs/$t.result"
    fi
}

# The targets run side by side, JOBS at a time, each for the whole time it is given.
failed=0
summary=()
running=0
started=()
for t in "${TARGETS[@]}"; do
    exe="$BIN/${t}_fuzz"
    if [ ! -x "$exe" ] || [ ! -d "fuzz/corpus/$t" ]; then
        echo "fuzz: unknown target '$t'" >&2
        summary+=("$t: unknown target")
        failed=1
        continue
    fi
    rm -f "$WORK/logs/$t.result"
    if [ "$running" -ge "$JOBS" ]; then
        wait -n
        running=$((running - 1))
    fi
    echo "== $t: ${SECONDS_PER_TARGET}s"
    run_target "$t" &
    started+=("$t")
    running=$((running + 1))
done
wait
for t in "${started[@]}"; do
    result="$WORK/logs/$t.result"
    line="$(cat "$result" 2>/dev/null || echo "FAILED: $t: no result")"
    summary+=("${line#*: }")
    [[ "$line" == ok:* ]] || failed=1
done

echo "== fuzz summary (${SECONDS_PER_TARGET}s per target)"
printf '  %s\n' "${summary[@]}"
exit "$failed"
