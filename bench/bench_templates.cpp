// Template building on the main road (compact card wrapped as a fusion
// template with the record-form spectral part and the ridge-curvature
// summary) from one real 176 x 96 capture, and locating the parts of the
// template it gives.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench_captures.h"
#include "extract/bal_extract_template.h"
#include "extract/bal_ridge_features.h"
#include "fp_test_data.h"
#include "objects/zr_fusion_parts.h"

namespace {

constexpr uint32_t kMainRoadFlags = 0x04F2 | BAL_EXTRACT_FEATURE_CALLBACKS;
constexpr uint8_t kQualityDescending = 0x15;
constexpr uint32_t kMaxMinutiae = 64;

bal_status build_main_road(std::vector<uint8_t>& pixels, uint8_t** out, uint32_t* length) {
    return bal_extract_template_mask(pixels.data(), nullptr, fp_test::kSensorRows,
                                     fp_test::kSensorCols, 0, 0, 0, 0, kMaxMinutiae,
                                     kQualityDescending, kMainRoadFlags, BAL_FORMAT_COMPACT_CARD,
                                     out, length, bal_extract_ridge_curvature, nullptr);
}

void BM_ExtractTemplateMaskMainRoad(benchmark::State& state) {
    if (!fp_bench::have_sensor_image(state)) return;
    std::vector<uint8_t> pixels = fp_test::sensor_image();
    uint32_t length = 0;
    for (auto _ : state) {
        uint8_t* out = nullptr;
        if (build_main_road(pixels, &out, &length) != BAL_OK) {
            state.SkipWithError("template building failed");
            return;
        }
        benchmark::DoNotOptimize(out);
        (void)bal_free_template(out);
    }
    state.counters["bytes"] = length;
}
BENCHMARK(BM_ExtractTemplateMaskMainRoad)->Unit(benchmark::kMillisecond);

void BM_FusionToParts(benchmark::State& state) {
    if (!fp_bench::have_sensor_image(state)) return;
    std::vector<uint8_t> pixels = fp_test::sensor_image();
    uint8_t* tmpl = nullptr;
    uint32_t length = 0;
    if (build_main_road(pixels, &tmpl, &length) != BAL_OK) {
        state.SkipWithError("template building failed");
        return;
    }
    for (auto _ : state) {
        zr_fusion_part card{}, spectral{}, image{}, idim{};
        const zr_status status = zr_fusion_to_parts(tmpl, length, &card, &spectral, &image, &idim);
        benchmark::DoNotOptimize(status);
        benchmark::DoNotOptimize(spectral);
    }
    (void)bal_free_template(tmpl);
}
BENCHMARK(BM_FusionToParts);

}  // namespace
