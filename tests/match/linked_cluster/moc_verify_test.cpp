#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "lc_test_cards.h"
#include "match/linked_cluster/lc_compact_card_match.h"
#include "match/linked_cluster/zr_moc.h"

namespace {

using lc_test::bytes;
using lc_test::CardMinutia;
using lc_test::make_card;

// A store made by enrolment, in a heap block of exactly LC_STORE_MAX_SIZE bytes.
struct Store {
    std::unique_ptr<uint8_t, decltype(&std::free)> bytes_{static_cast<uint8_t*>(std::calloc(LC_STORE_MAX_SIZE, 1)),
                                                          &std::free};
    uint8_t* data() { return bytes_.get(); }
};

Store enrolled(const bytes& card) {
    Store s;
    std::vector<uint8_t> work(2064);
    uint16_t used = 0;
    EXPECT_EQ(ZR_OK, zr_moc_enroll(work.data(), 2064, card.data(), uint32_t(card.size()), s.data(),
                                   LC_STORE_MAX_SIZE, &used, write_persistent_mem));
    return s;
}

struct Verified {
    zr_status status = ZR_FAILURE;
    uint16_t score = 0xBEEF;
    uint8_t decision = 0xEE;
    zr_moc_alignment alignment{0xAA, 0x5555, 0x5555};
};

Verified verify(Store& store, const bytes& probe, uint8_t flags = 0, uint8_t level = 12, bool decision = true,
                uint16_t work_size = LC_WORK_AREA_SIZE) {
    std::unique_ptr<uint8_t, decltype(&std::free)> work(static_cast<uint8_t*>(std::malloc(work_size)), &std::free);
    std::vector<uint8_t> exact(probe);
    Verified v;
    v.status = zr_moc_verify(work.get(), work_size, store.data(), exact.data(), uint32_t(exact.size()), &v.score,
                             level, decision ? &v.decision : nullptr, &v.alignment, flags);
    return v;
}

TEST(MocVerify, FarLevelAndWorkAreaChecks) {
    const bytes card = make_card(lc_test::spread_minutiae(30, 1));
    Store store = enrolled(card);
    const struct {
        uint8_t level;
        bool decision;
        uint16_t work;
        zr_status status;
    } cases[] = {
        {0, true, 2056, ZR_MOC_BAD_LEVEL},  {13, true, 2056, ZR_MOC_BAD_LEVEL}, {0, false, 2056, ZR_OK},
        {13, false, 2056, ZR_OK},           {1, true, 2056, ZR_OK},             {12, true, 2056, ZR_OK},
        {12, true, 2055, ZR_MOC_WORK_AREA_TOO_SMALL}, {0, true, 100, ZR_MOC_BAD_LEVEL},
    };
    for (const auto& c : cases) {
        const Verified v = verify(store, card, 0, c.level, c.decision, c.work);
        EXPECT_EQ(c.status, v.status) << int(c.level) << " " << c.work;
        if (c.status != ZR_OK) {
            EXPECT_EQ(0xBEEF, v.score);  // outputs untouched on failure
            EXPECT_EQ(0xEE, v.decision);
        }
    }
}

TEST(MocVerify, InconsistentStoresAreRefused) {
    const bytes card = make_card(lc_test::spread_minutiae(30, 2));
    const struct {
        const char* name;
        void (*damage)(uint8_t* store);
    } cases[] = {
        {"first byte 65", [](uint8_t* s) { s[0] = 65; }},
        {"count byte one less than the bits", [](uint8_t* s) { --s[258 + 33 * 4]; }},
        {"flipped bitmap bit", [](uint8_t* s) { s[258 + 33 * 7 + 25 + 2] ^= 0x10; }},
        {"bit at the minutia count", [](uint8_t* s) {
             uint8_t* bitmap = s + 258 + 33 * 3 + 25;  // move the lowest neighbour bit to bit 30
             for (int j = 0; j < 30; ++j) {
                 if ((bitmap[j / 8] >> (j % 8)) & 1) {
                     bitmap[j / 8] ^= uint8_t(1 << (j % 8));
                     break;
                 }
             }
             bitmap[30 / 8] |= uint8_t(1 << (30 % 8));
         }},
        {"bit far above the count", [](uint8_t* s) {
             uint8_t* record = s + 258 + 33 * 29;
             record[25 + 7] |= 0x80;
             ++record[0];
         }},
        {"25 neighbours", [](uint8_t* s) {
             uint8_t* record = s + 258 + 33 * 0;
             std::memset(record + 25, 0, 8);
             record[25] = 0xFF, record[26] = 0xFF, record[27] = 0xFF, record[28] = 0x01;
             record[0] = 25;
         }},
    };
    for (const auto& c : cases) {
        Store store = enrolled(card);
        ASSERT_EQ(ZR_OK, verify(store, card).status) << c.name;
        c.damage(store.data());
        const Verified v = verify(store, card);
        EXPECT_EQ(ZR_MOC_BAD_STORE, v.status) << c.name;
        EXPECT_EQ(0xBEEF, v.score) << c.name;
    }
}

TEST(MocVerify, DummyProbeScoresZeroWithoutMatching) {
    const bytes dummy = lc_test::dummy_card();
    Store store = enrolled(dummy);
    const Verified v = verify(store, dummy, 0, 1);
    EXPECT_EQ(ZR_OK, v.status);
    EXPECT_EQ(0, v.score);
    EXPECT_EQ(0, v.decision);
    EXPECT_EQ(0, v.alignment.rotation);
    EXPECT_EQ(0, v.alignment.x_shift);
    EXPECT_EQ(0, v.alignment.y_shift);
    // The same minutiae as a 2011 card are the dummy template too; one byte off is not.
    bytes plain = lc_test::element({0x7F, 0x2E}, lc_test::element({0x81}, bytes(dummy.end() - 96, dummy.end())));
    EXPECT_EQ(1, lc_origin_is_dummy(plain.data(), uint32_t(plain.size())));
    plain.back() ^= 1;
    EXPECT_EQ(0, lc_origin_is_dummy(plain.data(), uint32_t(plain.size())));
    EXPECT_GT(verify(store, plain).score, 496);
}

TEST(MocVerify, DecisionThresholds) {
    const struct {
        uint16_t score;
        uint8_t level;
        zr_status status;
        uint32_t decision;
    } cases[] = {
        {95, 3, ZR_OK, 0},  {96, 3, ZR_OK, 1},   {496, 12, ZR_OK, 1},  {495, 12, ZR_OK, 0},
        {3, 1, ZR_OK, 1},   {2, 1, ZR_OK, 0},    {65535, 0, ZR_MOC_BAD_LEVEL, 7}, {65535, 13, ZR_MOC_BAD_LEVEL, 7},
    };
    for (const auto& c : cases) {
        uint32_t decision = 7;
        EXPECT_EQ(c.status, zr_moc_decision_from_score(c.score, c.level, &decision)) << c.score;
        EXPECT_EQ(c.decision, decision) << c.score << " " << int(c.level);
        decision = 7;
        EXPECT_EQ(c.status, linked_cluster_decision_from_score(c.score, c.level, &decision));
        EXPECT_EQ(c.decision, decision);
    }
    EXPECT_EQ(ZR_MOC_BAD_LEVEL, zr_moc_decision_from_score(100, 5, nullptr));
}

TEST(MocVerify, MinutiaFreeOrIsolatedSidesScoreZero) {
    const bytes empty = lc_test::element({0x7F, 0x2E}, lc_test::element({0x81}, {}));
    const bytes corners = make_card({{0, 0, 0}, {255, 0, 10}, {0, 255, 20}, {255, 255, 30}});  // no neighbours
    const bytes card = make_card(lc_test::spread_minutiae(35, 4));
    const struct {
        const char* name;
        const bytes& reference;
        const bytes& probe;
    } cases[] = {{"empty probe", card, empty}, {"empty reference", empty, card}, {"no neighbours", corners, corners}};
    for (const auto& c : cases) {
        Store store = enrolled(c.reference);
        const Verified v = verify(store, c.probe, LC_FLAG_FULL_ROTATION, 1);
        EXPECT_EQ(ZR_OK, v.status) << c.name;
        EXPECT_EQ(0, v.score) << c.name;
        EXPECT_EQ(0, v.decision) << c.name;
        EXPECT_EQ(0, v.alignment.x_shift) << c.name;
    }
}

// Cards of 30 to 40 well-spread minutiae and how each behaves.
TEST(MocVerify, SelfMatchShiftAndQuarterTurnInvariance) {
    for (uint32_t seed = 1; seed <= 6; ++seed) {
        const std::vector<CardMinutia> m = lc_test::spread_minutiae(30 + int(seed) * 2, seed);
        const bytes card = make_card(m);
        Store store = enrolled(card);
        const Verified self = verify(store, card);
        ASSERT_EQ(ZR_OK, self.status);
        EXPECT_GT(self.score, 496) << seed;
        EXPECT_EQ(1, self.decision);
        EXPECT_EQ(0, self.alignment.rotation);
        EXPECT_EQ(0, self.alignment.x_shift);
        EXPECT_EQ(0, self.alignment.y_shift);

        // Coordinates stay within 50..205, so these shifts keep every one in 0..255.
        const int shifts[][2] = {{1, 0}, {0, -1}, {20, -30}, {-45, 50}, {50, 50}};
        for (const auto& s : shifts) {
            const Verified moved = verify(store, make_card(lc_test::shifted(m, s[0], s[1])));
            EXPECT_EQ(self.score, moved.score) << seed << " " << s[0] << "," << s[1];
            EXPECT_EQ(0, moved.alignment.rotation);
            EXPECT_EQ(s[0], moved.alignment.x_shift);
            EXPECT_EQ(s[1], moved.alignment.y_shift);
        }

        const bytes turned = make_card(lc_test::quarter_turned(m));
        const Verified gated = verify(store, turned);
        EXPECT_LT(gated.score, 96) << seed;  // the true correspondences fail the +-32 gate
        const Verified full = verify(store, turned, LC_FLAG_FULL_ROTATION);
        EXPECT_GT(full.score, 496) << seed;
        EXPECT_EQ(self.score, full.score) << seed;  // the quarter turn is exact on the grid
        EXPECT_EQ(192, full.alignment.rotation) << seed;
    }
}

TEST(MocVerify, HeapComparisonAgreesWithEnrolThenVerify) {
    const bytes reference = make_card(lc_test::spread_minutiae(40, 21));
    const bytes probe = make_card(lc_test::shifted(lc_test::spread_minutiae(40, 21), 3, -2));
    Store store = enrolled(reference);
    const Verified v = verify(store, probe, 0, 7);
    uint16_t score = 0, score_only = 0;
    uint8_t decision = 9;
    zr_moc_alignment alignment{};
    ASSERT_EQ(ZR_OK, linked_cluster_match_iso_compact_card(reference.data(), uint32_t(reference.size()), probe.data(),
                                                           uint32_t(probe.size()), &score, 7, &decision, &alignment, 0));
    EXPECT_EQ(v.score, score);
    EXPECT_EQ(v.decision, decision);
    EXPECT_EQ(v.alignment.x_shift, alignment.x_shift);
    ASSERT_EQ(ZR_OK, linked_cluster_match_iso_compact_card_score(reference.data(), uint32_t(reference.size()),
                                                                 probe.data(), uint32_t(probe.size()), &score_only));
    EXPECT_EQ(v.score, score_only);
    // The first failure is returned: a reference without minutiae part.
    const bytes bad = lc_test::element({0x7F, 0x2E}, {});
    EXPECT_EQ(ZR_BAD_FORMAT, linked_cluster_match_iso_compact_card_score(bad.data(), uint32_t(bad.size()),
                                                                         probe.data(), uint32_t(probe.size()), &score));
    EXPECT_EQ(ZR_MOC_BAD_LEVEL, linked_cluster_match_iso_compact_card(reference.data(), uint32_t(reference.size()),
                                                                      probe.data(), uint32_t(probe.size()), &score, 0,
                                                                      &decision, nullptr, 0));
}

TEST(MocVerify, StatisticsRecordIsRecognisedByItsMarks) {
    std::vector<CardMinutia> m = lc_test::spread_minutiae(40, 31);
    const bytes reference = make_card(m);
    m.resize(35);
    const bytes probe = make_card(m);
    Store store = enrolled(reference);
    std::unique_ptr<uint8_t, decltype(&std::free)> work(static_cast<uint8_t*>(std::malloc(2056)), &std::free);

    auto run = [&](std::array<uint16_t, 11> record, uint8_t flags) {
        EXPECT_EQ(ZR_OK, zr_moc_verify(work.get(), 2056, store.data(), probe.data(), uint32_t(probe.size()),
                                       record.data(), 12, nullptr, nullptr, flags));
        return record;
    };
    std::array<uint16_t, 11> marked{};
    marked[LC_STAT_FIELD_COUNT] = LC_STATISTICS_MARK;

    const auto filled = run(marked, LC_FLAG_STATISTICS);
    EXPECT_GT(filled[LC_STAT_SCORE], 496);
    EXPECT_EQ(LC_STATISTICS_FILLED, filled[LC_STAT_STATE]);
    EXPECT_LE(filled[LC_STAT_PAIRS], 35);
    EXPECT_GE(filled[LC_STAT_PAIRS], 25);
    // sqrt(256 L), with at least one link for each pair grown beyond the first.
    EXPECT_GE(filled[LC_STAT_LINKS_ROOT], uint16_t(std::sqrt(256.0 * (filled[LC_STAT_PAIRS] - 1))));
    // sqrt(65536 |Np - Nr| / (Np + Nr + 1)), truncated.
    EXPECT_EQ(65u, filled[LC_STAT_COUNT_BY_COUNT]);

    // Without the flag, or without the marks, only the score is written.
    for (const auto& [flags, record] :
         {std::pair{uint8_t(0), marked}, std::pair{LC_FLAG_STATISTICS, std::array<uint16_t, 11>{0, 9, 0, 5, 5}},
          std::pair{LC_FLAG_STATISTICS, std::array<uint16_t, 11>{0, 10, 1, 5, 5}}}) {
        const auto after = run(record, flags);
        EXPECT_EQ(filled[LC_STAT_SCORE], after[LC_STAT_SCORE]);
        for (uint32_t f = 1; f < 11; ++f) EXPECT_EQ(record[f], after[f]) << f;
    }

    // A marked record with no pairs to score stays started.
    Store empty_store = enrolled(lc_test::element({0x7F, 0x2E}, lc_test::element({0x81}, {})));
    std::array<uint16_t, 11> record = marked;
    ASSERT_EQ(ZR_OK, zr_moc_verify(work.get(), 2056, empty_store.data(), probe.data(), uint32_t(probe.size()),
                                   record.data(), 12, nullptr, nullptr, LC_FLAG_STATISTICS));
    EXPECT_EQ(0, record[LC_STAT_SCORE]);
    EXPECT_EQ(LC_STATISTICS_STARTED, record[LC_STAT_STATE]);
}

TEST(MocVerify, ProprietaryDataOnOneSideOnlyCanOnlyRaiseTheScore) {
    std::mt19937 rng(5);
    for (uint32_t seed = 1; seed <= 6; ++seed) {
        const std::vector<CardMinutia> m = lc_test::spread_minutiae(36, seed + 40);
        std::vector<CardMinutia> noisy;
        for (const CardMinutia& c : m) {
            if (rng() % 4 == 0) continue;
            noisy.push_back({c.x + int(rng() % 5) - 2, c.y + int(rng() % 5) - 2, (c.angle + int(rng() % 3) - 1) & 63});
        }
        const bytes probe = make_card(noisy);
        Store plain = enrolled(make_card(m));
        Store marked = enrolled(make_card(m, lc_test::CardForm::body_2005, bytes(m.size(), 0x75)));
        const Verified without = verify(plain, probe, 0, 10);
        const Verified one_sided = verify(marked, probe, 0, 10);
        ASSERT_EQ(ZR_OK, one_sided.status);
        EXPECT_GE(one_sided.score, without.score) << seed;
        EXPECT_EQ(without.alignment.rotation, one_sided.alignment.rotation) << seed;
        EXPECT_EQ(without.alignment.x_shift, one_sided.alignment.x_shift) << seed;
    }
}

TEST(MocVerify, QualityNibblesGateClustersWhenBothSidesCarryThem) {
    const std::vector<CardMinutia> m = lc_test::spread_minutiae(36, 50);
    Store store = enrolled(make_card(m, lc_test::CardForm::body_2005, bytes(m.size(), 0x73)));
    // Ridge-period nibbles 3 and 4 agree within one; 3 and 5 do not.
    EXPECT_GT(verify(store, make_card(m, lc_test::CardForm::body_2005, bytes(m.size(), 0x64))).score, 496);
    EXPECT_EQ(0, verify(store, make_card(m, lc_test::CardForm::body_2005, bytes(m.size(), 0x65))).score);
}

}  // namespace
