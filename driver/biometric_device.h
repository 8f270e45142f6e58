// CBiometricDevice: the sensor's device callback object. It owns the USB
// targets, answers the biometric I/O controls and runs one capture thread
// per capture request.
#pragma once

#include <atomic>
#include <cstdint>

#include "umdf_interfaces.h"
#include "win_sync.h"
#include "winbio_types.h"

namespace fpusbdrv {

class CBiometricIoQueue;

// One per queued bulk-in read; owned by the read until its epilogue.
struct ReadContext {
    BYTE* buffer;     // kImageBytes, owned by the context
    ULONG expected;   // bytes the read should deliver
    ULONG received;   // bytes delivered so far
    ULONG reserved;   // always 1
    uint64_t sequence;  // which read this is (for the cancel wait)
};

class CBiometricDevice final : public fp_platform::ComObject,
                               public IRequestCallbackRequestCompletion,
                               public IRequestCallbackCancel,
                               public IPnpCallbackHardware,
                               public IPnpCallback {
public:
    static HRESULT CreateInstanceAndInitialize(IWDFDriver* driver, IWDFDeviceInitialize* init,
                                               CBiometricDevice** device);
    HRESULT Configure();

    // IUnknown
    HRESULT QueryInterface(REFIID riid, void** object) override;
    ULONG AddRef() override { return add_reference(); }
    ULONG Release() override { return release_reference(); }

    // IRequestCallbackRequestCompletion
    void OnCompletion(IWDFIoRequest* request, IWDFIoTarget* target, IWDFRequestCompletionParams* params,
                      void* context) override;
    // IRequestCallbackCancel
    void OnCancel(IWDFIoRequest* request) override;
    // IPnpCallbackHardware
    HRESULT OnPrepareHardware(IWDFDevice* device) override;
    HRESULT OnReleaseHardware(IWDFDevice* device) override;
    // IPnpCallback
    HRESULT OnD0Entry(IWDFDevice* device, WDF_POWER_DEVICE_STATE previousState) override;
    HRESULT OnD0Exit(IWDFDevice* device, WDF_POWER_DEVICE_STATE newState) override;
    void OnSurpriseRemoval(IWDFDevice* device) override;
    HRESULT OnQueryRemove(IWDFDevice* device) override;
    HRESULT OnQueryStop(IWDFDevice* device) override;

    // Biometric I/O control handlers, called by the queue.
    void OnGetAttributes(IWDFIoRequest* request);
    void OnReset(IWDFIoRequest* request);
    void OnCalibrate(IWDFIoRequest* request);
    void OnGetSensorStatus(IWDFIoRequest* request);
    void OnCaptureData(IWDFIoRequest* request);
    void OnUpdateFirmware(IWDFIoRequest* request);
    void OnGetSupportedAlgorithms(IWDFIoRequest* request);
    void OnGetIndicator(IWDFIoRequest* request);
    void OnUnsupportedControl(IWDFIoRequest* request);

    // The life of one capture. Every change goes through TransitionLocked,
    // which allows only the moves of the table in biometric_device.cpp.
    enum class CaptureState : uint32_t {
        Idle,             // no capture thread
        Starting,         // thread started: reads the section, queues the read, sends the start command
        WaitingForFrame,  // read queued and start sent: the thread polls the image buffer
        Completing,       // the wait ended: the thread completes the request with the frame or its failure
        Abandoning,       // stop asked (cancel, reset, hardware release, a later capture, the section's
                          // match flag): the thread stops the sensor and completes a request still pending
                          // with E_ABORT (or the failure that ended its wait)
        Pausing,          // stop asked by a power-down: the thread stops the sensor and completes nothing
        Stopped,          // the thread completed or abandoned its capture and ends; its handle awaits a join
        Paused,           // joined after pausing: no thread, the request is kept for the power-up
    };

private:
    CBiometricDevice();
    ~CBiometricDevice() override;

    HRESULT Construct();
    HRESULT Initialize(IWDFDriver* driver, IWDFDeviceInitialize* init);

    // Hardware set-up and release.
    HRESULT CreateUsbIoTargets();
    HRESULT SetPowerManagement();
    void ReleaseUsbIoTargets();

    // Requests.
    HRESULT GetIoRequestParams(IWDFIoRequest* request, ULONG* controlCode, BYTE** inputBuffer, SIZE_T* inputSize,
                               BYTE** outputBuffer, SIZE_T* outputSize);
    template <typename Fill>
    void CompleteFixedSizeReply(IWDFIoRequest* request, ULONG fullSize, Fill fill);
    void PrepareCaptureLocked(IWDFIoRequest* request);
    void FillCaptureData(IWDFIoRequest* request);
    void CompletePendingRequest(HRESULT hr, SIZE_T information);
    void CompletePendingRequestWithData(HRESULT hr, SIZE_T information);
    void SaveCurrentRequestForLowPowerState();
    bool CheckCurrentRequestNotChanged();

    // Capture state.
    bool TransitionLocked(CaptureState next);
    CaptureState CurrentCaptureState() const;
    bool RequestStopLocked(CaptureState stop);
    bool ClaimCompletion();
    bool StillStarting() const;

    // Capture thread.
    static DWORD CaptureDataThread(void* parameter);
    void FinishCapture(HRESULT rc);
    bool CaptureThreadIdleLocked() const;
    bool JoinInProgressLocked() const;
    void StartCaptureThreadLocked();
    void StopCaptureThread();
    HANDLE TakeCaptureThreadLocked();
    void JoinCaptureThread(HANDLE thread);
    void WaitForOtherJoinLocked();
    void JoinCaptureThreadLocked();
    void CancelCaptureAndStopThread();
    HRESULT WaitFingerPrintDataAndCaptureData();
    HRESULT StartReadAndSensor();
    HRESULT PollForFrame();

    // USB protocol.
    HRESULT USBbulkwrite(ULONG command);
    HRESULT WriteSynchronously(BYTE* packet, ULONG length, ULONG* bytesWritten);
    HRESULT CreatePipeRequest(IWDFUsbTargetPipe* pipe, bool read, BYTE* buffer, ULONG length,
                              ComPtr<IWDFIoRequest>* request);
    HRESULT ReadAsynchronouslyBegin(BYTE* buffer, ULONG length);
    HRESULT ReadAsynchronously(BYTE* buffer, ULONG length, ReadContext* context);
    void EpilogueReadRequest(IWDFIoRequest* request, ReadContext* context);
    void ReleaseCompletionContext(ReadContext* context);
    void CopyImageData(BYTE* destination, const BYTE* source);
    HRESULT CancelReadRequest();

    // What the last read delivered, published by its completion.
    enum ReadOutcome : uint32_t { ReadNone = 0, ReadFrame, ReadShort, ReadFailed };

    // Fields, in the order of the object's description.
    IWDFDevice* m_FxDevice = nullptr;  // not referenced: the framework device owns this object
    CBiometricIoQueue* m_IoQueue = nullptr;  // not referenced: the framework queue owns it
    ComPtr<IWDFUsbTargetDevice> m_UsbTargetDevice;
    ComPtr<IWDFUsbInterface> m_UsbInterface;
    ComPtr<IWDFUsbTargetPipe> m_BulkInPipe;
    ComPtr<IWDFUsbTargetPipe> m_BulkOutPipe;
    ComPtr<IWDFUsbTargetPipe> m_InterruptPipe;
    UCHAR m_Speed = 0;
    BYTE* m_ImageBuffer = nullptr;
    BYTE* m_CommandBuffer = nullptr;
    HANDLE m_CancelEvent = nullptr;
    IWDFIoRequest* m_PendingCaptureRequest = nullptr;
    IWDFIoRequest* m_PendingReadRequest = nullptr;
    IWDFIoRequest* m_SavedRequest = nullptr;
    CRITICAL_SECTION m_CaptureLock{};  // lock A: pending capture, saved request, capture state, thread handle
    CRITICAL_SECTION m_ReadLock{};     // lock B: pending read
    HANDLE m_CaptureThread = INVALID_HANDLE_VALUE;
    HRESULT m_CaptureHresult = S_OK;
    ULONG m_PayloadSize = 0;

    // Where the capture stands: written under lock A by TransitionLocked
    // only, read without it by the capture thread's polling loop. A paused
    // capture keeps its request in m_SavedRequest.
    std::atomic<CaptureState> m_CaptureState{CaptureState::Idle};
    HANDLE m_JoinDoneEvent = nullptr;       // manual reset, signalled when no join runs

    // The bulk-in read in flight and what it delivered to the running capture.
    uint64_t m_ReadSequence = 0;            // under lock B: last read queued
    uint64_t m_PendingReadSequence = 0;     // under lock B
    uint64_t m_FinishedReadSequence = 0;    // under lock B: last read whose epilogue ran
    std::atomic<uint64_t> m_CurrentRead{0}; // changed under lock B: read whose data belongs to the running capture
    std::atomic<uint32_t> m_ReadOutcome{ReadNone};
    HRESULT m_ReadFailure = S_OK;           // published by m_ReadOutcome
    bool m_LocksReady = false;
};

}  // namespace fpusbdrv
