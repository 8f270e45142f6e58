#include "match/linked_cluster/lc_compact_card_match.h"

#include <cstdlib>

#include "math/lib_memory.h"

zr_status linked_cluster_match_iso_compact_card(const uint8_t* reference, uint32_t reference_length,
                                                const uint8_t* probe, uint32_t probe_length, uint16_t* out_score,
                                                uint8_t far_level, uint8_t* out_decision,
                                                zr_moc_alignment* out_alignment, uint8_t flags) {
    uint8_t* work = static_cast<uint8_t*>(std::malloc(LC_HEAP_WORK_AREA_SIZE));
    uint8_t* store = static_cast<uint8_t*>(std::malloc(LC_STORE_MAX_SIZE));
    if (lib_memory_check(work, store, nullptr, nullptr, nullptr, nullptr, nullptr, 2) !=
        lib_memory_result::all_present) {
        return ZR_NO_MEMORY;
    }
    uint16_t used = 0;
    zr_status result = zr_moc_enroll(work, LC_HEAP_WORK_AREA_SIZE, reference, reference_length, store,
                                     LC_STORE_MAX_SIZE, &used, write_persistent_mem);
    if (result == ZR_OK) {
        result = zr_moc_verify(work, LC_HEAP_WORK_AREA_SIZE, store, probe, probe_length, out_score, far_level,
                               out_decision, out_alignment, flags);
    }
    std::free(work);
    std::free(store);
    return result;
}

zr_status linked_cluster_match_iso_compact_card_score(const uint8_t* reference, uint32_t reference_length,
                                                      const uint8_t* probe, uint32_t probe_length,
                                                      uint16_t* out_score) {
    return linked_cluster_match_iso_compact_card(reference, reference_length, probe, probe_length, out_score, 0,
                                                 nullptr, nullptr, 0);
}

zr_status linked_cluster_decision_from_score(uint16_t score, uint8_t far_level, uint32_t* out_decision) {
    return zr_moc_decision_from_score(score, far_level, out_decision);
}
