// Every preset on real finger windows of its own sensor: six captures enrol
// and probes verify without an error. The windows are cut from the whole
// impressions of the shared capture set (ssb-dev/<db>/full), at the sensor's
// geometry and resolution, around the finger's centre.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "fp_sensor_windows.h"
#include "fp_test_data.h"
#include "match/enroll/zr_multitemplate_enroll.h"
#include "fp_named_presets.h"
#include "match/zr_presets.h"

namespace {


constexpr const char* kDatabase = "fvc2002_db1";
constexpr int kFinger = 101;
constexpr int kOtherFinger = 102;
constexpr int kCaptures = 6;
constexpr int kProbeImpression = 7;
constexpr uint32_t kFarLevel = 12;
constexpr uint32_t kTemplateBytes = 20480;
constexpr int kJitterDivisor = 6;

fp_test::GreyImage full_impression(int finger, int impression) {
    return fp_test::read_pgm(fp_test::captures_dir() / kDatabase / "full" /
                             (std::to_string(finger) + "_" + std::to_string(impression) + ".pgm"));
}

std::vector<uint8_t> window(int finger, int impression, const fp_test::SensorGeometry& g) {
    const fp_test::GreyImage img = full_impression(finger, impression);
    if (img.pixels.empty()) return {};
    return fp_test::jittered_window(img, fp_test::find_foreground(img), g,
                                    std::to_string(finger) + "/" + std::to_string(impression) + "/" + g.name,
                                    kJitterDivisor);
}

zr_image* image_of(const std::vector<uint8_t>& w, const fp_test::SensorGeometry& g) {
    return zr_image_create(g.rows, g.cols, g.dpi, g.dpi, w.data(), 0);
}

// The capture count and template size the exported layer sets.
zr_algorithm* configured(const fp_named_preset& p) {
    zr_algorithm* a = p.create(nullptr);
    if (a == nullptr) return nullptr;
    zr_algorithm_get_config(a)->max_captures = kCaptures;
    zr_algorithm_get_config(a)->max_template_size = kTemplateBytes;
    return a;
}

TEST(PresetCaptures, EveryPresetEnrolsSixCapturesAndVerifies) {
    FP_REQUIRE_CAPTURES();
    if (full_impression(kFinger, 1).pixels.empty())
        GTEST_SKIP() << "whole impressions not found under " << fp_test::captures_dir() / kDatabase / "full";
    int genuine_accepted = 0, impostor_accepted = 0;
    for (const fp_named_preset& p : kFpNamedPresets) {
        SCOPED_TRACE(p.name);
        const fp_test::SensorGeometry* g = fp_test::sensor_geometry(p.name);
        ASSERT_NE(nullptr, g);
        zr_algorithm* a = configured(p);
        ASSERT_NE(nullptr, a);
        zr_multitemplate_enroll* e = zr_multitemplate_enroll_create_algorithm(a, nullptr, nullptr, nullptr);
        ASSERT_NE(nullptr, e);
        for (int i = 1; i <= kCaptures; ++i) {
            const std::vector<uint8_t> w = window(kFinger, i, *g);
            ASSERT_FALSE(w.empty());
            zr_image* img = image_of(w, *g);
            const zr_status status = zr_multitemplate_enroll_run(e, img, nullptr, nullptr);
            EXPECT_TRUE(status == ZR_OK || (i == kCaptures && status == ZR_ENROLL_COMPLETE))
                << "capture " << i << ": " << status;
            zr_image_delete(img);
        }
        const uint16_t accepted = zr_multitemplate_enroll_get_nbr_of_captures(e);
        EXPECT_GE(accepted, 2) << "a second capture was accepted";
        zr_template* stored = nullptr;
        ASSERT_EQ(ZR_OK, zr_multitemplate_enroll_finalize_template_algorithm(a, e, &stored));
        ASSERT_NE(nullptr, stored);

        uint32_t decisions[2] = {};
        const int probe_fingers[2] = {kFinger, kOtherFinger};
        for (int k = 0; k < 2; ++k) {
            const std::vector<uint8_t> w = window(probe_fingers[k], kProbeImpression, *g);
            zr_image* probe = image_of(w, *g);
            EXPECT_EQ(ZR_OK, zr_algorithm_verify_image(a, &stored, 1, probe, kFarLevel, &decisions[k], nullptr,
                                                       nullptr, nullptr, nullptr));
            zr_image_delete(probe);
        }
        genuine_accepted += decisions[0] == 1;
        impostor_accepted += decisions[1] == 1;
        std::printf("%-46s %3ux%-3u %u dpi: %u captures accepted, genuine %s, impostor %s\n", p.name,
                    unsigned(g->rows), unsigned(g->cols), unsigned(g->dpi), unsigned(accepted),
                    decisions[0] ? "accepted" : "rejected", decisions[1] ? "accepted" : "rejected");
        zr_template_delete(stored);
        zr_multitemplate_enroll_delete(e);
        zr_algorithm_delete(a);
    }
    std::printf("genuine accepted by %d of 49 presets, impostor by %d\n", genuine_accepted, impostor_accepted);
}

}  // namespace
