#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "lc_test_cards.h"
#include "match/linked_cluster/zr_moc.h"

namespace {

using lc_test::bytes;
using lc_test::CardMinutia;
using lc_test::make_card;

// A writer that records every call into a full-size store and refuses the
// call numbered fail_at (counting from 0), if any.
struct WriteLog {
    struct Write {
        uint16_t offset;
        uint16_t length;
    };
    std::vector<Write> writes;
    int fail_at = -1;
    std::array<uint8_t, LC_STORE_MAX_SIZE> store{};
};
WriteLog g_log;

uint32_t recording_writer(uint8_t* store, uint16_t offset, const uint8_t* source, uint16_t length) {
    const int call = int(g_log.writes.size());
    g_log.writes.push_back({offset, length});
    if (call == g_log.fail_at) return 1;
    return write_persistent_mem(store, offset, source, length);
}

struct Enrolled {
    zr_status status = ZR_FAILURE;
    uint16_t used = 0;
};

Enrolled enroll(const bytes& card, uint16_t work_size = 2064, uint16_t store_size = LC_STORE_MAX_SIZE,
                int fail_at = -1) {
    g_log = WriteLog{};
    g_log.fail_at = fail_at;
    std::vector<uint8_t> work(work_size ? work_size : 1, 0xCC);
    std::vector<uint8_t> exact(card);
    Enrolled e;
    e.status = zr_moc_enroll(work.data(), work_size, exact.data(), uint32_t(exact.size()), g_log.store.data(),
                             store_size, &e.used, recording_writer);
    return e;
}

std::vector<CardMinutia> lattice(int columns, int rows, int step_x, int step_y) {
    std::vector<CardMinutia> out;
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c) out.push_back({30 + c * step_x, 30 + r * step_y, (r * 7 + c * 3) & 63});
    }
    return out;
}

TEST(MocEnroll, SizeChecksAndBatchWrites) {
    const bytes card = make_card(lc_test::spread_minutiae(64, 3, 20, 235, 12));
    const struct {
        uint16_t work, store;
        zr_status status;
        uint32_t batch;  // records a write, when enrolled
    } cases[] = {
        {2064, 2369, ZR_MOC_STORE_TOO_SMALL, 0}, {600, 2370, ZR_MOC_WORK_AREA_TOO_SMALL, 0},
        {1025, 2370, ZR_MOC_WORK_AREA_TOO_SMALL, 0}, {1026, 2370, ZR_OK, 23},
        {1100, 2370, ZR_OK, 25}, {2064, 2370, ZR_OK, 54},
        {2402, 2370, ZR_OK, 64}, {4000, 4000, ZR_OK, 64},
    };
    for (const auto& c : cases) {
        const Enrolled e = enroll(card, c.work, c.store);
        EXPECT_EQ(c.status, e.status) << c.work << " " << c.store;
        if (c.status == ZR_MOC_STORE_TOO_SMALL) {
            EXPECT_EQ(2370, e.used);
        }
        if (c.status != ZR_OK) {
            EXPECT_TRUE(g_log.writes.empty());
            continue;
        }
        EXPECT_EQ(2370, e.used);
        ASSERT_FALSE(g_log.writes.empty());
        EXPECT_EQ(0, g_log.writes[0].offset);
        EXPECT_EQ(258, g_log.writes[0].length);
        uint32_t next = 0;
        for (size_t w = 1; w < g_log.writes.size(); ++w) {
            const uint32_t records = std::min<uint32_t>(c.batch, 64 - next);
            EXPECT_EQ(258 + 33 * next, g_log.writes[w].offset) << c.work << " write " << w;
            EXPECT_EQ(33 * records, g_log.writes[w].length) << c.work << " write " << w;
            next += records;
        }
        EXPECT_EQ(64u, next) << c.work;
    }
}

TEST(MocEnroll, TenMinutiaeFillAStoreOf588Bytes) {
    const std::vector<CardMinutia> m = lc_test::spread_minutiae(10, 5);
    const Enrolled e = enroll(make_card(m, lc_test::CardForm::plain_2011, bytes(10, 0x93)));
    ASSERT_EQ(ZR_OK, e.status);
    EXPECT_EQ(588, e.used);
    EXPECT_EQ(10, g_log.store[0]);
    EXPECT_EQ(1, g_log.store[257]);
    for (size_t i = 0; i < m.size(); ++i) {
        EXPECT_EQ(m[i].x, g_log.store[1 + 4 * i]);
        EXPECT_EQ(m[i].y, g_log.store[2 + 4 * i]);
        EXPECT_EQ(m[i].angle * 4, g_log.store[3 + 4 * i]);
        EXPECT_EQ(0x93, g_log.store[4 + 4 * i]);
    }
    // Unused minutia slots are written as zeros.
    EXPECT_TRUE(std::all_of(&g_log.store[41], &g_log.store[257], [](uint8_t b) { return b == 0; }));
}

TEST(MocEnroll, AFailingWriteStopsEnrolmentThere) {
    const bytes card = make_card(lc_test::spread_minutiae(64, 3, 20, 235, 12));
    ASSERT_EQ(ZR_OK, enroll(card, 1100).status);
    const size_t writes = g_log.writes.size();
    ASSERT_EQ(4u, writes);  // header and 25 + 25 + 14 records
    for (size_t fail = 0; fail < writes; ++fail) {
        EXPECT_EQ(ZR_MOC_WRITE_FAILED, enroll(card, 1100, 2370, int(fail)).status) << fail;
        EXPECT_EQ(fail + 1, g_log.writes.size());
    }
}

TEST(MocEnroll, BadCardsAndMissingArgumentsWriteNothing) {
    EXPECT_EQ(ZR_BAD_FORMAT, enroll(lc_test::element({0x7F, 0x2E}, lc_test::element({0x92}, {1, 2, 3}))).status);
    EXPECT_TRUE(g_log.writes.empty());
    std::vector<uint8_t> work(2064);
    uint16_t used = 0;
    const bytes card = make_card({{10, 10, 0}});
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_moc_enroll(work.data(), 2064, card.data(), uint32_t(card.size()),
                                             g_log.store.data(), 2370, &used, nullptr));
}

// --- neighbour records against a brute-force reading of the rule ---

uint32_t nearest_root(uint32_t v) {
    uint32_t r = uint32_t(std::sqrt(double(v)));
    while (r * r > v) --r;
    while ((r + 1) * (r + 1) <= v) ++r;
    return v - r * r > r ? r + 1 : r;
}

struct Expected {
    std::vector<int> indices;  // ascending
    std::vector<double> position_angles;
    bool tie_broken = false;   // three or more tied at the last distance, some left out
};

// 24 nearest (rounded distance) among 31 <= d^2 < 12210: a full list takes a
// newcomer in place of its first farthest entry when not farther.
Expected brute_force_neighbours(const std::vector<CardMinutia>& m, size_t i) {
    struct Held {
        uint32_t distance;
        int index;
    };
    std::vector<Held> held;
    std::vector<uint32_t> all_distances;
    for (size_t j = 0; j < m.size(); ++j) {
        const int dx = m[i].x - m[j].x, dy = m[i].y - m[j].y;
        const uint32_t d2 = uint32_t(dx * dx + dy * dy);
        if (j == i || d2 < 31 || d2 >= 12210) continue;
        const uint32_t d = nearest_root(d2);
        all_distances.push_back(d);
        if (held.size() < 24) {
            held.push_back({d, int(j)});
            continue;
        }
        auto farthest = held.begin();
        for (auto it = held.begin(); it != held.end(); ++it) {
            if (it->distance > farthest->distance) farthest = it;
        }
        if (d <= farthest->distance) *farthest = {d, int(j)};
    }
    Expected e;
    if (!held.empty()) {
        uint32_t last = 0;
        for (const Held& h : held) last = std::max(last, h.distance);
        const auto tied_all = std::count(all_distances.begin(), all_distances.end(), last);
        const auto tied_held = std::count_if(held.begin(), held.end(), [&](const Held& h) { return h.distance == last; });
        e.tie_broken = tied_all >= 3 && tied_held < tied_all;
    }
    std::sort(held.begin(), held.end(), [](const Held& a, const Held& b) { return a.index < b.index; });
    for (const Held& h : held) {
        e.indices.push_back(h.index);
        const int dx = m[i].x - m[h.index].x, dy = m[i].y - m[h.index].y;
        double towards = std::atan2(double(dx), double(dy)) * 128.0 / M_PI;
        e.position_angles.push_back(m[i].angle * 4 - towards);
    }
    return e;
}

void expect_records_match_rule(const std::vector<CardMinutia>& m, int* ties_broken) {
    ASSERT_EQ(ZR_OK, enroll(make_card(m)).status);
    for (size_t i = 0; i < m.size(); ++i) {
        const uint8_t* record = &g_log.store[258 + 33 * i];
        const Expected e = brute_force_neighbours(m, i);
        *ties_broken += e.tie_broken ? 1 : 0;
        ASSERT_EQ(e.indices.size(), record[0]) << "minutia " << i;
        std::vector<int> indices;
        for (int j = 0; j < 64; ++j) {
            if ((record[25 + j / 8] >> (j % 8)) & 1) indices.push_back(j);
        }
        EXPECT_EQ(e.indices, indices) << "minutia " << i;
        for (size_t k = 0; k < e.indices.size(); ++k) {
            double d = std::fmod(std::fabs(record[1 + k] - e.position_angles[k]), 256.0);
            EXPECT_LE(std::min(d, 256.0 - d), 1.0) << "minutia " << i << " neighbour " << k;
        }
    }
}

TEST(MocEnroll, NeighbourRecordsAreTheTwentyFourNearestByRoundedDistance) {
    int ties_broken = 0;
    // Lattices put many neighbours at one rounded distance.
    expect_records_match_rule(lattice(8, 8, 7, 6), &ties_broken);
    expect_records_match_rule(lattice(8, 8, 5, 5), &ties_broken);
    expect_records_match_rule(lattice(8, 8, 9, 13), &ties_broken);
    expect_records_match_rule(lc_test::spread_minutiae(64, 11, 0, 255, 6), &ties_broken);
    expect_records_match_rule(lc_test::spread_minutiae(40, 12, 60, 120, 5), &ties_broken);
    EXPECT_GT(ties_broken, 10);  // the tie-breaking was exercised
}

TEST(MocEnroll, NeighbourDistanceBounds) {
    // Around a centre at (100, 100): d^2 = 29 (5, 2) and 12218 (97, 53) are
    // out; 32 (4, 4), 12100 (110, 0) and 12209 (100, 47) are in. (30, 31 and
    // 12210 are not sums of two squares.)
    const std::vector<CardMinutia> m = {{100, 100, 0}, {105, 102, 0}, {197, 153, 0},
                                        {104, 104, 0}, {210, 100, 0}, {200, 147, 0}};
    ASSERT_EQ(ZR_OK, enroll(make_card(m)).status);
    const uint8_t* centre = &g_log.store[258];
    EXPECT_EQ(3, centre[0]);
    EXPECT_EQ((1 << 3) | (1 << 4) | (1 << 5), centre[25]);
}

}  // namespace
