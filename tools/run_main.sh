#!/usr/bin/env bash
# Builds everything (Release) and runs the main job: the benchmarks.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build/release
./build/release/bench/fpbench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true "$@"
