#!/usr/bin/env bash
# The demo: builds the launcher, publishes two stand-in client images on a local web server
# that answers for the launcher's built-in host name, and runs the launcher twice: the first
# run downloads the newest image and boots it, the second finds everything up to date.
# Usage: demo.sh            (BUILD_DIR=... reuses another build folder)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
demo="$build/demo"
# shellcheck source=scripts/lib/local-nginx.sh
. "$root/scripts/lib/local-nginx.sh"

if [ "${DEMO_INSIDE:-}" != 1 ]; then
    bash "$root/scripts/install-deps.sh"
    if [ -z "${BUILD_DIR:-}" ]; then
        cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DDUSKMERE_SANITIZE=OFF \
            -DDUSKMERE_TESTS=OFF >/dev/null
    fi
    cmake --build "$build" -j "$(nproc)" --target duskmere-launcher duskmere-publish \
        demo-client-korvix_v1.00 demo-client-korvix_v1.01

    rm -rf "$demo"
    mkdir -p "$demo/images" "$demo/www" "$demo/home"
    # The images are padded so that the download lasts long enough to be seen.
    for image in "$build"/demo-images/*; do
        cp "$image" "$demo/images/"
        head -c 400000 /dev/zero >>"$demo/images/$(basename "$image")"
    done
    "$build/duskmere-publish" "$demo/images" "$demo/www"
    chmod -R a+rX "$demo/www"
    chmod a+x "$build" "$demo"

    # The user's own X display is reachable through its socket file; the sandbox's private
    # /tmp would hide it, so that folder is carried into it.
    display_note="the sandbox's own Xvfb (screenshots below)"
    keep=""
    if [[ "${DISPLAY:-}" =~ ^:([0-9]+)(\.[0-9]+)?$ ]] && [ -S "/tmp/.X11-unix/X${BASH_REMATCH[1]}" ]; then
        keep=/tmp/.X11-unix
        export XAUTHORITY="${XAUTHORITY:-$HOME/.Xauthority}"
        display_note="your display $DISPLAY"
    else
        unset DISPLAY
    fi
    echo "== Running the launcher on $display_note"
    DEMO_INSIDE=1 BUILD_DIR="$build" SANDBOX_NO_DISPLAY=1 SANDBOX_KEEP="$keep" \
        bash "$root/scripts/sandbox.sh" bash "$0"
    exit $?
fi

# Inside the sandbox: private network where the built-in host name is 127.0.0.1.
cleanup() {
    [ -n "${launcher_pid:-}" ] && kill "$launcher_pid" 2>/dev/null || true
    [ -n "${nginx_pid:-}" ] && kill "$nginx_pid" 2>/dev/null || true
    [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null || true
    wait 2>/dev/null || true
}
trap cleanup EXIT

if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then
    Xvfb :77 -screen 0 1024x768x24 -nolisten tcp >"$demo/xvfb.log" 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 1 100); do
        [ -S /tmp/.X11-unix/X77 ] && break
        sleep 0.05
    done
    export DISPLAY=:77
fi

# Images at a modem's pace, so the progress bar has something to show.
local_nginx_conf "$demo/nginx" "$demo/www" "access_log logs/access.log;" \
    "location /downloads/korvix_v3/korvix_ { limit_rate 150k; }"
local_nginx_start "$demo/nginx"

# One launcher run with a scratch HOME; its console (and the client's line) goes to a log.
run_launcher() {
    local log="$1" shot="$2"
    HOME="$demo/home" NO_AT_BRIDGE=1 GDK_BACKEND=x11 "$build/duskmere-launcher" >"$log" 2>&1 &
    launcher_pid=$!
    if [ -n "$shot" ]; then
        for _ in $(seq 1 200); do
            grep -q "file to update\|files to update\|up to date" "$log" && break
            sleep 0.05
        done
        sleep 1.2
        import -window root "$shot" 2>/dev/null || true
    fi
    for _ in $(seq 1 600); do
        kill -0 "$launcher_pid" 2>/dev/null || break
        sleep 0.1
    done
    kill "$launcher_pid" 2>/dev/null || true
    wait "$launcher_pid" 2>/dev/null || true
    launcher_pid=""
}

echo "== First run: nothing installed"
run_launcher "$demo/run1.log" "$demo/screenshot-download.png"
grep -v '^\.*$' "$demo/run1.log" | sed 's/^/   | /'
echo "== Second run: everything installed"
run_launcher "$demo/run2.log" ""
grep -v '^\.*$' "$demo/run2.log" | sed 's/^/   | /'

cp /tmp/duskmere_korvix_launcher.txt "$demo/debug-log.txt" 2>/dev/null || true
echo "== What happened"
echo "Installed images:    $(cd "$demo/home/.Duskmere/executables" && ls korvix_* | tr '\n' ' ')"
echo "Crash-detection file: $(cat "$demo/home/.Duskmere/bootname.txt" 2>/dev/null)"
echo "Requests to the web server:"
sed 's/^/   | /' "$demo/nginx/logs/access.log"
echo "Screenshot during the download: $demo/screenshot-download.png"
echo "Launcher debug log: $demo/debug-log.txt"
grep -q "Duskmere client korvix_v1.01 started as 'korvix_v1.01' with: -l 1.095-gtk-rc4" \
    "$demo/run1.log" && grep -q "Everything appears to be up to date already." "$demo/run2.log" &&
    grep -q "Duskmere client korvix_v1.01" "$demo/run2.log"
