#include "imaging/bal_polygon.h"

#include <cstdlib>
#include <cstring>

#include "imaging/bal_status.h"
#include "math/lib_memory.h"
#include "math/zr_sort.h"
#include "math/zr_trig.h"

namespace {

inline int32_t cross(const bal_point& a, const bal_point& b) {
    return a.x * b.y - a.y * b.x;
}

// Halved triangle area: positive when c lies left of a -> b (y upwards).
inline int32_t half_area(const bal_point& a, const bal_point& b, const bal_point& c) {
    return cross(a, b) / 2 + cross(b, c) / 2 + cross(c, a) / 2;
}

inline int32_t sign_of(int64_t v) {
    return (v > 0) - (v < 0);
}

inline bool same_point(const bal_point& a, const bal_point& b) {
    return a.x == b.x && a.y == b.y;
}

void make_empty(bal_polygon* polygon) {
    std::free(polygon->points);
    polygon->points = nullptr;
    polygon->count = 0;
    polygon->capacity = 0;
}

// Moves the corners into a new array of `capacity` corners; on failure the
// record is emptied.
bool reallocate(bal_polygon* polygon, uint32_t capacity) {
    auto* grown = static_cast<bal_point*>(std::malloc(capacity * sizeof(bal_point)));
    if (grown == nullptr) {
        make_empty(polygon);
        return false;
    }
    if (polygon->count > 0) {
        std::memcpy(grown, polygon->points, static_cast<size_t>(polygon->count) * sizeof(bal_point));
    }
    std::free(polygon->points);
    polygon->points = grown;
    polygon->capacity = static_cast<uint16_t>(capacity);
    return true;
}

// Grows the array to `wanted` corners, kept to 16 bits; `needed` corners must
// fit. Empties the record when they cannot.
bool grow(bal_polygon* polygon, uint32_t wanted, uint32_t needed) {
    if (needed > BAL_POLYGON_MAX_CAPACITY) {
        make_empty(polygon);
        return false;
    }
    if (wanted < needed) {
        wanted = needed;
    }
    if (wanted > BAL_POLYGON_MAX_CAPACITY) {
        wanted = BAL_POLYGON_MAX_CAPACITY;
    }
    if (wanted == polygon->capacity && polygon->points != nullptr) {
        return true;
    }
    return reallocate(polygon, wanted);
}

// Appends one corner; false when the record had to be emptied.
bool append(bal_polygon* polygon, const bal_point& point) {
    const uint32_t count = static_cast<uint32_t>(polygon->count);
    const uint32_t capacity = polygon->capacity;
    if (count + 1 >= capacity) {
        uint32_t wanted = capacity + 1 > 2 * capacity ? capacity + 1 : 2 * capacity;
        wanted = wanted < 4 ? 4 : wanted;
        if (!grow(polygon, wanted, count + 1)) {
            return false;
        }
    }
    polygon->points[polygon->count] = point;
    ++polygon->count;
    return true;
}

// ---------------------------------------------------------------------------
// Convex hull

struct hull_candidate {
    uint32_t index;
    uint8_t angle;
    uint32_t distance;  // squared
};

// By angle, then by squared distance, both ascending. Equal angles return
// the wrapped 32-bit difference of the distances, so two distances more than
// 2^31 apart compare the wrong way round (the far point first); the hull
// depends on that order.
int32_t compare_points(const void* left, const void* right) {
    const auto* a = static_cast<const hull_candidate*>(left);
    const auto* b = static_cast<const hull_candidate*>(right);
    if (a->angle != b->angle) {
        return a->angle < b->angle ? -1 : 1;
    }
    return static_cast<int32_t>(a->distance - b->distance);
}

uint32_t find_pivot(const bal_point* points, uint32_t n) {
    uint32_t pivot = 0;
    for (uint32_t i = 1; i < n; ++i) {
        const bal_point& p = points[i];
        const bal_point& q = points[pivot];
        if (p.y < q.y || (p.y == q.y && p.x < q.x)) {
            pivot = i;
        }
    }
    return pivot;
}

// ---------------------------------------------------------------------------
// Clipping

// Side of p against the directed edge e0 -> e1: +1 left, -1 right, 0 on the
// line; coordinate differences are taken as 16-bit values.
int32_t edge_side(const bal_point& p, const bal_point& e0, const bal_point& e1) {
    const int64_t ex = static_cast<int16_t>(e1.x - e0.x);
    const int64_t ey = static_cast<int16_t>(e1.y - e0.y);
    const int64_t px = static_cast<int16_t>(p.x - e1.x);
    const int64_t py = static_cast<int16_t>(p.y - e1.y);
    return sign_of(py * ex - px * ey);
}

// Sign of the doubled shoelace sum, exact in 64 bits.
int32_t orientation(const bal_polygon& polygon) {
    int64_t sum = 0;
    const int32_t n = polygon.count;
    for (int32_t k = 0; k < n; ++k) {
        const bal_point& a = polygon.points[k];
        const bal_point& b = polygon.points[k + 1 < n ? k + 1 : 0];
        sum += static_cast<int64_t>(a.x) * b.y - static_cast<int64_t>(a.y) * b.x;
    }
    return sign_of(sum);
}

// Clips `in` by the edge e0 -> e1 into `out` (emptied first); corners on the
// side -o are outside. Returns false when out of memory.
bool clip_by_edge(const bal_polygon& in, const bal_point& e0, const bal_point& e1, int32_t o,
                  bal_polygon* out) {
    out->count = 0;
    const int32_t n = in.count;
    const int32_t outside = -o;
    const int64_t dx_edge = static_cast<int16_t>(e1.x - e0.x);
    const int64_t dy_edge = static_cast<int16_t>(e1.y - e0.y);
    bal_point prev = in.points[n - 1];
    int32_t prev_side = edge_side(prev, e0, e1);
    if (prev_side != outside && !append(out, prev)) {
        return false;
    }
    for (int32_t k = 0; k < n; ++k) {
        const bal_point cur = in.points[k];
        const int32_t cur_side = edge_side(cur, e0, e1);
        if (prev_side * cur_side < 0) {
            const int64_t dx = static_cast<int16_t>(cur.x - prev.x);
            const int64_t dy = static_cast<int16_t>(cur.y - prev.y);
            const int64_t den = dy_edge * dx - dy * dx_edge;
            if (den != 0) {
                const int64_t num = dy_edge * static_cast<int16_t>(e0.x - prev.x) -
                                    dx_edge * static_cast<int16_t>(e0.y - prev.y);
                const int64_t t = (num << 12) / den;
                if (t >= -63 && t <= 4159) {
                    const bal_point cut{static_cast<int16_t>(prev.x + ((dx * t) >> 12)),
                                        static_cast<int16_t>(prev.y + ((dy * t) >> 12))};
                    if (!append(out, cut)) {
                        return false;
                    }
                }
            }
        }
        if (k != n - 1 && cur_side != outside && !append(out, cur)) {
            return false;
        }
        prev = cur;
        prev_side = cur_side;
    }
    return true;
}

// Drops every corner equal to the one before it (the first is compared with
// the last), keeping the earlier one.
void drop_repeated_corners(bal_polygon* polygon) {
    int32_t kept = 0;
    for (int32_t k = 0; k < polygon->count; ++k) {
        if (kept > 0 && same_point(polygon->points[k], polygon->points[kept - 1])) {
            continue;
        }
        polygon->points[kept++] = polygon->points[k];
    }
    if (kept > 1 && same_point(polygon->points[kept - 1], polygon->points[0])) {
        --kept;
    }
    polygon->count = kept;
}

// ---------------------------------------------------------------------------
// Point in polygon

// Which side of a -> b the point c lies on, exactly: the sign of the doubled
// triangle area in 64 bits. (The halved area T truncates each term and can
// miss collinearity by one unit.)
inline int32_t exact_side(const bal_point& a, const bal_point& b, const bal_point& c) {
    const int64_t doubled = (static_cast<int64_t>(b.x) - a.x) * (static_cast<int64_t>(c.y) - a.y) -
                            (static_cast<int64_t>(b.y) - a.y) * (static_cast<int64_t>(c.x) - a.x);
    return sign_of(doubled);
}

// Whether edge a -> b meets the ray from p to r = (32767, p.y): a proper
// crossing, or the edge's upper end lying on the ray. A horizontal edge lies
// along the ray's line and never counts.
bool edge_meets_ray(const bal_point& a, const bal_point& b, const bal_point& p,
                    const bal_point& r) {
    if (exact_side(a, p, r) * exact_side(b, p, r) < 0 &&
        exact_side(a, b, p) * exact_side(a, b, r) < 0) {
        return true;
    }
    if (a.y == b.y) {
        return false;
    }
    const bal_point& upper = a.y > b.y ? a : b;
    return upper.y == p.y && p.x < upper.x && upper.x < 32767;
}

}  // namespace

bal_polygon* bal_polygon_create() {
    return static_cast<bal_polygon*>(std::calloc(1, sizeof(bal_polygon)));
}

void bal_polygon_delete(bal_polygon* polygon) {
    if (polygon == nullptr) {
        return;
    }
    std::free(polygon->points);
    std::free(polygon);
}

void bal_polygon_append_point(bal_polygon* polygon, const bal_point* point) {
    if (polygon != nullptr) {
        append(polygon, *point);
    }
}

void bal_polygon_append_points(bal_polygon* polygon, const bal_point* points, uint16_t n) {
    if (polygon == nullptr) {
        return;
    }
    const uint32_t count = static_cast<uint32_t>(polygon->count);
    const uint32_t capacity = polygon->capacity;
    if (count + n >= capacity) {
        uint32_t wanted = 2 * capacity;
        wanted = wanted < 4 ? 4 : wanted;
        wanted = wanted < capacity + n ? capacity + n : wanted;
        if (!grow(polygon, wanted, count + n)) {
            return;
        }
    }
    if (n > 0) {
        std::memcpy(polygon->points + count, points, static_cast<size_t>(n) * sizeof(bal_point));
    }
    polygon->count += n;
}

void bal_polygon_remove_corner(bal_polygon* polygon, uint16_t index) {
    if (polygon == nullptr || index >= polygon->count) {
        return;
    }
    std::memmove(polygon->points + index, polygon->points + index + 1,
                 static_cast<size_t>(polygon->count - index - 1) * sizeof(bal_point));
    --polygon->count;
}

bal_polygon bal_convex_hull_from_points(const bal_point* points, uint32_t n) {
    bal_polygon hull{nullptr, 0, 0};
    if (static_cast<int32_t>(n) < 2 || n > BAL_POLYGON_MAX_CAPACITY) {
        return hull;
    }
    auto* work = static_cast<hull_candidate*>(std::malloc(n * sizeof(hull_candidate)));
    auto* corners = static_cast<bal_point*>(std::malloc(n * sizeof(bal_point)));
    if (lib_memory_check(work, corners, nullptr, nullptr, nullptr, nullptr, nullptr, 2) != lib_memory_result::all_present) {
        return hull;
    }
    const uint32_t pivot_index = find_pivot(points, n);
    const bal_point pivot = points[pivot_index];
    uint32_t m = 0;
    for (uint32_t i = 0; i < n; ++i) {
        if (i == pivot_index) {
            continue;
        }
        const int32_t dx = points[i].x - pivot.x;
        const int32_t dy = points[i].y - pivot.y;
        work[m].index = i;
        work[m].angle = static_cast<uint8_t>(zr_atan2_(dy, dx) & 0xFF);
        const auto ux = static_cast<uint32_t>(dx);
        const auto uy = static_cast<uint32_t>(dy);
        work[m].distance = ux * ux + uy * uy;
        ++m;
    }
    zr_sort(work, m, sizeof(hull_candidate), compare_points);

    int32_t top = 0;
    corners[top++] = pivot;
    corners[top++] = points[work[0].index];
    for (uint32_t k = 1; k < m; ++k) {
        const bal_point& p = points[work[k].index];
        while (top > 2 && half_area(corners[top - 2], corners[top - 1], p) < 0) {
            --top;
        }
        corners[top++] = p;
    }
    std::free(work);
    hull.points = corners;
    hull.count = top;
    hull.capacity = static_cast<uint16_t>(n);
    return hull;
}

bal_polygon* bal_polygon_from_points(const bal_point* points, uint32_t n) {
    if (static_cast<int32_t>(n) < 2) {
        return nullptr;
    }
    auto* polygon = static_cast<bal_polygon*>(std::malloc(sizeof(bal_polygon)));
    if (polygon == nullptr) {
        return nullptr;
    }
    *polygon = bal_convex_hull_from_points(points, n);
    if (polygon->points == nullptr) {
        std::free(polygon);
        return nullptr;
    }
    return polygon;
}

bal_polygon* bal_convex_hull_intersection(const bal_polygon* subject, const bal_polygon* clip) {
    bal_polygon* work[2] = {bal_polygon_create(), bal_polygon_create()};
    if (work[0] == nullptr || work[1] == nullptr) {
        bal_polygon_delete(work[0]);
        bal_polygon_delete(work[1]);
        return nullptr;
    }
    const bool clip_usable = clip != nullptr && clip->count >= 3 && orientation(*clip) != 0;
    if (subject == nullptr || subject->count <= 0 || !clip_usable) {
        bal_polygon_delete(work[1]);
        return work[0];
    }
    const int32_t o = orientation(*clip);
    const int32_t m = clip->count;
    const bal_polygon* in = subject;
    int32_t out_index = 0;
    // The closing edge C(m-1) -> C0 first, then C0 -> C1 ... C(m-2) -> C(m-1).
    for (int32_t e = 0; e < m; ++e) {
        const bal_point& e0 = clip->points[e == 0 ? m - 1 : e - 1];
        const bal_point& e1 = clip->points[e == 0 ? 0 : e];
        bal_polygon* out = work[out_index];
        if (!clip_by_edge(*in, e0, e1, o, out)) {
            bal_polygon_delete(work[0]);
            bal_polygon_delete(work[1]);
            return nullptr;
        }
        in = out;
        out_index ^= 1;
        if (out->count == 0) {
            break;
        }
    }
    bal_polygon* result = work[out_index ^ 1];
    drop_repeated_corners(result);
    bal_polygon_delete(work[out_index]);
    return result;
}

int32_t bal_polygon_area_corners_signed(const bal_point* corners, int32_t count) {
    if (corners == nullptr || count < 3) {
        return 0;
    }
    int32_t sum = 0;
    for (int32_t k = 0; k < count; ++k) {
        sum += cross(corners[k], corners[k + 1 < count ? k + 1 : 0]) / 2;
    }
    return sum;
}

int32_t bal_polygon_area_signed(const bal_polygon* polygon) {
    if (polygon == nullptr) {
        return 0;
    }
    return bal_polygon_area_corners_signed(polygon->points, polygon->count);
}

uint32_t bal_polygon_area(const bal_polygon* polygon) {
    const int32_t area = bal_polygon_area_signed(polygon);
    return area < 0 ? 0u - static_cast<uint32_t>(area) : static_cast<uint32_t>(area);
}

bal_point bal_polygon_center(const bal_polygon* polygon) {
    if (polygon->count <= 0) {
        return bal_point{0, 0};
    }
    int32_t sum_x = 0;
    int32_t sum_y = 0;
    for (int32_t k = 0; k < polygon->count; ++k) {
        sum_x += polygon->points[k].x;
        sum_y += polygon->points[k].y;
    }
    return bal_point{static_cast<int16_t>(sum_x / polygon->count),
                     static_cast<int16_t>(sum_y / polygon->count)};
}

int32_t bal_point_area_signed(const bal_point* a, const bal_point* b) {
    return cross(*a, *b) / 2;
}

bool bal_point_inside_circle(const bal_point* p, const bal_circle* circle) {
    const int64_t dx = p->x - circle->x;
    const int64_t dy = p->y - circle->y;
    const int64_t r = circle->radius;
    return dx * dx + dy * dy < r * r;
}

bool bal_point_inside_polygon(const bal_point* p, const bal_polygon* polygon) {
    if (polygon == nullptr) {
        return false;
    }
    return bal_point_inside_polygon_corners(p, polygon->points, polygon->count);
}

bool bal_point_inside_polygon_corners(const bal_point* p, const bal_point* corners,
                                      int32_t count) {
    if (corners == nullptr || count < 3) {
        return false;
    }
    for (int32_t k = 0; k < count; ++k) {
        if (same_point(corners[k], *p)) {
            return true;
        }
    }
    const bal_point ray_end{32767, p->y};
    int32_t crossings = 0;
    for (int32_t k = 0; k < count; ++k) {
        const bal_point& a = corners[k];
        const bal_point& b = corners[k + 1 < count ? k + 1 : 0];
        crossings += edge_meets_ray(a, b, *p, ray_end) ? 1 : 0;
    }
    return (crossings & 1) != 0;
}

bool bal_line_on_same_side(const bal_line* line, const bal_point* p1, const bal_point* p2) {
    const bal_point l1{line->x1, line->y1};
    const bal_point l2{line->x2, line->y2};
    const int32_t t1 = exact_side(l1, l2, *p1);
    const int32_t t2 = exact_side(l1, l2, *p2);
    return t1 == 0 || (t1 < 0 && t2 <= 0) || (t1 > 0 && t2 >= 0);
}

bool bal_lines_intersect(const bal_line* a, const bal_line* b) {
    const bal_point a1{a->x1, a->y1};
    const bal_point a2{a->x2, a->y2};
    const bal_point b1{b->x1, b->y1};
    const bal_point b2{b->x2, b->y2};
    const int32_t t1 = exact_side(a1, a2, b1);
    const int32_t t2 = exact_side(a1, a2, b2);
    if (t1 == 0 || t1 * t2 >= 0) {
        return false;
    }
    return !bal_line_on_same_side(b, &a1, &a2);
}
