// The Fourier matcher on two fine-grid records of real captures of one
// finger: the search with the EHM-HR verifier's flags (normal and 360 mode)
// and the quick histogram match.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench_captures.h"
#include "match/fourier/zr_fourier.h"
#include "fourier_capture_records.h"

namespace {

// The EHM-HR verifier's flags without a given pose.
constexpr uint32_t kEhmHrFlags = ZR_SPECTRAL_FEATURES | ZR_SPECTRAL_RAW_SCORE |
                                 ZR_SPECTRAL_NO_PROGRESSIVE | ZR_SPECTRAL_WIDE_FINE_WINDOW;

// The first two captures of one finger; false (benchmark skipped) without them.
bool finger_pair(benchmark::State& state, const fp_test::SpectralCapture** a,
                 const fp_test::SpectralCapture** b) {
    const auto& captures = fp_test::spectral_captures();
    for (const auto& first : captures)
        for (const auto& second : captures)
            if (&first != &second && first.finger == second.finger) {
                *a = &first;
                *b = &second;
                return true;
            }
    fp_bench::skip_for_missing_captures(state);
    return false;
}

void BM_SpectralMatch(benchmark::State& state, uint32_t flags) {
    const fp_test::SpectralCapture *a = nullptr, *b = nullptr;
    if (!finger_pair(state, &a, &b)) return;
    const uint32_t size = zr_spectral_match_required_mem(
        a->record.data(), uint32_t(a->record.size()), b->record.data(), uint32_t(b->record.size()),
        uint8_t(flags));
    std::vector<uint8_t> work(size);
    uint16_t features[ZR_SPECTRAL_FEATURE_ARRAY_LENGTH];
    for (auto _ : state) {
        features[1] = ZR_SPECTRAL_FEATURE_REQUEST;
        features[2] = 0;
        zr_spectral_alignment pose{};
        const zr_status status = zr_spectral_match(
            work.data(), uint16_t(size), a->record.data(), uint32_t(a->record.size()),
            b->record.data(), uint32_t(b->record.size()), 0, features, nullptr, &pose, flags);
        benchmark::DoNotOptimize(status);
        benchmark::DoNotOptimize(features[0]);
    }
}
BENCHMARK_CAPTURE(BM_SpectralMatch, ehm_hr_normal, kEhmHrFlags)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_SpectralMatch, ehm_hr_360, kEhmHrFlags | ZR_SPECTRAL_MODE_360)
    ->Unit(benchmark::kMicrosecond);

void BM_SpectralQuickMatch(benchmark::State& state) {
    const fp_test::SpectralCapture *a = nullptr, *b = nullptr;
    if (!finger_pair(state, &a, &b)) return;
    zr_spectral_quick_scores scores{};
    for (auto _ : state) {
        const zr_status status = zr_spectral_quick_match(
            a->coarse.data(), uint32_t(a->coarse.size()), b->coarse.data(),
            uint16_t(b->coarse.size()), &scores);
        benchmark::DoNotOptimize(status);
        benchmark::DoNotOptimize(scores);
    }
}
BENCHMARK(BM_SpectralQuickMatch);

}  // namespace
