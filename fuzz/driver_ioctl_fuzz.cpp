// The driver's biometric I/O controls through the simulated driver host. The
// input is a sequence of requests, each: a selector byte (low four bits pick
// the control code, bit 7 sends the next request without waiting for this
// one), a big-endian u16 output size, an input length byte and that many
// input bytes. Every request completes, with a result and a reply from the
// documented set, and the host sees no framework rule broken.
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "biometric_driver.h"
#include "capture_data.h"
#include "fuzz_support.h"
#include "match_section.h"
#include "sim_host.h"
#include "sim_sensor.h"
#include "win_section.h"
#include "win_sync.h"
#include "winbio_types.h"

namespace {

constexpr DWORD kTimeDivisor = 20;           // the driver's 100 ms polls become 5 ms
constexpr DWORD kCompletionWaitMs = 10000;   // real time; a request still open after it has hung
constexpr size_t kMaxRequests = 8;

constexpr HRESULT kInvalidFunction = HRESULT_FROM_WIN32(ERROR_INVALID_FUNCTION);
constexpr HRESULT kCancelledByReset = hresult_of(0x800704C7u);
constexpr HRESULT kCancelledByFramework = hresult_of(0x800703E3u);
constexpr HRESULT kCaptureBusy = hresult_of(0x8009800Bu);

constexpr ULONG kCodes[] = {
    IOCTL_BIOMETRIC_GET_ATTRIBUTES, IOCTL_BIOMETRIC_RESET, IOCTL_BIOMETRIC_CALIBRATE,
    IOCTL_BIOMETRIC_GET_SENSOR_STATUS, IOCTL_BIOMETRIC_CAPTURE_DATA, IOCTL_BIOMETRIC_UPDATE_FIRMWARE,
    IOCTL_BIOMETRIC_GET_SUPPORTED_ALGORITHMS, IOCTL_BIOMETRIC_GET_INDICATOR, IOCTL_BIOMETRIC_SET_INDICATOR,
};
constexpr size_t kCodeFromInput = std::size(kCodes);  // selector value: the code is the input's first u32

// The host keeps every dispatch thread until it unloads the driver: a new
// host after this many inputs bounds them.
constexpr uint32_t kInputsPerHost = 256;

struct Fixture {
    fp_sim::SimSensor sensor;
    std::unique_ptr<fp_sim::SimHost> host;
    uint32_t inputs = 0;
};
Fixture* g_fixture = nullptr;

void start_host() {
    g_fixture->host = std::make_unique<fp_sim::SimHost>(&DllGetClassObject, fpusbdrv::CLSID_BiometricDriver,
                                                        g_fixture->sensor);
    FUZZ_CHECK(g_fixture->host->start() == S_OK);
    g_fixture->inputs = 0;
}

void stop_host() {
    FUZZ_CHECK(g_fixture->host->remove_device() == S_OK);
    g_fixture->host->unload();
    g_fixture->host.reset();
}

struct Request {
    ULONG code;
    size_t output_size;
    std::shared_ptr<fp_sim::IoctlCall> call;
};

// Full reply size of a fixed-reply control; 0 for the others.
ULONG fixed_reply_size(ULONG code) {
    switch (code) {
        case IOCTL_BIOMETRIC_GET_ATTRIBUTES: return fpusbdrv::kAttributesPayloadSize;
        case IOCTL_BIOMETRIC_RESET: return fpusbdrv::kBlankPayloadSize;
        case IOCTL_BIOMETRIC_CALIBRATE: return fpusbdrv::kCalibrationPayloadSize;
        case IOCTL_BIOMETRIC_GET_SENSOR_STATUS: return fpusbdrv::kDiagnosticsPayloadSize;
        default: return 0;
    }
}

uint32_t u32_at(const std::vector<uint8_t>& bytes, size_t offset) {
    uint32_t value = 0;
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

void check_fixed_reply(const Request& r, ULONG full_size) {
    const std::vector<uint8_t> out = r.call->output();
    if (r.output_size < 4) {
        FUZZ_CHECK(r.call->status() == E_INVALIDARG && r.call->information() == 0);
    } else if (r.output_size < full_size) {
        FUZZ_CHECK(r.call->status() == S_OK && r.call->information() == 4 && u32_at(out, 0) == full_size);
    } else {
        FUZZ_CHECK(r.call->status() == S_OK && r.call->information() == full_size);
        FUZZ_CHECK(u32_at(out, 0) == full_size && u32_at(out, 4) == 0);
    }
}

void check_capture(const Request& r) {
    const HRESULT status = r.call->status();
    const ULONG_PTR information = r.call->information();
    const std::vector<uint8_t> out = r.call->output();
    if (status == E_INVALIDARG || status == kCaptureBusy || status == kCancelledByReset ||
        status == kCancelledByFramework || status == E_ABORT) {
        FUZZ_CHECK(information == 0);
        return;
    }
    FUZZ_CHECK(status == S_OK);
    if (information == 4) {
        FUZZ_CHECK(r.output_size < fpusbdrv::kCapturePayloadSize && u32_at(out, 0) == fpusbdrv::kCapturePayloadSize);
        return;
    }
    FUZZ_CHECK(information == fpusbdrv::kCapturePayloadSize && r.output_size >= information);
    FUZZ_CHECK(u32_at(out, 0) == fpusbdrv::kCapturePayloadSize);
    const HRESULT reply_result = static_cast<HRESULT>(u32_at(out, 4));
    if (reply_result != S_OK) {
        FUZZ_CHECK(reply_result == WINBIO_E_UNSUPPORTED_PURPOSE || reply_result == WINBIO_E_UNSUPPORTED_DATA_FORMAT ||
                   reply_result == WINBIO_E_UNSUPPORTED_DATA_TYPE);
        return;
    }
    // A completed capture: the whole record with the frame and its trailer.
    FUZZ_CHECK(u32_at(out, 8) == WINBIO_SENSOR_ACCEPT && u32_at(out, 16) == fpusbdrv::kCaptureDataSize);
    const size_t trailer = fpusbdrv::kReplyImageOffset + fpusbdrv::kFrameTrailerOffset;
    FUZZ_CHECK(out[trailer] == 1 && out[trailer + 1] == 2 && out[trailer + 2] == 3 && out[trailer + 3] == 4);
}

void check_reply(const Request& r) {
    FUZZ_CHECK(r.call->information() <= r.output_size);
    switch (r.code) {
        case IOCTL_BIOMETRIC_CAPTURE_DATA:
            check_capture(r);
            return;
        case IOCTL_BIOMETRIC_UPDATE_FIRMWARE:
        case IOCTL_BIOMETRIC_GET_SUPPORTED_ALGORITHMS:
        case IOCTL_BIOMETRIC_GET_INDICATOR:
        case IOCTL_BIOMETRIC_SET_INDICATOR:
            FUZZ_CHECK(r.call->status() == E_NOTIMPL);
            return;
        default:
            break;
    }
    if (const ULONG full_size = fixed_reply_size(r.code); full_size != 0) {
        check_fixed_reply(r, full_size);
    } else if ((r.code & IOCTL_BIOMETRIC_VENDOR) == IOCTL_BIOMETRIC_VENDOR) {
        FUZZ_CHECK(r.call->status() == E_NOTIMPL);
    } else {
        FUZZ_CHECK(r.call->status() == kInvalidFunction);
    }
}

void wait_for(const Request& r) {
    FUZZ_CHECK(r.call->wait(kCompletionWaitMs));
    check_reply(r);
}

}  // namespace

// Runs before libFuzzer reads its flags. The per-input leak check is turned
// off: the host's dispatch threads outlive each input by design, and the
// check would stop the world after every one of them.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static std::vector<char*> arguments(*argv, *argv + *argc);
    static char no_leak_check[] = "-detect_leaks=0";
    arguments.push_back(no_leak_check);
    arguments.push_back(nullptr);
    *argc = int(arguments.size() - 1);
    *argv = arguments.data();

    fp_platform::set_time_divisor(kTimeDivisor);
    // Each fuzzing process (fork mode runs several) has its own section names.
    fp_platform::set_section_name_prefix("fpfuzz_" + std::to_string(::getpid()) + "_");
    g_fixture = new Fixture;
    start_host();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (++g_fixture->inputs > kInputsPerHost) {
        stop_host();
        start_host();
    }
    fp_sim::SimHost& host = *g_fixture->host;
    fuzz::FieldReader fields(data, size);
    std::vector<Request> requests;
    while (requests.size() < kMaxRequests && fields.rest_size() != 0) {
        const uint8_t selector = fields.u8();
        const size_t output_size = fields.u16();
        const uint8_t* input = nullptr;
        const size_t input_size = fields.take(fields.u8(), &input);
        const size_t pick = (selector & 0x0F) % (kCodeFromInput + 1);
        ULONG code = 0;
        if (pick == kCodeFromInput) {
            std::memcpy(&code, input, input_size < sizeof code ? input_size : sizeof code);
        } else {
            code = kCodes[pick];
        }
        Request r{code, output_size, host.send_ioctl(code, std::vector<uint8_t>(input, input + input_size), output_size)};
        if ((selector & 0x80) == 0) wait_for(r);
        requests.push_back(std::move(r));
    }
    for (const Request& r : requests) wait_for(r);

    const fp_sim::HostFaults faults = host.faults();
    FUZZ_CHECK(faults.completed_twice == 0 && faults.completed_while_cancelable == 0 &&
               faults.sent_after_target_deleted == 0 && faults.queue_stop_timeouts == 0);
    return 0;
}
