#include "liveness/zr_pad.h"

#include <cstdlib>
#include <cstring>

#include "liveness/nex_math.h"
#include "liveness/zr_pad_stages.h"
#include "objects/zr_alloc.h"
#include "objects/zr_object.h"

namespace {

constexpr int32_t kBlockSize = 16;

// Result code of each liveness error word value; 28 and above give
// ZR_FAILURE.
constexpr zr_status kErrorWordStatus[] = {
    ZR_OK,                // 0
    ZR_FAILURE,           // 1
    ZR_UNHANDLED_INPUT,   // 2
    ZR_NO_MEMORY,         // 3
    ZR_FAILURE, ZR_FAILURE, ZR_FAILURE, ZR_FAILURE,  // 4-7
    ZR_UNHANDLED_INPUT,   // 8
    ZR_FAILURE, ZR_FAILURE, ZR_FAILURE, ZR_FAILURE,  // 9-12
    ZR_FAILURE, ZR_FAILURE, ZR_FAILURE,              // 13-15
    ZR_PAD_IMAGE_REFUSED, ZR_PAD_IMAGE_REFUSED, ZR_PAD_IMAGE_REFUSED,  // 16-18
    ZR_PAD_IMAGE_REFUSED, ZR_PAD_IMAGE_REFUSED, ZR_PAD_IMAGE_REFUSED,  // 19-21
    ZR_PAD_IMAGE_REFUSED,                                              // 22
    ZR_FAILURE, ZR_FAILURE, ZR_FAILURE,              // 23-25
    ZR_UNHANDLED_INPUT,   // 26
    ZR_BAD_ARGUMENT,      // 27
};
static_assert(sizeof(kErrorWordStatus) / sizeof(kErrorWordStatus[0]) == 28);

void delete_pad(zr_pad* pad) {
    zr_session_delete(pad->session);
    std::free(pad);
}

bool within(uint16_t v, uint16_t lo, uint16_t hi) { return v >= lo && v <= hi; }

zr_status check_image_against_model(const zr_image* image, const zr_pad_model& model) {
    if (!within(image->cols, model.min_cols, model.max_cols)) return ZR_PAD_IMAGE_REFUSED;
    if (!within(image->rows, model.min_rows, model.max_rows)) return ZR_PAD_IMAGE_REFUSED;
    const bool any = model.vertical_resolution == ZR_PAD_ANY_RESOLUTION ||
                     model.horizontal_resolution == ZR_PAD_ANY_RESOLUTION;
    const bool same = image->vertical_resolution == model.vertical_resolution &&
                      image->horizontal_resolution == model.horizontal_resolution;
    return any || same ? ZR_OK : ZR_PAD_IMAGE_REFUSED;
}

bool network_fits(const nex_network* network) {
    return nn_network_is_runnable(network) && nn_required_inputs(network) == ZR_PAD_FEATURE_COUNT;
}

int32_t block_count(int32_t pixels) { return (pixels + kBlockSize - 1) / kBlockSize; }

// The buffers of one scoring run; all freed by the destructor except the
// feature record once it has been handed out.
struct ScoringBuffers {
    uint8_t* work = nullptr;
    int32_t* features = nullptr;
    uint8_t* block_maps[3] = {nullptr, nullptr, nullptr};

    ~ScoringBuffers() {
        std::free(work);
        std::free(features);
        for (uint8_t* map : block_maps) std::free(map);
    }
    int32_t* release_features() {
        int32_t* f = features;
        features = nullptr;
        return f;
    }
};

// The image stages and the network; returns the error word's mapping.
zr_status run_stages(const zr_image* image, const uint8_t* pixels, const zr_pad_model& model,
                     ScoringBuffers& buffers, uint32_t* score) {
    const int32_t rows = image->rows;
    const int32_t cols = image->cols;
    const int32_t dpi = model.vertical_resolution != ZR_PAD_ANY_RESOLUTION
                            ? model.vertical_resolution
                            : zr_image_get_resolution(image);
    const zr_pad_stages* stages = zr_pad_get_stages();
    if (stages->maskgen != nullptr) {
        std::memcpy(buffers.work, pixels, static_cast<size_t>(rows) * static_cast<size_t>(cols));
        stages->maskgen(buffers.work, rows, cols, buffers.block_maps[0], buffers.block_maps[1],
                        buffers.block_maps[2], block_count(rows), block_count(cols), dpi);
    } else {
        // No mask generation: an empty mask.
        std::memset(buffers.work, 0, static_cast<size_t>(rows) * static_cast<size_t>(cols));
    }
    if (nex_error_q() != 0) return zr_pad_status_of_error(nex_error_q());
    if (stages->features_extract != nullptr)
        stages->features_extract(pixels, buffers.work, rows, cols, buffers.features);
    if (nex_error_q() != 0) return zr_pad_status_of_error(nex_error_q());
    const nex_samples sample{ZR_PAD_FEATURE_COUNT, 1, buffers.features};
    nex_mlp_test(&sample, model.network, score);
    return zr_pad_status_of_error(nex_error_q());
}

// The scoring steps shared by the three calls; the outputs are checked and
// preset by the callers. On success *features_out (when given) receives the
// feature record.
zr_status score_image(zr_pad* pad, zr_image* image, uint16_t* score, int32_t** features_out) {
    nex_error(0);
    const zr_pad_model& model = *pad->model;
    if (model.present == 0) return ZR_UNHANDLED_INPUT;
    if (zr_status rc = check_image_against_model(image, model); rc != ZR_OK) return rc;
    const uint8_t* pixels = image->rows != 0 && image->cols != 0 ? zr_image_get_pixels(image) : nullptr;
    if (pixels == nullptr) return ZR_WRONG_TYPE;

    const size_t pixel_count = static_cast<size_t>(image->rows) * static_cast<size_t>(image->cols);
    ScoringBuffers buffers;
    buffers.work = static_cast<uint8_t*>(zr_malloc(pixel_count));
    buffers.features = static_cast<int32_t*>(zr_calloc(ZR_PAD_FEATURE_COUNT, sizeof(int32_t)));
    if (buffers.work == nullptr || buffers.features == nullptr) return ZR_NO_MEMORY;

    if (!network_fits(model.network)) return ZR_PAD_MODEL_UNUSABLE;
    const size_t map_size = static_cast<size_t>(block_count(image->rows)) *
                            static_cast<size_t>(block_count(image->cols));
    for (uint8_t*& map : buffers.block_maps) {
        map = static_cast<uint8_t*>(zr_malloc(map_size));
        if (map == nullptr) return ZR_NO_MEMORY;
    }

    uint32_t value = 0;
    if (zr_status rc = run_stages(image, pixels, model, buffers, &value); rc != ZR_OK) return rc;
    zr_image_set_liveness_score(image, static_cast<uint16_t>(value));
    *score = static_cast<uint16_t>(value);
    if (features_out != nullptr) *features_out = buffers.release_features();
    return ZR_OK;
}

}  // namespace

zr_status zr_pad_status_of_error(uint32_t error_word) {
    constexpr uint32_t entries = sizeof(kErrorWordStatus) / sizeof(kErrorWordStatus[0]);
    return error_word < entries ? kErrorWordStatus[error_word] : ZR_FAILURE;
}

zr_pad* zr_pad_create(zr_session* session, const zr_pad_model* model) {
    if (model == nullptr) return nullptr;
    auto* pad = static_cast<zr_pad*>(zr_malloc(sizeof(zr_pad)));
    if (pad == nullptr) return nullptr;
    pad->ref_count = 1;
    pad->session = zr_session_retain(session);
    pad->model = model;
    pad->destroy = delete_pad;
    return pad;
}

zr_pad* zr_pad_retain(zr_pad* pad) { return zr_object_retain(pad); }

void zr_pad_delete(zr_pad* pad) { zr_object_delete(pad); }

zr_status zr_pad_get_score(zr_pad* pad, zr_image* image, uint16_t* score) {
    if (score != nullptr) *score = ZR_PAD_NO_SCORE;
    if (pad == nullptr || image == nullptr || score == nullptr) return ZR_BAD_ARGUMENT;
    return score_image(pad, image, score, nullptr);
}

zr_status zr_pad_get_score_ex(zr_pad* pad, zr_image* image, uint16_t* score, uint16_t* count,
                              int32_t** features) {
    if (score != nullptr) *score = ZR_PAD_NO_SCORE;
    if (count != nullptr) *count = 0;
    if (features != nullptr) *features = nullptr;
    if (pad == nullptr || image == nullptr || score == nullptr || count == nullptr ||
        features == nullptr)
        return ZR_BAD_ARGUMENT;
    const zr_status rc = score_image(pad, image, score, features);
    if (rc == ZR_OK) *count = ZR_PAD_FEATURE_COUNT;
    return rc;
}

zr_status zr_pad_get_decision(zr_pad* pad, zr_image* image, uint32_t level, uint32_t* live) {
    if (live == nullptr || level >= ZR_PAD_LEVELS) return ZR_BAD_ARGUMENT;
    *live = 0;
    if (pad == nullptr || image == nullptr) return ZR_BAD_ARGUMENT;
    uint16_t score = ZR_PAD_NO_SCORE;
    if (zr_status rc = score_image(pad, image, &score, nullptr); rc != ZR_OK) return rc;
    if (pad->model->thresholds == nullptr) return ZR_PAD_MODEL_UNUSABLE;
    *live = pad->model->thresholds[level].threshold <= score ? 1u : 0u;
    return ZR_OK;
}

uint32_t zr_pad_get_liveness_threshold(const zr_pad* pad, uint32_t level) {
    if (pad == nullptr || level >= ZR_PAD_LEVELS || pad->model->present == 0 ||
        pad->model->thresholds == nullptr)
        return ZR_PAD_NO_THRESHOLD;
    return pad->model->thresholds[level].threshold;
}
