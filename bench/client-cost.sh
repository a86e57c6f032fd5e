#!/usr/bin/env bash
# What the forwarding client spends per byte under one iperf3 stream through the tunnel: system
# calls and context switches per MB and CPU seconds per GB (10^9 bytes), counted by perf over the
# client process (its threads included, those started during the run too) while iperf3 runs.
#
# usage: bench/client-cost.sh BIN_DIR first|legacy up|down [SECONDS]
#   BIN_DIR holds vantrel-testpeer and bench-forward-client (a Release build's bin/).
#   With VANTREL_PERF_RECORD=FILE the run is profiled instead (perf record -g into FILE).
# Needs perf with access to the tracepoints (root, or perf_event_paranoid <= 1) and iperf3.
set -euo pipefail

bin=${1:?usage: $0 BIN_DIR first|legacy up|down [SECONDS]}
proto=${2:?first or legacy}
dir=${3:?up or down}
secs=${4:-5}
reverse=""
# Binaries copied out of their build find the libraries copied beside them first.
[ -d "$bin/../lib" ] && export LD_LIBRARY_PATH="$bin/../lib${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
[ "$dir" = down ] && reverse="-R"

tmp=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT

# The gateway shows this key and the client pins it, as the benchmarks do.
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$tmp/key.pem" 2>/dev/null
export VANTREL_TESTPEER_KEY=$tmp/key.pem
VANTREL_GATEWAY_PIN=$(openssl pkey -in "$tmp/key.pem" -pubout -outform DER |
  openssl dgst -sha256 -binary | od -An -tx1 -v | tr -d ' \n' | tr a-f A-F | sed 's/../&:/g; s/:$//')
export VANTREL_GATEWAY_PIN

# Starts a program whose first output line is "listening HOST:PORT"; its port goes to $port.
start() {
  local out=$tmp/out.${#pids[@]}
  "$@" >"$out" 2>/dev/null &
  pids+=($!)
  for _ in $(seq 300); do
    port=$(sed -n 's/^listening .*:\([0-9]*\)$/\1/p' "$out" 2>/dev/null | head -1)
    [ -n "$port" ] && return
    sleep 0.1
  done
  echo "$1 did not start" >&2
  exit 1
}

iport=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
iperf3 -s -B 127.0.0.1 -p "$iport" >/dev/null 2>&1 &
pids+=($!)
start "$bin/vantrel-testpeer" gateway --protocol "$proto"
start "$bin/bench-forward-client" "$proto" "$port" "$iport"
cport=$port
client=${pids[-1]}

events=raw_syscalls:sys_enter,context-switches,task-clock
for s in poll ppoll recvfrom recvmsg sendto sendmsg read write futex; do
  events+=",syscalls:sys_enter_$s"
done
if [ -n "${VANTREL_PERF_RECORD:-}" ]; then
  perf record -q -g -o "$VANTREL_PERF_RECORD" -p "$client" -- \
    iperf3 -c 127.0.0.1 -p "$cport" -t "$secs" -l 128K $reverse -J >/dev/null
  exit 0
fi
perf stat -x, -o "$tmp/stat" -e "$events" -p "$client" -- \
  iperf3 -c 127.0.0.1 -p "$cport" -t "$secs" -l 128K $reverse -J >"$tmp/iperf.json"

python3 - "$tmp/stat" "$tmp/iperf.json" "$proto" "$dir" <<'PY'
import json, sys
stat, report, proto, direction = sys.argv[1:5]
received = json.load(open(report))["end"]["sum_received"]
mb = received["bytes"] / 1e6
counts = {}
for line in open(stat):
    f = line.strip().split(",")
    if len(f) > 2 and f[0] and f[0][0].isdigit():
        counts[f[2].split(":")[-1].replace("sys_enter_", "")] = float(f[0])
cpu = counts.pop("task-clock") / 1e3
print(f"{proto} {direction}: {received['bits_per_second'] / 8e6:.0f} MB/s, "
      f"client CPU {cpu / (mb / 1e3):.3f} s/GB, "
      f"system calls {counts.pop('sys_enter') / mb:.1f}/MB, "
      f"context switches {counts.pop('context-switches') / mb:.2f}/MB")
print("  per MB: " + ", ".join(f"{k} {v / mb:.1f}" for k, v in counts.items() if v > 0))
PY
