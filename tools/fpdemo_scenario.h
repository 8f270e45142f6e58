// The end-to-end scenario: the simulated biometric service drives the engine
// adapter (which has the algorithm library bound), and every sample comes
// from a capture request to the sensor driver.
//
//  1. Enrol fingers A, B and C (a bad capture is taken again), check for
//     duplicates, commit each with its identity and sub-factor.
//  2. Enrol A again under a new identity: the duplicate check names A.
//  3. Verify a capture of A as A (match, A's payload) and as B (no match).
//  4. Identify a capture of A (A's identity and sub-factor, 1 in the match
//     section); the next capture is abandoned by the driver and the one after
//     it succeeds with the section created afresh at 0.
//  5. Identify a finger never enrolled: unknown identity, the section at 0,
//     the next capture not abandoned.
//  6. Discard an enrolment after three captures (nothing of it can be
//     committed), then enrol that finger anew.
// The probes of steps 2 to 4 are enrolment captures of the finger. Then
// every finger's probes are identified (and verified as their own finger
// when enrolled) and the results are counted.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "fpdemo_captures.h"
#include "fpdemo_device.h"
#include "sim_biometric_service.h"
#include "sim_storage_adapter.h"

namespace fpdemo {

struct ProbeTally {
    int genuine_identifications = 0;
    int genuine_identified = 0;     // the right identity
    int genuine_misidentified = 0;  // another enrolled identity
    int genuine_verifications = 0;
    int genuine_verified = 0;
    int impostor_identifications = 0;
    int impostor_accepted = 0;      // a finger never enrolled was given an identity
};

struct ScenarioSummary {
    int failed_checks = 0;
    int enrolments = 0;        // committed
    int verifications = 0;
    int identifications = 0;
    int captures = 0;          // capture requests sent
    int aborted_captures = 0;  // abandoned by the driver after a matched identification
    int bad_captures = 0;      // refused by the quality gate
    double enrolment_ms = 0;   // all committed enrolments
    double identification_ms = 0;  // sample accepted to answer, all identifications
    double total_ms = 0;
    ProbeTally probes;
    bool ok() const { return failed_checks == 0; }
};

struct ScenarioOptions {
    FILE* log = stdout;      // step lines; none for silence
    bool run_probes = true;  // the probe round after the steps
};

// Needs at least four fingers (A, B, C and one never enrolled); a fifth is
// used for the discarded enrolment when present. The pipeline must be open.
ScenarioSummary run_scenario(SimBiometricService& service, SimStorageAdapter& storage, CaptureDevice& device,
                             const std::vector<DemoFinger>& fingers, const ScenarioOptions& options);

void print_summary(FILE* out, const char* title, const ScenarioSummary& s);

}  // namespace fpdemo
