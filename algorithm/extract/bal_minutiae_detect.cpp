#include "extract/bal_minutiae_detect.h"

#include <cstddef>
#include <cstring>

#include "extract/bal_minutiae_cleanup.h"
#include "math/zr_roots.h"
#include "math/zr_trig.h"

namespace {

constexpr uint8_t kSkeleton = 0;
constexpr uint8_t kLineCount = 2;
constexpr uint8_t kJunctionCount = 3;
constexpr uint32_t kMaxJunctions = 255;

// Spur removal: legs traced at most this far, and the largest departure
// (256 steps a turn) from the ridge orientation that a leg may show.
constexpr uint32_t kSpurTraceLength = 20;
constexpr uint32_t kSpurMaxDeparture = 40;

// Leg measurement, in 500 dpi pixels.
constexpr uint32_t kLegMaxUnits = 40;
constexpr uint32_t kLegFreeUnits = 20;
constexpr uint32_t kLegStopSquaredDistance = 900;
constexpr uint32_t kShortLegMargin = 6;
constexpr uint8_t kMinMinutiaQuality = 10;

struct Offset {
    int32_t dr;
    int32_t dc;
};

// Offsets of the directions, indexed by bal_leg_direction.
constexpr Offset kStep[9] = {{0, 0},  {-1, 0}, {1, 0},  {0, -1}, {0, 1},
                             {-1, -1}, {-1, 1}, {1, -1}, {1, 1}};

// Neighbours tried from each direction, in order (BAL_LEG_NONE ends a list).
constexpr bal_leg_direction kTried[9][5] = {
    {},
    {BAL_LEG_UP, BAL_LEG_UP_LEFT, BAL_LEG_UP_RIGHT},
    {BAL_LEG_DOWN, BAL_LEG_DOWN_LEFT, BAL_LEG_DOWN_RIGHT},
    {BAL_LEG_LEFT, BAL_LEG_UP_LEFT, BAL_LEG_DOWN_LEFT},
    {BAL_LEG_RIGHT, BAL_LEG_UP_RIGHT, BAL_LEG_DOWN_RIGHT},
    {BAL_LEG_UP, BAL_LEG_LEFT, BAL_LEG_UP_LEFT, BAL_LEG_UP_RIGHT, BAL_LEG_DOWN_LEFT},
    {BAL_LEG_UP, BAL_LEG_RIGHT, BAL_LEG_UP_LEFT, BAL_LEG_UP_RIGHT, BAL_LEG_DOWN_RIGHT},
    {BAL_LEG_LEFT, BAL_LEG_DOWN, BAL_LEG_UP_LEFT, BAL_LEG_DOWN_LEFT, BAL_LEG_DOWN_RIGHT},
    {BAL_LEG_RIGHT, BAL_LEG_DOWN, BAL_LEG_UP_RIGHT, BAL_LEG_DOWN_LEFT, BAL_LEG_DOWN_RIGHT},
};

// The neighbour order of a junction's legs.
constexpr bal_leg_direction kLegOrder[8] = {BAL_LEG_UP_LEFT,   BAL_LEG_UP,   BAL_LEG_UP_RIGHT,
                                            BAL_LEG_LEFT,      BAL_LEG_RIGHT, BAL_LEG_DOWN_LEFT,
                                            BAL_LEG_DOWN,      BAL_LEG_DOWN_RIGHT};

struct Junction {
    uint16_t row;
    uint16_t col;
};

// The skeleton with its size and neighbour-count map.
struct SkeletonView {
    uint8_t* pixels;
    uint8_t* counts;
    uint32_t rows;
    uint32_t cols;

    bool inside(int32_t r, int32_t c) const {
        return r >= 0 && c >= 0 && uint32_t(r) < rows && uint32_t(c) < cols;
    }
    size_t index(int32_t r, int32_t c) const { return size_t(r) * cols + size_t(c); }
    bool is_skeleton(int32_t r, int32_t c) const {
        return inside(r, c) && pixels[index(r, c)] == kSkeleton;
    }
    uint8_t count_at(int32_t r, int32_t c) const {
        return inside(r, c) ? counts[index(r, c)] : 0;
    }
    uint8_t neighbours(int32_t r, int32_t c) const {
        uint8_t n = 0;
        for (int32_t dr = -1; dr <= 1; ++dr)
            for (int32_t dc = -1; dc <= 1; ++dc)
                if ((dr || dc) && is_skeleton(r + dr, c + dc)) ++n;
        return n;
    }
    void remove(int32_t r, int32_t c) {
        bal_remove_skeleton_pixel(pixels, counts, rows, cols, uint32_t(r), uint32_t(c));
    }
};

bool is_candidate(const SkeletonView& s, int32_t r, int32_t c) {
    return s.count_at(r, c) == kJunctionCount;
}

void withdraw(Junction* junctions, uint32_t* n, int32_t r, int32_t c) {
    for (uint32_t i = *n; i-- > 0;) {
        if (junctions[i].row == r && junctions[i].col == c) {
            std::memmove(junctions + i, junctions + i + 1, (*n - i - 1) * sizeof(Junction));
            --*n;
            return;
        }
    }
}

void list_junction(Junction* junctions, uint32_t* n, int32_t r, int32_t c) {
    if (*n < kMaxJunctions) junctions[(*n)++] = {uint16_t(r), uint16_t(c)};
}

// A junction candidate that closes a triangle with candidates scanned before
// it: two of the three become line pixels so that one junction remains.
void resolve_candidate(SkeletonView& s, Junction* junctions, uint32_t* n, int32_t r, int32_t c) {
    uint8_t* counts = s.counts;
    if (is_candidate(s, r, c - 1) && is_candidate(s, r - 1, c - 1)) {
        counts[s.index(r, c)] = kLineCount;
        counts[s.index(r - 1, c - 1)] = kLineCount;
    } else if (is_candidate(s, r - 1, c) && is_candidate(s, r - 1, c + 1)) {
        counts[s.index(r, c)] = kLineCount;
        counts[s.index(r - 1, c + 1)] = kLineCount;
    } else if (is_candidate(s, r - 1, c) && is_candidate(s, r - 1, c - 1)) {
        counts[s.index(r, c)] = kLineCount;
        counts[s.index(r - 1, c - 1)] = kLineCount;
    } else if (is_candidate(s, r - 1, c) && is_candidate(s, r, c - 1)) {
        counts[s.index(r, c - 1)] = kLineCount;
        counts[s.index(r - 1, c)] = kLineCount;
        withdraw(junctions, n, r, c - 1);
        list_junction(junctions, n, r, c);
    } else {
        list_junction(junctions, n, r, c);
    }
}

bool touches(int32_t r, int32_t c, int32_t r2, int32_t c2) {
    return r - r2 >= -1 && r - r2 <= 1 && c - c2 >= -1 && c - c2 <= 1;
}

// A pixel with four neighbours of which one is a straight neighbour with
// both its flanking diagonal neighbours: the straight neighbour only
// short-cuts the path through the pixel. It is deleted (when nothing else
// hangs on it) and the pixel becomes a three-legged junction.
bool remove_redundant_straight(SkeletonView& s, int32_t r, int32_t c) {
    constexpr Offset kStraights[4] = {{-1, 0}, {0, -1}, {0, 1}, {1, 0}};
    for (const Offset st : kStraights) {
        const int32_t sr = r + st.dr, sc = c + st.dc;
        // The flanking diagonals lie beside the straight neighbour, across its axis.
        const Offset d1{st.dr ? st.dr : -1, st.dc ? st.dc : -1};
        const Offset d2{st.dr ? st.dr : 1, st.dc ? st.dc : 1};
        if (!s.is_skeleton(sr, sc) || !s.is_skeleton(r + d1.dr, c + d1.dc) ||
            !s.is_skeleton(r + d2.dr, c + d2.dc))
            continue;
        bool redundant = true;
        for (int32_t nr = sr - 1; nr <= sr + 1 && redundant; ++nr)
            for (int32_t nc = sc - 1; nc <= sc + 1 && redundant; ++nc) {
                if ((nr == sr && nc == sc) || !s.is_skeleton(nr, nc)) continue;
                redundant = touches(nr, nc, r, c) || touches(nr, nc, r + d1.dr, c + d1.dc) ||
                            touches(nr, nc, r + d2.dr, c + d2.dc);
            }
        if (redundant) {
            s.remove(sr, sc);
            return true;
        }
    }
    return false;
}

// Neighbour counts and the list of junctions.
uint32_t collect_junctions(SkeletonView& s, Junction* junctions) {
    std::memset(s.counts, 0, size_t(s.rows) * s.cols);
    uint32_t n = 0;
    for (int32_t r = 1; r + 1 < int32_t(s.rows); ++r) {
        for (int32_t c = 1; c + 1 < int32_t(s.cols); ++c) {
            if (!s.is_skeleton(r, c)) continue;
            const uint8_t k = s.neighbours(r, c);
            s.counts[s.index(r, c)] = k;
            if (k == kJunctionCount) {
                resolve_candidate(s, junctions, &n, r, c);
            } else if (k == 4 && remove_redundant_straight(s, r, c)) {
                list_junction(junctions, &n, r, c);
            }
        }
    }
    return n;
}

uint8_t leg_angle(int32_t jr, int32_t jc, int32_t er, int32_t ec) {
    return uint8_t(zr_atan2_(jr - er, ec - jc));
}

// Departure of a leg from the ridge line through the junction, 0..64.
uint32_t departure_from_ridge(uint8_t leg, uint8_t orientation) {
    // The orientation byte o measures the gradient clockwise from the column
    // axis; the ridge runs across it, at (64 - o) counter-clockwise.
    const uint8_t ridge = uint8_t(64 - orientation);
    const uint32_t d = zr_angle_difference(leg, ridge);
    return d > 64 ? 128 - d : d;
}

// For one junction: removes the first leg that departs from the
// ridge orientation (a bridge or spur). Returns true when one was removed.
bool remove_spur_leg(SkeletonView& s, const uint8_t* orientation, Junction j) {
    bal_leg_step legs[8];
    const uint32_t nlegs = bal_find_bifurcation_legs(s.pixels, s.rows, s.cols, j.row, j.col, legs);
    for (uint32_t i = 0; i < nlegs; ++i) {
        bal_leg_step path[kSpurTraceLength];
        uint32_t n = 0;
        bal_leg_step at = legs[i];
        while (true) {
            path[n++] = at;
            if (s.count_at(at.row, at.col) != kLineCount || n == kSpurTraceLength) break;
            const bal_leg_step next = bal_find_next_leg_direction(s.pixels, s.rows, s.cols, at);
            if (next.direction == BAL_LEG_NONE) break;
            at = next;
        }
        const bal_leg_step last = path[n - 1];
        const uint8_t angle = leg_angle(j.row, j.col, last.row, last.col);
        if (departure_from_ridge(angle, orientation[s.index(j.row, j.col)]) <= kSpurMaxDeparture)
            continue;
        // Decide from the counts of the untouched leg: each deletion lowers
        // the count of the next pixel.
        const uint8_t last_count = s.count_at(last.row, last.col);
        const uint32_t removed = (last_count == kLineCount || last_count == 1) ? n : n - 1;
        for (uint32_t k = 0; k < removed; ++k) s.remove(path[k].row, path[k].col);
        return true;
    }
    return false;
}

uint32_t minimum_leg_length(uint8_t quality) {
    if (quality < 16) return 10;
    if (quality <= 40) return 9;
    if (quality <= 60) return 3;
    return 2;
}

struct Leg {
    uint8_t angle;
    uint32_t squared_length;  // in 500 dpi pixels
};

// Follows a leg over line pixels, at most kLegMaxUnits.
Leg measure_leg(const SkeletonView& s, Junction j, bal_leg_step start, uint32_t scale) {
    const uint32_t scale2 = scale * scale;
    bal_leg_step at = start;
    uint32_t units = scale;
    auto squared = [&](const bal_leg_step& p) {
        const int32_t dr = p.row - j.row, dc = p.col - j.col;
        return uint32_t(dr * dr + dc * dc) * scale2;
    };
    while (s.count_at(at.row, at.col) == kLineCount && units < kLegMaxUnits) {
        const bal_leg_step next = bal_find_next_leg_direction(s.pixels, s.rows, s.cols, at);
        if (next.direction == BAL_LEG_NONE) break;
        at = next;
        units += scale;
        if (units > kLegFreeUnits && squared(at) > kLegStopSquaredDistance) break;
    }
    return {leg_angle(j.row, j.col, at.row, at.col), squared(at)};
}

// The mean direction of the two legs closest in angle.
uint8_t minutia_direction(const Leg legs[3]) {
    const uint8_t d01 = zr_angle_difference(legs[0].angle, legs[1].angle);
    const uint8_t d02 = zr_angle_difference(legs[0].angle, legs[2].angle);
    const uint8_t d12 = zr_angle_difference(legs[1].angle, legs[2].angle);
    if (d01 <= d02 && d01 <= d12) return zr_angle_average(legs[0].angle, legs[1].angle);
    if (d02 <= d12) return zr_angle_average(legs[0].angle, legs[2].angle);
    return zr_angle_average(legs[1].angle, legs[2].angle);
}

// The quality image value, reduced when the shortest leg is short.
uint8_t minutia_quality(uint8_t quality, uint32_t min_length, uint32_t shortest) {
    const uint32_t limit = min_length + kShortLegMargin;
    if (shortest >= limit * limit) return quality;
    const uint32_t divisor = min_length + kShortLegMargin + 1 - zr_sqrt_32(shortest);
    return uint8_t(quality * (100 / divisor) / 100);
}

}  // namespace

uint32_t bal_find_bifurcation_legs(const uint8_t* skeleton, uint32_t rows, uint32_t cols,
                                   int32_t row, int32_t col, bal_leg_step legs[8]) {
    const SkeletonView s{const_cast<uint8_t*>(skeleton), nullptr, rows, cols};
    uint32_t n = 0;
    for (const bal_leg_direction d : kLegOrder) {
        const int32_t r = row + kStep[d].dr, c = col + kStep[d].dc;
        if (s.is_skeleton(r, c)) legs[n++] = {r, c, d};
    }
    return n;
}

bal_leg_step bal_find_next_leg_direction(const uint8_t* skeleton, uint32_t rows, uint32_t cols,
                                         bal_leg_step from) {
    const SkeletonView s{const_cast<uint8_t*>(skeleton), nullptr, rows, cols};
    if (from.direction > BAL_LEG_DOWN_RIGHT) return {from.row, from.col, BAL_LEG_NONE};
    for (const bal_leg_direction d : kTried[from.direction]) {
        if (d == BAL_LEG_NONE) break;
        const int32_t r = from.row + kStep[d].dr, c = from.col + kStep[d].dc;
        if (s.is_skeleton(r, c)) return {r, c, d};
    }
    return {from.row, from.col, BAL_LEG_NONE};
}

uint32_t bal_extract_bifurcations(uint8_t* skeleton, const uint8_t* orientation, uint32_t rows,
                                  uint32_t cols, uint8_t type, const uint8_t* quality,
                                  minutia* list, uint32_t count, uint8_t* neighbour_map,
                                  uint32_t scale) {
    if (scale == 0 || rows < 3 || cols < 3 || count >= ZR_MAX_MINUTIAE) return count;
    SkeletonView s{skeleton, neighbour_map, rows, cols};
    Junction junctions[kMaxJunctions];
    const uint32_t njunctions = collect_junctions(s, junctions);

    if (scale == 1) {
        for (uint32_t i = 0; i < njunctions; ++i)
            if (s.count_at(junctions[i].row, junctions[i].col) == kJunctionCount)
                (void)remove_spur_leg(s, orientation, junctions[i]);
    }

    for (uint32_t i = 0; i < njunctions && count < ZR_MAX_MINUTIAE; ++i) {
        const Junction j = junctions[i];
        if (s.count_at(j.row, j.col) != kJunctionCount) continue;
        bal_leg_step starts[8];
        if (bal_find_bifurcation_legs(skeleton, rows, cols, j.row, j.col, starts) != 3) continue;
        const uint8_t q = quality[s.index(j.row, j.col)];
        const uint32_t min_length = minimum_leg_length(q);
        Leg legs[3];
        uint32_t shortest = UINT32_MAX;
        for (uint32_t k = 0; k < 3; ++k) {
            legs[k] = measure_leg(s, j, starts[k], scale);
            if (legs[k].squared_length < shortest) shortest = legs[k].squared_length;
        }
        if (shortest < min_length * min_length) continue;
        const uint8_t mq = minutia_quality(q, min_length, shortest);
        if (mq < kMinMinutiaQuality) continue;
        list[count++] = {int16_t(j.row), int16_t(j.col), minutia_direction(legs), type, mq, 0};
    }
    return count;
}
