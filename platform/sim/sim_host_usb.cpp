#include "sim_host_usb.h"

#include <cstring>

#include "sim_host_request.h"

namespace fp_sim {

void SimCompletionParams::get(bool matches, IWDFMemory** memory, SIZE_T* bytes)
{
    if (memory != nullptr) {
        *memory = matches ? ComPtr<IWDFMemory>(memory_).detach() : nullptr;
    }
    if (bytes != nullptr) {
        *bytes = matches ? bytes_ : 0;
    }
}

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

SimUsbInterface::SimUsbInterface(SimHost* host, const std::vector<EndpointSpec>& endpoints) : endpoints_(endpoints)
{
    for (const EndpointSpec& spec : endpoints_) {
        pipes_.push_back(ComPtr<SimUsbPipe>::attach(new SimUsbPipe(host, spec)));
    }
}

HRESULT SimUsbInterface::RetrieveUsbPipeObject(UCHAR index, IWDFUsbTargetPipe** pipe)
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

SimUsbTargetDevice::SimUsbTargetDevice(SimHost* host)
    : host_(host), interface_(ComPtr<SimUsbInterface>::attach(new SimUsbInterface(host, host->usb_.endpoints)))
{
}

HRESULT SimUsbTargetDevice::DeleteWdfObject()
{
    {
        std::lock_guard<std::mutex> lock(host_->mutex_);
        host_->target_deleted_ = true;
    }
    host_->sensor_.cancel_all_reads();
    return S_OK;
}

HRESULT SimUsbTargetDevice::RetrieveUsbInterface(UCHAR index, IWDFUsbInterface** usb_interface)
{
    if (usb_interface == nullptr) {
        return E_POINTER;
    }
    *usb_interface = index == 0 ? ComPtr<SimUsbInterface>(interface_.get()).detach() : nullptr;
    return index == 0 ? S_OK : E_INVALIDARG;
}

HRESULT SimUsbTargetDevice::RetrieveDeviceInformation(ULONG type, ULONG* length, void* buffer)
{
    if (type != DEVICE_SPEED || length == nullptr || buffer == nullptr || *length < 1) {
        return E_INVALIDARG;
    }
    *static_cast<UCHAR*>(buffer) = host_->usb_.device_speed;
    *length = 1;
    return S_OK;
}

HRESULT SimUsbTargetDevice::SetPowerPolicy(ULONG type, ULONG length, void* value)
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

}  // namespace fp_sim
