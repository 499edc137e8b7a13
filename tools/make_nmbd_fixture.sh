#!/bin/bash
# Captures a real node status reply from Samba's nmbd as a test fixture.
#
#   tools/make_nmbd_fixture.sh [NBTQUERY] [OUTDIR]
#
# NBTQUERY defaults to build/default/tools/nbtquery, OUTDIR to tests/engine/data. Needs root.
# Two network namespaces of its own joined by a veth pair (10.231.0.1 asks, 10.231.0.2 runs
# nmbd), so nothing reaches the root namespace or its LAN. nmbd runs on a private smb.conf with
# private lock/state/cache/pid/log folders. The script waits until nmbd has won the browser
# election (7 names), then writes:
#   OUTDIR/nmbd_node_status.bin            the reply bytes to our own query
#   OUTDIR/nmbd_node_status.nmblookup.txt  `nmblookup -A` of the same peer
# and removes nmbd (by PID), the namespaces and the links it made, also on failure.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
nbtquery=${1:-$here/build/default/tools/nbtquery}
outdir=${2:-$here/tests/engine/data}
hostns=qvfx-host-$$
peerns=qvfx-peer-$$
host_ip=10.231.0.1
peer_ip=10.231.0.2
netbios_name=QV-NMBD-PEER
workgroup=QVLAB
want_names=7       # after the election: name<00,03,20>, __MSBROWSE__<01>, group<00,1d,1e>
election_limit=60  # seconds

[ "$(id -u)" = 0 ] || { echo "make_nmbd_fixture: needs root (network namespaces)" >&2; exit 2; }
[ -x "$nbtquery" ] || { echo "make_nmbd_fixture: $nbtquery not built (target nbtquery)" >&2; exit 2; }
command -v nmbd >/dev/null && command -v nmblookup >/dev/null ||
    { echo "make_nmbd_fixture: nmbd and nmblookup are needed (samba, samba-common-bin)" >&2; exit 2; }

lab=$(mktemp -d /tmp/qv-nmbd-fixture.XXXXXX)
nmbd_pid=

cleanup() {
    set +e
    if [ -n "$nmbd_pid" ] && kill -0 "$nmbd_pid" 2>/dev/null; then
        kill "$nmbd_pid"
        for _ in $(seq 50); do kill -0 "$nmbd_pid" 2>/dev/null || break; sleep 0.1; done
        kill -0 "$nmbd_pid" 2>/dev/null && kill -9 "$nmbd_pid"
        wait "$nmbd_pid" 2>/dev/null
    fi
    # Deleting the namespaces removes both veth ends with them.
    ip netns del "$hostns" 2>/dev/null
    ip netns del "$peerns" 2>/dev/null
    rm -rf "$lab"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

ip netns add "$hostns"
ip netns add "$peerns"
# Both ends are created directly inside the namespaces: the root namespace never sees them.
ip link add name qvfx0 netns "$hostns" type veth peer name qvfx1 netns "$peerns"
ip -n "$hostns" link set lo up
ip -n "$peerns" link set lo up
ip -n "$hostns" addr add "$host_ip/24" brd 10.231.0.255 dev qvfx0
ip -n "$peerns" addr add "$peer_ip/24" brd 10.231.0.255 dev qvfx1
ip -n "$hostns" link set qvfx0 up
ip -n "$peerns" link set qvfx1 up

write_conf() {  # DIR IFACE NAME
    mkdir -p "$1"/{lock,state,cache,private,pid,ncalrpc}
    cat >"$1/smb.conf" <<EOF
[global]
   netbios name = $3
   workgroup = $workgroup
   server string = quorvane fixture peer
   interfaces = $2
   bind interfaces only = yes
   disable netbios = no
   dns proxy = no
   lock directory = $1/lock
   state directory = $1/state
   cache directory = $1/cache
   private dir = $1/private
   pid directory = $1/pid
   ncalrpc dir = $1/ncalrpc
   log file = $1/log.%m
   log level = 1
EOF
}
write_conf "$lab/peer" qvfx1 "$netbios_name"
write_conf "$lab/client" qvfx0 QV-FIXTURE-CLI

# `ip netns exec` execs nmbd, so $! is nmbd's own PID.
ip netns exec "$peerns" nmbd -F --no-process-group -s "$lab/peer/smb.conf" >"$lab/nmbd.out" 2>&1 &
nmbd_pid=$!

lookup() {
    ip netns exec "$hostns" nmblookup -s "$lab/client/smb.conf" -A "$peer_ip"
}
active_names() { grep -c '<ACTIVE>' || true; }

echo "make_nmbd_fixture: waiting for nmbd to win the browser election (up to ${election_limit} s)"
deadline=$((SECONDS + election_limit))
count=0
while [ "$SECONDS" -lt "$deadline" ]; do
    kill -0 "$nmbd_pid" 2>/dev/null || { echo "make_nmbd_fixture: nmbd ended:" >&2; cat "$lab/nmbd.out" >&2; exit 1; }
    count=$( (lookup 2>/dev/null || true) | active_names)
    [ "$count" -ge "$want_names" ] && break
    sleep 1
done
if [ "$count" -lt "$want_names" ]; then
    echo "make_nmbd_fixture: nmbd lists $count names after ${election_limit} s, want $want_names" >&2
    exit 1
fi

# The ground truth before and after our capture must agree, so both describe the same table.
lookup >"$lab/before.txt" 2>/dev/null
ip netns exec "$hostns" "$nbtquery" --timeout-ms 3000 "$peer_ip" "$lab/reply.bin"
lookup >"$lab/after.txt" 2>/dev/null
if ! cmp -s "$lab/before.txt" "$lab/after.txt"; then
    echo "make_nmbd_fixture: the name table changed during the capture; run again" >&2
    exit 1
fi

mkdir -p "$outdir"
cp "$lab/reply.bin" "$outdir/nmbd_node_status.bin"
cp "$lab/after.txt" "$outdir/nmbd_node_status.nmblookup.txt"
echo "make_nmbd_fixture: wrote $outdir/nmbd_node_status.bin ($(stat -c %s "$outdir/nmbd_node_status.bin") bytes)" \
     "and $outdir/nmbd_node_status.nmblookup.txt"
