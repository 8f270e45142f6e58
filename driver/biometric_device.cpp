#include "biometric_device.h"

#include <cstring>
#include <memory>
#include <new>

#include "biometric_driver.h"
#include "biometric_queue.h"
#include "capture_data.h"
#include "driver_trace.h"

namespace fpusbdrv {

CBiometricDevice::CBiometricDevice() = default;

CBiometricDevice::~CBiometricDevice()
{
    if (m_CaptureThread != INVALID_HANDLE_VALUE) {
        CloseHandle(m_CaptureThread);  // the thread held a reference: it has ended
    }
    delete[] m_ImageBuffer;
    delete[] m_CommandBuffer;
    if (m_CancelEvent != nullptr) {
        CloseHandle(m_CancelEvent);
    }
    if (m_JoinDoneEvent != nullptr) {
        CloseHandle(m_JoinDoneEvent);
    }
    if (m_LocksReady) {
        DeleteCriticalSection(&m_CaptureLock);
        DeleteCriticalSection(&m_ReadLock);
    }
}

// Creates the event and both locks and allocates both buffers.
HRESULT CBiometricDevice::Construct()
{
    m_ImageBuffer = new (std::nothrow) BYTE[kImageBufferBytes]();
    m_CommandBuffer = new (std::nothrow) BYTE[kCommandBufferBytes]();
    if (m_ImageBuffer == nullptr || m_CommandBuffer == nullptr) {
        return E_OUTOFMEMORY;
    }
    m_CancelEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    m_JoinDoneEvent = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    if (m_CancelEvent == nullptr || m_JoinDoneEvent == nullptr) {
        return HRESULT_FROM_WIN32(GetLastError());
    }
    if (!InitializeCriticalSectionAndSpinCount(&m_CaptureLock, 0)) {
        return HRESULT_FROM_WIN32(GetLastError());
    }
    if (!InitializeCriticalSectionAndSpinCount(&m_ReadLock, 2000)) {
        const DWORD error = GetLastError();
        DeleteCriticalSection(&m_CaptureLock);
        return HRESULT_FROM_WIN32(error);
    }
    m_LocksReady = true;
    return S_OK;
}

HRESULT CBiometricDevice::CreateInstanceAndInitialize(IWDFDriver* driver, IWDFDeviceInitialize* init,
                                                      CBiometricDevice** device)
{
    FP_TRACE_METHOD();
    *device = nullptr;
    auto* created = new (std::nothrow) CBiometricDevice();
    if (created == nullptr) {
        return E_OUTOFMEMORY;
    }
    HRESULT hr = created->Construct();
    if (SUCCEEDED(hr)) {
        hr = created->Initialize(driver, init);
    }
    if (FAILED(hr)) {
        created->Release();
        return hr;
    }
    *device = created;
    return S_OK;
}

HRESULT CBiometricDevice::Initialize(IWDFDriver* driver, IWDFDeviceInitialize* init)
{
    FP_TRACE_METHOD();
    if (driver == nullptr || init == nullptr) {
        return E_INVALIDARG;
    }
    init->SetPowerPolicyOwnership(TRUE);
    ComPtr<IWDFDevice> fx_device;
    const HRESULT hr =
        driver->CreateDevice(init, static_cast<IPnpCallbackHardware*>(this), fx_device.put());
    if (SUCCEEDED(hr)) {
        // The framework device holds this object; keeping a reference back would make a cycle.
        m_FxDevice = fx_device.get();
    }
    return hr;
}

HRESULT CBiometricDevice::Configure()
{
    FP_TRACE_METHOD();
    CBiometricIoQueue* queue = nullptr;
    HRESULT hr = CBiometricIoQueue::CreateInstanceAndInitialize(m_FxDevice, this, &queue);
    if (FAILED(hr)) {
        return hr;
    }
    m_IoQueue = queue;
    queue->Release();  // the framework queue keeps its own reference
    hr = m_FxDevice->CreateDeviceInterface(&GUID_DEVINTERFACE_BIOMETRIC_READER, nullptr);
    if (SUCCEEDED(hr)) {
        hr = m_FxDevice->AssignDeviceInterfaceState(&GUID_DEVINTERFACE_BIOMETRIC_READER, nullptr, TRUE);
    }
    return hr;
}

HRESULT CBiometricDevice::QueryInterface(REFIID riid, void** object)
{
    return fp_platform::query_interfaces<CBiometricDevice, IPnpCallbackHardware, IPnpCallback,
                                         IRequestCallbackRequestCompletion, IRequestCallbackCancel>(this, riid,
                                                                                                    object);
}

// ---------------------------------------------------------------------------
// Plug and Play

HRESULT CBiometricDevice::OnPrepareHardware(IWDFDevice*)
{
    FP_TRACE_METHOD();
    DWORD length = 0;
    HRESULT hr = m_FxDevice->RetrieveDeviceName(nullptr, &length);
    std::unique_ptr<char16_t[]> name;
    if (SUCCEEDED(hr)) {
        name.reset(new (std::nothrow) char16_t[length == 0 ? 1 : length]);
        hr = name ? m_FxDevice->RetrieveDeviceName(name.get(), &length) : E_OUTOFMEMORY;
    }
    if (SUCCEEDED(hr)) {
        FP_TRACE(u"HELLO:%S: device name %s", __func__, name.get());
        hr = CreateUsbIoTargets();
    }
    if (SUCCEEDED(hr)) {
        ULONG speed_length = sizeof m_Speed;
        hr = m_UsbTargetDevice->RetrieveDeviceInformation(DEVICE_SPEED, &speed_length, &m_Speed);
        FP_TRACE(u"HELLO:%S: speed %d", __func__, static_cast<int>(m_Speed));
    }
    if (SUCCEEDED(hr)) {
        hr = SetPowerManagement();
    }
    if (SUCCEEDED(hr)) {
        m_IoQueue->Start();
    }
    return hr;
}

HRESULT CBiometricDevice::CreateUsbIoTargets()
{
    FP_TRACE_METHOD();
    ComPtr<IWDFUsbTargetFactory> factory;
    HRESULT hr = m_FxDevice->QueryInterface(IWDFUsbTargetFactory::iid, factory.put_void());
    if (SUCCEEDED(hr)) {
        hr = factory->CreateUsbTargetDevice(m_UsbTargetDevice.put());
    }
    if (SUCCEEDED(hr)) {
        FP_TRACE(u"HELLO:%S: interfaces %d", __func__, static_cast<int>(m_UsbTargetDevice->GetNumInterfaces()));
        hr = m_UsbTargetDevice->RetrieveUsbInterface(0, m_UsbInterface.put());
    }
    if (FAILED(hr)) {
        return hr;
    }
    const UCHAR endpoints = m_UsbInterface->GetNumEndPoints();
    if (endpoints != 2) {
        FP_TRACE(u"HELLO:%S: endpoints %d", __func__, static_cast<int>(endpoints));
        return E_UNEXPECTED;
    }
    for (UCHAR index = 0; index < endpoints; ++index) {
        ComPtr<IWDFUsbTargetPipe> pipe;
        const HRESULT pipe_hr = m_UsbInterface->RetrieveUsbPipeObject(index, pipe.put());
        if (FAILED(pipe_hr)) {
            FP_TRACE(u"HELLO:%S: pipe %d failed 0x%08x", __func__, static_cast<int>(index), pipe_hr);
            continue;
        }
        const WINUSB_PIPE_TYPE type = pipe->GetType();
        if (pipe->IsInEndPoint() && type == UsbdPipeTypeInterrupt) {
            m_InterruptPipe = pipe;
        } else if (pipe->IsInEndPoint() && type == UsbdPipeTypeBulk) {
            m_BulkInPipe = pipe;
        } else if (pipe->IsOutEndPoint() && type == UsbdPipeTypeBulk) {
            m_BulkOutPipe = pipe;
        } else {
            pipe->DeleteWdfObject();
        }
    }
    if (!m_BulkInPipe || !m_BulkOutPipe) {
        return E_UNEXPECTED;
    }
    return S_OK;
}

HRESULT CBiometricDevice::SetPowerManagement()
{
    FP_TRACE_METHOD();
    ULONG value = 5000;  // milliseconds idle before suspend
    HRESULT hr = m_UsbTargetDevice->SetPowerPolicy(SUSPEND_DELAY, sizeof value, &value);
    if (FAILED(hr)) {
        FP_TRACE(u"HELLO:%S: SUSPEND_DELAY failed 0x%08x", __func__, hr);
        return hr;
    }
    value = 1;
    hr = m_UsbTargetDevice->SetPowerPolicy(AUTO_SUSPEND, sizeof value, &value);
    if (FAILED(hr)) {
        FP_TRACE(u"HELLO:%S: AUTO_SUSPEND failed 0x%08x", __func__, hr);
    }
    return hr;
}

void CBiometricDevice::ReleaseUsbIoTargets()
{
    if (m_UsbTargetDevice) {
        m_UsbTargetDevice->DeleteWdfObject();
    }
    m_InterruptPipe.reset();
    m_BulkOutPipe.reset();
    m_BulkInPipe.reset();
    m_UsbInterface.reset();
    m_UsbTargetDevice.reset();
}

HRESULT CBiometricDevice::OnReleaseHardware(IWDFDevice*)
{
    FP_TRACE_METHOD();
    CompletePendingRequest(kCaptureCancelled, 0);
    {
        // A capture paused by a power-down is over; a later one must not be taken for it.
        fp_platform::CriticalSectionLock lock(&m_CaptureLock);
        m_SavedRequest = nullptr;
        TransitionLocked(CaptureState::Idle);  // only from Paused
    }
    m_IoQueue->StopSynchronously();
    // The capture thread may still send its stop command: join it before the target goes.
    StopCaptureThread();
    ReleaseUsbIoTargets();
    return S_OK;
}

// ---------------------------------------------------------------------------
// Power

HRESULT CBiometricDevice::OnD0Exit(IWDFDevice*, WDF_POWER_DEVICE_STATE newState)
{
    FP_TRACE_METHOD();
    if (newState < WdfPowerDeviceD1 || newState > WdfPowerDeviceD3) {
        return S_OK;
    }
    {
        fp_platform::CriticalSectionLock lock(&m_CaptureLock);
        if (m_PendingCaptureRequest != nullptr) {
            SaveCurrentRequestForLowPowerState();
            RequestStopLocked(CaptureState::Pausing);
            JoinCaptureThreadLocked();
        }
    }
    return S_OK;
}

HRESULT CBiometricDevice::OnD0Entry(IWDFDevice*, WDF_POWER_DEVICE_STATE previousState)
{
    FP_TRACE_METHOD();
    FP_TRACE(u"HELLO:%S: previousStae : %d", __func__, static_cast<int>(previousState));
    if (previousState < WdfPowerDeviceD1 || previousState > WdfPowerDeviceD3) {
        return S_OK;
    }
    fp_platform::CriticalSectionLock lock(&m_CaptureLock);
    const bool paused = CurrentCaptureState() == CaptureState::Paused;
    FP_TRACE(u"HELLO:%S: GetPauseState : %d", __func__, paused ? 1 : 0);
    if (paused) {
        // Paused means the thread was joined: the same request restarts on a new one.
        if (CheckCurrentRequestNotChanged()) {
            StartCaptureThreadLocked();
        } else {
            TransitionLocked(CaptureState::Idle);
        }
        m_SavedRequest = nullptr;
    }
    return S_OK;
}

void CBiometricDevice::SaveCurrentRequestForLowPowerState() { m_SavedRequest = m_PendingCaptureRequest; }

bool CBiometricDevice::CheckCurrentRequestNotChanged()
{
    FP_TRACE(u"HELLO:%S: prevRequest : 0x%p, currentRequest : 0x%p", __func__, static_cast<void*>(m_SavedRequest),
             static_cast<void*>(m_PendingCaptureRequest));
    return m_SavedRequest != nullptr && m_SavedRequest == m_PendingCaptureRequest;
}

void CBiometricDevice::OnSurpriseRemoval(IWDFDevice*) { FP_TRACE_METHOD(); }

HRESULT CBiometricDevice::OnQueryRemove(IWDFDevice*)
{
    FP_TRACE_METHOD();
    return S_OK;
}

HRESULT CBiometricDevice::OnQueryStop(IWDFDevice*)
{
    FP_TRACE_METHOD();
    return S_OK;
}

// ---------------------------------------------------------------------------
// Capture state

namespace {

using State = CBiometricDevice::CaptureState;

struct CaptureTransition {
    State from;
    State to;
};

// Every move a capture may make; TransitionLocked refuses any other.
constexpr CaptureTransition kCaptureTransitions[] = {
    {State::Idle, State::Starting},              // a capture request starts its thread
    {State::Paused, State::Starting},            // power-up restarts the paused request, or a new request
                                                 // follows one cancelled while paused
    {State::Paused, State::Idle},                // the paused request is gone (power-up, hardware release)
    {State::Starting, State::Idle},              // the thread could not be created
    {State::Starting, State::WaitingForFrame},   // read queued, start command sent
    {State::Starting, State::Completing},        // the read or the start command failed
    {State::Starting, State::Abandoning},        // stop asked, or the section reports a match
    {State::Starting, State::Pausing},           // power-down
    {State::WaitingForFrame, State::Completing}, // frame, short frame or failed read
    {State::WaitingForFrame, State::Abandoning}, // stop asked
    {State::WaitingForFrame, State::Pausing},    // power-down
    {State::Completing, State::Stopped},         // request completed (if still pending)
    {State::Abandoning, State::Stopped},         // sensor stopped, request completed with E_ABORT if pending
    {State::Stopped, State::Idle},               // thread joined
    {State::Pausing, State::Paused},             // thread joined after a power-down
};

constexpr bool capture_transition_allowed(State from, State to)
{
    for (const CaptureTransition& transition : kCaptureTransitions) {
        if (transition.from == from && transition.to == to) {
            return true;
        }
    }
    return false;
}

// States in which a capture thread exists (running, ending or being joined).
constexpr bool capture_thread_exists(State state) { return state != State::Idle && state != State::Paused; }

}  // namespace

CBiometricDevice::CaptureState CBiometricDevice::CurrentCaptureState() const
{
    return m_CaptureState.load(std::memory_order_acquire);
}

// Called holding lock A: the one place the capture state changes. Moves to
// `next` when the table allows it from the current state; otherwise leaves
// the state as it is and returns false.
bool CBiometricDevice::TransitionLocked(CaptureState next)
{
    const CaptureState current = CurrentCaptureState();
    if (!capture_transition_allowed(current, next)) {
        return false;
    }
    FP_TRACE(u"HELLO:%S: capture state %d -> %d", __func__, static_cast<int>(current), static_cast<int>(next));
    m_CaptureState.store(next, std::memory_order_release);
    return true;
}

// Called holding lock A: asks a capture that is still starting or waiting
// for its frame to stop (`stop` is Abandoning or Pausing). A capture already
// completing, stopping or stopped is left alone.
bool CBiometricDevice::RequestStopLocked(CaptureState stop) { return TransitionLocked(stop); }

// The capture thread, once its wait has ended: true when it is to complete
// the request (its result, or E_ABORT when abandoned), false when a
// power-down paused the capture. Decided under lock A so that a power-down
// either pauses the capture or finds it completing.
bool CBiometricDevice::ClaimCompletion()
{
    fp_platform::CriticalSectionLock lock(&m_CaptureLock);
    if (CurrentCaptureState() == CaptureState::Pausing) {
        return false;
    }
    TransitionLocked(CaptureState::Completing);  // an abandoned capture stays Abandoning
    return true;
}

bool CBiometricDevice::StillStarting() const { return CurrentCaptureState() == CaptureState::Starting; }

// ---------------------------------------------------------------------------
// Capture thread ownership

bool CBiometricDevice::CaptureThreadIdleLocked() const { return !capture_thread_exists(CurrentCaptureState()); }

// A thread exists but its handle has been taken out by a joiner.
bool CBiometricDevice::JoinInProgressLocked() const
{
    return capture_thread_exists(CurrentCaptureState()) && m_CaptureThread == INVALID_HANDLE_VALUE;
}

// Called holding lock A once; returns holding it. Asks the capture to stop
// and joins the thread found under this hold of the lock (leaving the lock
// during the join), or waits for a join that another caller is running.
void CBiometricDevice::JoinCaptureThreadLocked()
{
    RequestStopLocked(CaptureState::Abandoning);
    HANDLE thread = TakeCaptureThreadLocked();
    if (thread == INVALID_HANDLE_VALUE) {
        WaitForOtherJoinLocked();
        return;
    }
    LeaveCriticalSection(&m_CaptureLock);
    JoinCaptureThread(thread);
    EnterCriticalSection(&m_CaptureLock);
}

// Called holding lock A once: takes the capture thread out for joining, or
// gives INVALID_HANDLE_VALUE when there is none. Until the join has finished
// the capture is not idle and no new capture thread starts.
HANDLE CBiometricDevice::TakeCaptureThreadLocked()
{
    HANDLE thread = m_CaptureThread;
    if (thread != INVALID_HANDLE_VALUE) {
        m_CaptureThread = INVALID_HANDLE_VALUE;
        ResetEvent(m_JoinDoneEvent);
    }
    return thread;
}

// Called without lock A: waits for a thread taken out under it. The thread
// has moved its capture to Stopped, or left it Pausing.
void CBiometricDevice::JoinCaptureThread(HANDLE thread)
{
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    fp_platform::CriticalSectionLock lock(&m_CaptureLock);
    if (!TransitionLocked(CaptureState::Idle)) {
        TransitionLocked(CaptureState::Paused);
    }
    SetEvent(m_JoinDoneEvent);
}

// Called holding lock A once; returns holding it. Waits for a join that
// another caller is running.
void CBiometricDevice::WaitForOtherJoinLocked()
{
    while (JoinInProgressLocked()) {
        LeaveCriticalSection(&m_CaptureLock);
        WaitForSingleObject(m_JoinDoneEvent, INFINITE);
        EnterCriticalSection(&m_CaptureLock);
    }
}

// Stops and joins the capture thread. The handle is taken out under lock A
// and joined outside it; a caller that finds a join already running waits
// for that join to finish.
void CBiometricDevice::StopCaptureThread()
{
    EnterCriticalSection(&m_CaptureLock);
    JoinCaptureThreadLocked();
    LeaveCriticalSection(&m_CaptureLock);
}

// Called holding lock A with no capture thread; starts one for the pending capture.
void CBiometricDevice::StartCaptureThreadLocked()
{
    TransitionLocked(CaptureState::Starting);
    AddRef();  // released by the thread
    HANDLE thread = CreateThread(nullptr, 0, &CBiometricDevice::CaptureDataThread, this, 0, nullptr);
    if (thread == nullptr) {
        const DWORD error = GetLastError();
        Release();
        TransitionLocked(CaptureState::Idle);
        CompletePendingRequest(HRESULT_FROM_WIN32(error == ERROR_SUCCESS ? ERROR_NOT_ENOUGH_MEMORY : error), 0);
        return;
    }
    m_CaptureThread = thread;
}

}  // namespace fpusbdrv
