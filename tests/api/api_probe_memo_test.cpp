// The exported verification keeps the probe of its most recent sample, so an
// identification (one sample against record after record) extracts once. The
// answers must be those of the whole road, in which the walk extracts the
// sample itself: that road is run here directly on the algorithm object, as
// the exported call ran it before it kept anything.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "api/radu_probe_memo.h"
#include "api_test_support.h"
#include "match/zr_algorithm.h"
#include "match/zr_presets.h"
#include "objects/zr_alloc.h"
#include "objects/zr_image.h"
#include "objects/zr_match_result.h"
#include "objects/zr_template.h"

namespace {

using api_test::bytes;

constexpr uint16_t kVerifyDpi = 500;
constexpr uint32_t kFarLevel = 12;
// Fingers whose two probes are identified against every record.
constexpr size_t kProbedFingers = 8;

// The match result's fields that a verification decides, and the exported
// answer made of the status and the decision.
struct Outcome {
    int32_t answer = 0;
    std::vector<uint64_t> fields;
    bool operator==(const Outcome&) const = default;
};

Outcome outcome_of(zr_status rc, const zr_match_result* r) {
    Outcome o;
    if (rc != ZR_OK) {
        o.answer = -int32_t(rc);
        return o;
    }
    o.answer = r->decision == 1 ? RADU_VERIFY_MATCH : RADU_VERIFY_NO_MATCH;
    o.fields = {r->decision, r->raw_score, r->far_score, r->far_level_reached, r->matching_template_index,
                r->matching_subtemplate_index, r->matching_subtemplate_tag, r->last_link_index};
    for (uint32_t i = 0; i < r->entry_count; ++i)
        for (const zr_match_result_link& l : r->entries[i].links)
            o.fields.insert(o.fields.end(), {l.comparisons, l.best_score});
    if (const zr_alignment* a = r->alignment; a != nullptr)
        o.fields.insert(o.fields.end(), {uint64_t(a->dx), uint64_t(a->dy), a->rotation, uint64_t(a->sine),
                                         uint64_t(a->cosine)});
    return o;
}

// The whole road: a fresh algorithm, the record as a multi-template, the
// sample as an image the walk extracts (or, with a probe, the walk from it).
Outcome road(const bytes& sample, const bytes& record, zr_template* probe = nullptr) {
    zr_algorithm* a = gen_192x80_hybridhr_create(nullptr);
    zr_template* stored = zr_template_create(ZR_TEMPLATE_MULTI, record.data(), uint32_t(record.size()));
    zr_image* image = zr_image_create(RADU_SAMPLE_ROWS, RADU_SAMPLE_COLS, kVerifyDpi, kVerifyDpi, sample.data(), 0);
    EXPECT_TRUE(a != nullptr && stored != nullptr && image != nullptr);
    zr_match_result* r = nullptr;
    const zr_status rc = probe != nullptr ? zr_algorithm_verify_templates_ex(a, &stored, 1, probe, kFarLevel, &r)
                                          : zr_algorithm_verify_image_ex(a, &stored, 1, image, kFarLevel, &r);
    const Outcome o = outcome_of(rc, r);
    zr_match_result_delete(r);
    zr_image_delete(image);
    zr_template_delete(stored);
    zr_algorithm_delete(a);
    return o;
}

struct Gallery {
    std::vector<bytes> records;  // one per finger
    std::vector<bytes> samples;  // probes of the first fingers, then a blank and a noise frame
    std::vector<std::string> names;
};

const Gallery& gallery() {
    static const Gallery g = [] {
        Gallery out;
        const std::vector<api_test::Finger> fingers = api_test::load_fingers();
        for (const api_test::Finger& f : fingers) out.records.push_back(api_test::enrol(f.enrol).blob);
        for (size_t i = 0; i < fingers.size() && i < kProbedFingers; ++i)
            for (size_t p = 0; p < fingers[i].probes.size(); ++p) {
                out.samples.push_back(fingers[i].probes[p]);
                out.names.push_back(fingers[i].db + "/" + fingers[i].name + " p" + std::to_string(7 + p));
            }
        out.samples.push_back(api_test::blank_sample());
        out.names.push_back("blank");
        out.samples.push_back(api_test::noise_sample(7));
        out.names.push_back("noise");
        return out;
    }();
    return g;
}

#define REQUIRE_GALLERY()                 \
    FP_REQUIRE_CAPTURES();                \
    const Gallery& g = gallery();         \
    ASSERT_GE(g.records.size(), 2u);      \
    for (const bytes& r : g.records) ASSERT_FALSE(r.empty())

// Every sample against every record as an identification makes the calls
// (init, the records in turn, exit), with the memo kept between the calls
// and with it dropped before each: both give the whole road's answer. The
// probe the memo holds walks to the very result of the road from the image.
TEST(ApiProbeMemo, IdentificationAnswersAsTheWholeRoad) {
    REQUIRE_GALLERY();
    int matches = 0, non_matches = 0;
    for (size_t s = 0; s < g.samples.size(); ++s) {
        SCOPED_TRACE(g.names[s]);
        const bytes& sample = g.samples[s];
        std::vector<Outcome> expected;
        for (const bytes& record : g.records) expected.push_back(road(sample, record));

        ASSERT_EQ(0, RADU_alg_init());
        for (size_t r = 0; r < g.records.size(); ++r) {
            EXPECT_EQ(expected[r].answer, api_test::verify(sample, g.records[r])) << "record " << r << ", memo kept";
            zr_template* probe = radu_probe_memo_find(sample.data());
            if (probe != nullptr) {
                EXPECT_EQ(expected[r], road(sample, g.records[r], probe)) << "record " << r;
            }
            zr_template_delete(probe);
        }
        ASSERT_EQ(0, RADU_alg_exit());
        for (size_t r = 0; r < g.records.size(); ++r) {
            ASSERT_EQ(0, RADU_alg_exit());
            EXPECT_EQ(expected[r].answer, api_test::verify(sample, g.records[r])) << "record " << r << ", memo dropped";
        }
        for (const Outcome& o : expected) {
            matches += o.answer == RADU_VERIFY_MATCH;
            non_matches += o.answer == RADU_VERIFY_NO_MATCH;
        }
    }
    EXPECT_GE(matches, int(kProbedFingers));
    EXPECT_GE(non_matches, int(g.records.size()));
}

// The memo holds the last extracted sample, found only by all its bytes,
// until another sample replaces it or init or exit drops it.
TEST(ApiProbeMemo, HoldsTheLastSampleUntilReplacedOrDropped) {
    REQUIRE_GALLERY();
    const bytes& a = g.samples[0];
    const bytes& b = g.samples[1];
    bytes a_moved = a;  // one pixel differs, the last
    a_moved.back() ^= 1;
    const bytes& record = g.records[0];
    const Outcome road_a = road(a, record), road_moved = road(a_moved, record);

    ASSERT_EQ(0, RADU_alg_init());
    EXPECT_FALSE(radu_probe_memo_holds(a.data()));
    EXPECT_EQ(road_a.answer, api_test::verify(a, record));
    EXPECT_TRUE(radu_probe_memo_holds(a.data()));
    EXPECT_FALSE(radu_probe_memo_holds(a_moved.data()));

    EXPECT_EQ(road_moved.answer, api_test::verify(a_moved, record));
    EXPECT_TRUE(radu_probe_memo_holds(a_moved.data()));
    EXPECT_FALSE(radu_probe_memo_holds(a.data()));
    EXPECT_EQ(road_a.answer, api_test::verify(a, record));
    EXPECT_TRUE(radu_probe_memo_holds(a.data()));

    EXPECT_EQ(0, RADU_alg_exit());
    EXPECT_FALSE(radu_probe_memo_holds(a.data()));
    (void)api_test::verify(b, record);
    EXPECT_TRUE(radu_probe_memo_holds(b.data()));
    EXPECT_EQ(0, RADU_alg_init());
    EXPECT_FALSE(radu_probe_memo_holds(b.data()));

    // Calls refused before the sample is read keep nothing.
    EXPECT_EQ(-2, RADU_alg_request_verify(a.data(), record.data(), 0));
    EXPECT_FALSE(radu_probe_memo_holds(a.data()));
}

// A call that runs out of memory at any point, in the extraction or in the
// walk, leaves the memo holding a sound probe or the one it held: the next
// calls, of this sample and of the one held before, answer as the road.
TEST(ApiProbeMemo, ACallThatRunsOutOfMemoryPoisonsNothing) {
    REQUIRE_GALLERY();
    const bytes& held = g.samples[0];
    const bytes& failing = g.samples[2];
    const bytes& record = g.records[1];
    const Outcome road_held = road(held, record), road_failing = road(failing, record);
    // Only the whole call gives the match.
    ASSERT_EQ(RADU_VERIFY_MATCH, road_failing.answer);
    constexpr int32_t kMaxSuccesses = 60;
    int extraction_failures = 0, entry_failures = 0;
    for (int32_t successes = 0; successes <= kMaxSuccesses; ++successes) {
        SCOPED_TRACE(successes);
        ASSERT_EQ(0, RADU_alg_exit());
        ASSERT_EQ(road_held.answer, api_test::verify(held, record));
        zr_alloc_fail_after(successes);
        const int32_t answer = api_test::verify(failing, record);
        zr_alloc_fail_after(-1);
        if (answer == road_failing.answer) break;  // enough allocations for the whole call
        // Extraction failed (the held entry stays) or the new entry could not
        // be allocated (the memo holds nothing).
        if (!radu_probe_memo_holds(failing.data())) {
            if (radu_probe_memo_holds(held.data())) ++extraction_failures;
            else ++entry_failures;
        }
        EXPECT_EQ(road_failing.answer, api_test::verify(failing, record));
        EXPECT_EQ(road_held.answer, api_test::verify(held, record));
    }
    EXPECT_GT(extraction_failures, 0);
    EXPECT_EQ(1, entry_failures);
}

struct ReleasedEntry {
    size_t size;
    bool zeroed;
};
std::vector<ReleasedEntry> g_released;

void record_release(const uint8_t* memory, size_t size) {
    g_released.push_back({size, std::all_of(memory, memory + size, [](uint8_t b) { return b == 0; })});
}

// An entry's memory (the sample's bytes, then the probe's) is zeros before
// it is freed, whether it is replaced or cleared; an entry that cannot be
// allocated leaves the memo holding nothing.
TEST(ApiProbeMemo, ReleasedEntriesAreWipedAndAnUnallocatedOneLeavesNothing) {
    const bytes a = api_test::noise_sample(1), b = api_test::noise_sample(2);
    const bytes probe_bytes = {0x7F, 0x2E, 0x03, 0x81, 0x01, 0x55};
    zr_template* probe = zr_template_create(ZR_TEMPLATE_EHM, probe_bytes.data(), uint32_t(probe_bytes.size()));
    ASSERT_NE(nullptr, probe);
    const size_t entry_size = a.size() + probe_bytes.size();
    radu_probe_memo_clear();
    g_released.clear();
    radu_probe_memo_set_release_observer(record_release);

    radu_probe_memo_keep(a.data(), probe);
    EXPECT_TRUE(radu_probe_memo_holds(a.data()));
    radu_probe_memo_keep(b.data(), probe);
    EXPECT_TRUE(radu_probe_memo_holds(b.data()));
    zr_alloc_fail_after(0);
    radu_probe_memo_keep(a.data(), probe);
    zr_alloc_fail_after(-1);
    EXPECT_FALSE(radu_probe_memo_holds(a.data()));
    EXPECT_FALSE(radu_probe_memo_holds(b.data()));
    radu_probe_memo_keep(a.data(), probe);
    radu_probe_memo_clear();
    EXPECT_FALSE(radu_probe_memo_holds(a.data()));

    radu_probe_memo_set_release_observer(nullptr);
    zr_template_delete(probe);
    // Replaced by b, b replaced by nothing, a cleared.
    ASSERT_EQ(3u, g_released.size());
    for (const ReleasedEntry& e : g_released) {
        EXPECT_EQ(entry_size, e.size);
        EXPECT_TRUE(e.zeroed);
    }
}

}  // namespace
