#!/usr/bin/env bash
# Takes the screenshots in docs/ on a virtual X server (Xvfb). Everything runs inside a fresh network
# namespace joined by a veth link to a second one with simulated devices, so no probe leaves this machine.
# Needs root (unshare, ip netns) and a build with the program and tools: BUILD=build-dir docs/take-screenshots.sh
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD:-$top/build}
exec unshare -n -- bash -c '
    set -euo pipefail
    top=$1 build=$2
    devices=vantrel-shots-$$
    ip link set lo up
    ip netns add "$devices"
    trap "kill \$(jobs -p) 2>/dev/null || true; ip netns delete $devices" EXIT
    ip link add vshot0 type veth peer name vshot1 netns "$devices"
    ip addr add 10.77.0.1/24 dev vshot0 && ip link set vshot0 up
    ip -n "$devices" addr add 10.77.0.2/24 dev vshot1
    ip -n "$devices" link set vshot1 up && ip -n "$devices" link set lo up
    ip netns exec "$devices" "$build/bin/vantrel-devsim" --devices 9 --first-address 192.168.1.101 \
        --device 10.20.0.31,255.255.0.0,10.20.0.1,37777 --device 10.20.0.32,255.255.0.0,10.20.0.1,37777 \
        --device 10.20.0.40,255.255.0.0,10.20.0.1,8080 --device 10.77.0.2,255.255.255.0,10.77.0.1,8000 \
        --jitter 300 --quiet &
    Xvfb :77 -screen 0 1280x800x24 -nolisten tcp &
    sleep 1
    DISPLAY=:77 QT_QPA_PLATFORM=xcb "$build/tests/vantrel_screenshots" "$top/docs"
' _ "$top" "$build"
