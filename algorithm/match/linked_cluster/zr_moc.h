// Match-on-card: the linked-cluster matcher split into the two halves a
// smart-card style device runs. Enrolment turns a reference compact card into
// a reference store of at most LC_STORE_MAX_SIZE (2370) bytes, written through
// the caller's writer in batches as if into persistent memory; verification
// matches a probe card against that store in the caller's work area, with an
// optional decision at a FAR level and the alignment of the probe onto the
// reference.
#pragma once

#include <cstdint>

#include "match/linked_cluster/lc_matcher.h"
#include "objects/zr_result.h"

// Writes length bytes from source at offset of the store; 0 when written,
// non-zero when not. write_persistent_mem is the library's own.
using zr_moc_writer = uint32_t (*)(uint8_t* store, uint16_t offset, const uint8_t* source, uint16_t length);

// Rotation (256 units a turn) and shift (0.1 mm) of the probe relative to the
// reference.
struct zr_moc_alignment {
    uint8_t rotation;
    int16_t x_shift;
    int16_t y_shift;
};

// Smallest work areas: enrolment (header and pruning scratch), verification.
constexpr uint16_t ZR_MOC_ENROLL_MIN_WORK_AREA = LC_STORE_HEADER_SIZE + LC_PRUNE_SCRATCH_SIZE;
constexpr uint16_t ZR_MOC_VERIFY_MIN_WORK_AREA = LC_WORK_AREA_SIZE;
constexpr uint8_t ZR_MOC_MIN_FAR_LEVEL = 1;
constexpr uint8_t ZR_MOC_MAX_FAR_LEVEL = 12;

// Prunes the reference card (at most 64 minutiae) and writes the store: the
// 258-byte header at offset 0, then the 33-byte neighbour records in batches
// of B at offsets 258, 258 + 33 B, ... (B = 64, or (work_area_size - 258) / 33
// below 2403 bytes). The work area needs no alignment and holds no state
// afterwards; *out_store_size receives the size used, 258 + 33 n.
// ZR_OK; ZR_MOC_STORE_TOO_SMALL when store_size < 2370 (*out_store_size then
// receives 2370); ZR_MOC_WORK_AREA_TOO_SMALL below ZR_MOC_ENROLL_MIN_WORK_AREA;
// ZR_BAD_FORMAT for a card without minutiae part or with a malformed
// proprietary part; ZR_MOC_WRITE_FAILED at the first refused write (the store
// is then partly written); ZR_BAD_ARGUMENT for a missing pointer.
[[nodiscard]] zr_status zr_moc_enroll(uint8_t* work_area, uint16_t work_area_size, const uint8_t* card,
                                      uint32_t card_length, uint8_t* store, uint16_t store_size,
                                      uint16_t* out_store_size, zr_moc_writer writer);

// Matches the probe card against a store made by zr_moc_enroll. The store has
// no size argument: like every store, it must hold LC_STORE_MAX_SIZE (2370)
// bytes, of which at most 258 + 33 n are read. The work area (at least 2056
// bytes, aligned for a pointer) holds no state afterwards.
// flags: LC_FLAG_FULL_ROTATION widens the rotation gate from +-32 to the full
// turn; LC_FLAG_STATISTICS asks for the statistics record, in which case
// out_score must point to the first of LC_STATISTICS_FIELDS u16 fields (the
// record is recognised by LC_STATISTICS_MARK in its second field and
// LC_STATISTICS_IDLE in its third; the score goes to the first). out_score,
// out_decision and out_alignment may each be none; the decision is 1 when the
// score reaches the threshold of far_level. A probe that is the dummy template
// scores 0 (decision 0, zero alignment). When exactly one side carries
// proprietary data and the score is below the level-10 threshold, a second
// attempt with re-estimated probe directions may raise it.
// ZR_OK; ZR_MOC_BAD_LEVEL for a level outside 1..12 with a decision
// requested; ZR_MOC_WORK_AREA_TOO_SMALL; ZR_MOC_BAD_STORE for an inconsistent
// store (checked before the probe is read); ZR_BAD_FORMAT from pruning the
// probe; ZR_BAD_ARGUMENT for a missing or misaligned work area, store or card.
// On failure the outputs are unchanged.
[[nodiscard]] zr_status zr_moc_verify(uint8_t* work_area, uint16_t work_area_size, const uint8_t* store,
                                      const uint8_t* probe, uint32_t probe_length, uint16_t* out_score,
                                      uint8_t far_level, uint8_t* out_decision, zr_moc_alignment* out_alignment,
                                      uint8_t flags);

// Decision 1 when the threshold of far_level (1..12) is at most score, else 0.
// ZR_OK, or ZR_MOC_BAD_LEVEL for a level outside 1..12 or a missing output.
[[nodiscard]] zr_status zr_moc_decision_from_score(uint16_t score, uint8_t far_level, uint32_t* out_decision);

// Accepting threshold of a FAR level 1..12.
uint16_t zr_moc_threshold(uint8_t far_level);
