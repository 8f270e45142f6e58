// Ridge features of a skeleton: the ridge-curvature summary and the
// alignment vectors (short direction vectors at ridge ends, junction legs,
// bends and straight stretches, grouped by kind), both run as feature
// callbacks of the extraction.
//
// Both extractors visit the skeleton (one byte a pixel, skeleton pixels 0)
// in square frames from the border inward and trace every ridge they meet
// from its free end; traced pixels are set to 255, so the skeleton is
// consumed. Positions outside the image count as background.
//
// Directions are 8-bit angles: zr_atan2_(row difference, column difference)
// from a vector's own position to its target (rows growing downwards).
// Path lengths along a traced ridge count 10 for a straight and 14 for a
// diagonal step.
#pragma once

#include <cstdint>

#include "formats/bal_template_container.h"
#include "imaging/bal_status.h"

// Point kinds of a traced ridge.
constexpr uint32_t BAL_POINT_JUNCTION = 4;  // the ridge ends on a junction
constexpr uint32_t BAL_POINT_TRACED = 5;

// Keys of the alignment vectors (the feature-block slot relative to the base).
enum bal_alignment_key : uint32_t {
    BAL_KEY_SHORT_RIDGE = 0,
    BAL_KEY_BRANCH_FIRST = 2,
    BAL_KEY_BRANCH_SECOND = 3,
    BAL_KEY_JUNCTION_END = 4,
    BAL_KEY_FREE_END = 5,
    BAL_KEY_TAIL_FIRST_1 = 6, BAL_KEY_TAIL_SECOND_1 = 7, BAL_KEY_TAIL_STEM_1 = 8, BAL_KEY_TAIL_END_1 = 9,
    BAL_KEY_TAIL_FIRST_2 = 10, BAL_KEY_TAIL_SECOND_2 = 11, BAL_KEY_TAIL_STEM_2 = 12, BAL_KEY_TAIL_END_2 = 13,
    BAL_KEY_TAIL_FIRST_3 = 14, BAL_KEY_TAIL_SECOND_3 = 15, BAL_KEY_TAIL_STEM_3 = 16, BAL_KEY_TAIL_END_3 = 17,
    BAL_KEY_SHARPEST_BEND = 18,
    BAL_KEY_SHARPEST_BEND_WIDE = 19,
    BAL_KEY_BEND = 22,
    BAL_KEY_BEND_WIDE = 23,
    BAL_KEY_STRAIGHT = 24,
    BAL_KEY_FASTEST_CHANGE = 27,
};

// A point of a traced ridge.
struct bal_ridge_point {
    uint32_t row;
    uint32_t col;
    uint8_t visited;  // always 0
    uint8_t reserved[3];
    uint32_t kind;  // BAL_POINT_TRACED, BAL_POINT_JUNCTION or the key of a tail vector
};
static_assert(sizeof(bal_ridge_point) == 16);

// A growable list of points (grown by 100 entries). Release with
// bal_traced_ridge_release.
struct bal_traced_ridge {
    bal_ridge_point* points;
    uint32_t count;
    uint32_t capacity;
};

void bal_traced_ridge_release(bal_traced_ridge* ridge);

// A curvature vector: the bend of a ridge window, magnitude g < 256.
struct bal_curvature_vector {
    int32_t row;  // (sin(direction) x g) >> 14
    int32_t col;  // (cos(direction) x g) >> 14
    uint8_t magnitude;
    uint8_t reserved[3];
    uint32_t kind;  // always 5
};
static_assert(sizeof(bal_curvature_vector) == 16);

struct bal_curvature_vectors {
    bal_curvature_vector* vectors;
    uint32_t count;
    uint32_t capacity;
};

void bal_curvature_vectors_release(bal_curvature_vectors* vectors);

// Alignment vectors: a list of buckets, one per key in order of first use,
// each a list of vectors in order of addition.
struct bal_alignment_vector {
    bal_alignment_vector* next;
    bal_alignment_vector* previous;
    uint16_t direction;  // low byte: 8-bit angle
    uint16_t col;
    uint16_t row;
    bal_traced_ridge* payload;  // optional copy of a ridge's points, from this position outward
};

struct bal_alignment_bucket {
    bal_alignment_bucket* next;
    bal_alignment_bucket* previous;
    bal_alignment_vector* first;
    bal_alignment_vector* last;
    uint32_t count;
    uint32_t key;
};

struct bal_alignment_list {
    bal_alignment_bucket* first;
    bal_alignment_bucket* last;
    uint32_t count;
};

// Releases every bucket, vector and payload; the list becomes empty.
void bal_alignment_list_release(bal_alignment_list* list);

// The two feature callbacks (see bal_feature_callback). Scale 2 and unit 6
// with the container's 250 dpi flag, else scale 1 and unit 12; the window
// length of the curvature vectors is r = min(rows / 2, cols / 2).
// The ridge-curvature extractor writes the container's alignment summary
// {mean direction, direction spread, mean magnitude, magnitude spread}
// (truncating means, rounded roots), {0, 128, 0, 255} when no curvature
// vector exists or r < 2; the slot base is not read. The alignment-vector
// extractor writes the same summary and one feature block a bucket, at slot
// slot_base + key: 3 bytes a vector (low bytes of m x column, m x row and of
// the direction, m = 2 at 250 dpi, else 1), allocated with malloc for the
// caller; a slot already in use is overwritten. Both return BAL_OK,
// BAL_NO_MEMORY (blocks already stored stay), or BAL_BAD_ARGUMENT for a null
// pointer or block size 0.
[[nodiscard]] bal_status bal_extract_ridge_curvature(const bal_extraction_image* image,
                                                     uint8_t* skeleton, const uint8_t* block_mask,
                                                     uint32_t block_size, uint32_t margin,
                                                     const uint8_t* quality_image,
                                                     zr_template_container* container,
                                                     uint32_t slot_base);
[[nodiscard]] bal_status bal_extract_alignment_vectors(const bal_extraction_image* image,
                                                       uint8_t* skeleton,
                                                       const uint8_t* block_mask,
                                                       uint32_t block_size, uint32_t margin,
                                                       const uint8_t* quality_image,
                                                       zr_template_container* container,
                                                       uint32_t slot_base);

// Appends the vector itself (the list takes it) under the key. BAL_OK or
// BAL_NO_MEMORY (a new bucket could not be made; the vector stays the
// caller's).
[[nodiscard]] bal_status bal_add_alignment_vector(bal_alignment_list* list,
                                                  bal_alignment_vector* vector, uint32_t key);
// Appends a new vector with the same direction, column and row, no payload.
[[nodiscard]] bal_status bal_add_clone(bal_alignment_list* list, const bal_alignment_vector* vector,
                                       uint32_t key);
// Releases the vector's payload, unlinks it from the key-4 bucket, releases
// it, and releases the bucket when it becomes empty. A vector not in that
// bucket is left alone.
void bal_remove_alignment_vector(bal_alignment_list* list, bal_alignment_vector* vector);

// Follows the skeleton from (start_row, start_col), appending the points
// (kind 5) to `ridge` and setting every visited pixel to 255. A trace that
// reaches a junction ends on the junction pixel with kind 4 and leaves the
// skeleton pixels of its last two points at 0. BAL_OK or BAL_NO_MEMORY.
[[nodiscard]] bal_status bal_trace_ridge(uint8_t* skeleton, uint32_t rows, uint32_t cols,
                                         uint32_t start_row, uint32_t start_col,
                                         bal_traced_ridge* ridge);

// Appends a curvature vector for every window of `window` points starting
// at 0, factor, 2 x factor, ... whose chord exceeds 18 x factor and whose
// bend magnitude is below 256. BAL_OK, BAL_NO_MEMORY, or BAL_BAD_ARGUMENT
// for window 0 or factor 0 (nothing appended).
[[nodiscard]] bal_status bal_calculate_curvature_vectors(const bal_ridge_point* points,
                                                         uint32_t count, uint32_t window,
                                                         uint32_t factor,
                                                         bal_curvature_vectors* vectors);

// Block masks are (rows / block_size) x (cols / block_size) bytes, non-zero
// on the finger; margins are pixels at 500 dpi; the unit is 12 traced points,
// or 6 at 250 dpi (scale 2).
//
// 1 when the point lies in the centre region: with d = (margin + 4) / scale,
// d < col < cols - 1 - d, d < row < rows - 1 - d and the blocks of
// (row, col +- d) and (row +- d, col) are all on the finger; else 0.
uint32_t bal_vector_in_center(const bal_ridge_point* point, const uint8_t* block_mask,
                              uint32_t block_size, uint32_t margin, uint32_t rows, uint32_t cols,
                              uint32_t scale);

// All alignment vectors of one traced ridge (end vectors, tails, the short
// ridge vector and the ridge vectors). Tail vectors relabel their start
// points. BAL_OK or BAL_NO_MEMORY.
[[nodiscard]] bal_status bal_calculate_alignment_vectors(bal_traced_ridge* ridge,
                                                         const uint8_t* block_mask,
                                                         uint32_t block_size, uint32_t margin,
                                                         uint32_t unit, uint32_t rows,
                                                         uint32_t cols, uint32_t scale,
                                                         bal_alignment_list* list);

// Bend, straight-stretch and fastest-change vectors of one ridge; joined is
// 1 for a ridge joined from two junction legs. BAL_OK or BAL_NO_MEMORY.
[[nodiscard]] bal_status bal_calculate_ridge_vectors(const bal_traced_ridge* ridge,
                                                     const uint8_t* block_mask,
                                                     uint32_t block_size, uint32_t margin,
                                                     uint32_t unit, uint32_t rows, uint32_t cols,
                                                     uint32_t scale, uint8_t joined,
                                                     bal_alignment_list* list);

// Three vectors anchor -> P1 -> P2 -> P3 under keys k1, k2, k3, P1..P3 the
// points reached from the first point at path lengths (offset + 2 unit) x 10,
// (offset + 3 unit) x 10 and (offset + 4 unit) x 10 (unsigned, so a negative
// length is never reached); stops without error at a length beyond the
// ridge. The start point of each vector made takes its key as kind.
// BAL_OK or BAL_NO_MEMORY.
[[nodiscard]] bal_status bal_calculate_tail_vectors(bal_traced_ridge* ridge, uint32_t offset,
                                                    int32_t unit, uint32_t anchor_index,
                                                    uint32_t k1, uint32_t k2, uint32_t k3,
                                                    bal_alignment_list* list);

// Tail vectors of a junction leg (first point on the junction) from the
// anchor at its start; nothing for fewer than 3 points.
[[nodiscard]] bal_status bal_calculate_bifurcation_tail(bal_traced_ridge* leg, uint32_t unit,
                                                        uint32_t k1, uint32_t k2, uint32_t k3,
                                                        bal_alignment_list* list);

// A junction with two legs (key-4 vectors with payload): copies under keys
// 2 and 3 by the sign of their direction difference, with their tails, and
// removes both key-4 vectors.
[[nodiscard]] bal_status bal_calculate_partial_bifurcation_tail(bal_alignment_vector* x,
                                                                bal_alignment_vector* y,
                                                                uint32_t unit,
                                                                bal_alignment_list* list);
