// Integer plane geometry on points of two 16-bit coordinates: the convex
// polygon record with its growth rules, the convex hull of a point set,
// clipping of one convex polygon by another, areas, the centre,
// point-in-polygon and segment tests. Orientation is taken in a frame with y
// upwards: a positive signed area is counter-clockwise.
#pragma once

#include <cstdint>

#include "imaging/bal_status.h"

struct bal_point {
    int16_t x;
    int16_t y;
};

struct bal_circle {
    int16_t x;
    int16_t y;
    uint16_t radius;
};

// A segment, or the line through its two points.
struct bal_line {
    int16_t x1;
    int16_t y1;
    int16_t x2;
    int16_t y2;
};

// Convex polygon record. Empty: all three fields zero. The record owns its
// corner array; after every single-point append at least one slot is free.
struct bal_polygon {
    bal_point* points;
    int32_t count;
    uint16_t capacity;
};

// Largest number of corners a record can hold (its capacity is 16 bits).
constexpr uint32_t BAL_POLYGON_MAX_CAPACITY = 65535;

// A new empty record, or none when out of memory.
bal_polygon* bal_polygon_create();
// Frees the corner array and the record; none is ignored.
void bal_polygon_delete(bal_polygon* polygon);

// Appends corners, growing the array when count + n reaches the capacity.
// When the array cannot grow (out of memory, or more than 65535 corners would
// be needed) the record is emptied and nothing is appended. None is ignored.
void bal_polygon_append_point(bal_polygon* polygon, const bal_point* point);
void bal_polygon_append_points(bal_polygon* polygon, const bal_point* points, uint16_t n);
// Removes corner `index` when it exists.
void bal_polygon_remove_corner(bal_polygon* polygon, uint16_t index);

// Graham scan with the candidates sorted by 8-bit angle around the pivot (the
// lowest, then leftmost point), then by distance. Collinear points stay on
// the hull. The result runs counter-clockwise from the pivot; it is empty for
// fewer than 2 points, more than 65535 points or when out of memory. The
// caller frees its corner array.
bal_polygon bal_convex_hull_from_points(const bal_point* points, uint32_t n);
// The hull in a new record, or none when n < 2 or out of memory.
bal_polygon* bal_polygon_from_points(const bal_point* points, uint32_t n);

// The part of subject inside the convex polygon clip, in a new record
// (possibly without corners), or none when out of memory. A clip polygon of
// fewer than 3 corners or of zero area gives an empty result.
bal_polygon* bal_convex_hull_intersection(const bal_polygon* subject, const bal_polygon* clip);

// Shoelace areas, each half cross product truncated toward zero; 0 for fewer
// than 3 corners or no polygon.
uint32_t bal_polygon_area(const bal_polygon* polygon);
int32_t bal_polygon_area_signed(const bal_polygon* polygon);
int32_t bal_polygon_area_corners_signed(const bal_point* corners, int32_t count);

// Mean of the corners (truncating); (0, 0) without corners.
bal_point bal_polygon_center(const bal_polygon* polygon);

// cross(a, b) / 2, truncated toward zero.
int32_t bal_point_area_signed(const bal_point* a, const bal_point* b);

// Strictly inside the circle.
bool bal_point_inside_circle(const bal_point* p, const bal_circle* circle);

// Ray-crossing test; a corner itself is inside.
bool bal_point_inside_polygon(const bal_point* p, const bal_polygon* polygon);
bool bal_point_inside_polygon_corners(const bal_point* p, const bal_point* corners, int32_t count);

// The point and line tests decide sides exactly (64-bit doubled areas).
// False only when p1 and p2 lie strictly on opposite sides of the line.
bool bal_line_on_same_side(const bal_line* line, const bal_point* p1, const bal_point* p2);
// Proper crossing of two segments; touching and collinear ones do not count.
bool bal_lines_intersect(const bal_line* a, const bal_line* b);
