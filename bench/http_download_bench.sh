#!/usr/bin/env bash
# Download benchmark: the same file from a local nginx with the launcher's downloader
# (duskmere-http-get) and with curl, in one sandboxed run. Prints both throughputs and the
# downloader's peak memory for a small and a large file (memory must not follow the size).
# Usage: bench/http_download_bench.sh [SIZE_MIB]   (default 1024; release build in build-bench)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
size_mib="${1:-1024}"
# shellcheck source=scripts/lib/local-nginx.sh
. "$root/scripts/lib/local-nginx.sh"

if [ "${BENCH_INSIDE:-}" != 1 ]; then
    build="${BUILD_DIR:-$root/build-bench}"
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DDUSKMERE_SANITIZE=OFF \
        -DDUSKMERE_TESTS=OFF >/dev/null
    cmake --build "$build" -j2 --target duskmere-http-get >/dev/null
    exec env BENCH_INSIDE=1 SANDBOX_NO_DISPLAY=1 HTTP_GET="$build/duskmere-http-get" \
        "$root/scripts/sandbox.sh" "$0" "$size_mib"
fi

work=/tmp/http-bench
mkdir -p "$work/www"
head -c $((size_mib * 1024 * 1024)) /dev/urandom >"$work/www/big.bin"
head -c $((16 * 1024 * 1024)) /dev/urandom >"$work/www/small.bin"
local_nginx_conf "$work/nginx" "$work/www" "access_log off; sendfile on;"
local_nginx_start "$work/nginx"
trap 'kill "$nginx_pid" 2>/dev/null; wait "$nginx_pid" 2>/dev/null || true' EXIT

host=updates.duskmere.example
bytes=$(stat -c %s "$work/www/big.bin")
best_ours=0
best_curl=0
rss_big=0
faster() { awk -v a="$1" -v b="$2" 'BEGIN { print (a > b) ? a : b }'; }
for round in 1 2 3; do
    line=$("$HTTP_GET" "$host" /big.bin "$work/out.bin")
    [ "$(stat -c %s "$work/out.bin")" = "$bytes" ] || { echo "size mismatch: $line"; exit 1; }
    rm -f "$work/out.bin"
    mbs=$(sed -n 's/.*MB\/s=\([0-9.]*\).*/\1/p' <<<"$line")
    rss=$(sed -n 's/.*max_rss_kb=\([0-9]*\).*/\1/p' <<<"$line")
    best_ours=$(faster "$best_ours" "$mbs")
    rss_big=$(faster "$rss_big" "$rss")

    speed=$(curl -s -o "$work/out.bin" -w '%{speed_download}' "http://$host/big.bin")
    [ "$(stat -c %s "$work/out.bin")" = "$bytes" ] || { echo "curl size mismatch"; exit 1; }
    rm -f "$work/out.bin"
    curl_mbs=$(awk -v s="$speed" 'BEGIN { printf "%.1f", s / 1e6 }')
    best_curl=$(faster "$best_curl" "$curl_mbs")
    echo "round $round: downloader $mbs MB/s, curl $curl_mbs MB/s"
done
small_line=$("$HTTP_GET" "$host" /small.bin "$work/out.bin")
rm -f "$work/out.bin"
rss_small=$(sed -n 's/.*max_rss_kb=\([0-9]*\).*/\1/p' <<<"$small_line")

ratio=$(awk -v a="$best_ours" -v b="$best_curl" 'BEGIN { printf "%.1f", 100 * a / b }')
echo "file: ${size_mib} MiB from nginx on 127.0.0.1 (best of 3)"
echo "downloader: $best_ours MB/s   curl: $best_curl MB/s   ratio: $ratio %"
echo "downloader peak RSS: ${rss_big} KiB for ${size_mib} MiB, ${rss_small} KiB for 16 MiB"
