#include "math/zr_sort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

// Records of N bytes ordered by their bytes as an unsigned big-endian key.
template <size_t N>
struct Record {
    std::array<uint8_t, N> bytes;
    bool operator<(const Record& o) const { return bytes < o.bytes; }
    bool operator==(const Record& o) const = default;
};

template <size_t N>
int32_t compare_records(const void* a, const void* b) {
    return std::memcmp(a, b, N);
}

template <size_t N>
void check_against_std_sort(size_t count, uint32_t seed, size_t offset) {
    std::mt19937 rng(seed);
    // Few distinct bytes so that equal elements occur.
    std::vector<uint8_t> storage(count * N + offset);
    for (auto& b : storage) b = static_cast<uint8_t>(rng() % 5);
    uint8_t* base = storage.data() + offset;

    std::vector<Record<N>> expected(count);
    for (size_t i = 0; i < count; ++i) std::memcpy(expected[i].bytes.data(), base + i * N, N);
    std::sort(expected.begin(), expected.end());

    zr_sort(base, count, N, compare_records<N>);
    for (size_t i = 0; i < count; ++i) {
        Record<N> got;
        std::memcpy(got.bytes.data(), base + i * N, N);
        // The same multiset in ascending order: equal to the sorted copy element by element.
        ASSERT_EQ(got, expected[i]) << "size " << N << " count " << count << " at " << i;
    }
}

int calls = 0;
int32_t counting_compare(const void*, const void*) {
    ++calls;
    return 1;
}

}  // namespace

TEST(Sort, MatchesStdSortForSeveralElementSizes) {
    for (size_t count : {0, 1, 2, 3, 7, 8, 50, 113, 1000, 5000}) {
        for (size_t offset : {0, 1}) {  // offset 1 makes the base unaligned
            check_against_std_sort<1>(count, 1 + count, offset);
            check_against_std_sort<3>(count, 2 + count, offset);
            check_against_std_sort<4>(count, 3 + count, offset);
            check_against_std_sort<5>(count, 4 + count, offset);
            check_against_std_sort<8>(count, 5 + count, offset);
        }
    }
}

TEST(Sort, ScoresAscendingAndDescending) {
    std::mt19937 rng(5);
    std::vector<int32_t> scores(3000);
    for (auto& s : scores) s = static_cast<int32_t>(rng());
    scores[10] = INT32_MIN;
    scores[11] = INT32_MAX;
    std::vector<int32_t> expected = scores;
    std::sort(expected.begin(), expected.end());

    zr_sort(scores.data(), scores.size(), sizeof(int32_t), sort_score_ascending);
    EXPECT_EQ(scores, expected);
    zr_sort(scores.data(), scores.size(), sizeof(int32_t), sort_score_descending);
    std::reverse(expected.begin(), expected.end());
    EXPECT_EQ(scores, expected);

    const int32_t a = -5, b = 7;
    EXPECT_EQ(sort_score_ascending(&a, &b), -1);
    EXPECT_EQ(sort_score_ascending(&b, &a), 1);
    EXPECT_EQ(sort_score_ascending(&a, &a), 0);
    EXPECT_EQ(sort_score_descending(&a, &b), 1);
    EXPECT_EQ(sort_score_descending(&b, &a), -1);
    EXPECT_EQ(sort_score_descending(&b, &b), 0);
}

TEST(Sort, EqualElementsMoveWithTheGapPasses) {
    // Eight records, seven with key 1 and the last with key 0. The gap-7 pass
    // exchanges the first and the last record; the later passes find nothing
    // out of order, so the first key-1 record ends last (a stable sort would
    // keep a before b).
    struct Tagged {
        int32_t key;
        char tag;
    };
    Tagged v[8] = {{1, 'a'}, {1, 'b'}, {1, 'c'}, {1, 'd'}, {1, 'e'}, {1, 'f'}, {1, 'g'}, {0, 'h'}};
    zr_sort(v, 8, sizeof(Tagged), sort_score_ascending);
    std::string order;
    for (const Tagged& t : v) order += t.tag;
    EXPECT_EQ(order, "hbcdefga");

    // With four records the gap-3 pass does the same.
    Tagged w[4] = {{1, 'a'}, {1, 'b'}, {1, 'c'}, {0, 'd'}};
    zr_sort(w, 4, sizeof(Tagged), sort_score_ascending);
    order.clear();
    for (const Tagged& t : w) order += t.tag;
    EXPECT_EQ(order, "dbca");
}

TEST(Sort, ArraysOfZeroOrOneElementAreNeverCompared) {
    int32_t one = 42;
    calls = 0;
    zr_sort(&one, 1, sizeof one, counting_compare);
    zr_sort(nullptr, 0, sizeof one, counting_compare);
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(one, 42);
}

TEST(ArrayHelpers, SelectionSortSquaredDistanceAndSum) {
    std::vector<int32_t> v{3, 1, 2, 1};
    sort_array(v.data(), 4);
    EXPECT_EQ(v, (std::vector<int32_t>{1, 1, 2, 3}));

    std::mt19937 rng(9);
    std::vector<int32_t> r(500);
    for (auto& x : r) x = static_cast<int32_t>(rng());
    std::vector<int32_t> expected = r;
    std::sort(expected.begin(), expected.end());
    sort_array(r.data(), static_cast<int32_t>(r.size()));
    EXPECT_EQ(r, expected);

    std::vector<int32_t> untouched{2, 1};
    sort_array(untouched.data(), 1);
    sort_array(untouched.data(), -3);
    EXPECT_EQ(untouched, (std::vector<int32_t>{2, 1}));

    EXPECT_EQ(squared_dist(1, 2, 4, 6), 25);
    EXPECT_EQ(squared_dist(-3, 0, 0, -4), 25);
    EXPECT_EQ(squared_dist(0, 0, 46341, 0), static_cast<int32_t>(46341u * 46341u)) << "wraps in 32 bits";

    const int32_t values[] = {INT32_MAX, 1, 5, -7, 100};
    EXPECT_EQ(sum_array(values, 5), static_cast<int32_t>(0x80000000u + 98u));
    EXPECT_EQ(sum_array(values + 2, 3), 98);
    EXPECT_EQ(sum_array(values, 0), 0);
    EXPECT_EQ(sum_array(values, -1), 0);
}
