// Two threads verifying while a third enrols: the verifications keep all
// their objects to themselves and the enrolment state is locked, so every
// thread gets the answers it gets alone.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "api_test_support.h"

namespace {

using api_test::bytes;

TEST(ApiThreads, TwoVerifyingWhileOneEnrols) {
    FP_REQUIRE_CAPTURES();
    const std::vector<api_test::Finger> fingers = api_test::load_fingers();
    ASSERT_GE(fingers.size(), 2u);
    const api_test::Finger& enrolling = fingers[0];
    const api_test::Finger& verified = fingers[1];

    // Alone first: the stored record of each finger and the answers.
    const api_test::Enrolment alone = api_test::enrol(enrolling.enrol);
    ASSERT_EQ(RADU_ENROLL_COMPLETE, alone.codes.back());
    const api_test::Enrolment stored = api_test::enrol(verified.enrol);
    ASSERT_FALSE(stored.blob.empty());
    // Probes: two captures of the verified finger, one of the other.
    const std::vector<const bytes*> probes = {&verified.enrol[0], &verified.enrol[3], &enrolling.enrol[0]};
    std::vector<int32_t> expected;
    for (const bytes* p : probes) expected.push_back(api_test::verify(*p, stored.blob));
    ASSERT_EQ(RADU_VERIFY_MATCH, expected[0]);

    constexpr int kRounds = 2;
    std::vector<int32_t> seen[2];
    api_test::Enrolment together;
    {
        std::vector<std::thread> threads;
        for (int t = 0; t < 2; ++t)
            threads.emplace_back([&, t] {
                for (int round = 0; round < kRounds; ++round)
                    for (const bytes* p : probes) seen[t].push_back(api_test::verify(*p, stored.blob));
            });
        threads.emplace_back([&] { together = api_test::enrol(enrolling.enrol); });
        for (std::thread& t : threads) t.join();
    }
    for (int t = 0; t < 2; ++t) {
        std::vector<int32_t> want;
        for (int round = 0; round < kRounds; ++round) want.insert(want.end(), expected.begin(), expected.end());
        EXPECT_EQ(want, seen[t]) << "thread " << t;
    }
    EXPECT_EQ(alone.codes, together.codes);
    EXPECT_EQ(alone.blob, together.blob);
}

}  // namespace
