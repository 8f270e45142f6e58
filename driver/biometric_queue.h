// CBiometricIoQueue: the device I/O control queue (parallel dispatch).
#pragma once

#include "umdf_interfaces.h"

namespace fpusbdrv {

class CBiometricDevice;

class CBiometricIoQueue final : public fp_platform::ComObject, public IQueueCallbackDeviceIoControl {
public:
    static HRESULT CreateInstanceAndInitialize(IWDFDevice* device, CBiometricDevice* callback,
                                               CBiometricIoQueue** queue);

    HRESULT QueryInterface(REFIID riid, void** object) override;
    ULONG AddRef() override { return add_reference(); }
    ULONG Release() override { return release_reference(); }

    void OnDeviceIoControl(IWDFIoQueue* queue, IWDFIoRequest* request, ULONG controlCode, SIZE_T inputBufferSize,
                           SIZE_T outputBufferSize) override;

    void Start();
    void StopSynchronously();

private:
    CBiometricIoQueue() = default;
    ~CBiometricIoQueue() override = default;
    HRESULT Initialize(IWDFDevice* device, CBiometricDevice* callback);

    IWDFIoQueue* m_FxQueue = nullptr;    // not referenced: the framework queue owns this object
    ComPtr<CBiometricDevice> m_Device;   // the device callback object
};

}  // namespace fpusbdrv
