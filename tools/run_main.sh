#!/usr/bin/env bash
# The main job: installs what is missing, builds everything (Release),
# installs the stack into build/release/stage and runs the end-to-end demo
# from there: five synthetic fingers through the simulated biometric service,
# fpengine with fpmatch, and fpusbdrv under the simulated driver host, once in
# one process and once with the driver in a child process. Arguments go to
# the demo, for example: --captures ../shared/data/ssb-dev (real captures).
# Exits non-zero when a step fails.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
stage="${PWD}/build/release/stage"
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="${stage}"
cmake --build build/release
cmake --install build/release > /dev/null
exec "${stage}/bin/fpdemo" "$@"
