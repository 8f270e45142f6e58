// Random, truncated and bit-flipped cards and stores: every call returns a
// defined result. Inputs live in heap blocks of exactly their size, so the
// sanitizer build catches any read outside the card, the store or the work
// area.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "lc_test_cards.h"
#include "match/linked_cluster/zr_moc.h"

namespace {

using lc_test::bytes;

struct Block {
    // A copy of data, or zeros when data is none.
    Block(const uint8_t* data, size_t size) : p(static_cast<uint8_t*>(std::calloc(size ? size : 1, 1))), n(size) {
        if (data != nullptr && size != 0) std::memcpy(p, data, size);
    }
    ~Block() { std::free(p); }
    Block(const Block&) = delete;
    Block& operator=(const Block&) = delete;
    uint8_t* p;
    size_t n;
};

bool is_card_result(zr_status s) { return s == ZR_OK || s == ZR_BAD_FORMAT; }

// Enrols and verifies a card given as bytes; both results must be defined.
void run_card(const bytes& card, const uint8_t* good_store) {
    Block input(card.data(), card.size());
    Block work(nullptr, 1026);
    Block store(nullptr, LC_STORE_MAX_SIZE);
    uint16_t used = 0;
    const zr_status enrolled = zr_moc_enroll(work.p, 1026, input.p, uint32_t(input.n), store.p, LC_STORE_MAX_SIZE,
                                             &used, write_persistent_mem);
    ASSERT_TRUE(is_card_result(enrolled)) << enrolled;
    if (enrolled == ZR_OK) {
        ASSERT_LE(used, LC_STORE_MAX_SIZE);
        ASSERT_EQ(1, lc_store_is_consistent(store.p));
    }
    Block verify_work(nullptr, LC_WORK_AREA_SIZE);
    uint16_t score = 0;
    uint8_t decision = 0;
    zr_moc_alignment alignment{};
    const zr_status verified = zr_moc_verify(verify_work.p, LC_WORK_AREA_SIZE, good_store, input.p,
                                             uint32_t(input.n), &score, 12, &decision, &alignment, 1);
    ASSERT_TRUE(is_card_result(verified)) << verified;
}

TEST(MocDamagedInput, TruncatedFlippedAndRandomCards) {
    std::mt19937 rng(2024);
    const bytes reference = lc_test::make_card(lc_test::spread_minutiae(40, 8));
    Block store(nullptr, LC_STORE_MAX_SIZE);
    Block work(nullptr, 2064);
    uint16_t used = 0;
    ASSERT_EQ(ZR_OK, zr_moc_enroll(work.p, 2064, reference.data(), uint32_t(reference.size()), store.p,
                                   LC_STORE_MAX_SIZE, &used, write_persistent_mem));

    std::vector<bytes> seeds = {reference, lc_test::dummy_card(),
                                lc_test::make_card(lc_test::spread_minutiae(100, 9, 0, 255, 8),
                                                   lc_test::CardForm::plain_2011, bytes(100, 0x77))};
    for (const bytes& seed : seeds) {
        for (size_t cut = 0; cut <= seed.size(); ++cut) run_card(bytes(seed.begin(), seed.begin() + cut), store.p);
        for (int flip = 0; flip < 300; ++flip) {
            bytes c = seed;
            for (int k = 0; k < 1 + int(rng() % 3); ++k) c[rng() % c.size()] ^= uint8_t(1u << (rng() % 8));
            run_card(c, store.p);
        }
    }
    for (int r = 0; r < 300; ++r) {
        bytes c(rng() % 400);
        for (uint8_t& b : c) b = uint8_t(rng());
        if (c.size() > 4 && r % 2 == 0) c[0] = 0x7F, c[1] = 0x2E, c[2] = 0x82, c[3] = 0x01;
        run_card(c, store.p);
    }
}

TEST(MocDamagedInput, FlippedAndRandomStoresAreRefusedOrMatched) {
    std::mt19937 rng(77);
    const bytes card = lc_test::make_card(lc_test::spread_minutiae(64, 10, 10, 245, 10));
    Block good(nullptr, LC_STORE_MAX_SIZE);
    Block work(nullptr, 2064);
    uint16_t used = 0;
    ASSERT_EQ(ZR_OK, zr_moc_enroll(work.p, 2064, card.data(), uint32_t(card.size()), good.p, LC_STORE_MAX_SIZE,
                                   &used, write_persistent_mem));
    Block probe(card.data(), card.size());
    uint32_t refused = 0;
    for (int trial = 0; trial < 600; ++trial) {
        Block store(good.p, LC_STORE_MAX_SIZE);
        if (trial % 3 == 2) {
            for (size_t i = 0; i < store.n; ++i) store.p[i] = uint8_t(rng());
            store.p[0] = uint8_t(rng() % 70);
        } else {
            for (int k = 0; k < 1 + trial % 4; ++k) store.p[rng() % store.n] ^= uint8_t(1u << (rng() % 8));
        }
        // With the statistics flag the score output is the whole record.
        uint16_t record[LC_STATISTICS_FIELDS] = {0, LC_STATISTICS_MARK, LC_STATISTICS_IDLE};
        const zr_status s = zr_moc_verify(work.p, 2064, store.p, probe.p, uint32_t(probe.n), record, 0, nullptr,
                                          nullptr, uint8_t(trial & 3));
        ASSERT_TRUE(s == ZR_OK || s == ZR_MOC_BAD_STORE) << s;
        refused += s == ZR_MOC_BAD_STORE;
    }
    EXPECT_GT(refused, 200u);
}

}  // namespace
