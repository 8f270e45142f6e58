// The simulated host's USB objects: framework memory, completion parameters,
// and the USB target device with its interface and pipes, which route
// transfers to the host's SimSensor.
#pragma once

#include <vector>

#include "sim_host_objects.h"

namespace fp_sim {

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
    void get(bool matches, IWDFMemory** memory, SIZE_T* bytes);

    HRESULT status_;
    size_t bytes_;
    ComPtr<IWDFMemory> memory_;
    bool read_;
};

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
    SimUsbInterface(SimHost* host, const std::vector<EndpointSpec>& endpoints);

    HRESULT QueryInterface(REFIID riid, void** object) override
    {
        return fp_platform::query_interfaces<SimUsbInterface, IWDFUsbInterface, IWDFObject>(this, riid, object);
    }
    FP_SIM_COM_REFCOUNT
    HRESULT DeleteWdfObject() override { return S_OK; }
    UCHAR GetNumEndPoints() override { return static_cast<UCHAR>(endpoints_.size()); }
    HRESULT RetrieveUsbPipeObject(UCHAR index, IWDFUsbTargetPipe** pipe) override;

private:
    std::vector<EndpointSpec> endpoints_;
    std::vector<ComPtr<SimUsbPipe>> pipes_;
};

class SimUsbTargetDevice final : public fp_platform::ComObject, public IWDFUsbTargetDevice {
public:
    explicit SimUsbTargetDevice(SimHost* host);

    HRESULT QueryInterface(REFIID riid, void** object) override
    {
        return fp_platform::query_interfaces<SimUsbTargetDevice, IWDFUsbTargetDevice, IWDFIoTarget, IWDFObject>(
            this, riid, object);
    }
    FP_SIM_COM_REFCOUNT
    // Deleting the target cancels every read the sensor still holds.
    HRESULT DeleteWdfObject() override;
    HRESULT FormatRequestForRead(IWDFIoRequest*, IWDFMemory*) override { return E_NOTIMPL; }
    HRESULT FormatRequestForWrite(IWDFIoRequest*, IWDFMemory*) override { return E_NOTIMPL; }
    UCHAR GetNumInterfaces() override { return 1; }
    HRESULT RetrieveUsbInterface(UCHAR index, IWDFUsbInterface** usb_interface) override;
    HRESULT RetrieveDeviceInformation(ULONG type, ULONG* length, void* buffer) override;
    HRESULT SetPowerPolicy(ULONG type, ULONG length, void* value) override;

private:
    SimHost* host_;
    ComPtr<SimUsbInterface> interface_;
};

}  // namespace fp_sim
