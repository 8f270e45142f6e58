#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "lc_test_cards.h"
#include "match/linked_cluster/lc_matcher.h"

namespace {

using lc_test::bytes;
using lc_test::CardForm;
using lc_test::CardMinutia;
using lc_test::make_card;

struct Pruned {
    zr_status status = ZR_FAILURE;
    std::vector<lc_minutia> minutiae;
    uint8_t proprietary = 77;
};

Pruned prune(const bytes& card, uint32_t maximum = LC_MAX_MINUTIAE) {
    // Exact-size copy: a read past the card reaches the sanitizer's redzone.
    std::vector<uint8_t> exact(card);
    std::array<uint8_t, LC_PRUNE_SCRATCH_SIZE> scratch{};
    std::array<lc_minutia, LC_MAX_MINUTIAE> out{};
    uint8_t count = 200;
    Pruned p;
    p.status = lc_prune(exact.data(), uint32_t(exact.size()), maximum, scratch.data(), out.data(), &count,
                        &p.proprietary);
    if (p.status == ZR_OK) p.minutiae.assign(out.begin(), out.begin() + count);
    return p;
}

std::vector<CardMinutia> grid(int count, int x0, int y0, int step, int columns) {
    std::vector<CardMinutia> out;
    for (int i = 0; i < count; ++i) out.push_back({x0 + step * (i % columns), y0 + step * (i / columns), 0});
    return out;
}

TEST(LcPrune, ReadsEveryCardFormWithAnglesTimesFourAndNoQuality) {
    const std::vector<CardMinutia> m = {{10, 20, 1}, {200, 30, 63}, {40, 250, 16}};
    for (CardForm form : {CardForm::body_2005, CardForm::plain_2011, CardForm::body_2011, CardForm::plain_2005}) {
        const Pruned p = prune(make_card(m, form));
        ASSERT_EQ(ZR_OK, p.status);
        ASSERT_EQ(3u, p.minutiae.size());
        EXPECT_EQ(0, p.proprietary);
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(m[i].x, p.minutiae[i].x);
            EXPECT_EQ(m[i].y, p.minutiae[i].y);
            EXPECT_EQ(m[i].angle * 4, p.minutiae[i].angle);
            EXPECT_EQ(LC_QUALITY_NONE, p.minutiae[i].quality);
        }
    }
}

TEST(LcPrune, PrefersThe2011MinutiaePartAndIgnoresATrailingPartialMinutia) {
    // 7F2E { 90 (one minutia), 81 (two minutiae and one stray byte) }
    const bytes card = lc_test::element(
        {0x7F, 0x2E}, lc_test::concat(lc_test::element({0x90}, {1, 2, 3}),
                                      lc_test::element({0x81}, {4, 5, 6, 7, 8, 9, 10})));
    const Pruned p = prune(card);
    ASSERT_EQ(ZR_OK, p.status);
    ASSERT_EQ(2u, p.minutiae.size());
    EXPECT_EQ(4, p.minutiae[0].x);
    EXPECT_EQ(7, p.minutiae[1].x);
}

TEST(LcPrune, ProprietaryPartGivesQualityBytesAndItsLengthIsChecked) {
    const std::vector<CardMinutia> m = {{10, 20, 1}, {200, 30, 2}};
    const Pruned with = prune(make_card(m, CardForm::body_2005, bytes{0xA5, 0x3C}));
    ASSERT_EQ(ZR_OK, with.status);
    EXPECT_EQ(1, with.proprietary);
    EXPECT_EQ(0xA5, with.minutiae[0].quality);
    EXPECT_EQ(0x3C, with.minutiae[1].quality);

    // Under the fusion body 0xA2 as well.
    const bytes fused = lc_test::element(
        {0x7F, 0x2E}, lc_test::concat(lc_test::element({0x81}, lc_test::minutiae_bytes(m)),
                                      lc_test::element({0xA2}, lc_test::element({0x82}, {0x98, 0xEC, 0x15, 0xE1, 1, 2}))));
    EXPECT_EQ(1, prune(fused).proprietary);

    struct Case {
        const char* name;
        bytes proprietary;
        zr_status status;
        uint8_t flag;
    };
    const Case cases[] = {
        {"one byte short", {0x98, 0xEC, 0x15, 0xE1, 1}, ZR_BAD_FORMAT, 0},
        {"one byte long", {0x98, 0xEC, 0x15, 0xE1, 1, 2, 3}, ZR_BAD_FORMAT, 0},
        {"other magic", {0x98, 0xEC, 0x15, 0xE0, 1}, ZR_OK, 0},
        {"three bytes", {0x98, 0xEC, 0x15}, ZR_OK, 0},
    };
    for (const Case& c : cases) {
        const bytes card = lc_test::element(
            {0x7F, 0x2E}, lc_test::concat(lc_test::element({0xA1}, lc_test::element({0x90}, lc_test::minutiae_bytes(m))),
                                          lc_test::element({0x82}, c.proprietary)));
        const Pruned p = prune(card);
        EXPECT_EQ(c.status, p.status) << c.name;
        if (p.status == ZR_OK) {
            EXPECT_EQ(c.flag, p.proprietary) << c.name;
        }
    }
}

TEST(LcPrune, CardsWithoutAMinutiaePartAreRefused) {
    const bytes good = make_card({{10, 20, 1}, {30, 40, 2}});
    const struct {
        const char* name;
        bytes card;
    } cases[] = {
        {"empty", {}},
        {"other outer tag", lc_test::element({0x7F, 0x2F}, lc_test::element({0x81}, {1, 2, 3}))},
        {"no minutiae part", lc_test::element({0x7F, 0x2E}, lc_test::element({0x92}, {1, 2, 3}))},
        {"truncated", bytes(good.begin(), good.end() - 1)},
        {"length beyond the card", [] {
             bytes c = lc_test::make_card({{10, 20, 1}});
             c[c.size() - 4] = 0x7F;  // the 0x90 length
             return c;
         }()},
    };
    for (const auto& c : cases) EXPECT_EQ(ZR_BAD_FORMAT, prune(c.card).status) << c.name;
}

TEST(LcPrune, EightyMinutiaeWithTwentyRepeatedPositionsKeepSixtyDistinctInOrder) {
    std::vector<CardMinutia> m = grid(60, 20, 20, 12, 10);
    for (int i = 0; i < 20; ++i) m.push_back({m[i * 3].x, m[i * 3].y, 5});  // same place, other angle
    const Pruned p = prune(make_card(m));
    ASSERT_EQ(ZR_OK, p.status);
    ASSERT_EQ(60u, p.minutiae.size());
    for (size_t i = 0; i < 60; ++i) {
        EXPECT_EQ(m[i].x, p.minutiae[i].x);
        EXPECT_EQ(m[i].y, p.minutiae[i].y);
        EXPECT_EQ(0, p.minutiae[i].angle);
    }
}

TEST(LcPrune, OnlyTheFirst128CardMinutiaeAreConsideredAndAtMostTheMaximumKept) {
    const Pruned p = prune(make_card(grid(200, 0, 0, 9, 25)));  // distinct, no partners
    ASSERT_EQ(ZR_OK, p.status);
    EXPECT_EQ(64u, p.minutiae.size());
    EXPECT_EQ(10u, prune(make_card(grid(40, 60, 60, 9, 8)), 10).minutiae.size());
}

TEST(LcPrune, MinutiaeWithPartnersGoLastByDescendingPairValueAndAreCutFirst) {
    // 60 lone minutiae (one direction, 9 apart: no partners), two twin pairs
    // (pair values 5 + 20 and 7 + 20), a facing pair (value 10) and two
    // minutiae beyond the x window, interleaved.
    const std::vector<CardMinutia> lone = grid(60, 80, 60, 9, 10);
    const CardMinutia a1{70, 200, 8}, a2{73, 204, 9};      // twins, d^2 25
    const CardMinutia b1{120, 200, 20}, b2{127, 200, 20};  // twins, d^2 49
    const CardMinutia c1{160, 200, 0}, c2{170, 200, 32};   // facing along x, d 10
    const CardMinutia far1{250, 100, 0}, far2{252, 140, 0};
    std::vector<CardMinutia> m;
    for (int i = 0; i < 60; ++i) {
        m.push_back(lone[i]);
        if (i == 5) m.insert(m.end(), {a1, far1});
        if (i == 20) m.insert(m.end(), {c1, a2, b1});
        if (i == 40) m.insert(m.end(), {c2, far2, b2});
    }
    const Pruned p = prune(make_card(m));
    ASSERT_EQ(ZR_OK, p.status);
    ASSERT_EQ(64u, p.minutiae.size());
    for (size_t i = 0; i < 60; ++i) {
        EXPECT_EQ(lone[i].x, p.minutiae[i].x) << i;
        EXPECT_EQ(lone[i].y, p.minutiae[i].y) << i;
    }
    // The twins 27 first, then 25; the facing pair (closest) is cut.
    EXPECT_EQ(std::vector<int>({120, 127}), (std::vector<int>{std::min(p.minutiae[60].x, p.minutiae[61].x),
                                                             std::max(p.minutiae[60].x, p.minutiae[61].x)}));
    EXPECT_EQ(std::vector<int>({70, 73}), (std::vector<int>{std::min(p.minutiae[62].x, p.minutiae[63].x),
                                                           std::max(p.minutiae[62].x, p.minutiae[63].x)}));
}

TEST(LcPrune, TopLimitFromFewOrNoCollectedYValues) {
    // x centre 30: window 0..105. Every y lies beyond it: no y limit.
    std::vector<CardMinutia> none;
    for (int i = 0; i < 70; ++i) none.push_back({10 + (i % 5) * 9, 120 + (i / 5) * 9, 0});
    EXPECT_EQ(64u, prune(make_card(none)).minutiae.size());

    // One y value (60) inside the window: the top limit is 60 + 180 = 240.
    std::vector<CardMinutia> one = none;
    one[0].y = 60;
    const Pruned p = prune(make_card(one));
    ASSERT_EQ(ZR_OK, p.status);
    const auto kept = std::count_if(one.begin(), one.end(), [](const CardMinutia& c) { return c.y <= 240; });
    EXPECT_EQ(size_t(std::min<long>(kept, 64)), p.minutiae.size());
    for (const lc_minutia& k : p.minutiae) EXPECT_LE(k.y, 240);
}

TEST(LcFindPairs, TwinsFacingEndingsAndNonPartners) {
    const struct {
        const char* name;
        lc_minutia a, b;
        uint8_t value;
    } cases[] = {
        {"twins d^2 25", {50, 50, 10, 0}, {53, 54, 20, 0}, 25},
        {"twins 13 apart, d^2 58", {50, 50, 10, 0}, {53, 57, 23, 0}, 28},
        {"twins at d^2 61", {50, 50, 10, 0}, {55, 56, 10, 0}, 28},
        {"twins too far (d^2 64)", {50, 50, 10, 0}, {58, 50, 10, 0}, LC_NONE},
        {"directions 14 apart", {50, 50, 10, 0}, {53, 54, 24, 0}, LC_NONE},
        {"facing along x", {50, 50, 0, 0}, {60, 50, 128, 0}, 10},
        {"facing along y", {50, 50, 64, 0}, {50, 38, 192, 0}, 12},
        {"opposite, side by side", {50, 50, 64, 0}, {60, 50, 192, 0}, LC_NONE},
        {"opposite, too far", {50, 50, 0, 0}, {70, 50, 128, 0}, LC_NONE},
    };
    for (const auto& c : cases) {
        const lc_minutia m[2] = {c.a, c.b};
        uint8_t values[2] = {0, 0};
        lc_find_minutiae_pairs(m, 2, values);
        EXPECT_EQ(c.value, values[0]) << c.name;
        EXPECT_EQ(c.value, values[1]) << c.name;
    }
}

}  // namespace
