// Thinning and ghost removal on 176 x 96 real captures.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bench_captures.h"
#include "fp_test_data.h"
#include "imaging/bal_binarize.h"
#include "imaging/bal_ghost.h"
#include "imaging/bal_thin.h"

namespace {

fp_test::GreyImage first_capture() {
    const auto paths = fp_test::capture_paths();
    return paths.empty() ? fp_test::GreyImage{} : fp_test::read_pgm(paths.front());
}

// Ridges as object (0): the library's local-threshold binarisation with a
// background frame.
std::vector<uint8_t> binarise(const fp_test::GreyImage& g) {
    std::vector<int8_t> centred(g.pixels.size());
    for (size_t i = 0; i < centred.size(); ++i) centred[i] = int8_t(g.pixels[i] - 128);
    const std::vector<uint8_t> quality(g.pixels.size(), 255);
    std::vector<uint8_t> ridges(g.pixels.size()), valleys(g.pixels.size());
    // Timing the thinning of an image that was never binarised would measure nothing useful.
    if (bal_binarize_local_threshold(centred.data(), quality.data(), g.rows, g.cols, 12, ridges.data(),
                                     valleys.data()) != BAL_OK)
        std::abort();
    bal_binarize_remove_edges(ridges.data(), valleys.data(), g.rows, g.cols, 1, 1, 1, 1);
    return ridges;
}

void BM_contour_thin(benchmark::State& state) {
    const fp_test::GreyImage g = first_capture();
    if (g.pixels.empty()) {
        fp_bench::skip_for_missing_captures(state);
        return;
    }
    const std::vector<uint8_t> binary = binarise(g);
    std::vector<uint8_t> work(binary.size());
    std::vector<uint8_t*> rows(g.rows);
    for (uint32_t y = 0; y < g.rows; ++y) rows[y] = work.data() + size_t{y} * g.cols;
    for (auto _ : state) {
        std::memcpy(work.data(), binary.data(), binary.size());  // thinning works in place
        benchmark::DoNotOptimize(bal_contour_thin(rows.data(), g.rows, g.cols));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_contour_thin);

// arg 0: the capture as it is (no ghost found); arg 1: a latent print on the
// lower half (the filter runs).
void BM_ghost_remove_bs(benchmark::State& state) {
    fp_test::GreyImage g = first_capture();
    if (g.pixels.empty()) {
        fp_bench::skip_for_missing_captures(state);
        return;
    }
    if (state.range(0) == 1) {
        const std::vector<uint8_t> ridges = binarise(g);
        const auto [lo, hi] = std::minmax_element(g.pixels.begin(), g.pixels.end());
        const int32_t low = *lo, span = std::max(1, int32_t(*hi) - low);
        for (auto& v : g.pixels) v = uint8_t((v - low) * 150 / span);
        for (size_t p = size_t{88} * g.cols; p < g.pixels.size(); ++p) g.pixels[p] = ridges[p] == 0 ? 170 : 230;
    }
    std::vector<uint8_t> dst(g.pixels.size());
    uint32_t applied = 0;
    for (auto _ : state) {
        applied = bal_ghost_remove_bs(g.pixels.data(), g.rows, g.cols, dst.data(), 12);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.counters["applied"] = applied;
}
BENCHMARK(BM_ghost_remove_bs)->Arg(0)->Arg(1);

}  // namespace
