// Building a stored multi-template through the algorithm: six enrolment
// templates of one real finger (extracted beforehand) through
// zr_algorithm_create_multitemplate with the exported preset's algorithm.
#include <benchmark/benchmark.h>

#include <vector>

#include "algorithm_main_road.h"
#include "bench_captures.h"

namespace {

// The first finger's six enrolment templates.
struct SixTemplates {
    fp_test::PresetCaptures captures{1};
    zr_algorithm* algorithm = captures.algorithm;
    std::vector<zr_template*> templates = captures.fingers.empty() ? std::vector<zr_template*>{}
                                                                     : captures.fingers[0].templates;
};

SixTemplates& six() {
    static SixTemplates data;
    return data;
}

void BM_AlgorithmCreateMultitemplate(benchmark::State& state) {
    if (six().templates.size() != 6) {
        fp_bench::skip_for_missing_captures(state);
        return;
    }
    for (auto _ : state) {
        zr_template* out = nullptr;
        benchmark::DoNotOptimize(zr_algorithm_create_multitemplate(six().algorithm, six().templates.data(), 6, &out));
        zr_template_delete(out);
    }
}

BENCHMARK(BM_AlgorithmCreateMultitemplate)->Unit(benchmark::kMillisecond);

}  // namespace
