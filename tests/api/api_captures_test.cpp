// Acceptance of the exported interface on real captures: every finger
// enrols from its six captures into a valid stored record, its captures
// verify against it, damaged records never match, the kept template never
// outlives its enrolment, verification decides at FAR level 12, and the
// genuine and impostor scores are printed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "api_test_support.h"
#include "exported_verify_score.h"
#include "match/verifiers/zr_far_table.h"

namespace {

using api_test::bytes;
using api_test::Enrolment;
using api_test::Finger;

constexpr uint8_t kStoredType = 80;  // the multi-template
constexpr uint8_t kEhmType = 67;
constexpr uint8_t kSettingsTag = 1;
constexpr uint16_t kSettingsLength = 21;

struct EnrolledSet {
    std::vector<Finger> fingers;
    std::vector<Enrolment> enrolments;  // one per finger
};

// Every finger enrolled once, shared by the tests of this file.
const EnrolledSet& enrolled() {
    static const EnrolledSet set = [] {
        EnrolledSet s;
        s.fingers = api_test::load_fingers();
        for (const Finger& f : s.fingers) s.enrolments.push_back(api_test::enrol(f.enrol));
        return s;
    }();
    return set;
}

#define REQUIRE_ENROLLED()                                \
    FP_REQUIRE_CAPTURES();                                \
    const EnrolledSet& set = enrolled();                  \
    ASSERT_FALSE(set.fingers.empty()) << "no finger found"

std::string name_of(const Finger& f) { return f.db + "/" + f.name; }

TEST(ApiCaptures, EveryFingerEnrolsIntoAStoredRecord) {
    REQUIRE_ENROLLED();
    const std::vector<int32_t> steps = {1, 2, 3, 4, 5, 6};
    for (size_t i = 0; i < set.fingers.size(); ++i) {
        SCOPED_TRACE(name_of(set.fingers[i]));
        const Enrolment& e = set.enrolments[i];
        EXPECT_EQ(steps, e.codes);
        EXPECT_EQ(kStoredType, e.type);
        ASSERT_GT(e.saved, 0);
        EXPECT_LE(e.saved, RADU_TEMPLATE_BUFFER_SIZE);
        const api_test::Record r = api_test::read_record(e.blob);
        ASSERT_TRUE(r.valid);
        EXPECT_EQ(3, r.version);
        EXPECT_GE(r.instances.size(), 1u);
        EXPECT_LE(r.instances.size(), 6u);
        for (const api_test::RecordInstance& in : r.instances) EXPECT_EQ(kEhmType, in.type);
        const api_test::RecordItem* settings = r.global(kSettingsTag);
        ASSERT_NE(nullptr, settings);
        EXPECT_EQ(kSettingsLength, settings->length);
        // The whole template was handed out: nothing is kept any more.
        bytes out(RADU_TEMPLATE_BUFFER_SIZE);
        uint8_t type = 0;
        EXPECT_EQ(0, RADU_alg_save_template(0, out.data(), &type));
    }
}

TEST(ApiCaptures, SameCapturesGiveTheSameBytes) {
    REQUIRE_ENROLLED();
    // Two fingers again, one of each database where there are two.
    for (size_t i : {size_t(0), set.fingers.size() - 1}) {
        SCOPED_TRACE(name_of(set.fingers[i]));
        const Enrolment again = api_test::enrol(set.fingers[i].enrol);
        EXPECT_EQ(set.enrolments[i].blob, again.blob);
    }
}

TEST(ApiCaptures, EveryEnrolmentCaptureVerifiesAgainstItsFinger) {
    REQUIRE_ENROLLED();
    for (size_t i = 0; i < set.fingers.size(); ++i) {
        SCOPED_TRACE(name_of(set.fingers[i]));
        const bytes blob = set.enrolments[i].blob;
        ASSERT_FALSE(blob.empty());
        for (size_t c = 0; c < set.fingers[i].enrol.size(); ++c)
            EXPECT_EQ(RADU_VERIFY_MATCH, api_test::verify(set.fingers[i].enrol[c], blob)) << "capture e" << c + 1;
        EXPECT_EQ(set.enrolments[i].blob, blob);  // verification changes nothing it is given
    }
}

TEST(ApiCaptures, SixCopiesOfOneCaptureGiveOneInstance) {
    REQUIRE_ENROLLED();
    const std::vector<bytes> copies(6, set.fingers[0].enrol[0]);
    testing::internal::CaptureStdout();
    const Enrolment e = api_test::enrol(copies);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ((std::vector<int32_t>{1, 2, 3, 4, 5, 6}), e.codes);
    std::string expected;
    for (int i = 0; i < 5; ++i) expected += "UI feedback: Move finger more!\n";
    EXPECT_EQ(expected, printed);
    const api_test::Record r = api_test::read_record(e.blob);
    ASSERT_TRUE(r.valid);
    EXPECT_EQ(1u, r.instances.size());
}

// --- the kept template and the enrolment in progress ---

void expect_nothing_saved(const char* when) {
    SCOPED_TRACE(when);
    bytes out(RADU_TEMPLATE_BUFFER_SIZE, 0xA5);
    uint8_t type = 0xA5;
    EXPECT_EQ(0, RADU_alg_save_template(0, out.data(), &type));
    EXPECT_EQ(0xA5, type);
    EXPECT_EQ(bytes(RADU_TEMPLATE_BUFFER_SIZE, 0xA5), out);
}

// Completes an enrolment of the finger without saving it.
void complete_without_saving(const Finger& f) {
    ASSERT_EQ(0, RADU_alg_init());
    for (int i = 0; i < 5; ++i) ASSERT_EQ(i + 1, RADU_alg_request_enroll(0, f.enrol[size_t(i)].data()));
    ASSERT_EQ(RADU_ENROLL_COMPLETE, RADU_alg_request_enroll(0, f.enrol[5].data()));
}

TEST(ApiCaptures, AKeptTemplateNeverOutlivesItsEnrolment) {
    REQUIRE_ENROLLED();
    ASSERT_GE(set.fingers.size(), 2u);
    const Finger& a = set.fingers[0];
    const Finger& b = set.fingers[1];

    complete_without_saving(a);
    ASSERT_EQ(0, RADU_alg_init());
    expect_nothing_saved("init after a finished enrolment");

    // A new enrolment that fails (at its second call, at its first) must
    // not leave the earlier finger's template to be committed.
    complete_without_saving(a);
    EXPECT_EQ(1, RADU_alg_request_enroll(0, b.enrol[0].data()));
    EXPECT_EQ(RADU_ENROLL_FAILED, RADU_alg_request_enroll(0, nullptr));
    expect_nothing_saved("failed enrolment after a finished one");

    complete_without_saving(a);
    EXPECT_EQ(RADU_ENROLL_FAILED, RADU_alg_request_enroll(0, nullptr));
    expect_nothing_saved("enrolment failing at its first call");

    // A new enrolment still in progress holds none either.
    complete_without_saving(a);
    EXPECT_EQ(1, RADU_alg_request_enroll(0, b.enrol[0].data()));
    expect_nothing_saved("enrolment in progress after a finished one");
    ASSERT_EQ(0, RADU_alg_init());
}

TEST(ApiCaptures, InitEndsTheEnrolmentInProgress) {
    REQUIRE_ENROLLED();
    const Finger& f = set.fingers[0];
    // Init between captures starts the count again; the abandoned
    // enrolment's objects are released (the sanitizer build sees a leak
    // otherwise) and the next six calls enrol as if nothing had happened.
    ASSERT_EQ(0, RADU_alg_init());
    for (int i = 0; i < 3; ++i) ASSERT_EQ(i + 1, RADU_alg_request_enroll(0, set.fingers[1].enrol[size_t(i)].data()));
    const Enrolment e = api_test::enrol(f.enrol);
    EXPECT_EQ((std::vector<int32_t>{1, 2, 3, 4, 5, 6}), e.codes);
    EXPECT_EQ(set.enrolments[0].blob, e.blob);
}

TEST(ApiCaptures, AVerificationBetweenEnrolmentCallsDisturbsNothing) {
    REQUIRE_ENROLLED();
    const Finger& f = set.fingers[0];
    ASSERT_EQ(0, RADU_alg_init());
    std::vector<int32_t> codes;
    for (size_t i = 0; i < f.enrol.size(); ++i) {
        codes.push_back(RADU_alg_request_enroll(0, f.enrol[i].data()));
        EXPECT_EQ(RADU_VERIFY_MATCH, api_test::verify(set.fingers[1].enrol[0], set.enrolments[1].blob));
    }
    EXPECT_EQ((std::vector<int32_t>{1, 2, 3, 4, 5, 6}), codes);
    bytes out(RADU_TEMPLATE_BUFFER_SIZE);
    uint8_t type = 0;
    const int32_t n = RADU_alg_save_template(0, out.data(), &type);
    ASSERT_GT(n, 0);
    EXPECT_EQ(set.enrolments[0].blob, bytes(out.begin(), out.begin() + n));
}

// --- damaged records ---

struct Damage {
    const char* name;
    bytes blob;
};

// Damaged copies of a genuine stored record, each of which must be refused.
std::vector<Damage> damaged_records(const bytes& blob) {
    const api_test::Record r = api_test::read_record(blob);
    std::vector<Damage> out;
    auto with = [&](const char* name, size_t at, uint8_t value) {
        bytes b = blob;
        b[at] = value;
        out.push_back({name, b});
    };
    with("magic", 0, 'X');
    with("magic terminator", 4, 1);
    with("version 0", 5, 0);
    with("version 4", 5, 4);
    const api_test::RecordInstance& first = r.instances.front();
    {
        // The first instance's size runs one byte past the record.
        bytes b = blob;
        const uint32_t past = uint32_t(blob.size() - (first.head_offset + 10) + 1);
        for (int i = 0; i < 4; ++i) b[first.head_offset + 6 + size_t(i)] = uint8_t(past >> (24 - 8 * i));
        out.push_back({"size past the end", b});
    }
    {
        bytes b = blob;
        b[first.head_offset + 6] = 0x7F;
        out.push_back({"size far past the end", b});
    }
    out.push_back({"cut inside an instance",
                   bytes(blob.begin(), blob.begin() + long(first.head_offset + 10 + first.size / 2))});
    out.push_back({"cut inside an instance head", bytes(blob.begin(), blob.begin() + long(first.head_offset + 5))});
    const api_test::RecordItem* settings = r.global(kSettingsTag);
    if (settings != nullptr && settings->length == kSettingsLength) {
        with("settings version 1", settings->offset + 9, 1);
        with("settings version 0", settings->offset + 9, 0);
        with("settings record count 0", settings->offset + 10, 0);
        with("settings record count 6", settings->offset + 10, 6);
        with("settings record count 255", settings->offset + 10, 255);
    }
    bytes random = api_test::noise_sample(2024);
    random.resize(blob.size());
    out.push_back({"random bytes", random});
    bytes random_head = random;
    std::copy(blob.begin(), blob.begin() + 8, random_head.begin());
    out.push_back({"random bytes behind a good head", random_head});
    return out;
}

TEST(ApiCaptures, DamagedRecordsNeverMatchAGenuineProbe) {
    REQUIRE_ENROLLED();
    for (size_t i : {size_t(0), set.fingers.size() - 1}) {
        const Finger& f = set.fingers[i];
        const bytes& blob = set.enrolments[i].blob;
        ASSERT_TRUE(api_test::read_record(blob).valid);
        // The probe matches the intact record.
        ASSERT_EQ(RADU_VERIFY_MATCH, api_test::verify(f.enrol[0], blob)) << name_of(f);
        ASSERT_NE(nullptr, api_test::read_record(blob).global(kSettingsTag));
        for (const Damage& d : damaged_records(blob)) {
            SCOPED_TRACE(name_of(f) + ": " + d.name);
            const int32_t result = api_test::verify(f.enrol[0], d.blob);
            EXPECT_LT(result, 0);
            EXPECT_NE(RADU_VERIFY_NO_MATCH, result) << "refused as a record, not compared";
        }
    }
}

// Positions probed by the sweeps: every byte of the head, the global items
// and the first instance's head, then an even spread over the rest.
std::vector<size_t> sweep_positions(const bytes& blob) {
    const api_test::Record r = api_test::read_record(blob);
    const size_t dense = r.instances.front().head_offset + 10;
    std::vector<size_t> out;
    for (size_t p = 0; p < dense && p < blob.size(); ++p) out.push_back(p);
    constexpr size_t kSpread = 128;
    for (size_t k = 0; k < kSpread; ++k) out.push_back(dense + (blob.size() - dense) * k / kSpread);
    return out;
}

TEST(ApiCaptures, TruncatedAndFlippedRecordsNeverMatchABlankProbe) {
    REQUIRE_ENROLLED();
    const bytes& blob = set.enrolments[0].blob;
    const bytes blank = api_test::blank_sample();
    for (size_t p : sweep_positions(blob)) {
        // Truncated to p bytes (size 0 included).
        const bytes cut(blob.begin(), blob.begin() + long(p));
        EXPECT_NE(RADU_VERIFY_MATCH,
                  RADU_alg_request_verify(blank.data(), cut.empty() ? blob.data() : cut.data(), uint32_t(p)))
            << "cut at " << p;
        bytes flipped = blob;
        flipped[p] ^= 0xFF;
        EXPECT_NE(RADU_VERIFY_MATCH, api_test::verify(blank, flipped)) << "flip at " << p;
    }
}

// --- the level the exported verification decides at ---

// A genuine probe with its lower rows blanked (the finger lifted off part of
// the sensor).
bytes lifted(const bytes& sample, uint32_t blank_rows) {
    bytes out = sample;
    std::fill(out.end() - long(blank_rows) * RADU_SAMPLE_COLS, out.end(), uint8_t(255));
    return out;
}

// A pair scoring above the level-11 threshold but not above the level-12
// one is refused, and one above level 12 accepted. The pairs are genuine
// probes, 8 more rows blanked at a time (down to 24 left) until the score
// falls to level 11 or below.
TEST(ApiCaptures, VerificationDecidesAtLevel12) {
    REQUIRE_ENROLLED();
    const uint16_t t11 = zr_far_thresholds[11], t12 = zr_far_thresholds[12];
    bool between_seen = false, above_seen = false;
    for (size_t i = 0; i < set.fingers.size() && !(between_seen && above_seen); ++i) {
        const bytes& blob = set.enrolments[i].blob;
        for (const bytes& probe : set.fingers[i].probes) {
            for (uint32_t blank = 0; blank + 24 <= RADU_SAMPLE_ROWS; blank += 8) {
                const bytes sample = lifted(probe, blank);
                const int32_t score = fp_test::exported_verify_score(sample, blob);
                if (score <= t11) break;
                const bool between = score <= t12;
                SCOPED_TRACE(name_of(set.fingers[i]) + " blank " + std::to_string(blank) + " score " +
                             std::to_string(score));
                EXPECT_EQ(between ? RADU_VERIFY_NO_MATCH : RADU_VERIFY_MATCH, api_test::verify(sample, blob));
                (between ? between_seen : above_seen) = true;
            }
        }
    }
    EXPECT_TRUE(between_seen) << "no pair scored between the thresholds of levels 11 and 12";
    EXPECT_TRUE(above_seen);
}

// --- genuine and impostor comparisons, printed ---

TEST(ApiCaptures, GenuineAndImpostorComparisons) {
    REQUIRE_ENROLLED();
    int genuine = 0, genuine_accepted = 0, impostor = 0, impostor_accepted = 0;
    for (size_t i = 0; i < set.fingers.size(); ++i) {
        for (const bytes& probe : set.fingers[i].probes) {
            for (size_t j = 0; j < set.fingers.size(); ++j) {
                if (set.fingers[j].db != set.fingers[i].db) continue;
                const int32_t r = api_test::verify(probe, set.enrolments[j].blob);
                EXPECT_TRUE(r == RADU_VERIFY_MATCH || r == RADU_VERIFY_NO_MATCH) << r;
                if (i == j) {
                    ++genuine;
                    genuine_accepted += r == RADU_VERIFY_MATCH;
                } else {
                    ++impostor;
                    impostor_accepted += r == RADU_VERIFY_MATCH;
                }
            }
        }
    }
    std::printf("genuine accepted %d of %d, impostors accepted %d of %d\n", genuine_accepted, genuine,
                impostor_accepted, impostor);
}

}  // namespace
