// Islands from match lists, re-rooting, the breadth-first walk with
// accumulated alignments, and sorting; union-find and direct pose differences
// as oracles on random match lists.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <numeric>
#include <random>
#include <set>
#include <vector>

#include "match/update/zr_island.h"
#include "objects/zr_alloc.h"

namespace {

struct templates {
    std::vector<zr_template*> t;
    explicit templates(size_t n) {
        for (size_t i = 0; i < n; ++i) {
            const uint8_t b = uint8_t(i);
            t.push_back(zr_template_create(ZR_TEMPLATE_EHM, &b, 1));
        }
    }
    ~templates() {
        for (zr_template* p : t) zr_template_delete(p);
    }
    size_t index(const zr_template* p) const { return size_t(std::find(t.begin(), t.end(), p) - t.begin()); }
};

struct match_list {
    zr_match_list list{};
    // Appended in order (the list is taken as sorted best first).
    void add(zr_template* a, zr_template* b, zr_alignment* alignment) {
        zr_match* m = zr_match_create(a, b, 100, 1, alignment);
        auto* node = static_cast<zr_match_node*>(calloc(1, sizeof(zr_match_node)));
        node->match = m;
        node->previous = list.last;
        if (list.last) list.last->next = node;
        else list.first = node;
        list.last = node;
        ++list.count;
    }
    ~match_list() {
        for (zr_match_node* n = list.first; n;) {
            zr_match_node* next = n->next;
            zr_match_delete(n->match);
            free(n);
            n = next;
        }
    }
};

struct island_list {
    zr_island_list list{};
    ~island_list() { zr_island_list_delete(&list); }
    std::vector<zr_island*> islands() const {
        std::vector<zr_island*> out;
        for (zr_island_node* n = list.head; n; n = n->next) out.push_back(n->island);
        return out;
    }
};

struct alignment_ptr {
    zr_alignment* p;
    explicit alignment_ptr(zr_alignment* a) : p(a) {}
    alignment_ptr(const alignment_ptr&) = delete;
    alignment_ptr& operator=(const alignment_ptr&) = delete;
    ~alignment_ptr() { zr_alignment_delete(p); }
};

// Breadth-first template indices with their parent's index (-1 at the top).
std::vector<std::pair<size_t, long>> shape(const zr_island* island, const templates& ts) {
    std::vector<std::pair<size_t, long>> out;
    std::vector<const zr_subtemplate_leaf*> queue{island->top};
    for (size_t i = 0; i < queue.size(); ++i) {
        const zr_subtemplate_leaf* leaf = queue[i];
        if (leaf == nullptr) continue;
        out.emplace_back(ts.index(leaf->subtemplate->tmpl),
                         leaf->parent ? long(ts.index(leaf->parent->subtemplate->tmpl)) : -1L);
        for (const zr_subtemplate_leaf* c = leaf->first_child; c; c = c->next_sibling) queue.push_back(c);
    }
    return out;
}

bool same_transform(const zr_alignment* a, const zr_alignment* b, int32_t tolerance) {
    if (a == nullptr || b == nullptr) return a == b;
    return a->rotation == b->rotation && std::abs(a->dx - b->dx) <= tolerance && std::abs(a->dy - b->dy) <= tolerance;
}

// Matches (A,B), (C,D), (B,C): two islands, then one in which C was re-rooted
// under B with the (B,C) alignment; a match inside an island changes nothing.
TEST(Island, MatchesJoinIslands) {
    templates ts(4);
    zr_template *A = ts.t[0], *B = ts.t[1], *C = ts.t[2], *D = ts.t[3];
    alignment_ptr ab(zr_alignment_create(10, 0, 0)), cd(zr_alignment_create(0, 7, 16)),
        bc(zr_alignment_create(-3, 4, 200)), ad(zr_alignment_create(1, 1, 1));
    {
        match_list first;
        first.add(A, B, ab.p);
        first.add(C, D, cd.p);
        island_list islands;
        ASSERT_EQ(ZR_OK, zr_island_list_from_match_list(&first.list, &islands.list));
        ASSERT_EQ(islands.list.count, 2u);
        EXPECT_EQ(shape(islands.islands()[0], ts), (std::vector<std::pair<size_t, long>>{{0, -1}, {1, 0}}));
        EXPECT_EQ(shape(islands.islands()[1], ts), (std::vector<std::pair<size_t, long>>{{2, -1}, {3, 2}}));
    }
    match_list matches;
    matches.add(A, B, ab.p);
    matches.add(C, D, cd.p);
    matches.add(B, C, bc.p);
    matches.add(A, D, ad.p);  // same island: nothing
    island_list islands;
    ASSERT_EQ(ZR_OK, zr_island_list_from_match_list(&matches.list, &islands.list));
    ASSERT_EQ(islands.list.count, 1u);
    zr_island* island = islands.islands()[0];
    EXPECT_EQ(shape(island, ts), (std::vector<std::pair<size_t, long>>{{0, -1}, {1, 0}, {2, 1}, {3, 2}}));
    EXPECT_EQ(zr_island_get_nbr_of_subtemplates(island), 4u);
    zr_subtemplate_leaf* c = zr_subtemplate_tree_find_leaf_for_template(zr_island_get_subtemplate_tree(island), C);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->subtemplate->alignment, bc.p);
    zr_subtemplate_leaf* d = c->first_child;
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->subtemplate->alignment, cd.p);
    // Every subtemplate belongs to the island that holds it.
    for (zr_template* t : ts.t) {
        zr_subtemplate_leaf* leaf = zr_subtemplate_tree_find_leaf_for_template(&island->top, t);
        ASSERT_NE(leaf, nullptr);
        EXPECT_EQ(zr_subtemplate_get_island(leaf->subtemplate), island);
    }
}

TEST(Island, OnlySecondFoundTakesTheInverse) {
    templates ts(3);
    alignment_ptr ab(zr_alignment_create(20, -5, 30)), cb(zr_alignment_create(3, 9, 64));
    match_list matches;
    matches.add(ts.t[0], ts.t[1], ab.p);
    matches.add(ts.t[2], ts.t[1], cb.p);
    island_list islands;
    ASSERT_EQ(ZR_OK, zr_island_list_from_match_list(&matches.list, &islands.list));
    ASSERT_EQ(islands.list.count, 1u);
    zr_subtemplate_leaf* b = zr_subtemplate_tree_find_leaf_for_template(&islands.list.head->island->top, ts.t[1]);
    ASSERT_NE(b->first_child, nullptr);
    alignment_ptr inverse(zr_alignment_inverse(cb.p));
    EXPECT_TRUE(same_transform(b->first_child->subtemplate->alignment, inverse.p, 0));
    EXPECT_EQ(b->first_child->subtemplate->tmpl, ts.t[2]);
}

TEST(Island, MergeWithoutAlignmentLeavesTheLeafWithoutOne) {
    templates ts(4);
    alignment_ptr a(zr_alignment_create(1, 2, 3));
    match_list matches;
    matches.add(ts.t[0], ts.t[1], a.p);
    matches.add(ts.t[2], ts.t[3], a.p);
    matches.add(ts.t[1], ts.t[2], nullptr);
    island_list islands;
    ASSERT_EQ(ZR_OK, zr_island_list_from_match_list(&matches.list, &islands.list));
    ASSERT_EQ(islands.list.count, 1u);
    zr_subtemplate_leaf* c = zr_subtemplate_tree_find_leaf_for_template(&islands.list.head->island->top, ts.t[2]);
    EXPECT_EQ(c->subtemplate->alignment, nullptr);
}

TEST(Island, ReRootingAChainReversesIt) {
    templates ts(3);
    zr_island* island = zr_island_create();
    alignment_ptr ab(zr_alignment_create(5, 0, 10)), bc(zr_alignment_create(0, 8, 40));
    zr_subtemplate_leaf* a = zr_subtemplate_leaf_create(ts.t[0], island, nullptr);
    zr_subtemplate_leaf* b = zr_subtemplate_leaf_create(ts.t[1], island, ab.p);
    zr_subtemplate_leaf* c = zr_subtemplate_leaf_create(ts.t[2], island, bc.p);
    island->top = a;
    a->first_child = a->last_child = b;
    a->child_count = 1;
    b->parent = a;
    b->first_child = b->last_child = c;
    b->child_count = 1;
    c->parent = b;

    zr_subtemplate_leaf_make_top_leaf(&island->top, c);
    EXPECT_EQ(island->top, c);
    EXPECT_EQ(shape(island, ts), (std::vector<std::pair<size_t, long>>{{2, -1}, {1, 2}, {0, 1}}));
    alignment_ptr bc_inv(zr_alignment_inverse(bc.p)), ab_inv(zr_alignment_inverse(ab.p)), zero(zr_alignment_create(0, 0, 0));
    EXPECT_TRUE(same_transform(c->subtemplate->alignment, zero.p, 0));
    EXPECT_TRUE(same_transform(b->subtemplate->alignment, bc_inv.p, 0));
    EXPECT_TRUE(same_transform(a->subtemplate->alignment, ab_inv.p, 0));
    // Re-rooting at the top changes nothing.
    zr_alignment* before = c->subtemplate->alignment;
    zr_subtemplate_leaf_make_top_leaf(&island->top, c);
    EXPECT_EQ(c->subtemplate->alignment, before);
    zr_island_delete(island);
}

TEST(Island, SortIsStableLargestFirst) {
    templates ts(16);
    const size_t sizes[] = {2, 5, 5, 1};
    zr_island_list list{};
    std::vector<zr_island*> made;
    size_t next = 0;
    for (size_t size : sizes) {
        zr_island* island = zr_island_create();
        zr_subtemplate* top = zr_subtemplate_create(ts.t[next++], island, nullptr);
        ASSERT_EQ(ZR_OK, zr_island_set_top_subtemplate(island, top));
        zr_subtemplate_delete(top);
        for (size_t k = 1; k < size; ++k) {
            zr_subtemplate_leaf* leaf = zr_subtemplate_leaf_create(ts.t[next++], island, nullptr);
            leaf->parent = island->top;
            leaf->next_sibling = island->top->first_child;
            if (island->top->first_child) island->top->first_child->previous_sibling = leaf;
            else island->top->last_child = leaf;
            island->top->first_child = leaf;
            ++island->top->child_count;
        }
        auto* node = static_cast<zr_island_node*>(calloc(1, sizeof(zr_island_node)));
        node->island = island;
        node->previous = list.tail;
        if (list.tail) list.tail->next = node;
        else list.head = node;
        list.tail = node;
        ++list.count;
        made.push_back(island);
    }
    zr_island_list_sort(&list);
    std::vector<zr_island*> order;
    for (zr_island_node* n = list.head; n; n = n->next) order.push_back(n->island);
    EXPECT_EQ(order, (std::vector<zr_island*>{made[1], made[2], made[0], made[3]}));
    EXPECT_EQ(list.count, 4u);
    EXPECT_EQ(list.tail->island, made[3]);
    zr_island_list_delete(&list);
    EXPECT_EQ(list.head, nullptr);
}

TEST(Island, SubtemplatesAndTopSlot) {
    templates ts(1);
    zr_island* island = zr_island_create();
    EXPECT_EQ(zr_island_get_top_subtemplate(island), nullptr);
    EXPECT_EQ(zr_island_get_nbr_of_subtemplates(island), 0u);
    alignment_ptr a(zr_alignment_create(1, 1, 1));
    zr_subtemplate* s = zr_subtemplate_create(ts.t[0], island, a.p);
    EXPECT_EQ(a.p->ref_count, 2u);
    zr_subtemplate* copy = zr_subtemplate_copy(s);
    EXPECT_EQ(zr_subtemplate_is_copy(s, copy), 1u);
    EXPECT_EQ(a.p->ref_count, 3u);
    zr_subtemplate_set_alignment(copy, nullptr);
    EXPECT_EQ(zr_subtemplate_is_copy(s, copy), 0u);
    zr_subtemplate* zero = zr_subtemplate_copy(copy);  // no alignment: a zero one
    ASSERT_NE(zr_subtemplate_get_alignment(zero), nullptr);
    EXPECT_EQ(zr_subtemplate_get_alignment(zero)->dx, 0);
    ASSERT_EQ(ZR_OK, zr_island_set_top_subtemplate(island, s));
    EXPECT_EQ(zr_island_get_top_subtemplate(island), s);
    EXPECT_EQ(s->ref_count, 2u);
    ASSERT_EQ(ZR_OK, zr_island_set_top_subtemplate(island, nullptr));
    EXPECT_EQ(s->ref_count, 1u);
    zr_subtemplate_delete(s);
    zr_subtemplate_delete(copy);
    zr_subtemplate_delete(zero);
    zr_island* empty = zr_island_copy(island);
    EXPECT_EQ(zr_island_is_copy(island, empty), 0u);
    zr_island_delete(empty);
    zr_island_delete(island);
    EXPECT_EQ(a.p->ref_count, 1u);
}

TEST(Island, LibTreeStackBothEnds) {
    lib_tree_stack stack{};
    int items[3];
    for (int i = 0; i < 3; ++i) ASSERT_NE(lib_tree_push_stack(&stack, &items[i], uint64_t(i) << 40), nullptr);
    uint64_t extra = 0;
    EXPECT_EQ(lib_tree_peek_stack_tail(&stack, &extra), &items[2]);
    EXPECT_EQ(extra, uint64_t(2) << 40);
    EXPECT_EQ(lib_tree_pop_stack_head(&stack, &extra), &items[0]);
    EXPECT_EQ(lib_tree_pop_stack_tail(&stack, &extra), &items[2]);
    EXPECT_EQ(stack.count, 1u);
    EXPECT_EQ(lib_tree_pop_stack_head(&stack, nullptr), &items[1]);
    EXPECT_EQ(lib_tree_pop_stack_head(&stack, nullptr), nullptr);
    EXPECT_EQ(lib_tree_pop_stack_tail(&stack, &extra), nullptr);
    EXPECT_EQ(stack.head, nullptr);
    EXPECT_EQ(stack.tail, nullptr);
}

// --- oracles on random match lists ---

struct union_find {
    std::vector<size_t> parent;
    explicit union_find(size_t n) : parent(n) { std::iota(parent.begin(), parent.end(), 0); }
    size_t find(size_t x) { return parent[x] == x ? x : parent[x] = find(parent[x]); }
    void join(size_t a, size_t b) { parent[find(a)] = find(b); }
};

struct walk_record {
    const templates* ts;
    std::vector<std::pair<size_t, zr_alignment*>> visits;  // held alignments
    size_t depth_max = 0;
    ~walk_record() {
        for (auto& v : visits) zr_alignment_delete(v.second);
    }
};

zr_status record_visit(zr_subtemplate_leaf**, zr_subtemplate_leaf* leaf, const zr_alignment* accumulated, void* user) {
    auto* record = static_cast<walk_record*>(user);
    record->visits.emplace_back(record->ts->index(leaf->subtemplate->tmpl), zr_alignment_copy(accumulated));
    size_t depth = 0;
    for (const zr_subtemplate_leaf* p = leaf->parent; p; p = p->parent) ++depth;
    record->depth_max = std::max(record->depth_max, depth);
    return ZR_OK;
}

TEST(Island, RandomMatchesGiveConnectedComponentsWithConsistentPoses) {
    std::mt19937 rng(4242);
    for (int round = 0; round < 60; ++round) {
        const size_t n = 3 + rng() % 14;
        templates ts(n);
        // One pose a template; a match carries the second's pose relative to
        // the first's.
        std::vector<zr_alignment*> poses;
        for (size_t i = 0; i < n; ++i)
            poses.push_back(zr_alignment_create(int16_t(int(rng() % 121) - 60), int16_t(int(rng() % 121) - 60),
                                                uint8_t(rng())));
        match_list matches;
        union_find components(n);
        std::set<size_t> linked;
        const size_t m = rng() % (2 * n);
        for (size_t k = 0; k < m; ++k) {
            const size_t a = rng() % n, b = rng() % n;
            if (a == b) continue;
            zr_alignment* relative = zr_alignment_difference(poses[b], poses[a]);
            matches.add(ts.t[a], ts.t[b], relative);
            zr_alignment_delete(relative);
            components.join(a, b);
            linked.insert(a);
            linked.insert(b);
        }
        island_list islands;
        ASSERT_EQ(ZR_OK, zr_island_list_from_match_list(&matches.list, &islands.list));

        std::map<size_t, std::set<size_t>> expected;
        for (size_t t : linked) expected[components.find(t)].insert(t);
        std::set<std::set<size_t>> expected_sets, got_sets;
        for (auto& e : expected) expected_sets.insert(e.second);
        for (zr_island* island : islands.islands()) {
            walk_record walk{&ts, {}};
            ASSERT_EQ(ZR_OK, zr_subtemplate_tree_traverse(&island->top, record_visit, &walk));
            std::set<size_t> members;
            for (auto& v : walk.visits) members.insert(v.first);
            EXPECT_EQ(members.size(), walk.visits.size()) << "a template twice in one island";
            EXPECT_EQ(zr_island_get_nbr_of_subtemplates(island), walk.visits.size());
            got_sets.insert(members);
            // Accumulated = pose of the leaf relative to the top's pose; each
            // level adds the Q13 rounding of one composition.
            const size_t top = walk.visits.front().first;
            const int32_t tolerance = int32_t(8 * (walk.depth_max + 1));
            for (auto& v : walk.visits) {
                alignment_ptr direct(zr_alignment_difference(poses[v.first], poses[top]));
                EXPECT_TRUE(same_transform(v.second, direct.p, tolerance))
                    << "round " << round << " leaf " << v.first << " dx " << v.second->dx << "/" << direct.p->dx
                    << " dy " << v.second->dy << "/" << direct.p->dy;
            }
        }
        EXPECT_EQ(got_sets, expected_sets) << round;
        for (zr_alignment* p : poses) zr_alignment_delete(p);
    }
}

zr_status stop_at_third(zr_subtemplate_leaf**, zr_subtemplate_leaf*, const zr_alignment*, void* user) {
    return ++*static_cast<int*>(user) == 3 ? ZR_FAILURE : ZR_OK;
}

TEST(Island, VisitorFailureStopsTheWalk) {
    templates ts(5);
    alignment_ptr a(zr_alignment_create(1, 0, 0));
    match_list matches;
    for (size_t i = 1; i < 5; ++i) matches.add(ts.t[0], ts.t[i], a.p);
    island_list islands;
    ASSERT_EQ(ZR_OK, zr_island_list_from_match_list(&matches.list, &islands.list));
    int visits = 0;
    EXPECT_EQ(ZR_FAILURE, zr_subtemplate_tree_traverse(&islands.list.head->island->top, stop_at_third, &visits));
    EXPECT_EQ(visits, 3);
    EXPECT_EQ(a.p->ref_count, 1u + 4u + 4u);  // the matches and the leaves: the walk left none behind
}

TEST(Island, AllocationFailuresKeepWhatWasBuilt) {
    templates ts(6);
    alignment_ptr a(zr_alignment_create(2, 3, 4));
    match_list matches;
    matches.add(ts.t[0], ts.t[1], a.p);
    matches.add(ts.t[2], ts.t[3], a.p);
    matches.add(ts.t[4], ts.t[1], a.p);
    matches.add(ts.t[1], ts.t[2], a.p);
    matches.add(ts.t[5], ts.t[3], a.p);
    for (int32_t successes = 0; successes < 60; ++successes) {
        island_list islands;
        zr_alloc_fail_after(successes);
        const zr_status status = zr_island_list_from_match_list(&matches.list, &islands.list);
        zr_alloc_fail_after(-1);
        EXPECT_TRUE(status == ZR_OK || status == ZR_NO_MEMORY) << successes;
        if (status == ZR_OK) {
            EXPECT_EQ(islands.list.count, 1u);
        }
        for (zr_island* island : islands.islands()) {
            int visits = 0;
            zr_alloc_fail_after(successes / 3);
            const zr_status walked = zr_subtemplate_tree_traverse(&island->top, stop_at_third, &visits);
            zr_alloc_fail_after(-1);
            EXPECT_TRUE(walked == ZR_OK || walked == ZR_NO_MEMORY || walked == ZR_FAILURE);
        }
    }
}

}  // namespace
