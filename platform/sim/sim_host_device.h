// The simulated host's framework queue, device, device-initialisation and
// driver objects. The queue holds requests until it is started and counts
// the requests delivered to the driver; the device creates the driver's
// requests, memory and USB target device.
#pragma once

#include <mutex>
#include <vector>

#include "sim_host_request.h"

namespace fp_sim {

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

    void Start() override;
    void StopSynchronously() override;

    // Called with the host lock held: true when the request may be dispatched now.
    bool accept_locked(const ComPtr<SimIoRequest>& request);

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
                          BOOL, IWDFIoQueue** queue) override;
    HRESULT ConfigureRequestDispatching(IWDFIoQueue* queue, WDF_REQUEST_TYPE type, BOOL forward) override;
    HRESULT CreateDeviceInterface(const GUID* interface_guid, PCWSTR) override;
    HRESULT AssignDeviceInterfaceState(const GUID* interface_guid, PCWSTR, BOOL enable) override;
    HRESULT RetrieveDeviceName(PWSTR name, DWORD* length) override;
    HRESULT CreateRequest(IUnknown*, IWDFObject*, IWDFIoRequest** request) override;
    HRESULT CreatePreallocatedWdfMemory(BYTE* buffer, SIZE_T size, IUnknown*, IWDFObject*,
                                        IWDFMemory** memory) override;
    HRESULT CreateUsbTargetDevice(IWDFUsbTargetDevice** device) override;

    ComPtr<IUnknown> callbacks() const { return callbacks_; }
    ComPtr<SimQueue> queue_locked() const { return queue_; }
    bool control_routed_locked() const { return control_routed_; }

    // Drops every reference the framework device holds.
    void teardown();

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

    HRESULT CreateDevice(IWDFDeviceInitialize* init, IUnknown* callbacks, IWDFDevice** device) override;

private:
    SimHost* host_;
};

}  // namespace fp_sim
