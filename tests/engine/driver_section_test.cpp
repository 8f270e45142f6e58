// The engine and the sensor driver meeting at the match section: a capture
// through the simulated driver host gives the sample, activation writes 0, a
// matching identification writes 1, and the driver then abandons its next
// capture.
#include <unistd.h>

#include "biometric_driver.h"
#include "engine_test_support.h"
#include "match_section.h"
#include "match_section_name.h"
#include "sim_biometric_service.h"
#include "sim_host.h"
#include "win_section.h"
#include "win_sync.h"

namespace engine_test {
namespace {

constexpr const char16_t* kSection = fp_platform::kMatchSectionName;

void write_section(uint32_t value) {
    HANDLE section = OpenFileMappingW(FILE_MAP_WRITE, FALSE, kSection);
    ASSERT_NE(section, nullptr);
    void* view = MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, 0);
    ASSERT_NE(view, nullptr);
    std::memcpy(view, &value, sizeof value);
    UnmapViewOfFile(view);
    CloseHandle(section);
}

class EngineWithDriver : public ::testing::Test {
protected:
    void SetUp() override {
        fp_platform::set_time_divisor(20);  // the driver's 100 ms polls become 5 ms
        fp_platform::set_section_name_prefix("engine_driver_test_" + std::to_string(getpid()) + "_");
        binding_ = std::make_unique<ScopedBinding>("full");
        script_.open();
        host_ = std::make_unique<fp_sim::SimHost>(&DllGetClassObject, fpusbdrv::CLSID_BiometricDriver, sensor_);
        ASSERT_EQ(host_->start(), S_OK);
        for (uint32_t n = 1; n <= 2; ++n) storage_.add(stored_record(n, 1, 64));
        service_ = std::make_unique<SimBiometricService>(storage_);
        ASSERT_EQ(service_->load_engine(&WbioQueryEngineInterface), S_OK);
    }
    void TearDown() override {
        service_.reset();
        host_->remove_device();
        host_->unload();
        host_.reset();
        EXPECT_TRUE(sensor_.wait_until_idle(10000));
        // The driver keeps the section of a completed capture until the process ends.
        fpusbdrv::clrmem();
        script_.close();
        binding_.reset();
        fp_platform::set_section_name_prefix("");
        fp_platform::set_time_divisor(1);
    }

    std::shared_ptr<fp_sim::IoctlCall> capture() {
        return host_->send_ioctl(IOCTL_BIOMETRIC_CAPTURE_DATA, sim_capture_parameters(WINBIO_PURPOSE_IDENTIFY), 17000);
    }

    std::unique_ptr<ScopedBinding> binding_;
    Script script_;
    fp_sim::SimSensor sensor_;
    std::unique_ptr<fp_sim::SimHost> host_;
    SimStorageAdapter storage_;
    std::unique_ptr<SimBiometricService> service_;
};

TEST_F(EngineWithDriver, MatchingIdentificationAbandonsTheNextCapture) {
    // The first capture creates the section and delivers the sample.
    auto first = capture();
    ASSERT_TRUE(first->wait(10000));
    ASSERT_EQ(first->status(), S_OK);
    const std::vector<uint8_t> reply = first->output();
    const std::vector<uint8_t> sample = sim_sample_from_capture_reply(reply.data(), reply.size());
    ASSERT_EQ(sample.size(), 16976u);
    ASSERT_EQ(sim_read_section(kSection), 0);

    // Activation writes 0 over whatever the section held.
    write_section(1);
    ASSERT_EQ(service_->open_pipeline(), S_OK);
    EXPECT_EQ(sim_read_section(kSection), 0);

    // An identification that finds nobody leaves 0; a match writes 1.
    const SimMatchOutcome nobody = service_->identify(sample);
    EXPECT_EQ(nobody.result, WINBIO_E_UNKNOWN_ID);
    EXPECT_EQ(sim_read_section(kSection), 0);
    script_.push_verify_result(-10000);
    script_.push_verify_result(1);
    const SimMatchOutcome found = service_->identify(sample);
    ASSERT_EQ(found.result, S_OK);
    EXPECT_EQ(found.identity.Value.TemplateGuid.Data1, 2u);
    EXPECT_EQ(sim_read_section(kSection), 1);

    // The driver reads 1 at the start of its next capture and abandons it.
    auto second = capture();
    ASSERT_TRUE(second->wait(10000));
    EXPECT_EQ(second->status(), E_ABORT);
    EXPECT_FALSE(fp_platform::section_exists(kSection));

    // The capture after that creates the section afresh and succeeds.
    auto third = capture();
    ASSERT_TRUE(third->wait(10000));
    EXPECT_EQ(third->status(), S_OK);
    EXPECT_EQ(sim_read_section(kSection), 0);
    EXPECT_EQ(service_->close_pipeline(), S_OK);
}

}  // namespace
}  // namespace engine_test
