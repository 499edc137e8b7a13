#!/usr/bin/env bash
# A private lab network: runs COMMAND inside a network namespace of its own where the NBT
# simulator answers for chosen addresses of 10.231.0.0/24.
#
#   tools/lab/lab.sh [--hosts RANGE]... [--commands FILE] [--build DIR] -- COMMAND [ARG...]
#
# The namespace has only a loopback and a dummy interface holding 10.231.0.1/24 (a veth pair with
# both ends inside where the kernel offers no dummy interfaces), with a local
# route for the whole /24: every query to 10.231.0.x stays on this machine, the simulator
# (bound to all addresses) answers from the address that was asked, and nothing can reach a real
# network. Quorvane started in the lab monitors its default segment, 10.231.0.1 - .255.
#
#   --hosts RANGE    simulated hosts, inside 10.231.0.2 - 10.231.0.254: FIRST-LAST, FIRST/COUNT or
#                    one address (default 10.231.0.2-10.231.0.40); may be repeated
#   --commands FILE  simulator commands fed to it at start (see "nbtsim --help")
#   --build DIR      the build folder holding tools/nbtsim and app/quorvane (default build/default)
#
# COMMAND sees LAB_NAMESPACE, LAB_BUILD, LAB_SIM_INPUT (a FIFO: write simulator commands to it, one
# per line), LAB_LOCAL_ADDRESS and QUORVANE_LOCAL_ADDRESS (both 10.231.0.1). The exit status is
# COMMAND's. Everything is removed at the end: the simulator, any process left in the namespace,
# and the namespace itself. Needs root (network namespaces).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$root/build/default
hosts=()
commands=

usage() {
  awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0" >&2
  exit 2
}

in_lab() {  # one address of the lab /24, not the lab's own .1, .0 or .255
  [[ $1 =~ ^10\.231\.0\.([0-9]{1,3})$ ]] && ((BASH_REMATCH[1] >= 2 && BASH_REMATCH[1] <= 254))
}

while [ $# -gt 0 ]; do
  case $1 in
    --hosts)
      [ $# -ge 2 ] || usage
      range=$2
      if [[ $range =~ ^([0-9.]+)-([0-9.]+)$ ]]; then
        first=${BASH_REMATCH[1]} last=${BASH_REMATCH[2]}
        in_lab "$first" && in_lab "$last" && ((${first##*.} <= ${last##*.})) || { echo "lab: $range leaves 10.231.0.2-254" >&2; exit 2; }
      elif [[ $range =~ ^([0-9.]+)/([0-9]+)$ ]]; then
        first=${BASH_REMATCH[1]} count=${BASH_REMATCH[2]}
        in_lab "$first" && ((count >= 1 && ${first##*.} + count - 1 <= 254)) || { echo "lab: $range leaves 10.231.0.2-254" >&2; exit 2; }
      else
        in_lab "$range" || { echo "lab: $range is not a lab address (10.231.0.2-254)" >&2; exit 2; }
      fi
      hosts+=(--hosts "$range")
      shift 2 ;;
    --commands) [ $# -ge 2 ] || usage; commands=$2; shift 2 ;;
    --build) [ $# -ge 2 ] || usage; build=$(cd "$2" && pwd); shift 2 ;;
    --) shift; break ;;
    -h|--help) usage ;;
    *) usage ;;
  esac
done
[ $# -gt 0 ] || usage
[ ${#hosts[@]} -gt 0 ] || hosts=(--hosts 10.231.0.2-10.231.0.40)
if [ "$(id -u)" -ne 0 ]; then echo "lab: needs root for the network namespace" >&2; exit 2; fi
nbtsim=$build/tools/nbtsim
[ -x "$nbtsim" ] || { echo "lab: $nbtsim not built (cmake --build $build --target nbtsim)" >&2; exit 2; }
[ -z "$commands" ] || [ -r "$commands" ] || { echo "lab: cannot read $commands" >&2; exit 2; }

ns=qvlab-$$
run=$here/.run/$ns
sim_pid=
cleanup() {
  set +e
  exec 3>&- 2>/dev/null
  if [ -n "$sim_pid" ]; then kill -TERM "$sim_pid" 2>/dev/null; fi
  # Whatever the command left running in the namespace was started by us.
  for pid in $(ip netns pids "$ns" 2>/dev/null); do kill -TERM "$pid" 2>/dev/null; done
  for _ in $(seq 50); do [ -z "$(ip netns pids "$ns" 2>/dev/null)" ] && break; sleep 0.1; done
  for pid in $(ip netns pids "$ns" 2>/dev/null); do kill -KILL "$pid" 2>/dev/null; done
  [ -n "$sim_pid" ] && wait "$sim_pid" 2>/dev/null
  ip netns del "$ns" 2>/dev/null
  rm -rf "$run"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mkdir -p "$run"
ip netns add "$ns"
ip -n "$ns" link set lo up
# A dummy interface where the kernel has them; else a veth pair with both ends in the namespace.
if ! ip -n "$ns" link add qv0 type dummy 2>/dev/null; then
  ip -n "$ns" link add qv0 type veth peer name qv1
  ip -n "$ns" link set qv1 up
fi
ip -n "$ns" addr add 10.231.0.1/24 dev qv0
ip -n "$ns" link set qv0 up
ip -n "$ns" route add local 10.231.0.0/24 dev lo

# The simulator reads its commands from a FIFO that this script holds open for writing, so it
# keeps running after the commands file ends and the command can send more.
mkfifo "$run/sim.in"
ip netns exec "$ns" "$nbtsim" "${hosts[@]}" --allow-non-loopback --port 137 <"$run/sim.in" >"$run/nbtsim.log" 2>&1 &
sim_pid=$!
exec 3>"$run/sim.in"
for _ in $(seq 100); do
  grep -q '^nbtsim: .* hosts on port' "$run/nbtsim.log" 2>/dev/null && break
  kill -0 "$sim_pid" 2>/dev/null || { cat "$run/nbtsim.log" >&2; echo "lab: the simulator did not start" >&2; exit 1; }
  sleep 0.1
done
grep -q '^nbtsim: .* hosts on port' "$run/nbtsim.log" || { echo "lab: the simulator did not come up" >&2; exit 1; }
[ -z "$commands" ] || cat "$commands" >&3

export LAB_NAMESPACE=$ns LAB_BUILD=$build LAB_SIM_INPUT=$run/sim.in
export LAB_LOCAL_ADDRESS=10.231.0.1 QUORVANE_LOCAL_ADDRESS=10.231.0.1
set +e
ip netns exec "$ns" "$@"
rc=$?
set -e
exit $rc
