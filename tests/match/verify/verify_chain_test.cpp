// The verification walk over stored multi-templates with scripted verifiers:
// acceptance, jumps, rejection, early rejection, pruning, the per-link
// entries, the matching tag and the overlap area; the log2 mapping of raw
// scores; the ranking variant and the dynamic-update comparison; the chain
// and link records.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

#include "imaging/bal_polygon.h"
#include "match/chain/zr_algorithm_chain.h"
#include "match/verifiers/zr_far_table.h"
#include "match/multitemplate/zr_multitemplate_manager.h"
#include "match/verify/zr_verify_chain.h"
#include "match/verifiers/zr_vermodels.h"
#include "objects/zr_alloc.h"
#include "objects/zr_template_generic.h"
#include "objects/zr_template_metadata.h"

namespace {

constexpr uint32_t kType = 'C';

// --- scripted verifiers: the raw score of a pair is the script's value for
// the enrolled template's first byte; the feature array is that one value.

struct script {
    std::map<uint8_t, uint16_t> raw;
    std::map<uint8_t, std::array<int16_t, 3>> pose;  // dx, dy, rotation
    std::vector<uint8_t> compared;                    // enrolled ids in order
};
std::array<script, 3> g_scripts;

template <int N>
zr_status fake_extract(zr_session*, zr_template* enrolled, zr_template*, uint16_t** out, uint16_t* count,
                       zr_alignment** alignment) {
    const uint8_t id = zr_template_get_data(enrolled)[0];
    script& s = g_scripts[N];
    s.compared.push_back(id);
    *out = static_cast<uint16_t*>(zr_malloc(sizeof(uint16_t)));
    (*out)[0] = s.raw.count(id) != 0 ? s.raw[id] : 0;
    *count = 1;
    if (alignment != nullptr) {
        zr_alignment_delete(*alignment);
        *alignment = nullptr;
        if (s.pose.count(id) != 0) {
            const auto& p = s.pose[id];
            *alignment = zr_alignment_create(p[0], p[1], uint8_t(p[2]));
        }
    }
    return ZR_OK;
}

// The last feature is the raw score.
zr_status fake_verify(zr_session*, zr_template*, zr_template*, const uint16_t* scores, uint16_t count,
                      const zr_vermodel*, uint16_t* out) {
    *out = count > 0 ? scores[count - 1] : 0;
    return ZR_OK;
}

const zr_verifier_descriptor kFake0 = {fake_extract<0>, nullptr, fake_verify, nullptr};
const zr_verifier_descriptor kFake1 = {fake_extract<1>, nullptr, fake_verify, nullptr};
const zr_verifier_descriptor kFake2 = {fake_extract<2>, nullptr, fake_verify, nullptr};

// Threshold rows equal to the FAR thresholds: raw scores below 61229 map to
// themselves, every template count alike.
struct identity_rows {
    zr_threshold_table t{};
    identity_rows() {
        for (auto& row : t)
            for (uint32_t l = 0; l < ZR_FAR_LEVELS; ++l) row[l] = zr_far_thresholds[l];
    }
};
const identity_rows kIdentity;
const zr_threshold_table& kIdentityRows = kIdentity.t;
const uint8_t kCoefficients[16] = {};
const zr_vermodel kModel0 = {&kFake0, 0, kCoefficients, 16, 1, zr_ml_compute_score_linear, &kIdentityRows};
const zr_vermodel kModel1 = {&kFake1, 0, kCoefficients, 16, 1, zr_ml_compute_score_linear, &kIdentityRows};
const zr_vermodel kModel2 = {&kFake2, 0, kCoefficients, 16, 1, zr_ml_compute_score_linear, &kIdentityRows};
const zr_vermodel* const kModels[] = {&kModel0, &kModel1, &kModel2, nullptr};

zr_template* sub_template(uint8_t id) {
    const uint8_t data[4] = {id, 1, 2, 3};
    return zr_template_create(kType, data, 4);
}

struct instance_spec {
    uint8_t id;
    uint8_t flags = 0;
    bool with_item = false;
};

// A stored multi-template holding templates with these first bytes.
zr_template* stored_template(const std::vector<instance_spec>& instances, uint8_t max = 96) {
    zr_multitemplate_manager* m = zr_multitemplate_manager_create(max);
    for (const auto& in : instances) {
        zr_template* t = sub_template(in.id);
        uint32_t id = 0;
        EXPECT_EQ(ZR_OK, zr_multitemplate_add_instance_no_tag(m->mt, t, &id));
        if (in.with_item || in.flags != 0) {
            const uint8_t item[6] = {0, 0, 0, 0, 0, in.flags};
            EXPECT_EQ(ZR_OK, zr_multitemplate_add_metadata(m->mt, id, ZR_MTM_TAG_INSTANCE, item, 6));
        }
        zr_template_delete(t);
    }
    zr_template* out = nullptr;
    EXPECT_EQ(ZR_OK, zr_multitemplate_manager_encode(m, 0, &out));
    zr_multitemplate_manager_delete(m);
    return out;
}

std::vector<instance_spec> ids(uint8_t first, uint8_t n) {
    std::vector<instance_spec> v;
    for (uint8_t i = 0; i < n; ++i) v.push_back({uint8_t(first + i)});
    return v;
}

struct chain_owner {
    zr_algorithm_chain* chain = zr_algorithm_chain_create();
    ~chain_owner() { zr_algorithm_chain_delete(chain); }
    zr_algorithm_link* add(const zr_verifier_descriptor* v, uint32_t accept_shift = 0, uint32_t reject = 0) {
        zr_algorithm_link* l = zr_algorithm_link_create(nullptr, kType, nullptr, v, accept_shift, reject);
        zr_algorithm_chain_append_link(chain, l);
        return l;
    }
};

// One walk with its inputs and outputs.
struct walk_run {
    std::vector<zr_template*> stored;
    zr_template* probe = sub_template(200);
    zr_session* session = zr_session_create();
    zr_match_result* result = nullptr;
    zr_algorithm_config config{};

    explicit walk_run(std::vector<zr_template*> s) : stored(std::move(s)) {
        result = zr_match_result_create(uint32_t(stored.size()));
        for (auto& sc : g_scripts) sc = {};
    }
    ~walk_run() {
        for (auto* t : stored) zr_template_delete(t);
        zr_template_delete(probe);
        zr_session_delete(session);
        zr_match_result_delete(result);
    }
    zr_status run(const zr_algorithm_chain* chain, uint32_t level) {
        return zr_multitemplate_verify_chain(stored.data(), uint8_t(stored.size()), chain, session, probe, nullptr,
                                             level, result, kModels, &config);
    }
};

uint32_t far_level_of(uint32_t score) {
    uint32_t l = 0;
    for (uint32_t i = 0; i < 28; ++i)
        if (zr_far_thresholds[i] < score) l = i;
    return l;
}

}  // namespace

// --- walk ---

TEST(verify_chain, AcceptStopsTheWalkAndRecordsTheBestComparison) {
    chain_owner c;
    c.add(&kFake0);
    c.add(&kFake1);
    walk_run w({stored_template(ids(1, 3))});
    g_scripts[0].raw = {{1, 5000}, {2, 40000}, {3, 9000}};
    ASSERT_EQ(ZR_OK, w.run(c.chain, 12));
    // n = 3: w = 1, (1 x 5000 + 10 x 40000) / 11 = 36818 > 27213 at the second.
    EXPECT_EQ(std::vector<uint8_t>({1, 2}), g_scripts[0].compared);
    EXPECT_TRUE(g_scripts[1].compared.empty());
    EXPECT_EQ(1u, w.result->decision);
    EXPECT_EQ(0u, w.result->last_link_index);
    EXPECT_EQ(36818, w.result->far_score);
    EXPECT_EQ(far_level_of(36818), w.result->far_level_reached);
    EXPECT_EQ(40000, w.result->raw_score);
    EXPECT_EQ(1u, w.result->matching_subtemplate_index);
    EXPECT_EQ(0u, w.result->matching_template_index);
    EXPECT_EQ(2u, w.result->matching_subtemplate_tag);  // ids start at 1
    EXPECT_EQ(2u, w.result->entries[0].links[0].comparisons);
    EXPECT_EQ(36818u, w.result->entries[0].links[0].best_score);
    EXPECT_EQ(w.stored[0], w.result->second_template);
    EXPECT_NE(nullptr, w.result->verified_template);
}

TEST(verify_chain, AcceptJumpsToTheNextLinkCarryingTheFlag) {
    chain_owner c;
    c.add(&kFake0);
    c.add(&kFake1);
    zr_algorithm_link* third = c.add(&kFake2);
    zr_algorithm_link_set_flag(third, ZR_LINK_AFTER_ACCEPT);
    walk_run w({stored_template(ids(1, 2))});
    g_scripts[0].raw = {{1, 50000}, {2, 100}};
    g_scripts[2].raw = {{1, 50000}, {2, 50000}};
    ASSERT_EQ(ZR_OK, w.run(c.chain, 12));
    EXPECT_TRUE(g_scripts[1].compared.empty());
    EXPECT_EQ(std::vector<uint8_t>({1}), g_scripts[2].compared);  // accepted at once there
    EXPECT_EQ(1u, w.result->decision);
    EXPECT_EQ(2u, w.result->last_link_index);
    EXPECT_EQ(0u, w.result->entries[0].links[1].comparisons);
    EXPECT_EQ(1u, w.result->entries[0].links[2].comparisons);
}

TEST(verify_chain, RejectLevelFinishesTheCandidate) {
    chain_owner c;
    c.add(&kFake0, 0, 12);
    c.add(&kFake1);
    walk_run w({stored_template(ids(1, 3)), stored_template(ids(10, 2))});
    g_scripts[0].raw = {{1, 20000}, {2, 20000}, {3, 20000}, {10, 30000}, {11, 27000}};
    ASSERT_EQ(ZR_OK, w.run(c.chain, 28));
    // The first finger scores below threshold[12] and stops; the second goes on.
    EXPECT_EQ(std::vector<uint8_t>({10, 11}), g_scripts[1].compared);
    EXPECT_EQ(0u, w.result->decision);
    EXPECT_EQ(1u, w.result->last_link_index);
    // Candidates advance in turn, one subtemplate each per pass.
    EXPECT_EQ(std::vector<uint8_t>({1, 10, 2, 11, 3}), g_scripts[0].compared);
}

TEST(verify_chain, EarlyRejectDropsTheCandidateBeforeItsFourthSubtemplate) {
    chain_owner c;
    zr_algorithm_link* l = c.add(&kFake0);
    zr_algorithm_set_early_reject(l, 12, 3);
    walk_run w({stored_template(ids(1, 6))});
    g_scripts[0].raw = {{1, 100}, {2, 100}, {3, 27000}, {4, 60000}};
    ASSERT_EQ(ZR_OK, w.run(c.chain, 12));
    EXPECT_EQ(std::vector<uint8_t>({1, 2, 3}), g_scripts[0].compared);
    EXPECT_EQ(3u, w.result->entries[0].links[0].comparisons);
    EXPECT_EQ(0u, w.result->decision);
}

TEST(verify_chain, PruningKeepsTheAdaptiveCountOfBestEntries) {
    // Ids 1..n score 1000 x id, except 4 and 5 which tie with 3; the next
    // link asks for 5 entries; ref_mt_size 10, subtemplates_limit 20.
    const struct {
        uint8_t n;
        std::vector<uint8_t> compared;  // at the second link, best first, ties in their order
    } cases[] = {
        // ((10 - 5) x 20 + (5 - 20) x 15) / (10 - 20) = 12.
        {15, {15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 3, 4}},
        // (100 - 15 x 8) / -10 = 2, raised to the 5 the link asks for.
        {8, {8, 7, 6, 3, 4}},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(int(k.n));
        chain_owner c;
        c.add(&kFake0);
        zr_algorithm_link* second = c.add(&kFake1);
        zr_algorithm_link_set_nbr_of_subtemplates(second, 5);
        walk_run w({stored_template(ids(1, k.n))});
        ASSERT_EQ(ZR_OK, zr_session_set_int(w.session, "zr.adaptive_chain.ref_mt_size", 10));
        ASSERT_EQ(ZR_OK, zr_session_set_int(w.session, "zr.adaptive_chain.subtemplates_limit", 20));
        for (uint8_t i = 1; i <= k.n; ++i) g_scripts[0].raw[i] = uint16_t(1000 * i);
        g_scripts[0].raw[4] = g_scripts[0].raw[5] = 3000;
        ASSERT_EQ(ZR_OK, w.run(c.chain, 28));
        EXPECT_EQ(k.compared, g_scripts[1].compared);
        EXPECT_EQ(k.compared.size(), w.result->entries[0].links[1].comparisons);
    }
}

// A score equal to a level's threshold has not reached that level: the
// reached level is the one below it, and a reject level of that threshold
// lets the candidate on.
TEST(verify_chain, ThresholdsAreExceededNotMet) {
    constexpr uint16_t kAt12 = zr_far_thresholds[12];
    const struct {
        uint16_t raw;
        uint32_t level_reached;
        bool goes_on;  // past a link rejecting at level 12
    } cases[] = {
        {uint16_t(kAt12 - 1), 11, false},
        {kAt12, 11, true},
        {uint16_t(kAt12 + 1), 12, true},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.raw);
        chain_owner c;
        c.add(&kFake0, 0, 12);
        c.add(&kFake1);
        walk_run w({stored_template(ids(1, 1))});
        g_scripts[0].raw = {{1, k.raw}};
        ASSERT_EQ(ZR_OK, w.run(c.chain, 28));
        EXPECT_EQ(k.raw, w.result->far_score);  // one template: its own score
        EXPECT_EQ(k.level_reached, w.result->far_level_reached);
        EXPECT_EQ(k.goes_on, !g_scripts[1].compared.empty());
        EXPECT_EQ(0u, w.result->decision);
    }
}

TEST(verify_chain, ForcedPruningDropsEntriesBelowItsFloor) {
    chain_owner c;
    c.add(&kFake0);
    c.add(&kFake1);
    walk_run w({stored_template(ids(1, 4))});
    ASSERT_EQ(ZR_OK, zr_session_set_int(w.session, "zr.forcedpruning.templates", 2));
    // Reject level 0: floor min(2 x 2048, 63276) = 4096.
    g_scripts[0].raw = {{1, 4095}, {2, 4096}, {3, 9000}, {4, 100}};
    ASSERT_EQ(ZR_OK, w.run(c.chain, 28));
    EXPECT_EQ(std::vector<uint8_t>({3, 2}), g_scripts[1].compared);
}

TEST(verify_chain, TagNamesTheInstanceThatMatched) {
    chain_owner c;
    c.add(&kFake0);
    // A pending instance first: the matching index skips it, the tag must too.
    walk_run w({stored_template({{1, ZR_MTM_FLAG_PENDING}, {2}, {3}})});
    g_scripts[0].raw = {{1, 60000}, {2, 50000}, {3, 100}};
    ASSERT_EQ(ZR_OK, w.run(c.chain, 12));
    EXPECT_EQ(std::vector<uint8_t>({2}), g_scripts[0].compared);
    EXPECT_EQ(0u, w.result->matching_subtemplate_index);
    EXPECT_EQ(2u, w.result->matching_subtemplate_tag);
    EXPECT_EQ(1u, zr_multitemplate_get_subtemplate_tag(w.stored[0], 0));  // the list's own index

    walk_run none({stored_template(ids(1, 2))});
    ASSERT_EQ(ZR_OK, none.run(c.chain, 12));
    EXPECT_EQ(0u, none.result->decision);
    EXPECT_EQ(ZR_MTM_MISSING_TAG, none.result->matching_subtemplate_tag);

    walk_run empty({});
    ASSERT_EQ(ZR_OK, empty.run(c.chain, 12));
    EXPECT_EQ(ZR_MTM_MISSING_TAG, empty.result->matching_subtemplate_tag);
    EXPECT_EQ(0u, empty.result->decision);
}

TEST(verify_chain, LinkHookEndsTheWalk) {
    chain_owner c;
    c.add(&kFake0);
    walk_run w({stored_template(ids(1, 4))});
    static int calls;
    calls = 0;
    w.config.link_hook = [](zr_algorithm_link*) -> zr_status { return ++calls == 2 ? ZR_FAILURE : ZR_OK; };
    EXPECT_EQ(ZR_FAILURE, w.run(c.chain, 28));
    EXPECT_EQ(2, calls);
    EXPECT_EQ(std::vector<uint8_t>({1, 2}), g_scripts[0].compared);
}

TEST(verify_chain, ArgumentsRefusedBeforeSetUp) {
    chain_owner c;
    c.add(&kFake0);
    walk_run w({stored_template(ids(1, 2))});
    zr_image* image = zr_image_create(16, 16, 500, 500, nullptr, 0);
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_multitemplate_verify_chain(w.stored.data(), 1, c.chain, w.session, w.probe,
                                                             image, 12, w.result, kModels, nullptr));
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_multitemplate_verify_chain(w.stored.data(), 1, c.chain, w.session, nullptr,
                                                             nullptr, 12, w.result, kModels, nullptr));
    zr_image_delete(image);
    for (int i = 0; i < 5; ++i) c.add(&kFake0);
    ASSERT_EQ(6u, zr_algorithm_chain_get_nbr_of_links(c.chain));
    g_scripts[0] = {};
    c.add(&kFake0);
    EXPECT_EQ(ZR_BAD_ARGUMENT, w.run(c.chain, 12));
    EXPECT_TRUE(g_scripts[0].compared.empty());
    EXPECT_EQ(nullptr, w.result->verified_template);
}

TEST(verify_chain, UnreadableStoredTemplateGivesWrongType) {
    chain_owner c;
    c.add(&kFake0);
    const uint8_t junk[8] = {'Z', 'R', 'M', 'T', 0, 9, 0, 0};
    walk_run w({zr_template_create(80, junk, 8)});
    EXPECT_EQ(ZR_WRONG_TYPE, w.run(c.chain, 12));
}

// Exact area of the intersection of two convex polygons (Sutherland-Hodgman).
double float_intersection_area(std::vector<std::array<double, 2>> subject,
                               const std::vector<std::array<double, 2>>& clip) {
    auto cross = [](const std::array<double, 2>& a, const std::array<double, 2>& b, const std::array<double, 2>& p) {
        return (b[0] - a[0]) * (p[1] - a[1]) - (b[1] - a[1]) * (p[0] - a[0]);
    };
    double orient = 0;
    for (size_t i = 0; i < clip.size(); ++i) orient += cross({0, 0}, clip[i], clip[(i + 1) % clip.size()]);
    for (size_t i = 0; i < clip.size() && !subject.empty(); ++i) {
        const auto& a = clip[i];
        const auto& b = clip[(i + 1) % clip.size()];
        std::vector<std::array<double, 2>> out;
        for (size_t j = 0; j < subject.size(); ++j) {
            const auto& p = subject[j];
            const auto& q = subject[(j + 1) % subject.size()];
            const double dp = cross(a, b, p) * (orient > 0 ? 1 : -1);
            const double dq = cross(a, b, q) * (orient > 0 ? 1 : -1);
            if (dp >= 0) out.push_back(p);
            if ((dp >= 0) != (dq >= 0)) {
                const double t = dp / (dp - dq);
                out.push_back({p[0] + t * (q[0] - p[0]), p[1] + t * (q[1] - p[1])});
            }
        }
        subject = out;
    }
    double area = 0;
    for (size_t i = 0; i < subject.size(); ++i) area += cross({0, 0}, subject[i], subject[(i + 1) % subject.size()]);
    return std::fabs(area) / 2;
}

TEST(verify_chain, OverlapAreaAgreesWithFloatingPointIntersection) {
    chain_owner c;
    c.add(&kFake0);
    const std::vector<std::array<int16_t, 3>> poses = {{0, 0, 0}, {20, 0, 0},  {-30, 40, 0},
                                                       {10, -5, 8}, {0, 0, 32}, {50, 90, 200}};
    for (const auto& pose : poses) {
        walk_run w({stored_template(ids(1, 1))});
        // A probe of 176 rows and 96 columns (metadata record in a container).
        zr_template_metadata md{96, 176, 0, 500, 0};
        zr_template* record = nullptr;
        ASSERT_EQ(ZR_OK, zr_template_metadata_encode(nullptr, &md, &record));
        zr_template* probe = zr_template_merge(w.probe, record);
        zr_template_delete(record);
        zr_template_delete(w.probe);
        w.probe = probe;
        g_scripts[0].raw = {{1, 40000}};
        g_scripts[0].pose = {{1, pose}};
        ASSERT_EQ(ZR_OK, w.run(c.chain, 12));
        ASSERT_EQ(176, w.result->probe_rows);

        zr_alignment* a = zr_alignment_create(pose[0], pose[1], uint8_t(pose[2]));
        const bal_point rect[4] = {{0, 0}, {96, 0}, {96, 176}, {0, 176}};
        std::vector<bal_point> moved(4);
        for (int i = 0; i < 4; ++i) zr_alignment_transform_point(a, rect[i].x, rect[i].y, &moved[i].x, &moved[i].y);
        zr_alignment_delete(a);
        // The integer hull keeps all four corners of the moved rectangle.
        bal_polygon hull = bal_convex_hull_from_points(moved.data(), 4);
        ASSERT_EQ(4, hull.count);
        free(hull.points);

        std::vector<std::array<double, 2>> p, q;
        for (int i = 0; i < 4; ++i) {
            p.push_back({double(rect[i].x), double(rect[i].y)});
            q.push_back({double(moved[i].x), double(moved[i].y)});
        }
        const double expected = float_intersection_area(p, q) * 100 / 176 / 96;
        EXPECT_NEAR(expected, double(w.result->overlap_area), 1.0) << pose[0] << "," << pose[1] << "," << pose[2];
    }
}

TEST(verify_chain, CandidateScoreWeights) {
    chain_owner c;
    c.add(&kFake0);
    struct row {
        uint8_t n;
        uint16_t expected;
    };
    // Best two 40000 and 30000, the rest 1000, never accepted.
    for (const row& r : {row{10, 38333}, row{40, 36666}, row{1, 40000}, row{2, 39090}, row{35, 37142}}) {
        walk_run w({stored_template(ids(1, r.n))});
        for (uint8_t i = 1; i <= r.n; ++i) g_scripts[0].raw[i] = 1000;
        g_scripts[0].raw[1] = 40000;
        g_scripts[0].raw[2] = 30000;
        ASSERT_EQ(ZR_OK, w.run(c.chain, 28));
        EXPECT_EQ(r.expected, w.result->far_score) << int(r.n);
        EXPECT_EQ(0u, w.result->decision);
    }
}

TEST(verify_chain, AcceptShiftMovesThresholdAndAdjustedScore) {
    chain_owner c;
    c.add(&kFake0, uint32_t(-1));  // one level easier
    walk_run w({stored_template(ids(1, 1))});
    g_scripts[0].raw = {{1, 25200}};  // above threshold[12] - 2048 = 25165
    ASSERT_EQ(ZR_OK, w.run(c.chain, 12));
    EXPECT_EQ(1u, w.result->decision);
    EXPECT_EQ(25200 + 2048, w.result->far_score);
}

// --- raw_to_log2 ---

TEST(raw_to_log2, TrainedRowsOfTheMainRoadModel) {
    const zr_threshold_table* rows = zr_vermodel_h80_ehmhr.thresholds;
    struct row {
        uint32_t raw;
        int32_t n;
        uint16_t expected;
    };
    for (const row& r : {row{5295, 1, 27213}, row{5296, 1, 27229}, row{6018, 6, 27213}, row{6019, 6, 27230}}) {
        EXPECT_EQ(r.expected, raw_to_log2(r.raw, r.n, rows)) << r.raw;
    }
    // 27213 is threshold[12] itself: no accept at level 12.
    EXPECT_FALSE(raw_to_log2(5295, 1, rows) > zr_far_thresholds[12]);
    EXPECT_EQ(ZR_LOG2_SCORE_MAX, raw_to_log2((*rows)[0][27], 1, rows));
    EXPECT_EQ(ZR_LOG2_SCORE_MAX, raw_to_log2((*rows)[6][27], 64, rows));
    EXPECT_EQ(ZR_LOG2_SCORE_MAX, raw_to_log2((*rows)[6][27], 500, rows));  // clamped to 64
}

TEST(raw_to_log2, EmptyTablesRowsAndNoRows) {
    const zr_threshold_table empty{};
    for (uint32_t raw : {0u, 1u, 5000u, 65535u}) EXPECT_EQ(0, raw_to_log2(raw, 1, &empty));
    zr_threshold_table one_zero_row;
    std::memcpy(one_zero_row, kIdentityRows, sizeof(one_zero_row));
    for (auto& v : one_zero_row[0]) v = 0;
    EXPECT_EQ(0, raw_to_log2(40000, 1, &one_zero_row));
    EXPECT_EQ(40000, raw_to_log2(40000, 2, &one_zero_row));
    EXPECT_EQ(1234, raw_to_log2(1234, 3, nullptr));
    EXPECT_EQ(1234, raw_to_log2(0x10000 + 1234, 3, nullptr));
    // Below the first threshold of a row that does not start at 0.
    zr_threshold_table raised;
    std::memcpy(raised, kIdentityRows, sizeof(raised));
    for (auto& r : raised) r[0] = 100;
    EXPECT_EQ(0, raw_to_log2(99, 1, &raised));
    // Only the low 16 bits are compared.
    EXPECT_EQ(40000, raw_to_log2(0x10000 + 40000, 1, &kIdentityRows));
}

TEST(raw_to_log2, BlendsNeighbouringRows) {
    zr_threshold_table t{};
    for (uint32_t r = 0; r < 7; ++r)
        for (uint32_t l = 0; l < 28; ++l) t[r][l] = uint16_t(100 * l + 10 * r);
    // n = 3: rows 1 and 2 with weight 128: T[l] = 100 l + 15.
    EXPECT_EQ(zr_far_thresholds[12], raw_to_log2(1215, 3, &t));
    EXPECT_EQ(zr_far_thresholds[12] + (zr_far_thresholds[13] - zr_far_thresholds[12]) * 50 / 100,
              raw_to_log2(1265, 3, &t));
    // n = 6: rows 2 and 3, weight (2 x 256) / 4 = 128: T[l] = 100 l + 25.
    EXPECT_EQ(zr_far_thresholds[3], raw_to_log2(325, 6, &t));
}

// --- ranking and dynamic update ---

namespace {

struct template_array {
    std::vector<zr_template*> t;
    explicit template_array(const std::vector<uint8_t>& ids) {
        for (uint8_t id : ids) t.push_back(sub_template(id));
    }
    ~template_array() {
        for (auto* x : t) zr_template_delete(x);
    }
};

void release(zr_chain_rank_result* r, uint8_t n) {
    for (uint8_t i = 0; i < n; ++i) zr_alignment_delete(r[i].alignment);
}

}  // namespace

TEST(verify_chain, RankingIsStableAndNeverComparesTheProbeWithItself) {
    chain_owner c;
    c.add(&kFake0);
    template_array a({1, 2, 3, 4});
    for (auto& s : g_scripts) s = {};
    g_scripts[0].raw = {{1, 500}, {2, 900}, {3, 500}, {4, 30000}};
    zr_chain_rank_result r[8] = {};
    uint8_t n = 8;
    // The probe is the template at position 1; it must not come back.
    ASSERT_EQ(ZR_OK, zr_multitemplate_verify_chain_rank(a.t.data(), 4, c.chain, nullptr, a.t[1], 12, &n, r, kModels));
    EXPECT_EQ(std::vector<uint8_t>({1, 3, 4}), g_scripts[0].compared);
    ASSERT_EQ(3, n);
    EXPECT_EQ(3u, r[0].index);
    EXPECT_EQ(1u, r[0].accepted);
    EXPECT_EQ(0u, r[1].index);  // ties keep their order
    EXPECT_EQ(2u, r[2].index);
    EXPECT_EQ(0u, r[2].accepted);
    release(r, n);
    n = 0;
    EXPECT_EQ(ZR_BAD_ARGUMENT,
              zr_multitemplate_verify_chain_rank(a.t.data(), 4, c.chain, nullptr, a.t[1], 12, &n, r, kModels));
}

TEST(verify_chain, RankingStopsBeforeFlaggedLinkAndPrunesToTheRequest) {
    chain_owner c;
    c.add(&kFake0);
    zr_algorithm_link* second = c.add(&kFake1);
    zr_algorithm_link_set_nbr_of_subtemplates(second, 1);
    zr_algorithm_link* third = c.add(&kFake2);
    zr_algorithm_link_set_flag(third, ZR_LINK_STOP_RANKING);
    template_array a({1, 2, 3, 4, 9});
    for (auto& s : g_scripts) s = {};
    g_scripts[0].raw = {{1, 100}, {2, 300}, {3, 200}, {4, 50}};
    g_scripts[1].raw = {{1, 1}, {2, 2}, {3, 3}};
    zr_chain_rank_result r[2] = {};
    uint8_t n = 2;
    ASSERT_EQ(ZR_OK, zr_multitemplate_verify_chain_rank(a.t.data(), 5, c.chain, nullptr, a.t[4], 12, &n, r, kModels));
    EXPECT_EQ(std::vector<uint8_t>({2, 3}), g_scripts[1].compared);  // max(2, 1) kept
    EXPECT_TRUE(g_scripts[2].compared.empty());
    ASSERT_EQ(2, n);
    EXPECT_EQ(2u, r[0].index);  // 3 > 2 at the second link
    EXPECT_EQ(1u, r[1].index);
    release(r, n);
}

namespace {

int g_updates;
zr_status fake_update(zr_session*, zr_template* enrolled, zr_template** out_enrolled, zr_template* probe,
                      zr_template** out_probe, zr_alignment*) {
    ++g_updates;
    *out_enrolled = zr_template_copy(enrolled);
    *out_probe = zr_template_copy(probe);
    return ZR_OK;
}
const zr_verifier_descriptor kUpdating = {fake_extract<0>, nullptr, fake_verify, fake_update};

}  // namespace

TEST(verify_chain, UpdateTemplatesAcceptsOnTheLog2ScoreAlone) {
    chain_owner c;
    c.add(&kUpdating);
    template_array a({1, 2, 3});
    for (auto& s : g_scripts) s = {};
    g_updates = 0;
    // No model: the raw score is the log2 score; level 12 needs above 27213.
    g_scripts[0].raw = {{1, 27214}, {2, 27213}};
    zr_template* before_probe = a.t[2];
    zr_template* before_first = a.t[0];
    zr_chain_rank_result r[8] = {};
    uint8_t n = 2;
    ASSERT_EQ(ZR_OK, zr_multitemplate_update_templates(a.t.data(), 3, c.chain, nullptr, 2, 12, &n, r, nullptr));
    EXPECT_EQ(std::vector<uint8_t>({1, 2}), g_scripts[0].compared);
    ASSERT_EQ(2, n);
    EXPECT_EQ(0u, r[0].index);
    EXPECT_EQ(1u, r[0].accepted);
    EXPECT_EQ(0u, r[1].accepted);
    EXPECT_EQ(1, g_updates);
    EXPECT_NE(before_probe, a.t[2]);  // both places of the array replaced
    EXPECT_NE(before_first, a.t[0]);
    release(r, n);

    n = 2;
    EXPECT_EQ(ZR_BAD_ARGUMENT,
              zr_multitemplate_update_templates(a.t.data(), 3, c.chain, nullptr, 3, 12, &n, r, nullptr));
}

// --- chain and links ---

TEST(algorithm_chain, LinksAndFlags) {
    zr_algorithm_link* l = zr_algorithm_link_create(nullptr, 67, nullptr, &vandrel_verifier, 2, 5);
    ASSERT_NE(nullptr, l);
    EXPECT_EQ(255, zr_algorithm_link_get_nbr_of_subtemplates(l));
    EXPECT_EQ(0, zr_algorithm_link_get_flags(l));
    uint32_t level = 7;
    uint8_t count = 0;
    EXPECT_EQ(0u, zr_algorithm_get_early_reject(l, &level, &count));
    EXPECT_EQ(0u, level);
    EXPECT_EQ(255, count);
    zr_algorithm_set_early_reject(l, 12, 3);
    EXPECT_EQ(1u, zr_algorithm_get_early_reject(l, &level, &count));
    EXPECT_EQ(12u, level);
    EXPECT_EQ(3, count);
    EXPECT_TRUE(zr_algorithm_link_pass_on_feature_scores(l));
    zr_algorithm_link_set_flag(l, ZR_LINK_DROP_SCORES | ZR_LINK_AFTER_ACCEPT);
    EXPECT_FALSE(zr_algorithm_link_pass_on_feature_scores(l));
    zr_algorithm_link_clear_flag(l, ZR_LINK_DROP_SCORES);
    EXPECT_EQ(ZR_LINK_AFTER_ACCEPT, zr_algorithm_link_get_flags(l));
    EXPECT_EQ(0, zr_algorithm_link_get_nbr_of_subtemplates(nullptr));

    zr_algorithm_chain* chain = zr_algorithm_chain_create();
    zr_algorithm_link* a = zr_algorithm_link_create(nullptr, 67, nullptr, &vandrel_verifier, 0, 0);
    zr_algorithm_link* b = zr_algorithm_link_create(nullptr, 67, nullptr, &vandrel_verifier, 0, 0);
    zr_algorithm_chain_append_link(chain, a);
    zr_algorithm_chain_append_link(chain, b);
    zr_algorithm_chain_append_link(chain, l);
    uint8_t skipped = 9;
    EXPECT_EQ(l, zr_algorithm_link_get_next_with_flags(a, ZR_LINK_AFTER_ACCEPT, &skipped));
    EXPECT_EQ(1, skipped);
    EXPECT_EQ(nullptr, zr_algorithm_link_get_next_with_flags(l, 0xFFFF, &skipped));
    EXPECT_EQ(0, skipped);
    EXPECT_EQ(nullptr, zr_algorithm_chain_get_last_extractor(chain));
    EXPECT_EQ(a, zr_algorithm_chain_remove_link(chain, b));
    EXPECT_EQ(2u, zr_algorithm_chain_get_nbr_of_links(chain));
    EXPECT_EQ(l, zr_algorithm_link_get_next(a));
    EXPECT_EQ(a, zr_algorithm_link_get_previous(l));
    EXPECT_EQ(nullptr, zr_algorithm_link_get_next(b));
    zr_algorithm_link_delete(b);
    zr_algorithm_chain_delete(chain);
    EXPECT_EQ(nullptr, zr_algorithm_chain_get_first_link(nullptr));
}
