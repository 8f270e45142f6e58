// Real captures through the exported preset's algorithm: the 192x80
// hybridhr preset with the exported layer's edits (maximum template size
// 20480, feature 0 on), every finger's enrolment captures (508 dpi) with
// their extracted templates, and its probes (500 dpi).
#pragma once

#include <cstdint>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "algorithm_main_road.h"
#include "fp_test_data.h"
#include "match/zr_algorithm.h"
#include "match/zr_presets.h"

namespace fp_test {

constexpr uint32_t kExportedMaxTemplateSize = 20480;

inline zr_algorithm* exported_preset_algorithm() {
    zr_algorithm* a = gen_192x80_hybridhr_create(nullptr);
    if (a == nullptr) return nullptr;
    zr_algorithm_get_config(a)->max_template_size = kExportedMaxTemplateSize;
    (void)zr_algorithm_set_feature_state(a, ZR_FEATURE_360, 1);
    return a;
}

struct PresetFinger {
    std::string name;
    std::vector<zr_image*> enrol;        // e1..e6
    std::vector<zr_image*> probes;       // p7, p8
    std::vector<zr_template*> templates;  // extracted from enrol, in order
};

// At most max_fingers fingers, in manifest order.
struct PresetCaptures {
    zr_algorithm* algorithm = exported_preset_algorithm();
    std::vector<PresetFinger> fingers;

    explicit PresetCaptures(size_t max_fingers = SIZE_MAX) {
        std::map<std::string, size_t> index;
        std::ifstream manifest(captures_dir() / "manifest.tsv");
        std::string line;
        std::getline(manifest, line);
        while (std::getline(manifest, line)) {
            std::istringstream fields(line);
            std::string db, finger, file, role;
            std::getline(fields, db, '\t');
            std::getline(fields, finger, '\t');
            std::getline(fields, file, '\t');
            std::getline(fields, role, '\t');
            const std::string name = db + "/" + finger;
            if (index.count(name) == 0) {
                if (fingers.size() == max_fingers) break;
                index[name] = fingers.size();
                fingers.push_back(PresetFinger{name, {}, {}, {}});
            }
            PresetFinger& f = fingers[index[name]];
            const auto path = captures_dir() / file;
            if (role == "enrol") f.enrol.push_back(load_capture(path, kEnrolDpi));
            else f.probes.push_back(load_capture(path, kVerifyDpi));
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

    // The finger's multi-template from its enrolment templates.
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
