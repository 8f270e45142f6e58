#include <gtest/gtest.h>

#include <vector>

#include "imaging/bal_border_block.h"
#include "math/zr_trig.h"

namespace {

constexpr uint32_t kSectors = 16;

uint32_t sector_of(int32_t ky, int32_t kx) {
    return (static_cast<uint8_t>(zr_atan2_(ky, kx)) >> 3) & (kSectors - 1);
}

// A half spectrum of size b with the frequency of every entry.
struct Spectrum {
    uint32_t b;
    std::vector<int32_t> re, im;
    explicit Spectrum(uint32_t block) : b(block), re(block * (block / 2 + 1)), im(re.size()) {}
    uint32_t stride() const { return b / 2 + 1; }
    int32_t ky(uint32_t r) const { return r <= b / 2 ? int32_t(r) : int32_t(r) - int32_t(b); }
    template <class F>
    void each(F&& f) {
        for (uint32_t r = 0; r < b; ++r)
            for (uint32_t c = 0; c <= b / 2; ++c) f(r, c, ky(r), int32_t(c), r * stride() + c);
    }
};

bool kept_sector(uint32_t s, uint32_t peak) {
    return s == peak || s == (peak + 1) % kSectors || s == (peak + kSectors - 1) % kSectors;
}

}  // namespace

// The callback relies on conjugate frequencies sharing a sector.
TEST(BorderBlock, OppositeFrequenciesShareASector) {
    for (int32_t ky = -64; ky <= 64; ++ky) {
        for (int32_t kx = -64; kx <= 64; ++kx) {
            if (ky == 0 && kx == 0) continue;
            ASSERT_EQ(sector_of(ky, kx), sector_of(-ky, -kx)) << ky << "," << kx;
        }
    }
}

// Background of magnitude 10 everywhere, one sector raised to 50: that sector
// and its two neighbours survive unchanged, DC survives, everything else is 0.
TEST(BorderBlock, KeepsTheStrongestSectorAndItsNeighbours) {
    for (uint32_t b : {16u, 32u, 64u, 128u}) {
        for (uint32_t strong : {0u, 5u, 15u}) {
            SCOPED_TRACE(testing::Message() << "block " << b << " sector " << strong);
            Spectrum sp(b);
            sp.each([&](uint32_t, uint32_t, int32_t ky, int32_t kx, uint32_t i) {
                const int32_t level = (ky != 0 || kx != 0) && sector_of(ky, kx) == strong ? 50 : 10;
                sp.re[i] = level * 128;  // rendered magnitude (|re| + |im|) / 256 = level
                sp.im[i] = -level * 128;
            });
            sp.re[0] = 123456;
            sp.im[0] = 0;
            const Spectrum before = sp;
            ASSERT_EQ(BAL_OK, process_border_block(sp.re.data(), sp.im.data(), b, nullptr, 0, nullptr));
            uint32_t survivors = 0;
            sp.each([&](uint32_t r, uint32_t c, int32_t ky, int32_t kx, uint32_t i) {
                if (r == 0 && c == 0) {
                    EXPECT_EQ(123456, sp.re[i]);
                    return;
                }
                if (kept_sector(sector_of(ky, kx), strong)) {
                    EXPECT_EQ(before.re[i], sp.re[i]) << ky << "," << kx;
                    EXPECT_EQ(before.im[i], sp.im[i]) << ky << "," << kx;
                    ++survivors;
                } else {
                    EXPECT_EQ(0, sp.re[i]) << ky << "," << kx;
                    EXPECT_EQ(0, sp.im[i]) << ky << "," << kx;
                }
            });
            EXPECT_GT(survivors, 0u);
        }
    }
}

// Two single bins of equal magnitude in sectors 3 and 9: the first sector wins
// the tie. A spectrum with only DC comes through unchanged.
TEST(BorderBlock, TieGoesToTheFirstSectorAndDcAloneSurvives) {
    Spectrum sp(32);
    uint32_t in3 = 0, in9 = 0;
    sp.each([&](uint32_t r, uint32_t c, int32_t ky, int32_t kx, uint32_t i) {
        if ((r == 0 && c == 0) || c == 0 || c == 16) return;  // bins seen once in the rendered plane
        if (!in3 && sector_of(ky, kx) == 3) in3 = i;
        if (!in9 && sector_of(ky, kx) == 9) in9 = i;
    });
    ASSERT_NE(0u, in3);
    ASSERT_NE(0u, in9);
    sp.re[in3] = sp.re[in9] = 256 * 100;
    sp.re[0] = -777;
    ASSERT_EQ(BAL_OK, process_border_block(sp.re.data(), sp.im.data(), 32, nullptr, 0, nullptr));
    EXPECT_EQ(256 * 100, sp.re[in3]);
    EXPECT_EQ(0, sp.re[in9]);
    EXPECT_EQ(-777, sp.re[0]);

    Spectrum dc(32);
    dc.re[0] = 5000;
    dc.im[0] = -3;
    ASSERT_EQ(BAL_OK, process_border_block(dc.re.data(), dc.im.data(), 32, nullptr, 0, nullptr));
    EXPECT_EQ(5000, dc.re[0]);
    EXPECT_EQ(-3, dc.im[0]);
}
