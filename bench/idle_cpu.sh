#!/usr/bin/env bash
# CPU of an idle site, with the MQTT upstream connected against without:
# four simulated controllers (no events) on one pseudo-terminal paced at
# 9600 baud, `velta36 run` polling them, its user+system time over SECONDS
# each way, against a mosquitto started here.
#
#   bench/idle_cpu.sh <built velta36> [SECONDS]     (default 30)
#
# The last line (RESULT) holds the figures for scripts/bench.sh.
set -euo pipefail
tool=$1
seconds=${2:-30}
work=$(mktemp -d)
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"' EXIT
cd "$work"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
printf 'listener %s 127.0.0.1\nallow_anonymous true\n' "$port" > mosquitto.conf
mosquitto -c mosquitto.conf >broker.log 2>&1 & pids+=($!)
"$tool" simulate --address 1 --address 2 --address 3 --address 4 --events 0 --baud 9600 >sim.out 2>&1 & pids+=($!)
for _ in $(seq 50); do grep -q /dev/ sim.out 2>/dev/null && break; sleep 0.1; done
pty=$(grep -o '/dev/[^ ]*' sim.out | head -1)
echo '[{"name":"c1","address":1},{"name":"c2","address":2},{"name":"c3","address":3},{"name":"c4","address":4}]' > site.json
ticks=$(getconf CLK_TCK)

# Percent of one core the tool used between its 5th second and 5+SECONDS.
measure() {
  "$tool" run --port "$pty" --config site.json --dir "$1" "${@:2}" >"$1.out" 2>&1 &
  local pid=$!
  sleep 5
  local a; a=$(awk '{print $14+$15}' "/proc/$pid/stat")
  sleep "$seconds"
  local b; b=$(awk '{print $14+$15}' "/proc/$pid/stat")
  kill -INT "$pid"; wait "$pid" || true
  awk -v t=$((b - a)) -v hz="$ticks" -v s="$seconds" 'BEGIN {printf "%.3f", 100 * t / hz / s}'
}
without=$(measure plain)
with=$(measure mqtt --mqtt "mqtt://127.0.0.1:$port" --site idle)
grep -q "upstream: connected" mqtt.out || { echo "the upstream did not connect" >&2; cat mqtt.out >&2; exit 1; }
echo "idle site, 4 controllers at 9600 baud, ${seconds} s: ${without} % of a core without the upstream, ${with} % with it connected"
awk -v a="$without" -v b="$with" 'BEGIN {printf "RESULT cpu_without_pct=%s cpu_with_pct=%s cpu_more_pct=%.3f\n", a, b, b - a}'
