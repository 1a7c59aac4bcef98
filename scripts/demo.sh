#!/usr/bin/env bash
# The main job: builds the launcher and starts it on the user's display, or under Xvfb
# when there is none.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/install-deps.sh"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDUSKMERE_TESTS=OFF >/dev/null
cmake --build "$root/build" -j "$(nproc)"

home="$root/build/demo-home"
mkdir -p "$home"
if [ -n "${DISPLAY:-}" ]; then
    HOME="$home" "$root/build/duskmere-launcher" "$@"
else
    HOME="$home" xvfb-run -a -s "-screen 0 1024x768x24" timeout 10 "$root/build/duskmere-launcher" "$@" || true
fi
