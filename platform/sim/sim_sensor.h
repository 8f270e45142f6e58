// Simulated USB fingerprint sensor. It understands the 64-byte command
// packets written to its bulk-out pipe and answers a queued bulk-in read with
// one 16896-byte frame after each start command. Fault modes let tests
// exercise the driver's error paths. Read completions are delivered on the
// sensor's own thread, as a USB stack would.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "win_types.h"

namespace fp_sim {

constexpr size_t kCommandPacketBytes = 64;
constexpr size_t kFrameBytes = 16896;
constexpr size_t kFrameTrailerOffset = kFrameBytes - 4;
constexpr size_t kShortReadBytes = 16000;
constexpr uint32_t kCommandSignature = 0x01020304;
constexpr uint32_t kStartWordA = 0x003900D3;
constexpr uint32_t kStopWordA = 0x00000091;
constexpr uint32_t kStopWordB = 0xFF000000;
static_assert(kFrameTrailerOffset == 16892);

enum class SensorFault {
    None,         // complete frame with its trailer
    ShortRead,    // the read completes with 16000 bytes
    FailedRead,   // the read completes with an error
    BadTrailer,   // complete frame whose last four bytes are not the trailer
    NoFrame,      // the read never completes (until cancelled)
    FailedWrite,  // every command write fails
};

constexpr HRESULT kSensorIoError = hresult_of(0x8007001Fu);  // HRESULT_FROM_WIN32(ERROR_GEN_FAILURE)

using Packet = std::array<uint8_t, kCommandPacketBytes>;
using ReadCompletion = std::function<void(HRESULT status, size_t bytes)>;

class SimSensor {
public:
    SimSensor();
    ~SimSensor();
    SimSensor(const SimSensor&) = delete;
    SimSensor& operator=(const SimSensor&) = delete;

    void set_fault(SensorFault fault);
    // Delay between the start command (with a read queued) and the frame.
    void set_frame_delay_ms(DWORD milliseconds);
    // Delay before a cancelled read completes.
    void set_cancel_delay_ms(DWORD milliseconds);
    // Without a finger the sensor sends no frame until one is presented.
    void set_finger_present(bool present);
    // The finger's image (16896 bytes) that every later frame carries, its
    // last four bytes replaced by the trailer; an empty image restores the
    // sensor's own test pattern. Any other size is refused (false).
    bool set_frame_image(std::vector<uint8_t> image);

    // All delays are in milliseconds divided by the platform's time divisor.
    // Bulk-out: one command packet. Returns the transfer status.
    HRESULT write(const uint8_t* data, size_t size, size_t* written);
    // Bulk-in: queues a read into buffer; returns its id for cancellation.
    uint64_t submit_read(uint8_t* buffer, size_t size, ReadCompletion completion);
    // Completes a queued read as aborted; false when it is not queued.
    bool cancel_read(uint64_t id);
    void cancel_all_reads();

    // Observations for tests.
    std::vector<Packet> packets() const;
    size_t write_attempts() const;
    size_t outstanding_reads() const;
    size_t reads_submitted() const;
    size_t frames_sent() const;
    std::vector<uint8_t> last_frame() const;
    bool wait_for_packets(size_t count, DWORD milliseconds) const;
    bool wait_for_outstanding_reads(size_t count, DWORD milliseconds) const;
    bool wait_until_idle(DWORD milliseconds) const;  // no read queued, nothing being completed

    static Packet command_packet(uint32_t word_a, uint32_t word_b);

private:
    struct PendingRead {
        uint64_t id;
        uint8_t* buffer;
        size_t size;
        ReadCompletion completion;
        bool cancelled = false;
        std::chrono::steady_clock::time_point cancel_time{};
    };

    void run();
    void schedule_frame_locked();
    std::deque<PendingRead>::iterator live_read_locked();
    void mark_cancelled_locked(PendingRead& read);
    void fill_frame_locked(PendingRead& read, HRESULT* status, size_t* bytes);

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::deque<PendingRead> reads_;
    std::vector<Packet> packets_;
    std::vector<uint8_t> last_frame_;
    std::vector<uint8_t> frame_image_;
    SensorFault fault_ = SensorFault::None;
    DWORD frame_delay_ms_ = 0;
    DWORD cancel_delay_ms_ = 0;
    bool finger_present_ = true;
    bool armed_ = false;
    bool frame_due_ = false;
    std::chrono::steady_clock::time_point frame_time_;
    size_t write_attempts_ = 0;
    size_t reads_submitted_ = 0;
    size_t frames_sent_ = 0;
    size_t completing_ = 0;
    uint64_t next_read_id_ = 1;
    bool stopping_ = false;
    std::thread worker_;
};

}  // namespace fp_sim
