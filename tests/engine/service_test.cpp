// The simulated biometric service driving the engine in the framework's
// order, and the storage adapter's own guarantees.
#include <algorithm>
#include <memory>

#include "engine_test_support.h"

namespace engine_test {
namespace {

class Service : public ::testing::Test {
protected:
    void SetUp() override {
        binding_ = std::make_unique<ScopedBinding>("full");
        script_.open();
        service_ = std::make_unique<SimBiometricService>(storage_);
        ASSERT_EQ(service_->load_engine(&WbioQueryEngineInterface), S_OK);
        ASSERT_EQ(service_->open_pipeline(), S_OK);
    }
    void TearDown() override {
        EXPECT_EQ(service_->close_pipeline(), S_OK);
        service_.reset();
        script_.close();
        binding_.reset();
    }

    std::vector<std::vector<uint8_t>> samples(size_t count, uint8_t seed) {
        std::vector<std::vector<uint8_t>> all;
        for (size_t i = 0; i < count; ++i) all.push_back(test_sample(static_cast<uint8_t>(seed + i), 4));
        return all;
    }

    std::unique_ptr<ScopedBinding> binding_;
    Script script_;
    SimStorageAdapter storage_;
    std::unique_ptr<SimBiometricService> service_;
};

TEST_F(Service, EnrolThreeFingersThenIdentifyAndVerify) {
    for (uint32_t n = 1; n <= 3; ++n) {
        SCOPED_TRACE(n);
        TraceCapture trace;
        std::vector<uint8_t> blob(500 + n, static_cast<uint8_t>(n));
        script_.set_saved_template(blob.data(), static_cast<uint32_t>(blob.size()), static_cast<int32_t>(blob.size()));
        const SimEnrollOutcome outcome = service_->enroll(guid_identity(n), static_cast<uint8_t>(n), samples(8, 10),
                                                          {static_cast<uint8_t>(n)});
        EXPECT_EQ(outcome.result, S_OK);
        EXPECT_EQ(outcome.samples_used, 6u);
        // Each update reports the status; the service asks once more before
        // the duplicate check, as the framework does.
        const auto status_calls = std::count(trace.lines().begin(), trace.lines().end(),
                                             " engine engineEngineAdapterGetEnrollmentStatus called\n");
        EXPECT_EQ(status_calls, 7);
        EXPECT_EQ(outcome.last_status.PercentComplete, 100u);
        EXPECT_EQ(outcome.last_status.SubFactor, n);
        EXPECT_FALSE(outcome.duplicate);
        ASSERT_EQ(storage_.records().size(), n);
        EXPECT_EQ(storage_.records().back().template_blob, blob);
    }
    script_.push_verify_result(-10000);
    script_.push_verify_result(1);
    SimMatchOutcome found = service_->identify(test_sample(40, WINBIO_PURPOSE_IDENTIFY));
    EXPECT_EQ(found.result, S_OK);
    EXPECT_EQ(found.identity.Value.TemplateGuid.Data1, 2u);
    EXPECT_EQ(found.sub_factor, 2);
    EXPECT_EQ(found.payload, std::vector<uint8_t>{2});

    script_.push_verify_result(1);
    SimMatchOutcome verified = service_->verify(test_sample(41), guid_identity(3), 3);
    EXPECT_EQ(verified.result, S_OK);
    EXPECT_TRUE(verified.match);
    EXPECT_EQ(verified.payload, std::vector<uint8_t>{3});
    EXPECT_EQ(service_->verify(test_sample(41), guid_identity(3), 1).result, WINBIO_E_NO_MATCH);
}

TEST_F(Service, BadCapturesAreSkippedAndAFailedEnrolmentIsDiscarded) {
    // A failed library enrolment ends the operation; nothing is stored.
    script_.push_enroll_code(1);
    script_.push_enroll_code(-1);
    SimEnrollOutcome failed = service_->enroll(guid_identity(1), 1, samples(8, 0), {});
    EXPECT_EQ(failed.result, E_FAIL);
    EXPECT_EQ(failed.updates, (std::vector<HRESULT>{WINBIO_I_MORE_DATA, E_FAIL}));
    EXPECT_TRUE(storage_.records().empty());
    EXPECT_EQ(static_cast<WINBIO_ENGINE_CONTEXT*>(service_->pipeline().EngineContext)->State, 0);

    // Too few samples: the enrolment never completes and is discarded.
    SimEnrollOutcome short_run = service_->enroll(guid_identity(1), 1, samples(5, 0), {});
    EXPECT_EQ(short_run.result, WINBIO_E_BAD_CAPTURE);
    EXPECT_TRUE(storage_.records().empty());

    // A duplicate of an enrolled finger is not committed.
    ASSERT_EQ(service_->enroll(guid_identity(1), 1, samples(6, 0), {}).result, S_OK);
    script_.push_verify_result(1);
    SimEnrollOutcome duplicate = service_->enroll(guid_identity(2), 1, samples(6, 0), {});
    EXPECT_TRUE(duplicate.duplicate);
    EXPECT_EQ(duplicate.duplicate_identity.Value.TemplateGuid.Data1, 1u);
    EXPECT_EQ(storage_.records().size(), 1u);
}

TEST_F(Service, SampleFromACaptureReply) {
    // A capture reply: the 20-byte head, then the record of CaptureData.Size bytes.
    const std::vector<uint8_t> record = test_sample(3);
    std::vector<uint8_t> reply(17000, 0);
    const uint32_t size = static_cast<uint32_t>(record.size());
    std::memcpy(reply.data() + 16, &size, 4);
    std::memcpy(reply.data() + 20, record.data(), record.size());
    EXPECT_EQ(record.size(), 16976u);
    EXPECT_EQ(sim_sample_from_capture_reply(reply.data(), reply.size()), record);
    EXPECT_TRUE(sim_sample_from_capture_reply(reply.data(), 16995).empty());
    const uint32_t zero = 0;
    std::memcpy(reply.data() + 16, &zero, 4);
    EXPECT_TRUE(sim_sample_from_capture_reply(reply.data(), reply.size()).empty());
}

// Replies shorter than the capture-data record (24 bytes) are refused
// whatever their Size field says; each reply sits in a heap buffer of exactly
// its size, so that reading past it is an error under AddressSanitizer.
TEST(SimService, CaptureReplyShorterThanTheRecordIsRefused) {
    for (size_t reply_size = 19; reply_size <= 24; ++reply_size) {
        SCOPED_TRACE(reply_size);
        // The Size field claims the bytes after the head that the reply holds.
        uint8_t whole[24] = {};
        const uint32_t claimed = reply_size > 20 ? static_cast<uint32_t>(reply_size - 20) : 1;
        std::memcpy(whole + 16, &claimed, sizeof claimed);
        for (size_t i = 20; i < sizeof whole; ++i) whole[i] = static_cast<uint8_t>(0xA0 + i);
        std::unique_ptr<uint8_t[]> reply(new uint8_t[reply_size]);
        std::memcpy(reply.get(), whole, reply_size);
        const std::vector<uint8_t> sample = sim_sample_from_capture_reply(reply.get(), reply_size);
        if (reply_size < sizeof(WINBIO_CAPTURE_DATA)) {
            EXPECT_TRUE(sample.empty());
        } else {
            EXPECT_EQ(sample, std::vector<uint8_t>(whole + 20, whole + 24));
        }
    }
}

TEST(SimStorage, RecordsAreDeepCopiedBothWays) {
    SimStorageAdapter storage;
    WINBIO_IDENTITY id = guid_identity(5);
    std::vector<uint8_t> blob = {1, 2, 3};
    std::vector<uint8_t> payload = {9};
    WINBIO_STORAGE_RECORD in{&id, 3, nullptr, 0, blob.data(), blob.size(), payload.data(), payload.size()};
    ASSERT_EQ(storage.add_record(&in), S_OK);
    blob[0] = 0xFF;
    id.Value.TemplateGuid.Data1 = 6;

    WINBIO_IDENTITY query = guid_identity(5);
    ASSERT_EQ(storage.query_by_subject(&query, 3), S_OK);
    EXPECT_EQ(storage.query_by_subject(&query, 4), WINBIO_E_DATABASE_NO_RESULTS);
    ASSERT_EQ(storage.query_by_subject(&query, WINBIO_SUBTYPE_ANY), S_OK);
    size_t count = 0;
    ASSERT_EQ(storage.get_record_count(&count), S_OK);
    EXPECT_EQ(count, 1u);
    ASSERT_EQ(storage.first_record(), S_OK);
    WINBIO_STORAGE_RECORD out{};
    ASSERT_EQ(storage.get_current_record(&out), S_OK);
    ASSERT_EQ(out.TemplateBlobSize, 3u);
    EXPECT_EQ(out.TemplateBlob[0], 1);
    out.TemplateBlob[1] = 0xEE;  // a caller scribbling on its copy
    EXPECT_EQ(storage.records()[0].template_blob, (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(storage.next_record(), WINBIO_E_DATABASE_NO_MORE_RECORDS);

    WINBIO_STORAGE_RECORD bad{&id, 3, nullptr, 0, nullptr, 4, nullptr, 0};
    EXPECT_EQ(storage.add_record(&bad), E_INVALIDARG);
    storage.inject_failure(StorageOp::AddRecord, HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
    EXPECT_EQ(storage.add_record(&in), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
    EXPECT_EQ(storage.calls(StorageOp::AddRecord), 3u);
    EXPECT_EQ(storage.records().size(), 1u);
}

}  // namespace
}  // namespace engine_test
