// The synthetic capture generator: its images are deterministic, look like
// fingerprints (dark ridges on a light background, a ridge period near 9
// pixels measured by a floating-point DFT), pass the quality gate and enrol
// through the algorithm as the exported interface runs it; genuine and
// impostor verifications are counted and printed. Its full impressions hold
// the whole finger as an ellipse on the background, placed as the impression
// says, large enough for every sensor window the trainer cuts.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <vector>

#include "match/zr_algorithm.h"
#include "match/enroll/zr_multitemplate_enroll.h"
#include "match/zr_presets.h"
#include "objects/zr_finger.h"
#include "objects/zr_image.h"
#include "objects/zr_quality.h"
#include "objects/zr_template.h"
#include "fp_sensor_windows.h"
#include "synthetic_fingers.h"

namespace {

constexpr size_t kFingers = 5;
constexpr uint64_t kSetSeed = 1;  // the demo's default set
constexpr uint32_t kQualityFloor = 20;
constexpr uint32_t kFarLevel = 12;
constexpr uint16_t kEnrolDpi = 508;
constexpr uint16_t kVerifyDpi = 500;

const std::vector<synthetic::Finger>& fingers() {
    static const std::vector<synthetic::Finger> set = synthetic::make_fingers(kFingers, kSetSeed);
    return set;
}

// Quality as the exported interface measures it; 0 on any failure.
uint32_t image_quality(const std::vector<uint8_t>& pixels) {
    zr_image* image = zr_image_create(synthetic::kRows, synthetic::kCols, kVerifyDpi, kVerifyDpi, pixels.data(), 0);
    if (image == nullptr) return 0;
    zr_quality* quality = nullptr;
    uint32_t value = 0;
    if (zr_compute_quality_500(nullptr, image, &quality) == ZR_OK && quality != nullptr)
        value = zr_quality_get_image_quality(quality);
    zr_quality_delete(quality);
    zr_image_delete(image);
    return value;
}

uint32_t quiet_feedback(zr_session*, uint32_t, void*) { return 0; }
uint32_t free_islands(zr_session*, zr_enroll_island*, uint8_t) { return 1; }
const zr_enroll_callbacks kCallbacks = {quiet_feedback, free_islands, nullptr, nullptr,
                                        nullptr,        nullptr,      nullptr, nullptr};

zr_algorithm* exported_preset() {
    zr_algorithm* a = gen_192x80_hybridhr_create(nullptr);
    if (a == nullptr) return nullptr;
    zr_algorithm_config* c = zr_algorithm_get_config(a);
    c->max_captures = synthetic::kEnrolCaptures;
    c->max_template_size = 20480;
    zr_algorithm_set_feature_state(a, 0, 1);
    return a;
}

// Enrols the six captures as the exported interface does; none on failure.
zr_template* enrol(const synthetic::Finger& finger) {
    zr_algorithm* a = exported_preset();
    if (a == nullptr) return nullptr;
    zr_multitemplate_enroll* e = zr_multitemplate_enroll_create_algorithm(a, ZR_FINGER_ANONYMOUS, &kCallbacks, nullptr);
    zr_template* out = nullptr;
    bool ok = e != nullptr;
    for (size_t i = 0; ok && i < finger.enrol.size(); ++i) {
        zr_image* image =
            zr_image_create(synthetic::kRows, synthetic::kCols, kEnrolDpi, kEnrolDpi, finger.enrol[i].data(), 0);
        const zr_status rc = zr_multitemplate_enroll_run(e, image, nullptr, nullptr);
        zr_image_delete(image);
        ok = rc == ZR_OK || (rc == ZR_ENROLL_COMPLETE && i + 1 == finger.enrol.size());
    }
    if (ok && zr_multitemplate_enroll_finalize_template_algorithm(a, e, &out) != ZR_OK) out = nullptr;
    if (!ok) out = nullptr;
    zr_multitemplate_enroll_delete(e);
    zr_algorithm_delete(a);
    return out;
}

// 1 accept, 0 reject, -1 failure.
int verify(zr_template* stored, const std::vector<uint8_t>& probe) {
    zr_algorithm* a = gen_192x80_hybridhr_create(nullptr);
    zr_image* image = zr_image_create(synthetic::kRows, synthetic::kCols, kVerifyDpi, kVerifyDpi, probe.data(), 0);
    zr_template* list[2] = {stored, nullptr};
    uint32_t decision = 0, index = 0;
    zr_template* updated = nullptr;
    const zr_status rc =
        zr_algorithm_verify_image(a, list, 1, image, kFarLevel, &decision, nullptr, &index, nullptr, &updated);
    zr_template_delete(updated);
    zr_image_delete(image);
    zr_algorithm_delete(a);
    return rc != ZR_OK ? -1 : decision == 1 ? 1 : 0;
}

// Dominant spatial period (pixels) of a 64 x 64 block of an image `cols`
// wide, by a 2-D DFT in double precision with the mean removed.
double dominant_period(const std::vector<uint8_t>& image, int top, int left, int cols = synthetic::kCols) {
    constexpr int n = 64;
    std::vector<std::complex<double>> block(n * n);
    double mean = 0;
    for (int r = 0; r < n; ++r)
        for (int c = 0; c < n; ++c) mean += image[(top + r) * cols + left + c];
    mean /= n * n;
    for (int r = 0; r < n; ++r)
        for (int c = 0; c < n; ++c) block[r * n + c] = image[(top + r) * cols + left + c] - mean;
    std::vector<std::complex<double>> twiddle(n);
    for (int k = 0; k < n; ++k) twiddle[k] = std::polar(1.0, -2 * std::numbers::pi * k / n);
    auto dft_lines = [&](bool rows) {
        std::vector<std::complex<double>> line(n), out(n);
        for (int i = 0; i < n; ++i) {
            for (int j = 0; j < n; ++j) line[j] = rows ? block[i * n + j] : block[j * n + i];
            for (int k = 0; k < n; ++k) {
                std::complex<double> acc = 0;
                for (int j = 0; j < n; ++j) acc += line[j] * twiddle[(j * k) % n];
                out[k] = acc;
            }
            for (int k = 0; k < n; ++k) (rows ? block[i * n + k] : block[k * n + i]) = out[k];
        }
    };
    dft_lines(true);
    dft_lines(false);
    double best = 0, best_radius = 0;
    for (int u = 0; u < n; ++u)
        for (int v = 0; v < n; ++v) {
            const int fu = u <= n / 2 ? u : u - n, fv = v <= n / 2 ? v : v - n;
            const double radius = std::hypot(fu, fv);
            if (radius < 2) continue;  // the slow shading, not ridges
            const double power = std::norm(block[u * n + v]);
            if (power > best) best = power, best_radius = radius;
        }
    return n / best_radius;
}

TEST(SyntheticCaptures, OneSeedGivesTheSameImagesAndSeedsDiffer) {
    const synthetic::Finger again = synthetic::make_finger(fingers()[0].seed, fingers()[0].name);
    EXPECT_EQ(again.enrol, fingers()[0].enrol);
    EXPECT_EQ(again.probes, fingers()[0].probes);
    for (size_t i = 1; i < kFingers; ++i) EXPECT_NE(fingers()[i].enrol[0], fingers()[0].enrol[0]) << i;
    for (int i = 1; i < synthetic::kEnrolCaptures; ++i) EXPECT_NE(fingers()[0].enrol[i], fingers()[0].enrol[0]) << i;
    EXPECT_NE(synthetic::make_fingers(1, kSetSeed + 1)[0].enrol[0], fingers()[0].enrol[0]);
}

TEST(SyntheticCaptures, RidgesAreDarkWithAPeriodNearNine) {
    // Polarity: an impression taken straight from the middle of the master,
    // without noise, is dark exactly where the master has ridges.
    const synthetic::MasterPrint master = synthetic::make_master(fingers()[0].seed);
    synthetic::Impression straight{};
    straight.background = 200;
    straight.contrast = 120;
    for (auto& axis : straight.distortion) axis[1] = 100;  // wavelength; the amplitude stays 0
    const std::vector<uint8_t> image = synthetic::render(master, straight);
    double sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;
    const int n = synthetic::kRows * synthetic::kCols;
    for (int r = 0; r < synthetic::kRows; ++r)
        for (int c = 0; c < synthetic::kCols; ++c) {
            const double x = image[r * synthetic::kCols + c];
            const int mr = static_cast<int>(std::lround(master.rows / 2.0 + r - (synthetic::kRows - 1) / 2.0 - 0.5));
            const int mc = static_cast<int>(std::lround(master.cols / 2.0 + c - (synthetic::kCols - 1) / 2.0 - 0.5));
            const double y = master.ridges[mr * master.cols + mc];
            sx += x, sy += y, sxx += x * x, syy += y * y, sxy += x * y;
        }
    const double correlation = (n * sxy - sx * sy) / std::sqrt((n * sxx - sx * sx) * (n * syy - sy * sy));
    EXPECT_LT(correlation, -0.8);

    for (const synthetic::Finger& f : fingers())
        for (const auto* set : {&f.enrol, &f.probes})
            for (const std::vector<uint8_t>& capture : *set) {
                SCOPED_TRACE(f.name);
                ASSERT_EQ(capture.size(), synthetic::kImageBytes);
                std::vector<uint8_t> sorted = capture;
                std::sort(sorted.begin(), sorted.end());
                const int low = sorted[sorted.size() / 10], high = sorted[sorted.size() * 9 / 10];
                EXPECT_GT(high - low, 60);  // ridges stand out of the valleys
                EXPECT_GT(high, 150);       // on a light background
                for (int top : {16, 96}) {
                    const double period = dominant_period(capture, top, 16);
                    EXPECT_GT(period, 7.0) << "block at row " << top;
                    EXPECT_LT(period, 11.5) << "block at row " << top;
                }
            }
}

TEST(SyntheticCaptures, TheWrittenSetIsMarkedSyntheticAndReadsBack) {
    const auto folder = std::filesystem::temp_directory_path() / ("synthetic_set_" + std::to_string(::getpid()));
    const std::vector<synthetic::Finger> two(fingers().begin(), fingers().begin() + 2);
    ASSERT_TRUE(synthetic::write_set(folder, "synthetic", two));
    size_t files = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        if (!entry.is_regular_file()) continue;
        ++files;
        std::ifstream in(entry.path(), std::ios::binary);
        std::string first, second;
        std::getline(in, first);
        std::getline(in, second);
        const bool marked = first.rfind("# synthetic", 0) == 0 || second.rfind("# synthetic", 0) == 0;
        EXPECT_TRUE(marked) << entry.path();
    }
    EXPECT_EQ(files, 1u + 2u * 8u);
    // A probe file holds its image after the header, byte for byte.
    std::ifstream probe(folder / "synthetic" / two[1].name / "p8.pgm", std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(probe)), std::istreambuf_iterator<char>());
    ASSERT_GE(bytes.size(), synthetic::kImageBytes);
    const std::vector<uint8_t> stored(bytes.end() - static_cast<std::ptrdiff_t>(synthetic::kImageBytes), bytes.end());
    EXPECT_EQ(stored, two[1].probes[1]);
    EXPECT_EQ(bytes.rfind("P5\n", 0), 0u);
    std::filesystem::remove_all(folder);
}

TEST(SyntheticCaptures, PassTheQualityGate) {
    for (const synthetic::Finger& f : fingers()) {
        for (size_t i = 0; i < f.enrol.size(); ++i)
            EXPECT_GE(image_quality(f.enrol[i]), kQualityFloor) << f.name << " e" << i + 1;
        for (size_t i = 0; i < f.probes.size(); ++i)
            EXPECT_GE(image_quality(f.probes[i]), kQualityFloor) << f.name << " p" << i + 7;
    }
}

TEST(SyntheticCaptures, EveryFingerEnrolsAndIsTellingApart) {
    std::vector<zr_template*> stored;
    for (const synthetic::Finger& f : fingers()) {
        stored.push_back(enrol(f));
        EXPECT_NE(stored.back(), nullptr) << f.name << " did not enrol";
        if (stored.back() != nullptr) {
            EXPECT_EQ(zr_template_get_type(stored.back()), 80u);
        }
    }
    int genuine = 0, genuine_accepted = 0, impostor = 0, impostor_accepted = 0, failures = 0;
    for (size_t t = 0; t < stored.size(); ++t) {
        if (stored[t] == nullptr) continue;
        for (size_t p = 0; p < fingers().size(); ++p)
            for (size_t k = 0; k < fingers()[p].probes.size(); ++k) {
                const int r = verify(stored[t], fingers()[p].probes[k]);
                if (r < 0) ++failures;
                if (p == t) {
                    ++genuine;
                    genuine_accepted += r == 1;
                    std::printf("genuine %s p%zu: %s\n", fingers()[p].name.c_str(), k + 7, r == 1 ? "accepted" : "rejected");
                } else {
                    ++impostor;
                    impostor_accepted += r == 1;
                }
            }
    }
    std::printf("synthetic set: genuine %d/%d accepted, impostor %d/%d accepted\n", genuine_accepted, genuine,
                impostor_accepted, impostor);
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(impostor_accepted, 0);
    // Enrolment captures verify against their own template: the plumbing's
    // probes in the scenario rely on it.
    for (size_t t = 0; t < stored.size(); ++t) {
        if (stored[t] == nullptr) continue;
        EXPECT_EQ(verify(stored[t], fingers()[t].enrol[0]), 1) << fingers()[t].name;
    }
    for (zr_template* s : stored) zr_template_delete(s);
}

// --- full impressions ---------------------------------------------------------

constexpr size_t kFullFingers = 3;
constexpr int kBlock = 16;
// A 16 x 16 block is finger when its grey variance is above this: ridges
// give thousands, the background's noise (deviation at most 10) about 100.
constexpr double kFingerBlockVariance = 400.0;

struct BlockStats {
    double mean, variance;
};

BlockStats block_stats(const std::vector<uint8_t>& image, int top, int left) {
    double sum = 0, squares = 0;
    for (int r = 0; r < kBlock; ++r)
        for (int c = 0; c < kBlock; ++c) {
            const double p = image[static_cast<size_t>(top + r) * synthetic::kFullCols + left + c];
            sum += p;
            squares += p * p;
        }
    const double n = kBlock * kBlock, mean = sum / n;
    return {mean, squares / n - mean * mean};
}

bool finger_block(const std::vector<uint8_t>& image, int top, int left) {
    return block_stats(image, top, left).variance > kFingerBlockVariance;
}

// Where the middle of the finger lands in the image: the render maps image
// offset (u, v) from the centre to master centre + shift + R(turn) (u, v),
// so the master centre is at R(turn)^T (-shift), give or take the distortion.
std::array<double, 2> expected_finger_centre(const synthetic::Impression& p) {
    const double turn = p.turn_degrees * std::numbers::pi / 180.0;
    const double cs = std::cos(turn), sn = std::sin(turn);
    const double u = -(cs * p.shift_rows + sn * p.shift_cols);
    const double v = -(-sn * p.shift_rows + cs * p.shift_cols);
    return {(synthetic::kFullRows - 1) / 2.0 + u, (synthetic::kFullCols - 1) / 2.0 + v};
}

uint64_t full_seed(size_t index) { return synthetic::finger_seed(kSetSeed, index); }

TEST(SyntheticFullImpressions, OneSeedGivesTheSameEightImagesAndTheyDiffer) {
    const auto first = synthetic::make_full_impressions(full_seed(0));
    ASSERT_EQ(first.size(), 8u);
    for (const auto& image : first) EXPECT_EQ(image.size(), synthetic::kFullImageBytes);
    EXPECT_EQ(synthetic::make_full_impressions(full_seed(0)), first);
    for (size_t i = 0; i < first.size(); ++i)
        for (size_t j = i + 1; j < first.size(); ++j) EXPECT_NE(first[i], first[j]) << i << " " << j;
    EXPECT_NE(synthetic::make_full_impressions(full_seed(1))[0], first[0]);
    // Impression i is the placement the captures of the finger draw for i.
    const synthetic::MasterPrint master = synthetic::make_full_master(full_seed(0));
    EXPECT_EQ(master.rows * master.cols, 490 * 320);
    EXPECT_EQ(synthetic::render_full(master, synthetic::draw_impression(full_seed(0), 6, true)), first[6]);
}

// The impressions of a finger as drawn, and rendered without dry breaks: the
// outline and the ridges' geometry do not depend on them, while the block
// measures below would take a dry finger's gaps for background.
struct UnbrokenFinger {
    std::vector<synthetic::Impression> placements;
    std::vector<std::vector<uint8_t>> images;
};

UnbrokenFinger unbroken_finger(size_t index) {
    const synthetic::MasterPrint master = synthetic::make_full_master(full_seed(index));
    UnbrokenFinger out;
    for (int i = 0; i < synthetic::kFullImpressions; ++i) {
        out.placements.push_back(synthetic::draw_impression(full_seed(index), i, i >= synthetic::kEnrolCaptures));
        synthetic::Impression moist = out.placements.back();
        moist.dryness = 0;
        out.images.push_back(synthetic::render_full(master, moist));
    }
    return out;
}

TEST(SyntheticFullImpressions, TheFingerIsAnEllipseOfRidgesOnTheBackground) {
    for (size_t f = 0; f < kFullFingers; ++f) {
        const auto images = synthetic::make_full_impressions(full_seed(f));
        const UnbrokenFinger unbroken = unbroken_finger(f);
        for (size_t i = 0; i < images.size(); ++i) {
            SCOPED_TRACE("finger " + std::to_string(f) + " impression " + std::to_string(i + 1));
            const std::vector<uint8_t>& image = unbroken.images[i];
            const synthetic::Impression& p = unbroken.placements[i];
            // Corners: background grey and noise only.
            for (int top : {0, synthetic::kFullRows - kBlock})
                for (int left : {0, synthetic::kFullCols - kBlock}) {
                    const BlockStats corner = block_stats(image, top, left);
                    EXPECT_LT(corner.variance, kFingerBlockVariance / 2) << top << "," << left;
                    EXPECT_NEAR(corner.mean, p.background, 4.0) << top << "," << left;
                }
            // Finger blocks: an ellipse of 0.95..1 x 420 x 260 covers 59..65 %
            // of the image; blocks on its edge count when ridges show in them.
            int finger = 0, blocks = 0;
            for (int top = 0; top + kBlock <= synthetic::kFullRows; top += kBlock)
                for (int left = 0; left + kBlock <= synthetic::kFullCols; left += kBlock) {
                    ++blocks;
                    finger += finger_block(image, top, left);
                }
            EXPECT_GT(finger, blocks * 55 / 100);
            EXPECT_LT(finger, blocks * 72 / 100);
            // The trainer's foreground centre is the middle of the finger, on
            // the impression as made too (dry breaks and all).
            const auto centre = expected_finger_centre(p);
            const fp_test::Foreground fg =
                fp_test::find_foreground({synthetic::kFullRows, synthetic::kFullCols, image});
            EXPECT_NEAR(fg.centre_row, centre[0], 12.0);
            EXPECT_NEAR(fg.centre_col, centre[1], 12.0);
            EXPECT_NEAR(fg.background, p.background, 4.0);
            const fp_test::Foreground made =
                fp_test::find_foreground({synthetic::kFullRows, synthetic::kFullCols, images[i]});
            EXPECT_NEAR(made.centre_row, centre[0], 24.0);
            EXPECT_NEAR(made.centre_col, centre[1], 24.0);
            // The ridge period: the median of nine blocks over the finger (a
            // block on a core or delta has no single period).
            std::vector<double> periods;
            for (int dr : {-96, 0, 96})
                for (int dc : {-48, 0, 48})
                    periods.push_back(dominant_period(image, fg.centre_row + dr - 32, fg.centre_col + dc - 32,
                                                      synthetic::kFullCols));
            std::nth_element(periods.begin(), periods.begin() + 4, periods.end());
            EXPECT_GT(periods[4], 7.0);
            EXPECT_LT(periods[4], 11.5);
        }
    }
}

// Dry breaks take ink off the ridges, more as the dryness grows.
TEST(SyntheticFullImpressions, DrynessBreaksTheRidges) {
    const synthetic::MasterPrint master = synthetic::make_full_master(full_seed(0));
    synthetic::Impression p = synthetic::draw_impression(full_seed(0), 0, false);
    std::vector<size_t> dark;
    for (double dryness : {0.0, 0.25, 0.5}) {
        p.dryness = dryness;
        const std::vector<uint8_t> image = synthetic::render_full(master, p);
        dark.push_back(size_t(std::count_if(image.begin(), image.end(),
                                            [&](uint8_t v) { return v < p.background - p.contrast / 2; })));
    }
    EXPECT_GT(dark[0], dark[1] + dark[0] / 10);
    EXPECT_GT(dark[1], dark[2] + dark[0] / 10);
}

// The contact offset picks the part of the finger that touches: the outline
// stays where the impression puts it while the ridges under it move by the
// offset (up to the uneven-pressure fade, a grey level or two here).
TEST(SyntheticFullImpressions, TheContactOffsetMovesTheRidgesUnderTheOutline) {
    const synthetic::MasterPrint master = synthetic::make_full_master(full_seed(0));
    synthetic::Impression straight{};
    straight.background = 200;
    straight.contrast = 120;
    for (auto& axis : straight.distortion) axis[1] = 100;  // wavelength; the amplitude stays 0
    const std::vector<uint8_t> centred = synthetic::render_full(master, straight);
    constexpr int kOffset = 20;
    straight.contact_rows = kOffset;
    const std::vector<uint8_t> moved = synthetic::render_full(master, straight);
    auto at = [](const std::vector<uint8_t>& image, int r, int c) {
        return int(image[static_cast<size_t>(r) * synthetic::kFullCols + c]);
    };
    int worst_shifted = 0;
    long unshifted = 0, pixels = 0;
    for (int r = 100; r < 300; ++r)
        for (int c = 100; c < 200; ++c) {
            worst_shifted = std::max(worst_shifted, std::abs(at(moved, r, c) - at(centred, r + kOffset, c)));
            unshifted += std::abs(at(moved, r, c) - at(centred, r, c));
            ++pixels;
        }
    EXPECT_LE(worst_shifted, 3);
    EXPECT_GT(unshifted / pixels, 20);  // other ridges than before
    for (int r : {0, 12, 427, 439}) EXPECT_EQ(at(moved, r, 150), at(centred, r, 150)) << r;  // same outline
}

// Every sensor window the trainer cuts (at the foreground centre, resampled
// for 650 dpi) fits inside a full impression without padding and lies on the
// finger: wholly for the square and strip windows, along the middle for the
// 396-row swipe window, whose ends reach the rounded tip and base.
TEST(SyntheticFullImpressions, EverySensorWindowLiesOnTheFinger) {
    for (size_t f = 0; f < kFullFingers; ++f) {
        const std::vector<std::vector<uint8_t>> images = unbroken_finger(f).images;
        for (size_t i = 0; i < images.size(); ++i) {
            const fp_test::GreyImage grey{synthetic::kFullRows, synthetic::kFullCols, images[i]};
            const fp_test::Foreground fg = fp_test::find_foreground(grey);
            for (const fp_test::SensorGeometry& g : fp_test::kSensorGeometries) {
                SCOPED_TRACE(std::string(g.name) + " finger " + std::to_string(f) + " impression " +
                             std::to_string(i + 1));
                const int rows = fp_test::source_extent(g.rows, g.dpi), cols = fp_test::source_extent(g.cols, g.dpi);
                ASSERT_LT(rows, synthetic::kFullRows);
                ASSERT_LT(cols, synthetic::kFullCols);
                const int top = std::clamp(fg.centre_row - rows / 2, 0, synthetic::kFullRows - rows);
                const int left = std::clamp(fg.centre_col - cols / 2, 0, synthetic::kFullCols - cols);
                const bool swipe = g.rows > 300;
                const int first_col = swipe ? left + cols / 2 - kBlock : left;
                const int last_col = swipe ? left + cols / 2 + kBlock : left + cols;
                int finger = 0, blocks = 0;
                for (int r = top; r + kBlock <= top + rows; r += kBlock)
                    for (int c = first_col; c + kBlock <= last_col; c += kBlock) {
                        ++blocks;
                        finger += finger_block(images[i], r, c);
                    }
                EXPECT_GE(finger * 100, blocks * (swipe ? 90 : 100)) << finger << " of " << blocks;
            }
        }
    }
}

}  // namespace
