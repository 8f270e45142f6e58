// Neighbour lists, cluster comparison and pair growing of the linked-cluster
// matcher.
#include <cstdlib>
#include <cstring>

#include "match/linked_cluster/lc_math.h"
#include "match/linked_cluster/lc_matcher.h"

namespace {

// Acceptance window of a satellite candidate.
constexpr int32_t kPositionWindow = 8;
constexpr int32_t kDirectionWindow = 8;
constexpr int32_t kDistanceWindow = 2;
// Past this angular lead a scanned probe neighbour ends the scan.
constexpr uint32_t kScanLead = 15;
constexpr uint32_t kBinWidth = 8;
constexpr uint32_t kMinSatellites = 2;
constexpr uint32_t kStrongSatellites = 6;

// Rotation estimate: samples are Q14 values / 32; it takes three samples.
constexpr int32_t kSampleDivisor = 32;
constexpr uint32_t kMinRotationSamples = 3;
constexpr uint32_t kConsistentResultant = 32767;  // v above this narrows the tolerance
constexpr uint32_t kToleranceScale = 52;
constexpr uint8_t kMinTolerance = 4;

uint32_t distance_squared(const lc_minutia& a, const lc_minutia& b) {
    const int32_t dx = int32_t(a.x) - b.x;
    const int32_t dy = int32_t(a.y) - b.y;
    return uint32_t(dx * dx + dy * dy);
}

// Neighbour geometry of reference minutia r's k-th neighbour.
struct reference_neighbour {
    uint8_t position_angle;
    uint8_t relative_direction;
    uint8_t distance;
    uint8_t index;
};

reference_neighbour reference_neighbour_at(const uint8_t* store, uint32_t r, uint32_t k) {
    const lc_minutia* minutiae = lc_store_minutiae(store);
    const uint8_t* record = lc_store_record(store, r);
    const uint32_t s = lc_bset_index(record + LC_RECORD_BITMAP_OFFSET, k);
    return {record[LC_RECORD_ANGLES_OFFSET + k], uint8_t(minutiae[r].angle - minutiae[s].angle),
            uint8_t(lc_sqrt16_(uint16_t(distance_squared(minutiae[r], minutiae[s])))), uint8_t(s)};
}

struct satellite_errors {
    int32_t position;
    int32_t direction;
    int32_t distance;
};

satellite_errors errors_between(const lc_neighbour& probe, const reference_neighbour& reference) {
    return {int8_t(uint8_t(reference.position_angle - probe.position_angle)),
            int8_t(uint8_t(reference.relative_direction - probe.relative_direction)),
            int32_t(reference.distance) - probe.distance};
}

uint32_t cost_of(const lc_neighbour& probe, const reference_neighbour& reference) {
    const satellite_errors e = errors_between(probe, reference);
    return lc_satellite_score(e.position, e.direction, e.distance);
}

// Sorts the probe neighbour list by position angle (stable) and notes, for
// each bin of 8 angle units, the first neighbour at or above its start.
void sort_and_bin(lc_work_area* work) {
    lc_neighbour* list = work->neighbours;
    const uint32_t count = work->neighbour_count;
    for (uint32_t i = 1; i < count; ++i) {
        const lc_neighbour n = list[i];
        uint32_t j = i;
        for (; j > 0 && list[j - 1].position_angle > n.position_angle; --j) list[j] = list[j - 1];
        list[j] = n;
    }
    lc_cluster_phase& cluster = work->phase.cluster;
    for (uint32_t b = 0; b < LC_ANGLE_BINS; ++b) {
        cluster.bin_start[b] = 0;
        for (uint32_t j = 0; j < count; ++j) {
            if (list[j].position_angle >= kBinWidth * b) {
                cluster.bin_start[b] = uint8_t(j);
                break;
            }
        }
    }
}

// Adds the rotation of the previous probe minutia's strong match and, from
// the third sample on, re-estimates the rotation and narrows the tolerance.
void update_rotation(lc_work_area* work, uint32_t i) {
    lc_cluster_phase& cluster = work->phase.cluster;
    const lc_match_record& previous = work->records[i - 1];
    if (previous.satellite_count < kStrongSatellites) return;
    const uint8_t d = uint8_t(lc_store_minutiae(work->store)[previous.reference].angle - work->probe[i - 1].angle);
    cluster.rotation_cos_sum = int16_t(cluster.rotation_cos_sum + lc_div_round_away(lc_cos_(d), kSampleDivisor));
    cluster.rotation_sin_sum = int16_t(cluster.rotation_sin_sum + lc_div_round_away(lc_sin_(d), kSampleDivisor));
    ++cluster.rotation_samples;
    if (cluster.rotation_samples < kMinRotationSamples) return;

    int32_t c = cluster.rotation_cos_sum;
    int32_t s = cluster.rotation_sin_sum;
    lc_scale_to_byte_range(&c, &s);
    cluster.rotation_estimate = lc_atan2f_(s, c);

    const int32_t mean_cos = cluster.rotation_cos_sum / cluster.rotation_samples;
    const int32_t mean_sin = cluster.rotation_sin_sum / cluster.rotation_samples;
    uint32_t v = uint32_t(mean_cos * mean_cos + mean_sin * mean_sin) / 4;
    if (v > 65535) v = 65535;
    uint32_t limit = cluster.maximum_tolerance;
    if (v > kConsistentResultant) {
        limit = lc_sqrt16_(uint16_t((256 - lc_sqrt16_(uint16_t(v))) * kToleranceScale));
    }
    if (limit > cluster.maximum_tolerance) limit = cluster.maximum_tolerance;
    cluster.rotation_tolerance = uint8_t(limit < kMinTolerance ? kMinTolerance : limit);
}

// Candidate pairs of the probe neighbours with reference r's neighbours, in
// the scratch pairs as {probe-neighbour slot, reference-neighbour ordinal}.
uint32_t collect_satellites(lc_work_area* work, uint32_t r) {
    lc_cluster_phase& cluster = work->phase.cluster;
    const lc_neighbour* list = work->neighbours;
    const uint32_t n = work->neighbour_count;
    for (lc_neighbour_use& use : cluster.neighbour_use) use = {LC_NONE, LC_NONE};
    const uint32_t reference_count = lc_store_record(work->store, r)[0];
    uint32_t pairs = 0;
    for (uint32_t k = 0; k < reference_count && n != 0; ++k) {
        const reference_neighbour s = reference_neighbour_at(work->store, r, k);
        uint32_t held_slot = LC_NONE;  // s's pair in this scan
        const uint32_t start = cluster.bin_start[uint8_t(s.position_angle - kBinWidth) / kBinWidth];
        for (uint32_t step = 0; step < n; ++step) {
            const uint32_t j = (start + step) % n;
            const uint32_t lead = uint8_t(s.position_angle - list[j].position_angle);
            const satellite_errors e = errors_between(list[j], s);
            if (std::abs(e.position) > kPositionWindow) {
                if (lead > kScanLead) break;
                continue;
            }
            if (std::abs(e.direction) > kDirectionWindow || std::abs(e.distance) > kDistanceWindow) continue;
            const uint32_t cost = lc_satellite_score(e.position, e.direction, e.distance);
            lc_neighbour_use& use = cluster.neighbour_use[j];
            if (held_slot != LC_NONE) {
                const lc_pair& held = cluster.scratch_pairs[held_slot];
                if (cost < cost_of(list[held.probe], s)) {
                    cluster.scratch_pairs[held_slot].probe = uint8_t(j);
                    use = {uint8_t(k), uint8_t(held_slot)};
                }
            } else if (use.reference_ordinal != LC_NONE) {
                const reference_neighbour earlier = reference_neighbour_at(work->store, r, use.reference_ordinal);
                if (cost < cost_of(list[j], earlier)) {
                    held_slot = use.slot;
                    cluster.scratch_pairs[held_slot] = {uint8_t(j), uint8_t(k)};
                    use = {uint8_t(k), uint8_t(held_slot)};
                }
            } else {
                held_slot = pairs;
                cluster.scratch_pairs[pairs++] = {uint8_t(j), uint8_t(k)};
                use = {uint8_t(k), uint8_t(held_slot)};
            }
        }
    }
    return pairs;
}

uint8_t first_with_most_satellites(const lc_work_area* work) {
    uint8_t best = LC_NONE;
    uint32_t most = 0;
    for (uint32_t i = 0; i < work->probe_count; ++i) {
        if (work->records[i].satellite_count > most) {
            most = work->records[i].satellite_count;
            best = uint8_t(i);
        }
    }
    return best;
}

// Of two probe minutiae matched to the same reference minutia, the one with
// fewer satellites (the later on a tie) loses its match.
void resolve_conflicts(lc_work_area* work) {
    lc_match_record* records = work->records;
    for (uint32_t a = 0; a < work->probe_count; ++a) {
        for (uint32_t b = a + 1; b < work->probe_count && records[a].satellite_count != 0; ++b) {
            if (records[b].satellite_count == 0 || records[b].reference != records[a].reference) continue;
            if (records[a].satellite_count < records[b].satellite_count) {
                records[a].satellite_count = 0;
            } else {
                records[b].satellite_count = 0;
            }
        }
    }
}

// Links one satellite (ps, rs) against the pair list; appends it when
// neither minutia is paired yet and its own match agrees.
void link_satellite(lc_work_area* work, const lc_pair& satellite) {
    lc_scoring_phase& scoring = work->phase.scoring;
    for (uint32_t u = 0; u < scoring.pair_count; ++u) {
        if (scoring.pair_probe[u] == satellite.probe) {
            if (scoring.pair_reference[u] == satellite.reference) ++scoring.links;
            return;
        }
        if (scoring.pair_reference[u] == satellite.reference) return;
    }
    const lc_match_record& own = work->records[satellite.probe];
    if (own.reference == satellite.reference && own.satellite_count != 0) {
        scoring.pair_probe[scoring.pair_count] = satellite.probe;
        scoring.pair_reference[scoring.pair_count] = satellite.reference;
        ++scoring.pair_count;
    }
    ++scoring.links;
}

// Grows the pair list from the seed pair in rounds over the pairs the
// previous round added.
void grow_pairs(lc_work_area* work, uint8_t seed) {
    lc_scoring_phase& scoring = work->phase.scoring;
    const lc_pair* satellites = work->phase.cluster.satellites;  // behind the scoring fields
    scoring.pair_probe[0] = seed;
    scoring.pair_reference[0] = work->records[seed].reference;
    scoring.pair_count = 1;
    scoring.links = 0;
    uint32_t round_begin = 0;
    uint32_t round_end = 1;
    while (round_begin < round_end) {
        for (uint32_t t = round_begin; t < round_end; ++t) {
            const lc_match_record& record = work->records[scoring.pair_probe[t]];
            if (record.reference != scoring.pair_reference[t]) continue;
            for (uint32_t k = 0; k < record.satellite_count; ++k) {
                link_satellite(work, satellites[record.satellite_offset + k]);
            }
        }
        round_begin = round_end;
        round_end = scoring.pair_count;
    }
}

}  // namespace

uint32_t lc_satellite_score(int32_t e_pos, int32_t e_dir, int32_t e_d) {
    return uint32_t(e_dir * e_dir + 2 * e_pos * e_pos + 4 * e_d * e_d);
}

uint32_t lc_collect_neighbours(const lc_minutia* minutiae, uint32_t count, uint32_t centre, lc_neighbour* out) {
    const lc_minutia& c = minutiae[centre];
    uint32_t held = 0;
    for (uint32_t j = 0; j < count; ++j) {
        const int32_t dx = int32_t(c.x) - minutiae[j].x;
        const int32_t dy = int32_t(c.y) - minutiae[j].y;
        const uint32_t d2 = uint32_t(dx * dx + dy * dy);
        if (j == centre || d2 < LC_NEIGHBOUR_MIN_D2 || d2 >= LC_NEIGHBOUR_MAX_D2) continue;
        const lc_neighbour n{uint8_t(lc_sqrt16_(uint16_t(d2))), uint8_t(c.angle - lc_atan2f_(dx, dy)),
                             uint8_t(c.angle - minutiae[j].angle), uint8_t(j)};
        if (held < LC_MAX_NEIGHBOURS) {
            out[held++] = n;
            continue;
        }
        uint32_t farthest = 0;
        for (uint32_t t = 1; t < held; ++t) {
            if (out[t].distance > out[farthest].distance) farthest = t;
        }
        if (n.distance <= out[farthest].distance) out[farthest] = n;
    }
    return held;
}

lc_cluster_result lc_match_clusters(lc_work_area* work, uint32_t probe, uint32_t reference) {
    lc_cluster_phase& cluster = work->phase.cluster;
    const lc_minutia& p = work->probe[probe];
    const lc_minutia& r = lc_store_minutiae(work->store)[reference];
    if (lc_angle_difference(uint8_t(r.angle - p.angle), cluster.rotation_estimate) > cluster.rotation_tolerance) {
        return LC_CLUSTER_NO_MATCH;
    }
    if (work->probe_proprietary != 0 && work->store[LC_STORE_PROPRIETARY_OFFSET] != 0 &&
        std::abs(int32_t(p.quality & 0x0F) - int32_t(r.quality & 0x0F)) > 1) {
        return LC_CLUSTER_NO_MATCH;
    }

    const uint32_t k = collect_satellites(work, reference);
    lc_match_record& record = work->records[probe];
    if (k < kMinSatellites || k <= record.satellite_count) return LC_CLUSTER_NO_MATCH;

    // The satellite list is a stack whose top is the current probe minutia's list.
    cluster.satellites_used = uint16_t(cluster.satellites_used - record.satellite_count);
    if (cluster.satellites_used + k >= LC_MAX_SATELLITES) {
        record.satellite_count = 0;
        return LC_CLUSTER_LIST_FULL;
    }
    const uint8_t* bitmap = lc_store_record(work->store, reference) + LC_RECORD_BITMAP_OFFSET;
    record = {cluster.satellites_used, uint8_t(k), uint8_t(reference)};
    lc_pair* list = &cluster.satellites[cluster.satellites_used];
    for (uint32_t t = 0; t < k; ++t) {
        const lc_pair& scratch = cluster.scratch_pairs[t];
        list[t] = {work->neighbours[scratch.probe].index, uint8_t(lc_bset_index(bitmap, scratch.reference))};
    }
    cluster.satellites_used = uint16_t(cluster.satellites_used + k);
    if (k < kStrongSatellites) return LC_CLUSTER_ACCEPTED;
    for (uint32_t t = 0; t < k; ++t) {
        if (list[t].probe > probe) cluster.preassigned[list[t].probe] = list[t].reference;
    }
    return LC_CLUSTER_ACCEPTED_STRONGLY;
}

void lc_match(lc_work_area* work, uint8_t maximum_tolerance, uint16_t* out_score, uint16_t* statistics) {
    lc_cluster_phase& cluster = work->phase.cluster;
    std::memset(work->records, 0, sizeof work->records);
    std::memset(cluster.preassigned, LC_NONE, sizeof cluster.preassigned);
    cluster.rotation_estimate = 0;
    cluster.rotation_tolerance = maximum_tolerance;
    cluster.maximum_tolerance = maximum_tolerance;
    cluster.rotation_cos_sum = 0;
    cluster.rotation_sin_sum = 0;
    cluster.rotation_samples = 0;
    cluster.satellites_used = 0;

    const uint32_t reference_count = work->store[0];
    bool list_full = false;
    for (uint32_t i = 0; i < work->probe_count && !list_full; ++i) {
        work->neighbour_count = uint8_t(lc_collect_neighbours(work->probe, work->probe_count, i, work->neighbours));
        sort_and_bin(work);
        if (i > 0) update_rotation(work, i);
        const uint32_t preassigned = cluster.preassigned[i];
        lc_cluster_result result = LC_CLUSTER_NO_MATCH;
        if (preassigned != LC_NONE) result = lc_match_clusters(work, i, preassigned);
        for (uint32_t r = 0; r < reference_count && result != LC_CLUSTER_LIST_FULL &&
                             result != LC_CLUSTER_ACCEPTED_STRONGLY;
             ++r) {
            if (r != preassigned) result = lc_match_clusters(work, i, r);
        }
        list_full = result == LC_CLUSTER_LIST_FULL;
    }

    const uint8_t seed = first_with_most_satellites(work);
    if (seed == LC_NONE) {
        work->phase.scoring.pair_count = 0;
        *out_score = 0;
        return;
    }
    resolve_conflicts(work);
    grow_pairs(work, seed);
    *out_score = work->phase.scoring.pair_count <= 1 ? 0 : lc_score_pairs(work, statistics);
}
