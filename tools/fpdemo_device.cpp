#include "fpdemo_device.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "sim_biometric_service.h"

extern char** environ;

namespace fpdemo {
namespace {

// Real milliseconds a capture may take before it counts as lost.
constexpr DWORD kCaptureLimitMs = 30000;
// After a failed capture the driver's thread still sends its stop command.
constexpr DWORD kLateStopLimitMs = 3000;
constexpr size_t kReplyBytes = sizeof(WINBIO_CAPTURE_DATA) + 16976;
// The descriptors the child finds its pipes on.
constexpr int kChildRequestFd = 100;
constexpr int kChildReplyFd = 101;

bool is_start(const fp_sim::Packet& p) {
    uint32_t a = 0;
    std::memcpy(&a, p.data() + 4, 4);
    return a == fp_sim::kStartWordA;
}

bool is_stop(const fp_sim::Packet& p) {
    uint32_t a = 0, b = 0;
    std::memcpy(&a, p.data() + 4, 4);
    std::memcpy(&b, p.data() + 8, 4);
    return a == fp_sim::kStopWordA && b == fp_sim::kStopWordB;
}

bool read_all(int fd, void* data, size_t size) {
    auto* p = static_cast<uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = ::read(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool write_all(int fd, const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

HostedDevice::HostedDevice(DllGetClassObjectFunction get_class_object, const CLSID& clsid)
    : host_(std::make_unique<fp_sim::SimHost>(get_class_object, clsid, sensor_)) {}

HostedDevice::~HostedDevice() {
    if (started_) host_->remove_device();
    host_->unload();
    host_.reset();
    sensor_.wait_until_idle(kCaptureLimitMs);
}

HRESULT HostedDevice::start() {
    const HRESULT hr = host_->start();
    started_ = SUCCEEDED(hr);
    return hr;
}

Capture HostedDevice::capture(const std::vector<uint8_t>& image, WINBIO_BIR_PURPOSE purpose) {
    Capture out;
    if (!sensor_.set_frame_image(image)) {
        out.status = E_INVALIDARG;
        return out;
    }
    const size_t before = sensor_.packets().size();
    auto call = host_->send_ioctl(IOCTL_BIOMETRIC_CAPTURE_DATA, sim_capture_parameters(purpose), kReplyBytes);
    if (!call->wait(kCaptureLimitMs)) {
        host_->cancel(call);
        call->wait(kCaptureLimitMs);
        out.status = HRESULT_FROM_WIN32(ERROR_TIMEOUT);
        return out;
    }
    out.status = call->status();
    if (FAILED(out.status)) sensor_.wait_for_packets(before + 2, kLateStopLimitMs);
    const std::vector<fp_sim::Packet> packets = sensor_.packets();
    for (size_t i = before; i < packets.size(); ++i) {
        out.start_packets += is_start(packets[i]);
        out.stop_packets += is_stop(packets[i]);
    }
    if (out.status == S_OK) {
        const std::vector<uint8_t> reply = call->output();
        out.sample = sim_sample_from_capture_reply(reply.data(), reply.size());
        WINBIO_CAPTURE_DATA head{};
        if (reply.size() >= sizeof head) std::memcpy(&head, reply.data(), sizeof head);
        if (out.sample.empty() || head.WinBioHresult != S_OK) out.status = E_FAIL;
    }
    return out;
}

ChildDevice::~ChildDevice() { stop(); }

HRESULT ChildDevice::start(const std::string& program, const std::vector<std::string>& arguments) {
    if (child_ > 0) return E_UNEXPECTED;
    int requests[2], replies[2];
    if (::pipe2(requests, O_CLOEXEC) != 0) return E_FAIL;
    if (::pipe2(replies, O_CLOEXEC) != 0) {
        ::close(requests[0]);
        ::close(requests[1]);
        return E_FAIL;
    }
    // A child that dies must not take this process with it.
    ::signal(SIGPIPE, SIG_IGN);
    std::vector<std::string> args{program};
    args.insert(args.end(), arguments.begin(), arguments.end());
    args.push_back(std::to_string(kChildRequestFd));
    args.push_back(std::to_string(kChildReplyFd));
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, requests[0], kChildRequestFd);
    posix_spawn_file_actions_adddup2(&actions, replies[1], kChildReplyFd);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(requests[0]);
    ::close(replies[1]);
    if (rc != 0) {
        ::close(requests[1]);
        ::close(replies[0]);
        return E_FAIL;
    }
    child_ = pid;
    requests_ = requests[1];
    replies_ = replies[0];
    int32_t ready = E_FAIL;
    if (!read_all(replies_, &ready, sizeof ready)) ready = E_FAIL;
    if (FAILED(ready)) stop();
    return ready;
}

Capture ChildDevice::capture(const std::vector<uint8_t>& image, WINBIO_BIR_PURPOSE purpose) {
    Capture out;
    if (child_ <= 0 || image.size() != fp_sim::kFrameBytes) {
        out.status = E_UNEXPECTED;
        return out;
    }
    const uint32_t request = purpose;
    if (!write_all(requests_, &request, sizeof request) || !write_all(requests_, image.data(), image.size()))
        return out;
    int32_t status = E_FAIL;
    uint32_t head[3] = {};
    if (!read_all(replies_, &status, sizeof status) || !read_all(replies_, head, sizeof head)) return out;
    if (head[2] > kReplyBytes) return out;
    out.sample.resize(head[2]);
    if (!read_all(replies_, out.sample.data(), out.sample.size())) {
        out.sample.clear();
        return out;
    }
    out.status = status;
    out.start_packets = head[0];
    out.stop_packets = head[1];
    return out;
}

int ChildDevice::stop() {
    if (child_ <= 0) return -1;
    ::close(requests_);
    ::close(replies_);
    requests_ = replies_ = -1;
    int status = 0;
    while (::waitpid(child_, &status, 0) < 0 && errno == EINTR) {
    }
    child_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

int serve_captures(int request_fd, int reply_fd, DllGetClassObjectFunction get_class_object, const CLSID& clsid) {
    int32_t ready = E_FAIL;
    {
        HostedDevice device(get_class_object, clsid);
        ready = device.start();
        if (!write_all(reply_fd, &ready, sizeof ready) || FAILED(ready)) return 1;
        std::vector<uint8_t> image(fp_sim::kFrameBytes);
        uint32_t purpose = 0;
        while (read_all(request_fd, &purpose, sizeof purpose)) {
            if (!read_all(request_fd, image.data(), image.size())) return 1;
            const Capture c = device.capture(image, static_cast<WINBIO_BIR_PURPOSE>(purpose));
            const int32_t status = c.status;
            const uint32_t head[3] = {c.start_packets, c.stop_packets, static_cast<uint32_t>(c.sample.size())};
            if (!write_all(reply_fd, &status, sizeof status) || !write_all(reply_fd, head, sizeof head) ||
                !write_all(reply_fd, c.sample.data(), c.sample.size()))
                return 1;
        }
    }
    return 0;
}

}  // namespace fpdemo
