// Linked-cluster comparison of two compact cards on heap memory: the
// reference is enrolled into a store and the probe verified against it.
#pragma once

#include <cstdint>

#include "match/linked_cluster/zr_moc.h"
#include "objects/zr_result.h"

// Heap work area of the comparison (at least what verification needs).
constexpr uint32_t LC_HEAP_WORK_AREA_SIZE = 2064;

// Enrols reference[0..reference_length) with zr_moc_enroll through
// write_persistent_mem and verifies probe[0..probe_length) with zr_moc_verify
// (outputs, level and flags as there; with LC_FLAG_STATISTICS, out_score must
// point to the statistics record). Returns the first non-zero result:
// ZR_NO_MEMORY when an area cannot be allocated, else those of the two calls.
[[nodiscard]] zr_status linked_cluster_match_iso_compact_card(const uint8_t* reference, uint32_t reference_length,
                                                              const uint8_t* probe, uint32_t probe_length,
                                                              uint16_t* out_score, uint8_t far_level,
                                                              uint8_t* out_decision, zr_moc_alignment* out_alignment,
                                                              uint8_t flags);

// The same without decision, alignment or flags.
[[nodiscard]] zr_status linked_cluster_match_iso_compact_card_score(const uint8_t* reference,
                                                                    uint32_t reference_length, const uint8_t* probe,
                                                                    uint32_t probe_length, uint16_t* out_score);

// zr_moc_decision_from_score.
[[nodiscard]] zr_status linked_cluster_decision_from_score(uint16_t score, uint8_t far_level, uint32_t* out_decision);
