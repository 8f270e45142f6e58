// The slice extractor on a whole 374-row impression of the shared data set
// (skipped with an error when the data is absent).
#include <benchmark/benchmark.h>

#include <filesystem>

#include "bench_captures.h"
#include "extract/slice_extract.h"
#include "fp_test_data.h"
#include "objects/zr_finger.h"
#include "objects/zr_image.h"
#include "objects/zr_template.h"

namespace {

constexpr uint32_t kWholeRows = 374;
constexpr uint32_t kEhmTemplate = 67;  // what the slice presets ask for

const fp_test::GreyImage& whole_image() {
    static const fp_test::GreyImage image = [] {
        const auto dir = fp_test::captures_dir() / "fvc2002_db1" / "full";
        if (std::filesystem::exists(dir))
            for (const auto& entry : std::filesystem::directory_iterator(dir)) {
                fp_test::GreyImage g = fp_test::read_pgm(entry.path());
                if (g.rows == kWholeRows) return g;
            }
        return fp_test::GreyImage{};
    }();
    return image;
}

void BM_SliceExtractTemplate(benchmark::State& state) {
    const fp_test::GreyImage& g = whole_image();
    if (g.pixels.empty()) {
        fp_bench::skip_for_missing_captures(state);
        return;
    }
    zr_image* image = zr_image_create(uint16_t(g.rows), uint16_t(g.cols), 500, 500, g.pixels.data(), 0);
    for (auto _ : state) {
        zr_template* tmpl = nullptr;
        benchmark::DoNotOptimize(
            slice_extract_template(nullptr, image, ZR_FINGER_ANONYMOUS, kEhmTemplate, &tmpl));
        zr_template_delete(tmpl);
    }
    zr_image_delete(image);
}
BENCHMARK(BM_SliceExtractTemplate)->Unit(benchmark::kMillisecond);

}  // namespace
