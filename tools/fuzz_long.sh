#!/usr/bin/env bash
# Long fuzzing runs: each harness for N seconds in libFuzzer's fork mode,
# going on past crashes, timeouts and memory exhaustion; then every input
# that failed is minimised and the corpus is merged down to the inputs that
# add coverage. Corpora stay in <build>/fuzz/corpus/<harness>, findings in
# <build>/fuzz/findings/<harness> (the minimised ones named minimized-*); move
# each finding, once understood and mended, to fuzz/regressions/<harness>/.
#
#   tools/fuzz_long.sh [--build DIR] [--seconds N] [--jobs J] [--parallel P] [HARNESS...]
#
# DIR is the clang sanitizer build (default build/asan, see tools/fuzz_run.sh).
# N seconds per harness (default 600) on J cores (default: all), P harnesses
# at a time sharing them (default 1). The default run over all 16 harnesses
# thus fuzzes for 2 h 40 min, plus the minimising and merging; --seconds or
# naming harnesses shortens it.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

build_dir=${root}/build/asan
seconds=600
jobs=$(nproc)
parallel=1
harnesses=()
while (($#)); do
  case "$1" in
    --build) build_dir=$(realpath -m "$2"); shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    --jobs) jobs=$2; shift 2 ;;
    --parallel) parallel=$2; shift 2 ;;
    *) harnesses+=("$1"); shift ;;
  esac
done
workers=$((jobs / parallel))
((workers >= 1)) || workers=1

bash tools/fuzz_run.sh --build "${build_dir}" --build-only --jobs "${jobs}" || exit 1
build=${build_dir}/fuzz
((${#harnesses[@]})) || mapfile -t harnesses < "${build}/harnesses.txt"

export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

long_run() {
  local h=$1 binary=${build}/fuzz_$1
  local corpus=${build}/corpus/${h} findings=${build}/findings/${h} log=${build}/logs/${h}.long.log
  mkdir -p "${corpus}" "${findings}" "${build}/logs"
  local dirs=("${build}/seeds/${h}")
  [ -d "fuzz/regressions/${h}" ] && dirs+=("${root}/fuzz/regressions/${h}")
  "${binary}" -fork="${workers}" -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1 \
    -max_total_time="${seconds}" -timeout=10 -artifact_prefix="${findings}/" \
    "${corpus}" "${dirs[@]}" > "${log}" 2>&1

  local artifact
  for artifact in "${findings}"/crash-* "${findings}"/timeout-* "${findings}"/oom-* "${findings}"/leak-*; do
    [ -e "${artifact}" ] || continue
    "${binary}" -minimize_crash=1 -max_total_time=60 -timeout=10 \
      -exact_artifact_path="${findings}/minimized-$(basename "${artifact}")" "${artifact}" \
      >> "${log}.minimize" 2>&1
  done

  local merged=${corpus}.merged
  rm -rf "${merged}" && mkdir -p "${merged}"
  "${binary}" -merge=1 "${merged}" "${corpus}" >> "${log}.merge" 2>&1 &&
    rm -rf "${corpus}" && mv "${merged}" "${corpus}"
}

for h in "${harnesses[@]}"; do
  while (($(jobs -rp | wc -l) >= parallel)); do wait -n; done
  long_run "${h}" &
done
wait

# Summary: the last progress line (executions, coverage, features) and the
# number of findings of each harness.
for h in "${harnesses[@]}"; do
  log=${build}/logs/${h}.long.log
  last=$(grep -E '^#[0-9]+' "${log}" | tail -1)
  found=$(find "${build}/findings/${h}" -maxdepth 1 -type f ! -name 'minimized-*' | wc -l)
  echo "fuzz_${h}: ${last}; findings: ${found}"
done
