// Caller bytes as a stored template, as the exported verification receives
// them: copied into a type-80 template and verified at level 12 against a
// probe extracted once from a synthetic ridge image, through the same preset
// (the manager's reader with its settings item, the instance readers and the
// verifiers). Nothing may be read outside the input; a verification either
// fails or decides 0 or 1. The manager made directly from the bytes is asked
// for each template it counts (the count includes excluded instances, which
// it does not hand out).
#include <cstdint>
#include <vector>

#include "fuzz_support.h"
#include "match/zr_algorithm.h"
#include "match/multitemplate/zr_multitemplate_manager.h"
#include "match/zr_presets.h"
#include "objects/zr_alignment.h"
#include "objects/zr_image.h"
#include "objects/zr_template.h"

namespace {

constexpr uint16_t kRows = 176;
constexpr uint16_t kCols = 96;
constexpr uint16_t kDpi = 500;
constexpr uint32_t kFarLevel = 12;

struct Fixture {
    zr_algorithm* algorithm = nullptr;
    zr_template* probe = nullptr;
    Fixture() {
        algorithm = gen_192x80_hybridhr_create(nullptr);
        FUZZ_CHECK(algorithm != nullptr);
        const std::vector<uint8_t> px = fuzz::ridge_frame(kRows, kCols);
        zr_image* image = zr_image_create(kRows, kCols, kDpi, kDpi, px.data(), 0);
        FUZZ_CHECK(image != nullptr);
        FUZZ_CHECK(zr_algorithm_extract_template(algorithm, image, nullptr, &probe) == ZR_OK);
        zr_image_delete(image);
    }
};

void walk_manager(zr_template* stored) {
    zr_multitemplate_manager* manager = zr_multitemplate_manager_create_with_template(stored);
    if (manager == nullptr) return;
    const uint32_t n = zr_multitemplate_manager_get_nbr_of_templates(manager);
    for (uint32_t i = 0; i < n; ++i) {
        zr_alignment* alignment = nullptr;
        uint8_t image_class = 0;
        zr_template* t = zr_multitemplate_manager_get_template(manager, i, &alignment, &image_class);
        FUZZ_CHECK(t != nullptr || alignment == nullptr);
        zr_template_delete(t);
        zr_alignment_delete(alignment);
    }
    zr_multitemplate_manager_delete(manager);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Fixture fixture;
    if (size == 0) return 0;
    const fuzz::ExactCopy input(data, size);
    zr_template* stored = zr_template_create(ZR_TEMPLATE_MULTI, input.data(), input.size());
    FUZZ_CHECK(stored != nullptr);
    walk_manager(stored);
    zr_template* const list[1] = {stored};
    uint32_t decision = 7;
    const zr_status rc = zr_algorithm_verify_templates(fixture.algorithm, list, 1, fixture.probe, kFarLevel,
                                                       &decision, nullptr, nullptr, nullptr);
    FUZZ_CHECK(rc != ZR_OK || decision <= 1);
    zr_template_delete(stored);
    return 0;
}
