// Enrolment on real captures as the exported interface runs it (the 192x80
// hybridhr preset, 508 dpi, six captures): one run per capture, extraction
// included, and the finalisation of six accepted captures.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "bench_captures.h"
#include "fp_test_data.h"
#include "match/enroll/zr_multitemplate_enroll.h"
#include "match/zr_presets.h"

namespace {

constexpr int kCaptures = 6;
constexpr uint16_t kDpi = 508;

std::vector<zr_image*> finger_images() {
    std::vector<zr_image*> images;
    if (!fp_test::have_captures()) return images;
    const auto dir = fp_test::captures_dir() / "fvc2002_db1" / "101";
    for (int i = 1; i <= kCaptures; ++i) {
        fp_test::GreyImage g = fp_test::read_pgm(dir / ("e" + std::to_string(i) + ".pgm"));
        if (g.pixels.empty()) return {};
        images.push_back(zr_image_create(uint16_t(g.rows), uint16_t(g.cols), kDpi, kDpi, g.pixels.data(), 0));
    }
    return images;
}

struct enrolment {
    zr_algorithm* algorithm = gen_192x80_hybridhr_create(nullptr);
    zr_multitemplate_enroll* object = nullptr;
    enrolment() {
        zr_algorithm_get_config(algorithm)->max_captures = kCaptures;
        object = zr_multitemplate_enroll_create_algorithm(algorithm, nullptr, nullptr, nullptr);
    }
    ~enrolment() {
        zr_multitemplate_enroll_delete(object);
        zr_algorithm_delete(algorithm);
    }
};

void BM_EnrollRunPerCapture(benchmark::State& state) {
    static const std::vector<zr_image*> images = finger_images();
    if (images.empty()) {
        fp_bench::skip_for_missing_captures(state);
        return;
    }
    enrolment* e = nullptr;
    int next = kCaptures;
    for (auto _ : state) {
        if (next == kCaptures) {
            state.PauseTiming();
            delete e;
            e = new enrolment;
            next = 0;
            state.ResumeTiming();
        }
        uint8_t coverage = 0;
        benchmark::DoNotOptimize(zr_multitemplate_enroll_run(e->object, images[next++], nullptr, &coverage));
    }
    delete e;
}

void BM_EnrollFinalizeSixCaptures(benchmark::State& state) {
    static const std::vector<zr_image*> images = finger_images();
    if (images.empty()) {
        fp_bench::skip_for_missing_captures(state);
        return;
    }
    enrolment e;
    for (zr_image* img : images) {
        if (zr_multitemplate_enroll_run(e.object, img, nullptr, nullptr) != ZR_OK) {
            state.SkipWithError("enrolment run failed");
            return;
        }
    }
    for (auto _ : state) {
        zr_template* out = nullptr;
        benchmark::DoNotOptimize(zr_multitemplate_enroll_finalize_template_algorithm(e.algorithm, e.object, &out));
        zr_template_delete(out);
    }
}

BENCHMARK(BM_EnrollRunPerCapture)->Unit(benchmark::kMillisecond)->Iterations(60)->Repetitions(5);
BENCHMARK(BM_EnrollFinalizeSixCaptures)->Unit(benchmark::kMicrosecond)->Repetitions(5);

}  // namespace
