// Captures: the reply, the wire protocol, busy, cancel, the match section,
// the sensor's fault modes, reset, power transitions and hardware release.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "driver_fixture.h"
#include "failing_read_buffer.h"
#include "win_debug.h"

namespace driver_test {
namespace {

constexpr HRESULT kCancelledByReset = hresult_of(0x800704C7u);
constexpr HRESULT kCancelledByFramework = hresult_of(0x800703E3u);
constexpr HRESULT kPolicyRefused = HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);

void expect_image_reply(const std::vector<uint8_t>& out, const std::vector<uint8_t>& frame, uint8_t purpose)
{
    ASSERT_EQ(out.size(), 17000u);
    ASSERT_EQ(frame.size(), fp_sim::kFrameBytes);
    EXPECT_EQ(u32_at(out, 0), 17000u);
    EXPECT_EQ(u32_at(out, 4), 0u);
    EXPECT_EQ(u32_at(out, 8), WINBIO_SENSOR_ACCEPT);
    EXPECT_EQ(u32_at(out, 12), 0u);
    EXPECT_EQ(u32_at(out, 16), 0x4250u);
    // Block table: header {48, 32}, standard data {16896, 80}, vendor and signature empty.
    const uint32_t blocks[8] = {48, 32, 16896, 80, 0, 0, 0, 0};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(u32_at(out, 20 + 4 * i), blocks[i]) << "block word " << i;
    }
    // Record header at 52: only the named fields are set.
    for (size_t i = 0; i < 48; ++i) {
        uint8_t expected = 0;
        switch (i) {
        case 4: expected = 0x20; break;   // raw data
        case 8: expected = 8; break;      // fingerprint
        case 12: expected = 2; break;     // subtype
        case 13: expected = purpose; break;
        case 14: expected = 0xFF; break;  // quality
        case 40: expected = 0x1B; break;  // format owner 0x001B
        case 42: expected = 0x01; break;  // format type 0x0401
        case 43: expected = 0x04; break;
        default: break;
        }
        EXPECT_EQ(out[52 + i], expected) << "header byte " << i;
    }
    EXPECT_TRUE(std::equal(frame.begin(), frame.end(), out.begin() + 100)) << "image differs from the frame";
    EXPECT_EQ(out[16992], 1);
    EXPECT_EQ(out[16995], 4);
}

TEST_F(DriverTest, CaptureReturnsTheFrameAndSendsTheStartPacket)
{
    ASSERT_EQ(start(), S_OK);
    EXPECT_TRUE(host_->queue_started());
    EXPECT_TRUE(host_->power_policy_owner());
    EXPECT_TRUE(host_->device_interface_enabled());
    EXPECT_EQ(host_->power_policy(), (std::map<ULONG, ULONG>{{AUTO_SUSPEND, 1}, {SUSPEND_DELAY, 5000}}));

    auto call = capture(capture_parameters(WINBIO_PURPOSE_ENROLL));
    ASSERT_TRUE(call->wait(kCompletionWaitMs));
    EXPECT_EQ(call->status(), S_OK);
    EXPECT_EQ(call->information(), 17000u);
    expect_image_reply(call->output(), sensor_.last_frame(), WINBIO_PURPOSE_ENROLL);

    // Exactly the start packet on the wire: 04 03 02 01 D3 00 39 00 00 00 00 64, then 52 zeros.
    const std::vector<fp_sim::Packet> packets = sensor_.packets();
    ASSERT_EQ(packets.size(), 1u);
    const uint8_t head[12] = {0x04, 0x03, 0x02, 0x01, 0xD3, 0x00, 0x39, 0x00, 0x00, 0x00, 0x00, 0x64};
    EXPECT_TRUE(std::equal(head, head + 12, packets[0].begin()));
    EXPECT_TRUE(std::all_of(packets[0].begin() + 12, packets[0].end(), [](uint8_t b) { return b == 0; }));
    EXPECT_TRUE(fp_platform::section_exists(fpusbdrv::kMatchSectionName));

    // A second capture gets the next frame, not the first one again.
    auto second = capture();
    ASSERT_TRUE(second->wait(kCompletionWaitMs));
    EXPECT_EQ(second->status(), S_OK);
    expect_image_reply(second->output(), sensor_.last_frame(), WINBIO_PURPOSE_VERIFY);
    EXPECT_EQ(sensor_.frames_sent(), 2u);
}

TEST_F(DriverTest, SecondCaptureWhilePendingIsBusyAndCancelAbandonsTheFirst)
{
    sensor_.set_finger_present(false);
    ASSERT_EQ(start(), S_OK);
    auto first = capture();
    wait_capture_running();

    auto second = capture();
    ASSERT_TRUE(second->wait(kCompletionWaitMs));
    EXPECT_EQ(second->status(), WINBIO_E_DATA_COLLECTION_IN_PROGRESS);
    EXPECT_FALSE(first->wait(kStillPendingMs));

    ASSERT_TRUE(host_->cancel(first));
    ASSERT_TRUE(first->wait(kCompletionWaitMs));
    EXPECT_EQ(first->status(), kCancelledByFramework);
    EXPECT_EQ(first->information(), 0u);

    // The abandoned capture sends the stop packet: 04 03 02 01 91 00 00 00 00 00 00 FF, then 52 zeros.
    ASSERT_TRUE(sensor_.wait_for_packets(2, kCompletionWaitMs));
    const fp_sim::Packet stop = sensor_.packets()[1];
    const uint8_t head[12] = {0x04, 0x03, 0x02, 0x01, 0x91, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF};
    EXPECT_TRUE(std::equal(head, head + 12, stop.begin()));
    EXPECT_TRUE(std::all_of(stop.begin() + 12, stop.end(), [](uint8_t b) { return b == 0; }));

    // Its read was cancelled and waited for: a finger now produces nothing.
    join_capture_thread();
    EXPECT_EQ(sensor_.outstanding_reads(), 0u);
    sensor_.set_finger_present(true);
    auto third = capture();
    ASSERT_TRUE(third->wait(kCompletionWaitMs));
    EXPECT_EQ(third->status(), S_OK);
    EXPECT_EQ(sensor_.frames_sent(), 1u);
    expect_image_reply(third->output(), sensor_.last_frame(), WINBIO_PURPOSE_VERIFY);
}

// Waits for a line on the debug output.
class TraceWatch {
public:
    TraceWatch()
    {
        fp_platform::set_debug_sink([this](std::u16string_view line) {
            std::lock_guard<std::mutex> lock(mutex_);
            lines_.push_back(fp_platform::narrow_text(line));
            changed_.notify_all();
        });
    }
    ~TraceWatch() { fp_platform::set_debug_sink({}); }

    bool wait_for(const std::string& line, DWORD milliseconds)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(milliseconds), [&] {
            return std::find(lines_.begin(), lines_.end(), line) != lines_.end();
        });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> lines_;
};

// A cancel that the host holds between marking the request as being
// cancelled and calling the driver back; released (and its thread joined)
// at the end of the scope whatever happens.
class HeldCancel {
public:
    HeldCancel(fp_sim::SimHost& host, std::shared_ptr<fp_sim::IoctlCall> call) : host_(host)
    {
        host_.hold_cancels();
        thread_ = std::thread([this, call] { cancelled_ = host_.cancel(call); });
    }
    ~HeldCancel() { release(); }

    bool release()
    {
        host_.release_cancels();
        if (thread_.joinable()) {
            thread_.join();
        }
        return cancelled_;
    }

private:
    fp_sim::SimHost& host_;
    std::thread thread_;
    bool cancelled_ = false;
};

// While the framework cancels the capture request, every path that would
// complete it (the frame's completion, a reset and the stop it causes) must
// see UnmarkCancelable refuse and leave the request to the cancel callback.
TEST_F(DriverTest, RequestBeingCancelledIsCompletedOnlyByTheCancelCallback)
{
    struct Case {
        const char* name;
        bool frame;  // the frame arrives; otherwise a reset stops the capture
    };
    const Case cases[] = {{"frame arrives", true}, {"reset", false}};
    ASSERT_EQ(start(), S_OK);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sensor_.set_finger_present(false);
        const size_t starts = count_packets(sensor_.packets(), start_packet());
        TraceWatch trace;
        auto pending = capture();
        wait_capture_running(starts + 1);

        HeldCancel cancel(*host_, pending);
        ASSERT_TRUE(host_->wait_for_held_cancel(kCompletionWaitMs));
        if (c.frame) {
            sensor_.set_finger_present(true);
            ASSERT_TRUE(trace.wait_for("HELLO:CompletePendingRequestWithData: >>", kCompletionWaitMs));
        } else {
            auto reset = ioctl(IOCTL_BIOMETRIC_RESET, {}, 8);
            ASSERT_TRUE(reset->wait(kCompletionWaitMs));
            EXPECT_EQ(reset->status(), S_OK);
            ASSERT_TRUE(trace.wait_for("HELLO:CompletePendingRequest: >>", kCompletionWaitMs));
        }
        EXPECT_FALSE(pending->completed());
        EXPECT_EQ(host_->faults().completed_while_cancelling, 0);

        EXPECT_TRUE(cancel.release());
        ASSERT_TRUE(pending->completed());
        EXPECT_EQ(pending->status(), kCancelledByFramework);
        EXPECT_EQ(pending->information(), 0u);
        join_capture_thread();
    }
}

TEST_F(DriverTest, CancelWaitIsNotEndedByAnEarlierReadsSignal)
{
    ASSERT_EQ(start(), S_OK);
    // A completed read leaves the cancel event signalled.
    auto first = capture();
    ASSERT_TRUE(first->wait(kCompletionWaitMs));
    ASSERT_EQ(first->status(), S_OK);

    // The sensor is slow to give up a cancelled read (200 ms); had the wait
    // ended at the earlier signal, the thread would end about 60 ms after the
    // cancel with the read still queued. The cancel wait allows 3000 ms.
    fp_platform::set_time_divisor(5);
    sensor_.set_finger_present(false);
    sensor_.set_cancel_delay_ms(1000);
    auto second = capture();
    wait_capture_running(2);
    ASSERT_TRUE(host_->cancel(second));
    ASSERT_TRUE(second->wait(kCompletionWaitMs));
    // Joining the thread must find the cancelled read completed.
    join_capture_thread();
    EXPECT_EQ(sensor_.outstanding_reads(), 0u);
}

TEST_F(DriverTest, SectionValueOneAbandonsTheNextCapture)
{
    ASSERT_EQ(start(), S_OK);
    auto first = capture();
    ASSERT_TRUE(first->wait(kCompletionWaitMs));
    ASSERT_EQ(first->status(), S_OK);

    // The engine adapter reports a match.
    HANDLE section = OpenFileMappingW(FILE_MAP_WRITE, FALSE, fpusbdrv::kMatchSectionName);
    ASSERT_NE(section, nullptr);
    auto* flag = static_cast<uint32_t*>(MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, 0));
    ASSERT_NE(flag, nullptr);
    std::atomic_ref<uint32_t>(*flag).store(1);
    UnmapViewOfFile(flag);
    CloseHandle(section);

    join_capture_thread();
    auto abandoned = capture();
    ASSERT_TRUE(abandoned->wait(kCompletionWaitMs));
    EXPECT_EQ(abandoned->status(), E_ABORT);
    EXPECT_EQ(abandoned->information(), 17000u);
    join_capture_thread();
    // No start; the stop command once from the wait and once from the thread.
    const std::vector<fp_sim::Packet> packets = sensor_.packets();
    ASSERT_EQ(packets.size(), 3u);
    EXPECT_EQ(count_packets(packets, start_packet()), 1u);
    EXPECT_EQ(count_packets(packets, stop_packet()), 2u);
    EXPECT_FALSE(fp_platform::section_exists(fpusbdrv::kMatchSectionName));
    EXPECT_EQ(sensor_.reads_submitted(), 1u);

    // The capture after that creates the section afresh and succeeds.
    auto next = capture();
    ASSERT_TRUE(next->wait(kCompletionWaitMs));
    EXPECT_EQ(next->status(), S_OK);
    EXPECT_TRUE(fp_platform::section_exists(fpusbdrv::kMatchSectionName));
}

struct FaultCase {
    const char* name;
    fp_sim::SensorFault fault;
    bool completes;          // without a cancel
    HRESULT status;          // request status
    HRESULT reply_result;    // WinBioHresult when the reply is filled
};

TEST_F(DriverTest, SensorFaultModes)
{
    ASSERT_EQ(start(), S_OK);
    const FaultCase cases[] = {
        {"short read", fp_sim::SensorFault::ShortRead, true, S_OK, WINBIO_E_BAD_CAPTURE},
        {"failed read", fp_sim::SensorFault::FailedRead, true, fp_sim::kSensorIoError, S_OK},
        {"failed write", fp_sim::SensorFault::FailedWrite, true, fp_sim::kSensorIoError, S_OK},
        {"bad trailer", fp_sim::SensorFault::BadTrailer, false, kCancelledByFramework, S_OK},
        {"no frame", fp_sim::SensorFault::NoFrame, false, kCancelledByFramework, S_OK},
    };
    for (const FaultCase& c : cases) {
        SCOPED_TRACE(c.name);
        sensor_.set_fault(c.fault);
        const size_t packets_before = sensor_.packets().size();
        auto call = capture();
        if (!c.completes) {
            EXPECT_FALSE(call->wait(kStillPendingMs));  // keeps polling
            ASSERT_TRUE(host_->cancel(call));
        }
        ASSERT_TRUE(call->wait(kCompletionWaitMs));
        EXPECT_EQ(call->status(), c.status);
        const std::vector<uint8_t> out = call->output();
        if (c.fault == fp_sim::SensorFault::ShortRead) {
            EXPECT_EQ(call->information(), 17000u);
            EXPECT_EQ(u32_at(out, 4), static_cast<uint32_t>(WINBIO_E_BAD_CAPTURE));
            EXPECT_EQ(u32_at(out, 16), 0u);  // no image
            EXPECT_TRUE(std::all_of(out.begin() + 100, out.begin() + 16996, [](uint8_t b) { return b == 0xCD; }));
        } else if (c.status == fp_sim::kSensorIoError) {
            EXPECT_EQ(call->information(), 17000u);
        }
        join_capture_thread();
        EXPECT_EQ(sensor_.outstanding_reads(), 0u);
        const std::vector<fp_sim::Packet> packets = sensor_.packets();
        const std::vector<fp_sim::Packet> sent(packets.begin() + packets_before, packets.end());
        if (c.fault == fp_sim::SensorFault::FailedWrite) {
            EXPECT_TRUE(sent.empty());
        } else if (c.fault == fp_sim::SensorFault::ShortRead) {
            EXPECT_EQ(sent, std::vector<fp_sim::Packet>{start_packet()});
        } else {
            // Start, then stop once the capture fails or is abandoned.
            ASSERT_GE(sent.size(), 2u);
            EXPECT_EQ(sent.front(), start_packet());
            EXPECT_EQ(count_packets(sent, stop_packet()), sent.size() - 1);
        }
    }

    // Back to a good sensor: the next capture is whole.
    sensor_.set_fault(fp_sim::SensorFault::None);
    auto good = capture();
    ASSERT_TRUE(good->wait(kCompletionWaitMs));
    EXPECT_EQ(good->status(), S_OK);
    expect_image_reply(good->output(), sensor_.last_frame(), WINBIO_PURPOSE_VERIFY);
}

TEST_F(DriverTest, ReadThatCannotBeQueuedFailsTheCaptureAfterTheStartCommand)
{
    fp_sim::SimUsbConfig usb;
    usb.read_send_result = fp_sim::kSensorIoError;
    ASSERT_EQ(start(usb), S_OK);
    auto call = capture();
    ASSERT_TRUE(call->wait(kCompletionWaitMs));
    EXPECT_EQ(call->status(), fp_sim::kSensorIoError);
    EXPECT_EQ(call->information(), 17000u);
    join_capture_thread();
    // The start command follows the read's submission whatever its outcome;
    // the failure path then stops the sensor.
    EXPECT_EQ(sensor_.packets(), (std::vector<fp_sim::Packet>{start_packet(), stop_packet()}));
    EXPECT_EQ(sensor_.reads_submitted(), 0u);
}

TEST_F(DriverTest, DelayedFrameAndFailedAllocation)
{
    // No finger: the sensor sends nothing, the capture keeps waiting; then the
    // frame follows the finger after a delay of several polls.
    sensor_.set_finger_present(false);
    ASSERT_EQ(start(), S_OK);
    sensor_.set_frame_delay_ms(1200);  // 60 ms with the test time divisor
    auto delayed = capture();
    wait_capture_running();
    EXPECT_FALSE(delayed->wait(kStillPendingMs));
    sensor_.set_finger_present(true);
    ASSERT_TRUE(delayed->wait(kCompletionWaitMs));
    EXPECT_EQ(delayed->status(), S_OK);
    expect_image_reply(delayed->output(), sensor_.last_frame(), WINBIO_PURPOSE_VERIFY);
    join_capture_thread();

    const size_t packets_before = sensor_.packets().size();
    fpusbdrv::fail_next_read_buffer_allocations(1);
    auto starved = capture();
    ASSERT_TRUE(starved->wait(kCompletionWaitMs));
    EXPECT_EQ(starved->status(), E_OUTOFMEMORY);
    join_capture_thread();
    const std::vector<fp_sim::Packet> packets = sensor_.packets();
    ASSERT_EQ(packets.size(), packets_before + 1);  // no start, only the stop of the failure path
    EXPECT_EQ(packets.back(), stop_packet());
}

TEST_F(DriverTest, ResetCompletesThePendingCaptureAndStopsItsThread)
{
    sensor_.set_finger_present(false);
    ASSERT_EQ(start(), S_OK);
    auto pending = capture();
    wait_capture_running();

    // A reset whose output only holds the size answers the size and leaves the capture alone.
    auto sizing = ioctl(IOCTL_BIOMETRIC_RESET, {}, 4);
    ASSERT_TRUE(sizing->wait(kCompletionWaitMs));
    EXPECT_EQ(sizing->information(), 4u);
    EXPECT_FALSE(pending->wait(kStillPendingMs));

    auto reset = ioctl(IOCTL_BIOMETRIC_RESET, {}, 8);
    ASSERT_TRUE(reset->wait(kCompletionWaitMs));
    EXPECT_EQ(reset->status(), S_OK);
    EXPECT_EQ(reset->information(), 8u);
    ASSERT_TRUE(pending->completed());
    EXPECT_EQ(pending->status(), kCancelledByReset);
    EXPECT_EQ(pending->information(), 0u);
    // The reset returned after the thread stopped: its read is gone and the stop was sent.
    EXPECT_EQ(sensor_.outstanding_reads(), 0u);
    EXPECT_EQ(count_packets(sensor_.packets(), stop_packet()), 2u);

    // A finger now gives no late frame; the next capture gets its own.
    sensor_.set_finger_present(true);
    EXPECT_EQ(sensor_.frames_sent(), 0u);
    auto next = capture();
    ASSERT_TRUE(next->wait(kCompletionWaitMs));
    EXPECT_EQ(next->status(), S_OK);
    EXPECT_EQ(sensor_.frames_sent(), 1u);
    expect_image_reply(next->output(), sensor_.last_frame(), WINBIO_PURPOSE_VERIFY);
}

TEST_F(DriverTest, PowerDownAndUpMidCaptureRestartsIt)
{
    sensor_.set_finger_present(false);
    ASSERT_EQ(start(), S_OK);
    auto pending = capture();
    wait_capture_running();

    ASSERT_EQ(host_->d0_exit(WdfPowerDeviceD3), S_OK);
    EXPECT_FALSE(pending->wait(kStillPendingMs));  // nothing is completed
    EXPECT_EQ(sensor_.outstanding_reads(), 0u);     // the thread was joined
    EXPECT_EQ(count_packets(sensor_.packets(), stop_packet()), 1u);

    ASSERT_EQ(host_->d0_entry(WdfPowerDeviceD3), S_OK);
    wait_capture_running(3);  // a new start command for the same request
    EXPECT_EQ(count_packets(sensor_.packets(), start_packet()), 2u);
    sensor_.set_finger_present(true);
    ASSERT_TRUE(pending->wait(kCompletionWaitMs));
    EXPECT_EQ(pending->status(), S_OK);
    expect_image_reply(pending->output(), sensor_.last_frame(), WINBIO_PURPOSE_VERIFY);
}

TEST_F(DriverTest, PowerTransitionsThatDoNotRestart)
{
    sensor_.set_finger_present(false);
    ASSERT_EQ(start(), S_OK);

    // Cancelled while powered down: power-up starts nothing.
    auto cancelled = capture();
    wait_capture_running();
    ASSERT_EQ(host_->d0_exit(WdfPowerDeviceD2), S_OK);
    ASSERT_TRUE(host_->cancel(cancelled));
    ASSERT_TRUE(cancelled->wait(kCompletionWaitMs));
    EXPECT_EQ(cancelled->status(), kCancelledByFramework);
    // A capture that arrives while the device is down is served by its own thread.
    sensor_.set_finger_present(true);
    auto while_down = capture();
    ASSERT_TRUE(while_down->wait(kCompletionWaitMs));
    EXPECT_EQ(while_down->status(), S_OK);
    expect_image_reply(while_down->output(), sensor_.last_frame(), WINBIO_PURPOSE_VERIFY);
    ASSERT_EQ(host_->d0_entry(WdfPowerDeviceD2), S_OK);
    EXPECT_FALSE(sensor_.wait_for_outstanding_reads(1, kStillPendingMs));
    EXPECT_EQ(count_packets(sensor_.packets(), start_packet()), 2u);
    sensor_.set_finger_present(false);

    // D3Final does not pause the capture.
    auto running = capture();
    wait_capture_running(4);
    ASSERT_EQ(host_->d0_exit(WdfPowerDeviceD3Final), S_OK);
    sensor_.set_finger_present(true);
    ASSERT_TRUE(running->wait(kCompletionWaitMs));
    EXPECT_EQ(running->status(), S_OK);
    started_ = false;  // already powered down
    ASSERT_EQ(host_->release_hardware(), S_OK);
}

TEST_F(DriverTest, CaptureAfterHardwareReleasedWhilePausedCompletes)
{
    sensor_.set_finger_present(false);
    ASSERT_EQ(start(), S_OK);
    auto paused = capture();
    wait_capture_running();
    ASSERT_EQ(host_->d0_exit(WdfPowerDeviceD3), S_OK);
    ASSERT_EQ(host_->release_hardware(), S_OK);
    ASSERT_TRUE(paused->completed());
    EXPECT_EQ(paused->status(), kCancelledByReset);

    // The device comes back; the next capture is not mistaken for the paused one.
    ASSERT_EQ(host_->prepare_hardware(), S_OK);
    ASSERT_EQ(host_->d0_entry(WdfPowerDeviceD3Final), S_OK);
    sensor_.set_finger_present(true);
    auto next = capture();
    ASSERT_TRUE(next->wait(kCompletionWaitMs));
    EXPECT_EQ(next->status(), S_OK);
    expect_image_reply(next->output(), sensor_.last_frame(), WINBIO_PURPOSE_VERIFY);
}

TEST_F(DriverTest, HardwareReleaseMidCaptureJoinsBeforeDeletingTheTarget)
{
    sensor_.set_finger_present(false);
    ASSERT_EQ(start(), S_OK);
    auto pending = capture();
    wait_capture_running();

    started_ = false;
    ASSERT_EQ(host_->release_hardware(), S_OK);
    ASSERT_TRUE(pending->completed());
    EXPECT_EQ(pending->status(), kCancelledByReset);
    EXPECT_EQ(pending->information(), 0u);
    EXPECT_FALSE(host_->queue_started());
    EXPECT_TRUE(host_->usb_target_deleted());
    // The thread's stop commands reached the sensor before the target went.
    EXPECT_EQ(host_->faults().sent_after_target_deleted, 0);
    EXPECT_EQ(count_packets(sensor_.packets(), stop_packet()), 2u);
    EXPECT_EQ(sensor_.outstanding_reads(), 0u);
}

TEST_F(DriverTest, HardwarePreparationChecksTheInterface)
{
    struct Case {
        const char* name;
        fp_sim::SimUsbConfig usb;
        HRESULT expected;
    };
    fp_sim::SimUsbConfig three;
    three.endpoints.push_back({true, UsbdPipeTypeInterrupt});
    fp_sim::SimUsbConfig two_in;
    two_in.endpoints = {{true, UsbdPipeTypeBulk}, {true, UsbdPipeTypeInterrupt}};
    fp_sim::SimUsbConfig pipe_fails;
    pipe_fails.endpoints[1].retrieve_fails = true;
    fp_sim::SimUsbConfig policy_fails;
    policy_fails.power_policy_results[SUSPEND_DELAY] = kPolicyRefused;
    const Case cases[] = {
        {"three endpoints", three, E_UNEXPECTED},
        {"no bulk out", two_in, E_UNEXPECTED},
        {"pipe not retrieved", pipe_fails, E_UNEXPECTED},
        {"power policy", policy_fails, kPolicyRefused},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(start(c.usb), c.expected);
        EXPECT_FALSE(host_->queue_started());
        if (c.expected == kPolicyRefused) {
            EXPECT_TRUE(host_->power_policy().empty());  // AUTO_SUSPEND is skipped
        }
        host_->release_hardware();
        host_->unload();
        host_.reset();
    }
}

TEST_F(DriverTest, ParallelControlsBesideCapturesAndCancels)
{
    ASSERT_EQ(start(), S_OK);
    sensor_.set_frame_delay_ms(100);
    for (int round = 0; round < 12; ++round) {
        SCOPED_TRACE(round);
        auto call = capture();
        std::vector<std::shared_ptr<fp_sim::IoctlCall>> others;
        for (ULONG code : {IOCTL_BIOMETRIC_GET_ATTRIBUTES, IOCTL_BIOMETRIC_GET_SENSOR_STATUS,
                           IOCTL_BIOMETRIC_CALIBRATE, IOCTL_BIOMETRIC_CAPTURE_DATA}) {
            others.push_back(ioctl(code, capture_parameters(), 17000));
        }
        if (round % 3 == 1) {
            host_->cancel(call);  // may race the frame's completion
        } else if (round % 3 == 2) {
            others.push_back(ioctl(IOCTL_BIOMETRIC_RESET, {}, 8));
        }
        ASSERT_TRUE(call->wait(kCompletionWaitMs));
        for (auto& other : others) {
            ASSERT_TRUE(other->wait(kCompletionWaitMs));
        }
        const HRESULT status = call->status();
        EXPECT_TRUE(status == S_OK || status == kCancelledByFramework || status == kCancelledByReset ||
                    status == WINBIO_E_DATA_COLLECTION_IN_PROGRESS)
            << std::hex << status;
        if (status == S_OK && u32_at(call->output(), 4) == 0) {
            EXPECT_EQ(call->output()[16995], 4);
        }
        join_capture_thread();
    }
}

}  // namespace
}  // namespace driver_test
