// The linked-cluster comparison on cards from the real captures: genuine
// pairs (a probe against each enrolment capture of its finger) and impostor
// pairs (a probe against the enrolment captures of the other fingers of its
// database), best score over the six enrolment captures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "fp_test_data.h"
#include "lc_capture_cards.h"
#include "match/linked_cluster/lc_compact_card_match.h"

namespace {

struct Finger {
    std::vector<lc_test::bytes> enrolment;
    std::vector<lc_test::bytes> probes;
};

uint16_t best_score(const lc_test::bytes& probe, const Finger& reference) {
    uint16_t best = 0;
    for (const lc_test::bytes& card : reference.enrolment) {
        uint16_t score = 0;
        EXPECT_EQ(ZR_OK, linked_cluster_match_iso_compact_card_score(card.data(), uint32_t(card.size()), probe.data(),
                                                                     uint32_t(probe.size()), &score));
        best = std::max(best, score);
    }
    return best;
}

uint16_t quantile(std::vector<uint16_t> v, double q) {
    std::sort(v.begin(), v.end());
    return v[size_t(q * double(v.size() - 1))];
}

void print_distribution(const char* name, const std::vector<uint16_t>& v) {
    std::printf("%-9s n %3zu  min %5u  q25 %5u  median %5u  q75 %5u  max %5u\n", name, v.size(), quantile(v, 0),
                quantile(v, 0.25), quantile(v, 0.5), quantile(v, 0.75), quantile(v, 1));
}

TEST(LinkedClusterCaptures, GenuineAndImpostorScoreDistributions) {
    FP_REQUIRE_CAPTURES();
    std::map<std::string, std::map<std::string, Finger>> fingers;  // database -> finger
    for (const auto& path : fp_test::capture_paths()) {
        const std::string file = path.filename().string();
        const std::string finger = path.parent_path().filename().string();
        const std::string db = path.parent_path().parent_path().filename().string();
        const lc_test::bytes card = lc_test::capture_card(fp_test::read_pgm(path));
        ASSERT_FALSE(card.empty()) << path;
        (file[0] == 'e' ? fingers[db][finger].enrolment : fingers[db][finger].probes).push_back(card);
    }
    std::vector<uint16_t> genuine, impostor;
    for (const auto& [db, by_finger] : fingers) {
        for (const auto& [name, finger] : by_finger) {
            for (const lc_test::bytes& probe : finger.probes) {
                genuine.push_back(best_score(probe, finger));
                for (const auto& [other_name, other] : by_finger) {
                    if (other_name != name) impostor.push_back(best_score(probe, other));
                }
            }
        }
    }
    ASSERT_FALSE(genuine.empty());
    print_distribution("genuine", genuine);
    print_distribution("impostor", impostor);
    const uint16_t highest_impostor = *std::max_element(impostor.begin(), impostor.end());
    const auto rejected = std::count_if(genuine.begin(), genuine.end(), [&](uint16_t s) { return s <= highest_impostor; });
    std::printf("false rejects with no impostor accepted (threshold %u): %ld of %zu\n", highest_impostor + 1,
                long(rejected), genuine.size());
    for (uint8_t level : {3, 8, 12}) {
        uint32_t d = 0;
        const uint16_t threshold = zr_moc_threshold(level);
        const auto fr = std::count_if(genuine.begin(), genuine.end(), [&](uint16_t s) { return s < threshold; });
        const auto fa = std::count_if(impostor.begin(), impostor.end(), [&](uint16_t s) { return s >= threshold; });
        ASSERT_EQ(ZR_OK, zr_moc_decision_from_score(threshold, level, &d));
        std::printf("level %2u (threshold %3u): false rejects %ld of %zu, false accepts %ld of %zu\n", level,
                    threshold, long(fr), genuine.size(), long(fa), impostor.size());
    }
    // The matcher separates the two populations.
    EXPECT_GT(quantile(genuine, 0.5), quantile(impostor, 0.9));
}

}  // namespace
