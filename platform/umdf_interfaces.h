// The interfaces of the user-mode driver framework as this project's driver
// uses them: framework objects (implemented by the host) and the callback
// interfaces (implemented by the driver).
#pragma once

#include "umdf_com.h"
#include "win_types.h"

enum WDF_IO_QUEUE_DISPATCH_TYPE {
    WdfIoQueueDispatchInvalid = 0,
    WdfIoQueueDispatchSequential,
    WdfIoQueueDispatchParallel,
    WdfIoQueueDispatchManual,
};

enum WDF_REQUEST_TYPE {
    WdfRequestUndefined = 0,
    WdfRequestCreate = 1,
    WdfRequestRead = 3,
    WdfRequestWrite = 4,
    WdfRequestDeviceIoControl = 14,
    WdfRequestUsb = 0x100,
};

enum WDF_POWER_DEVICE_STATE {
    WdfPowerDeviceInvalid = 0,
    WdfPowerDeviceD0 = 1,
    WdfPowerDeviceD1 = 2,
    WdfPowerDeviceD2 = 3,
    WdfPowerDeviceD3 = 4,
    WdfPowerDeviceD3Final = 5,
    WdfPowerDevicePrepareForHibernation = 6,
};

constexpr DWORD WDF_REQUEST_SEND_OPTION_TIMEOUT = 0x1;
constexpr DWORD WDF_REQUEST_SEND_OPTION_SYNCHRONOUS = 0x2;

enum WINUSB_PIPE_TYPE {
    UsbdPipeTypeControl = 0,
    UsbdPipeTypeIsochronous = 1,
    UsbdPipeTypeBulk = 2,
    UsbdPipeTypeInterrupt = 3,
};

// USB power-policy settings and device-information types.
constexpr ULONG AUTO_SUSPEND = 0x81;
constexpr ULONG SUSPEND_DELAY = 0x83;
constexpr ULONG DEVICE_SPEED = 0x01;
static_assert(AUTO_SUSPEND == 129 && SUSPEND_DELAY == 131);

struct IWDFIoRequest;
struct IRequestCallbackCancel;
struct IRequestCallbackRequestCompletion;

struct IWDFObject : IUnknown {
    static constexpr IID iid{0x5F22465A, 0xA06A, 0x489D, {0x91, 0xEE, 0x6B, 0xA8, 0xEC, 0x76, 0xD0, 0xCE}};
    // Removes the object from the framework; references held by callers stay valid.
    virtual HRESULT DeleteWdfObject() = 0;

protected:
    ~IWDFObject() = default;
};

struct IWDFMemory : IWDFObject {
    static constexpr IID iid{0x0C9D774B, 0xB1AE, 0x406D, {0xA9, 0x11, 0x75, 0x0F, 0x72, 0x43, 0x4B, 0x62}};
    virtual void* GetDataBuffer(SIZE_T* size) = 0;
    virtual SIZE_T GetSize() = 0;

protected:
    ~IWDFMemory() = default;
};

struct IWDFIoTarget : IWDFObject {
    static constexpr IID iid{0x48ECD522, 0xDE32, 0x4C5D, {0xA3, 0x6E, 0x32, 0xD8, 0xD8, 0x23, 0x58, 0x77}};
    virtual HRESULT FormatRequestForRead(IWDFIoRequest* request, IWDFMemory* memory) = 0;
    virtual HRESULT FormatRequestForWrite(IWDFIoRequest* request, IWDFMemory* memory) = 0;

protected:
    ~IWDFIoTarget() = default;
};

struct IWDFUsbTargetPipe : IWDFIoTarget {
    static constexpr IID iid{0x2A9B99C2, 0x4FA8, 0x4718, {0xA3, 0x0C, 0x87, 0x68, 0x8A, 0x0B, 0x59, 0x74}};
    virtual BOOL IsInEndPoint() = 0;
    virtual BOOL IsOutEndPoint() = 0;
    virtual WINUSB_PIPE_TYPE GetType() = 0;

protected:
    ~IWDFUsbTargetPipe() = default;
};

struct IWDFUsbInterface : IWDFObject {
    static constexpr IID iid{0xF9C140C6, 0x3F4B, 0x4ECB, {0xAC, 0x71, 0x55, 0xDE, 0xCF, 0x0E, 0x48, 0xEB}};
    virtual UCHAR GetNumEndPoints() = 0;
    virtual HRESULT RetrieveUsbPipeObject(UCHAR pipeIndex, IWDFUsbTargetPipe** pipe) = 0;

protected:
    ~IWDFUsbInterface() = default;
};

struct IWDFUsbTargetDevice : IWDFIoTarget {
    static constexpr IID iid{0x0F09623B, 0xE03B, 0x4CAB, {0xAD, 0x4F, 0x64, 0x52, 0x91, 0x26, 0x49, 0xF9}};
    virtual UCHAR GetNumInterfaces() = 0;
    virtual HRESULT RetrieveUsbInterface(UCHAR interfaceIndex, IWDFUsbInterface** usbInterface) = 0;
    virtual HRESULT RetrieveDeviceInformation(ULONG informationType, ULONG* bufferLength, void* buffer) = 0;
    virtual HRESULT SetPowerPolicy(ULONG policyType, ULONG valueLength, void* value) = 0;

protected:
    ~IWDFUsbTargetDevice() = default;
};

struct IWDFUsbTargetFactory : IUnknown {
    static constexpr IID iid{0x3F7BECF9, 0x3A65, 0x4348, {0xA4, 0xF3, 0x33, 0x9D, 0x57, 0x34, 0xA9, 0xC6}};
    virtual HRESULT CreateUsbTargetDevice(IWDFUsbTargetDevice** device) = 0;

protected:
    ~IWDFUsbTargetFactory() = default;
};

struct IWDFRequestCompletionParams : IUnknown {
    static constexpr IID iid{0x2AF90F09, 0x2E1A, 0x475E, {0x9F, 0xAE, 0x18, 0x14, 0xB5, 0x2E, 0x9B, 0x4F}};
    virtual HRESULT GetCompletionStatus() = 0;
    virtual ULONG_PTR GetInformation() = 0;

protected:
    ~IWDFRequestCompletionParams() = default;
};

struct IWDFUsbRequestCompletionParams : IWDFRequestCompletionParams {
    static constexpr IID iid{0xC5E154B3, 0x4776, 0x4469, {0xB3, 0x5C, 0x64, 0x98, 0xEB, 0x0E, 0xCA, 0xBD}};
    virtual void GetPipeReadParameters(IWDFMemory** memory, SIZE_T* bytesRead) = 0;
    virtual void GetPipeWriteParameters(IWDFMemory** memory, SIZE_T* bytesWritten) = 0;

protected:
    ~IWDFUsbRequestCompletionParams() = default;
};

struct IWDFIoRequest : IWDFObject {
    static constexpr IID iid{0x48D7960A, 0x1704, 0x4229, {0x83, 0x29, 0x5D, 0x69, 0x4A, 0x08, 0x4B, 0xA0}};
    virtual void Complete(HRESULT status) = 0;
    virtual void CompleteWithInformation(HRESULT status, SIZE_T information) = 0;
    virtual void SetInformation(ULONG_PTR information) = 0;
    virtual void GetDeviceIoControlParameters(ULONG* controlCode, SIZE_T* inputSize, SIZE_T* outputSize) = 0;
    virtual void GetInputMemory(IWDFMemory** memory) = 0;
    virtual void GetOutputMemory(IWDFMemory** memory) = 0;
    virtual void MarkCancelable(IRequestCallbackCancel* callback) = 0;
    // HRESULT_FROM_WIN32(ERROR_OPERATION_ABORTED) when the request is being cancelled.
    virtual HRESULT UnmarkCancelable() = 0;
    virtual BOOL CancelSentRequest() = 0;
    virtual void SetCompletionCallback(IRequestCallbackRequestCompletion* callback, void* context) = 0;
    virtual HRESULT Send(IWDFIoTarget* target, DWORD flags, LONGLONG timeout) = 0;
    virtual void GetCompletionParams(IWDFRequestCompletionParams** params) = 0;

protected:
    ~IWDFIoRequest() = default;
};

struct IWDFIoQueue : IWDFObject {
    static constexpr IID iid{0x7A56180A, 0xB888, 0x4D3F, {0xB6, 0x71, 0x4E, 0x3F, 0x82, 0x76, 0xCB, 0xC3}};
    virtual void Start() = 0;
    virtual void StopSynchronously() = 0;

protected:
    ~IWDFIoQueue() = default;
};

struct IWDFDevice : IWDFObject {
    static constexpr IID iid{0x8604AE08, 0x8D25, 0x482B, {0xA9, 0x08, 0x06, 0x68, 0xE0, 0xD6, 0x3E, 0x76}};
    virtual HRESULT CreateIoQueue(IUnknown* callbacks, BOOL defaultQueue, WDF_IO_QUEUE_DISPATCH_TYPE dispatchType,
                                  BOOL powerManaged, BOOL allowZeroLengthRequests, IWDFIoQueue** queue) = 0;
    virtual HRESULT ConfigureRequestDispatching(IWDFIoQueue* queue, WDF_REQUEST_TYPE requestType, BOOL forward) = 0;
    virtual HRESULT CreateDeviceInterface(const GUID* interfaceGuid, PCWSTR referenceString) = 0;
    virtual HRESULT AssignDeviceInterfaceState(const GUID* interfaceGuid, PCWSTR referenceString, BOOL enable) = 0;
    // Gives the name length (with terminator) in *length when name is NULL or too short.
    virtual HRESULT RetrieveDeviceName(PWSTR name, DWORD* length) = 0;
    virtual HRESULT CreateRequest(IUnknown* callbacks, IWDFObject* parent, IWDFIoRequest** request) = 0;
    virtual HRESULT CreatePreallocatedWdfMemory(BYTE* buffer, SIZE_T size, IUnknown* callbacks, IWDFObject* parent,
                                                IWDFMemory** memory) = 0;

protected:
    ~IWDFDevice() = default;
};

struct IWDFDeviceInitialize : IUnknown {
    static constexpr IID iid{0x050BDFC7, 0x0342, 0x4D70, {0xBB, 0x4C, 0x41, 0x9C, 0xCC, 0xEC, 0xD8, 0xC8}};
    virtual void SetPowerPolicyOwnership(BOOL owner) = 0;

protected:
    ~IWDFDeviceInitialize() = default;
};

struct IWDFDriver : IWDFObject {
    static constexpr IID iid{0x9078449F, 0x28E7, 0x4C4C, {0xAE, 0x33, 0x4C, 0x53, 0xF7, 0x4F, 0x0D, 0xB6}};
    virtual HRESULT CreateDevice(IWDFDeviceInitialize* init, IUnknown* callbacks, IWDFDevice** device) = 0;

protected:
    ~IWDFDriver() = default;
};

// Callback interfaces implemented by the driver.

struct IDriverEntry : IUnknown {
    static constexpr IID iid{0x9C257321, 0x4C0E, 0x4BB9, {0x8E, 0xA1, 0x9C, 0x1F, 0xE6, 0x72, 0x8B, 0x31}};
    virtual HRESULT OnInitialize(IWDFDriver* driver) = 0;
    virtual HRESULT OnDeviceAdd(IWDFDriver* driver, IWDFDeviceInitialize* init) = 0;
    virtual void OnDeinitialize(IWDFDriver* driver) = 0;

protected:
    ~IDriverEntry() = default;
};

struct IPnpCallbackHardware : IUnknown {
    static constexpr IID iid{0x6FFB93B5, 0xD88C, 0x471E, {0xB3, 0x32, 0x21, 0xB6, 0xB3, 0x9B, 0x9B, 0xF7}};
    virtual HRESULT OnPrepareHardware(IWDFDevice* device) = 0;
    virtual HRESULT OnReleaseHardware(IWDFDevice* device) = 0;

protected:
    ~IPnpCallbackHardware() = default;
};

struct IPnpCallback : IUnknown {
    static constexpr IID iid{0x2FD0D508, 0xCC03, 0x4DC8, {0xA9, 0xF6, 0xCB, 0xF8, 0x88, 0x69, 0xDC, 0xA2}};
    virtual HRESULT OnD0Entry(IWDFDevice* device, WDF_POWER_DEVICE_STATE previousState) = 0;
    virtual HRESULT OnD0Exit(IWDFDevice* device, WDF_POWER_DEVICE_STATE newState) = 0;
    virtual void OnSurpriseRemoval(IWDFDevice* device) = 0;
    virtual HRESULT OnQueryRemove(IWDFDevice* device) = 0;
    virtual HRESULT OnQueryStop(IWDFDevice* device) = 0;

protected:
    ~IPnpCallback() = default;
};

struct IRequestCallbackRequestCompletion : IUnknown {
    static constexpr IID iid{0xBB56B9A9, 0x0B8B, 0x44AF, {0x91, 0xB3, 0x39, 0x4E, 0x16, 0x9A, 0xC2, 0x33}};
    virtual void OnCompletion(IWDFIoRequest* request, IWDFIoTarget* target, IWDFRequestCompletionParams* params,
                              void* context) = 0;

protected:
    ~IRequestCallbackRequestCompletion() = default;
};

struct IRequestCallbackCancel : IUnknown {
    static constexpr IID iid{0x4C36E44D, 0xD97D, 0x4B68, {0xAF, 0x83, 0x43, 0x9A, 0x02, 0x44, 0x27, 0x19}};
    virtual void OnCancel(IWDFIoRequest* request) = 0;

protected:
    ~IRequestCallbackCancel() = default;
};

struct IQueueCallbackDeviceIoControl : IUnknown {
    static constexpr IID iid{0xFF605633, 0xF379, 0x44CA, {0xBC, 0xAD, 0x3D, 0xDD, 0x3B, 0x86, 0x75, 0xA2}};
    virtual void OnDeviceIoControl(IWDFIoQueue* queue, IWDFIoRequest* request, ULONG controlCode,
                                   SIZE_T inputBufferSize, SIZE_T outputBufferSize) = 0;

protected:
    ~IQueueCallbackDeviceIoControl() = default;
};
