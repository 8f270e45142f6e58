#include "sim_sensor.h"

#include <chrono>
#include <cstring>

#include "win_sync.h"

namespace fp_sim {
namespace {

constexpr HRESULT kReadAborted = hresult_of(0x800703E3u);  // HRESULT_FROM_WIN32(ERROR_OPERATION_ABORTED)

uint32_t load_u32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }

void store_u32(uint8_t* p, uint32_t value)
{
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

std::chrono::milliseconds scaled(DWORD milliseconds)
{
    return std::chrono::milliseconds(fp_platform::scaled_milliseconds(milliseconds));
}

}  // namespace

SimSensor::SimSensor() : worker_([this] { run(); }) {}

SimSensor::~SimSensor()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        for (PendingRead& read : reads_) {
            read.cancelled = true;
        }
        changed_.notify_all();
    }
    worker_.join();
}

Packet SimSensor::command_packet(uint32_t word_a, uint32_t word_b)
{
    Packet packet{};
    store_u32(packet.data(), kCommandSignature);
    store_u32(packet.data() + 4, word_a);
    store_u32(packet.data() + 8, word_b);
    return packet;
}

void SimSensor::set_fault(SensorFault fault)
{
    std::lock_guard<std::mutex> lock(mutex_);
    fault_ = fault;
}

void SimSensor::set_frame_delay_ms(DWORD milliseconds)
{
    std::lock_guard<std::mutex> lock(mutex_);
    frame_delay_ms_ = milliseconds;
}

void SimSensor::set_cancel_delay_ms(DWORD milliseconds)
{
    std::lock_guard<std::mutex> lock(mutex_);
    cancel_delay_ms_ = milliseconds;
}

void SimSensor::mark_cancelled_locked(PendingRead& read)
{
    read.cancelled = true;
    read.cancel_time = std::chrono::steady_clock::now() + scaled(cancel_delay_ms_);
}

void SimSensor::set_finger_present(bool present)
{
    std::lock_guard<std::mutex> lock(mutex_);
    finger_present_ = present;
    schedule_frame_locked();
    changed_.notify_all();
}

bool SimSensor::set_frame_image(std::vector<uint8_t> image)
{
    if (!image.empty() && image.size() != kFrameBytes) {
        return false;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    frame_image_ = std::move(image);
    return true;
}

HRESULT SimSensor::write(const uint8_t* data, size_t size, size_t* written)
{
    std::lock_guard<std::mutex> lock(mutex_);
    ++write_attempts_;
    *written = 0;
    if (fault_ == SensorFault::FailedWrite) {
        changed_.notify_all();
        return kSensorIoError;
    }
    if (size != kCommandPacketBytes || load_u32(data) != kCommandSignature) {
        changed_.notify_all();
        return kSensorIoError;
    }
    Packet packet;
    std::memcpy(packet.data(), data, kCommandPacketBytes);
    packets_.push_back(packet);
    *written = size;
    const uint32_t word_a = load_u32(data + 4);
    const uint32_t word_b = load_u32(data + 8);
    if (word_a == kStartWordA) {
        armed_ = true;
        frame_due_ = false;
        schedule_frame_locked();
    } else if (word_a == kStopWordA && word_b == kStopWordB) {
        armed_ = false;
        frame_due_ = false;
    }
    changed_.notify_all();
    return S_OK;
}

uint64_t SimSensor::submit_read(uint8_t* buffer, size_t size, ReadCompletion completion)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const uint64_t id = next_read_id_++;
    reads_.push_back(PendingRead{id, buffer, size, std::move(completion)});
    ++reads_submitted_;
    schedule_frame_locked();
    changed_.notify_all();
    return id;
}

bool SimSensor::cancel_read(uint64_t id)
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (PendingRead& read : reads_) {
        if (read.id == id && !read.cancelled) {
            mark_cancelled_locked(read);
            changed_.notify_all();
            return true;
        }
    }
    return false;
}

void SimSensor::cancel_all_reads()
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (PendingRead& read : reads_) {
        if (!read.cancelled) {
            mark_cancelled_locked(read);
        }
    }
    changed_.notify_all();
}

std::deque<SimSensor::PendingRead>::iterator SimSensor::live_read_locked()
{
    for (auto it = reads_.begin(); it != reads_.end(); ++it) {
        if (!it->cancelled) {
            return it;
        }
    }
    return reads_.end();
}

void SimSensor::schedule_frame_locked()
{
    if (armed_ && finger_present_ && !frame_due_ && live_read_locked() != reads_.end() &&
        fault_ != SensorFault::NoFrame) {
        frame_due_ = true;
        frame_time_ = std::chrono::steady_clock::now() + scaled(frame_delay_ms_);
    }
}

void SimSensor::fill_frame_locked(PendingRead& read, HRESULT* status, size_t* bytes)
{
    std::vector<uint8_t> frame(kFrameBytes);
    const size_t sequence = frames_sent_;
    if (!frame_image_.empty()) {
        frame = frame_image_;
    } else {
        for (size_t row = 0; row < 176; ++row) {
            for (size_t column = 0; column < 96; ++column) {
                frame[row * 96 + column] = static_cast<uint8_t>(row * 3 + column * 5 + sequence * 11 + 1);
            }
        }
    }
    const uint8_t trailer[4] = {1, 2, 3, 4};
    std::memcpy(frame.data() + kFrameTrailerOffset, trailer, 4);
    if (fault_ == SensorFault::BadTrailer) {
        frame[kFrameTrailerOffset + 3] = 0xEE;
    }
    *status = S_OK;
    *bytes = fault_ == SensorFault::ShortRead ? kShortReadBytes : kFrameBytes;
    if (fault_ == SensorFault::FailedRead) {
        *status = kSensorIoError;
        *bytes = 0;
    }
    *bytes = *bytes < read.size ? *bytes : read.size;
    std::memcpy(read.buffer, frame.data(), *bytes);
    last_frame_ = std::move(frame);
    ++frames_sent_;
}

void SimSensor::run()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        // Cancelled reads complete first, then a due frame.
        const auto now = std::chrono::steady_clock::now();
        auto cancelled = reads_.end();
        auto next_wake = std::chrono::steady_clock::time_point::max();
        for (auto it = reads_.begin(); it != reads_.end(); ++it) {
            if (it->cancelled && (it->cancel_time <= now || stopping_)) {
                cancelled = it;
                break;
            }
            if (it->cancelled && it->cancel_time < next_wake) {
                next_wake = it->cancel_time;
            }
        }
        if (frame_due_ && live_read_locked() != reads_.end() && frame_time_ < next_wake) {
            next_wake = frame_time_;
        }
        PendingRead finished{};
        HRESULT status = S_OK;
        size_t bytes = 0;
        bool have_completion = false;
        if (cancelled != reads_.end()) {
            finished = std::move(*cancelled);
            reads_.erase(cancelled);
            status = kReadAborted;
            have_completion = true;
        } else if (frame_due_ && now >= frame_time_ && live_read_locked() != reads_.end()) {
            auto target = live_read_locked();
            finished = std::move(*target);
            reads_.erase(target);
            fill_frame_locked(finished, &status, &bytes);
            frame_due_ = false;
            armed_ = false;
            have_completion = true;
        }
        if (have_completion) {
            ++completing_;
            lock.unlock();
            finished.completion(status, bytes);
            finished.completion = nullptr;
            lock.lock();
            --completing_;
            changed_.notify_all();
            continue;
        }
        if (stopping_ && reads_.empty()) {
            return;
        }
        if (next_wake != std::chrono::steady_clock::time_point::max()) {
            changed_.wait_until(lock, next_wake);
        } else {
            changed_.wait(lock);
        }
    }
}

std::vector<Packet> SimSensor::packets() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return packets_;
}

size_t SimSensor::write_attempts() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return write_attempts_;
}

size_t SimSensor::outstanding_reads() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return reads_.size();
}

size_t SimSensor::reads_submitted() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return reads_submitted_;
}

size_t SimSensor::frames_sent() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_sent_;
}

std::vector<uint8_t> SimSensor::last_frame() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return last_frame_;
}

bool SimSensor::wait_for_packets(size_t count, DWORD milliseconds) const
{
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                             [&] { return packets_.size() >= count; });
}

bool SimSensor::wait_for_outstanding_reads(size_t count, DWORD milliseconds) const
{
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                             [&] { return reads_.size() >= count; });
}

bool SimSensor::wait_until_idle(DWORD milliseconds) const
{
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                             [&] { return reads_.empty() && completing_ == 0; });
}

}  // namespace fp_sim
