// The main road's algorithm over real captures, shared by the tests and the
// benchmarks: an algorithm built like the exported preset's (embedded
// extractor and vandrel, then EHM-HR on 24 subtemplates, the H80 models,
// features 0 to 2 on) and stored multi-templates of enrolment captures.
#pragma once

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "fp_test_data.h"
#include "match/zr_algorithm.h"
#include "match/zr_embedded_extractor.h"
#include "match/zr_multitemplate_manager.h"
#include "match/zr_vermodels.h"

namespace fp_test {

constexpr uint16_t kEnrolDpi = 508;
constexpr uint16_t kVerifyDpi = 500;

struct AlgorithmFinger {
    std::string name;
    std::vector<zr_image*> enrol;   // e1..e6
    std::vector<zr_image*> probes;  // p7, p8
    zr_template* stored = nullptr;
};

inline zr_image* load_capture(const std::filesystem::path& path, uint16_t dpi) {
    const fp_test::GreyImage g = fp_test::read_pgm(path);
    return zr_image_create(uint16_t(g.rows), uint16_t(g.cols), dpi, dpi, g.pixels.data(), 0);
}

inline zr_algorithm* main_road_algorithm() {
    zr_algorithm_chain* chain = zr_algorithm_chain_create();
    zr_algorithm_link* first = zr_algorithm_link_create(&embedded_extractor, 74, nullptr, &vandrel_verifier, 0, 0);
    zr_algorithm_link_set_flag(first, ZR_LINK_DROP_SCORES);
    zr_algorithm_link* second = zr_algorithm_link_create(nullptr, 74, nullptr, &ehmhr_verifier, 0, 0);
    zr_algorithm_link_set_nbr_of_subtemplates(second, 24);
    zr_algorithm_chain_append_link(chain, first);
    zr_algorithm_chain_append_link(chain, second);
    zr_algorithm_config config;
    zr_algorithm_default_config(&config);
    config.max_templates = 64;
    config.max_captures = 24;
    config.preset_value_a = 70;
    config.preset_value_b = 81;
    config.preset_value_c = 20;
    const uint32_t on[] = {0, 1, 2};
    const uint32_t mut[] = {0, 2};
    zr_algorithm* a = zr_algorithm_create(nullptr, chain, 74, 1, 8, on, 3, mut, 2, &config);
    if (a == nullptr) {
        zr_algorithm_chain_delete(chain);
        return nullptr;
    }
    zr_algorithm_set_simple_extractor(a);
    zr_algorithm_set_vermodels(a, zr_vermodels_h80);
    return a;
}

// The enrolment captures' templates as the instances of one stored
// multi-template (each enrolled with zero alignment).
inline zr_template* stored_multitemplate(zr_algorithm* a, const std::vector<zr_image*>& images) {
    zr_multitemplate_manager* m = zr_multitemplate_manager_create(zr_algorithm_get_config(a)->max_templates);
    for (zr_image* image : images) {
        zr_template* t = nullptr;
        if (zr_algorithm_extract_template(a, image, nullptr, &t) != ZR_OK) continue;
        (void)zr_multitemplate_add_instance_no_tag(m->mt, t, nullptr);
        zr_template_delete(t);
    }
    zr_template* out = nullptr;
    (void)zr_multitemplate_manager_encode(m, 0, &out);
    zr_multitemplate_manager_delete(m);
    return out;
}

// Every finger of the capture set with its stored multi-template.
struct AlgorithmCaptures {
    zr_algorithm* algorithm = main_road_algorithm();
    std::vector<AlgorithmFinger> fingers;

    AlgorithmCaptures() {
        std::map<std::string, size_t> index;
        std::ifstream manifest(fp_test::captures_dir() / "manifest.tsv");
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
                index[name] = fingers.size();
                fingers.push_back(AlgorithmFinger{name, {}, {}, nullptr});
            }
            AlgorithmFinger& f = fingers[index[name]];
            const auto path = fp_test::captures_dir() / file;
            if (role == "enrol") f.enrol.push_back(load_capture(path, kEnrolDpi));
            else f.probes.push_back(load_capture(path, kVerifyDpi));
        }
        for (AlgorithmFinger& f : fingers) f.stored = stored_multitemplate(algorithm, f.enrol);
    }
    ~AlgorithmCaptures() {
        for (AlgorithmFinger& f : fingers) {
            for (zr_image* i : f.enrol) zr_image_delete(i);
            for (zr_image* i : f.probes) zr_image_delete(i);
            zr_template_delete(f.stored);
        }
        zr_algorithm_delete(algorithm);
    }
    AlgorithmCaptures(const AlgorithmCaptures&) = delete;
    AlgorithmCaptures& operator=(const AlgorithmCaptures&) = delete;
};

}  // namespace fp_test
