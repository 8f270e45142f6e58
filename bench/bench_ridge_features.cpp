// Ridge curvature summary on the ridge skeleton of a real capture, as the
// extraction hands it to its first feature callback.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "extract/bal_extract.h"
#include "bench_captures.h"
#include "extract/bal_ridge_features.h"
#include "fp_test_data.h"

namespace {

// What the extraction passed to its first callback, copied out.
struct CallbackInput {
    bal_extraction_image image{};
    std::vector<uint8_t> skeleton;
    std::vector<uint8_t> block_mask;
    std::vector<uint8_t> quality;
    uint32_t block_size = 0;
};

CallbackInput g_input;

bal_status record_input(const bal_extraction_image* image, uint8_t* skeleton, const uint8_t* block_mask,
                        uint32_t block_size, uint32_t, const uint8_t* quality_image, zr_template_container*,
                        uint32_t) {
    const size_t pixels = size_t{image->rows} * image->cols;
    g_input.image = *image;
    g_input.image.pixels = nullptr;
    g_input.skeleton.assign(skeleton, skeleton + pixels);
    g_input.block_mask.assign(block_mask, block_mask + size_t{image->rows / block_size} * (image->cols / block_size));
    g_input.quality.assign(quality_image, quality_image + pixels);
    g_input.block_size = block_size;
    return BAL_OK;
}

// The ridge skeleton of the first real capture; empty when the capture is
// missing or the extraction failed.
const CallbackInput& ridge_skeleton() {
    static const bool done = [] {
        std::vector<uint8_t> pixels = fp_test::sensor_image();
        if (pixels.empty()) return false;
        zr_template_container* c = zr_template_container_alloc();
        c->flags = BAL_EXTRACT_FEATURE_CALLBACKS;
        c->minutiae.max_minutiae = 255;
        const bal_status status =
            bal_extract(pixels.data(), nullptr, fp_test::kSensorRows, fp_test::kSensorCols, c, record_input, nullptr);
        zr_template_container_free(c);
        return status == BAL_OK;
    }();
    (void)done;
    return g_input;
}

// Runs one feature callback on a fresh copy of the skeleton per iteration
// (the extractors consume it); skips the benchmark when there is no skeleton.
template <typename Extractor>
void run_feature_callback(benchmark::State& state, Extractor&& extract) {
    if (!fp_bench::have_sensor_image(state)) return;
    const CallbackInput& in = ridge_skeleton();
    if (in.skeleton.empty()) {
        state.SkipWithError("extraction failed");
        return;
    }
    std::vector<uint8_t> work(in.skeleton.size());
    zr_template_container* c = zr_template_container_alloc();
    for (auto _ : state) {
        std::memcpy(work.data(), in.skeleton.data(), work.size());
        benchmark::DoNotOptimize(extract(in, work.data(), c));
        benchmark::ClobberMemory();
    }
    zr_template_container_free(c);
}

void BM_extract_ridge_curvature(benchmark::State& state) {
    run_feature_callback(state, [](const CallbackInput& in, uint8_t* skeleton, zr_template_container* c) {
        return bal_extract_ridge_curvature(&in.image, skeleton, in.block_mask.data(), in.block_size,
                                           BAL_CALLBACK1_MARGIN, in.quality.data(), c, BAL_CALLBACK1_SLOT_BASE);
    });
}
BENCHMARK(BM_extract_ridge_curvature);

// The copy alone, to subtract from the above.
void BM_skeleton_copy(benchmark::State& state) {
    run_feature_callback(state, [](const CallbackInput&, uint8_t*, zr_template_container*) { return BAL_OK; });
}
BENCHMARK(BM_skeleton_copy);

void BM_extract_alignment_vectors(benchmark::State& state) {
    run_feature_callback(state, [](const CallbackInput& in, uint8_t* skeleton, zr_template_container* c) {
        const bal_status status =
            bal_extract_alignment_vectors(&in.image, skeleton, in.block_mask.data(), in.block_size,
                                          BAL_CALLBACK1_MARGIN, in.quality.data(), c, BAL_CALLBACK1_SLOT_BASE);
        for (auto& block : c->feature_blocks) {
            std::free(block.data);
            block = zr_feature_block{};
        }
        return status;
    });
}
BENCHMARK(BM_extract_alignment_vectors);

}  // namespace
