// A simulated biometric service: loads an engine adapter, checks its
// function table and drives one pipeline through the slots in the order the
// framework calls them (attach, pipeline init, activate; per operation the
// sample acceptance and the operation's slots, then clear context;
// deactivate, pipeline cleanup, detach).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "sim_storage_adapter.h"
#include "wbio_engine_types.h"

// The record a sensor adapter hands to the engine: the block table, a 48-byte
// header naming the standard format and `purpose`, and the 16896-byte image.
std::vector<uint8_t> sim_make_sample_record(const uint8_t* image, WINBIO_BIR_PURPOSE purpose);

// The record carried by a capture-data reply of the sensor driver; empty when
// the reply is shorter than the capture-data record (24 bytes) or its record
// size is 0 or runs past the reply.
std::vector<uint8_t> sim_sample_from_capture_reply(const uint8_t* reply, size_t reply_size);

// The capture control's input record the service sends the sensor driver:
// raw data in the standard format for the purpose.
std::vector<uint8_t> sim_capture_parameters(WINBIO_BIR_PURPOSE purpose);

// The match section's value as another process reads it: the first u32 of
// the named section, -1 when no such section exists or it cannot be mapped.
int64_t sim_read_section(const char16_t* name);

// Checks a published engine table: version 3, engine type, its size and every
// slot the framework calls. S_OK or E_NOINTERFACE.
HRESULT sim_check_engine_interface(const WINBIO_ENGINE_INTERFACE* table);

struct SimEnrollOutcome {
    HRESULT result = E_FAIL;            // commit's (or the failing step's) result
    std::vector<HRESULT> updates;       // every UpdateEnrollment result in order
    size_t samples_used = 0;
    BOOLEAN duplicate = 0;
    WINBIO_IDENTITY duplicate_identity{};
    WINBIO_EXTENDED_ENROLLMENT_STATUS last_status{};  // after the last update
};

struct SimMatchOutcome {
    HRESULT result = E_FAIL;
    BOOLEAN match = 0;
    WINBIO_IDENTITY identity{};
    WINBIO_BIOMETRIC_SUBTYPE sub_factor = 0;
    std::vector<uint8_t> payload;
    WINBIO_REJECT_DETAIL reject_detail = 0;
};

// Takes the next sample record of an operation, as the sensor adapter does
// by capturing: S_OK with the record, or the failure that ends the operation.
using SimSampleSource = std::function<HRESULT(std::vector<uint8_t>& sample)>;

class SimBiometricService {
public:
    explicit SimBiometricService(SimStorageAdapter& storage);
    ~SimBiometricService();
    SimBiometricService(const SimBiometricService&) = delete;
    SimBiometricService& operator=(const SimBiometricService&) = delete;

    // Loads the adapter module by name from the system library directory and
    // takes its table from WbioQueryEngineInterface.
    HRESULT load_engine_module(const char16_t* module_name);
    // Takes the table from an adapter linked into this process.
    HRESULT load_engine(PWINBIO_QUERY_ENGINE_INTERFACE_FN query);

    const WINBIO_ENGINE_INTERFACE* engine() const { return engine_; }
    WINBIO_PIPELINE& pipeline() { return pipeline_; }

    // Attach, PipelineInit, Activate.
    HRESULT open_pipeline();
    // Deactivate, PipelineCleanup, Detach (only when open).
    HRESULT close_pipeline();

    // CreateEnrollment and SetEnrollmentParameters; then AcceptSampleData and
    // UpdateEnrollment per sample until the engine reports the enrolment
    // complete (a bad capture moves on to the next sample, any other failure
    // ends it); GetEnrollmentStatus; CheckForDuplicate; CommitEnrollment
    // unless a duplicate was found; DiscardEnrollment when the enrolment did
    // not commit; ClearContext.
    SimEnrollOutcome enroll(const WINBIO_IDENTITY& identity, WINBIO_BIOMETRIC_SUBTYPE sub_factor,
                            const std::vector<std::vector<uint8_t>>& samples,
                            const std::vector<uint8_t>& payload);
    // The same with samples taken one at a time, at most `max_samples`; a
    // source failure ends the enrolment with that result.
    SimEnrollOutcome enroll(const WINBIO_IDENTITY& identity, WINBIO_BIOMETRIC_SUBTYPE sub_factor,
                            const SimSampleSource& next_sample, size_t max_samples,
                            const std::vector<uint8_t>& payload);

    // AcceptSampleData, VerifyFeatureSet, ClearContext.
    SimMatchOutcome verify(const std::vector<uint8_t>& sample, const WINBIO_IDENTITY& identity,
                           WINBIO_BIOMETRIC_SUBTYPE sub_factor);
    // AcceptSampleData, IdentifyFeatureSet, ClearContext.
    SimMatchOutcome identify(const std::vector<uint8_t>& sample);

private:
    HRESULT accept(const std::vector<uint8_t>& sample, WINBIO_BIR_PURPOSE purpose);
    HRESULT take_table(PWINBIO_QUERY_ENGINE_INTERFACE_FN query);

    SimStorageAdapter& storage_;
    WINBIO_PIPELINE pipeline_{};
    const WINBIO_ENGINE_INTERFACE* engine_ = nullptr;
    HMODULE module_ = nullptr;
    bool open_ = false;
};
