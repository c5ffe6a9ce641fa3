#!/usr/bin/env bash
# Takes the screenshots in docs/ on a virtual X server (Xvfb). Everything runs inside a fresh network
# namespace joined by a veth link to a second one with simulated devices, so no probe leaves this machine.
# Needs root (unshare, ip netns) and a build with the program and tools:
#     BUILD=build-dir [OUT=folder] docs/take-screenshots.sh
# OUT is where the pictures go (docs/ by default).
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${BUILD:-$top/build}" && pwd)
out=$(cd "${OUT:-$top/docs}" && pwd)
for needed in "$build/bin/vantrel-devsim" "$build/tests/vantrel_screenshots"; do
    [ -x "$needed" ] || { echo "$needed is not built (cmake --build $build)" >&2; exit 1; }
done
command -v Xvfb >/dev/null || { echo "Xvfb is not installed (scripts/ensure-packages)" >&2; exit 1; }
exec unshare -n -- bash -c '
    set -euo pipefail
    build=$1 out=$2
    devices=vantrel-shots-$$
    ip link set lo up
    ip netns add "$devices"
    trap "kill \$(jobs -p) \${xvfb:-} 2>/dev/null || true; ip netns delete $devices" EXIT
    ip link add vshot0 type veth peer name vshot1 netns "$devices"
    ip addr add 10.77.0.1/24 dev vshot0 && ip link set vshot0 up
    ip -n "$devices" addr add 10.77.0.2/24 dev vshot1
    ip -n "$devices" link set vshot1 up && ip -n "$devices" link set lo up
    ip netns exec "$devices" "$build/bin/vantrel-devsim" --devices 9 --first-address 192.168.1.101 \
        --device 10.20.0.31,255.255.0.0,10.20.0.1,37777 --device 10.20.0.32,255.255.0.0,10.20.0.1,37777 \
        --device 10.20.0.40,255.255.0.0,10.20.0.1,8080 --device 10.77.0.2,255.255.255.0,10.77.0.1,8000 \
        --jitter 300 --quiet &
    # Xvfb picks a free display and names it once it accepts clients, so no other X server is in the way
    exec 3< <(exec Xvfb -displayfd 1 -screen 0 1280x800x24 -nolisten tcp 2>/dev/null)
    xvfb=$!
    read -r -t 10 display <&3 || { echo "Xvfb did not start" >&2; exit 1; }
    DISPLAY=:$display QT_QPA_PLATFORM=xcb "$build/tests/vantrel_screenshots" "$out"
' _ "$build" "$out"
