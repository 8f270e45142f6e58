// Matches, the sorted match list and the match result: ownership of the held
// objects, sorted insertion, entries and cloning.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "objects/zr_alloc.h"
#include "objects/zr_match.h"
#include "objects/zr_match_result.h"
#include "objects/zr_template_metadata.h"

namespace {

zr_template* small_template(uint8_t tag) {
    const uint8_t data[2] = {tag, 1};
    return zr_template_create('C', data, 2);
}

void free_list(zr_match_list* list) {
    for (zr_match_node* node = list->first; node != nullptr;) {
        zr_match_node* next = node->next;
        zr_match_delete(node->match);
        std::free(node);
        node = next;
    }
    *list = {};
}

TEST(Match, HoldsItsAlignmentAndTheTemplatesOnlyWhenAsked) {
    zr_template* t1 = small_template(1);
    zr_template* t2 = small_template(2);
    zr_alignment* alignment = zr_alignment_create(1, 0, 0);
    zr_match* match = zr_match_create(t1, t2, 300, 1, alignment);
    ASSERT_NE(match, nullptr);
    EXPECT_EQ(alignment->ref_count, 2u);
    EXPECT_EQ(t1->ref_count, 1u);
    EXPECT_EQ(zr_match_get_alignment(match), alignment);
    EXPECT_EQ(zr_match_get_score(match), 300);
    EXPECT_EQ(zr_match_is_accept(match), 1u);
    EXPECT_EQ(zr_match_is_reject(match), 0u);
    EXPECT_EQ(zr_match_is_accept(nullptr), 0u);
    EXPECT_EQ(zr_match_is_reject(nullptr), 0u);

    zr_match* inverse = zr_match_create_inverse(match);
    ASSERT_NE(inverse, nullptr);
    EXPECT_EQ(zr_match_get_template1(inverse), t2);
    EXPECT_EQ(zr_match_get_template2(inverse), t1);
    EXPECT_EQ(zr_match_get_alignment(inverse)->dx, -256);
    EXPECT_EQ(zr_match_get_score(inverse), 300);
    EXPECT_EQ(zr_match_is_copy(match, inverse), 0u);

    zr_match* plain_copy = zr_match_copy(match);
    EXPECT_EQ(zr_match_is_copy(match, plain_copy), 1u);
    EXPECT_EQ(t1->ref_count, 1u);
    zr_match_retain_templates(match);
    zr_match_retain_templates(match);  // once only
    EXPECT_EQ(t1->ref_count, 2u);
    zr_match* holding_copy = zr_match_copy(match);
    EXPECT_EQ(t1->ref_count, 3u);
    EXPECT_EQ(alignment->ref_count, 4u);

    zr_match_delete(holding_copy);
    zr_match_delete(plain_copy);
    zr_match_delete(inverse);
    zr_match_delete(match);
    EXPECT_EQ(t1->ref_count, 1u);
    EXPECT_EQ(t2->ref_count, 1u);
    EXPECT_EQ(alignment->ref_count, 1u);
    EXPECT_EQ(zr_match_create_inverse(nullptr), nullptr);
    zr_template_delete(t1);
    zr_template_delete(t2);
    zr_alignment_delete(alignment);
}

std::vector<uint16_t> scores_of(const zr_match_list& list) {
    std::vector<uint16_t> out;
    for (const zr_match_node* n = list.first; n != nullptr; n = n->next)
        out.push_back(n->match ? n->match->score : 0xFFFF);
    return out;
}

// The list walked backwards must mirror the forward walk.
void expect_linked(const zr_match_list& list) {
    uint32_t count = 0;
    const zr_match_node* previous = nullptr;
    for (const zr_match_node* n = list.first; n != nullptr; n = n->next) {
        EXPECT_EQ(n->previous, previous);
        previous = n;
        ++count;
    }
    EXPECT_EQ(list.last, previous);
    EXPECT_EQ(list.count, count);
}

TEST(MatchList, SortedInsertion) {
    const struct {
        std::vector<int> scores;  // -1 inserts a node without match
        std::vector<uint16_t> order;
    } cases[] = {
        {{5, 9, 5, 7}, {9, 7, 5, 5}},
        {{1, 2, 3}, {3, 2, 1}},
        {{3, 2, 1}, {3, 2, 1}},
        {{4, 4, 4}, {4, 4, 4}},
        {{0, 0}, {0, 0}},
        {{5, -1, 0}, {5, 0xFFFF, 0}},   // 0 does not pass a node without match
        {{-1, 3}, {3, 0xFFFF}},         // a non-zero score does
        {{-1, -1}, {0xFFFF, 0xFFFF}},
    };
    for (const auto& c : cases) {
        zr_match_list list{};
        std::vector<zr_match*> made;
        for (const int score : c.scores) {
            zr_match* match = score < 0 ? nullptr
                                        : zr_match_create(nullptr, nullptr, uint16_t(score), 0,
                                                          nullptr);
            zr_match_node* node = zr_match_sort_into_list(match, &list);
            ASSERT_NE(node, nullptr);
            EXPECT_EQ(node->match, match);
            made.push_back(match);
        }
        EXPECT_EQ(scores_of(list), c.order);
        expect_linked(list);
        for (zr_match* m : made) {
            if (m != nullptr) {
                EXPECT_EQ(m->ref_count, 2u);
            }
            zr_match_delete(m);
        }
        free_list(&list);
    }
    // Equal scores keep their insertion order.
    zr_match_list list{};
    zr_match* first = zr_match_create(nullptr, nullptr, 5, 0, nullptr);
    zr_match* second = zr_match_create(nullptr, nullptr, 5, 1, nullptr);
    ASSERT_NE(zr_match_sort_into_list(first, &list), nullptr);
    ASSERT_NE(zr_match_sort_into_list(second, &list), nullptr);
    EXPECT_EQ(list.first->match, first);
    EXPECT_EQ(list.last->match, second);
    zr_match_delete(first);
    zr_match_delete(second);
    free_list(&list);

    EXPECT_EQ(zr_match_sort_into_list(nullptr, nullptr), nullptr);
    zr_alloc_fail_after(0);
    EXPECT_EQ(zr_match_sort_into_list(nullptr, &list), nullptr);
    zr_alloc_fail_after(-1);
    EXPECT_EQ(list.count, 0u);
}

TEST(MatchResult, CreationAndEntries) {
    zr_match_result* result = zr_match_result_create(3);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->ref_count, 1u);
    EXPECT_EQ(result->entry_count, 3u);
    for (uint32_t e = 0; e < 3; ++e) {
        const auto* fields = reinterpret_cast<const uint32_t*>(&result->entries[e]);
        for (int f = 1; f <= 18; ++f)
            EXPECT_EQ(fields[f - 1], f % 3 == 0 ? 0xFFFFFFFFu : 0u) << "field " << f;
    }
    EXPECT_EQ(zr_match_result_get_decision(result), 0u);
    EXPECT_EQ(zr_match_result_get_alignment(result), nullptr);
    EXPECT_EQ(zr_match_result_get_raw_score(result), 0);
    EXPECT_EQ(zr_match_result_get_updated_template(result), nullptr);
    EXPECT_EQ(zr_match_result_get_probe_rows(result), 0);
    zr_match_result_delete(result);

    zr_match_result* empty = zr_match_result_create(0);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->entries, nullptr);
    zr_match_result_delete(empty);
    zr_match_result_delete(nullptr);
    for (int32_t k = 0; k < 2; ++k) {
        zr_alloc_fail_after(k);
        EXPECT_EQ(zr_match_result_create(4), nullptr) << k;
        zr_alloc_fail_after(-1);
    }
}

TEST(MatchResult, DecisionAtALevel) {
    zr_match_result* result = zr_match_result_create(0);
    result->far_level_reached = 12;
    const struct {
        uint32_t level, at;
    } cases[] = {{0, 1}, {11, 1}, {12, 1}, {13, 0}, {27, 0}};
    for (const auto& c : cases) EXPECT_EQ(zr_match_result_get_decision_at(result, c.level), c.at);
    EXPECT_EQ(zr_match_result_get_decision_at(nullptr, 0), 0u);
    zr_match_result_delete(result);
}

TEST(MatchResult, FeatureScores) {
    zr_match_result* result = zr_match_result_create(0);
    const uint16_t scores[3] = {7, 8, 9};
    ASSERT_EQ(ZR_OK, zr_match_result_set_feature_scores(result, scores, 3));
    EXPECT_NE(result->feature_scores, scores);
    EXPECT_EQ(result->feature_scores[2], 9);
    EXPECT_EQ(result->feature_score_count, 3);
    zr_alloc_fail_after(0);
    EXPECT_EQ(ZR_NO_MEMORY, zr_match_result_set_feature_scores(result, scores, 2));
    zr_alloc_fail_after(-1);
    EXPECT_EQ(result->feature_score_count, 3);  // the old scores are kept
    ASSERT_EQ(ZR_OK, zr_match_result_set_feature_scores(result, scores, 0));
    EXPECT_EQ(result->feature_scores, nullptr);
    EXPECT_EQ(result->feature_score_count, 0);
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_match_result_set_feature_scores(result, nullptr, 2));
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_match_result_set_feature_scores(nullptr, scores, 2));
    zr_match_result_delete(result);
}

// A source holding one of everything.
zr_match_result* filled_result(uint32_t entries, zr_template* t1, zr_template* t2,
                               zr_template* t3, zr_image* image, zr_alignment* a1,
                               zr_alignment* a2) {
    zr_match_result* r = zr_match_result_create(entries);
    r->decision_far_level = 12;
    r->far_level_reached = 14;
    r->far_score = 30000;
    r->decision = 1;
    r->alignment = zr_alignment_retain(a1);
    r->second_alignment = zr_alignment_retain(a2);
    r->verified_template = zr_template_retain(t1);
    r->verification_image = zr_image_retain(image);
    r->second_template = zr_template_retain(t2);
    r->overlap_area = 5000;
    const uint16_t scores[2] = {11, 22};
    EXPECT_EQ(ZR_OK, zr_match_result_set_feature_scores(r, scores, 2));
    zr_match_result_set_raw_score(r, 777);
    zr_match_result_set_selected_model(r, 3);
    zr_match_result_set_matching_subtemplate_tag(r, 0xABCD);
    zr_match_result_set_last_link_index(r, 4);
    zr_match_result_set_updated_template(r, t3);
    zr_match_result_set_probe_rows(r, 176);
    zr_match_result_set_probe_cols(r, 96);
    r->matching_subtemplate_class_id = 2;
    r->matching_subtemplate_index = 5;
    r->matching_template_index = 1;
    for (uint32_t e = 0; e < entries; ++e) r->entries[e].links[e % 6].comparisons = e + 1;
    return r;
}

TEST(MatchResult, CloneCopiesTheHeadAndHoldsTheSourcesObjects) {
    zr_template* t1 = small_template(1);
    zr_template* t2 = small_template(2);
    zr_template* t3 = small_template(3);
    zr_template* old_template = small_template(4);
    zr_image* image = zr_image_create(2, 2, 500, 500, nullptr, 0);
    zr_alignment* a1 = zr_alignment_create(1, 2, 3);
    zr_alignment* a2 = zr_alignment_create(4, 5, 6);
    zr_match_result* source = filled_result(2, t1, t2, t3, image, a1, a2);
    zr_match_result* target = zr_match_result_create(3);
    target->verified_template = zr_template_retain(old_template);
    zr_match_result_retain(target);
    zr_match_result_entry* target_entries = target->entries;

    ASSERT_EQ(ZR_OK, zr_match_result_clone(source, target));
    EXPECT_EQ(target->ref_count, 2u);
    EXPECT_EQ(target->entries, target_entries);
    EXPECT_EQ(target->entry_count, 3u);
    EXPECT_EQ(target->entries[1].links[1].comparisons, 2u);
    EXPECT_EQ(target->entries[2].links[0].reserved, 0xFFFFFFFFu);  // beyond the source's
    EXPECT_EQ(zr_match_result_get_decision_far(target), 12u);
    EXPECT_EQ(zr_match_result_get_far_score(target), 30000);
    EXPECT_EQ(zr_match_result_get_overlap_area(target), 5000u);
    EXPECT_EQ(zr_match_result_get_alignment(target), a1);
    EXPECT_NE(target->feature_scores, source->feature_scores);
    EXPECT_EQ(target->feature_scores[1], 22);
    EXPECT_EQ(zr_match_result_get_raw_score(target), 777);
    EXPECT_EQ(zr_match_result_get_selected_model(target), 3u);
    EXPECT_EQ(zr_match_result_get_matching_subtemplate_tag(target), 0xABCDu);
    EXPECT_EQ(zr_match_result_get_last_link_index(target), 4u);
    EXPECT_EQ(zr_match_result_get_updated_template(target), t3);
    EXPECT_EQ(zr_match_result_get_probe_rows(target), 176);
    EXPECT_EQ(zr_match_result_get_probe_cols(target), 96);
    EXPECT_EQ(zr_match_result_get_matching_subtemplate_class_id(target), 2);
    EXPECT_EQ(zr_match_result_get_matching_subtemplate_index(target), 5u);
    EXPECT_EQ(zr_match_result_get_matching_template_index(target), 1u);
    EXPECT_EQ(old_template->ref_count, 1u);  // released by the target
    for (zr_template* t : {t1, t2, t3}) EXPECT_EQ(t->ref_count, 3u);
    EXPECT_EQ(image->ref_count, 3u);
    EXPECT_EQ(a1->ref_count, 3u);
    EXPECT_EQ(a2->ref_count, 3u);

    // Cloning again over the same objects, and onto itself, keeps the counts.
    ASSERT_EQ(ZR_OK, zr_match_result_clone(source, target));
    ASSERT_EQ(ZR_OK, zr_match_result_clone(target, target));
    EXPECT_EQ(t1->ref_count, 3u);

    zr_match_result_delete(target);
    zr_match_result_delete(target);
    zr_match_result_delete(source);
    for (zr_template* t : {t1, t2, t3, old_template}) EXPECT_EQ(t->ref_count, 1u);
    EXPECT_EQ(image->ref_count, 1u);
    EXPECT_EQ(a1->ref_count, 1u);
    for (zr_template* t : {t1, t2, t3, old_template}) zr_template_delete(t);
    zr_image_delete(image);
    zr_alignment_delete(a1);
    zr_alignment_delete(a2);
}

TEST(MatchResult, FailedClonesLeaveTheTargetUnchanged) {
    zr_template* t1 = small_template(1);
    zr_alignment* a1 = zr_alignment_create(1, 2, 3);
    zr_match_result* source = filled_result(3, t1, nullptr, nullptr, nullptr, a1, nullptr);
    zr_match_result* small = zr_match_result_create(2);
    small->far_score = 9;
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_match_result_clone(source, small));  // too few entries
    EXPECT_EQ(small->far_score, 9);
    EXPECT_EQ(small->entries[1].links[1].comparisons, 0u);
    EXPECT_EQ(t1->ref_count, 2u);

    zr_match_result* target = zr_match_result_create(3);
    target->far_score = 9;
    zr_alloc_fail_after(0);  // the feature scores cannot be copied
    EXPECT_EQ(ZR_NO_MEMORY, zr_match_result_clone(source, target));
    zr_alloc_fail_after(-1);
    EXPECT_EQ(target->far_score, 9);
    EXPECT_EQ(target->alignment, nullptr);
    EXPECT_EQ(t1->ref_count, 2u);
    EXPECT_EQ(a1->ref_count, 2u);
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_match_result_clone(nullptr, target));

    zr_match_result_delete(target);
    zr_match_result_delete(small);
    zr_match_result_delete(source);
    EXPECT_EQ(t1->ref_count, 1u);
    zr_template_delete(t1);
    zr_alignment_delete(a1);
}

TEST(MatchResult, EnrolTypeAndImageClassGoToTheVerifiedTemplate) {
    zr_match_result* result = zr_match_result_create(0);
    EXPECT_EQ(ZR_PART_MISSING, zr_match_result_set_enroll_type(result, 2));
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_match_result_set_verification_image_class_id(result, 3));
    result->verification_image = zr_image_create(2, 2, 500, 500, nullptr, 0);
    EXPECT_EQ(ZR_PART_MISSING, zr_match_result_set_verification_image_class_id(result, 3));
    EXPECT_EQ(zr_image_get_class_id(result->verification_image), 3);
    result->verified_template = small_template(1);
    ASSERT_EQ(ZR_OK, zr_match_result_set_enroll_type(result, 2));
    ASSERT_EQ(ZR_OK, zr_match_result_set_verification_image_class_id(result, 4));
    EXPECT_EQ(zr_image_get_class_id(result->verification_image), 4);
    EXPECT_EQ(zr_template_metadata_enroll_type(result->verified_template), 2u);
    zr_template_metadata metadata{};
    ASSERT_EQ(ZR_OK, zr_template_metadata_get(nullptr, result->verified_template, &metadata));
    EXPECT_EQ(metadata.image_class, 4);
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_match_result_set_enroll_type(nullptr, 2));
    zr_match_result_delete(result);
}

}  // namespace
