// Test fixture: a simulated host and sensor with the driver loaded through
// its class object, short timeouts and a private section name.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "biometric_driver.h"
#include "capture_data.h"
#include "match_section.h"
#include "sim_host.h"
#include "sim_sensor.h"
#include "umdf_com.h"
#include "win_section.h"
#include "win_sync.h"
#include "winbio_types.h"

namespace driver_test {

constexpr DWORD kTimeDivisor = 20;      // 100 ms polls become 5 ms
constexpr DWORD kCompletionWaitMs = 5000;  // real time; generous for sanitizers
constexpr DWORD kStillPendingMs = 60;   // real time a request must stay pending

inline uint32_t u32_at(const std::vector<uint8_t>& bytes, size_t offset)
{
    uint32_t value = 0;
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

inline uint16_t u16_at(const std::vector<uint8_t>& bytes, size_t offset)
{
    uint16_t value = 0;
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

inline std::vector<uint8_t> capture_parameters(uint8_t purpose = WINBIO_PURPOSE_VERIFY,
                                               uint16_t owner = WINBIO_ANSI_381_FORMAT_OWNER,
                                               uint16_t type = WINBIO_ANSI_381_FORMAT_TYPE,
                                               uint8_t flags = WINBIO_DATA_FLAG_RAW)
{
    WINBIO_CAPTURE_PARAMETERS parameters{};
    parameters.PayloadSize = sizeof parameters;
    parameters.Purpose = purpose;
    parameters.Format = {owner, type};
    parameters.Flags = flags;
    std::vector<uint8_t> bytes(sizeof parameters);
    std::memcpy(bytes.data(), &parameters, sizeof parameters);
    return bytes;
}

inline fp_sim::Packet start_packet() { return fp_sim::SimSensor::command_packet(0x003900D3, 0x64000000); }
inline fp_sim::Packet stop_packet() { return fp_sim::SimSensor::command_packet(0x00000091, 0xFF000000); }

inline size_t count_packets(const std::vector<fp_sim::Packet>& packets, const fp_sim::Packet& wanted)
{
    size_t count = 0;
    for (const fp_sim::Packet& packet : packets) {
        count += packet == wanted ? 1 : 0;
    }
    return count;
}

class DriverTest : public ::testing::Test {
protected:
    DriverTest() = default;

    void SetUp() override
    {
        fp_platform::set_time_divisor(kTimeDivisor);
        fp_platform::set_section_name_prefix("fptest_driver_" + std::to_string(::getpid()) + "_");
        live_before_ = fp_platform::live_com_objects();
    }

    void TearDown() override
    {
        if (host_) {
            if (started_) {
                host_->remove_device();
            }
            const fp_sim::HostFaults faults = host_->faults();
            EXPECT_EQ(faults.completed_twice, 0);
            EXPECT_EQ(faults.completed_while_cancelable, 0);
            EXPECT_EQ(faults.completed_while_cancelling, 0);
            EXPECT_EQ(faults.sent_after_target_deleted, 0);
            EXPECT_EQ(faults.queue_stop_timeouts, 0);
            host_->unload();
            host_.reset();
        }
        EXPECT_TRUE(sensor_.wait_until_idle(kCompletionWaitMs));
        // The driver keeps the section from a capture until an abandoned one;
        // the process would let go of it at exit.
        fpusbdrv::clrmem();
        // Every object of the driver and of the host has been released.
        EXPECT_EQ(fp_platform::live_com_objects(), live_before_);
        EXPECT_FALSE(fp_platform::section_exists(fpusbdrv::kMatchSectionName));
        fp_platform::set_section_name_prefix("");
        fp_platform::set_time_divisor(1);
    }

    // Creates the host (with the given USB layout) and starts the device.
    HRESULT start(fp_sim::SimUsbConfig usb = {})
    {
        host_ = std::make_unique<fp_sim::SimHost>(&DllGetClassObject, fpusbdrv::CLSID_BiometricDriver, sensor_,
                                                  std::move(usb));
        const HRESULT hr = host_->start();
        started_ = SUCCEEDED(hr);
        return hr;
    }

    std::shared_ptr<fp_sim::IoctlCall> ioctl(ULONG code, std::vector<uint8_t> input, size_t output_size)
    {
        return host_->send_ioctl(code, std::move(input), output_size);
    }

    std::shared_ptr<fp_sim::IoctlCall> capture(std::vector<uint8_t> input = capture_parameters(),
                                               size_t output_size = fpusbdrv::kCapturePayloadSize)
    {
        return ioctl(IOCTL_BIOMETRIC_CAPTURE_DATA, std::move(input), output_size);
    }

    // Waits until the capture's read is queued and its start command sent.
    void wait_capture_running(size_t start_packets = 1)
    {
        ASSERT_TRUE(sensor_.wait_for_outstanding_reads(1, kCompletionWaitMs));
        ASSERT_TRUE(sensor_.wait_for_packets(start_packets, kCompletionWaitMs));
    }

    // Waits until the capture thread has ended (a reset joins it).
    void join_capture_thread()
    {
        auto reset = ioctl(IOCTL_BIOMETRIC_RESET, {}, 8);
        ASSERT_TRUE(reset->wait(kCompletionWaitMs));
        ASSERT_EQ(reset->status(), S_OK);
    }

    fp_sim::SimSensor sensor_;
    std::unique_ptr<fp_sim::SimHost> host_;
    bool started_ = false;
    long live_before_ = 0;
};

}  // namespace driver_test
