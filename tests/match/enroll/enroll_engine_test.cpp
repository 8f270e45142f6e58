// The enrolment engine over a scripted algorithm: captures are images whose
// first pixel names a canned template, and a one-link chain whose verifier
// reads the outcome of each pair (score and pose) from a script.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <utility>
#include <vector>

#include "match/zr_algorithm.h"
#include "match/verifiers/zr_far_table.h"
#include "match/multitemplate/zr_multitemplate.h"
#include "match/enroll/zr_multitemplate_enroll.h"
#include "match/multitemplate/zr_multitemplate_manager.h"
#include "objects/zr_alloc.h"

namespace {

constexpr uint32_t kType = 67;
constexpr uint16_t kAcceptRaw = 60000;
constexpr uint16_t kRows = 200;  // capture 150 wide, 200 high at 500 dpi
constexpr uint16_t kCols = 150;
constexpr uint8_t kQualityFlagged = 0x80;  // second pixel: generation quality bit 0
constexpr uint8_t kExtractFails = 0;       // first pixel 0: extraction fails

struct pose {
    int16_t dx;  // pixels
    int16_t dy;
    uint8_t rotation;
};

struct engine_script {
    std::map<std::pair<uint8_t, uint8_t>, pose> accepts;  // (enrolled, probe)
    int extractions = 0;
    std::vector<std::pair<uint32_t, void*>> feedback;
    std::vector<std::pair<uint32_t, uint32_t>> progress;
    int canvas_calls = 0;
    std::vector<std::vector<zr_enroll_leaf>> islands;  // of the last islands call
};
engine_script g;

uint8_t id_of(const zr_template* t) { return zr_template_get_data(t)[0]; }

zr_status scripted_features(zr_session*, zr_template* enrolled, zr_template* probe, uint16_t** out,
                            uint16_t* count, zr_alignment** alignment) {
    auto it = g.accepts.find({id_of(enrolled), id_of(probe)});
    auto back = g.accepts.find({id_of(probe), id_of(enrolled)});
    *out = static_cast<uint16_t*>(zr_malloc(sizeof(uint16_t)));
    (*out)[0] = it != g.accepts.end() || back != g.accepts.end() ? kAcceptRaw : 0;
    *count = 1;
    if (alignment != nullptr) {
        zr_alignment_delete(*alignment);
        *alignment = nullptr;
        if (it != g.accepts.end())
            *alignment = zr_alignment_create(it->second.dx, it->second.dy,
                                             it->second.rotation);
        else if (back != g.accepts.end())
            *alignment = zr_alignment_create(int16_t(-back->second.dx), int16_t(-back->second.dy),
                                             uint8_t(-back->second.rotation));
    }
    return ZR_OK;
}

zr_status score_is_feature(zr_session*, zr_template*, zr_template*, const uint16_t* scores, uint16_t count,
                           const zr_vermodel*, uint16_t* out) {
    *out = count > 0 ? scores[0] : 0;
    return ZR_OK;
}

const zr_verifier_descriptor kScripted = {scripted_features, nullptr, score_is_feature, nullptr};

struct identity_rows {
    zr_threshold_table t{};
    identity_rows() {
        for (auto& row : t)
            for (uint32_t l = 0; l < ZR_FAR_LEVELS; ++l) row[l] = zr_far_thresholds[l];
    }
};
const identity_rows kIdentity;
const uint8_t kCoefficients[16] = {};
const zr_vermodel kModel = {&kScripted, 0, kCoefficients, 16, 1, zr_ml_compute_score_linear, &kIdentity.t};
const zr_vermodel* const kModels[] = {&kModel, nullptr};

zr_status canned_extract(zr_algorithm*, zr_image* image, zr_finger*, zr_template** inout) {
    ++g.extractions;
    const uint8_t* p = zr_image_get_pixels(image);
    if (p[0] == kExtractFails) return ZR_BAD_DATA;
    const uint8_t data[4] = {p[0], 1, 2, 3};
    *inout = zr_template_create(kType, data, 4);
    zr_template_set_generation_quality(*inout, p[1] == kQualityFlagged ? 1 : 0);
    return ZR_OK;
}
const zr_extract_template_fn kCannedExtract = canned_extract;

uint32_t on_feedback(zr_session*, uint32_t code, void* data) {
    g.feedback.push_back({code, data});
    return 0;
}
uint32_t on_islands(zr_session*, zr_enroll_island* islands, uint8_t count) {
    g.islands.clear();
    for (uint8_t i = 0; i < count; ++i)
        g.islands.emplace_back(islands[i].leaves, islands[i].leaves + islands[i].nbr_of_leaves);
    return 1;
}
uint32_t on_canvas(zr_session*, zr_image*) {
    ++g.canvas_calls;
    return 1;
}
uint32_t on_progress(zr_session*, uint32_t accepted, uint32_t max) {
    g.progress.push_back({accepted, max});
    return 1;
}
const zr_enroll_callbacks kCallbacks = {on_feedback, on_islands, on_canvas, nullptr, on_progress,
                                        nullptr,     nullptr,    nullptr};

zr_image* capture(uint8_t id, uint8_t quality = 0, uint16_t dpi = 500) {
    std::vector<uint8_t> px(size_t(kRows) * kCols, 128);
    px[0] = id;
    px[1] = quality;
    return zr_image_create(kRows, kCols, dpi, dpi, px.data(), 0);
}

struct fixture_algorithm {
    zr_session* session = zr_session_create();
    zr_algorithm* algorithm = nullptr;
    zr_finger* finger = zr_finger_create(3, nullptr);
    fixture_algorithm() {
        g = engine_script{};
        zr_algorithm_chain* chain = zr_algorithm_chain_create();
        zr_algorithm_chain_append_link(chain, zr_algorithm_link_create(nullptr, kType, nullptr, &kScripted, 0, 0));
        const uint32_t on[] = {0};
        algorithm = zr_algorithm_create(session, chain, kType, 1, 8, on, 1, on, 1, nullptr);
        zr_algorithm_set_extract_override(algorithm, &kCannedExtract);
        zr_algorithm_set_vermodels(algorithm, kModels);
    }
    ~fixture_algorithm() {
        zr_finger_delete(finger);
        zr_algorithm_delete(algorithm);
        zr_session_delete(session);
    }
    zr_multitemplate_enroll* enroll(uint16_t n, zr_image* base = nullptr, uint32_t veto = 0,
                                    const zr_enroll_callbacks* callbacks = &kCallbacks) {
        zr_enroll_options o = zr_enroll_options_default(n);
        o.base_image = base;
        o.capture_veto = veto;
        return zr_multitemplate_enroll_create(algorithm, session, finger, nullptr, callbacks, kType, &o);
    }
};

zr_status run(zr_multitemplate_enroll* e, uint8_t id, uint8_t* coverage = nullptr, uint8_t quality = 0) {
    zr_image* img = capture(id, quality);
    zr_status rc = zr_multitemplate_enroll_run(e, img, nullptr, coverage);
    zr_image_delete(img);
    return rc;
}

std::vector<uint32_t> codes_since(size_t from) {
    std::vector<uint32_t> v;
    for (size_t i = from; i < g.feedback.size(); ++i) v.push_back(g.feedback[i].first);
    return v;
}

using codes = std::vector<uint32_t>;

TEST(EnrollEngine, FeedbackAcceptedCountsAndRejectedRecords) {
    fixture_algorithm f;
    zr_multitemplate_enroll* e = f.enroll(6);
    ASSERT_NE(nullptr, e);
    EXPECT_EQ(e, zr_session_get_context(f.session, ZR_CONTEXT_ENROLLMENT));
    g.accepts[{1, 2}] = {60, 0, 0};   // 2 overlaps 1, moved
    g.accepts[{2, 3}] = {0, 1, 0};    // 3 lies on 2: not moved
    g.accepts[{1, 3}] = {60, 1, 0};
    g.accepts[{1, 5}] = {2, 2, 0};    // 5 lies on 1, an earlier capture
    g.accepts[{2, 5}] = {-58, 2, 0};
    const struct {
        uint8_t id;
        codes expected;
        uint16_t accepted;
    } steps[] = {
        {1, {8203}, 1},
        {2, {8203}, 2},
        {3, {8203, 4103, 61441}, 2},
        {4, {8203, 4104}, 3},  // overlaps nothing
        {5, {8203, 61441}, 3},
    };
    for (const auto& s : steps) {
        size_t from = g.feedback.size();
        EXPECT_EQ(ZR_OK, run(e, s.id)) << int(s.id);
        EXPECT_EQ(s.expected, codes_since(from)) << int(s.id);
        EXPECT_EQ(s.accepted, zr_multitemplate_enroll_get_nbr_of_captures(e));
        EXPECT_EQ(std::make_pair(uint32_t(s.accepted), uint32_t(6)), g.progress.back());
    }
    // The data: the finger, except 0 for 61441.
    for (const auto& [code, data] : g.feedback) EXPECT_EQ(code == 61441 ? nullptr : f.finger, data) << code;
    std::vector<std::pair<uint8_t, uint32_t>> records;
    for (zr_mte_capture* c = e->first_capture; c != nullptr; c = c->next) records.push_back({id_of(c->tmpl), c->rejected});
    EXPECT_EQ((std::vector<std::pair<uint8_t, uint32_t>>{{1, 0}, {2, 0}, {3, 1}, {4, 0}, {5, 1}}), records);
    // Matches and their inverses, none left for rejected captures.
    ASSERT_NE(nullptr, e->matrix[0 * 6 + 1]);
    EXPECT_EQ(e->templates[0], zr_match_get_template1(e->matrix[0 * 6 + 1]));
    EXPECT_EQ(e->templates[1], zr_match_get_template2(e->matrix[0 * 6 + 1]));
    EXPECT_EQ(e->templates[1], zr_match_get_template1(e->matrix[1 * 6 + 0]));
    // Capture 4 matched nothing, but was compared: the rejects are kept both ways.
    ASSERT_NE(nullptr, e->matrix[0 * 6 + 2]);
    ASSERT_NE(nullptr, e->matrix[2 * 6 + 0]);
    EXPECT_EQ(0u, zr_match_is_accept(e->matrix[0 * 6 + 2]));
    EXPECT_EQ(0u, zr_match_is_accept(e->matrix[2 * 6 + 0]));
    // The rejected captures left no matrix entry behind: row and column 3 are empty.
    for (int k = 0; k < 6; ++k) EXPECT_EQ(nullptr, e->matrix[3 * 6 + k]);
    zr_multitemplate_enroll_delete(e);
    EXPECT_EQ(nullptr, zr_session_get_context(f.session, ZR_CONTEXT_ENROLLMENT));
}

TEST(EnrollEngine, CompleteAfterNCapturesWithoutExtraction) {
    fixture_algorithm f;
    zr_multitemplate_enroll* e = f.enroll(6);
    for (uint8_t id = 1; id <= 6; ++id) ASSERT_EQ(ZR_OK, run(e, id));
    EXPECT_EQ(6, zr_multitemplate_enroll_get_nbr_of_captures(e));
    const int extractions = g.extractions;
    const size_t feedback = g.feedback.size();
    EXPECT_EQ(ZR_ENROLL_COMPLETE, run(e, 7));
    EXPECT_EQ(extractions, g.extractions);
    EXPECT_EQ(feedback, g.feedback.size());
    zr_multitemplate_enroll_delete(e);
}

TEST(EnrollEngine, QualityCheckAndExtractionFailures) {
    fixture_algorithm f;
    zr_multitemplate_enroll* e = f.enroll(6);
    ASSERT_EQ(ZR_OK, run(e, 1));
    ASSERT_EQ(ZR_OK, zr_session_set_int(f.session, "zr.dynupdate.use_quality_check", 1));
    uint8_t coverage = 77;
    size_t from = g.feedback.size();
    size_t progress = g.progress.size();
    EXPECT_EQ(ZR_OK, run(e, 2, &coverage, kQualityFlagged));
    EXPECT_EQ((codes{8203, 4104}), codes_since(from));
    EXPECT_EQ(nullptr, g.feedback.back().second);
    EXPECT_EQ(0, coverage);
    EXPECT_EQ(1, zr_multitemplate_enroll_get_nbr_of_captures(e));
    EXPECT_EQ(1u, e->nbr_of_capture_records);
    EXPECT_EQ(progress, g.progress.size());

    from = g.feedback.size();
    EXPECT_EQ(ZR_BAD_DATA, run(e, kExtractFails));
    EXPECT_EQ((codes{8203}), codes_since(from));
    // An image without resolution cannot give a capture size.
    zr_image* no_dpi = capture(3, 0, 0);
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_multitemplate_enroll_run(e, no_dpi, nullptr, nullptr));
    zr_image_delete(no_dpi);
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_multitemplate_enroll_run(nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_multitemplate_enroll_run(e, nullptr, nullptr, nullptr));
    EXPECT_EQ(1, zr_multitemplate_enroll_get_nbr_of_captures(e));
    zr_multitemplate_enroll_delete(e);
}

TEST(EnrollEngine, CreationRefusals) {
    fixture_algorithm f;
    EXPECT_EQ(nullptr, f.enroll(0));
    zr_multitemplate_enroll* e = f.enroll(4);
    ASSERT_NE(nullptr, e);
    EXPECT_EQ(nullptr, f.enroll(4));  // one enrolment per session
    EXPECT_EQ(&kCallbacks, zr_multitemplate_getgui(e));
    EXPECT_EQ(f.session, zr_mte_get_session(e));
    EXPECT_EQ(12u, e->far_level);
    zr_multitemplate_enroll_delete(e);
    EXPECT_EQ(nullptr, zr_multitemplate_getgui(nullptr));
}

// Slot 5 under the capture veto: its result and the flag it leaves decide.
struct veto_reply {
    uint32_t result;
    uint32_t flag;  // written back when result is 0
};
veto_reply g_veto;
int g_veto_calls = 0;
uint32_t on_duplicate(zr_session*, uint32_t* inout) {
    ++g_veto_calls;
    if (g_veto.result == 0) *inout = g_veto.flag;
    return g_veto.result;
}

TEST(EnrollEngine, CaptureVetoDecidesOnDuplicates) {
    zr_enroll_callbacks with_veto = kCallbacks;
    with_veto.duplicate_decision = on_duplicate;
    const struct {
        const zr_enroll_callbacks* callbacks;
        veto_reply reply;
        uint16_t accepted;
        int calls;
    } cases[] = {
        {&with_veto, {0, 1}, 1, 1},   // the flag stays: set aside
        {&with_veto, {0, 0}, 2, 1},   // the flag cleared: accepted
        {&with_veto, {1, 1}, 2, 1},   // non-zero: accepted whatever the flag
        {&kCallbacks, {0, 1}, 2, 0},  // no slot 5: accepted
    };
    for (const auto& c : cases) {
        fixture_algorithm f;
        g.accepts[{1, 2}] = {0, 0, 0};
        g_veto = c.reply;
        g_veto_calls = 0;
        zr_multitemplate_enroll* e = f.enroll(6, nullptr, 1, c.callbacks);
        ASSERT_EQ(ZR_OK, run(e, 1));
        ASSERT_EQ(ZR_OK, run(e, 2));
        EXPECT_EQ(c.accepted, zr_multitemplate_enroll_get_nbr_of_captures(e));
        EXPECT_EQ(c.calls, g_veto_calls);
        // 4103 comes from the duplicate test itself, before the veto.
        EXPECT_EQ(4103u, g.feedback[2].first);
        zr_multitemplate_enroll_delete(e);
    }
}

// --- geometry: coverage against a floating-point hull ---

double cross(std::pair<double, double> o, std::pair<double, double> a, std::pair<double, double> b) {
    return (a.first - o.first) * (b.second - o.second) - (a.second - o.second) * (b.first - o.first);
}

double hull_area(std::vector<std::pair<double, double>> p) {
    std::sort(p.begin(), p.end());
    p.erase(std::unique(p.begin(), p.end()), p.end());
    if (p.size() < 3) return 0;
    std::vector<std::pair<double, double>> h(2 * p.size());
    size_t k = 0;
    for (size_t i = 0; i < p.size(); ++i) {
        while (k >= 2 && cross(h[k - 2], h[k - 1], p[i]) <= 0) --k;
        h[k++] = p[i];
    }
    for (size_t i = p.size() - 1, t = k + 1; i-- > 0;) {
        while (k >= t && cross(h[k - 2], h[k - 1], p[i]) <= 0) --k;
        h[k++] = p[i];
    }
    double a = 0;
    for (size_t i = 0; i + 1 < k; ++i) a += h[i].first * h[i + 1].second - h[i + 1].first * h[i].second;
    return std::fabs(a) / 2;
}

// Translated copies of the capture rectangle.
uint8_t expected_percent(const std::vector<std::pair<int, int>>& shifts) {
    std::vector<std::pair<double, double>> pts;
    for (auto [dx, dy] : shifts)
        for (auto [x, y] : {std::pair{0, 0}, {kCols, 0}, {kCols, kRows}, {0, kRows}})
            pts.push_back({double(x + dx), double(y + dy)});
    return uint8_t(std::min(100.0, std::floor(hull_area(pts) * 100 / 87500)));
}

TEST(EnrollEngine, CoverageFollowsTheHullAndNeverDecreases) {
    fixture_algorithm f;
    zr_multitemplate_enroll* e = f.enroll(6);
    g.accepts[{1, 2}] = {60, 0, 0};
    g.accepts[{1, 3}] = {0, 90, 0};
    g.accepts[{1, 4}] = {1, 1, 0};  // duplicate: drawn, not counted
    g.accepts[{1, 5}] = {120, 150, 0};
    uint8_t c = 0;
    ASSERT_EQ(ZR_OK, run(e, 1, &c));
    EXPECT_EQ(expected_percent({{0, 0}}), c);
    ASSERT_EQ(ZR_OK, run(e, 2, &c));
    const uint8_t two = c;
    // The sign of a shift does not change the hull of two rectangles.
    EXPECT_EQ(expected_percent({{0, 0}, {60, 0}}), two);
    ASSERT_EQ(ZR_OK, run(e, 3, &c));
    EXPECT_GE(c, two);
    ASSERT_EQ(ZR_OK, run(e, 4, &c));
    EXPECT_EQ(61441u, g.feedback.back().first);
    // Coverage from the corners reported to the islands callback, duplicates left out.
    std::vector<std::pair<double, double>> pts;
    bool saw_rejected = false;
    for (const zr_enroll_leaf& l : g.islands.at(0)) {
        if (l.flags & ZR_ENROLL_LEAF_REJECTED) {
            saw_rejected = true;
            continue;
        }
        for (const bal_point& p : l.corners) pts.push_back({double(p.x), double(p.y)});
    }
    EXPECT_TRUE(saw_rejected);
    EXPECT_EQ(uint8_t(std::floor(hull_area(pts) * 100 / 87500)), c);
    const uint8_t before = c;
    ASSERT_EQ(ZR_OK, run(e, 5, &c));
    EXPECT_GE(c, before);
    EXPECT_LE(c, 100);
    // Far apart captures in their own islands do not lower what was reported.
    ASSERT_EQ(ZR_OK, run(e, 6, &c));
    EXPECT_GE(c, before);
    zr_multitemplate_enroll_delete(e);
}

TEST(EnrollEngine, IslandTopsStayAndLonelyCapturesGetTheirOwn) {
    fixture_algorithm f;
    zr_multitemplate_enroll* e = f.enroll(6);
    g.accepts[{1, 2}] = {40, 0, 0};
    g.accepts[{2, 4}] = {40, 0, 0};
    ASSERT_EQ(ZR_OK, run(e, 1));
    ASSERT_EQ(1u, g.islands.size());
    ASSERT_EQ(ZR_OK, run(e, 2));
    ASSERT_EQ(1u, g.islands.size());
    const uint8_t top = id_of(g.islands[0][0].tmpl);
    ASSERT_EQ(ZR_OK, run(e, 3));  // alone
    ASSERT_EQ(2u, g.islands.size());
    EXPECT_EQ(1u, g.islands[1].size());
    EXPECT_EQ(3, id_of(g.islands[1][0].tmpl));
    EXPECT_EQ(ZR_ENROLL_LEAF_LATEST, g.islands[1][0].flags);
    ASSERT_EQ(ZR_OK, run(e, 4));
    ASSERT_EQ(3u, g.islands[0].size());
    EXPECT_EQ(top, id_of(g.islands[0][0].tmpl));
    // The top leaf is the island's origin.
    EXPECT_EQ(0, g.islands[0][0].corners[0].x);
    EXPECT_EQ(0, g.islands[0][0].corners[0].y);
    EXPECT_EQ(kCols, g.islands[0][0].corners[2].x);
    EXPECT_EQ(kRows, g.islands[0][0].corners[2].y);
    zr_multitemplate_enroll_delete(e);
}

TEST(EnrollEngine, ResetKeepsTheCaptureAndMatchLists) {
    fixture_algorithm f;
    zr_multitemplate_enroll* e = f.enroll(3);
    g.accepts[{1, 2}] = {40, 0, 0};
    ASSERT_EQ(ZR_OK, run(e, 1));
    ASSERT_EQ(ZR_OK, run(e, 2));
    ASSERT_EQ(ZR_OK, zr_mte_reset(e));
    EXPECT_EQ(0, zr_multitemplate_enroll_get_nbr_of_captures(e));
    EXPECT_EQ(2u, e->nbr_of_capture_records);
    EXPECT_EQ(1u, e->matches.count);
    ASSERT_EQ(ZR_OK, run(e, 9));
    // Earlier captures still form their island with the new one beside it.
    ASSERT_EQ(2u, g.islands.size());
    EXPECT_EQ(2u, g.islands[0].size());
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_mte_reset(nullptr));
    zr_multitemplate_enroll_delete(e);
}

TEST(EnrollEngine, CanvasShowsTheLatestCapture) {
    fixture_algorithm f;
    std::vector<uint8_t> px(size_t(kRows) * kCols);
    for (size_t i = 0; i < px.size(); ++i) px[i] = uint8_t(i % 200);
    zr_image* base = zr_image_create(kRows, kCols, 500, 500, px.data(), 0);
    zr_multitemplate_enroll* e = f.enroll(6, base);
    ASSERT_NE(nullptr, e);
    EXPECT_EQ(1, g.canvas_calls);
    ASSERT_NE(nullptr, e->canvas);
    EXPECT_EQ(kRows + 100, zr_image_get_rows(e->canvas));
    EXPECT_EQ(kCols + 100, zr_image_get_cols(e->canvas));
    // Before any capture: the margin white, the image brightened by 75 per cent.
    const uint8_t* c0 = zr_image_get_pixels(e->canvas);
    EXPECT_EQ(255, c0[0]);
    EXPECT_GT(c0[60 * (kCols + 100) + 60], px[10 * kCols + 10]);
    ASSERT_EQ(ZR_OK, run(e, 1));
    EXPECT_EQ(2, g.canvas_calls);
    // One capture centred: its inside shows the base image unchanged, its
    // border is black.
    const uint8_t* c = zr_image_get_pixels(e->canvas);
    const int32_t cc = kCols + 100;
    EXPECT_EQ(50, e->canvas_offset_x);
    EXPECT_EQ(50, e->canvas_offset_y);
    EXPECT_EQ(px[100 * kCols + 70], c[150 * cc + 120]);
    EXPECT_EQ(0, c[50 * cc + 80]);
    // Captures reaching past the canvas are clipped to it.
    g.accepts[{1, 2}] = {400, -300, 0};
    ASSERT_EQ(ZR_OK, run(e, 2));
    EXPECT_EQ(3, g.canvas_calls);
    EXPECT_EQ(kRows + 100, zr_image_get_rows(e->canvas));
    zr_multitemplate_enroll_delete(e);
    zr_image_delete(base);
}

TEST(EnrollEngine, FinalisedTemplateCarriesInstanceItems) {
    fixture_algorithm f;
    zr_multitemplate_enroll* e = f.enroll(6);
    g.accepts[{1, 2}] = {40, 0, 0};
    g.accepts[{1, 3}] = {0, 50, 0};
    g.accepts[{2, 3}] = {-40, 50, 0};
    for (uint8_t id = 1; id <= 3; ++id) ASSERT_EQ(ZR_OK, run(e, id));
    zr_template* out = nullptr;
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_multitemplate_enroll_finalize_template(e, 8, nullptr));
    ASSERT_EQ(ZR_OK, zr_multitemplate_enroll_finalize_template(e, 8, &out));
    ASSERT_NE(nullptr, out);
    EXPECT_EQ(80u, zr_template_get_type(out));
    EXPECT_EQ(0, memcmp(zr_template_get_data(out), "ZRMT", 4));
    zr_multitemplate* mt = nullptr;
    ASSERT_EQ(ZR_OK, zr_multitemplate_decode(out, &mt));
    EXPECT_EQ(3u, zr_multitemplate_get_nbr_of_instances(mt));
    int32_t id = int32_t(ZR_MT_GLOBAL);
    uint32_t seen = 0;
    while (zr_multitemplate_next_tag(mt, &id) != 0) {
        uint16_t len1 = 0, len2 = 0;
        EXPECT_NE(nullptr, zr_multitemplate_get_metadata(mt, uint32_t(id), ZR_MTM_TAG_INSTANCE, &len1));
        EXPECT_EQ(6, len1);
        EXPECT_NE(nullptr, zr_multitemplate_get_metadata(mt, uint32_t(id), ZR_MTM_TAG_ISLAND, &len2));
        EXPECT_EQ(1, len2);
        ++seen;
    }
    EXPECT_EQ(3u, seen);
    zr_multitemplate_delete(mt);
    zr_template_delete(out);
    zr_multitemplate_enroll_delete(e);
}

}  // namespace
