#!/usr/bin/env bash
# Installs everything the build, the demo and the tests need on Debian 12. Safe to run again.
set -euo pipefail

packages=(
    build-essential cmake pkg-config
    libwxgtk3.2-dev libssl-dev zlib1g-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    xvfb xauth xdotool x11-apps imagemagick
    nginx-light openssl curl python3 iproute2 util-linux procps
    clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO=sudo
    $SUDO apt-get update -qq
    $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
    # The packaged nginx may have started a system-wide server; the tests run their own.
    $SUDO systemctl stop nginx >/dev/null 2>&1 || $SUDO service nginx stop >/dev/null 2>&1 || true
fi
