// Multi-template selection: strategies, settings, coverage picks, budgets,
// the match matrix with scripted verifiers, incremental enrolment.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "formats/bal_template_container.h"
#include "formats/zr_iso19794_2.h"
#include "match/chain/zr_algorithm_chain.h"
#include "match/multitemplate/zr_mtm.h"
#include "match/update/zr_mtm_enroll.h"
#include "objects/zr_alloc.h"

namespace {

// --- helpers ---

struct manager_ptr {
    zr_multitemplate_manager* m;
    explicit manager_ptr(zr_multitemplate_manager* manager) : m(manager) {}
    ~manager_ptr() { zr_multitemplate_manager_delete(m); }
};

struct entries_holder {
    std::vector<zr_mtm_entry*> items;
    ~entries_holder() {
        for (zr_mtm_entry* e : items) zr_mtm_template_delete(e);
    }
};

zr_template* blob(uint32_t size, uint8_t fill) {
    std::vector<uint8_t> bytes(size, fill);
    return zr_template_create(ZR_TEMPLATE_EHM, size > 0 ? bytes.data() : nullptr, size);
}

// ISO 19794-2 record of a 176 x 96 image with the given minutiae (x, y).
zr_template* iso_template(const std::vector<std::pair<int, int>>& points) {
    minutiastruct m{};
    m.rows = 176;
    m.cols = 96;
    m.resolution = ZR_EXTRACT_RESOLUTION_PPCM;
    m.quality = 60;
    m.count = uint8_t(points.size());
    for (size_t i = 0; i < points.size(); ++i) {
        m.minutiae[i] = {int16_t(points[i].second), int16_t(points[i].first), uint8_t(i * 7), 1, 50, 0};
    }
    uint8_t* record = nullptr;
    EXPECT_EQ(ZR_OK, zr_minutiastruct_to_iso19794_2(&m, &record));
    zr_template* t = zr_template_create(ZR_TEMPLATE_ISO19794_2, record, uint32_t(30 + 6 * points.size()));
    std::free(record);
    return t;
}

// Brute-force coverage: distinct 20-pixel cells (floor division) holding a
// point of any entry but the skipped one.
uint32_t brute_coverage(const std::vector<zr_mtm_entry*>& list, size_t skip) {
    std::set<std::pair<long, long>> cells;
    for (size_t i = 0; i < list.size(); ++i) {
        if (i == skip) continue;
        for (uint32_t p = 0; p < list[i]->point_count; ++p) {
            long cx = static_cast<long>(std::floor(list[i]->points[p].x / 20.0));
            long cy = static_cast<long>(std::floor(list[i]->points[p].y / 20.0));
            cells.insert({cx, cy});
        }
    }
    return uint32_t(cells.size());
}

void give_points(zr_mtm_entry* e, const std::vector<zr_mtm_point>& pts) {
    std::free(e->points);
    e->points = static_cast<zr_mtm_point*>(std::malloc(std::max<size_t>(1, pts.size()) * sizeof(zr_mtm_point)));
    std::copy(pts.begin(), pts.end(), e->points);
    e->point_count = uint32_t(pts.size());
}

uint64_t reference_xorshift64star(uint64_t* s) {
    uint64_t x = *s;
    x ^= x >> 12;
    x ^= x << 25;
    x ^= x >> 27;
    *s = x;
    return x * 0x2545F4914F6CDD1DULL;
}

// --- scripted verifier ---

struct script {
    std::vector<zr_template*> templates;            // index of a template object
    std::map<std::pair<int, int>, uint16_t> score;  // (enrolled, probe)
    std::vector<std::pair<int, int>> compared;
    int index_of(const zr_template* t) const {
        for (size_t i = 0; i < templates.size(); ++i) {
            if (templates[i] == t) return int(i);
        }
        return -1;
    }
};
script* g_script = nullptr;

zr_status scripted_extract(zr_session*, zr_template* enrolled, zr_template* probe, uint16_t** out_scores,
                           uint16_t* out_count, zr_alignment** inout_alignment) {
    int e = g_script->index_of(enrolled);
    int p = g_script->index_of(probe);
    g_script->compared.push_back({e, p});
    auto* scores = static_cast<uint16_t*>(zr_malloc(sizeof(uint16_t)));
    auto it = g_script->score.find({e, p});
    scores[0] = it != g_script->score.end() ? it->second : 0;
    *out_scores = scores;
    *out_count = 1;
    zr_alignment_delete(*inout_alignment);
    *inout_alignment = zr_alignment_create(0, 0, 0);
    return ZR_OK;
}

zr_status scripted_verify(zr_session*, zr_template*, zr_template*, const uint16_t* scores, uint16_t count,
                          const zr_vermodel*, uint16_t* out_score) {
    *out_score = count > 0 ? scores[count - 1] : 0;
    return ZR_OK;
}

const zr_verifier_descriptor kScriptedVerifier{scripted_extract, scripted_extract, scripted_verify, nullptr};

struct scripted_chain {
    zr_algorithm_chain* chain = zr_algorithm_chain_create();
    scripted_chain() {
        zr_algorithm_chain_append_link(chain,
                                       zr_algorithm_link_create(nullptr, ZR_TEMPLATE_ISO19794_2, nullptr,
                                                                &kScriptedVerifier, 0, 0));
    }
    ~scripted_chain() { zr_algorithm_chain_delete(chain); }
};

constexpr uint16_t kAccept = 60000;

// --- strategies and settings ---

TEST(MtmStrategy, ReplacementStrategiesChoosePickAndStoredValue) {
    struct row {
        uint32_t value;
        zr_mtm_pick_fn pick;
        uint32_t stored;
    } rows[] = {
        {2, pick_random_template, 2},  {5, pick_random_template, 2},
        {3, pick_first_template, 3},   {4, pick_first_template, 4},
        {0, find_least_contributing_template, 0}, {7, find_least_contributing_template, 7},
    };
    for (const row& r : rows) {
        manager_ptr m(zr_multitemplate_manager_create(5));
        ASSERT_EQ(ZR_OK, zr_mtm_set_enroll_strategy_2(m.m));
        ASSERT_EQ(ZR_OK, zr_mtm_set_replacement_strategy(m.m, r.value));
        EXPECT_EQ(r.pick, zr_mtm_pick_operation(m.m)) << r.value;
        EXPECT_EQ(r.stored, m.m->strategy.replacement_strategy) << r.value;
        // Only the least-contributing strategies reset the prune operation.
        zr_mtm_prune_fn prune = r.pick == find_least_contributing_template ? prune_template_1 : prune_template_2;
        EXPECT_EQ(prune, zr_mtm_prune_operation(m.m)) << r.value;
    }
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_mtm_set_replacement_strategy(nullptr, 2));
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_mtm_set_matching_tag(nullptr, 2));
    zr_mtm_set_image_quality(nullptr, 3);  // nothing for a missing manager
}

TEST(MtmStrategy, DecodeFlagsNeedsSixBytes) {
    const uint8_t item[6] = {0, 1, 0, 2, 3, 0x06};
    EXPECT_EQ(0x06, zr_mtm_decode_flags(item, 6));
    EXPECT_EQ(0, zr_mtm_decode_flags(item, 5));
    EXPECT_EQ(0, zr_mtm_decode_flags(nullptr, 6));
}

// --- size estimate ---

zr_multitemplate_manager* manager_with_sizes(uint8_t max, uint32_t max_size, const std::vector<uint32_t>& sizes) {
    zr_multitemplate_manager* m = zr_multitemplate_manager_create(max);
    zr_multitemplate_manager_set_max_template_size(m, max_size);
    for (uint32_t s : sizes) {
        zr_template* t = blob(s, 1);
        uint32_t id = 0;
        EXPECT_EQ(ZR_OK, zr_multitemplate_add_instance_no_tag(m->mt, t, &id));
        zr_template_delete(t);
    }
    return m;
}

TEST(MtmEstimate, MeanSizeDecidesHowManyFit) {
    struct row {
        uint8_t max;
        uint32_t max_size;
        std::vector<uint32_t> sizes;
        uint32_t expected;
    } rows[] = {
        {20, 10000, {1200, 1400}, 8},  // (10000 + 650 - 39) / 1300
        {5, 10000, {1200, 1400}, 5},   // capped by the maximum
        {20, 0, {1200, 1400}, 20},     // no size limit
        {20, 10000, {}, 20},           // nothing stored
        {20, 10000, {0, 0}, 20},       // empty templates: no mean to divide by
    };
    for (const row& r : rows) {
        manager_ptr m(manager_with_sizes(r.max, r.max_size, r.sizes));
        EXPECT_EQ(r.expected, zr_mtm_estimate_max_nbr_of_templates(m.m)) << r.max_size;
    }
}

// --- coverage and picks on point sets ---

TEST(MtmPick, LeastContributingMatchesBruteForceOnRandomPointSets) {
    std::mt19937 rng(1234);
    std::uniform_int_distribution<int> coord(-60, 200);
    std::uniform_int_distribution<int> npts(0, 12);
    for (int trial = 0; trial < 200; ++trial) {
        entries_holder holder;
        const int n = 2 + trial % 7;
        std::vector<zr_mtm_island_counter> counters = {{0, 0}, {1, 0}, {2, 0}};
        for (int i = 0; i < n; ++i) {
            zr_template* t = blob(10, uint8_t(i));
            zr_mtm_entry* e = zr_mtm_template_create(t);
            zr_template_delete(t);
            std::vector<zr_mtm_point> pts;
            for (int p = npts(rng); p > 0; --p) pts.push_back({coord(rng), coord(rng), 0});
            give_points(e, pts);
            e->island = uint8_t(rng() % 3);
            e->state = rng() % 4 == 0 ? ZR_MTM_STATE_DROPPED : ZR_MTM_STATE_SELECTED;
            if (e->state == ZR_MTM_STATE_SELECTED) ++counters[e->island].entries;
            holder.items.push_back(e);
        }
        // Oracle: the smallest island holding entries (later on ties, else
        // the last), then the selected entry whose absence leaves the most
        // cells (later on ties).
        int island = 2;
        uint32_t fewest = UINT32_MAX;
        for (int k = 0; k < 3; ++k) {
            if (counters[k].entries > 0 && counters[k].entries <= fewest) {
                fewest = counters[k].entries;
                island = k;
            }
        }
        int expected = -1;
        uint32_t best = 0;
        for (int i = 0; i < n; ++i) {
            if (holder.items[i]->state != ZR_MTM_STATE_SELECTED || holder.items[i]->island != island) continue;
            uint32_t c = brute_coverage(holder.items, size_t(i));
            EXPECT_EQ(c, zr_mtm_coverage(holder.items.data(), uint32_t(n), uint32_t(i)));
            if (expected < 0 || c >= best) {
                expected = i;
                best = c;
            }
        }
        EXPECT_EQ(expected, find_least_contributing_template(nullptr, counters.data(), 3, holder.items.data(),
                                                             uint32_t(n)))
            << trial;
    }
}

// Entries selected, each with a drop priority; some locked or protected.
struct priority_fixture {
    entries_holder holder;
    explicit priority_fixture(const std::vector<int32_t>& priorities) {
        for (size_t i = 0; i < priorities.size(); ++i) {
            zr_template* t = blob(40, uint8_t(0x30 + i));
            zr_mtm_entry* e = zr_mtm_template_create(t);
            zr_template_delete(t);
            e->drop_priority = priorities[i];
            e->state = ZR_MTM_STATE_SELECTED;
            e->island = 0;
            holder.items.push_back(e);
        }
    }
};

TEST(MtmPick, FirstTakesTheFirstEntryOfTheHighestDropPriority) {
    priority_fixture f({0, 2, 1, 2, 2});
    f.holder.items[1]->locked = 1;
    EXPECT_EQ(3, pick_first_template(nullptr, nullptr, 0, f.holder.items.data(), 5));
    f.holder.items[3]->is_protected = 1;
    EXPECT_EQ(4, pick_first_template(nullptr, nullptr, 0, f.holder.items.data(), 5));
    f.holder.items[4]->state = ZR_MTM_STATE_DROPPED;
    EXPECT_EQ(2, pick_first_template(nullptr, nullptr, 0, f.holder.items.data(), 5));
}

TEST(MtmPick, RandomPickFollowsXorshiftSeededWithCrcOfLastEntry) {
    // Five entries, budget of two: three random drops among priority 1, then
    // priority 0.
    priority_fixture f({1, 0, 1, 1, 0});
    manager_ptr m(zr_multitemplate_manager_create(2));
    ASSERT_EQ(ZR_OK, zr_mtm_set_replacement_strategy(m.m, 5));
    zr_mtm_island_counter counters[] = {{0, 0}};
    ASSERT_EQ(ZR_OK, enroll_from_islands(m.m, counters, 1, f.holder.items.data(), 5));

    const zr_template* last = f.holder.items[4]->tmpl;
    uint64_t state = crc32(0, zr_template_get_data(last), zr_template_get_data_size(last));
    std::vector<int> alive = {0, 1, 2, 3, 4};
    std::vector<int32_t> prio = {1, 0, 1, 1, 0};
    std::set<int> dropped;
    for (int drops = 0; drops < 3; ++drops) {
        int32_t top = -1;
        for (int i : alive) top = std::max(top, prio[i]);
        std::vector<int> level;
        for (int i : alive) {
            if (prio[i] == top) level.push_back(i);
        }
        int chosen = level[reference_xorshift64star(&state) % level.size()];
        dropped.insert(chosen);
        alive.erase(std::find(alive.begin(), alive.end(), chosen));
    }
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(dropped.count(i) ? ZR_MTM_STATE_DROPPED : ZR_MTM_STATE_SELECTED, f.holder.items[i]->state) << i;
    }
}

TEST(MtmSelection, RandomPickNeedsATemplateInTheLastEntry) {
    priority_fixture f({0, 0});
    zr_template_delete(f.holder.items[1]->tmpl);
    f.holder.items[1]->tmpl = nullptr;
    manager_ptr m(zr_multitemplate_manager_create(1));
    ASSERT_EQ(ZR_OK, zr_mtm_set_replace_order_random(m.m));
    zr_mtm_island_counter counters[] = {{0, 0}};
    EXPECT_EQ(ZR_BAD_ARGUMENT, enroll_from_islands(m.m, counters, 1, f.holder.items.data(), 2));
}

TEST(MtmSelection, LockedEntriesAreNeverDroppedAndAnUnmetBudgetFails) {
    priority_fixture f({0, 0, 0});
    for (zr_mtm_entry* e : f.holder.items) e->locked = 1;
    manager_ptr m(zr_multitemplate_manager_create(2));
    ASSERT_EQ(ZR_OK, zr_mtm_set_replace_order_static(m.m));
    zr_mtm_island_counter counters[] = {{0, 0}};
    EXPECT_EQ(ZR_FAILURE, enroll_from_islands(m.m, counters, 1, f.holder.items.data(), 3));
}

// --- match matrix and selection with a scripted chain ---

struct matrix_fixture {
    script s;
    scripted_chain chain;
    std::vector<zr_template*> owned;
    matrix_fixture() { g_script = &s; }
    ~matrix_fixture() {
        g_script = nullptr;
        for (zr_template* t : owned) zr_template_delete(t);
    }
    zr_template* add(zr_template* t) {
        owned.push_back(t);
        s.templates.push_back(t);
        return t;
    }
};

// Minutiae spread over distinct cells so that coverage differs per capture.
std::vector<std::pair<int, int>> capture_points(int i) {
    std::vector<std::pair<int, int>> pts;
    for (int k = 0; k <= i; ++k) pts.push_back({5 + 11 * ((i * 3 + k) % 8), 5 + 13 * ((i * 5 + k * 2) % 13)});
    return pts;
}

TEST(MtmEnroll, FiveOfEightCapturesKeptByIslandAndCoverage) {
    matrix_fixture f;
    std::vector<zr_template*> captures;
    for (int i = 0; i < 8; ++i) captures.push_back(f.add(iso_template(capture_points(i))));
    // Islands {0,1,2,3}, {4,5}, {6}, {7}: accepted pairs both ways.
    for (auto [a, b] : std::vector<std::pair<int, int>>{{0, 1}, {1, 2}, {2, 3}, {4, 5}}) {
        f.s.score[{a, b}] = kAccept - a;
        f.s.score[{b, a}] = kAccept - a;
    }
    manager_ptr m(zr_multitemplate_manager_create(5));
    uint32_t updated = 0;
    ASSERT_EQ(ZR_OK, zr_multitemplate_manager_enroll_templates(m.m, f.chain.chain, captures.data(), 8, nullptr, 0,
                                                               &updated, nullptr));
    EXPECT_EQ(1u, updated);
    EXPECT_EQ(5u, zr_multitemplate_manager_get_nbr_of_templates(m.m));
    // The two single islands go first, then one of {4,5}: the later one on a
    // tie of coverage, else the one whose absence keeps more cells.
    std::set<const uint8_t*> kept;
    for (const zr_mt_instance* in = m.m->mt->instances; in != nullptr; in = in->next) {
        kept.insert(zr_template_get_data(in->tmpl));
        uint16_t length = 0;
        const uint8_t* island = zr_multitemplate_get_metadata(m.m->mt, in->id, ZR_MTM_TAG_ISLAND, &length);
        ASSERT_EQ(1, length);
        EXPECT_LE(island[0], 1);
    }
    for (int i = 0; i < 4; ++i) EXPECT_EQ(1u, kept.count(zr_template_get_data(captures[i]))) << i;
    EXPECT_EQ(0u, kept.count(zr_template_get_data(captures[6])));
    EXPECT_EQ(0u, kept.count(zr_template_get_data(captures[7])));
}

TEST(MtmEnroll, DropsFollowTheBruteForceRuleOnEveryStep) {
    // Selection over a matrix of one island of six; maximum 3: each drop is
    // re-computed by brute force over the record's list.
    matrix_fixture f;
    entries_holder holder;
    for (int i = 0; i < 6; ++i) {
        zr_template* t = f.add(iso_template(capture_points(i + 1)));
        holder.items.push_back(zr_mtm_template_create(t));
    }
    std::vector<zr_match*> matrix(36, nullptr);
    for (int i = 1; i < 6; ++i) {
        matrix[size_t(i)] = zr_match_create(holder.items[0]->tmpl, holder.items[i]->tmpl, uint16_t(60000 - i), 1,
                                            nullptr);
        matrix[size_t(i)]->alignment = zr_alignment_create(0, 0, 0);
    }
    manager_ptr m(zr_multitemplate_manager_create(3));
    uint32_t updated = 0;
    ASSERT_EQ(ZR_OK, enroll_from_match_matrix(m.m, matrix.data(), holder.items.data(), 6, 0, &updated));
    // Replay the drops with the oracle on the same point sets.
    std::vector<zr_mtm_entry*> list = holder.items;
    std::vector<bool> alive(6, true);
    for (int drop = 0; drop < 3; ++drop) {
        int chosen = -1;
        uint32_t best = 0;
        for (int i = 0; i < 6; ++i) {
            if (!alive[i]) continue;
            uint32_t c = brute_coverage(list, size_t(i));
            if (chosen < 0 || c >= best) {
                chosen = i;
                best = c;
            }
        }
        alive[chosen] = false;
    }
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(alive[i] ? ZR_MTM_STATE_KEEP : ZR_MTM_STATE_REMOVE, holder.items[i]->state) << i;
    }
    for (zr_match* match : matrix) zr_match_delete(match);
}

TEST(MtmEnroll, MatrixComparesNewPairsTwiceStoredPairsNever) {
    matrix_fixture f;
    // Two stored enrolled instances in island 0 and 1, two new captures.
    manager_ptr m(zr_multitemplate_manager_create(10));
    entries_holder holder;
    for (int i = 0; i < 4; ++i) holder.items.push_back(zr_mtm_template_create(f.add(iso_template(capture_points(i)))));
    for (int i = 0; i < 2; ++i) {
        holder.items[i]->origin = ZR_MTM_ORIGIN_STORED;
        holder.items[i]->id = uint32_t(i + 1);
        holder.items[i]->stored_alignment = zr_alignment_create(int16_t(3 * i), 0, 0);
        holder.items[i]->stored_island = uint8_t(i);
    }
    f.s.score[{2, 3}] = kAccept;
    f.s.score[{3, 2}] = kAccept;
    zr_match** matrix = nullptr;
    ASSERT_EQ(ZR_OK, zr_mtm_build_match_matrix(holder.items.data(), 4, f.chain.chain, nullptr, 0, nullptr, &matrix));
    std::map<std::pair<int, int>, int> times;
    for (auto pair : f.s.compared) ++times[{std::min(pair.first, pair.second), std::max(pair.first, pair.second)}];
    EXPECT_EQ(0, times[std::make_pair(0, 1)]);  // two stored: never compared
    EXPECT_EQ(2, times[std::make_pair(2, 3)]);  // two new: once each way
    for (int s = 0; s < 2; ++s) {
        for (int n = 2; n < 4; ++n) EXPECT_EQ(1, times[std::make_pair(s, n)]) << s << n;
    }
    for (int i = 0; i < 4; ++i) EXPECT_EQ(nullptr, matrix[i * 4 + i]);
    // Stored pair: row 0, column 1, different islands: rejected, score 0.
    ASSERT_NE(nullptr, matrix[0 * 4 + 1]);
    EXPECT_EQ(nullptr, matrix[1 * 4 + 0]);
    EXPECT_EQ(0u, zr_match_get_decision(matrix[1]));
    // New rows hold every other entry; the accepted pair twice.
    for (int j = 2; j < 4; ++j) {
        for (int i = 0; i < 4; ++i) {
            if (i != j) {
                EXPECT_NE(nullptr, matrix[j * 4 + i]) << j << i;
            }
        }
    }
    EXPECT_EQ(1u, zr_match_get_decision(matrix[2 * 4 + 3]));
    EXPECT_EQ(1u, zr_match_get_decision(matrix[3 * 4 + 2]));
    EXPECT_EQ(nullptr, matrix[0 * 4 + 2]);  // stored rows stay empty for new columns
    zr_mtm_match_matrix_delete(matrix, 4);
}

TEST(MtmEnroll, EstimateEqualsEncodedSizeAndStaysWithinMaximum) {
    matrix_fixture f;
    std::vector<zr_template*> captures;
    for (int i = 0; i < 6; ++i) captures.push_back(f.add(iso_template(capture_points(i))));
    for (int i = 1; i < 6; ++i) {
        f.s.score[{0, i}] = kAccept;
        f.s.score[{i, 0}] = kAccept;
    }
    for (uint32_t max_size : {0u, 400u, 250u}) {
        f.s.compared.clear();
        manager_ptr m(zr_multitemplate_manager_create(6));
        zr_multitemplate_manager_set_max_template_size(m.m, max_size);
        uint32_t updated = 0;
        ASSERT_EQ(ZR_OK, zr_multitemplate_manager_enroll_templates(m.m, f.chain.chain, captures.data(), 6, nullptr,
                                                                   0, &updated, nullptr));
        zr_template* encoded = nullptr;
        ASSERT_EQ(ZR_OK, zr_multitemplate_manager_encode(m.m, 0, &encoded));
        uint64_t estimate = ZR_MTM_RECORD_OVERHEAD;
        for (const zr_mt_instance* in = m.m->mt->instances; in != nullptr; in = in->next) {
            estimate += ZR_MTM_INSTANCE_OVERHEAD + zr_template_get_data_size(in->tmpl);
        }
        bool next_id_item = zr_multitemplate_get_metadata(m.m->mt, ZR_MT_GLOBAL, ZR_MT_TAG_NEXT_ID, nullptr) != nullptr;
        EXPECT_EQ(estimate, zr_template_get_data_size(encoded) + (next_id_item ? 0 : 7)) << max_size;
        if (max_size != 0) {
            EXPECT_LE(zr_template_get_data_size(encoded), max_size);
        }
        zr_template_delete(encoded);
    }
}

// --- incremental mode ---

zr_multitemplate_manager* incremental_manager(uint8_t max, uint32_t max_size, int stored) {
    zr_multitemplate_manager* m = manager_with_sizes(max, max_size, std::vector<uint32_t>(size_t(stored), 100));
    zr_multitemplate_manager_set_incremental_mode(m);
    return m;
}

TEST(MtmIncremental, OverflowingAddIsUndoneAndItsIdHandedOutAgain) {
    // Two stored instances of 100 bytes, room for a third but not a fourth.
    manager_ptr m(incremental_manager(10, 0, 2));
    uint64_t two = zr_multitemplate_encode_size(m.m->mt);
    zr_multitemplate_manager_set_max_template_size(m.m, uint32_t(two + 120));
    zr_template* small = blob(100, 7);
    zr_template* big = blob(300, 8);
    zr_template* both[] = {small, big};
    uint32_t updated = 9;
    EXPECT_EQ(ZR_OK, zr_multitemplate_manager_enroll_templates(m.m, nullptr, both, 2, nullptr, 0, &updated, nullptr));
    EXPECT_EQ(1u, updated);
    EXPECT_EQ(3u, zr_multitemplate_get_nbr_of_instances(m.m->mt));
    // The big one's id (3) comes back with the next add.
    zr_multitemplate_manager_set_max_template_size(m.m, 0);
    EXPECT_EQ(ZR_OK, zr_multitemplate_manager_enroll_templates(m.m, nullptr, &big, 1, nullptr, 0, &updated, nullptr));
    uint32_t ids[255];
    uint8_t n = 0;
    ASSERT_EQ(ZR_OK, zr_mtm_get_template_tags(m.m, ids, &n));
    ASSERT_EQ(4, n);
    EXPECT_EQ(3u, ids[2]);
    EXPECT_EQ(4u, ids[3]);
    zr_template_delete(small);
    zr_template_delete(big);
}

TEST(MtmIncremental, ResultsOfFailedAddsFullAndTooLargeRecords) {
    zr_template* t = blob(100, 3);
    struct row {
        int stored;
        uint8_t max;
        int fail_after;  // allocations before the add fails (one for the input list); -1 none
        uint32_t size_slack;  // 0: no limit
        zr_status expected;
        uint32_t instances;
    } rows[] = {
        {1, 10, 1, 0, ZR_NO_MEMORY, 1},        // add fails, record not empty
        {0, 10, 1, 0, ZR_ENROLL_COMPLETE, 0},  // add fails, record empty
        {2, 2, -1, 0, ZR_OK, 2},               // already full: nothing added
        {0, 10, -1, 1, ZR_ENROLL_COMPLETE, 0}, // the only add overflows and is undone
    };
    for (const row& r : rows) {
        manager_ptr m(incremental_manager(r.max, 0, r.stored));
        if (r.size_slack != 0) zr_multitemplate_manager_set_max_template_size(m.m, r.size_slack);
        m.m->incremental_mode = 1;
        uint32_t updated = 0;
        zr_alloc_fail_after(r.fail_after);
        zr_status rc = zr_multitemplate_manager_enroll_templates(m.m, nullptr, &t, 1, nullptr, 0, &updated, nullptr);
        zr_alloc_fail_after(-1);
        EXPECT_EQ(r.expected, rc) << r.stored << " " << r.fail_after;
        EXPECT_EQ(r.instances, zr_multitemplate_get_nbr_of_instances(m.m->mt));
        EXPECT_EQ(0u, updated);
    }
    zr_template_delete(t);
}

// --- stored records ---

TEST(MtmStored, EncodedWithModeRefusesFurtherEnrolment) {
    manager_ptr m(incremental_manager(5, 0, 1));
    zr_template* encoded = nullptr;
    ASSERT_EQ(ZR_OK, zr_multitemplate_manager_encode(m.m, 1, &encoded));
    manager_ptr reopened(zr_multitemplate_manager_create_with_template(encoded));
    ASSERT_NE(nullptr, reopened.m);
    zr_template* t = blob(10, 1);
    uint32_t updated = 5;
    EXPECT_EQ(ZR_OK, zr_multitemplate_manager_enroll_templates(reopened.m, nullptr, &t, 1, nullptr, 0, &updated,
                                                               nullptr));
    EXPECT_EQ(0u, updated);
    EXPECT_EQ(1u, zr_multitemplate_get_nbr_of_instances(reopened.m->mt));
    zr_template_delete(t);
    zr_template_delete(encoded);
}

TEST(MtmStored, CopyEncodesTheSameAndConvertKeepsItems) {
    manager_ptr m(zr_multitemplate_manager_create(4));
    zr_template* t = blob(30, 4);
    uint32_t id = 0;
    ASSERT_EQ(ZR_OK, zr_multitemplate_add_instance_no_tag(m.m->mt, t, &id));
    zr_mtm_entry* e = zr_mtm_template_create(t);
    e->id = id;
    e->island = 0;
    e->locked = 1;
    ASSERT_EQ(ZR_OK, zr_mtm_add_metadata(m.m->mt, e));
    ASSERT_EQ(ZR_OK, zr_mtm_add_metadata(m.m->mt, e));  // rewriting replaces the items
    zr_mtm_template_delete(e);
    manager_ptr copy(zr_multitemplate_manager_copy(m.m));
    ASSERT_NE(nullptr, copy.m);
    EXPECT_EQ(1u, zr_multitemplate_manager_is_copy(m.m, copy.m));
    EXPECT_EQ(1u, zr_mtm_get_nbr_of_templates_flag(copy.m->mt, ZR_MTM_FLAG_LOCKED));

    zr_template* stored = nullptr;
    ASSERT_EQ(ZR_OK, zr_multitemplate_manager_encode(m.m, 0, &stored));
    zr_template* converted = nullptr;
    EXPECT_EQ(ZR_UNHANDLED_INPUT, zr_multitemplate_manager_convert(stored, ZR_TEMPLATE_EHM_IMAGE, &converted));
    ASSERT_EQ(ZR_OK, zr_multitemplate_manager_convert(stored, ZR_TEMPLATE_EHM, &converted));
    manager_ptr back(zr_multitemplate_manager_create_with_template(converted));
    ASSERT_NE(nullptr, back.m);
    EXPECT_EQ(1u, zr_mtm_get_nbr_of_templates_flag(back.m->mt, ZR_MTM_FLAG_LOCKED));
    EXPECT_EQ(4, zr_multitemplate_manager_get_max_nbr_of_templates(back.m));
    zr_template_delete(converted);
    zr_template_delete(stored);
    zr_template_delete(t);
}

TEST(MtmStored, InstanceWithoutItemCountsAsEnrolledInSelectionMode) {
    // A stored instance with no tag-1 item and one new capture, island path.
    manager_ptr m(zr_multitemplate_manager_create(1));
    zr_template* stored = blob(20, 1);
    uint32_t id = 0;
    ASSERT_EQ(ZR_OK, zr_multitemplate_add_instance_no_tag(m.m->mt, stored, &id));
    ASSERT_EQ(ZR_OK, zr_mtm_set_replacement_strategy(m.m, 3));
    zr_template* fresh = blob(20, 2);
    uint32_t updated = 0;
    ASSERT_EQ(ZR_OK, zr_multitemplate_manager_enroll_templates(m.m, nullptr, &fresh, 1, nullptr, 0, &updated,
                                                               nullptr));
    // Both join island 0 with priority 0: the first (stored) one is dropped.
    EXPECT_EQ(1u, updated);
    ASSERT_EQ(1u, zr_multitemplate_get_nbr_of_instances(m.m->mt));
    EXPECT_EQ(2, zr_template_get_data(m.m->mt->instances->tmpl)[0]);
    zr_template_delete(stored);
    zr_template_delete(fresh);
}

}  // namespace
