#!/usr/bin/env bash
# The whole test run for a fresh machine: bootstrap, then
#   1. gcc build, every test;
#   2. clang build with AddressSanitizer + UndefinedBehaviorSanitizer, every test again,
#      plus each fuzz target for a bounded time.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/bootstrap.sh

jobs=$(nproc)
fuzz_seconds=${VANTREL_FUZZ_SECONDS:-20}

echo "== build (gcc) =="
rm -rf build/ci-gcc
cmake -S . -B build/ci-gcc -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTREL_WERROR=ON
cmake --build build/ci-gcc -j "$jobs"
echo "== tests (gcc) =="
(cd build/ci-gcc && ctest --output-on-failure -j "$jobs" --timeout 600)

echo "== build (clang, address+undefined, fuzz targets) =="
rm -rf build/ci-asan
CC=clang-14 CXX=clang++-14 cmake -S . -B build/ci-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DVANTREL_WERROR=ON -DVANTREL_SANITIZE=address,undefined -DVANTREL_FUZZ=ON \
  -DVANTREL_FUZZ_SECONDS="$fuzz_seconds"
cmake --build build/ci-asan -j "$jobs"
echo "== tests (address+undefined) and fuzzing =="
(cd build/ci-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j "$jobs" --timeout 900)
echo "== all tests passed =="
