// Threads calling the exported interface at once: the verifications share
// only the locked memo of the last sample's probe and the enrolment state is
// locked, so every thread gets the answers it gets alone.
#include <gtest/gtest.h>

#include <atomic>
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

// Two threads identify two samples against the same records at once, so the
// memo of the last probe passes from one sample to the other between nearly
// every two calls; a third thread drops it now and then, as an operation's
// init and exit do.
TEST(ApiThreads, TwoSamplesIdentifiedInterleaved) {
    FP_REQUIRE_CAPTURES();
    const std::vector<api_test::Finger> fingers = api_test::load_fingers();
    ASSERT_GE(fingers.size(), 3u);
    std::vector<bytes> records;
    for (size_t i = 0; i < 3; ++i) records.push_back(api_test::enrol(fingers[i].enrol).blob);
    const bytes* samples[2] = {&fingers[0].probes[0], &fingers[1].probes[0]};
    std::vector<int32_t> expected[2];
    for (int t = 0; t < 2; ++t) {
        ASSERT_EQ(0, RADU_alg_exit());
        for (const bytes& r : records) expected[t].push_back(api_test::verify(*samples[t], r));
    }
    ASSERT_EQ(RADU_VERIFY_MATCH, expected[0][0]);
    ASSERT_EQ(RADU_VERIFY_MATCH, expected[1][1]);

    constexpr int kRounds = 3;
    std::vector<int32_t> seen[2];
    std::atomic<bool> done{false};
    {
        std::vector<std::thread> threads;
        for (int t = 0; t < 2; ++t)
            threads.emplace_back([&, t] {
                for (int round = 0; round < kRounds; ++round)
                    for (const bytes& r : records) seen[t].push_back(api_test::verify(*samples[t], r));
            });
        std::thread dropper([&] {
            while (!done.load()) {
                RADU_alg_exit();
                std::this_thread::yield();
            }
        });
        for (std::thread& t : threads) t.join();
        done = true;
        dropper.join();
    }
    for (int t = 0; t < 2; ++t) {
        std::vector<int32_t> want;
        for (int round = 0; round < kRounds; ++round) want.insert(want.end(), expected[t].begin(), expected[t].end());
        EXPECT_EQ(want, seen[t]) << "sample " << t;
    }
}

}  // namespace
