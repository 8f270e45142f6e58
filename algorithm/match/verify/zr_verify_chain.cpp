#include "match/verify/zr_verify_chain.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "imaging/bal_polygon.h"
#include "match/verifiers/zr_far_table.h"
#include "match/multitemplate/zr_multitemplate_manager.h"
#include "objects/zr_alloc.h"
#include "objects/zr_template_convert.h"
#include "objects/zr_template_generic.h"
#include "objects/zr_template_metadata.h"

namespace {

constexpr int32_t kLevelStep = 2048;
constexpr uint32_t kRowCount = ZR_THRESHOLD_ROWS;
constexpr uint32_t kLastLevel = ZR_FAR_LEVELS - 1;
constexpr int32_t kMaxBlendCount = 64;
constexpr uint32_t kBlendOne = 256;
// Candidate score weights: the best score counts 10, the second w.
constexpr int32_t kBestWeight = 10;
constexpr int32_t kWideWeight = 5;            // 36 templates and more
constexpr int32_t kWeightedCountLimit = 35;
constexpr uint16_t kDefaultModel = 0;

constexpr const char* kKeyRefMtSize = "zr.adaptive_chain.ref_mt_size";
constexpr const char* kKeySubtemplatesLimit = "zr.adaptive_chain.subtemplates_limit";
constexpr const char* kKeyForcedPruning = "zr.forcedpruning.templates";

// Outcome of one step of the walk besides a failure.
enum class walk_step { go_on, done };

uint16_t clamp_score(int64_t v) { return uint16_t(std::clamp<int64_t>(v, 0, ZR_LOG2_SCORE_MAX)); }

uint16_t level_threshold(uint32_t level) {
    if (level >= ZR_FAR_NO_DECISION) return ZR_LOG2_SCORE_NONE;
    return zr_far_thresholds[level];
}

// The base threshold moved by the link's accept shift, clamped to the scale.
uint16_t accept_threshold(uint16_t base, uint32_t shift) {
    if (base == ZR_LOG2_SCORE_NONE) return ZR_LOG2_SCORE_NONE;
    return clamp_score(int64_t(base) + int64_t(kLevelStep) * int32_t(shift));
}

uint16_t adjusted_score(uint32_t candidate_score, uint32_t shift) {
    if (candidate_score >= ZR_LOG2_SCORE_NONE) return ZR_LOG2_SCORE_NONE;
    return clamp_score(int64_t(candidate_score) - int64_t(kLevelStep) * int32_t(shift));
}

uint32_t far_level_reached(uint16_t adjusted) {
    uint32_t level = 0;
    for (uint32_t l = 0; l <= kLastLevel; ++l) {
        if (zr_far_thresholds[l] < adjusted) level = l;
    }
    return level;
}

// --- subtemplates and candidates ---

void drop_feature_scores(zr_chain_subtemplate* sub) {
    free(sub->feature_scores);
    sub->feature_scores = nullptr;
    sub->feature_count = 0;
}

void delete_subtemplate(zr_chain_subtemplate* sub) {
    zr_template_delete(sub->tmpl);
    zr_alignment_delete(sub->stored_alignment);
    zr_alignment_delete(sub->comparison_alignment);
    free(sub->feature_scores);
    free(sub);
}

void append_subtemplate(zr_chain_candidate* candidate, zr_chain_subtemplate* sub) {
    sub->previous = candidate->tail;
    sub->next = nullptr;
    if (candidate->tail != nullptr) candidate->tail->next = sub;
    else candidate->head = sub;
    candidate->tail = sub;
    candidate->count++;
}

void unlink_subtemplate(zr_chain_candidate* candidate, zr_chain_subtemplate* sub) {
    if (sub->previous != nullptr) sub->previous->next = sub->next;
    else candidate->head = sub->next;
    if (sub->next != nullptr) sub->next->previous = sub->previous;
    else candidate->tail = sub->previous;
    if (candidate->current == sub) candidate->current = nullptr;
    if (candidate->best == sub) candidate->best = nullptr;
    candidate->count--;
}

void remove_subtemplate(zr_chain_candidate* candidate, zr_chain_subtemplate* sub) {
    unlink_subtemplate(candidate, sub);
    delete_subtemplate(sub);
}

void delete_candidate(zr_chain_candidate* candidate) {
    while (candidate->head != nullptr) remove_subtemplate(candidate, candidate->head);
    zr_template_delete(candidate->stored);
    free(candidate);
}

struct candidate_list {
    zr_chain_candidate* head = nullptr;
    zr_chain_candidate* tail = nullptr;

    void append(zr_chain_candidate* c) {
        c->previous = tail;
        c->next = nullptr;
        if (tail != nullptr) tail->next = c;
        else head = c;
        tail = c;
    }
    void clear() {
        while (head != nullptr) {
            zr_chain_candidate* next = head->next;
            delete_candidate(head);
            head = next;
        }
        tail = nullptr;
    }
};

zr_chain_subtemplate* new_subtemplate(zr_template* tmpl, zr_alignment* stored_alignment, uint32_t index,
                                      uint32_t id, uint8_t class_id) {
    auto* sub = static_cast<zr_chain_subtemplate*>(zr_calloc(1, sizeof(zr_chain_subtemplate)));
    if (sub == nullptr) return nullptr;
    sub->tmpl = tmpl;
    sub->stored_alignment = stored_alignment;
    sub->template_index = index;
    sub->instance_id = id;
    sub->class_id = class_id;
    return sub;
}

// Stable insertion sort of the entries by log2 score, descending.
void sort_subtemplates(zr_chain_candidate* candidate) {
    zr_chain_subtemplate* sorted = nullptr;
    zr_chain_subtemplate* sorted_tail = nullptr;
    zr_chain_subtemplate* sub = candidate->head;
    while (sub != nullptr) {
        zr_chain_subtemplate* next = sub->next;
        // Place after the last entry whose score is at least this one's.
        zr_chain_subtemplate* after = sorted_tail;
        while (after != nullptr && after->log2_score < sub->log2_score) after = after->previous;
        sub->previous = after;
        sub->next = after != nullptr ? after->next : sorted;
        if (sub->next != nullptr) sub->next->previous = sub;
        else sorted_tail = sub;
        if (after != nullptr) after->next = sub;
        else sorted = sub;
        sub = next;
    }
    candidate->head = sorted;
    candidate->tail = sorted_tail;
}

// Stable sort of the candidates by their best score, descending.
void sort_candidates(candidate_list* list) {
    candidate_list sorted;
    zr_chain_candidate* c = list->head;
    while (c != nullptr) {
        zr_chain_candidate* next = c->next;
        zr_chain_candidate* after = sorted.tail;
        while (after != nullptr && after->best_scores[0] < c->best_scores[0]) after = after->previous;
        c->previous = after;
        c->next = after != nullptr ? after->next : sorted.head;
        if (c->next != nullptr) c->next->previous = c;
        else sorted.tail = c;
        if (after != nullptr) after->next = c;
        else sorted.head = c;
        c = next;
    }
    *list = sorted;
}

// Inserts a score before the first kept score it is greater than; a score
// not above all of them is not kept.
void insert_best_score(uint16_t* best, uint16_t score) {
    for (uint32_t i = 0; i < ZR_CANDIDATE_BEST_SCORES; ++i) {
        if (score > best[i]) {
            std::memmove(best + i + 1, best + i, (ZR_CANDIDATE_BEST_SCORES - 1 - i) * sizeof(uint16_t));
            best[i] = score;
            return;
        }
    }
}

// Combined score of the two best scores of a finger with n templates.
uint32_t combined_score(uint32_t n, uint16_t b0, uint16_t b1) {
    if (n == 0) return 0;
    if (n == 1) return b0;
    if (n <= uint32_t(kWeightedCountLimit)) {
        const uint32_t w = (3 * n + 30) / 28;
        return (w * b1 + kBestWeight * b0) / (w + kBestWeight);
    }
    return (uint32_t(kWideWeight) * b1 + kBestWeight * b0) / (kWideWeight + kBestWeight);
}

uint32_t candidate_score(const zr_chain_candidate* c) {
    return combined_score(c->nbr_of_templates, c->best_scores[0], c->best_scores[1]);
}

// The manager's templates of one stored multi-template, in index order.
zr_status build_candidate(zr_template* stored, uint32_t index, zr_chain_candidate** out) {
    *out = nullptr;
    zr_multitemplate_manager* manager = zr_multitemplate_manager_create_with_template(stored);
    if (manager == nullptr) return ZR_WRONG_TYPE;
    auto* c = static_cast<zr_chain_candidate*>(zr_calloc(1, sizeof(zr_chain_candidate)));
    if (c == nullptr) {
        zr_multitemplate_manager_delete(manager);
        return ZR_NO_MEMORY;
    }
    c->candidate_index = index;
    c->stored = zr_template_retain(stored);
    c->nbr_of_templates = uint8_t(zr_multitemplate_manager_get_nbr_of_templates(manager));
    zr_status rc = ZR_OK;
    for (uint32_t i = 0; i < c->nbr_of_templates && rc == ZR_OK; ++i) {
        zr_alignment* alignment = nullptr;
        uint8_t class_id = ZR_MTM_NO_CLASS;
        uint32_t id = ZR_MTM_MISSING_TAG;
        zr_template* t = zr_multitemplate_manager_get_template_with_id(manager, i, &alignment, &class_id, &id);
        if (t == nullptr) continue;
        zr_chain_subtemplate* sub = new_subtemplate(t, alignment, i, id, class_id);
        if (sub == nullptr) {
            zr_template_delete(t);
            zr_alignment_delete(alignment);
            rc = ZR_NO_MEMORY;
            break;
        }
        append_subtemplate(c, sub);
    }
    zr_multitemplate_manager_delete(manager);
    if (rc != ZR_OK) {
        delete_candidate(c);
        return rc;
    }
    *out = c;
    return ZR_OK;
}

// --- one comparison ---

const zr_vermodel* select_vermodel(const zr_vermodel* const* vermodels, const zr_verifier_descriptor* verifier) {
    if (vermodels == nullptr) return nullptr;
    // Without a model selector every pair takes model 0.
    return zr_verifierI_get_vermodel(vermodels, verifier, kDefaultModel);
}

// Feature scores of the pair (appended behind the ones carried from earlier
// links), the raw score and the log2 score of the entry.
zr_status compare_subtemplate(zr_session* session, const zr_algorithm_link* link, zr_template* probe,
                              zr_chain_subtemplate* sub, const zr_vermodel* model, int32_t n, uint16_t* out_raw) {
    *out_raw = 0;
    const zr_verifier_descriptor* verifier = link->verifier;
    if (verifier == nullptr || verifier->extract_feature_scores == nullptr ||
        verifier->verify_feature_scores == nullptr) {
        return ZR_FAILURE;
    }
    uint16_t* scores = nullptr;
    uint16_t count = 0;
    zr_status rc =
        verifier->extract_feature_scores(session, sub->tmpl, probe, &scores, &count, &sub->comparison_alignment);
    if (rc != ZR_OK) {
        free(scores);
        return rc;
    }
    if (sub->feature_scores != nullptr && count > 0) {
        const uint32_t total = sub->feature_count + count;
        auto* joined = static_cast<uint16_t*>(zr_malloc(total * sizeof(uint16_t)));
        if (joined == nullptr) {
            free(scores);
            return ZR_NO_MEMORY;
        }
        std::memcpy(joined, sub->feature_scores, sub->feature_count * sizeof(uint16_t));
        std::memcpy(joined + sub->feature_count, scores, count * sizeof(uint16_t));
        free(scores);
        free(sub->feature_scores);
        sub->feature_scores = joined;
        sub->feature_count = total;
    } else if (sub->feature_scores == nullptr) {
        sub->feature_scores = scores;
        sub->feature_count = count;
    } else {
        free(scores);
    }
    rc = verifier->verify_feature_scores(session, sub->tmpl, probe, sub->feature_scores,
                                         uint16_t(sub->feature_count), model, out_raw);
    if (rc != ZR_OK) return rc;
    sub->log2_score = raw_to_log2(*out_raw, n, model != nullptr ? model->thresholds : nullptr);
    if (!zr_algorithm_link_pass_on_feature_scores(link)) drop_feature_scores(sub);
    return ZR_OK;
}

// Removes entries from the tail while more than keep remain or while the
// tail scores below floor.
void prune_tail(zr_chain_candidate* c, uint32_t keep, uint16_t floor) {
    while (c->tail != nullptr && (uint32_t(c->count) > keep || c->tail->log2_score < floor)) {
        remove_subtemplate(c, c->tail);
    }
}

// --- the walk ---

struct walk {
    zr_session* session = nullptr;
    const zr_algorithm_chain* chain = nullptr;
    const zr_vermodel* const* vermodels = nullptr;
    const zr_algorithm_config* config = nullptr;
    zr_match_result* result = nullptr;
    zr_image* image = nullptr;
    zr_template* probe = nullptr;  // owned
    candidate_list candidates;
    uint16_t base = 0;
    bool accept_happened = false;
    uint32_t matched_tag = ZR_MTM_MISSING_TAG;
};

uint32_t keep_count(const walk& w, const zr_algorithm_link* next, uint32_t n) {
    const int32_t s = zr_algorithm_link_get_nbr_of_subtemplates(next);
    if (s == 0) return 0;
    const int32_t r = zr_session_get_int(w.session, kKeyRefMtSize, 0);
    const int32_t m = zr_session_get_int(w.session, kKeySubtemplatesLimit, uint32_t(s));
    if (r < 1) return uint32_t(s);
    if (r == m) return uint32_t(std::max<int32_t>(int32_t(n), s));
    int64_t k = (int64_t(r - s) * m + int64_t(s - m) * int64_t(n)) / (r - m);
    k = std::min<int64_t>(k, n);
    k = std::max<int64_t>(k, s);
    return uint32_t(k);
}

uint16_t forced_pruning_floor(const walk& w, uint32_t reject_level) {
    const int32_t p = zr_session_get_int(w.session, kKeyForcedPruning, uint32_t(-1));
    if (p < 0) return 0;
    if (reject_level >= ZR_FAR_NO_DECISION) return ZR_LOG2_SCORE_NONE;
    if (reject_level == 0) return uint16_t(std::min<int64_t>(int64_t(kLevelStep) * p, ZR_LOG2_SCORE_MAX));
    const uint16_t t = zr_far_thresholds[reject_level];
    if (t >= ZR_LOG2_SCORE_NONE) return ZR_LOG2_SCORE_NONE;
    return uint16_t(std::min<int64_t>(t + int64_t(kLevelStep) * p, ZR_LOG2_SCORE_MAX));
}

bool rejected(uint32_t reject_level, uint32_t score) {
    if (reject_level > kLastLevel) return score < ZR_LOG2_SCORE_NONE;
    if (reject_level >= 1) return score < zr_far_thresholds[reject_level];
    return false;
}

// The candidate has compared its last entry at this link: reject, or prune
// its entries to those worth comparing at the next link.
void end_candidate_at_link(const walk& w, const zr_algorithm_link* link, zr_chain_candidate* c) {
    const zr_algorithm_link* next = link->next;
    const uint32_t k = keep_count(w, next, c->nbr_of_templates);
    if (rejected(link->reject_far_level, candidate_score(c)) || k == 0) {
        c->finished = 1;
        return;
    }
    zr_mtm_remove_non_supported_subtemplates(next, c);
    sort_subtemplates(c);
    prune_tail(c, k, forced_pruning_floor(w, link->reject_far_level));
}

uint32_t overlap_area(const zr_match_result* result, const zr_alignment* comparison) {
    const int32_t w = result->probe_cols;
    const int32_t h = result->probe_rows;
    if (w == 0 || h == 0) return uint32_t(-1);
    const bal_point probe[4] = {{0, 0}, {int16_t(w), 0}, {int16_t(w), int16_t(h)}, {0, int16_t(h)}};
    bal_point moved[4];
    for (uint32_t i = 0; i < 4; ++i) {
        moved[i] = probe[i];
        if (comparison != nullptr) zr_alignment_transform_point(comparison, probe[i].x, probe[i].y, &moved[i].x, &moved[i].y);
    }
    bal_polygon* a = bal_polygon_from_points(probe, 4);
    bal_polygon* b = bal_polygon_from_points(moved, 4);
    bal_polygon* both = (a != nullptr && b != nullptr) ? bal_convex_hull_intersection(a, b) : nullptr;
    const uint64_t area = bal_polygon_area(both);
    bal_polygon_delete(a);
    bal_polygon_delete(b);
    bal_polygon_delete(both);
    return uint32_t(area * 100 / uint64_t(h) / uint64_t(w));
}

uint16_t template_class_id(const zr_template* tmpl) {
    zr_template_metadata metadata{};
    if (zr_template_metadata_get(nullptr, tmpl, &metadata) != ZR_OK) return 0;
    return metadata.image_class;
}

// The candidate's best comparison becomes the result's.
zr_status record_best(walk& w, const zr_chain_candidate* c, uint16_t adjusted) {
    zr_match_result* r = w.result;
    const zr_chain_subtemplate* best = c->best;
    zr_alignment* alignment = nullptr;
    zr_alignment* second = nullptr;
    if (best->comparison_alignment != nullptr) {
        zr_alignment* inverse = zr_alignment_inverse(best->comparison_alignment);
        alignment = zr_alignment_multiply(best->stored_alignment, inverse);
        zr_alignment_delete(inverse);
        second = zr_alignment_copy(best->comparison_alignment);
        if (alignment == nullptr || second == nullptr) {
            zr_alignment_delete(alignment);
            zr_alignment_delete(second);
            return ZR_NO_MEMORY;
        }
    } else {
        alignment = zr_alignment_retain(best->stored_alignment);
    }
    r->far_score = adjusted;
    r->far_level_reached = far_level_reached(adjusted);
    zr_alignment_delete(r->alignment);
    zr_alignment_delete(r->second_alignment);
    r->alignment = alignment;
    r->second_alignment = second;
    zr_template_delete(r->verified_template);
    r->verified_template = zr_template_retain(w.probe);
    zr_template_delete(r->second_template);
    r->second_template = zr_template_retain(c->stored);
    r->matching_subtemplate_index = best->template_index;
    r->matching_template_index = c->candidate_index;
    r->overlap_area = overlap_area(r, best->comparison_alignment);
    r->matching_subtemplate_class_id = template_class_id(best->tmpl);
    r->selected_model = kDefaultModel;
    w.matched_tag = best->instance_id;
    return ZR_OK;
}

bool later_link_continues(const zr_algorithm_link* link) {
    return zr_algorithm_link_get_next_with_flags(link, ZR_LINK_AFTER_ACCEPT, nullptr) != nullptr;
}

// Compares the candidate's current subtemplate and moves the candidate on.
zr_status compare_current(walk& w, const zr_algorithm_link* link, uint32_t link_index, uint16_t accept,
                          zr_chain_candidate* c, walk_step* step) {
    *step = walk_step::go_on;
    zr_chain_subtemplate* sub = c->current;
    bool early_rejected = false;
    if (zr_template_metadata_enroll_type(sub->tmpl) == 0) {
        const zr_vermodel* model = select_vermodel(w.vermodels, link->verifier);
        uint16_t raw = 0;
        zr_status rc = compare_subtemplate(w.session, link, w.probe, sub, model, c->nbr_of_templates, &raw);
        if (rc != ZR_OK) return rc;
        zr_match_result_link& entry = w.result->entries[c->candidate_index].links[link_index];
        entry.comparisons++;
        w.result->raw_score = std::max(w.result->raw_score, raw);

        insert_best_score(c->best_scores, sub->log2_score);
        if (c->best_scores[0] == sub->log2_score) c->best = sub;
        const uint32_t score = candidate_score(c);
        const uint16_t adjusted = adjusted_score(score, link->accept_far_shift);
        entry.best_score = std::max<uint32_t>(entry.best_score, adjusted);

        if (model != nullptr) {
            if (score > w.result->far_score && c->best != nullptr) {
                rc = record_best(w, c, adjusted);
                if (rc != ZR_OK) return rc;
            }
            if (score > accept) {
                w.result->decision = 1;
                w.result->last_link_index = link_index;
                if (!later_link_continues(link)) {
                    *step = walk_step::done;
                    return ZR_OK;
                }
                sub->accepted = 1;
                w.accept_happened = true;
            }
            uint32_t level = 0;
            uint8_t count = ZR_EARLY_REJECT_OFF;
            (void)zr_algorithm_get_early_reject(link, &level, &count);
            const uint16_t early = level_threshold(level);
            if (level != 0 && early != 0 && entry.comparisons >= count && score <= early) {
                c->finished = 1;
                early_rejected = true;
            }
        }
        if (w.config != nullptr && w.config->link_hook != nullptr) {
            rc = w.config->link_hook(const_cast<zr_algorithm_link*>(link));
            if (rc != ZR_OK) return rc;
        }
    }
    if (early_rejected) return ZR_OK;
    c->current = sub->next;
    if (c->current == nullptr) end_candidate_at_link(w, link, c);
    return ZR_OK;
}

zr_status set_up(walk& w, zr_template* const* stored, uint8_t count, zr_template* probe_template,
                 uint32_t far_level) {
    zr_match_result* r = w.result;
    r->decision_far_level = far_level;
    if (probe_template != nullptr) {
        w.probe = zr_template_copy(probe_template);
        if (w.probe == nullptr) return ZR_NO_MEMORY;
        zr_template_metadata metadata{};
        if (zr_template_metadata_get(nullptr, w.probe, &metadata) == ZR_OK) {
            r->probe_rows = metadata.rows;
            r->probe_cols = metadata.cols;
        }
    } else {
        zr_image_delete(r->verification_image);
        r->verification_image = zr_image_retain(w.image);
        r->probe_rows = zr_image_get_rows(w.image);
        r->probe_cols = zr_image_get_cols(w.image);
    }
    for (uint32_t i = 0; i < count; ++i) {
        zr_chain_candidate* c = nullptr;
        const zr_status rc = build_candidate(stored[i], i, &c);
        if (rc != ZR_OK) return rc;
        w.candidates.append(c);
    }
    return ZR_OK;
}

zr_status run_links(walk& w) {
    const zr_algorithm_link* link = w.chain->first;
    uint32_t index = 0;
    zr_match_result* r = w.result;
    while (link != nullptr) {
        const uint16_t accept = accept_threshold(w.base, link->accept_far_shift);
        zr_status rc =
            zr_algorithm_helper_extract_link(w.session, link, w.chain, w.image, ZR_FINGER_ANONYMOUS, &w.probe);
        if (rc != ZR_OK) return rc;
        for (zr_chain_candidate* c = w.candidates.head; c != nullptr; c = c->next) {
            std::memset(c->best_scores, 0, sizeof(c->best_scores));
            c->current = nullptr;
            c->best = nullptr;
            if (c->head == nullptr) c->finished = 1;
            if (c->finished == 0) c->current = c->head;
        }
        if (w.candidates.head == nullptr) {
            r->last_link_index = index;
            return ZR_OK;
        }
        if ((link->flags & ZR_LINK_NO_COMPARISONS) == 0) {
            bool work = true;
            while (work) {
                work = false;
                for (zr_chain_candidate* c = w.candidates.head; c != nullptr; c = c->next) {
                    if (c->finished != 0 || c->current == nullptr) continue;
                    work = true;
                    walk_step step = walk_step::go_on;
                    rc = compare_current(w, link, index, accept, c, &step);
                    if (rc != ZR_OK || step == walk_step::done) return rc;
                }
            }
        }
        bool all_finished = true;
        for (const zr_chain_candidate* c = w.candidates.head; c != nullptr; c = c->next) {
            if (c->finished == 0) all_finished = false;
        }
        if (all_finished) {
            r->last_link_index = index;
            return ZR_OK;
        }
        sort_candidates(&w.candidates);
        const zr_algorithm_link* next = link->next;
        if (next == nullptr) return ZR_OK;
        index++;
        if (w.accept_happened && (next->flags & ZR_LINK_AFTER_ACCEPT) == 0) {
            uint8_t skipped = 0;
            next = zr_algorithm_link_get_next_with_flags(link, ZR_LINK_AFTER_ACCEPT, &skipped);
            if (next == nullptr) return ZR_OK;
            index += skipped;
        }
        link = next;
    }
    return ZR_OK;
}

// --- ranking and dynamic update ---

struct rank_request {
    zr_template** templates;  // the caller's array; written only by the update
    uint8_t count;
    const zr_algorithm_chain* chain;
    zr_session* session;
    zr_template* probe;       // one reference held by the caller's array or the caller
    uint32_t probe_index;     // count when the probe is not one of the templates
    uint32_t far_level;
    uint8_t wanted;
    const zr_vermodel* const* vermodels;
    bool update;
};

// Applies the verifier's update slot to an accepted pair.
zr_status update_pair(rank_request& q, const zr_algorithm_link* link, zr_chain_subtemplate* sub) {
    zr_verifier_update_templates_fn update = link->verifier->update_templates;
    if (update == nullptr) return ZR_OK;
    zr_template* new_entry = nullptr;
    zr_template* new_probe = nullptr;
    const zr_status rc =
        update(q.session, sub->tmpl, &new_entry, q.probe, &new_probe, sub->comparison_alignment);
    if (rc != ZR_OK || new_entry == nullptr || new_probe == nullptr) {
        zr_template_delete(new_entry);
        zr_template_delete(new_probe);
        return rc;
    }
    zr_template_set_generation_quality(new_entry, zr_template_get_generation_quality(sub->tmpl));
    zr_template_set_generation_quality(new_probe, zr_template_get_generation_quality(q.probe));
    zr_template_delete(q.templates[sub->template_index]);
    q.templates[sub->template_index] = zr_template_retain(new_entry);
    zr_template_delete(sub->tmpl);
    sub->tmpl = new_entry;
    zr_template_delete(q.templates[q.probe_index]);
    q.templates[q.probe_index] = new_probe;
    q.probe = new_probe;
    return ZR_OK;
}

zr_status rank_link(rank_request& q, const zr_algorithm_link* link, zr_chain_candidate* c, uint16_t base) {
    const zr_vermodel* model = select_vermodel(q.vermodels, link->verifier);
    for (zr_chain_subtemplate* sub = c->head; sub != nullptr; sub = sub->next) {
        if ((link->flags & ZR_LINK_AFTER_ACCEPT) != 0 && sub->accepted == 0) continue;
        uint16_t raw = 0;
        zr_status rc = compare_subtemplate(q.session, link, q.probe, sub, model, q.count, &raw);
        if (rc != ZR_OK) return rc;
        sub->accepted = sub->log2_score > base ? 1 : 0;
        if (q.update && sub->accepted != 0) {
            rc = update_pair(q, link, sub);
            if (rc != ZR_OK) return rc;
        }
    }
    return ZR_OK;
}

zr_status rank(rank_request& q, zr_chain_candidate* c, uint8_t* inout_results, zr_chain_rank_result* results) {
    for (uint32_t i = 0; i < q.count; ++i) {
        zr_template* t = q.templates[i];
        if (i == q.probe_index || t == nullptr || t == q.probe) continue;
        zr_chain_subtemplate* sub = new_subtemplate(zr_template_retain(t), nullptr, i, i, ZR_MTM_NO_CLASS);
        if (sub == nullptr) {
            zr_template_delete(t);
            return ZR_NO_MEMORY;
        }
        append_subtemplate(c, sub);
    }
    const uint16_t base = level_threshold(q.far_level);
    for (const zr_algorithm_link* link = q.chain->first; link != nullptr; link = link->next) {
        if ((link->flags & ZR_LINK_STOP_RANKING) != 0) break;
        if ((link->flags & ZR_LINK_NO_COMPARISONS) == 0) {
            const zr_status rc = rank_link(q, link, c, base);
            if (rc != ZR_OK) return rc;
        }
        const zr_algorithm_link* next = link->next;
        if (next != nullptr && (next->flags & ZR_LINK_STOP_RANKING) == 0) {
            zr_mtm_remove_non_supported_subtemplates(next, c);
            sort_subtemplates(c);
            prune_tail(c, std::max<uint32_t>(q.wanted, next->nbr_of_subtemplates), 0);
        } else {
            sort_subtemplates(c);
        }
    }
    uint8_t written = 0;
    for (const zr_chain_subtemplate* sub = c->head; sub != nullptr && written < q.wanted; sub = sub->next) {
        results[written] = {sub->log2_score, sub->accepted, zr_alignment_retain(sub->comparison_alignment),
                            sub->template_index};
        written++;
    }
    *inout_results = written;
    return ZR_OK;
}

zr_status run_rank(rank_request& q, uint8_t* inout_results, zr_chain_rank_result* results) {
    auto* c = static_cast<zr_chain_candidate*>(zr_calloc(1, sizeof(zr_chain_candidate)));
    if (c == nullptr) return ZR_NO_MEMORY;
    const zr_status rc = rank(q, c, inout_results, results);
    delete_candidate(c);
    return rc;
}

}  // namespace

uint16_t raw_to_log2(uint32_t raw_score, int32_t nbr_of_templates, const zr_threshold_table* thresholds) {
    if (thresholds == nullptr) return uint16_t(raw_score);
    const uint32_t raw = raw_score & 0xFFFFu;
    const int32_t n = std::clamp<int32_t>(nbr_of_templates, 1, kMaxBlendCount);
    uint32_t i = 0;
    while (i + 1 < kRowCount && (1 << (i + 1)) <= n) ++i;
    const uint32_t low = 1u << i;
    const uint32_t w = i + 1 < kRowCount ? (uint32_t(n) - low) * kBlendOne / low : 0;
    const uint16_t* a = (*thresholds)[i];
    const uint16_t* b = (*thresholds)[std::min(i + 1, kRowCount - 1)];
    uint32_t row[ZR_FAR_LEVELS];
    bool empty = true;
    for (uint32_t l = 0; l < ZR_FAR_LEVELS; ++l) {
        row[l] = (a[l] * (kBlendOne - w) + b[l] * w) / kBlendOne;
        if (row[l] != 0) empty = false;
    }
    // An all-zero row would map every score above every threshold.
    if (empty || raw < row[0]) return 0;
    if (raw >= row[kLastLevel]) return ZR_LOG2_SCORE_MAX;
    for (uint32_t l = 0; l < kLastLevel; ++l) {
        if (row[l] == row[l + 1]) continue;
        if (row[l] <= raw && raw < row[l + 1]) {
            const uint32_t span = zr_far_thresholds[l + 1] - zr_far_thresholds[l];
            return uint16_t(zr_far_thresholds[l] + span * (raw - row[l]) / (row[l + 1] - row[l]));
        }
    }
    return 0;
}

zr_status zr_algorithm_helper_extract_link(zr_session* session, const zr_algorithm_link* link,
                                           const zr_algorithm_chain*, zr_image* image, zr_finger* finger,
                                           zr_template** inout_template) {
    if (image == nullptr) return ZR_OK;
    if (link == nullptr || inout_template == nullptr) return ZR_BAD_ARGUMENT;
    if (link->extractor == nullptr || link->extractor->extract_template == nullptr) {
        return *inout_template != nullptr ? ZR_OK : ZR_BAD_ARGUMENT;
    }
    if (*inout_template != nullptr && zr_template_is_compatible(*inout_template, link->template_type)) return ZR_OK;
    zr_status rc = ZR_OK;
    zr_image* work = zr_image_copy(image);
    if (work == nullptr) rc = ZR_NO_MEMORY;
    for (const zr_image_preprocessor* const* p = link->preprocessors; rc == ZR_OK && p != nullptr && *p != nullptr;
         ++p) {
        zr_image* next = zr_image_enhance_by_preprocessor(work, session, *p);
        zr_image_delete(work);
        work = next;
        if (work == nullptr) rc = ZR_NO_MEMORY;
    }
    zr_template* extracted = nullptr;
    if (rc == ZR_OK) rc = link->extractor->extract_template(session, work, finger, link->template_type, &extracted);
    zr_image_delete(work);
    if (rc == ZR_OK) {
        zr_template* merged = zr_template_merge(*inout_template, extracted);
        if (merged == nullptr) rc = ZR_NO_MEMORY;
        zr_template_delete(*inout_template);
        *inout_template = merged;
    }
    zr_template_delete(extracted);
    if (rc != ZR_OK) {
        zr_template_delete(*inout_template);
        *inout_template = nullptr;
    }
    return rc;
}

void zr_mtm_remove_non_supported_subtemplates(const zr_algorithm_link* link, zr_chain_candidate* candidate) {
    if (candidate == nullptr) return;
    const uint32_t type = zr_algorithm_link_get_extract_template_type(link);
    zr_chain_subtemplate* sub = candidate->head;
    while (sub != nullptr) {
        zr_chain_subtemplate* next = sub->next;
        if (!zr_template_is_compatible(sub->tmpl, type)) remove_subtemplate(candidate, sub);
        sub = next;
    }
}

zr_status zr_multitemplate_verify_chain(zr_template* const* stored, uint8_t count, const zr_algorithm_chain* chain,
                                        zr_session* session, zr_template* probe_template, zr_image* probe_image,
                                        uint32_t far_level, zr_match_result* result,
                                        const zr_vermodel* const* vermodels, const zr_algorithm_config* config) {
    if ((probe_template == nullptr) == (probe_image == nullptr)) return ZR_BAD_ARGUMENT;
    if (result == nullptr || chain == nullptr || (count > 0 && stored == nullptr)) return ZR_BAD_ARGUMENT;
    // The result records six links per stored template.
    if (chain->count > ZR_CHAIN_MAX_LINKS || result->entry_count < count) return ZR_BAD_ARGUMENT;
    walk w{};
    w.session = session;
    w.chain = chain;
    w.vermodels = vermodels;
    w.config = config;
    w.result = result;
    w.image = probe_image;
    w.base = level_threshold(far_level);
    zr_status rc = set_up(w, stored, count, probe_template, far_level);
    if (rc == ZR_OK) rc = run_links(w);
    // The record has no fields between the matching template index and the
    // entries, so the end step clears nothing there. The tag names the
    // instance that matched, not the index-th one of all instances.
    result->matching_subtemplate_tag = w.matched_tag;
    w.candidates.clear();
    zr_template_delete(w.probe);
    return rc;
}

zr_status zr_multitemplate_verify_chain_rank(zr_template* const* templates, uint8_t count,
                                             const zr_algorithm_chain* chain, zr_session* session, zr_template* probe,
                                             uint32_t far_level, uint8_t* inout_results,
                                             zr_chain_rank_result* results, const zr_vermodel* const* vermodels) {
    if (templates == nullptr || chain == nullptr || probe == nullptr || inout_results == nullptr ||
        results == nullptr || *inout_results == 0) {
        return ZR_BAD_ARGUMENT;
    }
    rank_request q{const_cast<zr_template**>(templates), count, chain, session, probe, count, far_level,
                   *inout_results, vermodels, false};
    return run_rank(q, inout_results, results);
}

zr_status zr_multitemplate_update_templates(zr_template** templates, uint8_t count, const zr_algorithm_chain* chain,
                                            zr_session* session, uint32_t probe_index, uint32_t far_level,
                                            uint8_t* inout_results, zr_chain_rank_result* results,
                                            const zr_vermodel* const* vermodels) {
    if (templates == nullptr || chain == nullptr || inout_results == nullptr || results == nullptr ||
        probe_index >= count || templates[probe_index] == nullptr) {
        return ZR_BAD_ARGUMENT;
    }
    if (*inout_results == 0) {
        if (count > 1) return ZR_BAD_ARGUMENT;
        return ZR_OK;
    }
    rank_request q{templates, count, chain, session, templates[probe_index], probe_index, far_level,
                   *inout_results, vermodels, true};
    return run_rank(q, inout_results, results);
}
