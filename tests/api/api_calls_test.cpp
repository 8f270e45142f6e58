// The exported calls without real captures: fixed answers, argument checks,
// quality of frames that hold no finger, and the kept-template rules that do
// not need a finished enrolment.
#include <gtest/gtest.h>

#include <cstring>

#include "api_test_support.h"

namespace {

using api_test::bytes;

TEST(ApiCalls, FixedAnswers) {
    const char* version = RADU_alg_get_version();
    ASSERT_NE(nullptr, version);
    EXPECT_STREQ("ZR", version);
    EXPECT_EQ(version, RADU_alg_get_version());

    const uint8_t some[4] = {1, 2, 3, 4};
    EXPECT_EQ(0, RADU_alg_load_template(3, some, sizeof some));
    for (int32_t (*call)(uint32_t) : {RADU_alg_cancel_enroll, RADU_alg_is_enrolled, RADU_alg_remove_fingerprint,
                                      RADU_alg_get_enrolled_count}) {
        EXPECT_EQ(0, call(0));
        EXPECT_EQ(0, call(0xFFFFFFFFu));
    }
    EXPECT_EQ(0, RADU_alg_exit());
    EXPECT_EQ(0, RADU_alg_init());
}

// Save with no template kept writes nothing: neither the buffer nor the type.
void expect_nothing_saved() {
    bytes out(RADU_TEMPLATE_BUFFER_SIZE, 0xA5);
    uint8_t type = 0xA5;
    EXPECT_EQ(0, RADU_alg_save_template(0, out.data(), &type));
    EXPECT_EQ(0xA5, type);
    EXPECT_EQ(bytes(RADU_TEMPLATE_BUFFER_SIZE, 0xA5), out);
}

TEST(ApiCalls, SaveWithoutAFinishedEnrolmentWritesNothing) {
    ASSERT_EQ(0, RADU_alg_init());
    expect_nothing_saved();
    // A failed enrolment leaves none either.
    EXPECT_EQ(RADU_ENROLL_FAILED, RADU_alg_request_enroll(0, nullptr));
    expect_nothing_saved();
}

TEST(ApiCalls, VerifyRefusesMissingArgumentsAndForeignBytes) {
    const bytes blank = api_test::blank_sample();
    const bytes magic_only = {'Z', 'R', 'M', 'T', 0, 3, 0xFF, 0};
    const bytes not_a_record = api_test::noise_sample(7);
    const bytes before = not_a_record;
    struct Case {
        const char* name;
        const uint8_t* sample;
        const uint8_t* blob;
        uint32_t size;
        int32_t expected;  // 0: any negative code
    };
    const Case cases[] = {
        {"no sample", nullptr, magic_only.data(), uint32_t(magic_only.size()), -2},
        {"no template", blank.data(), nullptr, 100, -2},
        {"size 0", blank.data(), magic_only.data(), 0, -2},
        {"noise as template", blank.data(), not_a_record.data(), 4096, 0},
        {"record without instances", blank.data(), magic_only.data(), uint32_t(magic_only.size()), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int32_t r = RADU_alg_request_verify(c.sample, c.blob, c.size);
        if (c.expected != 0)
            EXPECT_EQ(c.expected, r);
        else
            EXPECT_LT(r, 0);
    }
    EXPECT_EQ(before, not_a_record);
}

TEST(ApiCalls, QualityOfFramesWithoutAFinger) {
    EXPECT_EQ(0, RADU_image_quality(nullptr));
    const struct {
        const char* name;
        bytes sample;
    } frames[] = {
        {"blank", api_test::blank_sample()},
        {"black", bytes(api_test::kSampleBytes, 0)},
        {"noise", api_test::noise_sample(12345)},
        {"noise 2", api_test::noise_sample(99)},
    };
    for (const auto& f : frames) {
        SCOPED_TRACE(f.name);
        const bytes before = f.sample;
        const int32_t q = RADU_image_quality(f.sample.data());
        EXPECT_GE(q, 0);
        EXPECT_LT(q, 20);
        EXPECT_EQ(before, f.sample);  // read in place, never written
    }
}

TEST(ApiCalls, EnrolmentOfFramesWithoutAFinger) {
    // A missing sample abandons the enrolment (-1) wherever it comes, and the
    // next call starts over. A blank frame is a counted call like any other
    // (the quality gate of the caller keeps such frames away).
    const bytes blank = api_test::blank_sample();
    ASSERT_EQ(0, RADU_alg_init());
    EXPECT_EQ(RADU_ENROLL_FAILED, RADU_alg_request_enroll(0, nullptr));
    EXPECT_EQ(1, RADU_alg_request_enroll(0, blank.data()));
    EXPECT_EQ(2, RADU_alg_request_enroll(0, blank.data()));
    EXPECT_EQ(RADU_ENROLL_FAILED, RADU_alg_request_enroll(0, nullptr));
    expect_nothing_saved();
    EXPECT_EQ(1, RADU_alg_request_enroll(0, blank.data()));
    EXPECT_EQ(0, RADU_alg_init());
}

}  // namespace
