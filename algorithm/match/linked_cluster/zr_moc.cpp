#include "match/linked_cluster/zr_moc.h"

#include <cstring>

#include "match/linked_cluster/lc_math.h"

namespace {

constexpr uint32_t kFullBatchWorkArea = LC_STORE_HEADER_SIZE + LC_RECORD_SIZE * (LC_MAX_MINUTIAE + 1);
constexpr uint16_t kThresholds[ZR_MOC_MAX_FAR_LEVEL] = {3, 31, 96, 124, 189, 217, 282, 310, 375, 403, 468, 496};
constexpr uint16_t kSecondAttemptBelow = 403;  // threshold of level 10

// Direction re-estimation: reach around the point 12 units ahead, and the
// points 12 and 6 units along the direction.
constexpr int32_t kOrientationReach2 = 625;
constexpr uint8_t kOrientationFlip = 63;

uint32_t batch_size(uint16_t work_area_size) {
    if (work_area_size >= kFullBatchWorkArea) return LC_MAX_MINUTIAE;
    return (work_area_size - LC_STORE_HEADER_SIZE) / LC_RECORD_SIZE;
}

// One neighbour record: count, position angles by ascending neighbour index,
// bitmap of the neighbour indices.
void build_record(const lc_minutia* minutiae, uint32_t count, uint32_t i, uint8_t* record) {
    lc_neighbour list[LC_MAX_NEIGHBOURS];
    const uint32_t held = lc_collect_neighbours(minutiae, count, i, list);
    for (uint32_t a = 1; a < held; ++a) {
        const lc_neighbour n = list[a];
        uint32_t b = a;
        for (; b > 0 && list[b - 1].index > n.index; --b) list[b] = list[b - 1];
        list[b] = n;
    }
    std::memset(record, 0, LC_RECORD_SIZE);
    record[0] = uint8_t(held);
    for (uint32_t k = 0; k < held; ++k) {
        record[LC_RECORD_ANGLES_OFFSET + k] = list[k].position_angle;
        record[LC_RECORD_BITMAP_OFFSET + list[k].index / 8] |= uint8_t(1u << (list[k].index % 8));
    }
}

bool is_pointer_aligned(const void* p) { return reinterpret_cast<uintptr_t>(p) % alignof(lc_work_area) == 0; }

// Rotation and mean shift of the probe onto the reference over the pairs.
zr_moc_alignment align_pairs(const lc_work_area* work) {
    const lc_scoring_phase& pairs = work->phase.scoring;
    const uint32_t m = pairs.pair_count;
    if (m == 0) return {0, 0, 0};
    const lc_minutia* reference = lc_store_minutiae(work->store);
    int32_t c = 0;
    int32_t s = 0;
    for (uint32_t t = 0; t < m; ++t) {
        const uint8_t d = uint8_t(reference[pairs.pair_reference[t]].angle - work->probe[pairs.pair_probe[t]].angle);
        c += lc_cos_(d);
        s += lc_sin_(d);
    }
    lc_scale_to_byte_range(&c, &s);
    const uint8_t rotation = lc_atan2f_(s, c);
    const int32_t cos_r = lc_cos_(rotation);
    const int32_t sin_r = lc_sin_(rotation);
    int32_t sum_x = 0;
    int32_t sum_y = 0;
    for (uint32_t t = 0; t < m; ++t) {
        const lc_minutia& p = work->probe[pairs.pair_probe[t]];
        const lc_minutia& r = reference[pairs.pair_reference[t]];
        sum_x += p.x - (((cos_r * r.x) >> 14) - ((sin_r * r.y) >> 14));
        sum_y += p.y - (((sin_r * r.x) >> 14) + ((cos_r * r.y) >> 14));
    }
    return {rotation, int16_t(sum_x / int32_t(m)), int16_t(sum_y / int32_t(m))};
}

// Replaces each probe minutia's direction by the local ridge orientation
// around a point ahead of it, turned to the side of the old direction. The
// new directions are computed into scratch (64 bytes) before any is replaced.
void reestimate_directions(lc_work_area* work, uint8_t* scratch) {
    const uint32_t n = work->probe_count;
    // Cards with proprietary data look the other way along the direction.
    const int32_t sign = work->probe_proprietary != 0 ? -1 : 1;
    for (uint32_t i = 0; i < n; ++i) {
        const lc_minutia& m = work->probe[i];
        const int32_t c = lc_cos_(m.angle);
        const int32_t s = lc_sin_(m.angle);
        const int32_t x12 = m.x + sign * ((c * 3) >> 12);
        const int32_t y12 = m.y - sign * ((s * 3) >> 12);
        const int32_t x6 = m.x + sign * ((c * 3) >> 13);
        const int32_t y6 = m.y - sign * ((s * 3) >> 13);
        int32_t sum_c = 0;
        int32_t sum_s = 0;
        for (uint32_t j = 0; j < n; ++j) {
            const lc_minutia& o = work->probe[j];
            const int32_t ax = x12 - o.x;
            const int32_t ay = y12 - o.y;
            if (ax * ax + ay * ay >= kOrientationReach2) continue;
            const int32_t bx = x6 - o.x;
            const int32_t by = y6 - o.y;
            int32_t w = int32_t(lc_sqrt16_(uint16_t(uint32_t(bx * bx + by * by))));
            if (w < 1) w = 1;
            sum_c += lc_cos_(uint8_t(2 * o.angle)) / w;
            sum_s += lc_sin_(uint8_t(2 * o.angle)) / w;
        }
        lc_scale_to_byte_range(&sum_c, &sum_s);
        uint8_t orientation = uint8_t(lc_atan2f_(sum_s, sum_c) >> 1);
        if (lc_angle_difference(m.angle, orientation) > kOrientationFlip) orientation = uint8_t(orientation + 128);
        scratch[i] = orientation;
    }
    for (uint32_t i = 0; i < n; ++i) work->probe[i].angle = scratch[i];
}

}  // namespace

uint16_t zr_moc_threshold(uint8_t far_level) {
    if (far_level < ZR_MOC_MIN_FAR_LEVEL || far_level > ZR_MOC_MAX_FAR_LEVEL) return UINT16_MAX;
    return kThresholds[far_level - 1];
}

zr_status zr_moc_decision_from_score(uint16_t score, uint8_t far_level, uint32_t* out_decision) {
    if (out_decision == nullptr || far_level < ZR_MOC_MIN_FAR_LEVEL || far_level > ZR_MOC_MAX_FAR_LEVEL) {
        return ZR_MOC_BAD_LEVEL;
    }
    *out_decision = zr_moc_threshold(far_level) <= score ? 1 : 0;
    return ZR_OK;
}

zr_status zr_moc_enroll(uint8_t* work_area, uint16_t work_area_size, const uint8_t* card, uint32_t card_length,
                        uint8_t* store, uint16_t store_size, uint16_t* out_store_size, zr_moc_writer writer) {
    if (store_size < LC_STORE_MAX_SIZE) {
        if (out_store_size != nullptr) *out_store_size = LC_STORE_MAX_SIZE;
        return ZR_MOC_STORE_TOO_SMALL;
    }
    if (work_area_size < ZR_MOC_ENROLL_MIN_WORK_AREA) return ZR_MOC_WORK_AREA_TOO_SMALL;
    if (work_area == nullptr || card == nullptr || store == nullptr || writer == nullptr) return ZR_BAD_ARGUMENT;
    const uint32_t batch = batch_size(work_area_size);

    std::memset(work_area, 0, LC_STORE_HEADER_SIZE);
    lc_minutia* minutiae = reinterpret_cast<lc_minutia*>(work_area + LC_STORE_MINUTIAE_OFFSET);
    const zr_status pruned = lc_prune(card, card_length, LC_MAX_MINUTIAE, work_area + LC_STORE_HEADER_SIZE,
                                      minutiae, &work_area[0], &work_area[LC_STORE_PROPRIETARY_OFFSET]);
    if (pruned != ZR_OK) return pruned;
    std::memset(work_area + LC_STORE_HEADER_SIZE, 0, work_area_size - LC_STORE_HEADER_SIZE);
    if (writer(store, 0, work_area, LC_STORE_HEADER_SIZE) != 0) return ZR_MOC_WRITE_FAILED;

    const uint32_t count = work_area[0];
    uint8_t* records = work_area + LC_STORE_HEADER_SIZE;
    uint32_t gathered = 0;
    for (uint32_t i = 0; i < count; ++i) {
        build_record(minutiae, count, i, records + LC_RECORD_SIZE * gathered);
        ++gathered;
        if (gathered == batch || i + 1 == count) {
            const uint32_t first = i + 1 - gathered;
            if (writer(store, uint16_t(LC_STORE_HEADER_SIZE + LC_RECORD_SIZE * first), records,
                       uint16_t(LC_RECORD_SIZE * gathered)) != 0) {
                return ZR_MOC_WRITE_FAILED;
            }
            gathered = 0;
        }
    }
    if (out_store_size != nullptr) *out_store_size = uint16_t(LC_STORE_HEADER_SIZE + LC_RECORD_SIZE * count);
    return ZR_OK;
}

zr_status zr_moc_verify(uint8_t* work_area, uint16_t work_area_size, const uint8_t* store, const uint8_t* probe,
                        uint32_t probe_length, uint16_t* out_score, uint8_t far_level, uint8_t* out_decision,
                        zr_moc_alignment* out_alignment, uint8_t flags) {
    if (out_decision != nullptr && (far_level < ZR_MOC_MIN_FAR_LEVEL || far_level > ZR_MOC_MAX_FAR_LEVEL)) {
        return ZR_MOC_BAD_LEVEL;
    }
    if (work_area_size < ZR_MOC_VERIFY_MIN_WORK_AREA) return ZR_MOC_WORK_AREA_TOO_SMALL;
    if (work_area == nullptr || !is_pointer_aligned(work_area) || store == nullptr || probe == nullptr) {
        return ZR_BAD_ARGUMENT;
    }
    lc_work_area* work = reinterpret_cast<lc_work_area*>(work_area);
    work->flags = flags;
    work->store = store;
    if (lc_store_is_consistent(store) == 0) return ZR_MOC_BAD_STORE;

    uint16_t score = 0;
    zr_moc_alignment alignment{0, 0, 0};
    if (lc_origin_is_dummy(probe, probe_length) == 0) {
        uint8_t* scratch = reinterpret_cast<uint8_t*>(work->records);
        const zr_status pruned = lc_prune(probe, probe_length, LC_MAX_MINUTIAE, scratch, work->probe,
                                          &work->probe_count, &work->probe_proprietary);
        if (pruned != ZR_OK) return pruned;

        uint16_t* statistics = nullptr;
        if ((flags & LC_FLAG_STATISTICS) != 0 && out_score != nullptr &&
            out_score[LC_STAT_FIELD_COUNT] == LC_STATISTICS_MARK && out_score[LC_STAT_STATE] == LC_STATISTICS_IDLE) {
            out_score[LC_STAT_STATE] = LC_STATISTICS_STARTED;
            statistics = out_score;
        }
        const uint8_t tolerance = (flags & LC_FLAG_FULL_ROTATION) != 0 ? LC_TOLERANCE_FULL : LC_TOLERANCE_NORMAL;
        const bool both_have_minutiae = store[0] != 0 && work->probe_count != 0;
        work->phase.scoring.pair_count = 0;
        if (both_have_minutiae) lc_match(work, tolerance, &score, statistics);
        alignment = align_pairs(work);

        const bool one_side_proprietary = (work->probe_proprietary != 0) != (store[LC_STORE_PROPRIETARY_OFFSET] != 0);
        if (both_have_minutiae && one_side_proprietary && score < kSecondAttemptBelow) {
            reestimate_directions(work, scratch);
            uint16_t second = 0;
            lc_match(work, tolerance, &second, nullptr);
            if (second > score) score = second;
        }
    }
    if (out_score != nullptr) *out_score = score;
    if (out_decision != nullptr) *out_decision = zr_moc_threshold(far_level) <= score ? 1 : 0;
    if (out_alignment != nullptr) *out_alignment = alignment;
    return ZR_OK;
}
