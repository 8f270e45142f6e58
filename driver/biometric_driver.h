// CBiometricDriver: the driver object created through the module's class
// object; it adds one CBiometricDevice per sensor.
#pragma once

#include "umdf_interfaces.h"

#define FPUSBDRV_EXPORT __attribute__((visibility("default")))

namespace fpusbdrv {

// Class identifier under which the driver object is registered.
constexpr CLSID CLSID_BiometricDriver{0xBE0A5E4B, 0xAD95, 0x4CBF, {0xA4, 0x49, 0xF6, 0xA5, 0x46, 0xF8, 0x9D, 0x12}};

// Interface class of the biometric reader device interface.
constexpr GUID GUID_DEVINTERFACE_BIOMETRIC_READER{
    0xE2B5183A, 0x99EA, 0x4CC3, {0xAD, 0x6B, 0x80, 0xCA, 0x8D, 0x71, 0x5B, 0x80}};

class CBiometricDriver final : public fp_platform::ComObject, public IDriverEntry {
public:
    CBiometricDriver() = default;

    HRESULT QueryInterface(REFIID riid, void** object) override;
    ULONG AddRef() override { return add_reference(); }
    ULONG Release() override { return release_reference(); }

    HRESULT OnInitialize(IWDFDriver* driver) override;
    HRESULT OnDeviceAdd(IWDFDriver* driver, IWDFDeviceInitialize* init) override;
    void OnDeinitialize(IWDFDriver* driver) override;

private:
    ~CBiometricDriver() override = default;
};

}  // namespace fpusbdrv

extern "C" {
FPUSBDRV_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** object);
FPUSBDRV_EXPORT extern const char16_t Microsoft_WDF_UMDF_Version[];
}
