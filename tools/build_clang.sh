#!/usr/bin/env bash
# Builds everything with clang (Release) and runs all tests: the tree must stay
# warning-free and green with clang as well as with g++. Not part of .ci/run,
# which it would lengthen by about a Release build and test run.
# Usage: bash tools/build_clang.sh [extra cmake arguments]
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
command -v clang++ >/dev/null || { echo "clang++ not found (apt-get install clang)"; exit 1; }
jobs=$(nproc)
cmake -S . -B build/clang -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang "$@"
cmake --build build/clang -j "${jobs}"
cd build/clang && ctest --output-on-failure -j "${jobs}" --timeout 600
