// The liveness detector: scores one grey fingerprint image from 0 (artefact)
// to 1000 (live) with the caller's model (a network and seven thresholds),
// and decides live or not at a security level.
//
// The model is the caller's: the detector neither copies nor frees it, and it
// must outlive the detector. No threshold is applied by the scoring calls.
// The detector holds no lock; calls on one detector may run in parallel
// (each call keeps its error state in the calling thread).
#pragma once

#include <cstddef>
#include <cstdint>

#include "liveness/nex_network.h"
#include "objects/zr_image.h"
#include "objects/zr_result.h"
#include "objects/zr_session.h"

// One entry of the model's threshold table; only the first u16 is read.
struct zr_pad_threshold {
    uint16_t threshold;
    uint16_t unused;
};

// Number of security levels (0..6) of the threshold table.
constexpr uint32_t ZR_PAD_LEVELS = 7;
// Model resolution that accepts any image resolution.
constexpr uint16_t ZR_PAD_ANY_RESOLUTION = 65535;
// Number of features measured per image and read by the network.
constexpr uint16_t ZR_PAD_FEATURE_COUNT = 190;
// Score written before any work and kept on failure.
constexpr uint16_t ZR_PAD_NO_SCORE = 65535;
// Result of zr_pad_get_liveness_threshold when there is no threshold.
constexpr uint32_t ZR_PAD_NO_THRESHOLD = 0xFFFFFFFF;

// Result codes of the liveness code beside those of the object layer.
// The image is outside the model's size or resolution.
constexpr zr_status ZR_PAD_IMAGE_REFUSED = static_cast<zr_status>(18);
// The model lacks what the call needs: a runnable network of
// ZR_PAD_FEATURE_COUNT inputs, or (for a decision) the threshold table.
constexpr zr_status ZR_PAD_MODEL_UNUSABLE = static_cast<zr_status>(21);

// The caller's model record; the byte offsets are part of the interface.
struct zr_pad_model {
    uint32_t present;  // 0: no model, every scoring call gives ZR_UNHANDLED_INPUT
    const nex_network* network;
    const zr_pad_threshold* thresholds;  // ZR_PAD_LEVELS entries, or none
    uint16_t min_rows;
    uint16_t max_rows;
    uint16_t vertical_resolution;  // dpi; ZR_PAD_ANY_RESOLUTION: any
    uint16_t min_cols;
    uint16_t max_cols;
    uint16_t horizontal_resolution;  // dpi; ZR_PAD_ANY_RESOLUTION: any
};
static_assert(offsetof(zr_pad_model, present) == 0);
static_assert(offsetof(zr_pad_model, network) == 8);
static_assert(offsetof(zr_pad_model, thresholds) == 16);
static_assert(offsetof(zr_pad_model, min_rows) == 24);
static_assert(offsetof(zr_pad_model, max_rows) == 26);
static_assert(offsetof(zr_pad_model, vertical_resolution) == 28);
static_assert(offsetof(zr_pad_model, min_cols) == 30);
static_assert(offsetof(zr_pad_model, max_cols) == 32);
static_assert(offsetof(zr_pad_model, horizontal_resolution) == 34);

struct zr_pad {
    uint32_t ref_count;
    zr_session* session;  // held reference or none
    const zr_pad_model* model;
    void (*destroy)(zr_pad*);
};

// A new detector with one reference, holding a reference to the session (which
// may be none); none for a missing model or when memory runs out.
zr_pad* zr_pad_create(zr_session* session, const zr_pad_model* model);
zr_pad* zr_pad_retain(zr_pad* pad);
void zr_pad_delete(zr_pad* pad);

// Scores the image. *score is set to ZR_PAD_NO_SCORE first and keeps it on
// every failure; on success it receives the score (0..1000), which is also
// stored in the image (zr_image_set_liveness_score).
//   ZR_BAD_ARGUMENT    missing detector, image or score
//   ZR_UNHANDLED_INPUT the model is not present
//   ZR_PAD_IMAGE_REFUSED columns, rows (columns first) or resolution outside
//                      the model's: the image's two resolutions must equal the
//                      model's unless either of the model's is "any"
//   ZR_WRONG_TYPE      an image of 0 rows or columns, or without pixels
//   ZR_NO_MEMORY       an allocation failed (everything taken is freed)
//   ZR_PAD_MODEL_UNUSABLE no runnable network, or one not of 190 inputs
//                      (checked before the block maps are allocated)
//   ZR_FAILURE and others: a stage failed (its error word's mapping)
[[nodiscard]] zr_status zr_pad_get_score(zr_pad* pad, zr_image* image, uint16_t* score);

// zr_pad_get_score that on success also hands out the 190 features (the
// caller frees them with free()) and their count. *count is set to 0 and
// *features to none first; all three outputs are required (ZR_BAD_ARGUMENT).
[[nodiscard]] zr_status zr_pad_get_score_ex(zr_pad* pad, zr_image* image, uint16_t* score,
                                            uint16_t* count, int32_t** features);

// Live or not at a security level 0..6. ZR_BAD_ARGUMENT without live
// output or for a level above 6 (nothing written); otherwise *live is set to
// 0 first, then ZR_BAD_ARGUMENT without detector or image. A scoring failure
// returns its code; then a model without threshold table gives
// ZR_PAD_MODEL_UNUSABLE. Otherwise *live = 1 when the level's threshold is
// at most the score (both unsigned 16-bit: a threshold above 1000 rejects
// every image) and the result is ZR_OK.
[[nodiscard]] zr_status zr_pad_get_decision(zr_pad* pad, zr_image* image, uint32_t level,
                                            uint32_t* live);

// The level's threshold; ZR_PAD_NO_THRESHOLD for a missing detector, a level
// above 6, a model not present or without threshold table.
[[nodiscard]] uint32_t zr_pad_get_liveness_threshold(const zr_pad* pad, uint32_t level);

// Result code of a liveness error word value (0 gives ZR_OK).
[[nodiscard]] zr_status zr_pad_status_of_error(uint32_t error_word);
