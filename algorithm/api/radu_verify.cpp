// The stateless side of the exported interface: verification, image quality,
// the version text and the calls that do nothing. Every object lives within
// one call, so these may run from any thread at any time.
#include "api/fpmatch.h"
#include "api/fpmatch_export.h"
#include "api/radu_sample.h"
#include "match/zr_algorithm.h"
#include "match/zr_presets.h"
#include "objects/zr_image.h"
#include "objects/zr_quality.h"
#include "objects/zr_template.h"

namespace {

// Verification samples are taken as 500 dpi images; so is the quality check.
constexpr uint16_t kVerifyDpi = 500;
// FAR level 12: one false accept in 10000.
constexpr uint32_t kVerifyFarLevel = 12;

constexpr char kVersion[] = "ZR";

int32_t negated(zr_status rc) { return -static_cast<int32_t>(rc); }

// The verification proper over the call's own algorithm, template and image.
int32_t verify(zr_algorithm* algorithm, zr_template* stored, zr_image* image) {
    zr_template* const list[2] = {stored, nullptr};
    uint32_t decision = 0;
    zr_template* updated = nullptr;
    const zr_status rc = zr_algorithm_verify_image(algorithm, list, 1, image, kVerifyFarLevel, &decision, nullptr,
                                                   nullptr, nullptr, &updated);
    // The dynamic update is never written back.
    zr_template_delete(updated);
    if (rc != ZR_OK) return negated(rc);
    return decision == 1 ? RADU_VERIFY_MATCH : RADU_VERIFY_NO_MATCH;
}

}  // namespace

FPMATCH_EXPORT int32_t RADU_alg_request_verify(const uint8_t* sample, const uint8_t* template_bytes,
                                               uint32_t template_size) {
    if (sample == nullptr || template_bytes == nullptr || template_size == 0) return negated(ZR_BAD_ARGUMENT);
    zr_algorithm* algorithm = gen_192x80_hybridhr_create(nullptr);
    if (algorithm == nullptr) return negated(ZR_NO_MEMORY);
    zr_template* stored = zr_template_create(ZR_TEMPLATE_MULTI, template_bytes, template_size);
    zr_image* image = stored != nullptr ? radu_wrap_sample_copy(sample, kVerifyDpi) : nullptr;
    const int32_t result = image != nullptr ? verify(algorithm, stored, image) : negated(ZR_NO_MEMORY);
    zr_image_delete(image);
    zr_template_delete(stored);
    zr_algorithm_delete(algorithm);
    return result;
}

FPMATCH_EXPORT int32_t RADU_image_quality(const uint8_t* sample) {
    if (sample == nullptr) return 0;
    // Read in place: the measure does not write the pixels.
    zr_image* image = zr_image_create_mr(RADU_SAMPLE_ROWS, RADU_SAMPLE_COLS, kVerifyDpi, kVerifyDpi,
                                         const_cast<uint8_t*>(sample), 0);
    if (image == nullptr) return 0;
    zr_quality* quality = nullptr;
    const zr_status rc = zr_compute_quality_500(nullptr, image, &quality);
    const int32_t value = rc == ZR_OK && quality != nullptr ? zr_quality_get_image_quality(quality) : 0;
    zr_quality_delete(quality);
    zr_image_delete(image);
    return value;
}

FPMATCH_EXPORT const char* RADU_alg_get_version(void) { return kVersion; }

FPMATCH_EXPORT int32_t RADU_alg_load_template(uint32_t, const uint8_t*, uint32_t) { return 0; }

namespace {
// The one body the three unused calls share.
int32_t do_nothing(uint32_t) { return 0; }
}  // namespace

FPMATCH_EXPORT int32_t RADU_alg_cancel_enroll(uint32_t n) { return do_nothing(n); }
FPMATCH_EXPORT int32_t RADU_alg_is_enrolled(uint32_t n) { return do_nothing(n); }
FPMATCH_EXPORT int32_t RADU_alg_remove_fingerprint(uint32_t n) { return do_nothing(n); }
