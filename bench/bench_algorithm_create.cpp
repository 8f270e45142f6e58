// Building a stored multi-template through the algorithm: six enrolment
// templates of one real finger (extracted beforehand) through
// zr_algorithm_create_multitemplate with the exported preset's algorithm.
#include <benchmark/benchmark.h>

#include <vector>

#include "algorithm_main_road.h"
#include "bench_captures.h"
#include "match/zr_presets.h"

namespace {

struct SixTemplates {
    zr_algorithm* algorithm = gen_192x80_hybridhr_create(nullptr);
    std::vector<zr_template*> templates;
    SixTemplates() {
        if (algorithm == nullptr || !fp_test::have_captures()) return;
        zr_algorithm_get_config(algorithm)->max_template_size = 20480;
        (void)zr_algorithm_set_feature_state(algorithm, ZR_FEATURE_360, 1);
        const auto dir = fp_test::captures_dir() / "fvc2000_db1" / "101";
        for (int e = 1; e <= 6; ++e) {
            zr_image* image = fp_test::load_capture(dir / ("e" + std::to_string(e) + ".pgm"), fp_test::kEnrolDpi);
            zr_template* t = nullptr;
            if (image != nullptr && zr_algorithm_extract_template(algorithm, image, nullptr, &t) == ZR_OK)
                templates.push_back(t);
            zr_image_delete(image);
        }
    }
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
