#!/usr/bin/env bash
# The main job: installs what is missing, builds the stack and the demo
# (Release; no tests, no benchmarks), installs them into build/release/stage
# (.ci/run configures build/release the same way, so the two share one build)
# and runs the end-to-end demo from there: five synthetic fingers through the
# simulated biometric service, fpengine with fpmatch, and fpusbdrv under the
# simulated driver host, once in one process and once with the driver in a
# child process. Arguments go to the demo, for example:
# --captures ../shared/data/ssb-dev (real captures).
# Exits non-zero when a step fails.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
stage="${PWD}/build/release/stage"
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="${stage}"
# What the install takes: the three modules, the demo and the capture generator.
cmake --build build/release --target fpmatch fpengine fpusbdrv fpdemo synthetic_fingers
cmake --install build/release > /dev/null
exec "${stage}/bin/fpdemo" "$@"
