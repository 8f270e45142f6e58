#include "sim_host.h"

#include <chrono>

#include "sim_host_device.h"

namespace fp_sim {

std::vector<EndpointSpec> sensor_endpoints()
{
    std::vector<EndpointSpec> endpoints(2);
    endpoints[0].in = true;
    endpoints[0].type = UsbdPipeTypeBulk;
    endpoints[1].in = false;
    endpoints[1].type = UsbdPipeTypeBulk;
    return endpoints;
}

// ---------------------------------------------------------------------------
// IoctlCall

bool IoctlCall::wait(DWORD milliseconds) const
{
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return completed_; });
}

bool IoctlCall::completed() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return completed_;
}

HRESULT IoctlCall::status() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return status_;
}

ULONG_PTR IoctlCall::information() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return information_;
}

std::vector<uint8_t> IoctlCall::output() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return output_;
}

void IoctlCall::complete(HRESULT status, ULONG_PTR information, const std::vector<uint8_t>& output)
{
    ComPtr<SimIoRequest> request;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        completed_ = true;
        status_ = status;
        information_ = information;
        output_ = output;
        request = std::move(request_);
        changed_.notify_all();
    }
}

// ---------------------------------------------------------------------------
// SimHost

SimHost::SimHost(DllGetClassObjectFunction get_class_object, const CLSID& clsid, SimSensor& sensor,
                 SimUsbConfig usb)
    : get_class_object_(get_class_object), clsid_(clsid), sensor_(sensor), usb_(std::move(usb))
{
}

SimHost::~SimHost() { unload(); }

HRESULT SimHost::load_driver()
{
    HRESULT hr = get_class_object_(clsid_, IClassFactory::iid, factory_.put_void());
    if (FAILED(hr)) {
        return hr;
    }
    hr = factory_->CreateInstance(nullptr, IDriverEntry::iid, driver_entry_.put_void());
    if (FAILED(hr)) {
        return hr;
    }
    driver_ = ComPtr<SimDriver>::attach(new SimDriver(this));
    return driver_entry_->OnInitialize(driver_.get());
}

HRESULT SimHost::add_device()
{
    if (!driver_entry_) {
        return E_UNEXPECTED;
    }
    auto init = ComPtr<SimDeviceInit>::attach(new SimDeviceInit(this));
    return driver_entry_->OnDeviceAdd(driver_.get(), init.get());
}

ComPtr<SimDevice> SimHost::current_device()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return device_;
}

namespace {
template <typename Interface>
ComPtr<Interface> device_callback(const ComPtr<SimDevice>& device)
{
    ComPtr<Interface> callback;
    if (device) {
        ComPtr<IUnknown> callbacks = device->callbacks();
        if (callbacks) {
            callbacks.query(&callback);
        }
    }
    return callback;
}
}  // namespace

HRESULT SimHost::prepare_hardware()
{
    const ComPtr<SimDevice> device = current_device();
    auto callback = device_callback<IPnpCallbackHardware>(device);
    return callback ? callback->OnPrepareHardware(device.get()) : E_UNEXPECTED;
}

HRESULT SimHost::release_hardware()
{
    const ComPtr<SimDevice> device = current_device();
    auto callback = device_callback<IPnpCallbackHardware>(device);
    return callback ? callback->OnReleaseHardware(device.get()) : E_UNEXPECTED;
}

HRESULT SimHost::d0_entry(WDF_POWER_DEVICE_STATE previous_state)
{
    const ComPtr<SimDevice> device = current_device();
    auto callback = device_callback<IPnpCallback>(device);
    return callback ? callback->OnD0Entry(device.get(), previous_state) : E_UNEXPECTED;
}

HRESULT SimHost::d0_exit(WDF_POWER_DEVICE_STATE target_state)
{
    const ComPtr<SimDevice> device = current_device();
    auto callback = device_callback<IPnpCallback>(device);
    return callback ? callback->OnD0Exit(device.get(), target_state) : E_UNEXPECTED;
}

void SimHost::surprise_removal()
{
    const ComPtr<SimDevice> device = current_device();
    if (auto callback = device_callback<IPnpCallback>(device)) {
        callback->OnSurpriseRemoval(device.get());
    }
}

HRESULT SimHost::query_remove()
{
    const ComPtr<SimDevice> device = current_device();
    auto callback = device_callback<IPnpCallback>(device);
    return callback ? callback->OnQueryRemove(device.get()) : E_UNEXPECTED;
}

HRESULT SimHost::query_stop()
{
    const ComPtr<SimDevice> device = current_device();
    auto callback = device_callback<IPnpCallback>(device);
    return callback ? callback->OnQueryStop(device.get()) : E_UNEXPECTED;
}

HRESULT SimHost::start()
{
    HRESULT hr = load_driver();
    if (SUCCEEDED(hr)) {
        hr = add_device();
    }
    if (SUCCEEDED(hr)) {
        hr = prepare_hardware();
    }
    if (SUCCEEDED(hr)) {
        hr = d0_entry(WdfPowerDeviceD3Final);
    }
    return hr;
}

HRESULT SimHost::remove_device()
{
    const HRESULT hr = d0_exit(WdfPowerDeviceD3Final);
    const HRESULT release = release_hardware();
    return FAILED(hr) ? hr : release;
}

void SimHost::unload()
{
    join_host_threads();
    ComPtr<SimDevice> device;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        device = std::move(device_);
    }
    if (device) {
        device->teardown();
        device.reset();
    }
    join_host_threads();
    if (driver_entry_) {
        driver_entry_->OnDeinitialize(driver_.get());
    }
    driver_entry_.reset();
    factory_.reset();
    driver_.reset();
}

std::shared_ptr<IoctlCall> SimHost::send_ioctl(ULONG control_code, std::vector<uint8_t> input, size_t output_size)
{
    auto call = std::make_shared<IoctlCall>();
    auto request =
        ComPtr<SimIoRequest>::attach(new SimIoRequest(this, control_code, std::move(input), output_size, call));
    {
        std::lock_guard<std::mutex> lock(call->mutex_);
        call->request_ = request;
    }
    bool dispatch_now = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ComPtr<SimQueue> queue = device_ ? device_->queue_locked() : ComPtr<SimQueue>();
        if (queue && device_->control_routed_locked()) {
            dispatch_now = queue->accept_locked(request);
        } else {
            dispatch_now = true;  // completed as an invalid request below
        }
    }
    if (dispatch_now) {
        run_on_host_thread([this, request] { dispatch(request); });
    }
    return call;
}

void SimHost::dispatch(ComPtr<SimIoRequest> request)
{
    ComPtr<SimQueue> queue;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue = device_ ? device_->queue_locked() : ComPtr<SimQueue>();
        if (queue && device_->control_routed_locked()) {
            in_flight_ += 1;
            request->mark_delivered();
        } else {
            queue.reset();
        }
    }
    if (!queue) {
        request->CompleteWithInformation(HRESULT_FROM_WIN32(ERROR_INVALID_FUNCTION), 0);
        return;
    }
    ULONG code = 0;
    SIZE_T input_size = 0;
    SIZE_T output_size = 0;
    request->GetDeviceIoControlParameters(&code, &input_size, &output_size);
    queue->callback()->OnDeviceIoControl(queue.get(), request.get(), code, input_size, output_size);
}

bool SimHost::cancel(const std::shared_ptr<IoctlCall>& call)
{
    ComPtr<SimIoRequest> request;
    {
        std::lock_guard<std::mutex> lock(call->mutex_);
        request = call->request_;
    }
    return request ? request->cancel() : false;
}

void SimHost::run_on_host_thread(std::function<void()> work)
{
    std::lock_guard<std::mutex> lock(mutex_);
    threads_.emplace_back(std::move(work));
}

void SimHost::join_host_threads()
{
    for (;;) {
        std::vector<std::thread> threads;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            threads.swap(threads_);
        }
        if (threads.empty()) {
            return;
        }
        for (std::thread& thread : threads) {
            thread.join();
        }
    }
}

void SimHost::hold_cancels()
{
    std::lock_guard<std::mutex> lock(mutex_);
    cancels_held_ = true;
}

bool SimHost::wait_for_held_cancel(DWORD milliseconds)
{
    std::unique_lock<std::mutex> lock(mutex_);
    return cancel_hold_changed_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                         [this] { return cancels_at_hold_ > 0; });
}

void SimHost::release_cancels()
{
    std::lock_guard<std::mutex> lock(mutex_);
    cancels_held_ = false;
    cancel_hold_changed_.notify_all();
}

void SimHost::pass_cancel_hold()
{
    std::unique_lock<std::mutex> lock(mutex_);
    cancels_at_hold_ += 1;
    cancel_hold_changed_.notify_all();
    cancel_hold_changed_.wait(lock, [this] { return !cancels_held_; });
    cancels_at_hold_ -= 1;
}

bool SimHost::queue_started() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    ComPtr<SimQueue> queue = device_ ? device_->queue_locked() : ComPtr<SimQueue>();
    return queue && queue->started_locked();
}

bool SimHost::power_policy_owner() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return policy_owner_;
}

bool SimHost::device_interface_enabled() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return interface_enabled_;
}

std::map<ULONG, ULONG> SimHost::power_policy() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return power_policy_;
}

bool SimHost::usb_target_deleted() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return target_deleted_;
}

HostFaults SimHost::faults() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return faults_;
}

}  // namespace fp_sim
