#include "sim_host.h"

#include <chrono>
#include <cstring>

namespace fp_sim {
namespace {

constexpr HRESULT kRequestAborted = hresult_of(0x800703E3u);  // HRESULT_FROM_WIN32(ERROR_OPERATION_ABORTED)
constexpr HRESULT kInvalidHandle = hresult_of(0x80070006u);   // HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE)
constexpr auto kQueueStopLimit = std::chrono::seconds(10);
const char16_t kDeviceName[] = u"\\\\?\\usb#vid_0000&pid_0000#sim0#{e2b5183a-99ea-4cc3-ad6b-80ca8d715b80}";

#define FP_SIM_COM_REFCOUNT                                     \
    ULONG AddRef() override { return add_reference(); }         \
    ULONG Release() override { return release_reference(); }

}  // namespace

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
// Memory and completion parameters

class SimMemory final : public fp_platform::ComObject, public IWDFMemory {
public:
    explicit SimMemory(size_t size) : owned_(size), data_(owned_.data()), size_(size) {}
    SimMemory(uint8_t* data, size_t size) : data_(data), size_(size) {}

    HRESULT QueryInterface(REFIID riid, void** object) override
    {
        return fp_platform::query_interfaces<SimMemory, IWDFMemory, IWDFObject>(this, riid, object);
    }
    FP_SIM_COM_REFCOUNT
    HRESULT DeleteWdfObject() override { return S_OK; }
    void* GetDataBuffer(SIZE_T* size) override
    {
        if (size != nullptr) {
            *size = size_;
        }
        return data_;
    }
    SIZE_T GetSize() override { return size_; }

    uint8_t* data() { return data_; }
    size_t size() const { return size_; }

private:
    std::vector<uint8_t> owned_;
    uint8_t* data_;
    size_t size_;
};

class SimCompletionParams final : public fp_platform::ComObject, public IWDFUsbRequestCompletionParams {
public:
    SimCompletionParams(HRESULT status, size_t bytes, ComPtr<IWDFMemory> memory, bool read)
        : status_(status), bytes_(bytes), memory_(std::move(memory)), read_(read)
    {
    }

    HRESULT QueryInterface(REFIID riid, void** object) override
    {
        return fp_platform::query_interfaces<SimCompletionParams, IWDFUsbRequestCompletionParams,
                                             IWDFRequestCompletionParams>(this, riid, object);
    }
    FP_SIM_COM_REFCOUNT
    HRESULT GetCompletionStatus() override { return status_; }
    ULONG_PTR GetInformation() override { return bytes_; }
    void GetPipeReadParameters(IWDFMemory** memory, SIZE_T* bytes) override { get(read_, memory, bytes); }
    void GetPipeWriteParameters(IWDFMemory** memory, SIZE_T* bytes) override { get(!read_, memory, bytes); }

private:
    void get(bool matches, IWDFMemory** memory, SIZE_T* bytes)
    {
        if (memory != nullptr) {
            *memory = matches ? ComPtr<IWDFMemory>(memory_).detach() : nullptr;
        }
        if (bytes != nullptr) {
            *bytes = matches ? bytes_ : 0;
        }
    }

    HRESULT status_;
    size_t bytes_;
    ComPtr<IWDFMemory> memory_;
    bool read_;
};

// ---------------------------------------------------------------------------
// USB objects

class SimUsbPipe final : public fp_platform::ComObject, public IWDFUsbTargetPipe {
public:
    SimUsbPipe(SimHost* host, EndpointSpec spec) : host_(host), spec_(spec) {}

    HRESULT QueryInterface(REFIID riid, void** object) override
    {
        return fp_platform::query_interfaces<SimUsbPipe, IWDFUsbTargetPipe, IWDFIoTarget, IWDFObject>(this, riid,
                                                                                                      object);
    }
    FP_SIM_COM_REFCOUNT
    HRESULT DeleteWdfObject() override { return S_OK; }
    HRESULT FormatRequestForRead(IWDFIoRequest* request, IWDFMemory* memory) override;
    HRESULT FormatRequestForWrite(IWDFIoRequest* request, IWDFMemory* memory) override;
    BOOL IsInEndPoint() override { return spec_.in ? TRUE : FALSE; }
    BOOL IsOutEndPoint() override { return spec_.in ? FALSE : TRUE; }
    WINUSB_PIPE_TYPE GetType() override { return spec_.type; }

    SimHost* host() const { return host_; }

private:
    SimHost* host_;
    EndpointSpec spec_;
};

class SimUsbInterface final : public fp_platform::ComObject, public IWDFUsbInterface {
public:
    SimUsbInterface(SimHost* host, const std::vector<EndpointSpec>& endpoints) : endpoints_(endpoints)
    {
        for (const EndpointSpec& spec : endpoints_) {
            pipes_.push_back(ComPtr<SimUsbPipe>::attach(new SimUsbPipe(host, spec)));
        }
    }

    HRESULT QueryInterface(REFIID riid, void** object) override
    {
        return fp_platform::query_interfaces<SimUsbInterface, IWDFUsbInterface, IWDFObject>(this, riid, object);
    }
    FP_SIM_COM_REFCOUNT
    HRESULT DeleteWdfObject() override { return S_OK; }
    UCHAR GetNumEndPoints() override { return static_cast<UCHAR>(endpoints_.size()); }
    HRESULT RetrieveUsbPipeObject(UCHAR index, IWDFUsbTargetPipe** pipe) override
    {
        if (pipe == nullptr) {
            return E_POINTER;
        }
        *pipe = nullptr;
        if (index >= endpoints_.size()) {
            return E_INVALIDARG;
        }
        if (endpoints_[index].retrieve_fails) {
            return E_FAIL;
        }
        *pipe = ComPtr<SimUsbPipe>(pipes_[index].get()).detach();
        return S_OK;
    }

private:
    std::vector<EndpointSpec> endpoints_;
    std::vector<ComPtr<SimUsbPipe>> pipes_;
};

class SimUsbTargetDevice final : public fp_platform::ComObject, public IWDFUsbTargetDevice {
public:
    explicit SimUsbTargetDevice(SimHost* host)
        : host_(host), interface_(ComPtr<SimUsbInterface>::attach(new SimUsbInterface(host, host->usb_.endpoints)))
    {
    }

    HRESULT QueryInterface(REFIID riid, void** object) override
    {
        return fp_platform::query_interfaces<SimUsbTargetDevice, IWDFUsbTargetDevice, IWDFIoTarget, IWDFObject>(
            this, riid, object);
    }
    FP_SIM_COM_REFCOUNT
    HRESULT DeleteWdfObject() override
    {
        {
            std::lock_guard<std::mutex> lock(host_->mutex_);
            host_->target_deleted_ = true;
        }
        host_->sensor_.cancel_all_reads();
        return S_OK;
    }
    HRESULT FormatRequestForRead(IWDFIoRequest*, IWDFMemory*) override { return E_NOTIMPL; }
    HRESULT FormatRequestForWrite(IWDFIoRequest*, IWDFMemory*) override { return E_NOTIMPL; }
    UCHAR GetNumInterfaces() override { return 1; }
    HRESULT RetrieveUsbInterface(UCHAR index, IWDFUsbInterface** usb_interface) override
    {
        if (usb_interface == nullptr) {
            return E_POINTER;
        }
        *usb_interface = index == 0 ? ComPtr<SimUsbInterface>(interface_.get()).detach() : nullptr;
        return index == 0 ? S_OK : E_INVALIDARG;
    }
    HRESULT RetrieveDeviceInformation(ULONG type, ULONG* length, void* buffer) override
    {
        if (type != DEVICE_SPEED || length == nullptr || buffer == nullptr || *length < 1) {
            return E_INVALIDARG;
        }
        *static_cast<UCHAR*>(buffer) = host_->usb_.device_speed;
        *length = 1;
        return S_OK;
    }
    HRESULT SetPowerPolicy(ULONG type, ULONG length, void* value) override
    {
        if (value == nullptr || length != sizeof(ULONG)) {
            return E_INVALIDARG;
        }
        auto configured = host_->usb_.power_policy_results.find(type);
        if (configured != host_->usb_.power_policy_results.end() && FAILED(configured->second)) {
            return configured->second;
        }
        ULONG setting = 0;
        std::memcpy(&setting, value, sizeof setting);
        std::lock_guard<std::mutex> lock(host_->mutex_);
        host_->power_policy_[type] = setting;
        return S_OK;
    }

private:
    SimHost* host_;
    ComPtr<SimUsbInterface> interface_;
};

// ---------------------------------------------------------------------------
// Requests

class SimIoRequest final : public fp_platform::ComObject, public IWDFIoRequest {
public:
    // A request created by the driver for its own I/O.
    explicit SimIoRequest(SimHost* host) : host_(host) {}

    // A device I/O control request from the host.
    SimIoRequest(SimHost* host, ULONG code, std::vector<uint8_t> input, size_t output_size,
                 std::shared_ptr<IoctlCall> call)
        : host_(host),
          incoming_(true),
          code_(code),
          input_(ComPtr<SimMemory>::attach(new SimMemory(input.size()))),
          output_(ComPtr<SimMemory>::attach(new SimMemory(output_size))),
          call_(std::move(call))
    {
        // Bytes the driver does not write stay visible as 0xCD.
        if (output_->size() > 0) {
            std::memset(output_->data(), 0xCD, output_->size());
        }
        if (!input.empty()) {
            std::memcpy(input_->data(), input.data(), input.size());
        }
    }

    HRESULT QueryInterface(REFIID riid, void** object) override
    {
        return fp_platform::query_interfaces<SimIoRequest, IWDFIoRequest, IWDFObject>(this, riid, object);
    }
    FP_SIM_COM_REFCOUNT
    HRESULT DeleteWdfObject() override { return S_OK; }

    void Complete(HRESULT status) override
    {
        ULONG_PTR information = 0;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            information = information_;
        }
        CompleteWithInformation(status, information);
    }

    void CompleteWithInformation(HRESULT status, SIZE_T information) override
    {
        ComPtr<SimIoRequest> keep(this);
        std::shared_ptr<IoctlCall> call;
        ComPtr<IRequestCallbackCancel> cancel_callback;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (completed_) {
                std::lock_guard<std::mutex> host_lock(host_->mutex_);
                host_->faults_.completed_twice += 1;
                return;
            }
            if (cancel_state_ == CancelState::Cancelable) {
                std::lock_guard<std::mutex> host_lock(host_->mutex_);
                host_->faults_.completed_while_cancelable += 1;
            }
            completed_ = true;
            cancel_state_ = CancelState::None;
            cancel_callback = std::move(cancel_callback_);
            call = std::move(call_);
        }
        if (call) {
            call->complete(status, information,
                           std::vector<uint8_t>(output_->data(), output_->data() + output_->size()));
        }
        if (incoming_) {
            std::lock_guard<std::mutex> lock(host_->mutex_);
            host_->in_flight_ -= delivered_ ? 1 : 0;
            host_->in_flight_changed_.notify_all();
        }
    }

    void SetInformation(ULONG_PTR information) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        information_ = information;
    }

    void GetDeviceIoControlParameters(ULONG* code, SIZE_T* input_size, SIZE_T* output_size) override
    {
        if (code != nullptr) {
            *code = code_;
        }
        if (input_size != nullptr) {
            *input_size = input_ ? input_->size() : 0;
        }
        if (output_size != nullptr) {
            *output_size = output_ ? output_->size() : 0;
        }
    }

    void GetInputMemory(IWDFMemory** memory) override
    {
        *memory = input_ && input_->size() > 0 ? ComPtr<SimMemory>(input_.get()).detach() : nullptr;
    }

    void GetOutputMemory(IWDFMemory** memory) override
    {
        *memory = output_ && output_->size() > 0 ? ComPtr<SimMemory>(output_.get()).detach() : nullptr;
    }

    void MarkCancelable(IRequestCallbackCancel* callback) override
    {
        bool cancel_now = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (completed_) {
                return;
            }
            if (cancel_requested_) {
                cancel_state_ = CancelState::Cancelling;
                cancel_now = true;
            } else {
                cancel_state_ = CancelState::Cancelable;
                cancel_callback_ = ComPtr<IRequestCallbackCancel>(callback);
            }
        }
        if (cancel_now && callback != nullptr) {
            callback->OnCancel(this);
        }
    }

    HRESULT UnmarkCancelable() override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (cancel_state_ == CancelState::Cancelling) {
            return kRequestAborted;
        }
        cancel_state_ = CancelState::None;
        cancel_callback_.reset();
        return S_OK;
    }

    // Host side of a cancellation.
    bool cancel()
    {
        ComPtr<IRequestCallbackCancel> callback;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (completed_) {
                return false;
            }
            cancel_requested_ = true;
            if (cancel_state_ != CancelState::Cancelable) {
                return false;
            }
            cancel_state_ = CancelState::Cancelling;
            callback = std::move(cancel_callback_);
        }
        callback->OnCancel(this);
        return true;
    }

    BOOL CancelSentRequest() override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!outstanding_) {
            return FALSE;
        }
        return host_->sensor_.cancel_read(read_id_) ? TRUE : FALSE;
    }

    void SetCompletionCallback(IRequestCallbackRequestCompletion* callback, void* context) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        completion_callback_ = ComPtr<IRequestCallbackRequestCompletion>(callback);
        completion_context_ = context;
    }

    HRESULT Send(IWDFIoTarget* target, DWORD flags, LONGLONG) override
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!pipe_ || target == nullptr) {
            return E_UNEXPECTED;
        }
        {
            std::lock_guard<std::mutex> host_lock(host_->mutex_);
            if (host_->target_deleted_) {
                host_->faults_.sent_after_target_deleted += 1;
                return kInvalidHandle;
            }
        }
        SIZE_T size = 0;
        auto* buffer = static_cast<uint8_t*>(memory_->GetDataBuffer(&size));
        const bool synchronous = (flags & WDF_REQUEST_SEND_OPTION_SYNCHRONOUS) != 0;
        if (!is_read_) {
            size_t written = 0;
            const HRESULT status = host_->sensor_.write(buffer, size, &written);
            params_ = ComPtr<SimCompletionParams>::attach(new SimCompletionParams(status, written, memory_, false));
            if (!synchronous) {
                return E_NOTIMPL;  // asynchronous writes are not used
            }
            return S_OK;
        }
        if (synchronous) {
            return E_NOTIMPL;  // synchronous reads are not used
        }
        if (FAILED(host_->usb_.read_send_result)) {
            return host_->usb_.read_send_result;
        }
        add_reference();  // held until the completion has been delivered
        outstanding_ = true;
        read_id_ = host_->sensor_.submit_read(buffer, size,
                                              [this](HRESULT status, size_t bytes) { finish_read(status, bytes); });
        return S_OK;
    }

    void GetCompletionParams(IWDFRequestCompletionParams** params) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        *params = params_ ? ComPtr<SimCompletionParams>(params_.get()).detach() : nullptr;
    }

    void format(ComPtr<SimUsbPipe> pipe, IWDFMemory* memory, bool read)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pipe_ = std::move(pipe);
        memory_ = ComPtr<IWDFMemory>(memory);
        is_read_ = read;
    }

    bool incoming() const { return incoming_; }
    ULONG code() const { return code_; }
    void mark_delivered() { delivered_ = true; }

private:
    enum class CancelState { None, Cancelable, Cancelling };

    void finish_read(HRESULT status, size_t bytes)
    {
        ComPtr<IRequestCallbackRequestCompletion> callback;
        void* context = nullptr;
        ComPtr<SimUsbPipe> pipe;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            outstanding_ = false;
            params_ = ComPtr<SimCompletionParams>::attach(new SimCompletionParams(status, bytes, memory_, true));
            callback = completion_callback_;
            context = completion_context_;
            pipe = pipe_;
        }
        if (callback) {
            ComPtr<IWDFRequestCompletionParams> params;
            GetCompletionParams(params.put());
            callback->OnCompletion(this, pipe.get(), params.get(), context);
        }
        callback.reset();
        release_reference();
    }

    SimHost* host_;
    const bool incoming_ = false;
    const ULONG code_ = 0;
    ComPtr<SimMemory> input_;
    ComPtr<SimMemory> output_;
    std::shared_ptr<IoctlCall> call_;

    std::mutex mutex_;
    bool delivered_ = false;
    bool completed_ = false;
    bool cancel_requested_ = false;
    CancelState cancel_state_ = CancelState::None;
    ComPtr<IRequestCallbackCancel> cancel_callback_;
    ULONG_PTR information_ = 0;

    ComPtr<SimUsbPipe> pipe_;
    ComPtr<IWDFMemory> memory_;
    bool is_read_ = false;
    bool outstanding_ = false;
    uint64_t read_id_ = 0;
    ComPtr<IRequestCallbackRequestCompletion> completion_callback_;
    void* completion_context_ = nullptr;
    ComPtr<SimCompletionParams> params_;
};

HRESULT SimUsbPipe::FormatRequestForRead(IWDFIoRequest* request, IWDFMemory* memory)
{
    if (request == nullptr || memory == nullptr || !spec_.in) {
        return E_INVALIDARG;
    }
    static_cast<SimIoRequest*>(request)->format(ComPtr<SimUsbPipe>(this), memory, true);
    return S_OK;
}

HRESULT SimUsbPipe::FormatRequestForWrite(IWDFIoRequest* request, IWDFMemory* memory)
{
    if (request == nullptr || memory == nullptr || spec_.in) {
        return E_INVALIDARG;
    }
    static_cast<SimIoRequest*>(request)->format(ComPtr<SimUsbPipe>(this), memory, false);
    return S_OK;
}

// ---------------------------------------------------------------------------
// Queue, device, driver

class SimQueue final : public fp_platform::ComObject, public IWDFIoQueue {
public:
    SimQueue(SimHost* host, ComPtr<IQueueCallbackDeviceIoControl> callback)
        : host_(host), callback_(std::move(callback))
    {
    }

    HRESULT QueryInterface(REFIID riid, void** object) override
    {
        return fp_platform::query_interfaces<SimQueue, IWDFIoQueue, IWDFObject>(this, riid, object);
    }
    FP_SIM_COM_REFCOUNT
    HRESULT DeleteWdfObject() override { return S_OK; }

    void Start() override
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

    void StopSynchronously() override
    {
        std::unique_lock<std::mutex> lock(host_->mutex_);
        started_ = false;
        if (!host_->in_flight_changed_.wait_for(lock, kQueueStopLimit, [this] { return host_->in_flight_ == 0; })) {
            host_->faults_.queue_stop_timeouts += 1;
        }
    }

    // Called with the host lock held: true when the request may be dispatched now.
    bool accept_locked(const ComPtr<SimIoRequest>& request)
    {
        if (!started_) {
            held_.push_back(request);
            return false;
        }
        return true;
    }

    bool started_locked() const { return started_; }
    IQueueCallbackDeviceIoControl* callback() const { return callback_.get(); }

    std::vector<ComPtr<SimIoRequest>> take_held_locked()
    {
        std::vector<ComPtr<SimIoRequest>> held;
        held.swap(held_);
        return held;
    }

private:
    SimHost* host_;
    ComPtr<IQueueCallbackDeviceIoControl> callback_;
    bool started_ = false;
    std::vector<ComPtr<SimIoRequest>> held_;
};

class SimDevice final : public fp_platform::ComObject, public IWDFDevice, public IWDFUsbTargetFactory {
public:
    SimDevice(SimHost* host, ComPtr<IUnknown> callbacks) : host_(host), callbacks_(std::move(callbacks)) {}

    HRESULT QueryInterface(REFIID riid, void** object) override
    {
        return fp_platform::query_interfaces<SimDevice, IWDFDevice, IWDFObject, IWDFUsbTargetFactory>(this, riid,
                                                                                                      object);
    }
    FP_SIM_COM_REFCOUNT
    HRESULT DeleteWdfObject() override { return S_OK; }

    HRESULT CreateIoQueue(IUnknown* callbacks, BOOL default_queue, WDF_IO_QUEUE_DISPATCH_TYPE dispatch, BOOL,
                          BOOL, IWDFIoQueue** queue) override
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

    HRESULT ConfigureRequestDispatching(IWDFIoQueue* queue, WDF_REQUEST_TYPE type, BOOL forward) override
    {
        std::lock_guard<std::mutex> lock(host_->mutex_);
        if (queue != queue_.get() || type != WdfRequestDeviceIoControl || !forward) {
            return E_INVALIDARG;
        }
        control_routed_ = true;
        return S_OK;
    }

    HRESULT CreateDeviceInterface(const GUID* interface_guid, PCWSTR) override
    {
        if (interface_guid == nullptr) {
            return E_INVALIDARG;
        }
        std::lock_guard<std::mutex> lock(host_->mutex_);
        interface_guid_ = *interface_guid;
        interface_created_ = true;
        return S_OK;
    }

    HRESULT AssignDeviceInterfaceState(const GUID* interface_guid, PCWSTR, BOOL enable) override
    {
        std::lock_guard<std::mutex> lock(host_->mutex_);
        if (interface_guid == nullptr || !interface_created_ || !(*interface_guid == interface_guid_)) {
            return E_INVALIDARG;
        }
        host_->interface_enabled_ = enable != FALSE;
        return S_OK;
    }

    HRESULT RetrieveDeviceName(PWSTR name, DWORD* length) override
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

    HRESULT CreateRequest(IUnknown*, IWDFObject*, IWDFIoRequest** request) override
    {
        if (request == nullptr) {
            return E_POINTER;
        }
        *request = new SimIoRequest(host_);
        return S_OK;
    }

    HRESULT CreatePreallocatedWdfMemory(BYTE* buffer, SIZE_T size, IUnknown*, IWDFObject*,
                                        IWDFMemory** memory) override
    {
        if (buffer == nullptr || memory == nullptr || size == 0) {
            return E_INVALIDARG;
        }
        *memory = new SimMemory(buffer, size);
        return S_OK;
    }

    HRESULT CreateUsbTargetDevice(IWDFUsbTargetDevice** device) override
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

    ComPtr<IUnknown> callbacks() const { return callbacks_; }
    ComPtr<SimQueue> queue_locked() const { return queue_; }
    bool control_routed_locked() const { return control_routed_; }

    // Drops every reference the framework device holds.
    void teardown()
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

private:
    SimHost* host_;
    ComPtr<IUnknown> callbacks_;
    ComPtr<SimQueue> queue_;
    ComPtr<SimUsbTargetDevice> target_;
    GUID interface_guid_ = GUID_NULL;
    bool interface_created_ = false;
    bool control_routed_ = false;
};

class SimDeviceInit final : public fp_platform::ComObject, public IWDFDeviceInitialize {
public:
    explicit SimDeviceInit(SimHost* host) : host_(host) {}
    HRESULT QueryInterface(REFIID riid, void** object) override
    {
        return fp_platform::query_interfaces<SimDeviceInit, IWDFDeviceInitialize>(this, riid, object);
    }
    FP_SIM_COM_REFCOUNT
    void SetPowerPolicyOwnership(BOOL owner) override
    {
        std::lock_guard<std::mutex> lock(host_->mutex_);
        host_->policy_owner_ = owner != FALSE;
    }

private:
    SimHost* host_;
};

class SimDriver final : public fp_platform::ComObject, public IWDFDriver {
public:
    explicit SimDriver(SimHost* host) : host_(host) {}
    HRESULT QueryInterface(REFIID riid, void** object) override
    {
        return fp_platform::query_interfaces<SimDriver, IWDFDriver, IWDFObject>(this, riid, object);
    }
    FP_SIM_COM_REFCOUNT
    HRESULT DeleteWdfObject() override { return S_OK; }

    HRESULT CreateDevice(IWDFDeviceInitialize* init, IUnknown* callbacks, IWDFDevice** device) override
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

private:
    SimHost* host_;
};

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
