// The capture side of the demo: the USB sensor driver under the simulated
// driver host, whose simulated sensor plays the finger images it is given.
// It runs in this process, or in a child process reached over two pipes (so
// that the driver and the engine adapter share the match section across
// processes).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim_host.h"
#include "sim_sensor.h"
#include "umdf_com.h"
#include "winbio_types.h"

namespace fpdemo {

// One capture request as the service's sensor adapter sees it.
struct Capture {
    HRESULT status = E_FAIL;          // the request's completion status
    std::vector<uint8_t> sample;      // the reply's sample record (empty unless S_OK)
    uint32_t start_packets = 0;       // command packets the sensor received during it
    uint32_t stop_packets = 0;
};

class CaptureDevice {
public:
    virtual ~CaptureDevice() = default;
    // Presents `image` (176 x 96) on the sensor and sends one capture request
    // for `purpose`; returns when the driver completed it.
    virtual Capture capture(const std::vector<uint8_t>& image, WINBIO_BIR_PURPOSE purpose) = 0;
};

// The driver (reached through its class object) under the simulated host in
// this process.
class HostedDevice final : public CaptureDevice {
public:
    HostedDevice(DllGetClassObjectFunction get_class_object, const CLSID& clsid);
    ~HostedDevice() override;
    HostedDevice(const HostedDevice&) = delete;
    HostedDevice& operator=(const HostedDevice&) = delete;

    // Loads the driver, adds the device, prepares the hardware, enters D0.
    HRESULT start();
    Capture capture(const std::vector<uint8_t>& image, WINBIO_BIR_PURPOSE purpose) override;

private:
    fp_sim::SimSensor sensor_;
    std::unique_ptr<fp_sim::SimHost> host_;
    bool started_ = false;
};

// A child process serving captures (see serve_captures) over two pipes.
class ChildDevice final : public CaptureDevice {
public:
    ChildDevice() = default;
    ~ChildDevice() override;
    ChildDevice(const ChildDevice&) = delete;
    ChildDevice& operator=(const ChildDevice&) = delete;

    // Starts `program` with `arguments` followed by the two descriptors it
    // reads requests from and writes replies to; S_OK once it reports ready.
    HRESULT start(const std::string& program, const std::vector<std::string>& arguments);
    Capture capture(const std::vector<uint8_t>& image, WINBIO_BIR_PURPOSE purpose) override;
    // Closes the request pipe and waits for the child; its exit status.
    int stop();

private:
    pid_t child_ = -1;
    int requests_ = -1;
    int replies_ = -1;
};

// The child's side: starts a HostedDevice and serves requests until the
// request pipe closes. Returns the process exit status.
int serve_captures(int request_fd, int reply_fd, DllGetClassObjectFunction get_class_object, const CLSID& clsid);

}  // namespace fpdemo
