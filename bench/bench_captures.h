// The real captures behind the image benchmarks. A benchmark whose capture is
// missing is reported as an error (fpbench then exits non-zero) instead of
// timing a stand-in image.
#pragma once

#include <benchmark/benchmark.h>

#include <string>

#include "fp_test_data.h"

namespace fp_bench {

// Marks the benchmark as errored, naming where the captures were looked for.
// The benchmark must then return without entering its timing loop.
inline void skip_for_missing_captures(benchmark::State& state) {
    const std::string message =
        "real captures not found under " + fp_test::captures_dir().string() + " (set FP_DATA_DIR)";
    state.SkipWithError(message.c_str());
}

// True when the first 176 x 96 real capture is available; otherwise skips the
// benchmark as above and returns false.
inline bool have_sensor_image(benchmark::State& state) {
    if (!fp_test::sensor_image().empty()) return true;
    skip_for_missing_captures(state);
    return false;
}

}  // namespace fp_bench
