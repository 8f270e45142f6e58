#include "sim_host_device.h"

#include <chrono>
#include <cstring>
#include <string>

namespace fp_sim {
namespace {

constexpr auto kQueueStopLimit = std::chrono::seconds(10);
const char16_t kDeviceName[] = u"\\\\?\\usb#vid_0000&pid_0000#sim0#{e2b5183a-99ea-4cc3-ad6b-80ca8d715b80}";

}  // namespace

void SimQueue::Start()
{
    std::vector<ComPtr<SimIoRequest>> held;
    {
        std::lock_guard<std::mutex> lock(host_->mutex_);
        started_ = true;
        held.swap(held_);
    }
    for (ComPtr<SimIoRequest>& request : held) {
        host_->run_on_host_thread([host = host_, request] { host->dispatch(request); });
    }
}

void SimQueue::StopSynchronously()
{
    std::unique_lock<std::mutex> lock(host_->mutex_);
    started_ = false;
    if (!host_->in_flight_changed_.wait_for(lock, kQueueStopLimit, [this] { return host_->in_flight_ == 0; })) {
        host_->faults_.queue_stop_timeouts += 1;
    }
}

bool SimQueue::accept_locked(const ComPtr<SimIoRequest>& request)
{
    if (!started_) {
        held_.push_back(request);
        return false;
    }
    return true;
}

HRESULT SimDevice::CreateIoQueue(IUnknown* callbacks, BOOL default_queue, WDF_IO_QUEUE_DISPATCH_TYPE dispatch,
                                 BOOL, BOOL, IWDFIoQueue** queue)
{
    if (callbacks == nullptr || queue == nullptr || default_queue || dispatch != WdfIoQueueDispatchParallel) {
        return E_INVALIDARG;
    }
    ComPtr<IQueueCallbackDeviceIoControl> control;
    HRESULT hr = callbacks->QueryInterface(IQueueCallbackDeviceIoControl::iid, control.put_void());
    if (FAILED(hr)) {
        return hr;
    }
    auto created = ComPtr<SimQueue>::attach(new SimQueue(host_, control));
    {
        std::lock_guard<std::mutex> lock(host_->mutex_);
        queue_ = created;
    }
    *queue = created.detach();
    return S_OK;
}

HRESULT SimDevice::ConfigureRequestDispatching(IWDFIoQueue* queue, WDF_REQUEST_TYPE type, BOOL forward)
{
    std::lock_guard<std::mutex> lock(host_->mutex_);
    if (queue != queue_.get() || type != WdfRequestDeviceIoControl || !forward) {
        return E_INVALIDARG;
    }
    control_routed_ = true;
    return S_OK;
}

HRESULT SimDevice::CreateDeviceInterface(const GUID* interface_guid, PCWSTR)
{
    if (interface_guid == nullptr) {
        return E_INVALIDARG;
    }
    std::lock_guard<std::mutex> lock(host_->mutex_);
    interface_guid_ = *interface_guid;
    interface_created_ = true;
    return S_OK;
}

HRESULT SimDevice::AssignDeviceInterfaceState(const GUID* interface_guid, PCWSTR, BOOL enable)
{
    std::lock_guard<std::mutex> lock(host_->mutex_);
    if (interface_guid == nullptr || !interface_created_ || !(*interface_guid == interface_guid_)) {
        return E_INVALIDARG;
    }
    host_->interface_enabled_ = enable != FALSE;
    return S_OK;
}

HRESULT SimDevice::RetrieveDeviceName(PWSTR name, DWORD* length)
{
    if (length == nullptr) {
        return E_POINTER;
    }
    const DWORD needed = static_cast<DWORD>(std::char_traits<char16_t>::length(kDeviceName) + 1);
    if (name == nullptr || *length < needed) {
        *length = needed;
        return name == nullptr ? S_OK : E_INVALIDARG;
    }
    std::memcpy(name, kDeviceName, needed * sizeof(char16_t));
    *length = needed;
    return S_OK;
}

HRESULT SimDevice::CreateRequest(IUnknown*, IWDFObject*, IWDFIoRequest** request)
{
    if (request == nullptr) {
        return E_POINTER;
    }
    *request = new SimIoRequest(host_);
    return S_OK;
}

HRESULT SimDevice::CreatePreallocatedWdfMemory(BYTE* buffer, SIZE_T size, IUnknown*, IWDFObject*,
                                               IWDFMemory** memory)
{
    if (buffer == nullptr || memory == nullptr || size == 0) {
        return E_INVALIDARG;
    }
    *memory = new SimMemory(buffer, size);
    return S_OK;
}

HRESULT SimDevice::CreateUsbTargetDevice(IWDFUsbTargetDevice** device)
{
    if (device == nullptr) {
        return E_POINTER;
    }
    auto created = ComPtr<SimUsbTargetDevice>::attach(new SimUsbTargetDevice(host_));
    {
        std::lock_guard<std::mutex> lock(host_->mutex_);
        target_ = created;
        host_->target_deleted_ = false;
    }
    *device = created.detach();
    return S_OK;
}

void SimDevice::teardown()
{
    ComPtr<IUnknown> callbacks;
    ComPtr<SimQueue> queue;
    ComPtr<SimUsbTargetDevice> target;
    std::vector<ComPtr<SimIoRequest>> held;
    {
        std::lock_guard<std::mutex> lock(host_->mutex_);
        callbacks = std::move(callbacks_);
        queue = std::move(queue_);
        target = std::move(target_);
        if (queue) {
            held = queue->take_held_locked();
        }
    }
    for (ComPtr<SimIoRequest>& request : held) {
        request->CompleteWithInformation(kRequestAborted, 0);
    }
}

HRESULT SimDriver::CreateDevice(IWDFDeviceInitialize* init, IUnknown* callbacks, IWDFDevice** device)
{
    if (init == nullptr || callbacks == nullptr || device == nullptr) {
        return E_INVALIDARG;
    }
    auto created = ComPtr<SimDevice>::attach(new SimDevice(host_, ComPtr<IUnknown>(callbacks)));
    {
        std::lock_guard<std::mutex> lock(host_->mutex_);
        host_->device_ = created;
    }
    *device = created.detach();
    return S_OK;
}

}  // namespace fp_sim
