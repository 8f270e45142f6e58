#include "match/enroll/zr_multitemplate_enroll.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "imaging/bal_draw.h"
#include "imaging/bal_point_ops.h"
#include "match/enroll/zr_mte_finalize.h"
#include "match/verify/zr_verify_chain.h"
#include "objects/zr_alignment.h"
#include "objects/zr_alloc.h"

namespace {

constexpr const char* kUseQualityCheckKey = "zr.dynupdate.use_quality_check";
constexpr uint32_t kCaptureDpi = 500;
constexpr uint32_t kInitialCaptureSize = 160;
constexpr uint32_t kDynamicUpdateFarLevel = 15;
constexpr uint32_t kFarLevel = 12;
constexpr uint8_t kMaxRankedResults = 8;
constexpr uint32_t kQualityRejectBit = 1;
constexpr uint32_t kTopRecheckLeaves = 5;  // offsets recomputed every this many leaves
constexpr uint64_t kFullCoverageArea = 87500;
constexpr uint32_t kFullCoveragePercent = 100;
// Canvas: base image framed by a white margin, brightened.
constexpr uint32_t kCanvasMargin = 50;
constexpr uint32_t kCanvasBrighten = 75;
constexpr uint32_t kCanvasImpression = 29;
constexpr uint8_t kCanvasOutsideBase = 254;
constexpr uint8_t kCanvasEdge = 0;

// --- small helpers ---

uint32_t send_feedback(const zr_multitemplate_enroll* e, uint32_t code, void* data) {
    if (e->callbacks == nullptr || e->callbacks->feedback == nullptr) return 0;
    return e->callbacks->feedback(e->session, code, data);
}

void send_canvas(const zr_multitemplate_enroll* e) {
    if (e->callbacks != nullptr && e->callbacks->canvas != nullptr) (void)e->callbacks->canvas(e->session, e->canvas);
}

zr_match*& matrix_at(zr_multitemplate_enroll* e, uint32_t row, uint32_t col) {
    return e->matrix[row * e->matrix_size + col];
}

void clear_matrix_cell(zr_multitemplate_enroll* e, uint32_t row, uint32_t col) {
    zr_match_delete(matrix_at(e, row, col));
    matrix_at(e, row, col) = nullptr;
}

void clear_match_list(zr_match_list* list) {
    zr_match_node* node = list->first;
    while (node != nullptr) {
        zr_match_node* next = node->next;
        zr_match_delete(node->match);
        free(node);
        node = next;
    }
    *list = zr_match_list{};
}

void clear_captures(zr_multitemplate_enroll* e) {
    zr_mte_capture* c = e->first_capture;
    while (c != nullptr) {
        zr_mte_capture* next = c->next;
        zr_template_delete(c->tmpl);
        free(c);
        c = next;
    }
    e->first_capture = e->last_capture = nullptr;
    e->nbr_of_capture_records = 0;
}

void release_accepted(zr_multitemplate_enroll* e) {
    for (uint32_t i = 0; i < e->matrix_size; ++i) {
        zr_template_delete(e->templates[i]);
        e->templates[i] = nullptr;
    }
    for (uint32_t i = 0; i < e->matrix_size * e->matrix_size; ++i) {
        zr_match_delete(e->matrix[i]);
        e->matrix[i] = nullptr;
    }
}

zr_mte_capture* append_capture(zr_multitemplate_enroll* e, zr_template* tmpl) {
    auto* c = static_cast<zr_mte_capture*>(zr_calloc(1, sizeof(zr_mte_capture)));
    if (c == nullptr) return nullptr;
    c->tmpl = zr_template_retain(tmpl);
    c->previous = e->last_capture;
    if (e->last_capture != nullptr) e->last_capture->next = c;
    else e->first_capture = c;
    e->last_capture = c;
    ++e->nbr_of_capture_records;
    return c;
}

bool capture_rejected(const zr_multitemplate_enroll* e, const zr_template* tmpl) {
    for (const zr_mte_capture* c = e->first_capture; c != nullptr; c = c->next)
        if (c->tmpl == tmpl) return c->rejected != 0;
    return false;
}

bool template_in_matches(const zr_match_list* list, const zr_template* tmpl) {
    for (const zr_match_node* n = list->first; n != nullptr; n = n->next)
        if (n->match != nullptr && (n->match->template1 == tmpl || n->match->template2 == tmpl)) return true;
    return false;
}

// Capture size at 500 dpi from the image. ZR_BAD_ARGUMENT for a resolution
// of 0 (the size would be a division by zero).
zr_status set_capture_size(zr_multitemplate_enroll* e, const zr_image* image) {
    uint32_t vdpi = zr_image_get_vertical_resolution(image);
    uint32_t hdpi = zr_image_get_horizontal_resolution(image);
    if (vdpi == 0 || hdpi == 0) return ZR_BAD_ARGUMENT;
    e->capture_height = uint32_t(zr_image_get_rows(image)) * kCaptureDpi / vdpi;
    e->capture_width = uint32_t(zr_image_get_cols(image)) * kCaptureDpi / hdpi;
    return ZR_OK;
}

// --- matching ---

// The match seen from the other side. A comparison that gave no alignment
// (a verifier may leave it out for a reject) has an inverse without one
// rather than failing the run.
zr_match* inverse_match(const zr_match* m) {
    if (zr_match_get_alignment(m) != nullptr) return zr_match_create_inverse(m);
    return zr_match_create(zr_match_get_template2(m), zr_match_get_template1(m), zr_match_get_score(m),
                           zr_match_get_decision(m), nullptr);
}

// Compares the new template (index n) with the n accepted ones and fills the
// matrix and the match list. *inout_new may be replaced by an updated one.
zr_status match_new_capture(zr_multitemplate_enroll* e, zr_template** inout_new, zr_mte_capture* record) {
    const uint32_t n = e->accepted;
    auto** working = static_cast<zr_template**>(zr_calloc(n + 1, sizeof(zr_template*)));
    if (working == nullptr) return ZR_NO_MEMORY;
    for (uint32_t i = 0; i < n; ++i) working[i] = zr_template_retain(e->templates[i]);
    working[n] = zr_template_retain(*inout_new);
    zr_chain_rank_result results[kMaxRankedResults] = {};
    uint8_t wanted = uint8_t(std::min<uint32_t>(n, kMaxRankedResults));
    zr_status rc = zr_multitemplate_update_templates(
        working, uint8_t(n + 1), zr_algorithm_get_algorithm_chain(e->algorithm), e->session, n, e->far_level,
        &wanted, results, zr_algorithm_get_vermodels(e->algorithm));
    // The array's references replace ours (updated templates included).
    for (uint32_t i = 0; i < n; ++i) {
        zr_template_delete(e->templates[i]);
        e->templates[i] = working[i];
    }
    if (working[n] != *inout_new) {
        zr_template_delete(record->tmpl);
        record->tmpl = zr_template_retain(working[n]);
    }
    zr_template_delete(*inout_new);
    *inout_new = working[n];
    free(working);
    const uint8_t got = rc == ZR_OK ? wanted : 0;
    for (uint8_t k = 0; k < got; ++k) {
        const zr_chain_rank_result& r = results[k];
        if (rc == ZR_OK && r.index < n) {
            zr_match* m = zr_match_create(e->templates[r.index], *inout_new, r.log2_score, r.accepted, r.alignment);
            zr_match* inv = m != nullptr ? inverse_match(m) : nullptr;
            if (inv == nullptr) {
                zr_match_delete(m);
                rc = ZR_NO_MEMORY;
            } else {
                zr_match_retain_templates(m);
                zr_match_retain_templates(inv);
                if (zr_match_is_accept(m) && zr_match_sort_into_list(m, &e->matches) == nullptr) rc = ZR_NO_MEMORY;
                clear_matrix_cell(e, r.index, n);
                clear_matrix_cell(e, n, r.index);
                matrix_at(e, r.index, n) = m;
                matrix_at(e, n, r.index) = inv;
            }
        }
    }
    for (uint8_t k = 0; k < got; ++k) zr_alignment_delete(results[k].alignment);
    return rc;
}

// --- duplicates ---

// Walks the accepted captures from the latest down; true for a duplicate.
// *matched counts the accepting earlier captures seen.
bool find_duplicate(zr_multitemplate_enroll* e, uint32_t* matched) {
    const uint32_t n = e->accepted;
    *matched = 0;
    for (uint32_t k = n; k-- > 0;) {
        zr_match* m = matrix_at(e, k, n);
        if (m == nullptr || zr_match_is_accept(m) == 0) continue;
        ++*matched;
        if (zr_alignment_within_limits_single(zr_match_get_alignment(m), e->options.duplicate_distance,
                                              e->options.duplicate_angle) != 0) {
            if (k == n - 1) send_feedback(e, ZR_ENROLL_FEEDBACK_NOT_MOVED, e->finger);
            return true;
        }
    }
    return false;
}

bool vetoed_duplicate(zr_multitemplate_enroll* e, bool duplicate) {
    if (e->options.capture_veto == 0) return duplicate;
    if (e->callbacks == nullptr || e->callbacks->duplicate_decision == nullptr) return false;
    uint32_t flag = duplicate ? 1 : 0;
    if (e->callbacks->duplicate_decision(e->session, &flag) != 0) return false;
    return flag != 0;
}

void set_aside(zr_multitemplate_enroll* e, zr_template* tmpl, zr_mte_capture* record) {
    const uint32_t n = e->accepted;
    send_feedback(e, ZR_ENROLL_FEEDBACK_DUPLICATE, nullptr);
    for (uint32_t k = 0; k < e->matrix_size; ++k) {
        clear_matrix_cell(e, n, k);
        clear_matrix_cell(e, k, n);
    }
    zr_template_delete(tmpl);
    record->rejected = 1;
}

// --- islands ---

void free_descriptors(zr_enroll_island* d, uint32_t count) {
    if (d == nullptr) return;
    for (uint32_t i = 0; i < count; ++i) free(d[i].leaves);
    free(d);
}

zr_status add_single_island(zr_island_list* list, zr_template* tmpl) {
    zr_island* island = zr_island_create();
    zr_subtemplate* sub = island != nullptr ? zr_subtemplate_create(tmpl, island, nullptr) : nullptr;
    auto* node = static_cast<zr_island_node*>(zr_calloc(1, sizeof(zr_island_node)));
    zr_status rc = sub != nullptr && node != nullptr ? zr_island_set_top_subtemplate(island, sub) : ZR_NO_MEMORY;
    zr_subtemplate_delete(sub);
    if (rc != ZR_OK) {
        free(node);
        zr_island_delete(island);
        return rc;
    }
    node->island = island;
    node->previous = list->tail;
    if (list->tail != nullptr) list->tail->next = node;
    else list->head = node;
    list->tail = node;
    ++list->count;
    return ZR_OK;
}

const zr_template* island_top_template(const zr_island* island) {
    return zr_subtemplate_get_template(zr_island_get_top_subtemplate(island));
}

// Each old island's top capture stays the top of the new island holding it.
void keep_tops(const zr_island_list* old_list, zr_island_list* new_list) {
    for (const zr_island_node* o = old_list->head; o != nullptr; o = o->next) {
        const zr_template* top = island_top_template(o->island);
        if (top == nullptr) continue;
        for (zr_island_node* n = new_list->head; n != nullptr; n = n->next) {
            zr_subtemplate_leaf** tree = zr_island_get_subtemplate_tree(n->island);
            zr_subtemplate_leaf* leaf = zr_subtemplate_tree_find_leaf_for_template(tree, top);
            if (leaf != nullptr) {
                zr_subtemplate_leaf_make_top_leaf(tree, leaf);
                break;
            }
        }
    }
}

zr_status build_islands(zr_multitemplate_enroll* e, zr_island_list* out) {
    zr_status rc = zr_island_list_from_match_list(&e->matches, out);
    if (rc != ZR_OK) return rc;
    zr_island_list_sort(out);
    for (zr_mte_capture* c = e->first_capture; c != nullptr && rc == ZR_OK; c = c->next)
        if (!template_in_matches(&e->matches, c->tmpl)) rc = add_single_island(out, c->tmpl);
    if (rc == ZR_OK) keep_tops(&e->islands, out);
    return rc;
}

struct leaf_walk {
    const zr_multitemplate_enroll* e;
    zr_enroll_island* island;
    uint32_t capacity;
};

zr_status visit_leaf(zr_subtemplate_leaf**, zr_subtemplate_leaf* leaf, const zr_alignment* accumulated,
                     void* user_data) {
    auto* w = static_cast<leaf_walk*>(user_data);
    if (w->island->nbr_of_leaves >= w->capacity) return ZR_OK;
    zr_enroll_leaf& out = w->island->leaves[w->island->nbr_of_leaves++];
    out.tmpl = zr_subtemplate_get_template(leaf->subtemplate);
    const int16_t W = int16_t(w->e->capture_width);
    const int16_t H = int16_t(w->e->capture_height);
    const bal_point rect[4] = {{0, 0}, {W, 0}, {W, H}, {0, H}};
    for (int i = 0; i < 4; ++i) {
        out.corners[i] = rect[i];  // kept when the leaf has no alignment
        zr_alignment_transform_point_inverse(accumulated, rect[i].x, rect[i].y, &out.corners[i].x,
                                             &out.corners[i].y);
    }
    out.flags = 0;
    if (capture_rejected(w->e, out.tmpl)) out.flags |= ZR_ENROLL_LEAF_REJECTED;
    if (w->e->last_capture != nullptr && out.tmpl == w->e->last_capture->tmpl) out.flags |= ZR_ENROLL_LEAF_LATEST;
    return ZR_OK;
}

zr_status describe_islands(const zr_multitemplate_enroll* e, const zr_island_list* islands,
                           zr_enroll_island** out) {
    *out = nullptr;
    if (islands->count == 0) return ZR_OK;
    auto* d = static_cast<zr_enroll_island*>(zr_calloc(islands->count, sizeof(zr_enroll_island)));
    if (d == nullptr) return ZR_NO_MEMORY;
    uint32_t i = 0;
    zr_status rc = ZR_OK;
    for (zr_island_node* n = islands->head; n != nullptr && rc == ZR_OK; n = n->next, ++i) {
        uint32_t count = std::min<uint32_t>(zr_island_get_nbr_of_subtemplates(n->island), UINT8_MAX);
        d[i].leaves = static_cast<zr_enroll_leaf*>(zr_calloc(count ? count : 1, sizeof(zr_enroll_leaf)));
        if (d[i].leaves == nullptr) {
            rc = ZR_NO_MEMORY;
            break;
        }
        leaf_walk w{e, &d[i], count};
        rc = zr_subtemplate_tree_traverse(zr_island_get_subtemplate_tree(n->island), visit_leaf, &w);
    }
    if (rc != ZR_OK) {
        free_descriptors(d, islands->count);
        return rc;
    }
    *out = d;
    return ZR_OK;
}

// --- canvas ---

zr_image* create_canvas(const zr_image* base) {
    const uint32_t rows = zr_image_get_rows(base);
    const uint32_t cols = zr_image_get_cols(base);
    const uint32_t crows = rows + 2 * kCanvasMargin;
    const uint32_t ccols = cols + 2 * kCanvasMargin;
    if (crows > UINT16_MAX || ccols > UINT16_MAX) return nullptr;
    const uint8_t* src = zr_image_get_pixels(const_cast<zr_image*>(base));
    auto* pixels = static_cast<uint8_t*>(zr_malloc(size_t(crows) * ccols));
    if (pixels == nullptr || src == nullptr) {
        free(pixels);
        return nullptr;
    }
    memset(pixels, 255, size_t(crows) * ccols);
    for (uint32_t r = 0; r < rows; ++r)
        memcpy(pixels + size_t(r + kCanvasMargin) * ccols + kCanvasMargin, src + size_t(r) * cols, cols);
    bal_image_brighten(pixels, int32_t(crows), int32_t(ccols), kCanvasBrighten, pixels);
    zr_image* canvas = zr_image_create(uint16_t(crows), uint16_t(ccols), kCaptureDpi, kCaptureDpi, pixels,
                                       kCanvasImpression);
    free(pixels);
    return canvas;
}

struct canvas_view {
    uint8_t* pixels;
    int32_t rows;
    int32_t cols;
    const uint8_t* base;
    int32_t base_rows;
    int32_t base_cols;
};

void draw_capture(const canvas_view& v, const zr_enroll_leaf& leaf, int32_t off_x, int32_t off_y, bool latest) {
    bal_point quad[4];
    int32_t min_x = INT32_MAX, max_x = INT32_MIN, min_y = INT32_MAX, max_y = INT32_MIN;
    for (int i = 0; i < 4; ++i) {
        quad[i] = {int16_t(leaf.corners[i].x + off_x), int16_t(leaf.corners[i].y + off_y)};
        min_x = std::min<int32_t>(min_x, quad[i].x);
        max_x = std::max<int32_t>(max_x, quad[i].x);
        min_y = std::min<int32_t>(min_y, quad[i].y);
        max_y = std::max<int32_t>(max_y, quad[i].y);
    }
    min_x = std::max(min_x, 0);
    min_y = std::max(min_y, 0);
    max_x = std::min(max_x, v.cols - 1);
    max_y = std::min(max_y, v.rows - 1);
    for (int32_t y = min_y; y <= max_y; ++y) {
        for (int32_t x = min_x; x <= max_x; ++x) {
            const bal_point p{int16_t(x), int16_t(y)};
            if (!bal_point_inside_polygon_corners(&p, quad, 4)) continue;
            const int32_t bx = x - int32_t(kCanvasMargin);
            const int32_t by = y - int32_t(kCanvasMargin);
            uint8_t value = kCanvasOutsideBase;
            if (bx >= 0 && by >= 0 && bx < v.base_cols && by < v.base_rows) {
                const uint8_t b = v.base[by * v.base_cols + bx];
                value = latest ? b : uint8_t((255 - b) / 2 + b);
            }
            v.pixels[y * v.cols + x] = value;
        }
    }
    for (int i = 0; i < 4; ++i) {
        const bal_point& a = quad[i];
        const bal_point& b = quad[(i + 1) % 4];
        bal_image_draw_line(v.pixels, v.rows, v.cols, a.x, a.y, b.x, b.y, kCanvasEdge);
    }
}

void place_canvas(zr_multitemplate_enroll* e, const zr_island* first, const zr_enroll_island& leaves) {
    const zr_template* top = island_top_template(first);
    if (leaves.nbr_of_leaves % kTopRecheckLeaves != 0 && top == e->placed_top) return;
    int32_t min_x = INT32_MAX, max_x = INT32_MIN, min_y = INT32_MAX, max_y = INT32_MIN;
    for (uint32_t i = 0; i < leaves.nbr_of_leaves; ++i) {
        for (const bal_point& c : leaves.leaves[i].corners) {
            min_x = std::min<int32_t>(min_x, c.x);
            max_x = std::max<int32_t>(max_x, c.x);
            min_y = std::min<int32_t>(min_y, c.y);
            max_y = std::max<int32_t>(max_y, c.y);
        }
    }
    if (leaves.nbr_of_leaves == 0) min_x = max_x = min_y = max_y = 0;
    const int32_t w = int32_t(e->capture_width);
    const int32_t h = int32_t(e->capture_height);
    const int32_t base_cols = zr_image_get_cols(e->base);
    const int32_t base_rows = zr_image_get_rows(e->base);
    e->canvas_offset_x = (base_cols + 2 * int32_t(kCanvasMargin) - w) / 2 - ((max_x + min_x) / 2 - w / 2);
    e->canvas_offset_y = (base_rows + 2 * int32_t(kCanvasMargin) - h) / 2 - ((max_y + min_y) / 2 - h / 2);
    e->placed_top = top;
}

zr_status redraw_canvas(zr_multitemplate_enroll* e, const zr_island* first, const zr_enroll_island& leaves) {
    place_canvas(e, first, leaves);
    zr_image* canvas = create_canvas(e->base);
    if (canvas == nullptr) return ZR_NO_MEMORY;
    canvas_view v{zr_image_get_pixels(canvas), zr_image_get_rows(canvas), zr_image_get_cols(canvas),
                  zr_image_get_pixels(e->base), zr_image_get_rows(e->base), zr_image_get_cols(e->base)};
    const zr_enroll_leaf* latest = leaves.nbr_of_leaves > 0 ? &leaves.leaves[0] : nullptr;
    for (uint32_t i = 0; i < leaves.nbr_of_leaves; ++i) {
        const zr_enroll_leaf& leaf = leaves.leaves[i];
        if ((leaf.flags & ZR_ENROLL_LEAF_LATEST) != 0) latest = &leaf;
        else draw_capture(v, leaf, e->canvas_offset_x, e->canvas_offset_y, false);
    }
    if (latest != nullptr) draw_capture(v, *latest, e->canvas_offset_x, e->canvas_offset_y, true);
    zr_image_delete(e->canvas);
    e->canvas = canvas;
    return ZR_OK;
}

// --- coverage ---

uint8_t coverage_percent(const zr_enroll_island& leaves) {
    bal_point corners[4 * UINT8_MAX];
    uint32_t n = 0;
    for (uint32_t i = 0; i < leaves.nbr_of_leaves; ++i) {
        if ((leaves.leaves[i].flags & ZR_ENROLL_LEAF_REJECTED) != 0) continue;
        for (const bal_point& c : leaves.leaves[i].corners) corners[n++] = c;
    }
    bal_polygon hull = bal_convex_hull_from_points(corners, n);
    const uint64_t area = bal_polygon_area(&hull);
    free(hull.points);
    return uint8_t(std::min<uint64_t>(area * kFullCoveragePercent / kFullCoverageArea, kFullCoveragePercent));
}

// Islands, canvas, coverage and the islands callback.
zr_status report_islands(zr_multitemplate_enroll* e, uint8_t* coverage) {
    const bool islands_wanted = e->callbacks != nullptr && e->callbacks->islands != nullptr;
    if (!islands_wanted && e->base == nullptr && coverage == nullptr) return ZR_OK;
    zr_island_list fresh{};
    zr_enroll_island* d = nullptr;
    zr_status rc = build_islands(e, &fresh);
    if (rc == ZR_OK) rc = describe_islands(e, &fresh, &d);
    if (rc == ZR_OK && e->base != nullptr) {
        if (e->accepted > 0 && d != nullptr) rc = redraw_canvas(e, fresh.head->island, d[0]);
        if (rc == ZR_OK) send_canvas(e);
    }
    if (rc == ZR_OK && coverage != nullptr) {
        const uint8_t pct = d != nullptr ? coverage_percent(d[0]) : 0;
        e->coverage = std::max(e->coverage, pct);
        *coverage = e->coverage;
    }
    const uint8_t count = uint8_t(std::min<uint32_t>(fresh.count, UINT8_MAX));
    if (rc == ZR_OK && islands_wanted) {
        if (e->callbacks->islands(e->session, d, count) == 1) free_descriptors(d, fresh.count);
    } else {
        free_descriptors(d, fresh.count);
    }
    if (rc != ZR_OK) {
        zr_island_list_delete(&fresh);
        return rc;
    }
    zr_island_list_delete(&e->islands);
    e->islands = fresh;
    return ZR_OK;
}

// --- slots ---

zr_status mte_run(zr_multitemplate_enroll* e, zr_image* image, zr_template* given, uint8_t* coverage) {
    const int32_t quality_check = zr_session_get_int(e->session, kUseQualityCheckKey, 0);
    if (image != nullptr && set_capture_size(e, image) != ZR_OK) return ZR_BAD_ARGUMENT;
    if (e->accepted >= e->options.max_captures) return ZR_ENROLL_COMPLETE;
    if (coverage != nullptr) *coverage = 0;
    if (image == nullptr && given == nullptr) return ZR_BAD_ARGUMENT;
    zr_template* tmpl = nullptr;
    if (given != nullptr) {
        tmpl = zr_template_retain(given);
    } else {
        zr_status rc = zr_algorithm_extract_template(e->algorithm, image, e->finger, &tmpl);
        send_feedback(e, ZR_ENROLL_FEEDBACK_EXTRACTED, e->finger);
        if (rc != ZR_OK) return rc;
    }
    if (quality_check != 0 && (zr_template_get_generation_quality(tmpl) & kQualityRejectBit) != 0) {
        send_feedback(e, ZR_ENROLL_FEEDBACK_NO_OVERLAP, nullptr);
        zr_template_delete(tmpl);
        return ZR_OK;
    }
    zr_mte_capture* record = append_capture(e, tmpl);
    if (record == nullptr) {
        zr_template_delete(tmpl);
        return ZR_NO_MEMORY;
    }
    if (e->accepted > 0) {
        zr_status rc = match_new_capture(e, &tmpl, record);
        if (rc != ZR_OK) {
            for (uint32_t k = 0; k < e->matrix_size; ++k) {
                clear_matrix_cell(e, e->accepted, k);
                clear_matrix_cell(e, k, e->accepted);
            }
            zr_template_delete(tmpl);
            record->rejected = 1;
            return rc;
        }
        uint32_t matched = 0;
        bool duplicate = vetoed_duplicate(e, find_duplicate(e, &matched));
        if (duplicate) {
            set_aside(e, tmpl, record);
        } else {
            e->templates[e->accepted++] = tmpl;
            if (matched == 0) send_feedback(e, ZR_ENROLL_FEEDBACK_NO_OVERLAP, e->finger);
        }
    } else {
        e->templates[e->accepted++] = tmpl;
    }
    zr_status rc = report_islands(e, coverage);
    if (rc != ZR_OK) return rc;
    if (e->callbacks != nullptr && e->callbacks->progress != nullptr)
        (void)e->callbacks->progress(e->session, e->accepted, e->options.max_captures);
    return ZR_OK;
}

uint16_t mte_get_nbr_of_captures(const zr_multitemplate_enroll* e) { return e->accepted; }

zr_status mte_finalize_template(zr_multitemplate_enroll* e, uint8_t max_templates, zr_template** out) {
    if (out == nullptr) return ZR_BAD_ARGUMENT;
    *out = nullptr;
    const uint8_t n = uint8_t(e->accepted);
    uint32_t flags = 0;
    if (e->options.dynamic_update != 0) flags = zr_session_get_int(e->session, "zr.dynupdate.fast", 5) < 1 ? 1 : 5;
    if (e->options.extra_enroll_flag != 0) flags |= 2;
    zr_mte_selection_request request{max_templates,
                                     e->options.max_template_size,
                                     e->options.priority_class,
                                     e->options.priority_level,
                                     e->options.encode_mode,
                                     flags};
    zr_status rc = zr_mte_select_and_encode(&request, e->templates, e->matrix, e->matrix_size, n, out);
    if (rc == ZR_OK && e->base != nullptr) send_canvas(e);
    return rc;
}

zr_status mte_finalize_template_algorithm(zr_algorithm* algorithm, zr_multitemplate_enroll* e, zr_template** out) {
    const zr_algorithm_config* config = zr_algorithm_get_config(algorithm);
    if (config == nullptr) return ZR_BAD_ARGUMENT;
    return e->finalize_template(e, config->max_templates, out);
}

void mte_delete(zr_multitemplate_enroll* e) {
    release_accepted(e);
    clear_match_list(&e->matches);
    clear_captures(e);
    zr_island_list_delete(&e->islands);
    zr_finger_delete(e->finger);
    zr_image_delete(e->canvas);
    zr_image_delete(e->base);
    if (zr_session_get_context(e->session, ZR_CONTEXT_ENROLLMENT) == e)
        zr_session_remove_context(e->session, ZR_CONTEXT_ENROLLMENT);
    zr_session_delete(e->session);
    zr_algorithm_delete(e->algorithm);
    free(e->templates);
    free(e->matrix);
    free(e);
}

const zr_enroll_callbacks* mte_getgui(const zr_multitemplate_enroll* e) { return e->callbacks; }

void mte_set_duplicate_tolerance(zr_multitemplate_enroll* e, uint16_t distance, uint8_t angle) {
    e->options.duplicate_distance = distance;
    e->options.duplicate_angle = angle;
}

zr_session* mte_get_session(const zr_multitemplate_enroll* e) { return e->session; }

zr_status mte_reset(zr_multitemplate_enroll* e) {
    release_accepted(e);
    zr_island_list_delete(&e->islands);
    e->placed_top = nullptr;
    e->accepted = 0;
    e->coverage = 0;
    return ZR_OK;
}

}  // namespace

void zr_enroll_islands_free(zr_enroll_island* islands, uint8_t count) { free_descriptors(islands, count); }

zr_enroll_options zr_enroll_options_default(uint16_t max_captures) {
    zr_enroll_options o{};
    o.reserved_a = 20;
    o.reserved_b = 121;
    o.reserved_c = 50;
    o.reserved_d = 1;
    o.reserved_e = 30000;
    o.max_captures = max_captures;
    o.duplicate_distance = 10;
    o.duplicate_angle = 16;
    return o;
}

zr_multitemplate_enroll* zr_multitemplate_enroll_create(zr_algorithm* algorithm, zr_session* session,
                                                        zr_finger* finger, void* caller_value,
                                                        const zr_enroll_callbacks* callbacks,
                                                        uint32_t template_type, const zr_enroll_options* options) {
    if (algorithm == nullptr || session == nullptr || options == nullptr || options->max_captures == 0)
        return nullptr;
    if (zr_session_get_context(session, ZR_CONTEXT_ENROLLMENT) != nullptr) return nullptr;
    auto* e = static_cast<zr_multitemplate_enroll*>(zr_calloc(1, sizeof(zr_multitemplate_enroll)));
    if (e == nullptr) return nullptr;
    e->run = mte_run;
    e->get_nbr_of_captures = mte_get_nbr_of_captures;
    e->finalize_template = mte_finalize_template;
    e->finalize_template_algorithm = mte_finalize_template_algorithm;
    e->destroy = mte_delete;
    e->getgui = mte_getgui;
    e->set_duplicate_tolerance = mte_set_duplicate_tolerance;
    e->get_session = mte_get_session;
    e->reset = mte_reset;
    e->algorithm = zr_algorithm_retain(algorithm);
    e->session = zr_session_retain(session);
    e->finger = zr_finger_retain(finger);
    e->caller_value = caller_value;
    e->callbacks = callbacks;
    e->template_type = template_type;
    e->options = *options;
    e->base = zr_image_retain(options->base_image);
    e->options.base_image = e->base;
    e->matrix_size = options->max_captures;
    e->templates = static_cast<zr_template**>(zr_calloc(e->matrix_size, sizeof(zr_template*)));
    e->matrix = static_cast<zr_match**>(zr_calloc(size_t(e->matrix_size) * e->matrix_size, sizeof(zr_match*)));
    e->capture_height = kInitialCaptureSize;
    e->capture_width = kInitialCaptureSize;
    e->far_level = options->dynamic_update != 0 ? kDynamicUpdateFarLevel : kFarLevel;
    bool ok = e->templates != nullptr && e->matrix != nullptr;
    if (ok && e->base != nullptr) {
        e->canvas = create_canvas(e->base);
        ok = e->canvas != nullptr;
    }
    ok = ok && zr_session_set_context(session, e, ZR_CONTEXT_ENROLLMENT, nullptr) == ZR_OK;
    if (!ok) {
        mte_delete(e);
        return nullptr;
    }
    if (e->base != nullptr) send_canvas(e);
    return e;
}

zr_multitemplate_enroll* zr_multitemplate_enroll_create_algorithm(zr_algorithm* algorithm, zr_finger* finger,
                                                                  const zr_enroll_callbacks* callbacks,
                                                                  zr_image* base_image) {
    const zr_algorithm_config* c = algorithm != nullptr ? zr_algorithm_get_config(algorithm) : nullptr;
    if (c == nullptr || c->max_captures == 0) return nullptr;
    zr_enroll_options o = zr_enroll_options_default(c->max_captures);
    o.encode_mode = c->encode_mode;
    o.dynamic_update = c->dynamic_update;
    o.max_template_size = c->max_template_size;
    o.extra_enroll_flag = c->extra_enroll_flag;
    o.base_image = base_image;
    o.capture_veto = c->capture_veto;
    o.priority_level = c->priority_level;
    o.priority_class = c->priority_class;
    return zr_multitemplate_enroll_create(algorithm, zr_algorithm_get_session(algorithm), finger, nullptr,
                                          callbacks, zr_algorithm_get_template_type(algorithm), &o);
}

zr_status zr_multitemplate_enroll_run(zr_multitemplate_enroll* object, zr_image* image, zr_template* tmpl,
                                      uint8_t* coverage) {
    if (object == nullptr) return ZR_BAD_ARGUMENT;
    if (object->hook_context != nullptr && object->hook != nullptr)
        object->hook(object->hook_context, object, image, tmpl, coverage);
    return object->run(object, image, tmpl, coverage);
}

uint16_t zr_multitemplate_enroll_get_nbr_of_captures(const zr_multitemplate_enroll* object) {
    return object != nullptr ? object->get_nbr_of_captures(object) : 0;
}

zr_status zr_multitemplate_enroll_finalize_template(zr_multitemplate_enroll* object, uint8_t max_templates,
                                                    zr_template** out) {
    if (object == nullptr) return ZR_BAD_ARGUMENT;
    return object->finalize_template(object, max_templates, out);
}

zr_status zr_multitemplate_enroll_finalize_template_algorithm(zr_algorithm* algorithm,
                                                              zr_multitemplate_enroll* object, zr_template** out) {
    if (object == nullptr || algorithm == nullptr) return ZR_BAD_ARGUMENT;
    return object->finalize_template_algorithm(algorithm, object, out);
}

void zr_multitemplate_enroll_set_duplicate_tolerance(zr_multitemplate_enroll* object, uint16_t distance,
                                                     uint8_t angle) {
    if (object != nullptr) object->set_duplicate_tolerance(object, distance, angle);
}

zr_status zr_mte_reset(zr_multitemplate_enroll* object) {
    if (object == nullptr) return ZR_BAD_ARGUMENT;
    return object->reset(object);
}

void zr_multitemplate_enroll_delete(zr_multitemplate_enroll* object) {
    if (object == nullptr) return;
    if (object->hook_release != nullptr) object->hook_release(object->hook_context);
    object->hook_context = nullptr;
    object->hook = nullptr;
    object->hook_release = nullptr;
    object->destroy(object);
}

const zr_enroll_callbacks* zr_multitemplate_getgui(const zr_multitemplate_enroll* object) {
    if (object == nullptr || object->getgui == nullptr) return nullptr;
    return object->getgui(object);
}

zr_session* zr_mte_get_session(const zr_multitemplate_enroll* object) {
    return object != nullptr ? object->get_session(object) : nullptr;
}
