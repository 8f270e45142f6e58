#include "biometric_driver.h"

#include <new>

#include "biometric_device.h"
#include "driver_trace.h"
#include "match_section.h"

namespace fpusbdrv {
namespace {

// The module's one class object: it creates driver objects.
class CDriverClassFactory final : public fp_platform::ComObject, public IClassFactory {
public:
    HRESULT QueryInterface(REFIID riid, void** object) override
    {
        return fp_platform::query_interfaces<CDriverClassFactory, IClassFactory>(this, riid, object);
    }
    ULONG AddRef() override { return add_reference(); }
    ULONG Release() override { return release_reference(); }

    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** object) override
    {
        if (object == nullptr) {
            return E_POINTER;
        }
        *object = nullptr;
        if (outer != nullptr) {
            return CLASS_E_NOAGGREGATION;
        }
        auto* driver = new (std::nothrow) CBiometricDriver();
        if (driver == nullptr) {
            return E_OUTOFMEMORY;
        }
        const HRESULT hr = driver->QueryInterface(riid, object);
        driver->Release();
        return hr;
    }

    HRESULT LockServer(BOOL) override { return S_OK; }

private:
    ~CDriverClassFactory() override = default;
};

// Module load and unload: the event-tracing provider lives as long as the
// module; the match section is let go of with it.
__attribute__((constructor)) void on_module_load() { register_trace_provider(); }
__attribute__((destructor)) void on_module_unload()
{
    clrmem();
    unregister_trace_provider();
}

}  // namespace

HRESULT CBiometricDriver::QueryInterface(REFIID riid, void** object)
{
    return fp_platform::query_interfaces<CBiometricDriver, IDriverEntry>(this, riid, object);
}

HRESULT CBiometricDriver::OnInitialize(IWDFDriver*)
{
    FP_TRACE_METHOD();
    return S_OK;
}

HRESULT CBiometricDriver::OnDeviceAdd(IWDFDriver* driver, IWDFDeviceInitialize* init)
{
    FP_TRACE_METHOD();
    CBiometricDevice* device = nullptr;
    HRESULT hr = CBiometricDevice::CreateInstanceAndInitialize(driver, init, &device);
    if (SUCCEEDED(hr)) {
        hr = device->Configure();
    }
    if (device != nullptr) {
        device->Release();  // the framework device keeps its own reference
    }
    return hr;
}

void CBiometricDriver::OnDeinitialize(IWDFDriver*) { FP_TRACE_METHOD(); }

}  // namespace fpusbdrv

extern "C" {

const char16_t Microsoft_WDF_UMDF_Version[] = u"1.11";

HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** object)
{
    if (object == nullptr) {
        return E_POINTER;
    }
    *object = nullptr;
    if (!(clsid == fpusbdrv::CLSID_BiometricDriver)) {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    auto* factory = new (std::nothrow) fpusbdrv::CDriverClassFactory();
    if (factory == nullptr) {
        return E_OUTOFMEMORY;
    }
    const HRESULT hr = factory->QueryInterface(riid, object);
    factory->Release();
    return hr;
}
}
