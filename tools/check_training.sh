#!/usr/bin/env bash
# Runs the score-model trainer twice on a small subset of the training images
# and two generated fingers, and fails unless both runs write the same tables
# byte for byte.
#
# Usage: tools/check_training.sh TRAINER TRAIN_DIR
# Exit 0 when the outputs agree, 1 when they differ or a run fails, 77 (a
# skip for ctest) when the training images are absent.
set -euo pipefail
trainer=$1
train_dir=$2
subset=(--fingers 3 --synthetic 2 --impostors 2000 --threshold-pairs 3000 --models e130,p130)

if [ ! -f "${train_dir}/manifest.tsv" ]; then
  echo "training images not found under ${train_dir}; skipped"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "${work}"' EXIT
"${trainer}" train "${train_dir}" "${work}/first" "${subset[@]}"
"${trainer}" train "${train_dir}" "${work}/second" "${subset[@]}"
if ! diff -r "${work}/first" "${work}/second"; then
  echo "the trainer wrote different tables from the same inputs"
  exit 1
fi
echo "both runs wrote the same $(find "${work}/first" -type f | wc -l) tables"
