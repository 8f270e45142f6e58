// The main road's algorithm over real captures, shared by the tests and the
// benchmarks: the exported preset (gen_192x80_hybridhr_create) with the
// exported layer's edits (at most 6 captures and 20480 bytes, feature 0 on), every
// finger's enrolment captures (508 dpi) with their extracted templates, and
// its probes (500 dpi).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "fp_test_data.h"
#include "match/zr_algorithm.h"
#include "match/zr_presets.h"

namespace fp_test {

constexpr uint16_t kEnrolDpi = 508;
constexpr uint16_t kVerifyDpi = 500;
constexpr uint16_t kExportedMaxCaptures = 6;
constexpr uint32_t kExportedMaxTemplateSize = 20480;

inline zr_image* load_capture(const std::filesystem::path& path, uint16_t dpi) {
    const fp_test::GreyImage g = fp_test::read_pgm(path);
    return zr_image_create(uint16_t(g.rows), uint16_t(g.cols), dpi, dpi, g.pixels.data(), 0);
}

inline zr_algorithm* exported_preset_algorithm() {
    zr_algorithm* a = gen_192x80_hybridhr_create(nullptr);
    if (a == nullptr) return nullptr;
    zr_algorithm_config* config = zr_algorithm_get_config(a);
    config->max_captures = kExportedMaxCaptures;
    config->max_template_size = kExportedMaxTemplateSize;
    (void)zr_algorithm_set_feature_state(a, ZR_FEATURE_360, 1);
    return a;
}

struct PresetFinger {
    std::string name;
    std::vector<zr_image*> enrol;         // e1..e6
    std::vector<zr_image*> probes;        // p7, p8
    std::vector<zr_template*> templates;  // extracted from enrol, in order
};

// At most max_fingers fingers of the capture set, in manifest order.
struct PresetCaptures {
    zr_algorithm* algorithm = exported_preset_algorithm();
    std::vector<PresetFinger> fingers;

    explicit PresetCaptures(size_t max_fingers = SIZE_MAX) {
        for (const FingerCaptures& c : finger_captures()) {
            if (fingers.size() == max_fingers) break;
            PresetFinger& f = fingers.emplace_back(PresetFinger{c.name, {}, {}, {}});
            for (const auto& path : c.enrol) f.enrol.push_back(load_capture(path, kEnrolDpi));
            for (const auto& path : c.probes) f.probes.push_back(load_capture(path, kVerifyDpi));
        }
        for (PresetFinger& f : fingers)
            for (zr_image* image : f.enrol) {
                zr_template* t = nullptr;
                if (zr_algorithm_extract_template(algorithm, image, nullptr, &t) == ZR_OK) f.templates.push_back(t);
            }
    }
    ~PresetCaptures() {
        for (PresetFinger& f : fingers) {
            for (zr_image* i : f.enrol) zr_image_delete(i);
            for (zr_image* i : f.probes) zr_image_delete(i);
            for (zr_template* t : f.templates) zr_template_delete(t);
        }
        zr_algorithm_delete(algorithm);
    }
    PresetCaptures(const PresetCaptures&) = delete;
    PresetCaptures& operator=(const PresetCaptures&) = delete;

    // The finger's multi-template from its enrolment templates; none on failure.
    zr_template* create(const PresetFinger& f) const {
        zr_template* out = nullptr;
        if (zr_algorithm_create_multitemplate(algorithm, f.templates.data(), uint8_t(f.templates.size()), &out) !=
            ZR_OK)
            return nullptr;
        return out;
    }
};

inline uint32_t verify_at(zr_algorithm* a, zr_template* stored, zr_image* image, uint32_t far_level,
                          zr_status* rc = nullptr) {
    uint32_t decision = 0;
    const zr_status r =
        zr_algorithm_verify_image(a, &stored, 1, image, far_level, &decision, nullptr, nullptr, nullptr, nullptr);
    if (rc) *rc = r;
    return decision;
}

}  // namespace fp_test
