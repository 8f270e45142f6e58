#include "biometric_queue.h"

#include "biometric_device.h"
#include "driver_trace.h"
#include "winbio_types.h"

namespace fpusbdrv {

HRESULT CBiometricIoQueue::CreateInstanceAndInitialize(IWDFDevice* device, CBiometricDevice* callback,
                                                       CBiometricIoQueue** queue)
{
    FP_TRACE(u" ioque - CreateInstanceAndInitialize");
    auto* created = new (std::nothrow) CBiometricIoQueue();
    if (created == nullptr) {
        return E_OUTOFMEMORY;
    }
    const HRESULT hr = created->Initialize(device, callback);
    if (FAILED(hr)) {
        created->Release();
        return hr;
    }
    *queue = created;
    return S_OK;
}

HRESULT CBiometricIoQueue::Initialize(IWDFDevice* device, CBiometricDevice* callback)
{
    FP_TRACE(u" ioque - Initialize");
    if (device == nullptr || callback == nullptr) {
        return E_INVALIDARG;
    }
    ComPtr<IWDFIoQueue> fx_queue;
    HRESULT hr = device->CreateIoQueue(static_cast<IQueueCallbackDeviceIoControl*>(this), FALSE,
                                       WdfIoQueueDispatchParallel, FALSE, FALSE, fx_queue.put());
    if (SUCCEEDED(hr)) {
        hr = device->ConfigureRequestDispatching(fx_queue.get(), WdfRequestDeviceIoControl, TRUE);
    }
    if (SUCCEEDED(hr)) {
        m_FxQueue = fx_queue.get();
        m_Device = ComPtr<CBiometricDevice>(callback);
    }
    FP_TRACE(u" ioque - Initialize end");
    return hr;
}

HRESULT CBiometricIoQueue::QueryInterface(REFIID riid, void** object)
{
    return fp_platform::query_interfaces<CBiometricIoQueue, IQueueCallbackDeviceIoControl>(this, riid, object);
}

void CBiometricIoQueue::Start()
{
    if (m_FxQueue != nullptr) {
        m_FxQueue->Start();
    }
}

void CBiometricIoQueue::StopSynchronously()
{
    if (m_FxQueue != nullptr) {
        m_FxQueue->StopSynchronously();
    }
}

void CBiometricIoQueue::OnDeviceIoControl(IWDFIoQueue*, IWDFIoRequest* request, ULONG controlCode, SIZE_T,
                                          SIZE_T)
{
    FP_TRACE(u" ioque - ccode = %d", static_cast<int>(controlCode));
    CBiometricDevice* device = m_Device.get();
    if (device == nullptr) {
        request->Complete(E_POINTER);
        return;
    }
    switch (controlCode) {
    case IOCTL_BIOMETRIC_GET_ATTRIBUTES:
        device->OnGetAttributes(request);
        break;
    case IOCTL_BIOMETRIC_RESET:
        device->OnReset(request);
        break;
    case IOCTL_BIOMETRIC_CALIBRATE:
        device->OnCalibrate(request);
        break;
    case IOCTL_BIOMETRIC_GET_SENSOR_STATUS:
        device->OnGetSensorStatus(request);
        break;
    case IOCTL_BIOMETRIC_CAPTURE_DATA:
        device->OnCaptureData(request);
        break;
    case IOCTL_BIOMETRIC_UPDATE_FIRMWARE:
        device->OnUpdateFirmware(request);
        break;
    case IOCTL_BIOMETRIC_GET_SUPPORTED_ALGORITHMS:
        device->OnGetSupportedAlgorithms(request);
        break;
    case IOCTL_BIOMETRIC_GET_INDICATOR:
        device->OnGetIndicator(request);
        break;
    case IOCTL_BIOMETRIC_SET_INDICATOR:
        device->OnUnsupportedControl(request);
        break;
    default:
        if ((controlCode & IOCTL_BIOMETRIC_VENDOR) == IOCTL_BIOMETRIC_VENDOR) {
            device->OnUnsupportedControl(request);
        } else {
            request->Complete(HRESULT_FROM_WIN32(ERROR_INVALID_FUNCTION));
        }
        break;
    }
}

}  // namespace fpusbdrv
