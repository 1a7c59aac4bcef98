#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (own build directory) and runs each for a while.
# Usage: fuzz.sh [SECONDS] [TARGET...]   SECONDS per target (default 10); TARGET names such
# as manifest_line (default: all). Prints executions and time per target; fails on any
# crash, sanitizer report, leak or timeout, and leaves the input under the work directory.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${FUZZ_BUILD_DIR:-$root/build-fuzz}"
jobs="${JOBS:-$(nproc)}"
seconds="${1:-10}"
shift || true

case "$seconds" in
'' | *[!0-9]*)
    echo "usage: $0 [SECONDS] [TARGET...]" >&2
    exit 2
    ;;
esac

bash "$root/scripts/install-deps.sh"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DDUSKMERE_FUZZ=ON -DDUSKMERE_TESTS=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$jobs" --target fuzzers >"$build/fuzz-build.log" 2>&1 || {
    tail -40 "$build/fuzz-build.log"
    echo "fuzz: build failed (log: $build/fuzz-build.log)" >&2
    exit 1
}

if [ $# -gt 0 ]; then
    targets=("$@")
else
    targets=()
    for dir in "$root"/fuzz/corpus/*/; do
        targets+=("$(basename "$dir")")
    done
fi

export ASAN_OPTIONS="halt_on_error=1:abort_on_error=1:detect_leaks=1:allocator_may_return_null=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
work="$build/fuzz-work"
status=0
printf '%-16s %14s %8s %10s\n' target executions seconds exec/s
for name in "${targets[@]}"; do
    program="$build/fuzz/${name}_fuzzer"
    seeds="$root/fuzz/corpus/$name"
    if [ ! -x "$program" ] || [ ! -d "$seeds" ]; then
        echo "fuzz: no target '$name'" >&2
        status=1
        continue
    fi
    # New inputs go to a work corpus, so the committed seeds stay small.
    mkdir -p "$work/$name/corpus" "$work/$name/crashes"
    log="$work/$name/run.log"
    options=()
    if [ -f "$root/fuzz/$name.dict" ]; then
        options+=(-dict="$root/fuzz/$name.dict")
    fi
    result=0
    "$program" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$work/$name/crashes/" "${options[@]}" "$work/$name/corpus" "$seeds" \
        >"$log" 2>&1 || result=$?
    runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)"
    took="$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log" | tail -1)"
    rate="$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)"
    printf '%-16s %14s %8s %10s\n' "$name" "${runs:-?}" "${took:-?}" "${rate:-?}"
    if [ "$result" -ne 0 ]; then
        echo "fuzz: $name failed (exit $result); log $log" >&2
        grep -E -A30 '^==[0-9]+==ERROR|runtime error|check failed|ERROR: libFuzzer' "$log" |
            head -60 >&2 || tail -40 "$log" >&2
        ls "$work/$name/crashes" >&2 || true
        status=1
    fi
done
if [ "$status" -eq 0 ]; then
    echo "fuzz: ${#targets[@]} targets ran ${seconds}s each without a crash"
fi
exit "$status"
