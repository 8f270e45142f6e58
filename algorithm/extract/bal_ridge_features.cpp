#include "extract/bal_ridge_features.h"

#include <cstdlib>
#include <cstring>
#include <utility>

#include "math/zr_roots.h"
#include "math/zr_trig.h"

namespace {

constexpr uint32_t kGrowth = 100;            // entries added when a growable array is full
constexpr uint8_t kTraced = 255;             // a visited or erased skeleton pixel
constexpr uint8_t kSkeleton = 0;
constexpr uint32_t kStraightStep = 10;       // path length of a straight step
constexpr uint32_t kDiagonalStep = 14;       // path length of a diagonal step
constexpr uint32_t kReachSlack = 5;          // a point is reached within half a step
constexpr int32_t kCurvatureScale = 1800;    // numerator of the window's coordinate factor
constexpr uint32_t kChordPerFactor = 18;     // a window chord must exceed this x the factor
constexpr uint32_t kMaxMagnitude = 256;      // curvature magnitudes must stay below
constexpr int32_t kPerpendicular = 100;      // fixed-point unit of the chord slope
constexpr int32_t kCentreMarginExtra = 4;    // extra margin of the centre region
constexpr uint32_t kBendLimit = 73;          // bends sharper than this (opening angle below)
constexpr uint32_t kWideBendLimit = 56;      // wide bends from this opening angle on
constexpr int32_t kDropThreshold = 7;        // a maximum ends after a drop of more than this
constexpr uint32_t kJunctionNeighbours = 3;

constexpr zr_alignment_summary kEmptySummary = {0, 128, 0, -1};

// Ring of the 8 neighbours clockwise from the one above; also the order in
// which a trace tries its next pixel.
constexpr int32_t kRingRow[8] = {-1, -1, 0, 1, 1, 1, 0, -1};
constexpr int32_t kRingCol[8] = {0, 1, 1, 1, 0, -1, -1, -1};

uint8_t low_byte(int32_t v) { return static_cast<uint8_t>(v); }
int32_t signed_difference(uint8_t a, uint8_t b) { return static_cast<int8_t>(static_cast<uint8_t>(a - b)); }
int32_t folded(int32_t signed_value) { return signed_value < 0 ? -signed_value : signed_value; }

// ---------------------------------------------------------------------------
// Skeleton access with everything outside the image read as background.

struct Skeleton {
    uint8_t* pixels;
    int64_t rows;
    int64_t cols;

    bool inside(int64_t r, int64_t c) const { return r >= 0 && r < rows && c >= 0 && c < cols; }
    uint8_t& at(int64_t r, int64_t c) const { return pixels[static_cast<size_t>(r * cols + c)]; }
    bool is_skeleton(int64_t r, int64_t c) const { return inside(r, c) && at(r, c) == kSkeleton; }
    void set(int64_t r, int64_t c, uint8_t v) const {
        if (inside(r, c)) at(r, c) = v;
    }
    // Bit i set when ring neighbour i is a skeleton pixel.
    uint32_t neighbour_mask(int64_t r, int64_t c) const {
        uint32_t mask = 0;
        for (int i = 0; i < 8; ++i)
            if (is_skeleton(r + kRingRow[i], c + kRingCol[i])) mask |= 1u << i;
        return mask;
    }
};

uint32_t popcount8(uint32_t mask) {
    uint32_t n = 0;
    for (; mask != 0; mask &= mask - 1) ++n;
    return n;
}

// True when two set bits are next to each other on the ring of 8.
bool has_adjacent_pair(uint32_t mask) {
    const uint32_t rotated = ((mask << 1) | (mask >> 7)) & 0xFFu;
    return (mask & rotated) != 0;
}

// ---------------------------------------------------------------------------
// Growable arrays

template <typename T>
bool grow(T*& items, uint32_t& capacity) {
    const size_t wanted = static_cast<size_t>(capacity) + kGrowth;
    auto* bigger = static_cast<T*>(std::realloc(items, wanted * sizeof(T)));
    if (!bigger) return false;
    items = bigger;
    capacity = static_cast<uint32_t>(wanted);
    return true;
}

bool append_point(bal_traced_ridge* ridge, uint32_t row, uint32_t col, uint32_t kind) {
    if (ridge->count == ridge->capacity && !grow(ridge->points, ridge->capacity)) return false;
    ridge->points[ridge->count++] = bal_ridge_point{row, col, 0, {0, 0, 0}, kind};
    return true;
}

// A new ridge record holding a copy of the points, reversed when asked.
bal_traced_ridge* copy_ridge(const bal_ridge_point* points, uint32_t count, bool reverse) {
    auto* copy = static_cast<bal_traced_ridge*>(std::malloc(sizeof(bal_traced_ridge)));
    auto* copied = static_cast<bal_ridge_point*>(std::malloc((count ? count : 1) * sizeof(bal_ridge_point)));
    if (!copy || !copied) {
        std::free(copy);
        std::free(copied);
        return nullptr;
    }
    for (uint32_t i = 0; i < count; ++i) copied[i] = points[reverse ? count - 1 - i : i];
    *copy = bal_traced_ridge{copied, count, count};
    return copy;
}

void release_payload(bal_traced_ridge* payload) {
    if (!payload) return;
    std::free(payload->points);
    std::free(payload);
}

// ---------------------------------------------------------------------------
// Walking along a ridge

uint32_t step_length(const bal_ridge_point& a, const bal_ridge_point& b) {
    return (a.row == b.row || a.col == b.col) ? kStraightStep : kDiagonalStep;
}

// Index of the first point, walking from `start` by `step` (+1 or -1), at
// which the accumulated path length plus 5 reaches `length`; false when the
// walk ends first.
bool reached_point(const bal_ridge_point* points, uint32_t count, uint32_t start, int32_t step,
                   uint32_t length, uint32_t& reached) {
    uint32_t walked = 0;
    uint32_t i = start;
    for (;;) {
        if (walked + kReachSlack >= length) {
            reached = i;
            return true;
        }
        if ((step < 0 && i == 0) || (step > 0 && i + 1 >= count)) return false;
        const uint32_t next = step < 0 ? i - 1 : i + 1;
        walked += step_length(points[i], points[next]);
        i = next;
    }
}

uint32_t anchor_of_start(const bal_ridge_point* points, uint32_t count, uint32_t unit) {
    const uint32_t span = count - 1 < unit ? count - 1 : unit;
    uint32_t reached = 0;
    reached_point(points, count, 0, 1, span * kStraightStep, reached);
    return reached;
}

uint32_t anchor_of_end(const bal_ridge_point* points, uint32_t count, uint32_t unit) {
    const uint32_t span = count - 1 < unit ? count - 1 : unit;
    uint32_t reached = count - 1;
    reached_point(points, count, count - 1, -1, span * kStraightStep, reached);
    return reached;
}

uint8_t direction_between(const bal_ridge_point& from, const bal_ridge_point& to) {
    return low_byte(zr_atan2_(static_cast<int32_t>(to.row) - static_cast<int32_t>(from.row),
                              static_cast<int32_t>(to.col) - static_cast<int32_t>(from.col)));
}

// ---------------------------------------------------------------------------
// Alignment-vector list

bal_alignment_bucket* find_bucket(const bal_alignment_list* list, uint32_t key) {
    for (bal_alignment_bucket* b = list->first; b; b = b->next)
        if (b->key == key) return b;
    return nullptr;
}

// Makes and appends a vector at `at` with the given direction; takes the
// payload (released on failure).
bal_status add_new_vector(bal_alignment_list* list, uint32_t key, const bal_ridge_point& at,
                          uint8_t direction, bal_traced_ridge* payload) {
    auto* v = static_cast<bal_alignment_vector*>(std::malloc(sizeof(bal_alignment_vector)));
    if (!v) {
        release_payload(payload);
        return BAL_NO_MEMORY;
    }
    *v = bal_alignment_vector{nullptr, nullptr, direction, static_cast<uint16_t>(at.col),
                              static_cast<uint16_t>(at.row), payload};
    const bal_status status = bal_add_alignment_vector(list, v, key);
    if (status != BAL_OK) {
        release_payload(payload);
        std::free(v);
    }
    return status;
}

bal_status add_vector_between(bal_alignment_list* list, uint32_t key, const bal_ridge_point& from,
                              const bal_ridge_point& to, bal_traced_ridge* payload) {
    return add_new_vector(list, key, from, direction_between(from, to), payload);
}

// ---------------------------------------------------------------------------
// Geometry shared by the extractors and the vector computations

struct Geometry {
    const uint8_t* block_mask;
    uint32_t block_size;
    uint32_t block_rows;
    uint32_t block_cols;
    uint32_t margin;
    uint32_t unit;
    uint32_t rows;
    uint32_t cols;
    uint32_t scale;

    bool on_finger(int64_t r, int64_t c) const {
        if (r < 0 || c < 0) return false;
        const uint64_t br = static_cast<uint64_t>(r) / block_size;
        const uint64_t bc = static_cast<uint64_t>(c) / block_size;
        if (br >= block_rows || bc >= block_cols) return false;
        return block_mask[br * block_cols + bc] != 0;
    }
    // The four blocks at distance d left, right, above and below are on the finger.
    bool cross_on_finger(int64_t r, int64_t c, int64_t d) const {
        return on_finger(r, c - d) && on_finger(r, c + d) && on_finger(r - d, c) && on_finger(r + d, c);
    }
    bool in_centre(const bal_ridge_point& p) const {
        const int64_t d = (static_cast<int64_t>(margin) + kCentreMarginExtra) / scale;
        const int64_t r = p.row;
        const int64_t c = p.col;
        return d < c && c < static_cast<int64_t>(cols) - 1 - d && d < r &&
               r < static_cast<int64_t>(rows) - 1 - d && cross_on_finger(r, c, d);
    }
};

Geometry make_geometry(const uint8_t* block_mask, uint32_t block_size, uint32_t margin,
                       uint32_t unit, uint32_t rows, uint32_t cols, uint32_t scale) {
    const uint32_t bs = block_size ? block_size : 1;
    return Geometry{block_mask, bs, rows / bs, cols / bs, margin, unit, rows, cols, scale ? scale : 1};
}

// ---------------------------------------------------------------------------
// Ridge vectors: bends, straight stretches, fastest change

struct Place {
    uint32_t index;
    int32_t s;          // signed opening (back minus front direction)
    uint8_t direction;
    int32_t value;      // opening angle of the extremum it belongs to
};

struct Middle {
    uint32_t index;
    int32_t a;  // opening angle 0..128
    int32_t s;
    uint8_t front;
    uint8_t back;
    uint8_t direction() const { return s >= 0 ? front : back; }
};

struct PlaceList {
    Place* items;
    uint32_t count;
    void add(const Middle& m, uint8_t direction, int32_t value) {
        items[count++] = Place{m.index, m.s, direction, value};
    }
};

Middle middle_at(const bal_ridge_point* p, uint32_t back, uint32_t middle, uint32_t front) {
    const uint8_t fd = direction_between(p[middle], p[front]);
    const uint8_t bd = direction_between(p[middle], p[back]);
    const int32_t s = signed_difference(bd, fd);
    return Middle{middle, folded(s), s, fd, bd};
}

// Rise-and-fall detector of a running maximum that ends after a drop of
// more than 7.
struct MaximumTracker {
    enum class State { none, rising, falling };
    int32_t maximum = 0;
    State state = State::none;
    Middle candidate{};
    Middle after{};

    // Returns true when a drop ends the current maximum; the caller then reads
    // candidate, after and the old maximum, and calls reset(value).
    bool feed(int32_t value, const Middle& for_candidate, const Middle& for_after) {
        if (value > maximum) {
            candidate = for_candidate;
            maximum = value;
            state = State::rising;
            return false;
        }
        if (value >= maximum) return false;
        if (state == State::rising) {
            after = for_after;
            state = State::falling;
        }
        return state == State::falling && value < maximum - kDropThreshold;
    }
    void reset(int32_t value) {
        maximum = value;
        state = State::none;
    }
};

bal_status add_place(bal_alignment_list* list, uint32_t key, const bal_ridge_point* points,
                     uint32_t index, uint8_t direction) {
    return add_new_vector(list, key, points[index], direction, nullptr);
}

bal_status ridge_vectors(const bal_traced_ridge* ridge, const Geometry& g, bool joined,
                         bal_alignment_list* list) {
    const uint32_t n = ridge->count;
    const bal_ridge_point* p = ridge->points;
    const uint32_t u = g.unit;
    const uint32_t u2 = (2 * u) / 3;
    const uint32_t u3 = u / 3;
    if (n == 0) return BAL_OK;
    const bool end_in_centre = g.in_centre(p[0]) || g.in_centre(p[n - 1]);
    if (end_in_centre ? n <= 4 * u : n <= 3 * u + u2) return BAL_OK;
    const uint32_t steps = n - 2 * u - u2;

    // Three lists of candidates: straight stretches, bends, wide bends.
    const size_t per_list = 2 * static_cast<size_t>(steps) + 2;
    auto* storage = static_cast<Place*>(std::malloc(3 * per_list * sizeof(Place)));
    if (!storage) return BAL_NO_MEMORY;
    PlaceList straight{storage, 0};
    PlaceList bends{storage + per_list, 0};
    PlaceList wide_bends{storage + 2 * per_list, 0};

    bal_status status = BAL_OK;
    Middle sharpest_first{}, sharpest_last{};
    int32_t amin = 129, amax = -1;
    MaximumTracker straightness, change;
    bool falling = false;
    Middle plateau_first{};
    Middle previous{};
    for (uint32_t k = 0; k < steps && status == BAL_OK; ++k) {
        const Middle m = middle_at(p, u3 + k, u + u3 + k, 2 * u + u3 + k);
        if (m.a < amin) {
            amin = m.a;
            sharpest_first = m;
        }
        if (m.a == amin) sharpest_last = m;
        if (m.a > amax) amax = m.a;

        // Bends: a minimum ends where the angle rises again after a fall.
        if (k > 0) {
            if (m.a < previous.a) {
                falling = true;
                plateau_first = m;
            } else if (m.a > previous.a && falling) {
                const int32_t low = previous.a;
                if (previous.s >= 0) {
                    if (low < static_cast<int32_t>(kBendLimit)) bends.add(previous, previous.front, low);
                    if (!joined && low >= static_cast<int32_t>(kWideBendLimit))
                        wide_bends.add(previous, previous.front, low);
                }
                if (plateau_first.s <= 0) {
                    if (low < static_cast<int32_t>(kBendLimit))
                        bends.add(plateau_first, plateau_first.back, low);
                    if (!joined && low >= static_cast<int32_t>(kWideBendLimit))
                        wide_bends.add(plateau_first, plateau_first.back, low);
                }
                falling = false;
            }
        }

        // Straight stretches: maxima of the opening angle.
        const int32_t top = straightness.maximum;
        if (straightness.feed(m.a, m, m)) {
            const Middle& cand = straightness.candidate;
            const Middle& aft = straightness.after;
            if (!joined && aft.s >= 0 && cand.s >= 0) straight.add(aft, aft.front, top);
            if (!joined && aft.s <= 0 && cand.s <= 0) straight.add(cand, cand.back, top);
            straightness.reset(m.a);
        }

        // Fastest change of the opening angle, stored at once.
        if (k > 0) {
            const int32_t c = folded(signed_difference(low_byte(previous.a), low_byte(m.a)));
            if (change.feed(c, previous, previous)) {
                const Middle cand = change.candidate;
                const Middle aft = change.after;
                change.reset(c);
                if (!joined && aft.s >= 0)
                    status = add_place(list, BAL_KEY_FASTEST_CHANGE, p, aft.index, aft.back);
                if (status == BAL_OK && !joined && cand.s <= 0)
                    status = add_place(list, BAL_KEY_FASTEST_CHANGE, p, cand.index, cand.back);
            }
        }
        previous = m;
    }

    // The sharpest bend, first and last place.
    const Middle sharpest[2] = {sharpest_first, sharpest_last};
    const bool distinct = sharpest_last.index != sharpest_first.index &&
                          p[sharpest_last.index].row != p[sharpest_first.index].row &&
                          p[sharpest_last.index].col != p[sharpest_first.index].col;
    for (int i = 0; i < (distinct ? 2 : 1) && status == BAL_OK; ++i) {
        if (amin < static_cast<int32_t>(kBendLimit))
            status = add_place(list, BAL_KEY_SHARPEST_BEND, p, sharpest[i].index, sharpest[i].direction());
        if (status == BAL_OK && amin >= static_cast<int32_t>(kWideBendLimit))
            status = add_place(list, BAL_KEY_SHARPEST_BEND_WIDE, p, sharpest[i].index,
                               sharpest[i].direction());
    }
    for (uint32_t i = 0; i < straight.count && status == BAL_OK; ++i)
        if (straight.items[i].value == amax)
            status = add_place(list, BAL_KEY_STRAIGHT, p, straight.items[i].index, straight.items[i].direction);
    for (uint32_t i = 0; i < bends.count && status == BAL_OK; ++i)
        if (bends.items[i].value == amin)
            status = add_place(list, BAL_KEY_BEND, p, bends.items[i].index, bends.items[i].direction);
    for (uint32_t i = 0; i < wide_bends.count && status == BAL_OK; ++i)
        if (wide_bends.items[i].value == amin)
            status = add_place(list, BAL_KEY_BEND_WIDE, p, wide_bends.items[i].index,
                               wide_bends.items[i].direction);
    std::free(storage);
    return status;
}

// ---------------------------------------------------------------------------
// Vectors along one ridge

bal_status tail_vectors(bal_traced_ridge* ridge, uint32_t offset, int32_t unit, uint32_t anchor,
                        const uint32_t keys[3], bal_alignment_list* list) {
    uint32_t from = anchor;
    for (uint32_t j = 0; j < 3; ++j) {
        const uint32_t target =
            (offset + static_cast<uint32_t>(unit) * (2 + j)) * kStraightStep;  // wraps when negative
        uint32_t to = 0;
        if (!reached_point(ridge->points, ridge->count, 0, 1, target, to)) return BAL_OK;
        const bal_status status =
            add_vector_between(list, keys[j], ridge->points[from], ridge->points[to], nullptr);
        if (status != BAL_OK) return status;
        ridge->points[from].kind = keys[j];
        from = to;
    }
    return BAL_OK;
}

constexpr uint32_t kFreeEndTails[3] = {BAL_KEY_TAIL_END_1, BAL_KEY_TAIL_END_2, BAL_KEY_TAIL_END_3};
constexpr uint32_t kFirstLegTails[3] = {BAL_KEY_TAIL_FIRST_1, BAL_KEY_TAIL_FIRST_2, BAL_KEY_TAIL_FIRST_3};
constexpr uint32_t kSecondLegTails[3] = {BAL_KEY_TAIL_SECOND_1, BAL_KEY_TAIL_SECOND_2,
                                         BAL_KEY_TAIL_SECOND_3};
constexpr uint32_t kStemTails[3] = {BAL_KEY_TAIL_STEM_1, BAL_KEY_TAIL_STEM_2, BAL_KEY_TAIL_STEM_3};

// Path length of the short-ridge vector: 20 for up to 3 points, else half the points.
constexpr uint32_t kShortRidgeMinimumPath = 20;

bal_status alignment_vectors(bal_traced_ridge* ridge, const Geometry& g, bal_alignment_list* list) {
    const uint32_t n = ridge->count;
    bal_ridge_point* p = ridge->points;
    const uint32_t u = g.unit;
    if (n < 3) return ridge_vectors(ridge, g, false, list);
    const bool start_in_centre = g.in_centre(p[0]);
    const bool end_in_centre = g.in_centre(p[n - 1]);
    const uint32_t start_kind = p[0].kind;
    bal_status status = BAL_OK;

    if (start_in_centre || start_kind == BAL_POINT_JUNCTION) {
        const uint32_t anchor = anchor_of_start(p, n, u);
        bal_traced_ridge* payload = nullptr;
        if (start_kind == BAL_POINT_JUNCTION && !(payload = copy_ridge(p, n, false))) return BAL_NO_MEMORY;
        status = add_vector_between(list, start_kind, p[0], p[anchor], payload);
        if (status != BAL_OK) return status;
        const bool short_free_ridge = end_in_centre && p[n - 1].kind == BAL_POINT_TRACED && n < 2 * u;
        if (start_kind == BAL_POINT_TRACED && !short_free_ridge) {
            status = tail_vectors(ridge, 0, static_cast<int32_t>(u), anchor, kFreeEndTails, list);
            if (status != BAL_OK) return status;
        }
    }

    const uint32_t end_kind = p[n - 1].kind;
    if (end_in_centre || end_kind == BAL_POINT_JUNCTION) {
        const uint32_t anchor = anchor_of_end(p, n, u);
        bal_traced_ridge* payload = nullptr;
        if (end_kind == BAL_POINT_JUNCTION && !(payload = copy_ridge(p, n, true))) return BAL_NO_MEMORY;
        status = add_vector_between(list, end_kind, p[n - 1], p[anchor], payload);
        if (status != BAL_OK) return status;
        if (end_kind != BAL_POINT_JUNCTION) {
            if (!start_in_centre || start_kind == BAL_POINT_JUNCTION || n >= 2 * u) {
                status = tail_vectors(ridge, n - 1, -static_cast<int32_t>(u), anchor, kFreeEndTails, list);
            } else {
                const uint32_t path = n <= 3 ? kShortRidgeMinimumPath : kStraightStep * (n / 2);
                uint32_t target = 0;
                if (reached_point(p, n, n - 1, -1, path, target))
                    status = add_vector_between(list, BAL_KEY_SHORT_RIDGE, p[n - 1], p[target], nullptr);
            }
            if (status != BAL_OK) return status;
        }
    }
    return ridge_vectors(ridge, g, false, list);
}

// ---------------------------------------------------------------------------
// Curvature summary

zr_alignment_summary curvature_summary(const bal_curvature_vectors& vectors) {
    const uint32_t n = vectors.count;
    if (n == 0) return kEmptySummary;
    int64_t sum_row = 0, sum_col = 0;
    uint64_t sum_magnitude = 0;
    for (uint32_t i = 0; i < n; ++i) {
        sum_row += vectors.vectors[i].row;
        sum_col += vectors.vectors[i].col;
        sum_magnitude += vectors.vectors[i].magnitude;
    }
    const uint8_t mean_direction =
        (sum_row == 0 && sum_col == 0)
            ? 0
            : low_byte(zr_atan2_(static_cast<int32_t>(sum_row), static_cast<int32_t>(sum_col)));
    const auto mean_magnitude = static_cast<uint8_t>(sum_magnitude / n);
    uint64_t direction_squares = 0, magnitude_squares = 0;
    for (uint32_t i = 0; i < n; ++i) {
        const bal_curvature_vector& v = vectors.vectors[i];
        const uint8_t direction = (v.row == 0 && v.col == 0) ? 0 : low_byte(zr_atan2_(v.row, v.col));
        const int64_t dd = signed_difference(mean_direction, direction);
        const int64_t dg = static_cast<int64_t>(mean_magnitude) - v.magnitude;
        direction_squares += static_cast<uint64_t>(dd * dd);
        magnitude_squares += static_cast<uint64_t>(dg * dg);
    }
    return zr_alignment_summary{mean_direction, static_cast<uint8_t>(zr_sqrt_(static_cast<uint32_t>(direction_squares / n))),
                                mean_magnitude,
                                static_cast<int8_t>(zr_sqrt_(static_cast<uint32_t>(magnitude_squares / n)))};
}

// ---------------------------------------------------------------------------
// Junction pass

// Joins two legs at their common junction: x from its far end to the
// junction, then y from its second point.
bal_traced_ridge* join_legs(const bal_traced_ridge& x, const bal_traced_ridge& y) {
    const uint32_t n = x.count + y.count - 1;
    bal_traced_ridge* joined = copy_ridge(x.points, x.count, true);
    if (!joined) return nullptr;
    auto* points = static_cast<bal_ridge_point*>(std::realloc(joined->points, n * sizeof(bal_ridge_point)));
    if (!points) {
        release_payload(joined);
        return nullptr;
    }
    for (uint32_t i = 1; i < y.count; ++i) points[x.count + i - 1] = y.points[i];
    *joined = bal_traced_ridge{points, n, n};
    return joined;
}

// Copy of a leg under its branch key, its tails, and removal of its key-4 vector.
bal_status store_branch(bal_alignment_list* list, bal_alignment_vector* leg, uint32_t key,
                        const uint32_t tails[3], uint32_t unit) {
    bal_status status = bal_add_clone(list, leg, key);
    if (status == BAL_OK && leg->payload)
        status = bal_calculate_bifurcation_tail(leg->payload, unit, tails[0], tails[1], tails[2], list);
    if (status == BAL_OK) bal_remove_alignment_vector(list, leg);
    return status;
}

bool has_points(const bal_alignment_vector* v) { return v->payload && v->payload->count > 0; }

bal_status three_legs(bal_alignment_vector* legs[3], const Geometry& g, bal_alignment_list* list) {
    bal_alignment_vector* a = legs[0];
    bal_alignment_vector* b = legs[1];
    bal_alignment_vector* c = legs[2];
    const auto dir = [](const bal_alignment_vector* v) { return low_byte(v->direction); };
    if (static_cast<uint8_t>(dir(b) - dir(a)) > static_cast<uint8_t>(dir(c) - dir(a))) std::swap(b, c);
    const int32_t ab = folded(signed_difference(dir(b), dir(a)));
    const int32_t bc = folded(signed_difference(dir(c), dir(b)));
    const int32_t ca = folded(signed_difference(dir(a), dir(c)));
    bal_alignment_vector *x, *y, *stem;
    if (ab < bc && ab < ca) {
        x = a, y = b, stem = c;
    } else if (bc < ab && bc < ca) {
        x = b, y = c, stem = a;
    } else {
        x = c, y = a, stem = b;
    }
    bal_status status = BAL_OK;
    if (has_points(x) && has_points(y)) {
        bal_traced_ridge* joined = join_legs(*x->payload, *y->payload);
        if (!joined) return BAL_NO_MEMORY;
        status = ridge_vectors(joined, g, true, list);
        release_payload(joined);
        if (status != BAL_OK) return status;
    }
    if (stem->payload && stem->payload->count > 2) {
        const uint32_t anchor = anchor_of_start(stem->payload->points, stem->payload->count, g.unit);
        status = tail_vectors(stem->payload, 0, static_cast<int32_t>(g.unit), anchor, kStemTails, list);
        if (status != BAL_OK) return status;
    }
    status = store_branch(list, x, BAL_KEY_BRANCH_FIRST, kFirstLegTails, g.unit);
    if (status != BAL_OK) return status;
    return store_branch(list, y, BAL_KEY_BRANCH_SECOND, kSecondLegTails, g.unit);
}

bal_status junction_pass(const Skeleton& skeleton, const bal_ridge_point& junction, const Geometry& g,
                         bal_alignment_list* list) {
    const int64_t jr = junction.row;
    const int64_t jc = junction.col;
    skeleton.set(jr, jc, kTraced);
    for (int i = 0; i < 8; ++i) {
        const int64_t r = jr + kRingRow[i];
        const int64_t c = jc + kRingCol[i];
        if (!skeleton.is_skeleton(r, c) || popcount8(skeleton.neighbour_mask(r, c)) != 1) continue;
        bal_traced_ridge leg{nullptr, 0, 0};
        bal_status status = append_point(&leg, junction.row, junction.col, BAL_POINT_TRACED)
                                ? bal_trace_ridge(skeleton.pixels, static_cast<uint32_t>(skeleton.rows),
                                                  static_cast<uint32_t>(skeleton.cols),
                                                  static_cast<uint32_t>(r), static_cast<uint32_t>(c), &leg)
                                : BAL_NO_MEMORY;
        if (status == BAL_OK && leg.count > 3) {
            leg.points[0].kind = BAL_POINT_JUNCTION;
            leg.points[leg.count - 1].kind = BAL_POINT_JUNCTION;
            status = alignment_vectors(&leg, g, list);
        }
        bal_traced_ridge_release(&leg);
        if (status != BAL_OK) return status;
    }

    bal_alignment_vector* legs[3] = {nullptr, nullptr, nullptr};
    uint32_t found = 0;
    if (const bal_alignment_bucket* bucket = find_bucket(list, BAL_KEY_JUNCTION_END))
        for (bal_alignment_vector* v = bucket->first; v && found < 3; v = v->next)
            if (v->row == static_cast<uint16_t>(junction.row) && v->col == static_cast<uint16_t>(junction.col))
                legs[found++] = v;
    if (found == 2) return bal_calculate_partial_bifurcation_tail(legs[0], legs[1], g.unit, list);
    if (found == 3) return three_legs(legs, g, list);
    return BAL_OK;
}

// ---------------------------------------------------------------------------
// Scan in square frames from the border inward

struct Scan {
    Skeleton skeleton;
    Geometry geometry;
    uint32_t window;   // curvature window length r
    uint32_t factor;   // curvature length factor
    int64_t erase_margin;
    bal_curvature_vectors* curvature;
    bal_alignment_list* list;           // null for the curvature extractor
    bal_traced_ridge* junctions;        // null for the curvature extractor

    // Block row of every pixel row and block column of every pixel column,
    // -1 beyond the whole blocks (the scan's hot test, without divisions).
    const int32_t* row_block;
    const int32_t* col_block;
    bal_traced_ridge trace{nullptr, 0, 0};

    bool block_on_finger(int64_t r, int64_t c) const {
        const int32_t br = row_block[r];
        const int32_t bc = col_block[c];
        return br >= 0 && bc >= 0 &&
               geometry.block_mask[static_cast<size_t>(br) * geometry.block_cols + static_cast<size_t>(bc)] != 0;
    }

    bool erased(int64_t r, int64_t c) const {
        const int64_t d = erase_margin;
        if (r <= d || r >= skeleton.rows - 1 - d || c <= d || c >= skeleton.cols - 1 - d) return true;
        return !(block_on_finger(r, c - d) && block_on_finger(r, c + d) && block_on_finger(r - d, c) &&
                 block_on_finger(r + d, c));
    }

    bal_status visit(int64_t r, int64_t c) {
        if (erased(r, c)) {
            skeleton.at(r, c) = kTraced;
            return BAL_OK;
        }
        if (skeleton.at(r, c) != kSkeleton) return BAL_OK;
        const uint32_t mask = skeleton.neighbour_mask(r, c);
        const uint32_t neighbours = popcount8(mask);
        if (neighbours == 1) return trace_from(r, c);
        if (junctions && neighbours == kJunctionNeighbours && !has_adjacent_pair(mask))
            return append_point(junctions, static_cast<uint32_t>(r), static_cast<uint32_t>(c), BAL_POINT_TRACED)
                       ? BAL_OK
                       : BAL_NO_MEMORY;
        return BAL_OK;
    }

    bal_status trace_from(int64_t r, int64_t c) {
        trace.count = 0;
        bal_status status = bal_trace_ridge(skeleton.pixels, static_cast<uint32_t>(skeleton.rows),
                                            static_cast<uint32_t>(skeleton.cols), static_cast<uint32_t>(r),
                                            static_cast<uint32_t>(c), &trace);
        if (status == BAL_OK)
            status = bal_calculate_curvature_vectors(trace.points, trace.count, window, factor, curvature);
        if (status == BAL_OK && list) status = alignment_vectors(&trace, geometry, list);
        return status;
    }

    bal_status run(uint32_t frames) {
        bal_status status = BAL_OK;
        for (uint32_t k = 2; k <= frames && status == BAL_OK; ++k) {
            const int64_t low = k - 1;
            const int64_t bottom = skeleton.rows - k;
            const int64_t right = skeleton.cols - k;
            for (int64_t r = low; r <= bottom && status == BAL_OK; ++r) status = visit(r, low);
            for (int64_t r = low; r <= bottom && status == BAL_OK; ++r) status = visit(r, right);
            for (int64_t c = low + 1; c < right && status == BAL_OK; ++c) status = visit(low, c);
            for (int64_t c = low + 1; c < right && status == BAL_OK; ++c) status = visit(bottom, c);
        }
        return status;
    }
};

struct CallbackSetting {
    uint32_t scale;
    uint32_t unit;
    uint32_t factor;
    uint32_t multiplier;
};

CallbackSetting setting_of(const zr_template_container* container) {
    const bool low_resolution = (container->flags & BAL_EXTRACT_250DPI) != 0;
    return low_resolution ? CallbackSetting{2, 6, 1, 2} : CallbackSetting{1, 12, 2, 1};
}

bool callback_arguments_valid(const bal_extraction_image* image, const uint8_t* skeleton,
                              const uint8_t* block_mask, uint32_t block_size,
                              const zr_template_container* container) {
    return image && skeleton && block_mask && container && block_size != 0;
}

// Stores every bucket as the feature block of slot base + key.
bal_status store_feature_blocks(const bal_alignment_list& list, uint32_t multiplier, uint32_t slot_base,
                                zr_template_container* container) {
    for (const bal_alignment_bucket* b = list.first; b; b = b->next) {
        const uint64_t slot = static_cast<uint64_t>(slot_base) + b->key;
        if (slot >= ZR_FEATURE_BLOCK_SLOTS || b->count == 0) continue;
        const uint32_t length = 3 * b->count;
        auto* data = static_cast<uint8_t*>(std::malloc(length));
        if (!data) return BAL_NO_MEMORY;
        uint8_t* out = data;
        for (const bal_alignment_vector* v = b->first; v; v = v->next) {
            *out++ = static_cast<uint8_t>(multiplier * v->col);
            *out++ = static_cast<uint8_t>(multiplier * v->row);
            *out++ = static_cast<uint8_t>(v->direction);
        }
        container->feature_blocks[slot] = zr_feature_block{length, 0, data};
    }
    return BAL_OK;
}

// Runs the scan; with a list, also the junction pass and the feature blocks.
bal_status run_extractor(const bal_extraction_image* image, uint8_t* skeleton, const uint8_t* block_mask,
                         uint32_t block_size, uint32_t margin, zr_template_container* container,
                         uint32_t slot_base, bool with_vectors) {
    if (!callback_arguments_valid(image, skeleton, block_mask, block_size, container)) return BAL_BAD_ARGUMENT;
    const CallbackSetting setting = setting_of(container);
    const uint32_t rows = image->rows;
    const uint32_t cols = image->cols;
    const uint32_t frames = rows / 2 < cols / 2 ? rows / 2 : cols / 2;
    if (frames < 2) {
        container->alignment = kEmptySummary;
        return BAL_OK;
    }
    const Geometry geometry = make_geometry(block_mask, block_size, margin, setting.unit, rows, cols, setting.scale);
    auto* block_index = static_cast<int32_t*>(std::malloc((size_t{rows} + cols) * sizeof(int32_t)));
    if (!block_index) return BAL_NO_MEMORY;
    for (uint32_t r = 0; r < rows; ++r)
        block_index[r] = r / geometry.block_size < geometry.block_rows ? static_cast<int32_t>(r / geometry.block_size) : -1;
    for (uint32_t c = 0; c < cols; ++c)
        block_index[rows + c] =
            c / geometry.block_size < geometry.block_cols ? static_cast<int32_t>(c / geometry.block_size) : -1;

    bal_curvature_vectors curvature{nullptr, 0, 0};
    bal_alignment_list list{nullptr, nullptr, 0};
    bal_traced_ridge junctions{nullptr, 0, 0};
    Scan scan{Skeleton{skeleton, rows, cols},
              geometry,
              frames,
              setting.factor,
              margin / setting.scale,
              &curvature,
              with_vectors ? &list : nullptr,
              with_vectors ? &junctions : nullptr,
              block_index,
              block_index + rows};
    bal_status status = scan.run(frames);
    bal_traced_ridge_release(&scan.trace);
    std::free(block_index);
    for (uint32_t i = 0; i < junctions.count && status == BAL_OK; ++i)
        status = junction_pass(scan.skeleton, junctions.points[i], scan.geometry, &list);
    if (status == BAL_OK) {
        container->alignment = curvature_summary(curvature);
        if (with_vectors) status = store_feature_blocks(list, setting.multiplier, slot_base, container);
    }
    bal_traced_ridge_release(&junctions);
    bal_alignment_list_release(&list);
    bal_curvature_vectors_release(&curvature);
    return status;
}

}  // namespace

void bal_traced_ridge_release(bal_traced_ridge* ridge) {
    if (!ridge) return;
    std::free(ridge->points);
    *ridge = bal_traced_ridge{nullptr, 0, 0};
}

void bal_curvature_vectors_release(bal_curvature_vectors* vectors) {
    if (!vectors) return;
    std::free(vectors->vectors);
    *vectors = bal_curvature_vectors{nullptr, 0, 0};
}

void bal_alignment_list_release(bal_alignment_list* list) {
    if (!list) return;
    bal_alignment_bucket* b = list->first;
    while (b) {
        bal_alignment_vector* v = b->first;
        while (v) {
            bal_alignment_vector* next = v->next;
            release_payload(v->payload);
            std::free(v);
            v = next;
        }
        bal_alignment_bucket* next = b->next;
        std::free(b);
        b = next;
    }
    *list = bal_alignment_list{nullptr, nullptr, 0};
}

bal_status bal_add_alignment_vector(bal_alignment_list* list, bal_alignment_vector* vector, uint32_t key) {
    if (!list || !vector) return BAL_BAD_ARGUMENT;
    bal_alignment_bucket* bucket = find_bucket(list, key);
    if (!bucket) {
        bucket = static_cast<bal_alignment_bucket*>(std::malloc(sizeof(bal_alignment_bucket)));
        if (!bucket) return BAL_NO_MEMORY;
        *bucket = bal_alignment_bucket{nullptr, list->last, nullptr, nullptr, 0, key};
        if (list->last) list->last->next = bucket;
        else list->first = bucket;
        list->last = bucket;
        ++list->count;
    }
    vector->next = nullptr;
    vector->previous = bucket->last;
    if (bucket->last) bucket->last->next = vector;
    else bucket->first = vector;
    bucket->last = vector;
    ++bucket->count;
    return BAL_OK;
}

bal_status bal_add_clone(bal_alignment_list* list, const bal_alignment_vector* vector, uint32_t key) {
    if (!list || !vector) return BAL_BAD_ARGUMENT;
    auto* clone = static_cast<bal_alignment_vector*>(std::malloc(sizeof(bal_alignment_vector)));
    if (!clone) return BAL_NO_MEMORY;
    *clone = bal_alignment_vector{nullptr, nullptr, vector->direction, vector->col, vector->row, nullptr};
    const bal_status status = bal_add_alignment_vector(list, clone, key);
    if (status != BAL_OK) std::free(clone);
    return status;
}

void bal_remove_alignment_vector(bal_alignment_list* list, bal_alignment_vector* vector) {
    if (!list || !vector) return;
    bal_alignment_bucket* bucket = find_bucket(list, BAL_KEY_JUNCTION_END);
    if (!bucket) return;
    bal_alignment_vector* v = bucket->first;
    while (v && v != vector) v = v->next;
    if (!v) return;
    if (v->previous) v->previous->next = v->next;
    else bucket->first = v->next;
    if (v->next) v->next->previous = v->previous;
    else bucket->last = v->previous;
    --bucket->count;
    release_payload(v->payload);
    std::free(v);
    if (bucket->count != 0) return;
    if (bucket->previous) bucket->previous->next = bucket->next;
    else list->first = bucket->next;
    if (bucket->next) bucket->next->previous = bucket->previous;
    else list->last = bucket->previous;
    --list->count;
    std::free(bucket);
}

bal_status bal_trace_ridge(uint8_t* pixels, uint32_t rows, uint32_t cols, uint32_t start_row,
                           uint32_t start_col, bal_traced_ridge* ridge) {
    if (!pixels || !ridge) return BAL_BAD_ARGUMENT;
    const Skeleton skeleton{pixels, rows, cols};
    if (!append_point(ridge, start_row, start_col, BAL_POINT_TRACED)) return BAL_NO_MEMORY;
    int64_t r = start_row;
    int64_t c = start_col;
    for (;;) {
        skeleton.set(r, c, kTraced);
        const uint32_t mask = skeleton.neighbour_mask(r, c);
        const uint32_t neighbours = popcount8(mask);
        if (neighbours == 0) return BAL_OK;  // free end
        if (neighbours == 1) {
            int i = 0;
            while ((mask & (1u << i)) == 0) ++i;
            r += kRingRow[i];
            c += kRingCol[i];
            if (!append_point(ridge, static_cast<uint32_t>(r), static_cast<uint32_t>(c), BAL_POINT_TRACED))
                return BAL_NO_MEMORY;
            continue;
        }
        break;
    }
    // A junction: end on the junction pixel of the 3 x 3 block, if another
    // pixel of it qualifies, else on the current pixel.
    if (has_adjacent_pair(skeleton.neighbour_mask(r, c))) {
        skeleton.set(r, c, kSkeleton);
        for (int64_t dy = -1; dy <= 1; ++dy) {
            bool done = false;
            for (int64_t dx = -1; dx <= 1; ++dx) {
                const int64_t y = r + dy;
                const int64_t x = c + dx;
                if (!skeleton.is_skeleton(y, x) || has_adjacent_pair(skeleton.neighbour_mask(y, x))) continue;
                if (dy != 0 || dx != 0) {
                    if (!append_point(ridge, static_cast<uint32_t>(y), static_cast<uint32_t>(x), BAL_POINT_TRACED))
                        return BAL_NO_MEMORY;
                    skeleton.set(y, x, kTraced);
                }
                done = true;
                break;
            }
            if (done) break;
        }
    }
    bal_ridge_point* last = &ridge->points[ridge->count - 1];
    last->kind = BAL_POINT_JUNCTION;
    skeleton.set(last->row, last->col, kSkeleton);
    if (ridge->count >= 2) skeleton.set(last[-1].row, last[-1].col, kSkeleton);
    return BAL_OK;
}

bal_status bal_calculate_curvature_vectors(const bal_ridge_point* points, uint32_t count, uint32_t window,
                                           uint32_t factor, bal_curvature_vectors* vectors) {
    if (!vectors || window == 0 || factor == 0 || (!points && count != 0)) return BAL_BAD_ARGUMENT;
    const int64_t k = kCurvatureScale / static_cast<int64_t>(window);
    const int64_t length = window;
    for (uint64_t i = 0; i + window <= count; i += factor) {
        const bal_ridge_point* w = points + i;
        int64_t sum_row = 0, sum_col = 0;
        for (uint32_t j = 0; j < window; ++j) {
            sum_row += w[j].row;
            sum_col += w[j].col;
        }
        const bal_ridge_point& middle = w[window / 2];
        const auto d_row = static_cast<int32_t>((sum_row * k) / length - static_cast<int64_t>(middle.row) * k);
        const auto d_col = static_cast<int32_t>((sum_col * k) / length - static_cast<int64_t>(middle.col) * k);
        const uint32_t g = zr_sqrt_(static_cast<uint32_t>(d_row) * static_cast<uint32_t>(d_row) +
                                    static_cast<uint32_t>(d_col) * static_cast<uint32_t>(d_col));
        const int32_t first_row = static_cast<int32_t>(w[0].row);
        const int32_t first_col = static_cast<int32_t>(w[0].col);
        const int32_t last_row = static_cast<int32_t>(w[window - 1].row);
        int32_t last_col = static_cast<int32_t>(w[window - 1].col);
        if (last_col == first_col) last_col = first_col + 1;
        const int32_t chord_row = last_row - first_row;
        const int32_t chord_col = last_col - first_col;
        const auto chord_row_u = static_cast<uint32_t>(chord_row);
        const auto chord_col_u = static_cast<uint32_t>(chord_col);
        const uint32_t chord = zr_sqrt_(chord_row_u * chord_row_u + chord_col_u * chord_col_u);
        if (g >= kMaxMagnitude || chord <= kChordPerFactor * factor) continue;
        const int32_t slope = chord_row * kPerpendicular / (first_col - last_col);
        const uint8_t one_side = low_byte(zr_atan2_(kPerpendicular, slope));
        const uint8_t other_side = low_byte(zr_atan2_(-kPerpendicular, -slope));
        const uint8_t bend = low_byte(zr_atan2_(d_row, d_col));
        const uint8_t direction =
            folded(signed_difference(other_side, bend)) <= folded(signed_difference(one_side, bend)) ? other_side
                                                                                                     : one_side;
        if (vectors->count == vectors->capacity && !grow(vectors->vectors, vectors->capacity))
            return BAL_NO_MEMORY;
        const auto magnitude = static_cast<int32_t>(g);
        vectors->vectors[vectors->count++] = bal_curvature_vector{
            (zr_sin_(direction) * magnitude) >> 14, (zr_cos_(direction) * magnitude) >> 14,
            static_cast<uint8_t>(g), {0, 0, 0}, BAL_POINT_TRACED};
    }
    return BAL_OK;
}

uint32_t bal_vector_in_center(const bal_ridge_point* point, const uint8_t* block_mask, uint32_t block_size,
                              uint32_t margin, uint32_t rows, uint32_t cols, uint32_t scale) {
    if (!point || !block_mask || block_size == 0 || scale == 0) return 0;
    return make_geometry(block_mask, block_size, margin, 0, rows, cols, scale).in_centre(*point) ? 1 : 0;
}

bal_status bal_calculate_alignment_vectors(bal_traced_ridge* ridge, const uint8_t* block_mask,
                                           uint32_t block_size, uint32_t margin, uint32_t unit, uint32_t rows,
                                           uint32_t cols, uint32_t scale, bal_alignment_list* list) {
    if (!ridge || !block_mask || !list || block_size == 0 || scale == 0 || unit == 0) return BAL_BAD_ARGUMENT;
    return alignment_vectors(ridge, make_geometry(block_mask, block_size, margin, unit, rows, cols, scale), list);
}

bal_status bal_calculate_ridge_vectors(const bal_traced_ridge* ridge, const uint8_t* block_mask,
                                       uint32_t block_size, uint32_t margin, uint32_t unit, uint32_t rows,
                                       uint32_t cols, uint32_t scale, uint8_t joined, bal_alignment_list* list) {
    if (!ridge || !block_mask || !list || block_size == 0 || scale == 0 || unit == 0) return BAL_BAD_ARGUMENT;
    return ridge_vectors(ridge, make_geometry(block_mask, block_size, margin, unit, rows, cols, scale),
                         joined != 0, list);
}

bal_status bal_calculate_tail_vectors(bal_traced_ridge* ridge, uint32_t offset, int32_t unit,
                                      uint32_t anchor_index, uint32_t k1, uint32_t k2, uint32_t k3,
                                      bal_alignment_list* list) {
    if (!ridge || !list || anchor_index >= ridge->count) return BAL_BAD_ARGUMENT;
    const uint32_t keys[3] = {k1, k2, k3};
    return tail_vectors(ridge, offset, unit, anchor_index, keys, list);
}

bal_status bal_calculate_bifurcation_tail(bal_traced_ridge* leg, uint32_t unit, uint32_t k1, uint32_t k2,
                                          uint32_t k3, bal_alignment_list* list) {
    if (!leg || !list) return BAL_BAD_ARGUMENT;
    if (leg->count < 3) return BAL_OK;
    const uint32_t keys[3] = {k1, k2, k3};
    return tail_vectors(leg, 0, static_cast<int32_t>(unit), anchor_of_start(leg->points, leg->count, unit), keys,
                        list);
}

bal_status bal_calculate_partial_bifurcation_tail(bal_alignment_vector* x, bal_alignment_vector* y,
                                                  uint32_t unit, bal_alignment_list* list) {
    if (!x || !y || !list) return BAL_BAD_ARGUMENT;
    const bool x_first = signed_difference(low_byte(y->direction), low_byte(x->direction)) < 0;
    const bal_status status = store_branch(list, x, x_first ? BAL_KEY_BRANCH_FIRST : BAL_KEY_BRANCH_SECOND,
                                           x_first ? kFirstLegTails : kSecondLegTails, unit);
    if (status != BAL_OK) return status;
    return store_branch(list, y, x_first ? BAL_KEY_BRANCH_SECOND : BAL_KEY_BRANCH_FIRST,
                        x_first ? kSecondLegTails : kFirstLegTails, unit);
}

bal_status bal_extract_ridge_curvature(const bal_extraction_image* image, uint8_t* skeleton,
                                       const uint8_t* block_mask, uint32_t block_size, uint32_t margin,
                                       const uint8_t* /*quality_image*/, zr_template_container* container,
                                       uint32_t /*slot_base*/) {
    return run_extractor(image, skeleton, block_mask, block_size, margin, container, 0, false);
}

bal_status bal_extract_alignment_vectors(const bal_extraction_image* image, uint8_t* skeleton,
                                         const uint8_t* block_mask, uint32_t block_size, uint32_t margin,
                                         const uint8_t* /*quality_image*/, zr_template_container* container,
                                         uint32_t slot_base) {
    return run_extractor(image, skeleton, block_mask, block_size, margin, container, slot_base, true);
}
