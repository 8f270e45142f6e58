// Verification, identification and the duplicate check over the simulated
// storage adapter, the record walk, and the match section.
#include <unistd.h>

#include "engine_match.h"
#include "engine_test_support.h"
#include "match_section_name.h"
#include "win_section.h"

namespace engine_test {
namespace {

// The section the driver creates, under a name of this test process.
class MatchSection {
public:
    MatchSection() : previous_prefix_(fp_platform::section_name_prefix()) {
        fp_platform::set_section_name_prefix("engine_test_match_" + std::to_string(getpid()) + "_");
        handle_ = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                     fp_platform::kMatchSectionBytes, fp_platform::kMatchSectionName);
        if (handle_ != nullptr) view_ = static_cast<uint32_t*>(MapViewOfFile(handle_, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    }
    ~MatchSection() {
        if (view_ != nullptr) UnmapViewOfFile(view_);
        if (handle_ != nullptr) CloseHandle(handle_);
        fp_platform::set_section_name_prefix(previous_prefix_);
    }
    bool ready() const { return view_ != nullptr; }
    uint32_t value() const { return *view_; }
    void set(uint32_t v) { *view_ = v; }

private:
    std::string previous_prefix_;
    HANDLE handle_ = nullptr;
    uint32_t* view_ = nullptr;
};

class Matching : public EngineFixture {
protected:
    void SetUp() override {
        EngineFixture::SetUp();
        for (uint32_t n = 1; n <= 3; ++n) storage_.add(stored_record(n, 1, 100 + n));
        ASSERT_EQ(accept(test_sample(8)), S_OK);
    }

    HRESULT verify(uint32_t identity, WINBIO_BIOMETRIC_SUBTYPE sub_factor = 1) {
        WINBIO_IDENTITY id = guid_identity(identity);
        match_ = 0xCC;
        payload_ = reinterpret_cast<uint8_t*>(1);
        payload_size_ = 99;
        return EngineAdapterVerifyFeatureSet(&pipeline_, &id, sub_factor, &match_, &payload_, &payload_size_,
                                             &hash_, &hash_size_, &reject_);
    }

    HRESULT identify() {
        std::memset(&identity_, 0xCC, sizeof identity_);
        sub_factor_ = 0xCC;
        return EngineAdapterIdentifyFeatureSet(&pipeline_, &identity_, &sub_factor_, &payload_, &payload_size_,
                                               &hash_, &hash_size_, &reject_);
    }

    HRESULT check_duplicate() {
        std::memset(&identity_, 0xCC, sizeof identity_);
        duplicate_ = 0xCC;
        return EngineAdapterCheckForDuplicate(&pipeline_, &identity_, &sub_factor_, &duplicate_);
    }

    // Puts the context into a completed enrolment with the current sample.
    void enrolling() {
        ASSERT_EQ(EngineAdapterCreateEnrollment(&pipeline_), S_OK);
    }

    std::vector<uint8_t> template_passed(uint32_t call) {
        std::vector<uint8_t> bytes(20480);
        const int64_t n = script_.verified_template(call, bytes.data(), bytes.size());
        bytes.resize(n < 0 ? 0 : static_cast<size_t>(n));
        return bytes;
    }

    BOOLEAN match_ = 0;
    BOOLEAN duplicate_ = 0;
    uint8_t* payload_ = nullptr;
    size_t payload_size_ = 0;
    uint8_t* hash_ = nullptr;
    size_t hash_size_ = 0;
    WINBIO_REJECT_DETAIL reject_ = 0;
    WINBIO_IDENTITY identity_{};
    WINBIO_BIOMETRIC_SUBTYPE sub_factor_ = 0;
};

TEST_F(Matching, WalkOverThreeRecordsStopsAtTheSecond) {
    ASSERT_EQ(storage_.query_by_content(WINBIO_SUBTYPE_ANY, nullptr, 0), S_OK);
    storage_.reset_calls();
    script_.push_verify_result(-10000);
    script_.push_verify_result(1);
    uint8_t matched = 0;
    WINBIO_STORAGE_RECORD record{};
    EXPECT_EQ(AdapterFindMatchRecord(&pipeline_, context(), &matched, &record), S_OK);
    EXPECT_EQ(matched, 1);
    EXPECT_EQ(script_.calls("RADU_alg_request_verify"), 2);
    EXPECT_EQ(storage_.calls(StorageOp::NextRecord), 1u);
    EXPECT_EQ(storage_.calls(StorageOp::GetCurrentRecord), 2u);
    EXPECT_EQ(template_passed(0), storage_.records()[0].template_blob);
    EXPECT_EQ(template_passed(1), storage_.records()[1].template_blob);
    EXPECT_EQ(script_.last_arg("RADU_alg_get_enrolled_count"), 1);
    ASSERT_NE(record.Identity, nullptr);
    EXPECT_EQ(record.Identity->Value.TemplateGuid.Data1, 2u);
    // The library was handed the accepted sample.
    std::vector<uint8_t> seen(WINBIO_SENSOR_IMAGE_BYTES);
    ASSERT_TRUE(script_.last_sample(seen.data()));
    EXPECT_EQ(seen, test_image(8));
}

TEST_F(Matching, VerifyMatchesTheSubjectsRecord) {
    script_.push_verify_result(0);  // zero is a match too
    EXPECT_EQ(verify(2), S_OK);
    EXPECT_EQ(match_, 1);
    ASSERT_EQ(payload_size_, 2u);
    EXPECT_EQ(payload_[0], 2);
    EXPECT_EQ(hash_, nullptr);
    EXPECT_EQ(hash_size_, 0u);
    // Only the subject's record was compared.
    EXPECT_EQ(script_.calls("RADU_alg_request_verify"), 1);
    EXPECT_EQ(template_passed(0), storage_.records()[1].template_blob);

    EXPECT_EQ(verify(3), WINBIO_E_NO_MATCH);
    EXPECT_EQ(match_, 0);
    EXPECT_EQ(payload_, nullptr);
    EXPECT_EQ(payload_size_, 0u);
}

TEST_F(Matching, IdentifyReturnsTheMatchingIdentity) {
    script_.push_verify_result(-10000);
    script_.push_verify_result(1);
    EXPECT_EQ(identify(), S_OK);
    const WINBIO_IDENTITY expected = guid_identity(2);
    EXPECT_EQ(std::memcmp(&identity_, &expected, sizeof expected), 0);
    EXPECT_EQ(sub_factor_, 1);
    ASSERT_EQ(payload_size_, 2u);
    EXPECT_EQ(payload_[0], 2);

    EXPECT_EQ(identify(), WINBIO_E_UNKNOWN_ID);
    const WINBIO_IDENTITY zero{};
    EXPECT_EQ(std::memcmp(&identity_, &zero, sizeof zero), 0);
    EXPECT_EQ(sub_factor_, 0);
}

TEST_F(Matching, DuplicateCheckFindsTheEnrolledFinger) {
    enrolling();
    script_.push_verify_result(-10000);
    script_.push_verify_result(-10000);
    script_.push_verify_result(1);
    EXPECT_EQ(check_duplicate(), S_OK);
    EXPECT_EQ(duplicate_, 1);
    EXPECT_EQ(identity_.Value.TemplateGuid.Data1, 3u);
    EXPECT_EQ(check_duplicate(), S_OK);
    EXPECT_EQ(duplicate_, 0);
    // The duplicate check leaves the library's state alone.
    EXPECT_EQ(script_.calls("RADU_alg_init"), 1);
}

TEST_F(Matching, EmptyDatabase) {
    storage_.clear();
    EXPECT_EQ(verify(1), WINBIO_E_NO_MATCH);
    EXPECT_EQ(match_, 0);
    EXPECT_EQ(identify(), WINBIO_E_UNKNOWN_ID);
    enrolling();
    EXPECT_EQ(check_duplicate(), S_OK);
    EXPECT_EQ(duplicate_, 0);
    EXPECT_EQ(script_.calls("RADU_alg_request_verify"), 0);
}

TEST_F(Matching, NoSampleIsRefusedBeforeTheLibrary) {
    EngineAdapterClearContext(&pipeline_);
    EXPECT_EQ(verify(1), WINBIO_E_INVALID_DEVICE_STATE);
    EXPECT_EQ(identify(), WINBIO_E_INVALID_DEVICE_STATE);
    enrolling();
    EXPECT_EQ(check_duplicate(), WINBIO_E_INVALID_DEVICE_STATE);
    EXPECT_EQ(duplicate_, 0);
    EXPECT_EQ(script_.calls("RADU_image_quality"), 0);
    EXPECT_EQ(script_.calls("RADU_alg_request_verify"), 0);
}

TEST_F(Matching, FailedInitIsReported) {
    script_.set_init_result(-9);
    EXPECT_EQ(verify(1), -9);
    EXPECT_EQ(match_, 0);
    EXPECT_EQ(identify(), -9);
    EXPECT_EQ(script_.calls("RADU_alg_request_verify"), 0);
}

TEST_F(Matching, VerifyChecksAndExitsOnEveryReturn) {
    int exits = script_.calls("RADU_alg_exit");
    auto exited_once = [&] {
        const int now = script_.calls("RADU_alg_exit");
        const bool once = now == exits + 1;
        exits = now;
        return once;
    };
    WINBIO_IDENTITY id = guid_identity(1);
    EXPECT_EQ(EngineAdapterVerifyFeatureSet(&pipeline_, &id, 1, nullptr, &payload_, &payload_size_, &hash_,
                                            &hash_size_, &reject_),
              E_POINTER);
    EXPECT_TRUE(exited_once());
    EXPECT_EQ(verify(1, 0), E_INVALIDARG);
    EXPECT_TRUE(exited_once());
    script_.set_quality(19);
    EXPECT_EQ(verify(1), WINBIO_E_BAD_CAPTURE);
    EXPECT_EQ(reject_, 7u);
    EXPECT_TRUE(exited_once());
    script_.set_quality(-1);
    EXPECT_EQ(verify(1), WINBIO_E_NO_MATCH);
    EXPECT_TRUE(exited_once());
    enrolling();
    EXPECT_EQ(verify(1), WINBIO_E_ENROLLMENT_IN_PROGRESS);
    EXPECT_TRUE(exited_once());
    EXPECT_EQ(identify(), WINBIO_E_ENROLLMENT_IN_PROGRESS);
}

struct WalkFault {
    const char* name;
    std::function<void(SimStorageAdapter&)> fault;
    HRESULT walk_result;
};

TEST_F(Matching, BrokenWalks) {
    const WalkFault cases[] = {
        {"NextRecord missing", [](SimStorageAdapter& s) { s.remove_slot(StorageOp::NextRecord); },
         ENGINE_E_WALK_BROKEN},
        {"NextRecord fails", [](SimStorageAdapter& s) { s.inject_failure(StorageOp::NextRecord, E_FAIL); },
         ENGINE_E_WALK_BROKEN},
        {"GetCurrentRecord fails",
         [](SimStorageAdapter& s) { s.inject_failure(StorageOp::GetCurrentRecord, E_OUTOFMEMORY); }, E_OUTOFMEMORY},
        {"GetCurrentRecord missing", [](SimStorageAdapter& s) { s.remove_slot(StorageOp::GetCurrentRecord); },
         E_NOTIMPL},
        {"FirstRecord fails", [](SimStorageAdapter& s) { s.inject_failure(StorageOp::FirstRecord, E_HANDLE); },
         E_HANDLE},
        {"FirstRecord missing", [](SimStorageAdapter& s) { s.remove_slot(StorageOp::FirstRecord); }, E_NOTIMPL},
        {"record count unreadable",
         [](SimStorageAdapter& s) { s.inject_failure(StorageOp::GetRecordCount, E_UNEXPECTED); }, E_UNEXPECTED},
        {"record count missing", [](SimStorageAdapter& s) { s.remove_slot(StorageOp::GetRecordCount); }, E_NOTIMPL},
    };
    for (const WalkFault& c : cases) {
        SCOPED_TRACE(c.name);
        SimStorageAdapter storage;
        for (uint32_t n = 1; n <= 3; ++n) storage.add(stored_record(n, 1, 50));
        storage.attach(pipeline_);
        ASSERT_EQ(storage.query_by_content(WINBIO_SUBTYPE_ANY, nullptr, 0), S_OK);
        c.fault(storage);
        uint8_t matched = 0;
        WINBIO_STORAGE_RECORD record{};
        EXPECT_EQ(AdapterFindMatchRecord(&pipeline_, context(), &matched, &record), c.walk_result);
        EXPECT_EQ(matched, 0);
        EXPECT_EQ(verify(1), c.walk_result);
        EXPECT_EQ(identify(), c.walk_result);
    }
    pipeline_.StorageInterface = nullptr;
    EXPECT_EQ(verify(1), E_POINTER);
    storage_.attach(pipeline_);
}

TEST_F(Matching, RecordsWithoutATemplateAreNotHandedToTheLibrary) {
    storage_.clear();
    SimStoredRecord empty = stored_record(1, 1, 0);
    storage_.add(empty);
    storage_.add(stored_record(2, 1, 10));
    script_.push_verify_result(1);
    EXPECT_EQ(identify(), S_OK);
    EXPECT_EQ(identity_.Value.TemplateGuid.Data1, 2u);
    EXPECT_EQ(script_.calls("RADU_alg_request_verify"), 1);
}

TEST_F(Matching, SectionReadsZeroAfterActivationAndOneAfterAMatchingIdentification) {
    MatchSection section;
    ASSERT_TRUE(section.ready());
    section.set(7);
    EXPECT_EQ(EngineAdapterActivate(&pipeline_), S_OK);
    EXPECT_EQ(section.value(), 0u);
    section.set(7);
    EXPECT_EQ(EngineAdapterActivate(nullptr), E_POINTER);
    EXPECT_EQ(section.value(), 0u);

    script_.push_verify_result(1);
    ASSERT_EQ(identify(), S_OK);
    EXPECT_EQ(section.value(), 1u);
    // Verification leaves the section alone.
    script_.push_verify_result(1);
    ASSERT_EQ(verify(1), S_OK);
    EXPECT_EQ(section.value(), 1u);
    // An identification that finds nothing writes 0, and so does one that fails.
    EXPECT_EQ(identify(), WINBIO_E_UNKNOWN_ID);
    EXPECT_EQ(section.value(), 0u);
    section.set(1);
    script_.set_quality(0);
    EXPECT_EQ(identify(), WINBIO_E_BAD_CAPTURE);
    EXPECT_EQ(section.value(), 0u);
}

}  // namespace
}  // namespace engine_test
