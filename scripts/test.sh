#!/usr/bin/env bash
# The test command: installs what is needed, builds with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs every test in its own private sandbox.
# Fails on any failed test and on any sanitizer report, from any process.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build-asan}"
jobs="${JOBS:-$(nproc)}"

bash "$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDUSKMERE_SANITIZE=ON >/dev/null
cmake --build "$build" -j "$jobs"

reports="$build/sanitizer-reports"
rm -rf "$reports"
mkdir -p "$reports"
export ASAN_OPTIONS="halt_on_error=1:abort_on_error=0:detect_leaks=0:log_path=$reports/asan"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:log_path=$reports/ubsan"
export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp"

status=0
# Every parser fuzzer for a few seconds each (scripts/fuzz.sh N runs them longer).
env -u ASAN_OPTIONS -u UBSAN_OPTIONS -u LSAN_OPTIONS bash "$root/scripts/fuzz.sh" "${FUZZ_SECONDS:-5}" || status=$?
(cd "$build" && ctest --output-on-failure -j "$jobs" --timeout 600 "$@") || status=$?

if compgen -G "$reports/*" >/dev/null; then
    echo "Sanitizer reports:"
    for f in "$reports"/*; do
        echo "== $f"
        head -60 "$f"
    done
    status=1
fi
exit "$status"
