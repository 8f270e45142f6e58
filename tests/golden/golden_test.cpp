// The main road's results on the real captures must stay those of the
// checked-in record: every extraction intermediate, template, enrolment and
// verification hash.
#include <gtest/gtest.h>

#include <fstream>
#include <set>

#include "golden_road.h"

namespace {

fp_golden::Record checked_in() {
    std::ifstream in(FP_GOLDEN_RECORD);
    return fp_golden::read(in);
}

TEST(GoldenRoad, EveryHashMatchesTheRecord) {
    FP_REQUIRE_CAPTURES();
    const fp_golden::Record expected = checked_in();
    ASSERT_FALSE(expected.empty()) << "no record at " << FP_GOLDEN_RECORD;
    const fp_golden::Record actual = fp_golden::compute();

    std::map<std::string, uint64_t> now(actual.begin(), actual.end());
    ASSERT_EQ(now.size(), actual.size()) << "a key appears twice";
    int mismatches = 0;
    for (const auto& [key, value] : expected) {
        const auto it = now.find(key);
        if (it == now.end()) {
            ADD_FAILURE() << "missing: " << key;
            ++mismatches;
        } else if (it->second != value) {
            ADD_FAILURE() << "changed: " << key << " " << fp_golden::hex(value) << " -> "
                          << fp_golden::hex(it->second);
            ++mismatches;
        }
        if (mismatches > 40) break;
    }
    std::set<std::string> known;
    for (const auto& entry : expected) known.insert(entry.first);
    for (const auto& entry : actual) EXPECT_TRUE(known.count(entry.first)) << "new: " << entry.first;
    EXPECT_EQ(expected.size(), actual.size());
}

// The record covers what it claims: every stage of every capture, both
// probes of every finger as genuine attempts, and the impostor attempts.
TEST(GoldenRoad, RecordCoversEveryCaptureStageAndComparison) {
    const fp_golden::Record expected = checked_in();
    ASSERT_FALSE(expected.empty()) << "no record at " << FP_GOLDEN_RECORD;
    std::map<std::string, int> suffixes;
    for (const auto& [key, value] : expected) {
        const size_t space = key.find(' ');
        ASSERT_NE(std::string::npos, space) << key;
        std::string suffix = key.substr(space + 1);
        if (suffix.rfind("impostor ", 0) == 0) suffix = "impostor";
        ++suffixes[suffix];
    }
    constexpr int kFingers = 20, kCaptures = 8 * kFingers, kProbes = 2 * kFingers;
    const struct {
        const char* stage;
        int count;
    } cases[] = {
        {"normalised", kCaptures},     {"orientation", kCaptures},   {"coherence", kCaptures},
        {"block_mask", kCaptures},     {"wavelength", kCaptures},    {"fine_frequency", kCaptures},
        {"enhanced", kCaptures},       {"ridge_binary", kCaptures},  {"ridge_thinned", kCaptures},
        {"valley_thinned", kCaptures}, {"minutiae", kCaptures},      {"template", kCaptures},
        {"quality", kCaptures},        {"enrol_template", kFingers}, {"genuine", kProbes},
        {"impostor", kProbes * int(fp_golden::kImpostorsPerProbe)},
    };
    for (const auto& c : cases) EXPECT_EQ(c.count, suffixes[c.stage]) << c.stage;
}

}  // namespace
