#!/usr/bin/env bash
# Runs every benchmark scenario against Halvyn (without and with its console),
# against the bare baselines built from the same sources and, for
# request/reply, against coturn; RUNS times; then prints the table of medians
# and ratios (halvyn-loadgen table).
#
#   bench/run_benchmarks.sh [--runs N] [--seconds S] [--out FILE] [--build-dir DIR]
#   bench/run_benchmarks.sh --smoke [--build-dir DIR]
#
# --smoke runs every scenario once, for a fraction of a second per phase, at a
# small scale, with the load generator checking every count (no speed is
# asserted); it is part of the test suite so the benchmark never rots.
#
# Everything runs in a network namespace of its own (so port 7002 collides
# with nothing and no datagram leaves the machine): this needs root, and the
# script exits 77 (skipped) without it. The server is pinned to one core and
# the load generator to the other. Every run is bounded in time.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
runs=3
seconds=3
smoke=0
build_dir="$root/build/default"
out=""
for ((i = 1; i <= $#; i++)); do
  case "${!i}" in
    --smoke) smoke=1 ;;
    --runs) i=$((i + 1)); runs=${!i} ;;
    --seconds) i=$((i + 1)); seconds=${!i} ;;
    --out) i=$((i + 1)); out=${!i} ;;
    --build-dir) i=$((i + 1)); build_dir=${!i} ;;
    -h|--help) sed -n '2,17p' "$0"; exit 0 ;;
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
  rr_clients=8 rr_rate=2000 intake_sizes="10 40" broadcast_clients=20
  state_clients=50 state_lines=600
else
  rr_clients=64 rr_rate=20000 intake_sizes="10 100 545" broadcast_clients=545
  state_clients=545 state_lines=10000
fi
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
cleanup() {
  stop_server
  rm -rf "$work"
}
trap cleanup EXIT

# True once a UDP socket (or, with tcp, a listening TCP socket) has this port.
port_open() {
  local hex
  hex=$(printf ':%04X ' "$2")
  if [ "$1" = tcp ]; then
    grep -q "$hex.* 0A " /proc/net/tcp
  else
    grep -q "$hex" /proc/net/udp
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
start_server() {
  local kind=$1
  case "$kind" in
    halvyn)
      (cd "$work" && exec taskset -c "$server_cpu" "$halvyn" --start --no-console >/dev/null 2>&1) &
      server_pid=$!
      wait_for_port udp 7002 ;;
    halvyn+console)
      # With the file limit systemd gives a service by default.
      (cd "$work" && ulimit -n 1024 && exec taskset -c "$server_cpu" "$halvyn" --start \
        --console 127.0.0.1:7080 >/dev/null 2>&1) &
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
# measure KIND SCENARIO LOADGEN-ARGS...: one server, one load generator run.
measure() {
  local kind=$1 scenario=$2
  shift 2
  start_server "$kind" || { failed=1; stop_server; return; }
  local port=7002 target=halvyn
  case "$kind" in
    coturn) port=3478 target=stun ;;
    echo|drain|fanout) target=$kind ;;
  esac
  if ! timeout 120 taskset -c "$loadgen_cpu" "$loadgen" "$scenario" --pid "$server_pid" \
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

for ((run = 1; run <= runs; run++)); do
  echo "=== run $run of $runs ($(date -u +%H:%M:%S))" >&2
  for kind in echo halvyn halvyn+console; do
    measure "$kind" rr --clients "$rr_clients" --window 2 --rate "$rr_rate"
  done
  [ "$have_coturn" = 1 ] && measure coturn rr --clients "$rr_clients" --window 2 --rate "$rr_rate"
  for clients in $intake_sizes; do
    for kind in drain halvyn halvyn+console; do
      measure "$kind" intake --clients "$clients"
    done
  done
  for kind in fanout halvyn halvyn+console; do
    measure "$kind" broadcast --clients "$broadcast_clients" --window 2
  done
  measure halvyn state --clients "$state_clients" --log-lines "$state_lines"
  measure halvyn+console state --clients "$state_clients" --log-lines "$state_lines" \
    --console-port 7080
  # The same with hostile console connections from another loopback address.
  for pressure in slow streams idle; do
    measure halvyn+console state --clients "$state_clients" --log-lines "$state_lines" \
      --console-port 7080 --console-pressure "$pressure"
  done
done

echo
"$loadgen" table "$results"
[ -n "$out" ] && echo "(result lines in $out)" >&2
if [ "$failed" != 0 ]; then
  echo "run_benchmarks.sh: some scenarios failed (see above)" >&2
  exit 1
fi
