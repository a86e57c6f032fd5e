#!/usr/bin/env bash
# The forwarding benchmark in one command: a Release build with the benchmarks, then every path
# (direct TCP, ssh -L with aes128-gcm, both tunnel protocols) side by side in one run, printed as
# a table with the ratios against ssh -L.
#
# usage: bench/run.sh [BUILD_DIR] [benchmark options...]   (BUILD_DIR defaults to build/release)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$root/build/release}
[ $# -gt 0 ] && shift
launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVANTREL_BENCH=ON "${launcher[@]}" >/dev/null
cmake --build "$dir" -j 2 --target bench_tunnel_forwarding
out="$dir/bench-forwarding.json"
"$root/bench/run-ssh-baseline.sh" "$dir/bin/bench_tunnel_forwarding" \
  --benchmark_out="$out" --benchmark_out_format=json "$@"
echo
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
python3 "$root/bench/table.py" "$out"
