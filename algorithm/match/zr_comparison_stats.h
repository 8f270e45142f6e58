// Comparison-mode statistics for tuning: verification scores collected into
// a histogram of 65536 counters (one per u16 score) and the false-reject
// rate at a FAR level derived from a genuine and an impostor histogram.
#pragma once

#include <cstdint>

#include "match/zr_algorithm.h"

inline constexpr uint32_t ZR_SCORE_BINS = 65536;
inline constexpr uint32_t ZR_RATE_NONE = 0xFFFFFFFFu;
inline constexpr uint32_t ZR_RATE_SCALE = 10000;

// Zeroes the histogram; ZR_BAD_ARGUMENT without one.
[[nodiscard]] zr_status zr_comparison_mode_stats_reset(uint32_t* histogram);
// One verification without decision (FAR level 28) of the probe template
// (the image is then ignored) or of the prepared image; on success the
// counter of the result's raw score goes up by one. ZR_BAD_ARGUMENT for no
// probe, algorithm, list, count or histogram; else the verification's result.
[[nodiscard]] zr_status zr_comparison_mode_stats_update(zr_algorithm* algorithm, zr_template* const* templates,
                                                        uint8_t count, zr_template* probe, zr_image* image,
                                                        uint32_t* histogram);
// Rate (1/10000) of genuine scores (first histogram) below the threshold t
// that lets through the impostor share of the FAR level: with the b impostor
// scores in descending order, t is the one at index
// k = min(b / denominator[level], b - 1). ZR_RATE_NONE for a level outside
// 0..27 or a histogram that is missing, empty or cannot be expanded.
uint32_t zr_comparison_mode_stats_get_frr_at_far(const uint32_t* genuine, const uint32_t* impostor, int32_t far_level);
// Does nothing; 1.
uint32_t zr_comparison_mode_stats_print_score_table();
// The histogram's scores, highest bin first, each bin index as often as its
// counter says, in a new array (free()). ZR_BAD_ARGUMENT for a missing
// pointer; ZR_UNHANDLED_INPUT for 0 bins or an all-zero histogram;
// ZR_NO_MEMORY. *out_count is 0 unless the result is ZR_OK.
[[nodiscard]] zr_status pef_histogram_to_array(const uint32_t* histogram, uint32_t bins, uint32_t** out_array,
                                               uint32_t* out_count);
// Sorts in place by signed comparison, ascending when the flag is non-zero.
// ZR_BAD_ARGUMENT without array.
[[nodiscard]] zr_status pef_sort_scores(uint32_t* array, uint32_t count, int32_t ascending);
