#!/usr/bin/env bash
# Runs every benchmark scenario against Halvyn (without and with its console),
# against the bare baselines built from the same sources and, for
# request/reply, against coturn; RUNS times; then prints the table of medians
# and ratios (halvyn-loadgen table).
#
#   bench/run_benchmarks.sh [--runs N] [--seconds S] [--out FILE] [--build-dir DIR]
#                           [--only rr,intake,broadcast,state,abuse,storm]
#                           [--attacks "name:rate:seconds ..."]
#   bench/run_benchmarks.sh --smoke [--build-dir DIR]
#
# --smoke runs every scenario once, for a fraction of a second per phase, at a
# small scale, with the load generator checking every count (no speed is
# asserted); it is part of the test suite so the benchmark never rots.
#
# Everything runs in a network namespace of its own (so port 7002 collides
# with nothing and no datagram leaves the machine): this needs root, and the
# script exits 77 (skipped) without it. The server is pinned to one core and
# the load generator to the other. Every run is bounded in time. The abuse
# and storm scenarios run the server in a second namespace joined to this one
# by a veth (10.77.0.1 there; every client and attacker address here), so
# that their sources are not loopback; storm runs once more with the veth
# shaped to 1 Gbit/s.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
runs=3
seconds=3
smoke=0
build_dir="$root/build/default"
out=""
only="rr,intake,broadcast,state,abuse,storm"
attacks=""
for ((i = 1; i <= $#; i++)); do
  case "${!i}" in
    --smoke) smoke=1 ;;
    --runs) i=$((i + 1)); runs=${!i} ;;
    --seconds) i=$((i + 1)); seconds=${!i} ;;
    --out) i=$((i + 1)); out=${!i} ;;
    --build-dir) i=$((i + 1)); build_dir=${!i} ;;
    --only) i=$((i + 1)); only=${!i} ;;
    --attacks) i=$((i + 1)); attacks=${!i} ;;
    -h|--help) sed -n '2,23p' "$0"; exit 0 ;;
    *) echo "run_benchmarks.sh: unknown argument ${!i}" >&2; exit 2 ;;
  esac
done

halvyn=$build_dir/app/halvyn
loadgen=$build_dir/bench/halvyn-loadgen
baseline=$build_dir/bench/halvyn-bench-baseline
for binary in "$halvyn" "$loadgen" "$baseline"; do
  if [ ! -x "$binary" ]; then
    echo "run_benchmarks.sh: $binary is missing; build first:" >&2
    echo "  cmake --build $build_dir --target halvyn halvyn-loadgen halvyn-bench-baseline" >&2
    exit 2
  fi
done

# Into a network namespace of our own, with only loopback up.
if [ "${HALVYN_BENCH_NAMESPACE:-}" != 1 ]; then
  if [ "$(id -u)" -ne 0 ] || ! unshare -n true 2>/dev/null; then
    echo "run_benchmarks.sh: needs root for its own network namespace; skipped" >&2
    exit 77
  fi
  HALVYN_BENCH_NAMESPACE=1 exec unshare -n "$0" "$@"
fi
ip link set lo up

if [ "$smoke" = 1 ]; then
  runs=1
  seconds=0.3
  rr_shapes="8x2 1x16" rr_rate=2000 intake_sizes="10 40" broadcast_clients=20
  intake_open_clients=20 intake_rates=2000,5000
  state_clients=50 state_lines=600
  # abuse: clients, patience (s), and per attack "name rate seconds"
  abuse_clients=10 abuse_many=20 abuse_patience=10
  abuse_runs="release:200:0.3 relogin:100:0.3 victim:25:0.5 fresh:1000:1 keepalive:10:0.3
    logout:0:0.3 info:0:0.3 routes:20:0.3 nowhere:5:0.3"
  storm_clients=30 storm_patience=20
else
  # request/reply shapes: client sockets x requests in flight on each
  rr_shapes="64x2 1x64" rr_rate=20000 intake_sizes="10 100 545" broadcast_clients=545
  # keep-alive intake from one socket, open loop at each offered rate
  intake_open_clients=545 intake_rates=50000,100000,200000,400000
  state_clients=545 state_lines=10000
  abuse_clients=101 abuse_many=200 abuse_patience=90
  abuse_runs="release:1000:5 release-sigterm:1000:5 relogin:100:5 relogin:1000:5 victim:25:15 fresh:100:5
    keepalive:10:5 logout:0:5 info:0:5 routes:20:5 nowhere:5:2"
  storm_clients=545 storm_patience=150
fi
[ -n "$attacks" ] && abuse_runs=$attacks
wanted() { [[ ",$only," == *",$1,"* ]]; }
check=()
[ "$smoke" = 1 ] && check=(--check)

# Server on the last core, load generator on the first (when there are two).
cores=$(nproc)
server_cpu=$((cores > 1 ? 1 : 0))
loadgen_cpu=0

work=$(mktemp -d /tmp/halvyn-bench.XXXXXX)
results=${out:-$work/results.txt}
: >"$results"
server_pid=""
holder_pid=""
cleanup() {
  stop_server
  if [ -n "$holder_pid" ]; then
    kill "$holder_pid" 2>/dev/null || true
    wait "$holder_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# True once a UDP socket (or, with tcp, a listening TCP socket) has this port
# in the server's network namespace.
port_open() {
  local hex
  hex=$(printf ':%04X ' "$2")
  if [ "$1" = tcp ]; then
    grep -q "$hex.* 0A " "/proc/$server_pid/net/tcp"
  else
    grep -q "$hex" "/proc/$server_pid/net/udp"
  fi
}

# The veth topology of the abuse and storm scenarios (bench/topology.h): a
# second namespace, held by a bounded sleep, with the server's end of the veth
# at 10.77.0.1; this namespace's end holds the attackers (10.77.0.2-7), the
# victim (10.77.0.9) and 600 client addresses from 10.77.1.1 in rows of 200.
# MTU 65535 on both ends, so that a full list (65,400 bytes) is one frame, as
# on loopback.
make_topology() {
  unshare -n sleep 3600 &
  holder_pid=$!
  local own i
  own=$(readlink /proc/self/ns/net)
  for ((i = 0; i < 100; i++)); do
    [ "$(readlink "/proc/$holder_pid/ns/net" 2>/dev/null)" != "$own" ] && break
    sleep 0.02
  done
  ip link add hvb0 type veth peer name hvb1
  ip link set hvb1 netns "$holder_pid"
  ip link set hvb0 mtu 65535 up
  {
    for i in 2 3 4 5 6 7 9; do echo "addr add 10.77.0.$i/16 dev hvb0"; done
    for ((i = 0; i < 600; i++)); do
      echo "addr add 10.77.$((1 + i / 200)).$((1 + i % 200))/16 dev hvb0"
    done
  } >"$work/addresses"
  ip -batch "$work/addresses"
  in_server_net ip link set lo up
  in_server_net ip link set hvb1 mtu 65535 up
  in_server_net ip addr add 10.77.0.1/16 dev hvb1
}

in_server_net() { nsenter --net="/proc/$holder_pid/ns/net" "$@"; }

# The server's end of the veth sends at most 1 Gbit/s (or, with "off", as fast
# as it can).
shape_topology() {
  if [ "$1" = off ]; then
    in_server_net tc qdisc del dev hvb1 root 2>/dev/null || true
  else
    in_server_net tc qdisc replace dev hvb1 root tbf rate 1gbit burst 1mb latency 100ms
  fi
}

wait_for_port() {
  local i
  for ((i = 0; i < 100; i++)); do
    port_open "$1" "$2" && return 0
    kill -0 "$server_pid" 2>/dev/null || break
    sleep 0.05
  done
  echo "run_benchmarks.sh: the server did not open $1 port $2" >&2
  return 1
}

# start_server KIND: halvyn, halvyn+console, echo, drain, fanout or coturn.
# halvyn_args are added to halvyn's command line.
halvyn_args=()
start_server() {
  local kind=$1
  case "$kind" in
    halvyn)
      (cd "$work" && exec taskset -c "$server_cpu" "$halvyn" --start --no-console \
        "${halvyn_args[@]}" >/dev/null 2>&1) &
      server_pid=$!
      wait_for_port udp 7002 ;;
    halvyn+console)
      # With the file limit systemd gives a service by default.
      (cd "$work" && ulimit -n 1024 && exec taskset -c "$server_cpu" "$halvyn" --start \
        --console 127.0.0.1:7080 "${halvyn_args[@]}" >/dev/null 2>&1) &
      server_pid=$!
      wait_for_port udp 7002 && wait_for_port tcp 7080 ;;
    halvyn+console@veth)
      (cd "$work" && exec nsenter --net="/proc/$holder_pid/ns/net" taskset -c "$server_cpu" \
        "$halvyn" --start --console 127.0.0.1:7080 >/dev/null 2>&1) &
      server_pid=$!
      wait_for_port udp 7002 && wait_for_port tcp 7080 ;;
    echo|drain|fanout)
      taskset -c "$server_cpu" "$baseline" "$kind" --port 7002 >/dev/null 2>&1 &
      server_pid=$!
      wait_for_port udp 7002 ;;
    coturn)
      (cd "$work" && exec taskset -c "$server_cpu" turnserver -n --stun-only -L 127.0.0.1 -p 3478 \
        --no-tls --no-dtls -m 0 --no-cli --log-file stdout --simple-log \
        --pidfile "$work/turnserver.pid" >/dev/null 2>&1) &
      server_pid=$!
      wait_for_port udp 3478 ;;
  esac
}

stop_server() {
  [ -n "$server_pid" ] || return 0
  kill -TERM "$server_pid" 2>/dev/null || true
  local i
  for ((i = 0; i < 50; i++)); do
    kill -0 "$server_pid" 2>/dev/null || break
    sleep 0.05
  done
  kill -KILL "$server_pid" 2>/dev/null || true
  wait "$server_pid" 2>/dev/null || true
  server_pid=""
}

failed=0
limit=120  # seconds for one load generator run
# measure KIND SCENARIO LOADGEN-ARGS...: one server, one load generator run.
measure() {
  local kind=$1 scenario=$2
  shift 2
  start_server "$kind" || { failed=1; stop_server; return; }
  local port=7002 target=halvyn
  case "$kind" in
    coturn) port=3478 target=stun ;;
    echo|drain|fanout) target=$kind ;;
    halvyn+console@veth) target=halvyn ;;
  esac
  if ! timeout "$limit" taskset -c "$loadgen_cpu" "$loadgen" "$scenario" --pid "$server_pid" \
      --port "$port" --target "$target" --label "$kind" --seconds "$seconds" "${check[@]}" "$@" \
      >>"$results"; then
    echo "run_benchmarks.sh: $scenario against $kind failed" >&2
    failed=1
  fi
  stop_server
}

have_coturn=0
command -v turnserver >/dev/null && have_coturn=1
[ "$have_coturn" = 1 ] || echo "run_benchmarks.sh: turnserver (coturn) not installed; its column stays empty" >&2

[[ ",$only," == *,abuse,* || ",$only," == *,storm,* ]] && make_topology
for ((run = 1; run <= runs; run++)); do
  echo "=== run $run of $runs ($(date -u +%H:%M:%S))" >&2
  if wanted rr; then
    for shape in $rr_shapes; do
      shape_args=(--clients "${shape%x*}" --window "${shape#*x}" --rate "$rr_rate")
      for kind in echo halvyn; do
        measure "$kind" rr "${shape_args[@]}"
      done
      # With a page reading the console's event stream throughout.
      measure halvyn+console rr "${shape_args[@]}" --console-port 7080
      # (the smoke run asks coturn in the first shape only)
      if [ "$have_coturn" = 1 ] && [[ "$smoke" = 0 || "$shape" = "${rr_shapes%% *}" ]]; then
        measure coturn rr "${shape_args[@]}"
      fi
    done
  fi
  if wanted intake; then
    for clients in $intake_sizes; do
      for kind in drain halvyn halvyn+console; do
        measure "$kind" intake --clients "$clients"
      done
    done
    open_kinds="drain halvyn"
    [ "$smoke" = 1 ] && open_kinds=halvyn
    for kind in $open_kinds; do
      measure "$kind" intake --clients "$intake_open_clients" --senders 1 --rates "$intake_rates"
    done
  fi
  if wanted broadcast; then
    # Raw fan-out: lists unpaced.
    halvyn_args=(--list-bytes-per-second 0)
    for kind in fanout halvyn halvyn+console; do
      measure "$kind" broadcast --clients "$broadcast_clients" --window 2
    done
    halvyn_args=()
  fi
  if wanted state; then
    measure halvyn state --clients "$state_clients" --log-lines "$state_lines"
    measure halvyn+console state --clients "$state_clients" --log-lines "$state_lines" \
      --console-port 7080
    # The same with hostile console connections from another loopback address.
    for pressure in slow streams idle; do
      measure halvyn+console state --clients "$state_clients" --log-lines "$state_lines" \
        --console-port 7080 --console-pressure "$pressure"
    done
  fi
  if wanted abuse; then
    limit=$((3 * abuse_patience + 60))
    for attack in $abuse_runs; do
      IFS=: read -r name rate attack_seconds <<<"$attack"
      clients=$abuse_clients
      [ "$name" = relogin ] && clients=$abuse_many
      suffix=""
      [ "$name" = relogin ] && suffix="-$rate"
      measure halvyn+console@veth abuse --attack "$name" --rate "$rate" --clients "$clients" \
        --seconds "$attack_seconds" --patience "$abuse_patience" --console-port 7080 \
        --phase-suffix "$suffix"
    done
    limit=120
  fi
  if wanted storm; then
    limit=$((storm_patience + 60))
    for shaping in off 1gbit; do
      shape_topology "$shaping"
      suffix=""
      [ "$shaping" = off ] || suffix="-$shaping"
      measure halvyn+console@veth storm --clients "$storm_clients" --patience "$storm_patience" \
        --console-port 7080 --phase-suffix "$suffix"
    done
    shape_topology off
    limit=120
  fi
done

echo
"$loadgen" table "$results"
[ -n "$out" ] && echo "(result lines in $out)" >&2
if [ "$failed" != 0 ]; then
  echo "run_benchmarks.sh: some scenarios failed (see above)" >&2
  exit 1
fi
