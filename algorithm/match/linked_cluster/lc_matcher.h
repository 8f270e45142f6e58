// Linked-cluster minutiae matcher over ISO compact cards.
//
// Each minutia is described by the cluster of its nearest neighbours
// (distance, position angle, relative direction). Probe clusters are compared
// with the clusters of a prepared reference store under a rotation gate that
// tightens as consistent matches accumulate; the best correspondences grow
// into linked minutia pairs, from which a 16-bit similarity score follows.
// Everything runs in a caller-supplied work area of LC_WORK_AREA_SIZE bytes
// and a reference store of at most LC_STORE_MAX_SIZE bytes; nothing is
// allocated. Coordinates are the card's 0.1 mm units (0..255), angles bytes of
// 256 units a turn. All arithmetic is integer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "objects/zr_result.h"

constexpr uint32_t LC_MAX_MINUTIAE = 64;        // per side after pruning
constexpr uint32_t LC_MAX_CARD_MINUTIAE = 128;  // card minutiae considered by pruning
constexpr uint32_t LC_MAX_NEIGHBOURS = 24;      // per minutia
constexpr uint32_t LC_MAX_SATELLITES = 615;     // satellite pairs in all
constexpr uint32_t LC_ANGLE_BINS = 32;
constexpr uint8_t LC_NONE = 255;                // empty index, free slot, no partner

// Neighbour rule: LC_NEIGHBOUR_MIN_D2 <= dx^2 + dy^2 < LC_NEIGHBOUR_MAX_D2.
constexpr uint32_t LC_NEIGHBOUR_MIN_D2 = 31;
constexpr uint32_t LC_NEIGHBOUR_MAX_D2 = 12210;

// Rotation tolerances: full range (flags bit 0) and the normal +-32.
constexpr uint8_t LC_TOLERANCE_FULL = 128;
constexpr uint8_t LC_TOLERANCE_NORMAL = 32;

// Work-area flags.
constexpr uint8_t LC_FLAG_FULL_ROTATION = 0x01;
constexpr uint8_t LC_FLAG_STATISTICS = 0x02;

// Reference store: count, 64 minutiae, proprietary flag, then one neighbour
// record per minutia: count, 24 position angles (k-th for the neighbour with
// the k-th smallest index), 8-byte bitmap of neighbour indices.
constexpr uint32_t LC_STORE_HEADER_SIZE = 258;
constexpr uint32_t LC_STORE_MINUTIAE_OFFSET = 1;
constexpr uint32_t LC_STORE_PROPRIETARY_OFFSET = 257;
constexpr uint32_t LC_RECORD_SIZE = 33;
constexpr uint32_t LC_RECORD_ANGLES_OFFSET = 1;
constexpr uint32_t LC_RECORD_BITMAP_OFFSET = 25;
constexpr uint32_t LC_RECORD_BITMAP_SIZE = 8;
constexpr uint32_t LC_STORE_MAX_SIZE = LC_STORE_HEADER_SIZE + LC_RECORD_SIZE * LC_MAX_MINUTIAE;

// Scratch that lc_prune needs: 128 card minutiae, a sort buffer, pair values.
constexpr uint32_t LC_PRUNE_SCRATCH_SIZE = LC_MAX_CARD_MINUTIAE * 4 + LC_MAX_CARD_MINUTIAE * 2;

// Matcher minutia: the card's x, y and 6-bit angle times 4, and a quality byte
// (proprietary quality in the high nibble and ridge-period nibble in the low
// one, or LC_QUALITY_NONE when the card carries no proprietary data).
struct lc_minutia {
    uint8_t x;
    uint8_t y;
    uint8_t angle;
    uint8_t quality;
};
constexpr uint8_t LC_QUALITY_NONE = 0xF0;

// One entry of the current probe minutia's neighbour list.
struct lc_neighbour {
    uint8_t distance;            // rounded root of d^2
    uint8_t position_angle;      // own angle - direction towards the neighbour
    uint8_t relative_direction;  // own angle - neighbour's angle
    uint8_t index;               // the neighbour's minutia index
};

// Best cluster correspondence of one probe minutia.
struct lc_match_record {
    uint16_t satellite_offset;  // into the satellite list
    uint8_t satellite_count;
    uint8_t reference;          // reference minutia
};

// Satellite pair of minutia indices; in the scratch pairs of one cluster
// comparison, a probe-neighbour slot and a reference-neighbour ordinal.
struct lc_pair {
    uint8_t probe;
    uint8_t reference;
};

// Which reference neighbour holds a probe neighbour, and in which scratch slot.
struct lc_neighbour_use {
    uint8_t reference_ordinal;  // LC_NONE when free
    uint8_t slot;
};

// Work-area region while clusters are compared.
struct lc_cluster_phase {
    lc_neighbour_use neighbour_use[LC_MAX_NEIGHBOURS];
    uint8_t preassigned[LC_MAX_MINUTIAE];  // reference minutia per probe minutia, or LC_NONE
    uint8_t rotation_estimate;
    uint8_t rotation_tolerance;
    uint8_t maximum_tolerance;
    int16_t rotation_cos_sum;
    int16_t rotation_sin_sum;
    uint8_t rotation_samples;
    uint8_t bin_start[LC_ANGLE_BINS];
    lc_pair scratch_pairs[LC_MAX_NEIGHBOURS];
    uint16_t satellites_used;
    lc_pair satellites[LC_MAX_SATELLITES];
};

// The same region while pairs are scored; the satellite list above lies
// behind these fields and stays valid while the pairs grow.
struct lc_scoring_phase {
    uint8_t pair_probe[LC_MAX_MINUTIAE];
    uint8_t pair_reference[LC_MAX_MINUTIAE];
    uint8_t pair_count;
    uint16_t links;
    uint16_t distortion;
    uint8_t probe_width;
    uint8_t probe_height;
    uint8_t probe_inside;
    uint8_t reference_width;
    uint8_t reference_height;
    uint8_t reference_inside;
};

// The caller's work area; it must be aligned for a pointer (as malloc gives).
struct lc_work_area {
    const uint8_t* store;
    uint8_t flags;
    uint8_t probe_count;
    lc_minutia probe[LC_MAX_MINUTIAE];
    uint8_t probe_proprietary;
    lc_neighbour neighbours[LC_MAX_NEIGHBOURS];
    uint8_t neighbour_count;
    lc_match_record records[LC_MAX_MINUTIAE];
    union {
        lc_cluster_phase cluster;
        lc_scoring_phase scoring;
    } phase;
};
constexpr uint32_t LC_WORK_AREA_SIZE = 2056;
static_assert(sizeof(lc_work_area) == LC_WORK_AREA_SIZE);
static_assert(offsetof(lc_work_area, records) == 364);
static_assert(offsetof(lc_work_area, phase) + offsetof(lc_cluster_phase, satellites) == 824);
static_assert(sizeof(lc_scoring_phase) <= offsetof(lc_cluster_phase, satellites));
// Pruning runs in the match records and the region behind them.
static_assert(sizeof(lc_work_area) - offsetof(lc_work_area, records) >= LC_PRUNE_SCRATCH_SIZE);

// Statistics record: eleven u16 fields. The caller marks it with
// LC_STATISTICS_MARK in field LC_STAT_FIELD_COUNT and LC_STATISTICS_IDLE in
// LC_STAT_STATE; the matcher then sets the state to LC_STATISTICS_STARTED
// before matching and to LC_STATISTICS_FILLED with the features below once a
// score has been computed from at least two pairs.
constexpr uint32_t LC_STATISTICS_FIELDS = 11;
enum lc_statistics_field : uint32_t {
    LC_STAT_SCORE = 0,
    LC_STAT_FIELD_COUNT = 1,
    LC_STAT_STATE = 2,
    LC_STAT_LINKS_ROOT = 3,         // sqrt(256 L)
    LC_STAT_PAIRS = 4,              // m
    LC_STAT_COUNT_SPREAD = 5,       // sqrt(|Xp-Xr| |Ip-Ir| |Np-Nr|)
    LC_STAT_COUNT_BY_DISCOUNTED = 6,
    LC_STAT_COUNT_BY_INSIDE = 7,
    LC_STAT_COUNT_BY_COUNT = 8,
    LC_STAT_DISCOUNTED_BY_COUNT = 9,
    LC_STAT_INSIDE_BY_COUNT = 10,
};
constexpr uint16_t LC_STATISTICS_MARK = 10;
constexpr uint16_t LC_STATISTICS_IDLE = 0;
constexpr uint16_t LC_STATISTICS_STARTED = 1;
constexpr uint16_t LC_STATISTICS_FILLED = 9;

// Outcome of one cluster comparison.
enum lc_cluster_result : uint32_t {
    LC_CLUSTER_NO_MATCH = 1,
    LC_CLUSTER_ACCEPTED = 2,
    LC_CLUSTER_LIST_FULL = 3,          // satellite list full: matching stops
    LC_CLUSTER_ACCEPTED_STRONGLY = 4,  // go on with the next probe minutia
};

// Geometry of one side of a pairing.
struct lc_side_geometry {
    uint8_t width;       // range of x over all minutiae
    uint8_t height;      // range of y
    uint8_t inside;      // minutiae inside the paired box, less the discounted ones
    uint8_t discounted;  // low-quality or crowded minutiae
};

// Turns a compact card into at most `maximum` (capped at 64) matcher
// minutiae: the first 128 card minutiae, duplicates removed, then a window
// and partner ordering when too many remain. Every part and length is taken
// from the card's own TLV structure within card[0..card_length). scratch
// holds LC_PRUNE_SCRATCH_SIZE bytes. ZR_OK, or ZR_BAD_FORMAT when the card has
// no minutiae part or a malformed proprietary part (outputs then unchanged).
[[nodiscard]] zr_status lc_prune(const uint8_t* card, uint32_t card_length, uint32_t maximum, uint8_t* scratch,
                                 lc_minutia* out_minutiae, uint8_t* out_count, uint8_t* out_proprietary);

// For each of count minutiae the smallest pair value with a close partner
// (facing ridge ending: the distance; near twin: distance + 20), or LC_NONE.
void lc_find_minutiae_pairs(const lc_minutia* minutiae, uint32_t count, uint8_t* out_pair_values);

// Neighbours of minutia `centre` among count minutiae by the neighbour rule,
// in selection order (not sorted); at most LC_MAX_NEIGHBOURS. Returns the
// number written to out.
uint32_t lc_collect_neighbours(const lc_minutia* minutiae, uint32_t count, uint32_t centre, lc_neighbour* out);

// Index of the k-th (from 0) set bit of an 8-byte bitmap (bit j in byte j / 8,
// least significant first); 64 when there are not that many.
uint32_t lc_bset_index(const uint8_t* bitmap, uint32_t k);

// e_dir^2 + 2 e_pos^2 + 4 e_d^2.
uint32_t lc_satellite_score(int32_t e_pos, int32_t e_dir, int32_t e_d);

// Compares the cluster of probe minutia `probe` (whose neighbour list and bins
// are in the work area) with that of reference minutia `reference`.
lc_cluster_result lc_match_clusters(lc_work_area* work, uint32_t probe, uint32_t reference);

// The match proper over work->store and the probe minutiae in the work area:
// fills the pair list of the scoring phase (pair_count 0 when nothing
// matched) and *out_score. maximum_tolerance is LC_TOLERANCE_FULL or
// LC_TOLERANCE_NORMAL. statistics, when given, is a marked statistics record
// (LC_STATISTICS_FIELDS u16) whose features are filled when a score is
// computed. The store must have been checked (lc_store_is_consistent).
void lc_match(lc_work_area* work, uint8_t maximum_tolerance, uint16_t* out_score, uint16_t* statistics);

// Width, height, inside and discounted counts of one side; paired holds the
// indices of the m paired minutiae. scratch: LC_GEOMETRY_SCRATCH_SIZE bytes.
constexpr uint32_t LC_GEOMETRY_SCRATCH_SIZE = LC_MAX_MINUTIAE * 6;
lc_side_geometry lc_compute_geometrics(const lc_minutia* minutiae, uint32_t count, const uint8_t* paired,
                                       uint32_t m, uint8_t* scratch);

// Score of the pair list grown in work (pair_count >= 2, links set); fills
// the statistics record when given and the score is computed.
uint16_t lc_score_pairs(lc_work_area* work, uint16_t* statistics);

// 1 when the card's minutiae part (0x7F2E > 0xA1 > 0x90, else 0x7F2E > 0x81)
// is exactly the 32-minutia dummy template, else 0.
int32_t lc_origin_is_dummy(const uint8_t* card, uint32_t length);

// 1 when store[0..LC_STORE_MAX_SIZE) holds a usable reference store: at most
// 64 minutiae, and each record names at most 24 neighbours, as many as its
// bitmap has bits set, all below the minutia count. Reads only the header and
// the records of the stored minutiae.
int32_t lc_store_is_consistent(const uint8_t* store);

// Views of the store.
inline const lc_minutia* lc_store_minutiae(const uint8_t* store) {
    return reinterpret_cast<const lc_minutia*>(store + LC_STORE_MINUTIAE_OFFSET);
}
inline const uint8_t* lc_store_record(const uint8_t* store, uint32_t minutia) {
    return store + LC_STORE_HEADER_SIZE + LC_RECORD_SIZE * minutia;
}
