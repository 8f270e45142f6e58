// Verification, image quality, the version text and the calls that do
// nothing. Every object lives within one call but one: verification keeps
// the probe of its most recent sample (radu_probe_memo.h, under its own
// lock), so that the same sample verified against one stored template after
// another is extracted once. These calls may run from any thread at any time.
#include "api/fpmatch.h"
#include "api/fpmatch_export.h"
#include "api/radu_probe_memo.h"
#include "api/radu_sample.h"
#include "match/zr_algorithm.h"
#include "match/zr_presets.h"
#include "match/verify/zr_verify_chain.h"
#include "objects/zr_image.h"
#include "objects/zr_quality.h"
#include "objects/zr_template.h"
#include "objects/zr_template_convert.h"

namespace {

// Verification samples are taken as 500 dpi images; so is the quality check.
constexpr uint16_t kVerifyDpi = 500;
// FAR level 12: one false accept in 10000.
constexpr uint32_t kVerifyFarLevel = 12;

constexpr char kVersion[] = "ZR";

int32_t negated(zr_status rc) { return -static_cast<int32_t>(rc); }

int32_t answer(zr_status rc, uint32_t decision) {
    if (rc != ZR_OK) return negated(rc);
    return decision == 1 ? RADU_VERIFY_MATCH : RADU_VERIFY_NO_MATCH;
}

// The whole road over the call's own algorithm, template and image: the walk
// extracts the probe from the image itself.
int32_t verify_image(zr_algorithm* algorithm, zr_template* stored, zr_image* image) {
    zr_template* const list[2] = {stored, nullptr};
    uint32_t decision = 0;
    zr_template* updated = nullptr;
    const zr_status rc = zr_algorithm_verify_image(algorithm, list, 1, image, kVerifyFarLevel, &decision, nullptr,
                                                   nullptr, nullptr, &updated);
    // The dynamic update is never written back.
    zr_template_delete(updated);
    return answer(rc, decision);
}

// The same walk from a probe extracted before.
int32_t verify_probe(zr_algorithm* algorithm, zr_template* stored, zr_template* probe) {
    zr_template* const list[2] = {stored, nullptr};
    uint32_t decision = 0;
    const zr_status rc =
        zr_algorithm_verify_templates(algorithm, list, 1, probe, kVerifyFarLevel, &decision, nullptr, nullptr, nullptr);
    return answer(rc, decision);
}

// True when a walk from the probe compares exactly as a walk from the image:
// the default chain match without image split, and no link after the first
// that would extract something the probe lacks (a walk from a probe extracts
// nothing).
bool probe_walk_matches_image_walk(const zr_algorithm* algorithm, const zr_template* probe) {
    if (algorithm->get_chain_match != default_get_chain_match || algorithm->config.image_split.grid_rows != 0)
        return false;
    const zr_algorithm_link* first = zr_algorithm_chain_get_first_link(algorithm->chain);
    for (const zr_algorithm_link* link = first->next; link != nullptr; link = link->next) {
        const bool extracts = link->extractor != nullptr && link->extractor->extract_template != nullptr;
        if (extracts && !zr_template_is_compatible(probe, link->template_type)) return false;
    }
    return true;
}

// The probe as the walk's first link extracts it from the image (the image
// prepared as the walk prepares it); none when extraction fails or when a
// walk from it would not compare as the walk from the image.
zr_template* extract_probe(zr_algorithm* algorithm, zr_image* image) {
    const zr_algorithm_link* first = zr_algorithm_chain_get_first_link(algorithm->chain);
    if (first == nullptr) return nullptr;
    zr_image* prepared = nullptr;
    if (prepare_image_for_extraction(algorithm, image, &prepared) != ZR_OK) return nullptr;
    zr_template* probe = nullptr;
    const zr_status rc = zr_algorithm_helper_extract_link(algorithm->session, first, algorithm->chain, prepared,
                                                          ZR_FINGER_ANONYMOUS, &probe);
    zr_image_delete(prepared);
    if (rc != ZR_OK || probe == nullptr || !probe_walk_matches_image_walk(algorithm, probe)) {
        zr_template_delete(probe);
        return nullptr;
    }
    return probe;
}

// The sample's probe: the memo's when it holds this sample, else extracted
// (and then kept); none when the sample must take the whole road. A sample
// whose extraction fails is never kept, so the whole road repeats its
// failure exactly. The probe is kept under the bytes it was extracted from,
// the call's own copy: the caller's buffer may have changed meanwhile.
zr_template* probe_of(zr_algorithm* algorithm, const uint8_t* sample, zr_image** inout_image) {
    zr_template* probe = radu_probe_memo_find(sample);
    if (probe != nullptr) return probe;
    *inout_image = radu_wrap_sample_copy(sample, kVerifyDpi);
    if (*inout_image == nullptr) return nullptr;
    probe = extract_probe(algorithm, *inout_image);
    if (probe != nullptr) radu_probe_memo_keep(zr_image_get_pixels(*inout_image), probe);
    return probe;
}

int32_t verify_sample(zr_algorithm* algorithm, zr_template* stored, const uint8_t* sample) {
    zr_image* image = nullptr;
    zr_template* probe = probe_of(algorithm, sample, &image);
    int32_t result = negated(ZR_NO_MEMORY);
    if (probe != nullptr) result = verify_probe(algorithm, stored, probe);
    else if (image != nullptr) result = verify_image(algorithm, stored, image);
    zr_template_delete(probe);
    zr_image_delete(image);
    return result;
}

}  // namespace

FPMATCH_EXPORT int32_t RADU_alg_request_verify(const uint8_t* sample, const uint8_t* template_bytes,
                                               uint32_t template_size) {
    if (sample == nullptr || template_bytes == nullptr || template_size == 0) return negated(ZR_BAD_ARGUMENT);
    zr_algorithm* algorithm = gen_192x80_hybridhr_create(nullptr);
    if (algorithm == nullptr) return negated(ZR_NO_MEMORY);
    zr_template* stored = zr_template_create(ZR_TEMPLATE_MULTI, template_bytes, template_size);
    const int32_t result = stored != nullptr ? verify_sample(algorithm, stored, sample) : negated(ZR_NO_MEMORY);
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
