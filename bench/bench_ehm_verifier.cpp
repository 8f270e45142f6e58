// The EHM-HR verifier on the verification path: feature extraction (linked-
// cluster and spectral matches) plus the model's score for one same-finger
// pair of real templates.
#include <benchmark/benchmark.h>

#include "bench_captures.h"
#include "match/verifiers/zr_vermodels.h"
#include "objects/zr_session.h"
#include "fourier_capture_records.h"

namespace {

void BM_EhmhrFeaturesAndScore(benchmark::State& state) {
    const auto& captures = fp_test::spectral_captures();
    if (captures.size() < 2) {
        fp_bench::skip_for_missing_captures(state);
        return;
    }
    const auto& a = captures[0];
    const auto& b = captures[1];  // the next capture of the same finger
    zr_template* enrolled = zr_template_create(ZR_TEMPLATE_EHM_PRESET, a.fusion.data(), uint32_t(a.fusion.size()));
    zr_template* probe = zr_template_create(ZR_TEMPLATE_EHM_PRESET, b.fusion.data(), uint32_t(b.fusion.size()));
    zr_session* session = zr_session_create();
    if (zr_session_set_sensor_size_(session, 8) != ZR_OK) state.SkipWithError("session");
    for (auto _ : state) {
        uint16_t score = 0;
        benchmark::DoNotOptimize(zr_verifier_get_raw_similarity_score(
            session, &ehmhr_verifier, &zr_vermodel_h80_ehmhr, enrolled, probe, &score, nullptr));
        benchmark::DoNotOptimize(score);
    }
    zr_session_delete(session);
    zr_template_delete(probe);
    zr_template_delete(enrolled);
}

BENCHMARK(BM_EhmhrFeaturesAndScore);

}  // namespace
