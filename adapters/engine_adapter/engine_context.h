// The engine context of one pipeline: its creation and destruction, and the
// resets shared by the slots.
#pragma once

#include <cstdint>

#include "wbio_engine_types.h"

// A sample is usable when its quality, read as u32, is at least this.
constexpr uint32_t kQualityFloor = 20;
// Accepted samples the algorithm library needs for one enrolment.
constexpr uint32_t kEnrollmentSamples = 6;
// Centre samples announced in the engine's enrolment requirements.
constexpr uint32_t kEnrollmentCenterSamples = 5;

// Reject details.
constexpr WINBIO_REJECT_DETAIL kRejectMatchQuality = 7;
constexpr WINBIO_REJECT_DETAIL kRejectEnrollQuality = 9;

inline WINBIO_ENGINE_CONTEXT* engine_context_of(const WINBIO_PIPELINE* pipeline) {
    return static_cast<WINBIO_ENGINE_CONTEXT*>(pipeline->EngineContext);
}

// Frees the sample copy (pointer null, size 0).
void engine_free_sample(WINBIO_ENGINE_CONTEXT* context);

// Drops the sample copy, zeroes the template buffer and lets the algorithm
// library reset (when bound).
void engine_release_enrollment_data(WINBIO_ENGINE_CONTEXT* context);

// As engine_release_enrollment_data, and back to idle: state, accepted-sample
// count and sub-factor 0.
void engine_reset_to_idle(WINBIO_ENGINE_CONTEXT* context);

// True when the quality value passes the floor.
inline bool quality_passes(int32_t quality) { return static_cast<uint32_t>(quality) >= kQualityFloor; }
