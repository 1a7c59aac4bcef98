#!/usr/bin/env bash
# Runs a command in private network, mount and host-name namespaces: loopback up, the
# update host resolving to 127.0.0.1, a private /tmp and an Xvfb display of its own.
# Usage: sandbox.sh COMMAND [ARGS...]   (environment SANDBOX_HOST overrides the host name)
set -euo pipefail
if [ "${SANDBOX_INSIDE:-}" != 1 ]; then
    exec env SANDBOX_INSIDE=1 unshare -n -m -u --fork -- "$0" "$@"
fi

host="${SANDBOX_HOST:-updates.duskmere.example}"
mount --make-rprivate /
ip link set lo up

# Keep anything of the caller's that lives under /tmp (a checkout, a build) reachable.
keep=()
for p in "$PWD" "$(cd "$(dirname "$0")/.." && pwd)" ${SANDBOX_KEEP:-}; do
    case "$p" in /tmp/*) keep+=("$p") ;; esac
done
if [ ${#keep[@]} -gt 0 ]; then
    mkdir -p /run/sandbox-oldtmp
    mount --bind /tmp /run/sandbox-oldtmp
fi
mount -t tmpfs -o mode=1777 tmpfs /tmp
for p in "${keep[@]}"; do
    mkdir -p "$p"
    mount --bind "/run/sandbox-oldtmp/${p#/tmp/}" "$p"
done

mkdir -p /tmp/.sandbox
printf '127.0.0.1 localhost\n127.0.0.1 %s\n::1 localhost\n' "$host" > /tmp/.sandbox/hosts
mount --bind /tmp/.sandbox/hosts /etc/hosts

xvfb_pid=""
if [ "${SANDBOX_NO_DISPLAY:-}" != 1 ]; then
    Xvfb :77 -screen 0 1024x768x24 -nolisten tcp >/tmp/.sandbox/xvfb.log 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 1 100); do
        [ -S /tmp/.X11-unix/X77 ] && break
        sleep 0.05
    done
    export DISPLAY=:77
fi
export NO_AT_BRIDGE=1 GDK_BACKEND=x11
if [ "${DUSKMERE_LEAKS:-}" = 1 ]; then
    export ASAN_OPTIONS="${ASAN_OPTIONS:-}:detect_leaks=1"
fi

status=0
"$@" || status=$?
[ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null || true
exit "$status"
