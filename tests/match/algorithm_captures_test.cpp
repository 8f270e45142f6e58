// The main road on real captures: an algorithm built like the exported
// preset's (embedded extractor and vandrel, then EHM-HR on 24 subtemplates,
// the H80 models, features 0 to 2 on), a stored multi-template of each
// finger's six enrolment captures, and verification of images at FAR level
// 12 through zr_algorithm_verify_image.
#include <gtest/gtest.h>

#include <cstdio>
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

namespace {

constexpr uint32_t kFarLevel = 12;
constexpr uint16_t kEnrolDpi = 508;
constexpr uint16_t kVerifyDpi = 500;

struct Finger {
    std::string name;
    std::vector<zr_image*> enrol;   // e1..e6
    std::vector<zr_image*> probes;  // p7, p8
    zr_template* stored = nullptr;
};

zr_image* load(const std::filesystem::path& path, uint16_t dpi) {
    const fp_test::GreyImage g = fp_test::read_pgm(path);
    return zr_image_create(uint16_t(g.rows), uint16_t(g.cols), dpi, dpi, g.pixels.data(), 0);
}

zr_algorithm* main_road_algorithm() {
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
zr_template* stored_multitemplate(zr_algorithm* a, const std::vector<zr_image*>& images) {
    zr_multitemplate_manager* m = zr_multitemplate_manager_create(zr_algorithm_get_config(a)->max_templates);
    for (zr_image* image : images) {
        zr_template* t = nullptr;
        EXPECT_EQ(ZR_OK, zr_algorithm_extract_template(a, image, nullptr, &t));
        if (t != nullptr) {
            EXPECT_EQ(ZR_OK, zr_multitemplate_add_instance_no_tag(m->mt, t, nullptr));
        }
        zr_template_delete(t);
    }
    zr_template* out = nullptr;
    EXPECT_EQ(ZR_OK, zr_multitemplate_manager_encode(m, 0, &out));
    zr_multitemplate_manager_delete(m);
    return out;
}

struct Captures {
    zr_algorithm* algorithm = main_road_algorithm();
    std::vector<Finger> fingers;

    Captures() {
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
                fingers.push_back(Finger{name, {}, {}, nullptr});
            }
            Finger& f = fingers[index[name]];
            const auto path = fp_test::captures_dir() / file;
            if (role == "enrol") f.enrol.push_back(load(path, kEnrolDpi));
            else f.probes.push_back(load(path, kVerifyDpi));
        }
        for (Finger& f : fingers) f.stored = stored_multitemplate(algorithm, f.enrol);
    }
    ~Captures() {
        for (Finger& f : fingers) {
            for (zr_image* i : f.enrol) zr_image_delete(i);
            for (zr_image* i : f.probes) zr_image_delete(i);
            zr_template_delete(f.stored);
        }
        zr_algorithm_delete(algorithm);
    }
};

uint32_t verify(zr_algorithm* a, zr_template* stored, zr_image* image) {
    uint32_t decision = 0;
    EXPECT_EQ(ZR_OK, zr_algorithm_verify_image(a, &stored, 1, image, kFarLevel, &decision, nullptr, nullptr, nullptr,
                                               nullptr));
    return decision;
}

TEST(AlgorithmCaptures, EnrolmentCapturesVerifyAndProbeDecisions) {
    FP_REQUIRE_CAPTURES();
    static Captures data;
    ASSERT_NE(nullptr, data.algorithm);
    ASSERT_GE(data.fingers.size(), 2u);
    uint32_t genuine = 0, genuine_accepts = 0, impostor = 0, impostor_accepts = 0;
    for (size_t i = 0; i < data.fingers.size(); ++i) {
        const Finger& f = data.fingers[i];
        ASSERT_NE(nullptr, f.stored) << f.name;
        for (size_t e = 0; e < f.enrol.size(); ++e)
            EXPECT_EQ(1u, verify(data.algorithm, f.stored, f.enrol[e])) << f.name << " e" << e + 1;
        std::printf("%-16s genuine", f.name.c_str());
        for (zr_image* p : f.probes) {
            const uint32_t d = verify(data.algorithm, f.stored, p);
            std::printf(" %u", d);
            ++genuine;
            genuine_accepts += d;
        }
        const Finger& other = data.fingers[(i + 1) % data.fingers.size()];
        std::printf("   impostor vs %-16s", other.name.c_str());
        for (zr_image* p : f.probes) {
            const uint32_t d = verify(data.algorithm, other.stored, p);
            std::printf(" %u", d);
            ++impostor;
            impostor_accepts += d;
        }
        std::printf("\n");
    }
    std::printf("probes p7, p8 at level 12: genuine %u of %u accepted, impostor %u of %u accepted\n", genuine_accepts,
                genuine, impostor_accepts, impostor);
}

}  // namespace
