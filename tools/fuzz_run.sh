#!/usr/bin/env bash
# Builds the fuzzing harnesses (clang, libFuzzer, ASan + UBSan; they belong to
# the clang sanitizer build, build/asan by default, which also holds the
# tests), writes their seed corpora, replays every regression input, then runs
# each harness for a bounded time, several at once. Exits non-zero when a
# harness finds something; the input is kept under
# <build>/fuzz/findings/<harness>/.
#
#   tools/fuzz_run.sh [--build DIR] [--seconds N] [--jobs J] [--build-only] [HARNESS...]
#
# DIR (relative to the repository) is configured as CI configures it unless
# it already is. N seconds per harness (default 20), J harnesses at a time
# (default: cores).
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

build_dir=${root}/build/asan
seconds=20
jobs=$(nproc)
build_only=0
harnesses=()
while (($#)); do
  case "$1" in
    --build) build_dir=$(realpath -m "$2"); shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    --jobs) jobs=$2; shift 2 ;;
    --build-only) build_only=1; shift ;;
    *) harnesses+=("$1"); shift ;;
  esac
done

if [ ! -f "${build_dir}/CMakeCache.txt" ]; then
  cmake -S . -B "${build_dir}" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG" \
    "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG" -DFP_BUILD_BENCH=OFF -DFP_SANITIZE=ON -DFP_FUZZ=ON \
    >/dev/null || exit 1
fi
cmake --build "${build_dir}" -j "${jobs}" --target fuzz_all || exit 1
build=${build_dir}/fuzz
rm -rf "${build}/seeds"
"${build}/fuzz_seed_writer" "${build}/seeds" || exit 1
((${#harnesses[@]})) || mapfile -t harnesses < "${build}/harnesses.txt"
((build_only)) && exit 0

export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

# Records from the shared test data (never copied into the tree) that seed the
# harness of their format, as "harness:directory under ../shared/data".
external_seeds=(iso_record:templates/sourceafis-java iso_record:templates/nist-biomeval ansi_record:templates/fingerprintio-java)
data_dir=${FP_DATA_DIR:-${root}/../shared/data}

# Seed directories of one harness: the writers' seeds, its regression inputs
# and any external records present.
seed_dirs() {
  local h=$1 pair
  echo "${build}/seeds/${h}"
  [ -d "fuzz/regressions/${h}" ] && echo "${root}/fuzz/regressions/${h}"
  for pair in "${external_seeds[@]}"; do
    [ "${pair%%:*}" = "${h}" ] && [ -d "${data_dir}/${pair#*:}" ] && echo "${data_dir}/${pair#*:}"
  done
}

# Replays the regression inputs, then fuzzes for the bounded time.
run_harness() {
  local h=$1
  local corpus=${build}/corpus/${h} findings=${build}/findings/${h} log=${build}/logs/${h}.log
  mkdir -p "${corpus}" "${findings}" "${build}/logs"
  : > "${log}"
  local regressions=("${root}/fuzz/regressions/${h}"/*)
  if [ -e "${regressions[0]}" ]; then
    "${build}/fuzz_${h}" -timeout=30 "${regressions[@]}" >> "${log}" 2>&1 || return 1
  fi
  mapfile -t dirs < <(seed_dirs "${h}")
  "${build}/fuzz_${h}" -max_total_time="${seconds}" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="${findings}/" "${corpus}" "${dirs[@]}" >> "${log}" 2>&1
}

status=0
report() {
  local h=$1 log=${build}/logs/$1.log
  local rc stats
  rc=$(cat "${build}/logs/${h}.rc" 2>/dev/null || echo 1)
  stats=$(grep -E '^#[0-9]+.*(DONE|pulse|NEW|REDUCE)' "${log}" | tail -1)
  if [ "${rc}" -ne 0 ]; then
    echo "--- fuzz_${h}: FAILED"
    # The sanitizer's or libFuzzer's report, else the end of the log.
    if grep -qE '^==[0-9]+==|^SUMMARY|deadly signal' "${log}"; then
      sed -n '/^==[0-9]*==\(ERROR\|WARNING\)\|deadly signal/,/^SUMMARY/p' "${log}" | head -40
      grep -E 'Test unit written|^Running: ' "${log}" | tail -2
    else
      tail -40 "${log}"
    fi
    status=1
  else
    echo "--- fuzz_${h}: ${stats}"
  fi
}
mkdir -p "${build}/logs"
for h in "${harnesses[@]}"; do
  while (($(jobs -rp | wc -l) >= jobs)); do wait -n; done
  rm -f "${build}/logs/${h}.rc"
  (run_harness "${h}"; echo $? > "${build}/logs/${h}.rc") &
done
wait
for h in "${harnesses[@]}"; do report "${h}"; done
exit "${status}"
