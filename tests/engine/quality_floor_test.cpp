// The quality floor of every operation that takes a sample: the library's
// quality, read as an unsigned 32-bit number, must be at least 20 (so a
// negative value passes). Below it the operation refuses the capture with
// its reject detail and goes no further; at or above it the operation runs.
#include <cstdint>
#include <functional>

#include "engine_test_support.h"

namespace engine_test {
namespace {

class QualityFloor : public EngineFixture {
protected:
    void SetUp() override {
        EngineFixture::SetUp();
        for (uint32_t n = 1; n <= 3; ++n) storage_.add(stored_record(n, 1, 100 + n));
    }
};

struct Operation {
    const char* name;
    WINBIO_BIR_PURPOSE purpose;
    bool enrols;                   // needs an enrolment in progress
    HRESULT passed;                // the result once past the floor (nothing stored matches)
    WINBIO_REJECT_DETAIL refused;  // reject detail below the floor
    // Runs the operation; writes its reject detail.
    std::function<HRESULT(WINBIO_PIPELINE*, WINBIO_REJECT_DETAIL*)> run;
    // Counts the calls that show the operation went past the floor.
    std::function<int(const Script&, const SimStorageAdapter&)> progress;
};

HRESULT run_verify(WINBIO_PIPELINE* pipeline, WINBIO_REJECT_DETAIL* reject) {
    WINBIO_IDENTITY id = guid_identity(1);
    BOOLEAN match = 0;
    uint8_t* payload = nullptr;
    SIZE_T payload_size = 0;
    uint8_t* hash = nullptr;
    SIZE_T hash_size = 0;
    return EngineAdapterVerifyFeatureSet(pipeline, &id, 1, &match, &payload, &payload_size, &hash, &hash_size,
                                         reject);
}

HRESULT run_identify(WINBIO_PIPELINE* pipeline, WINBIO_REJECT_DETAIL* reject) {
    WINBIO_IDENTITY id{};
    WINBIO_BIOMETRIC_SUBTYPE sub_factor = 0;
    uint8_t* payload = nullptr;
    SIZE_T payload_size = 0;
    uint8_t* hash = nullptr;
    SIZE_T hash_size = 0;
    return EngineAdapterIdentifyFeatureSet(pipeline, &id, &sub_factor, &payload, &payload_size, &hash, &hash_size,
                                           reject);
}

TEST_F(QualityFloor, EveryOperationRefusesBelowTwentyUnsigned) {
    const Operation operations[] = {
        {"verify", WINBIO_PURPOSE_VERIFY, false, WINBIO_E_NO_MATCH, 7, run_verify,
         [](const Script&, const SimStorageAdapter& s) { return int(s.calls(StorageOp::QueryBySubject)); }},
        {"identify", WINBIO_PURPOSE_IDENTIFY, false, WINBIO_E_UNKNOWN_ID, 7, run_identify,
         [](const Script&, const SimStorageAdapter& s) { return int(s.calls(StorageOp::QueryByContent)); }},
        {"enrolment update", WINBIO_PURPOSE_ENROLL, true, WINBIO_I_MORE_DATA, 9, EngineAdapterUpdateEnrollment,
         [](const Script& script, const SimStorageAdapter&) { return script.calls("RADU_alg_request_enroll"); }},
    };
    const struct {
        int32_t quality;
        bool passes;
    } qualities[] = {
        {19, false}, {20, true}, {0, false}, {-1, true}, {INT32_MIN, true}, {INT32_MAX, true},
    };
    for (const Operation& op : operations) {
        SCOPED_TRACE(op.name);
        ASSERT_EQ(accept(test_sample(4, op.purpose), op.purpose), S_OK);
        if (op.enrols) {
            ASSERT_EQ(EngineAdapterCreateEnrollment(&pipeline_), S_OK);
            WINBIO_EXTENDED_ENROLLMENT_PARAMETERS parameters{sizeof parameters, 2};
            ASSERT_EQ(EngineAdapterSetEnrollmentParameters(&pipeline_, &parameters), S_OK);
        }
        for (const auto& q : qualities) {
            SCOPED_TRACE(q.quality);
            script_.set_quality(q.quality);
            const int before = op.progress(script_, storage_);
            WINBIO_REJECT_DETAIL reject = 0xFF;
            EXPECT_EQ(op.run(&pipeline_, &reject), q.passes ? op.passed : WINBIO_E_BAD_CAPTURE);
            EXPECT_EQ(reject, q.passes ? 0u : op.refused);
            EXPECT_EQ(op.progress(script_, storage_) - before, q.passes ? 1 : 0);
        }
        if (op.enrols) {
            EXPECT_EQ(EngineAdapterDiscardEnrollment(&pipeline_), S_OK);
        }
    }
}

}  // namespace
}  // namespace engine_test
