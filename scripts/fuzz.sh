#!/usr/bin/env bash
# A long fuzzing campaign. Builds the fuzz targets with clang under AddressSanitizer +
# UndefinedBehaviorSanitizer in build/fuzz, then runs them one after another, each for SECONDS
# (default 600) or 10 million executions, whichever comes first, starting from its kept corpus
# fuzz/corpus/<target>/, and prints one line per target.
#
#   scripts/fuzz.sh [--keep] [--total] [SECONDS] [TARGET...]
#
#   --keep   merge the inputs that add coverage into fuzz/corpus/<target>/ (minimised: the named
#            seeds stay, the hashed inputs become the smallest set that covers what the seeds
#            do not). Without it the tree is only read.
#   --total  SECONDS is the budget of the whole campaign: each target gets an equal share of the
#            time left, so what a fast target does not use goes to the slower ones after it.
#   TARGET   only these targets (names of fuzz/<name>.cpp); all of them by default.
#
# VANTREL_FUZZ_RUNS changes the execution cap. Logs, new inputs and crash files stay in
# build/fuzz/campaign/. A crash stops that target's run; the script then exits non-zero.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

keep=0
total=0
seconds=600
targets=()
for arg in "$@"; do
  case "$arg" in
    --keep) keep=1 ;;
    --total) total=1 ;;
    -*)
      echo "usage: scripts/fuzz.sh [--keep] [--total] [SECONDS] [TARGET...]" >&2
      exit 2
      ;;
    *[!0-9]*) targets+=("$arg") ;;
    *) seconds=$arg ;;
  esac
done
if ((${#targets[@]} == 0)); then
  for src in fuzz/*.cpp; do
    name=${src##*/}
    targets+=("${name%.cpp}")
  done
fi
for t in "${targets[@]}"; do
  [[ -f "fuzz/$t.cpp" ]] || {
    echo "no fuzz target $t (fuzz/$t.cpp)" >&2
    exit 2
  }
done
runs=${VANTREL_FUZZ_RUNS:-10000000}

build=build/fuzz
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
echo "== build ($build: clang, address+undefined, fuzz targets) =="
CC=clang-14 CXX=clang++-14 cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVANTREL_WERROR=ON -DVANTREL_SANITIZE=address,undefined -DVANTREL_FUZZ=ON "${launcher[@]}" \
  >/dev/null
cmake --build "$build" -j "$(nproc)" --target "${targets[@]/#/fuzz_}"

campaign=$root/$build/campaign
mkdir -p "$campaign"
summary=$campaign/summary.txt
export VANTREL_DBGVIEW=0 ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
options=(-timeout=10 -rss_limit_mb=2048 -print_final_stats=1)

# The value after "<key>: " in the last libFuzzer status line of a log, or "-".
status_field() {
  local value
  value=$(grep -E '^#[0-9]+' "$1" | tail -n 1 | grep -oE "$2: [^ ]+" | cut -d' ' -f2 || true)
  echo "${value:--}"
}

# Replaces the hashed inputs of the kept corpus $2 by the minimal set, over the named seeds,
# of what it and the new inputs $3 cover. Named files (seeds, regress-*) are never removed.
# When that set is over 500 files, hit counts stop counting as coverage and only inputs that
# reach new code are kept, so the corpus stays small enough to replay in every test run.
merge_kept() {
  local bin=$1 kept=$2 found=$3 work=$4 hashed='.*/[0-9a-f]{40}' counters
  mkdir -p "$kept"
  for counters in 1 0; do
    rm -rf "$work/merged"
    mkdir -p "$work/merged"
    find "$kept" -maxdepth 1 -type f -regextype posix-extended ! -regex "$hashed" \
      -exec cp {} "$work/merged/" \;
    "$bin" -merge=1 -use_counters=$counters -timeout=10 -rss_limit_mb=2048 "$work/merged" \
      "$kept" "$found" >"$work/merge.log" 2>&1
    if (($(find "$work/merged" -type f | wc -l) <= 500)); then break; fi
  done
  find "$kept" -maxdepth 1 -type f -regextype posix-extended -regex "$hashed" -delete
  find "$work/merged" -maxdepth 1 -type f -regextype posix-extended -regex "$hashed" \
    -exec cp {} "$kept/" \;
}

row='%-22s %12s %7s %9s %7s %8s %7s %8s\n'
# shellcheck disable=SC2059 # one format for the header and every row
printf "$row" target executions seconds exec/s cov ft corpus crashes | tee "$summary"
failed=0
start=$(date +%s)
left=${#targets[@]}
for t in "${targets[@]}"; do
  budget=$seconds
  if ((total)); then
    budget=$(((seconds - ($(date +%s) - start)) / left))
    ((budget >= 1)) || budget=1
  fi
  left=$((left - 1))
  work=$campaign/$t
  rm -rf "$work"
  mkdir -p "$work/found" "$work/artifacts"
  dirs=("$work/found")
  [[ -d "fuzz/corpus/$t" ]] && dirs+=("fuzz/corpus/$t")
  bin=$build/bin/fuzz_$t
  t0=$(date +%s)
  rc=0
  "$bin" "${options[@]}" -runs="$runs" -max_total_time="$budget" \
    -artifact_prefix="$work/artifacts/" "${dirs[@]}" >"$work/fuzz.log" 2>&1 || rc=$?
  elapsed=$(($(date +%s) - t0))
  execs=$(grep -oE 'stat::number_of_executed_units: [0-9]+' "$work/fuzz.log" |
    cut -d' ' -f2 || true)
  execs=${execs:-0}
  crashes=$(find "$work/artifacts" -type f \( -name 'crash-*' -o -name 'leak-*' \
    -o -name 'timeout-*' -o -name 'oom-*' \) | wc -l)
  if ((rc != 0 && crashes == 0)); then crashes="exit$rc"; fi
  corpus=$(status_field "$work/fuzz.log" corp)
  # shellcheck disable=SC2059
  printf "$row" "$t" "$execs" "$elapsed" \
    "$((execs / (elapsed > 0 ? elapsed : 1)))" "$(status_field "$work/fuzz.log" cov)" \
    "$(status_field "$work/fuzz.log" ft)" "${corpus%%/*}" "$crashes" | tee -a "$summary"
  if [[ "$crashes" != 0 ]]; then
    failed=1
    echo "   $t failed: see $work/fuzz.log and $work/artifacts/" | tee -a "$summary"
  elif ((keep)); then
    merge_kept "$bin" "fuzz/corpus/$t" "$work/found" "$work"
  fi
done
if ((keep)); then
  echo "== kept corpora (files, bytes) =="
  for t in "${targets[@]}"; do
    printf '%-22s %5s %9s\n' "$t" "$(find "fuzz/corpus/$t" -type f | wc -l)" \
      "$(find "fuzz/corpus/$t" -type f -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }')"
  done
fi
exit "$failed"
