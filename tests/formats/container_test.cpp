#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "formats/bal_template_container.h"

namespace {

struct Point {
    int16_t row;
    int16_t col;
    uint8_t angle;
    uint8_t quality;
};

minutiastruct make_list(const std::vector<Point>& points) {
    minutiastruct s{};
    for (size_t i = 0; i < points.size(); ++i) {
        minutia& m = s.minutiae[i];
        m.row = points[i].row;
        m.col = points[i].col;
        m.angle = points[i].angle;
        m.quality = points[i].quality;
        m.type = ZR_MINUTIA_ENDING;
        m.ridge_period = static_cast<uint8_t>(i);  // identity of the entry
    }
    s.count = static_cast<uint8_t>(points.size());
    return s;
}

std::vector<uint8_t> identities(const minutiastruct& s) {
    std::vector<uint8_t> ids;
    for (uint32_t i = 0; i < s.count; ++i) ids.push_back(s.minutiae[i].ridge_period);
    return ids;
}

// A brute-force reference: std::stable_sort with the key of each code.
std::vector<uint8_t> reference_order(const minutiastruct& s, uint8_t order, int32_t centre_row,
                                     int32_t centre_col) {
    std::vector<minutia> list(s.minutiae, s.minutiae + s.count);
    auto key = [&](const minutia& m) -> std::pair<int64_t, int64_t> {
        switch (order & 0x0F) {
            case 1: return {m.col, m.row};
            case 2: return {m.row, m.col};
            case 3: return {m.angle, 0};
            case 4: {
                const int64_t dr = m.row - centre_row, dc = m.col - centre_col;
                return {dr * dr + dc * dc, 0};
            }
            default: return {m.quality, 0};
        }
    };
    const bool descending = order & 0x10;
    std::stable_sort(list.begin(), list.end(), [&](const minutia& a, const minutia& b) {
        return descending ? key(b) < key(a) : key(a) < key(b);
    });
    std::vector<uint8_t> ids;
    for (const minutia& m : list) ids.push_back(m.ridge_period);
    return ids;
}

// Many equal keys in every field, so that stability shows.
std::vector<Point> crowded_points() {
    std::vector<Point> points;
    uint32_t state = 12345;
    for (int i = 0; i < 60; ++i) {
        state = state * 1103515245u + 12345u;
        points.push_back({static_cast<int16_t>((state >> 8) % 5 - 1),
                          static_cast<int16_t>((state >> 12) % 4 + 2),
                          static_cast<uint8_t>(((state >> 16) % 3) * 100),
                          static_cast<uint8_t>((state >> 20) % 3 + 40)});
    }
    return points;
}

TEST(SortMinutiae, EveryCodeMatchesAStableReferenceSort) {
    const minutiastruct original = make_list(crowded_points());
    for (uint8_t order : {0x01, 0x02, 0x03, 0x04, 0x05, 0x11, 0x12, 0x13, 0x14, 0x15}) {
        minutiastruct s = original;
        bal_sort_minutiae(&s, order, 2, 3);
        EXPECT_EQ(reference_order(original, order, 2, 3), identities(s)) << "order " << int(order);
    }
}

TEST(SortMinutiae, OtherCodesAndShortListsLeaveTheListUnchanged) {
    const minutiastruct original = make_list(crowded_points());
    for (uint32_t order : {0x00u, 0x06u, 0x0Fu, 0x10u, 0x16u, 0x21u, 0x25u, 0x81u, 0xFFu}) {
        minutiastruct s = original;
        bal_sort_minutiae(&s, static_cast<uint8_t>(order), 0, 0);
        EXPECT_EQ(0, std::memcmp(&s, &original, sizeof s)) << "order " << order;
    }
    for (uint32_t n : {0u, 1u}) {
        minutiastruct s = make_list({{9, 9, 9, 9}, {1, 1, 1, 1}});
        s.count = static_cast<uint8_t>(n);
        const minutiastruct before = s;
        bal_sort_minutiae(&s, 0x02, 0, 0);
        EXPECT_EQ(0, std::memcmp(&s, &before, sizeof s));
    }
}

TEST(SortMinutiae, DistanceOrderPutsTheMinutiaAtTheCentreFirstOrLast) {
    const minutiastruct original =
        make_list({{40, 10, 0, 0}, {-3, 7, 0, 0}, {100, 80, 0, 0}, {55, 60, 0, 0}});
    minutiastruct s = original;
    bal_sort_minutiae(&s, 0x04, 55, 60);
    EXPECT_EQ(3, s.minutiae[0].ridge_period);
    s = original;
    bal_sort_minutiae(&s, 0x14, 55, 60);
    EXPECT_EQ(3, s.minutiae[3].ridge_period);
    // Negative rows compare as signed values: (-3, 7) is nearest (0, 0).
    s = original;
    bal_sort_minutiae(&s, 0x04, 0, 0);
    EXPECT_EQ(1, s.minutiae[0].ridge_period);
}

TEST(TemplateContainer, AllocatesZeroFilledAndReleasesWhatItOwns) {
    zr_template_container* c = zr_template_container_alloc();
    ASSERT_NE(nullptr, c);
    const auto* bytes = reinterpret_cast<const uint8_t*>(c);
    EXPECT_TRUE(std::all_of(bytes, bytes + sizeof *c, [](uint8_t b) { return b == 0; }));
    // Every owned array set; a feature block left to its owner.
    c->zonal_quality.cells = static_cast<uint8_t*>(std::malloc(4));
    c->orientation.values = static_cast<uint8_t*>(std::malloc(4));
    c->orientation.fine = static_cast<uint8_t*>(std::malloc(36));
    c->frequency.values = static_cast<uint8_t*>(std::malloc(4));
    c->frequency.fine = static_cast<uint8_t*>(std::malloc(36));
    c->binarized = static_cast<uint8_t*>(std::malloc(16));
    std::vector<uint8_t> block(12);
    c->feature_blocks[3] = {12, 0, block.data()};
    zr_template_container_free(c);  // the sanitizer build reports any leak or bad free
    zr_template_container_free(nullptr);
    zr_template_container* empty = zr_template_container_alloc();
    ASSERT_NE(nullptr, empty);
    zr_template_container_free(empty);
}

}  // namespace
