// Simulated driver host: loads a driver through its class object, adds the
// device, drives Plug and Play and power transitions, and dispatches device
// I/O control requests on parallel threads as the framework's queue does.
// The USB target device, its interface and pipes route to a SimSensor.
#pragma once

#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim_sensor.h"
#include "umdf_interfaces.h"

namespace fp_sim {

class SimDevice;
class SimDriver;
class SimIoRequest;

struct EndpointSpec {
    bool in = true;
    WINUSB_PIPE_TYPE type = UsbdPipeTypeBulk;
    bool retrieve_fails = false;
};

// Interface 0 of the sensor: a bulk-in and a bulk-out endpoint.
std::vector<EndpointSpec> sensor_endpoints();

struct SimUsbConfig {
    std::vector<EndpointSpec> endpoints = sensor_endpoints();
    std::map<ULONG, HRESULT> power_policy_results;  // by policy type; S_OK when absent
    UCHAR device_speed = 2;
    HRESULT read_send_result = S_OK;  // a failure refuses every bulk-in read at submission
};

// Host-side faults: driver actions the framework would not accept.
struct HostFaults {
    int completed_twice = 0;
    int completed_while_cancelable = 0;   // completed without UnmarkCancelable
    int completed_while_cancelling = 0;   // completed during a cancel, not by its callback
    int sent_after_target_deleted = 0;
    int queue_stop_timeouts = 0;
};

// An I/O control request sent by a test; completes when the driver completes it.
class IoctlCall {
public:
    bool wait(DWORD milliseconds) const;  // real milliseconds
    bool completed() const;
    HRESULT status() const;
    ULONG_PTR information() const;
    std::vector<uint8_t> output() const;  // the output buffer as the driver left it

private:
    friend class SimHost;
    friend class SimIoRequest;
    void complete(HRESULT status, ULONG_PTR information, const std::vector<uint8_t>& output);

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    bool completed_ = false;
    HRESULT status_ = S_OK;
    ULONG_PTR information_ = 0;
    std::vector<uint8_t> output_;
    ComPtr<SimIoRequest> request_;
};

class SimHost {
public:
    SimHost(DllGetClassObjectFunction get_class_object, const CLSID& clsid, SimSensor& sensor,
            SimUsbConfig usb = {});
    ~SimHost();
    SimHost(const SimHost&) = delete;
    SimHost& operator=(const SimHost&) = delete;

    HRESULT load_driver();
    HRESULT add_device();
    HRESULT prepare_hardware();
    HRESULT release_hardware();
    HRESULT d0_entry(WDF_POWER_DEVICE_STATE previous_state);
    HRESULT d0_exit(WDF_POWER_DEVICE_STATE target_state);
    void surprise_removal();
    HRESULT query_remove();
    HRESULT query_stop();
    // load_driver, add_device, prepare_hardware and D0 entry from D3Final.
    HRESULT start();
    // Power down to D3Final and release the hardware, as on device removal.
    HRESULT remove_device();
    // Removes the device and unloads the driver; waits for dispatch threads.
    void unload();

    std::shared_ptr<IoctlCall> send_ioctl(ULONG control_code, std::vector<uint8_t> input, size_t output_size);
    // Cancels the request as the framework would; false when it was not cancelable.
    bool cancel(const std::shared_ptr<IoctlCall>& call);

    // Test seam: while held, a cancel marks its request as being cancelled
    // and then stops before the driver's cancel callback runs, until
    // release_cancels(). A held cancel blocks the thread that called cancel().
    void hold_cancels();
    // True once a cancel waits at the hold (real milliseconds).
    bool wait_for_held_cancel(DWORD milliseconds);
    void release_cancels();

    bool queue_started() const;
    bool power_policy_owner() const;
    bool device_interface_enabled() const;
    std::map<ULONG, ULONG> power_policy() const;
    bool usb_target_deleted() const;
    HostFaults faults() const;

    SimSensor& sensor() { return sensor_; }

private:
    // The device as it stands, taken under the host lock.
    ComPtr<SimDevice> current_device();
    friend class SimDevice;
    friend class SimDriver;
    friend class SimIoRequest;
    friend class SimQueue;
    friend class SimUsbTargetDevice;
    friend class SimUsbPipe;
    friend class SimDeviceInit;

    void dispatch(ComPtr<SimIoRequest> request);
    // Called by a cancel between marking its request and the callback.
    void pass_cancel_hold();
    void run_on_host_thread(std::function<void()> work);
    void join_host_threads();

    DllGetClassObjectFunction get_class_object_;
    CLSID clsid_;
    SimSensor& sensor_;
    SimUsbConfig usb_;

    mutable std::mutex mutex_;
    ComPtr<IClassFactory> factory_;
    ComPtr<IDriverEntry> driver_entry_;
    ComPtr<SimDriver> driver_;
    ComPtr<SimDevice> device_;
    HostFaults faults_;
    bool policy_owner_ = false;
    bool interface_enabled_ = false;
    bool target_deleted_ = false;
    std::map<ULONG, ULONG> power_policy_;
    std::vector<std::thread> threads_;
    size_t in_flight_ = 0;  // requests delivered to the driver and not completed
    std::condition_variable in_flight_changed_;
    bool cancels_held_ = false;
    size_t cancels_at_hold_ = 0;
    std::condition_variable cancel_hold_changed_;
};

}  // namespace fp_sim
