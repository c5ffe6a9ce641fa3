#!/usr/bin/env bash
# Bursts of replies to one probe: N simulated devices answer at once across a veth link and vantrel-scan
# lists them. Prints, per run, how many were listed and when the last one was. Each device answers from its
# own address (held by the devices' namespace), as real devices do: one sender announcing thousands of
# devices would be cut to its share.
# Usage: burst.sh BUILD_DIR [COUNT...]   (as root; everything runs in namespaces this script makes)
# VANTREL_SCAN_ARGS adds options to vantrel-scan; "--receive-buffer 106496 --work-per-reply-us 75" gives the
# Linux default socket buffer (212992 bytes once the kernel doubles it) and a slow consumer.
set -euo pipefail
build=${1:?usage: burst.sh BUILD_DIR [COUNT...]}
shift
counts=("$@")
[ ${#counts[@]} -gt 0 ] || counts=(2000 10000)
most=$(printf '%s\n' "${counts[@]}" | sort -n | tail -1)
[ "$most" -le 60000 ] || { echo "burst.sh: at most 60000 devices" >&2; exit 2; }
host=vtburst$$h
dev=vtburst$$d
cleanup() {
    [ -n "${sim:-}" ] && kill "$sim" 2>/dev/null && wait "$sim" 2>/dev/null
    ip netns del "$host" 2>/dev/null || true
    ip netns del "$dev" 2>/dev/null || true
}
trap cleanup EXIT
ip netns add "$host"
ip netns add "$dev"
ip link add vburst0 netns "$host" type veth peer name vburst1 netns "$dev"
ip -n "$host" addr add 10.77.0.1/16 dev vburst0
ip -n "$dev" addr add 10.77.0.2/16 dev vburst1
for ns in "$host" "$dev"; do ip -n "$ns" link set lo up; done
# the devices' addresses, 10.77.1.1 counting up: inside the host's subnet, so that its reverse-path filter
# lets their replies in
for ((i = 0; i < most; i++)); do
    echo "addr add 10.77.$((1 + (i + 1) / 256)).$(((i + 1) % 256))/32 dev lo"
done | ip -n "$dev" -batch -
ip -n "$host" link set vburst0 up
ip -n "$dev" link set vburst1 up
for count in "${counts[@]}"; do
    ip netns exec "$dev" "$build/bin/vantrel-devsim" --devices "$count" --first-address 10.77.1.1 --mask 255.255.0.0 \
        --gateway 10.77.0.1 --source announced --quiet >/dev/null &
    sim=$!
    sleep 0.3
    printf '%6d replies: ' "$count"
    ip netns exec "$host" "$build/bin/vantrel-scan" --probes 1 --time 3 --stats ${VANTREL_SCAN_ARGS:-} 2>&1 >/dev/null |
        sed 's/^vantrel-scan: //'
    kill "$sim"
    wait "$sim" 2>/dev/null || true
    sim=
done
