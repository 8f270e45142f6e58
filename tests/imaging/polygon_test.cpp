// Polygons: the record's growth, the convex hull, clipping, areas and the
// point and line tests. Hulls, intersection areas and point-in-polygon are
// checked against Boost.Geometry on random point sets.
#include <gtest/gtest.h>

#include <algorithm>
// Boost 1.74's own relate/within code includes a header it has deprecated
// (boost/detail/no_exceptions_support.hpp); that notice is not ours to act on.
#define BOOST_ALLOW_DEPRECATED_HEADERS
// GCC's optimiser sees a "maybe uninitialized" member inside Boost's rescale
// policy, a false positive in code that is not ours; clang has no such warning.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <boost/geometry/algorithms/area.hpp>
#include <boost/geometry/algorithms/convex_hull.hpp>
#include <boost/geometry/algorithms/correct.hpp>
#include <boost/geometry/algorithms/covered_by.hpp>
#include <boost/geometry/algorithms/intersection.hpp>
#include <boost/geometry/algorithms/perimeter.hpp>
#include <boost/geometry/algorithms/within.hpp>
#include <boost/geometry/geometries/multi_point.hpp>
#include <boost/geometry/geometries/point_xy.hpp>
#include <boost/geometry/geometries/polygon.hpp>
#include <boost/geometry/strategies/agnostic/hull_graham_andrew.hpp>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <ostream>
#include <random>
#include <set>
#include <vector>

#include "imaging/bal_polygon.h"
#include "math/zr_trig.h"

// Found by argument-dependent lookup, so they live beside bal_point.
bool operator==(const bal_point& a, const bal_point& b) {
    return a.x == b.x && a.y == b.y;
}
void PrintTo(const bal_point& p, std::ostream* os) {
    *os << "(" << p.x << ", " << p.y << ")";
}

namespace {

namespace bg = boost::geometry;
using bg_point = bg::model::d2::point_xy<double>;
using bg_polygon = bg::model::polygon<bg_point, false, false>;  // counter-clockwise, open

std::vector<bal_point> corners_of(const bal_polygon& polygon) {
    return std::vector<bal_point>(polygon.points, polygon.points + polygon.count);
}

bg_polygon to_boost(const bal_point* corners, int32_t count) {
    bg_polygon out;
    for (int32_t k = 0; k < count; ++k) {
        out.outer().push_back(bg_point(corners[k].x, corners[k].y));
    }
    bg::correct(out);
    return out;
}

struct polygon_deleter {
    void operator()(bal_polygon* p) const { bal_polygon_delete(p); }
};
using polygon_ptr = std::unique_ptr<bal_polygon, polygon_deleter>;

polygon_ptr polygon_of(const std::vector<bal_point>& corners) {
    polygon_ptr p(bal_polygon_create());
    for (const bal_point& c : corners) {
        bal_polygon_append_point(p.get(), &c);
    }
    return p;
}

// Random points in [0, range)^2 in general position for the hull: no three
// collinear, and every point seen from the pivot (the lowest point, placed
// first) at its own 8-bit angle, so that the angle sort is the exact angular
// order. Points are drawn one by one and redrawn when they break the rule.
std::vector<bal_point> general_position_points(std::mt19937& rng, int n, int range) {
    std::uniform_int_distribution<int> coordinate(0, range - 1);
    std::uniform_int_distribution<int> low(0, range / 4);
    const bal_point pivot{static_cast<int16_t>(coordinate(rng)), static_cast<int16_t>(low(rng))};
    std::vector<bal_point> points = {pivot};
    std::set<int> angles;
    while (static_cast<int>(points.size()) < n) {
        const bal_point p{static_cast<int16_t>(coordinate(rng)), static_cast<int16_t>(coordinate(rng))};
        if (p.y <= pivot.y || angles.count(zr_atan2_(p.y - pivot.y, p.x - pivot.x) & 0xFF) > 0) {
            continue;
        }
        bool collinear = false;
        for (size_t i = 0; i < points.size() && !collinear; ++i) {
            for (size_t j = i + 1; j < points.size() && !collinear; ++j) {
                const bal_point& a = points[i];
                const bal_point& b = points[j];
                collinear = int64_t(b.x - a.x) * (p.y - a.y) == int64_t(b.y - a.y) * (p.x - a.x);
            }
        }
        if (!collinear) {
            angles.insert(zr_atan2_(p.y - pivot.y, p.x - pivot.x) & 0xFF);
            points.push_back(p);
        }
    }
    std::shuffle(points.begin(), points.end(), rng);
    return points;
}

// --------------------------------------------------------------------------
// Record

TEST(Polygon, GrowsByDoublingAndKeepsOneSlotFree) {
    polygon_ptr p(bal_polygon_create());
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->points, nullptr);
    const uint16_t expected_capacity[] = {4, 4, 4, 8, 8};
    for (int k = 0; k < 5; ++k) {
        const bal_point point{static_cast<int16_t>(k), static_cast<int16_t>(-k)};
        bal_polygon_append_point(p.get(), &point);
        EXPECT_EQ(p->count, k + 1);
        EXPECT_EQ(p->capacity, expected_capacity[k]) << k;
    }
    // n points: the largest of 2 * capacity, 4 and capacity + n.
    std::vector<bal_point> many(20, bal_point{7, 7});
    bal_polygon_append_points(p.get(), many.data(), 20);
    EXPECT_EQ(p->count, 25);
    EXPECT_EQ(p->capacity, 28);
    bal_polygon_append_points(p.get(), many.data(), 2);
    EXPECT_EQ(p->capacity, 28);
    EXPECT_EQ(p->points[1], (bal_point{1, -1}));

    bal_polygon_remove_corner(p.get(), 1);
    EXPECT_EQ(p->count, 26);
    EXPECT_EQ(p->points[1], (bal_point{2, -2}));
    bal_polygon_remove_corner(p.get(), 26);
    EXPECT_EQ(p->count, 26);

    bal_polygon_append_point(nullptr, &many[0]);
    bal_polygon_append_points(nullptr, many.data(), 3);
    bal_polygon_delete(nullptr);
}

TEST(Polygon, CapacityStopsAt65535AndFurtherGrowthEmptiesTheRecord) {
    polygon_ptr p(bal_polygon_create());
    const bal_point point{1, 2};
    for (int k = 0; k < 65535; ++k) {
        bal_polygon_append_point(p.get(), &point);
    }
    EXPECT_EQ(p->count, 65535);
    EXPECT_EQ(p->capacity, 65535);
    EXPECT_EQ(p->points[65534], point);  // the last slot is inside the array (ASan)
    bal_polygon_append_point(p.get(), &point);
    EXPECT_EQ(p->points, nullptr);
    EXPECT_EQ(p->count, 0);
    EXPECT_EQ(p->capacity, 0);

    // The n-point append: 40000 + 30000 corners do not fit.
    std::vector<bal_point> block(40000, point);
    bal_polygon_append_points(p.get(), block.data(), 40000);
    EXPECT_EQ(p->count, 40000);
    bal_polygon_append_points(p.get(), block.data(), 30000);
    EXPECT_EQ(p->points, nullptr);
    EXPECT_EQ(p->count, 0);
    EXPECT_EQ(p->capacity, 0);
}

// --------------------------------------------------------------------------
// Convex hull

TEST(ConvexHull, SquareWithCentreAndCollinearPoints) {
    const std::vector<bal_point> square = {{2, 2}, {0, 4}, {4, 4}, {0, 0}, {4, 0}};
    bal_polygon hull = bal_convex_hull_from_points(square.data(), 5);
    EXPECT_EQ(corners_of(hull), (std::vector<bal_point>{{0, 0}, {4, 0}, {4, 4}, {0, 4}}));
    EXPECT_EQ(bal_polygon_area(&hull), 16u);
    EXPECT_EQ(hull.capacity, 5);
    std::free(hull.points);

    // Collinear points stay: three on a line, and three on the lowest row.
    const std::vector<bal_point> line = {{4, 2}, {0, 0}, {2, 1}};
    hull = bal_convex_hull_from_points(line.data(), 3);
    EXPECT_EQ(corners_of(hull), (std::vector<bal_point>{{0, 0}, {2, 1}, {4, 2}}));
    EXPECT_EQ(bal_polygon_area(&hull), 0u);
    std::free(hull.points);

    const std::vector<bal_point> bottom = {{6, 6}, {4, 2}, {2, 6}, {6, 2}, {2, 2}, {4, 4}};
    polygon_ptr p(bal_polygon_from_points(bottom.data(), 6));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(corners_of(*p), (std::vector<bal_point>{{2, 2}, {4, 2}, {6, 2}, {6, 6}, {2, 6}}));
}

TEST(ConvexHull, EightBitAngleSortOrdersByDistanceWithinOneAngleStep) {
    // (100, 1) and (200, 1) are both at angle 0 from the pivot (0, 0): the
    // nearer comes first, and the first sorted point is never popped, so
    // (100, 1) stays although it lies just inside the segment to (200, 1).
    const std::vector<bal_point> points = {{0, 0}, {200, 1}, {100, 1}, {0, 50}};
    bal_polygon hull = bal_convex_hull_from_points(points.data(), 4);
    EXPECT_EQ(corners_of(hull), (std::vector<bal_point>{{0, 0}, {100, 1}, {200, 1}, {0, 50}}));
    std::free(hull.points);
    // At distinct angles the scan removes it.
    const std::vector<bal_point> apart = {{0, 0}, {200, 1}, {100, 3}, {0, 50}};
    hull = bal_convex_hull_from_points(apart.data(), 4);
    EXPECT_EQ(corners_of(hull), (std::vector<bal_point>{{0, 0}, {200, 1}, {0, 50}}));
    std::free(hull.points);
}

TEST(ConvexHull, EqualAnglesCompareByTheWrappedDifferenceOfDistances) {
    // From the pivot (-32768, 0), (-32767, 0) and (32767, 0) share angle 0 at
    // squared distances 1 and 65535^2; their 32-bit difference wraps to a
    // positive value, so the far point sorts first. The near point then lies
    // behind it on the stack and is popped by (-32768, 10).
    const std::vector<bal_point> points = {{-32767, 0}, {-32768, 10}, {32767, 0}, {-32768, 0}};
    bal_polygon hull = bal_convex_hull_from_points(points.data(), 4);
    EXPECT_EQ(corners_of(hull),
              (std::vector<bal_point>{{-32768, 0}, {32767, 0}, {-32768, 10}}));
    std::free(hull.points);
}

TEST(ConvexHull, EmptyForTooFewOrTooManyPoints) {
    const bal_point one{3, 3};
    bal_polygon hull = bal_convex_hull_from_points(&one, 1);
    EXPECT_EQ(hull.points, nullptr);
    EXPECT_EQ(hull.count, 0);
    EXPECT_EQ(bal_polygon_from_points(&one, 1), nullptr);
    EXPECT_EQ(bal_polygon_from_points(&one, 0xFFFFFFFFu), nullptr);  // -1 as signed

    std::vector<bal_point> many(65536);
    for (size_t k = 0; k < many.size(); ++k) {
        many[k] = bal_point{static_cast<int16_t>(k % 256), static_cast<int16_t>(k / 256)};
    }
    hull = bal_convex_hull_from_points(many.data(), 65536);
    EXPECT_EQ(hull.points, nullptr);
    EXPECT_EQ(hull.capacity, 0);
    hull = bal_convex_hull_from_points(many.data(), 65535);
    ASSERT_NE(hull.points, nullptr);
    EXPECT_EQ(hull.capacity, 65535);
    EXPECT_GE(hull.count, 4);
    EXPECT_EQ(hull.points[0], (bal_point{0, 0}));
    std::free(hull.points);
}

TEST(ConvexHull, MatchesBoostOnRandomPointsInGeneralPosition) {
    std::mt19937 rng(2024);
    for (int trial = 0; trial < 300; ++trial) {
        const int n = 3 + trial % 40;
        const auto points = general_position_points(rng, n, trial % 2 ? 1000 : 30000);
        bal_polygon hull = bal_convex_hull_from_points(points.data(), n);
        bg::model::multi_point<bg_point> cloud;
        for (const bal_point& p : points) {
            cloud.push_back(bg_point(p.x, p.y));
        }
        bg_polygon expected;
        bg::convex_hull(cloud, expected);
        // Boost's ring, started at our pivot (the first corner).
        std::vector<bal_point> ring;
        for (const bg_point& p : expected.outer()) {
            ring.push_back(bal_point{static_cast<int16_t>(p.x()), static_cast<int16_t>(p.y())});
        }
        if (ring.size() > 1 && ring.front() == ring.back()) {
            ring.pop_back();
        }
        const auto start = std::find(ring.begin(), ring.end(), hull.points[0]);
        ASSERT_NE(start, ring.end()) << trial;
        std::rotate(ring.begin(), start, ring.end());
        EXPECT_EQ(corners_of(hull), ring) << trial;
        std::free(hull.points);
    }
}

// --------------------------------------------------------------------------
// Intersection

double boost_area(const bal_polygon& polygon) {
    return polygon.count < 3 ? 0.0 : bg::area(to_boost(polygon.points, polygon.count));
}

bool has_repeated_corner(const bal_polygon& p) {
    for (int32_t k = 0; k < p.count; ++k) {
        if (p.count > 1 && p.points[k] == p.points[(k + 1) % p.count]) {
            return true;
        }
    }
    return false;
}

TEST(ConvexHullIntersection, OverlappingSquaresEitherWay) {
    const auto a = polygon_of({{0, 0}, {4, 0}, {4, 4}, {0, 4}});
    const auto b = polygon_of({{2, 2}, {6, 2}, {6, 6}, {2, 6}});
    for (auto [subject, clip] : {std::pair{a.get(), b.get()}, std::pair{b.get(), a.get()}}) {
        polygon_ptr result(bal_convex_hull_intersection(subject, clip));
        ASSERT_NE(result, nullptr);
        EXPECT_EQ(bal_polygon_area(result.get()), 4u);
        EXPECT_EQ(result->count, 4);
        EXPECT_FALSE(has_repeated_corner(*result));
        std::vector<bal_point> corners = corners_of(*result);
        auto less = [](bal_point p, bal_point q) { return p.x != q.x ? p.x < q.x : p.y < q.y; };
        std::sort(corners.begin(), corners.end(), less);
        EXPECT_EQ(corners, (std::vector<bal_point>{{2, 2}, {2, 4}, {4, 2}, {4, 4}}));
    }
}

TEST(ConvexHullIntersection, ClipWithCollinearFirstCornersStillClips) {
    // The hull keeps (4, 2) on the lowest row, so the clip's first three
    // corners are collinear; the orientation comes from the whole outline.
    const std::vector<bal_point> points = {{2, 2}, {4, 2}, {6, 2}, {6, 6}, {2, 6}};
    polygon_ptr clip(bal_polygon_from_points(points.data(), 5));
    ASSERT_EQ(clip->count, 5);
    const auto square = polygon_of({{0, 0}, {4, 0}, {4, 4}, {0, 4}});
    polygon_ptr result(bal_convex_hull_intersection(square.get(), clip.get()));
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(bal_polygon_area(result.get()), 4u);

    // The same clip turned clockwise.
    const auto clockwise = polygon_of({{2, 6}, {6, 6}, {6, 2}, {4, 2}, {2, 2}});
    result.reset(bal_convex_hull_intersection(square.get(), clockwise.get()));
    EXPECT_EQ(bal_polygon_area(result.get()), 4u);
}

TEST(ConvexHullIntersection, DegenerateInputsGiveAnEmptyResult) {
    const auto square = polygon_of({{0, 0}, {4, 0}, {4, 4}, {0, 4}});
    const auto line = polygon_of({{0, 0}, {2, 2}, {4, 4}});
    const auto segment = polygon_of({{0, 0}, {4, 4}});
    const auto empty = polygon_of({});
    // The triangle (0,0),(1,0),(0,1) has a per-term truncated area of 0 but
    // an exact orientation: it still clips.
    const auto tiny = polygon_of({{0, 0}, {1, 0}, {0, 1}});
    EXPECT_EQ(bal_polygon_area_signed(tiny.get()), 0);
    const struct {
        const bal_polygon* subject;
        const bal_polygon* clip;
        int32_t count;
    } cases[] = {{square.get(), line.get(), 0},  {square.get(), segment.get(), 0},
                 {square.get(), empty.get(), 0}, {square.get(), nullptr, 0},
                 {empty.get(), square.get(), 0}, {nullptr, square.get(), 0},
                 {square.get(), tiny.get(), 3}};
    for (const auto& c : cases) {
        polygon_ptr result(bal_convex_hull_intersection(c.subject, c.clip));
        ASSERT_NE(result, nullptr);
        EXPECT_EQ(result->count, c.count);
    }
}

TEST(ConvexHullIntersection, AreaMatchesBoostOnRandomHulls) {
    std::mt19937 rng(77);
    std::uniform_int_distribution<int> offset(0, 2000);
    for (int trial = 0; trial < 300; ++trial) {
        auto a_points = general_position_points(rng, 4 + trial % 12, 2500);
        auto b_points = general_position_points(rng, 4 + (trial / 3) % 12, 2500);
        const int dx = offset(rng), dy = offset(rng);
        for (bal_point& p : b_points) {
            p.x = static_cast<int16_t>(p.x + dx);
            p.y = static_cast<int16_t>(p.y + dy);
        }
        polygon_ptr a(bal_polygon_from_points(a_points.data(), a_points.size()));
        polygon_ptr b(bal_polygon_from_points(b_points.data(), b_points.size()));
        std::vector<bg_polygon> expected;
        bg::intersection(to_boost(a->points, a->count), to_boost(b->points, b->count), expected);
        double expected_area = 0.0, perimeter = 0.0;
        for (const bg_polygon& part : expected) {
            expected_area += bg::area(part);
            perimeter += bg::perimeter(part);
        }
        // Cut points are rounded down to whole pixels (and the 1/4096 step),
        // which moves each edge by at most about a pixel.
        const double tolerance = 2.0 * perimeter + 4.0;
        for (bool swap : {false, true}) {
            polygon_ptr result(swap ? bal_convex_hull_intersection(b.get(), a.get())
                                    : bal_convex_hull_intersection(a.get(), b.get()));
            ASSERT_NE(result, nullptr);
            EXPECT_NEAR(boost_area(*result), expected_area, tolerance) << trial << " " << swap;
            EXPECT_NEAR(bal_polygon_area(result.get()), expected_area, tolerance + result->count);
            EXPECT_FALSE(has_repeated_corner(*result)) << trial;
        }
    }
}

TEST(ConvexHullIntersection, LargeCoordinatesDoNotOverflowTheCutPoint) {
    // The cut parameter's numerator exceeds 2^31 once shifted by 12 bits.
    const auto big = polygon_of({{-16000, -16000}, {16000, -16000}, {16000, 16000}, {-16000, 16000}});
    const auto clip = polygon_of({{0, -16000}, {16000, -16000}, {16000, 16000}, {0, 16000}});
    polygon_ptr result(bal_convex_hull_intersection(big.get(), clip.get()));
    ASSERT_NE(result, nullptr);
    EXPECT_NEAR(boost_area(*result), 16000.0 * 32000.0, 32000.0 * 4);
}

// --------------------------------------------------------------------------
// Areas, centre, circle, point in polygon, lines

TEST(PolygonMeasures, AreasCentreAndCircle) {
    const auto ccw = polygon_of({{0, 0}, {4, 0}, {4, 4}, {0, 4}});
    const auto cw = polygon_of({{0, 4}, {4, 4}, {4, 0}, {0, 0}});
    EXPECT_EQ(bal_polygon_area_signed(ccw.get()), 16);
    EXPECT_EQ(bal_polygon_area_signed(cw.get()), -16);
    EXPECT_EQ(bal_polygon_area(cw.get()), 16u);
    EXPECT_EQ(bal_polygon_area(nullptr), 0u);
    EXPECT_EQ(bal_polygon_area_corners_signed(ccw->points, 2), 0);
    const bal_point a{3, 5}, b{-2, 4};
    EXPECT_EQ(bal_point_area_signed(&a, &b), (12 + 10) / 2);
    EXPECT_EQ(bal_point_area_signed(&b, &a), -11);

    EXPECT_EQ(bal_polygon_center(ccw.get()), (bal_point{2, 2}));
    const auto odd = polygon_of({{-3, 0}, {0, 0}, {0, -4}});
    EXPECT_EQ(bal_polygon_center(odd.get()), (bal_point{-1, -1}));  // truncated toward zero
    const auto empty = polygon_of({});
    EXPECT_EQ(bal_polygon_center(empty.get()), (bal_point{0, 0}));

    const bal_circle circle{10, 10, 5};
    const bal_point in{13, 13}, on{13, 14}, out{16, 10};
    EXPECT_TRUE(bal_point_inside_circle(&in, &circle));
    EXPECT_FALSE(bal_point_inside_circle(&on, &circle));
    EXPECT_FALSE(bal_point_inside_circle(&out, &circle));
}

TEST(PointInsidePolygon, CornersBoundingBoxAndHorizontalEdges) {
    const auto square = polygon_of({{0, 0}, {4, 0}, {4, 4}, {0, 4}});
    const struct {
        bal_point p;
        bool inside;
    } cases[] = {
        {{0, 0}, true},   {{4, 4}, true},   {{2, 2}, true},   {{1, 3}, true},
        {{9, 9}, false},  {{-1, 2}, false}, {{5, 2}, false},  {{2, -1}, false},
        // On the lines of the horizontal edges, outside the square.
        {{-2, 0}, false}, {{-2, 4}, false}, {{6, 0}, false},  {{6, 4}, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(bal_point_inside_polygon(&c.p, square.get()), c.inside) << c.p.x << "," << c.p.y;
    }
    const bal_point p{1, 1};
    EXPECT_FALSE(bal_point_inside_polygon_corners(&p, square->points, 2));
    EXPECT_FALSE(bal_point_inside_polygon(&p, nullptr));
}

TEST(PointInsidePolygon, MatchesBoostAwayFromTheBoundary) {
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> coordinate(-100, 1100);
    int tested = 0;
    for (int trial = 0; trial < 200; ++trial) {
        const auto points = general_position_points(rng, 3 + trial % 20, 1000);
        bal_polygon hull = bal_convex_hull_from_points(points.data(), points.size());
        const bg_polygon reference = to_boost(hull.points, hull.count);
        for (int q = 0; q < 200; ++q) {
            // Half the queries share a row with a corner, where the ray runs
            // through that corner.
            const int16_t y = q % 2 ? hull.points[q % hull.count].y
                                    : static_cast<int16_t>(coordinate(rng));
            const bal_point p{static_cast<int16_t>(coordinate(rng)), y};
            const bg_point bp(p.x, p.y);
            const bool within = bg::within(bp, reference);
            if (within != bg::covered_by(bp, reference)) {
                continue;  // on the boundary
            }
            ++tested;
            ASSERT_EQ(bal_point_inside_polygon_corners(&p, hull.points, hull.count), within)
                << trial << ": " << p.x << "," << p.y;
        }
        std::free(hull.points);
    }
    EXPECT_GT(tested, 30000);
}

TEST(Lines, SameSideAndProperIntersection) {
    const bal_line diagonal{0, 0, 4, 4};
    const bal_point above{0, 3}, below{3, 0}, on{2, 2}, also_above{1, 5};
    EXPECT_FALSE(bal_line_on_same_side(&diagonal, &above, &below));
    EXPECT_TRUE(bal_line_on_same_side(&diagonal, &above, &also_above));
    EXPECT_TRUE(bal_line_on_same_side(&diagonal, &above, &on));
    EXPECT_TRUE(bal_line_on_same_side(&diagonal, &on, &below));
    const bal_line row{3, 5, 21, 5};
    const bal_point on_row{6, 5}, under{0, 3}, over{0, 8};
    EXPECT_TRUE(bal_line_on_same_side(&row, &on_row, &under));
    EXPECT_FALSE(bal_line_on_same_side(&row, &over, &under));

    const struct {
        bal_line a, b;
        bool crossing;
    } cases[] = {
        {{0, 0, 4, 4}, {0, 4, 4, 0}, true},    // an X
        {{0, 0, 4, 4}, {4, 4, 8, 0}, false},   // sharing an end point
        {{0, 0, 4, 4}, {2, 2, 6, 6}, false},   // collinear, overlapping
        {{0, 0, 4, 4}, {0, 4, 1, 3}, false},   // stops short
        {{0, 0, 4, 0}, {2, -2, 2, 0}, false},  // touching
        {{0, 0, 10, 0}, {3, -5, 4, 5}, true},
        // Touching at an inner point where the halved, truncated areas of the
        // collinear triple do not sum to 0.
        {{3, 5, 21, 5}, {6, 5, -10, 8}, false},
        {{5, -1, 3, 3}, {4, 1, 14, 8}, false},
        {{-1, 17, -1, 21}, {-1, 18, -9, -16}, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(bal_lines_intersect(&c.a, &c.b), c.crossing);
        EXPECT_EQ(bal_lines_intersect(&c.b, &c.a), c.crossing);
    }
}

}  // namespace
