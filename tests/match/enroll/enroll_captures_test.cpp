// Enrolment on real captures as the exported interface runs it: the 192x80
// hybridhr preset, images at 508 dpi, at most 6 captures, templates of at
// most 20480 bytes.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "fp_test_data.h"
#include "match/multitemplate/zr_multitemplate.h"
#include "match/enroll/zr_multitemplate_enroll.h"
#include "match/zr_presets.h"

namespace {

constexpr uint16_t kDpi = 508;
constexpr uint16_t kCaptures = 6;
constexpr uint32_t kSizeLimit = 20480;

struct tally {
    int duplicates = 0;
    int not_moved = 0;
    uint8_t islands = 0;
};
tally g_tally;

uint32_t count_feedback(zr_session*, uint32_t code, void*) {
    if (code == ZR_ENROLL_FEEDBACK_DUPLICATE) ++g_tally.duplicates;
    if (code == ZR_ENROLL_FEEDBACK_NOT_MOVED) ++g_tally.not_moved;
    return 0;
}
uint32_t count_islands(zr_session*, zr_enroll_island*, uint8_t count) {
    g_tally.islands = count;
    return 1;
}
const zr_enroll_callbacks kCallbacks = {count_feedback, count_islands, nullptr, nullptr,
                                        nullptr,        nullptr,       nullptr, nullptr};

zr_algorithm* exported_algorithm(zr_algorithm* (*preset)(zr_session*)) {
    zr_algorithm* a = preset(nullptr);
    if (a == nullptr) return nullptr;
    zr_algorithm_config* c = zr_algorithm_get_config(a);
    c->max_captures = kCaptures;
    c->max_template_size = kSizeLimit;
    return a;
}

zr_image* sensor_image(const fp_test::GreyImage& g) {
    return zr_image_create(uint16_t(g.rows), uint16_t(g.cols), kDpi, kDpi, g.pixels.data(), 0);
}

std::vector<std::filesystem::path> finger_dirs() {
    std::vector<std::filesystem::path> dirs;
    for (const char* db : {"fvc2002_db1", "fvc2000_db1"})
        for (int f = 101; f <= 110; ++f) {
            auto dir = fp_test::captures_dir() / db / std::to_string(f);
            if (std::filesystem::exists(dir / "e1.pgm")) dirs.push_back(dir);
        }
    return dirs;
}

uint32_t instances_of(zr_template* t) {
    zr_multitemplate* mt = nullptr;
    if (zr_multitemplate_decode(t, &mt) != ZR_OK) return 0;
    uint32_t n = zr_multitemplate_get_nbr_of_instances(mt);
    zr_multitemplate_delete(mt);
    return n;
}

TEST(EnrollCaptures, EveryFingerEnrolsFromSixCaptures) {
    FP_REQUIRE_CAPTURES();
    const auto dirs = finger_dirs();
    ASSERT_FALSE(dirs.empty());
    for (const auto& dir : dirs) {
        SCOPED_TRACE(dir.string());
        g_tally = tally{};
        zr_algorithm* a = exported_algorithm(gen_192x80_hybridhr_create);
        ASSERT_NE(nullptr, a);
        zr_multitemplate_enroll* e = zr_multitemplate_enroll_create_algorithm(a, nullptr, &kCallbacks, nullptr);
        ASSERT_NE(nullptr, e);
        uint8_t coverage = 0;
        for (int i = 1; i <= kCaptures; ++i) {
            fp_test::GreyImage g = fp_test::read_pgm(dir / ("e" + std::to_string(i) + ".pgm"));
            ASSERT_EQ(fp_test::kSensorRows, g.rows);
            zr_image* img = sensor_image(g);
            EXPECT_EQ(ZR_OK, zr_multitemplate_enroll_run(e, img, nullptr, &coverage)) << "capture " << i;
            zr_image_delete(img);
        }
        zr_template* out = nullptr;
        ASSERT_EQ(ZR_OK, zr_multitemplate_enroll_finalize_template_algorithm(a, e, &out));
        ASSERT_NE(nullptr, out);
        EXPECT_EQ(80u, zr_template_get_type(out));
        EXPECT_LE(zr_template_get_data_size(out), kSizeLimit);
        const uint32_t stored = instances_of(out);
        EXPECT_GE(stored, 1u);
        std::printf("%s/%s: accepted %u, duplicates %d, islands %u, coverage %u%%, stored %u, %u bytes\n",
                    dir.parent_path().filename().c_str(), dir.filename().c_str(),
                    unsigned(zr_multitemplate_enroll_get_nbr_of_captures(e)), g_tally.duplicates,
                    unsigned(g_tally.islands), unsigned(coverage), stored, zr_template_get_data_size(out));
        zr_template_delete(out);
        zr_multitemplate_enroll_delete(e);
        zr_algorithm_delete(a);
    }
}

TEST(EnrollCaptures, SixCopiesOfOneCaptureEnrolOnce) {
    FP_REQUIRE_CAPTURES();
    g_tally = tally{};
    const auto dirs = finger_dirs();
    ASSERT_FALSE(dirs.empty());
    fp_test::GreyImage g = fp_test::read_pgm(dirs[0] / "e1.pgm");
    zr_algorithm* a = exported_algorithm(gen_192x80_hybridhr_create);
    zr_multitemplate_enroll* e = zr_multitemplate_enroll_create_algorithm(a, nullptr, &kCallbacks, nullptr);
    ASSERT_NE(nullptr, e);
    for (int i = 0; i < kCaptures; ++i) {
        zr_image* img = sensor_image(g);
        EXPECT_EQ(ZR_OK, zr_multitemplate_enroll_run(e, img, nullptr, nullptr));
        zr_image_delete(img);
    }
    EXPECT_EQ(5, g_tally.not_moved);
    EXPECT_EQ(5, g_tally.duplicates);
    EXPECT_EQ(1, zr_multitemplate_enroll_get_nbr_of_captures(e));
    zr_template* out = nullptr;
    ASSERT_EQ(ZR_OK, zr_multitemplate_enroll_finalize_template_algorithm(a, e, &out));
    EXPECT_EQ(1u, instances_of(out));
    zr_template_delete(out);
    zr_multitemplate_enroll_delete(e);
    zr_algorithm_delete(a);
}

TEST(EnrollCaptures, PresetWithoutModelsStopsAtTheSecondCapture) {
    FP_REQUIRE_CAPTURES();
    const auto dirs = finger_dirs();
    ASSERT_FALSE(dirs.empty());
    // Without a model for the EHM link no comparison can reach a decision.
    static const zr_vermodel* const no_models[] = {nullptr};
    zr_algorithm* a = exported_algorithm(gen_192x80_hybrid_create);
    ASSERT_NE(nullptr, a);
    zr_algorithm_set_vermodels(a, no_models);
    zr_multitemplate_enroll* e = zr_multitemplate_enroll_create_algorithm(a, nullptr, &kCallbacks, nullptr);
    ASSERT_NE(nullptr, e);
    const zr_status expected[] = {ZR_OK, ZR_NO_MODEL_OPERATION};
    for (int i = 0; i < 2; ++i) {
        fp_test::GreyImage g = fp_test::read_pgm(dirs[0] / ("e" + std::to_string(i + 1) + ".pgm"));
        zr_image* img = sensor_image(g);
        EXPECT_EQ(expected[i], zr_multitemplate_enroll_run(e, img, nullptr, nullptr)) << i;
        zr_image_delete(img);
    }
    EXPECT_EQ(1, zr_multitemplate_enroll_get_nbr_of_captures(e));

    // Verification against a stored template of that one capture never accepts.
    zr_template* stored = nullptr;
    ASSERT_EQ(ZR_OK, zr_multitemplate_enroll_finalize_template_algorithm(a, e, &stored));
    fp_test::GreyImage g = fp_test::read_pgm(dirs[0] / "e1.pgm");
    zr_image* probe = sensor_image(g);
    uint32_t decision = 7;
    zr_status rc = zr_algorithm_verify_image(a, &stored, 1, probe, 12, &decision, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(ZR_NO_MODEL_OPERATION, rc);
    EXPECT_NE(1u, decision);
    zr_image_delete(probe);
    zr_template_delete(stored);
    zr_multitemplate_enroll_delete(e);
    zr_algorithm_delete(a);
}

}  // namespace
