#!/usr/bin/env bash
# The forwarding benchmarks in one command: a Release build with the benchmarks, then every path
# (direct TCP, ssh -L with aes128-gcm, both tunnel protocols) side by side in one run, first
# under the project's own load (bench_tunnel_forwarding), then under iperf3 (bench_iperf_load),
# printed as one table with the ratios against ssh -L.
#
# usage: bench/run.sh [BUILD_DIR] [benchmark options...]   (BUILD_DIR defaults to build/release)
# The options go to bench_tunnel_forwarding; VANTREL_IPERF_SECONDS sets each iperf3 run's length.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$root/build/release}
[ $# -gt 0 ] && shift
launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVANTREL_BENCH=ON "${launcher[@]}" >/dev/null
cmake --build "$dir" -j 2 --target bench_tunnel_forwarding bench_iperf_load
command -v iperf3 >/dev/null || { echo "iperf3 is missing: bash scripts/bootstrap.sh" >&2; exit 1; }
echo "load average at the start: $(cut -d' ' -f1-3 /proc/loadavg)"
out="$dir/bench-forwarding.json"
"$root/bench/run-ssh-baseline.sh" "$dir/bin/bench_tunnel_forwarding" \
  --benchmark_out="$out" --benchmark_out_format=json "$@"
iperf_out="$dir/bench-iperf.json"
"$root/bench/run-ssh-baseline.sh" "$dir/bin/bench_iperf_load" \
  --benchmark_out="$iperf_out" --benchmark_out_format=json
echo
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
python3 "$root/bench/table.py" "$out" "$iperf_out"
