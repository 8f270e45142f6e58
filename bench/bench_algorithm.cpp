// The algorithm object on real captures: extraction of one capture through
// the exported preset's algorithm, and verification of one probe image
// against a multi-template of its finger's six enrolment captures at FAR
// level 12, with its split into the probe's extraction and the walk over the
// extracted probe.
#include <benchmark/benchmark.h>

#include "algorithm_main_road.h"
#include "bench_captures.h"

namespace {

constexpr uint32_t kFarLevel = 12;

// The first finger with its stored multi-template.
struct OneFinger {
    fp_test::PresetCaptures captures{1};
    zr_template* stored = captures.fingers.empty() ? nullptr : captures.create(captures.fingers[0]);
    ~OneFinger() { zr_template_delete(stored); }
};

OneFinger& captures() {
    static OneFinger data;
    return data;
}

bool have_finger(benchmark::State& state) {
    if (fp_test::have_captures() && captures().stored != nullptr && !captures().captures.fingers[0].probes.empty())
        return true;
    fp_bench::skip_for_missing_captures(state);
    return false;
}

void BM_AlgorithmExtractTemplate(benchmark::State& state) {
    if (!have_finger(state)) return;
    zr_algorithm* a = captures().captures.algorithm;
    zr_image* probe = captures().captures.fingers[0].probes[0];
    for (auto _ : state) {
        zr_template* t = nullptr;
        benchmark::DoNotOptimize(zr_algorithm_extract_template(a, probe, nullptr, &t));
        zr_template_delete(t);
    }
}

void BM_AlgorithmVerifyImage(benchmark::State& state) {
    if (!have_finger(state)) return;
    zr_algorithm* a = captures().captures.algorithm;
    const fp_test::PresetFinger& f = captures().captures.fingers[0];
    zr_template* stored = captures().stored;
    for (auto _ : state) {
        uint32_t decision = 0;
        benchmark::DoNotOptimize(zr_algorithm_verify_image(a, &stored, 1, f.probes[0], kFarLevel, &decision, nullptr,
                                                           nullptr, nullptr, nullptr));
    }
}

// The walk alone: the probe extracted once beforehand.
void BM_AlgorithmVerifyImageWalk(benchmark::State& state) {
    if (!have_finger(state)) return;
    zr_algorithm* a = captures().captures.algorithm;
    const fp_test::PresetFinger& f = captures().captures.fingers[0];
    zr_template* stored = captures().stored;
    zr_template* probe = nullptr;
    if (zr_algorithm_extract_template(a, f.probes[0], nullptr, &probe) != ZR_OK) {
        state.SkipWithError("probe extraction failed");
        return;
    }
    for (auto _ : state) {
        uint32_t decision = 0;
        benchmark::DoNotOptimize(
            zr_algorithm_verify_templates(a, &stored, 1, probe, kFarLevel, &decision, nullptr, nullptr, nullptr));
    }
    zr_template_delete(probe);
}

BENCHMARK(BM_AlgorithmExtractTemplate)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AlgorithmVerifyImage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AlgorithmVerifyImageWalk)->Unit(benchmark::kMillisecond);

}  // namespace
