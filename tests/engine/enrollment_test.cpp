// Enrolment through the engine's slots with scripted step codes: status,
// extended status, commit and the stored record.
#include "engine_test_support.h"

namespace engine_test {
namespace {

class Enrollment : public EngineFixture {
protected:
    void SetUp() override {
        EngineFixture::SetUp();
        ASSERT_EQ(accept(test_sample(4, WINBIO_PURPOSE_ENROLL)), S_OK);
        ASSERT_EQ(EngineAdapterCreateEnrollment(&pipeline_), S_OK);
        WINBIO_EXTENDED_ENROLLMENT_PARAMETERS parameters{sizeof parameters, 2};
        ASSERT_EQ(EngineAdapterSetEnrollmentParameters(&pipeline_, &parameters), S_OK);
    }

    HRESULT update(int32_t step_code) {
        script_.push_enroll_code(step_code);
        WINBIO_REJECT_DETAIL reject = 0xFF;
        const HRESULT hr = EngineAdapterUpdateEnrollment(&pipeline_, &reject);
        last_reject_ = reject;
        return hr;
    }

    WINBIO_EXTENDED_ENROLLMENT_STATUS extended_status() {
        WINBIO_EXTENDED_ENROLLMENT_STATUS status{};
        EXPECT_EQ(EngineAdapterQueryExtendedEnrollmentStatus(&pipeline_, &status, sizeof status), S_OK);
        return status;
    }

    HRESULT status() {
        WINBIO_REJECT_DETAIL reject = 0xFF;
        return EngineAdapterGetEnrollmentStatus(&pipeline_, &reject);
    }

    HRESULT commit(uint32_t identity = 7, WINBIO_BIOMETRIC_SUBTYPE sub_factor = 2) {
        WINBIO_IDENTITY id = guid_identity(identity);
        return EngineAdapterCommitEnrollment(&pipeline_, &id, sub_factor, payload_.data(), payload_.size());
    }

    void run_to_completion() {
        for (int32_t step = 1; step <= 6; ++step) ASSERT_EQ(update(step), step < 6 ? WINBIO_I_MORE_DATA : S_OK);
    }

    std::vector<uint8_t> payload_ = {1, 2, 3, 4, 5};
    WINBIO_REJECT_DETAIL last_reject_ = 0;
};

TEST_F(Enrollment, SixStepsReportProgressThenCommitStoresTheTemplate) {
    const uint32_t percent[] = {16, 33, 50, 66, 83, 100};
    for (int32_t step = 1; step <= 6; ++step) {
        SCOPED_TRACE(step);
        const HRESULT expected = step < 6 ? WINBIO_I_MORE_DATA : S_OK;
        EXPECT_EQ(update(step), expected);
        EXPECT_EQ(last_reject_, 0u);
        EXPECT_EQ(status(), expected);
        const WINBIO_EXTENDED_ENROLLMENT_STATUS s = extended_status();
        EXPECT_EQ(s.TemplateStatus, expected);
        EXPECT_EQ(s.PercentComplete, percent[step - 1]);
        EXPECT_EQ(s.SubFactor, 2);
        EXPECT_EQ(s.Factor, WINBIO_TYPE_FINGERPRINT);
        EXPECT_EQ(s.Specific.Fingerprint.GeneralSamples, 6u);
        if (step < 6) {
            EXPECT_EQ(commit(), WINBIO_E_INVALID_DEVICE_STATE);
        }
    }
    // A count beyond six stays complete and at 100 percent.
    context()->SampleCount = 7;
    EXPECT_EQ(status(), S_OK);
    EXPECT_EQ(extended_status().PercentComplete, 100u);
    context()->SampleCount = 6;

    std::vector<uint8_t> blob(3000);
    for (size_t i = 0; i < blob.size(); ++i) blob[i] = static_cast<uint8_t>(i * 13 + 1);
    script_.set_saved_template(blob.data(), static_cast<uint32_t>(blob.size()), 3000);
    EXPECT_EQ(script_.calls("RADU_alg_save_template"), 0);
    ASSERT_EQ(commit(7, 2), S_OK);

    ASSERT_EQ(storage_.records().size(), 1u);
    const SimStoredRecord& stored = storage_.records()[0];
    const WINBIO_IDENTITY id = guid_identity(7);
    EXPECT_EQ(std::memcmp(&stored.identity, &id, sizeof id), 0);
    EXPECT_EQ(stored.sub_factor, 2);
    EXPECT_TRUE(stored.index_vector.empty());
    EXPECT_EQ(stored.template_blob, blob);
    EXPECT_EQ(stored.payload_blob, payload_);

    // Back to idle: sample freed, template buffer zeroed, nothing to discard.
    EXPECT_EQ(context()->State, 0);
    EXPECT_EQ(context()->SampleCount, 0u);
    EXPECT_EQ(context()->SubFactor, 0);
    EXPECT_EQ(context()->Sample, nullptr);
    for (uint8_t b : context()->TemplateBuffer) ASSERT_EQ(b, 0);
    EXPECT_EQ(EngineAdapterDiscardEnrollment(&pipeline_), WINBIO_E_INVALID_DEVICE_STATE);
    EXPECT_EQ(status(), WINBIO_E_INVALID_DEVICE_STATE);
}

TEST_F(Enrollment, NegativeStepCodesFailAndStartTheCountOver) {
    for (int32_t failure : {-1, -1008}) {
        SCOPED_TRACE(failure);
        ASSERT_EQ(update(1), WINBIO_I_MORE_DATA);
        ASSERT_EQ(update(2), WINBIO_I_MORE_DATA);
        EXPECT_EQ(update(failure), E_FAIL);
        EXPECT_EQ(context()->SampleCount, 0u);
        EXPECT_EQ(context()->State, 1);
        EXPECT_EQ(status(), WINBIO_I_MORE_DATA);
        EXPECT_EQ(extended_status().PercentComplete, 0u);
        EXPECT_EQ(extended_status().TemplateStatus, WINBIO_I_MORE_DATA);
        EXPECT_EQ(commit(), WINBIO_E_INVALID_DEVICE_STATE);
        EXPECT_EQ(script_.calls("RADU_alg_save_template"), 0);
        EXPECT_TRUE(storage_.records().empty());
    }
    // The library restarted: a fresh run of six completes and commits.
    run_to_completion();
    EXPECT_EQ(commit(), S_OK);
    EXPECT_EQ(storage_.records().size(), 1u);
}

TEST_F(Enrollment, TemplateSizesOutsideTheBufferKeepTheEnrolmentOpen) {
    run_to_completion();
    const uint8_t byte = 0x11;
    for (int32_t size : {0, -5, 20481}) {
        SCOPED_TRACE(size);
        script_.set_saved_template(&byte, 1, size);
        EXPECT_EQ(commit(), E_FAIL);
        EXPECT_TRUE(storage_.records().empty());
        EXPECT_EQ(context()->State, 1);
        EXPECT_EQ(status(), S_OK);
    }
    // The largest template fits.
    std::vector<uint8_t> largest(20480, 0x77);
    script_.set_saved_template(largest.data(), 20480, 20480);
    EXPECT_EQ(commit(), S_OK);
    ASSERT_EQ(storage_.records().size(), 1u);
    EXPECT_EQ(storage_.records()[0].template_blob, largest);
}

TEST_F(Enrollment, FailedAddRecordKeepsTheEnrolment) {
    run_to_completion();
    storage_.inject_failure(StorageOp::AddRecord, E_OUTOFMEMORY);
    EXPECT_EQ(commit(), E_OUTOFMEMORY);
    EXPECT_EQ(context()->State, 1);
    EXPECT_NE(context()->Sample, nullptr);
    EXPECT_EQ(context()->TemplateBuffer[0], 0x5A);
    storage_.remove_slot(StorageOp::AddRecord);
    EXPECT_EQ(commit(), E_NOTIMPL);
    pipeline_.StorageInterface = nullptr;
    EXPECT_EQ(commit(), E_POINTER);
    EXPECT_EQ(EngineAdapterDiscardEnrollment(&pipeline_), S_OK);
    EXPECT_EQ(context()->State, 0);
}

TEST_F(Enrollment, RecordCountIsPassedOnOrZeroWhenUnreadable) {
    storage_.add(stored_record(1, 1, 10));
    storage_.add(stored_record(2, 1, 10));
    ASSERT_EQ(storage_.query_by_content(WINBIO_SUBTYPE_ANY, nullptr, 0), S_OK);
    ASSERT_EQ(update(1), WINBIO_I_MORE_DATA);
    EXPECT_EQ(script_.last_arg("RADU_alg_request_enroll"), 2);
    EXPECT_EQ(script_.last_arg("RADU_alg_get_enrolled_count"), 2);

    storage_.inject_failure(StorageOp::GetRecordCount, E_FAIL);
    for (int32_t step = 2; step <= 6; ++step) ASSERT_EQ(update(step), step < 6 ? WINBIO_I_MORE_DATA : S_OK);
    EXPECT_EQ(script_.last_arg("RADU_alg_request_enroll"), 0);
    EXPECT_EQ(script_.last_arg("RADU_alg_get_enrolled_count"), 0);
    storage_.remove_slot(StorageOp::GetRecordCount);
    EXPECT_EQ(commit(), S_OK);
    EXPECT_EQ(script_.last_arg("RADU_alg_save_template"), 0);
}

TEST_F(Enrollment, StateAndArgumentChecks) {
    WINBIO_REJECT_DETAIL reject = 0;
    EXPECT_EQ(EngineAdapterUpdateEnrollment(nullptr, &reject), E_POINTER);
    EXPECT_EQ(EngineAdapterUpdateEnrollment(&pipeline_, nullptr), E_POINTER);
    WINBIO_IDENTITY id = guid_identity(1);
    uint8_t payload = 1;
    EXPECT_EQ(EngineAdapterCommitEnrollment(&pipeline_, nullptr, 1, nullptr, 0), E_POINTER);
    EXPECT_EQ(EngineAdapterCommitEnrollment(&pipeline_, &id, 0, nullptr, 0), E_INVALIDARG);
    EXPECT_EQ(EngineAdapterCommitEnrollment(&pipeline_, &id, 0xFF, nullptr, 0), E_INVALIDARG);
    EXPECT_EQ(EngineAdapterCommitEnrollment(&pipeline_, &id, 1, nullptr, 4), E_INVALIDARG);
    EXPECT_EQ(EngineAdapterCommitEnrollment(&pipeline_, &id, 1, &payload, 0), E_INVALIDARG);

    // Without a sample copy the update has nothing to enrol.
    EngineAdapterClearContext(&pipeline_);
    ASSERT_EQ(EngineAdapterCreateEnrollment(&pipeline_), S_OK);
    EXPECT_EQ(EngineAdapterUpdateEnrollment(&pipeline_, &reject), WINBIO_E_INVALID_DEVICE_STATE);
    // Creating again while enrolling restarts the enrolment.
    ASSERT_EQ(accept(test_sample(2)), S_OK);
    ASSERT_EQ(update(3), WINBIO_I_MORE_DATA);
    const int exits = script_.calls("RADU_alg_exit");
    EXPECT_EQ(EngineAdapterCreateEnrollment(&pipeline_), S_OK);
    EXPECT_EQ(script_.calls("RADU_alg_exit"), exits + 1);
    EXPECT_EQ(context()->SampleCount, 0u);
    // Outside an enrolment the updates and status are refused.
    EXPECT_EQ(EngineAdapterDiscardEnrollment(&pipeline_), S_OK);
    EXPECT_EQ(EngineAdapterUpdateEnrollment(&pipeline_, &reject), WINBIO_E_INVALID_DEVICE_STATE);
    EXPECT_EQ(status(), WINBIO_E_INVALID_DEVICE_STATE);
}

TEST_F(Enrollment, FailedInitGivesItsResultAndStaysIdle) {
    EngineAdapterClearContext(&pipeline_);
    script_.set_init_result(-3);
    EXPECT_EQ(EngineAdapterCreateEnrollment(&pipeline_), -3);
    EXPECT_EQ(context()->State, 0);
}

TEST_F(Enrollment, FailedRestartLeavesNothingToCommit) {
    run_to_completion();
    const uint8_t stale[4] = {1, 2, 3, 4};
    script_.set_saved_template(stale, 4, 4);
    script_.set_init_result(-1);
    EXPECT_EQ(EngineAdapterCreateEnrollment(&pipeline_), -1);
    EXPECT_EQ(context()->State, 0);
    EXPECT_EQ(context()->SampleCount, 0u);
    EXPECT_EQ(commit(), WINBIO_E_INVALID_DEVICE_STATE);
    EXPECT_EQ(script_.calls("RADU_alg_save_template"), 0);
    EXPECT_TRUE(storage_.records().empty());
}

TEST_F(Enrollment, ExtendedStatusAndEngineInformation) {
    WINBIO_EXTENDED_ENROLLMENT_STATUS s{};
    EXPECT_EQ(EngineAdapterQueryExtendedEnrollmentStatus(&pipeline_, &s, 375), E_INVALIDARG);
    EXPECT_EQ(EngineAdapterQueryExtendedEnrollmentStatus(&pipeline_, nullptr, 376), E_POINTER);
    EngineAdapterClearContext(&pipeline_);
    std::memset(&s, 0xCC, sizeof s);
    ASSERT_EQ(EngineAdapterQueryExtendedEnrollmentStatus(&pipeline_, &s, sizeof s), S_OK);
    EXPECT_EQ(s.TemplateStatus, WINBIO_TEMPLATE_STATUS_INITIAL);
    EXPECT_EQ(s.PercentComplete, 100u);
    EXPECT_EQ(s.SubFactor, 0xFF);
    EXPECT_EQ(s.RejectDetail, 0u);
    EXPECT_EQ(s.Specific.Fingerprint.GeneralSamples, 6u);
    EXPECT_EQ(s.Specific.Fingerprint.Center, 5u);
    EXPECT_EQ(s.Specific.Reserved[355], 0);

    WINBIO_EXTENDED_ENGINE_INFO info;
    std::memset(&info, 0xCC, sizeof info);
    EXPECT_EQ(EngineAdapterQueryExtendedInfo(&pipeline_, &info, 35), E_INVALIDARG);
    ASSERT_EQ(EngineAdapterQueryExtendedInfo(&pipeline_, &info, sizeof info), S_OK);
    EXPECT_EQ(info.GenericEngineCapabilities, 1u);
    EXPECT_EQ(info.Factor, 8u);
    EXPECT_EQ(info.Specific.Fingerprint.Capabilities, 0u);
    const auto& req = info.Specific.Fingerprint.EnrollmentRequirements;
    EXPECT_EQ(req.GeneralSamples, 6u);
    EXPECT_EQ(req.Center, 5u);
    EXPECT_EQ(req.TopEdge + req.BottomEdge + req.LeftEdge + req.RightEdge, 0u);

    size_t hint = 0;
    EXPECT_EQ(EngineAdapterQuerySampleHint(&pipeline_, &hint), S_OK);
    EXPECT_EQ(hint, 6u);
}

}  // namespace
}  // namespace engine_test
