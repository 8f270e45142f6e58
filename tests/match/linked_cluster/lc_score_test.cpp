#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <vector>

#include "match/linked_cluster/lc_matcher.h"

namespace {

TEST(LcGeometry, InsideAndDiscountedCounts) {
    // Paired: 0 and 1, box x 50..150, y 50..100.
    const std::vector<lc_minutia> m = {
        {50, 50, 0, 0xF0},    {150, 100, 0, 0xF0},  // paired corners
        {100, 75, 0, 0xF0},                          // inside, good
        {120, 60, 0, 0x50},                          // inside, quality 80: discounted
        {60, 90, 0, 0xF0},    {63, 94, 4, 0xF0},     // inside, twins: both discounted
        {200, 200, 0, 0x5F},                         // outside, quality 95: discounted
        {10, 220, 0, 0x60},                          // outside, quality 96: neither
    };
    const uint8_t paired[2] = {0, 1};
    std::array<uint8_t, LC_GEOMETRY_SCRATCH_SIZE> scratch{};
    const lc_side_geometry g = lc_compute_geometrics(m.data(), uint32_t(m.size()), paired, 2, scratch.data());
    EXPECT_EQ(190, g.width);
    EXPECT_EQ(170, g.height);
    EXPECT_EQ(3, g.inside);
    EXPECT_EQ(4, g.discounted);
}

// A pairing scored directly: reference minutiae in a store, probe minutiae
// and the pair list (t with t) in a work area.
struct Pairing {
    alignas(8) std::array<uint8_t, LC_STORE_MAX_SIZE> store{};
    lc_work_area work{};

    Pairing(const std::vector<lc_minutia>& reference, const std::vector<lc_minutia>& probe, uint16_t links) {
        store[0] = uint8_t(reference.size());
        for (size_t i = 0; i < reference.size(); ++i) {
            store[1 + 4 * i] = reference[i].x;
            store[2 + 4 * i] = reference[i].y;
            store[3 + 4 * i] = reference[i].angle;
            store[4 + 4 * i] = reference[i].quality;
        }
        work.store = store.data();
        work.probe_count = uint8_t(probe.size());
        for (size_t i = 0; i < probe.size(); ++i) work.probe[i] = probe[i];
        work.phase.scoring.pair_count = uint8_t(probe.size());
        for (size_t i = 0; i < probe.size(); ++i) {
            work.phase.scoring.pair_probe[i] = uint8_t(i);
            work.phase.scoring.pair_reference[i] = uint8_t(i);
        }
        work.phase.scoring.links = links;
    }
};

TEST(LcScore, IdenticalPairingHasTheSmallestDistortion) {
    std::mt19937 rng(3);
    std::vector<lc_minutia> m;
    for (int i = 0; i < 20; ++i) m.push_back({uint8_t(40 + rng() % 170), uint8_t(40 + rng() % 170), uint8_t(rng()), 0xF0});
    Pairing p(m, m, 100);
    const uint16_t score = lc_score_pairs(&p.work, nullptr);
    EXPECT_EQ(3, p.work.phase.scoring.distortion);  // v = 1: D clamped up to 3
    EXPECT_GT(score, 0);
}

// Grossly distorted pairings (scattered angles and positions) must get the
// largest distortion: a v beyond 16 bits is held, not wrapped to a small
// value that would score an impostor as a close match.
TEST(LcScore, GrossDistortionSaturates) {
    std::mt19937 rng(11);
    uint32_t samples = 0;
    for (int trial = 0; trial < 400; ++trial) {
        std::vector<lc_minutia> reference, probe;
        for (int i = 0; i < 12; ++i) {
            const lc_minutia r{uint8_t(20 + rng() % 216), uint8_t(20 + rng() % 216), uint8_t(rng()), 0xF0};
            reference.push_back(r);
            probe.push_back({uint8_t(20 + rng() % 216), uint8_t(20 + rng() % 216), uint8_t(r.angle + 40 + rng() % 90), 0xF0});
        }
        Pairing p(reference, probe, 30);
        (void)lc_score_pairs(&p.work, nullptr);
        EXPECT_EQ(64, p.work.phase.scoring.distortion) << trial;
        ++samples;
    }
    EXPECT_EQ(400u, samples);
}

}  // namespace
