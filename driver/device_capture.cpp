// Capture thread and USB protocol of CBiometricDevice.
#include <chrono>
#include <cstring>
#include <new>

#include "biometric_device.h"
#include "capture_data.h"
#include "driver_trace.h"
#include "match_section.h"
#include "read_buffer.h"

namespace fpusbdrv {
namespace {

constexpr DWORD kPollIntervalMs = 100;
constexpr DWORD kThreadEndDelayMs = 300;
constexpr DWORD kCancelWaitMs = 3000;
constexpr ULONG kImageRows = WINBIO_SENSOR_IMAGE_ROWS;
constexpr ULONG kImageColumns = WINBIO_SENSOR_IMAGE_COLUMNS;
constexpr BYTE kFrameTrailer[4] = {0x01, 0x02, 0x03, 0x04};

void store_u32(BYTE* destination, ULONG value)
{
    for (int i = 0; i < 4; ++i) {
        destination[i] = static_cast<BYTE>(value >> (8 * i));
    }
}

// Command words by command number; any unknown number is sent as the stop command.
CommandWords command_words(ULONG command)
{
    switch (command) {
    case kCommandStartCapture:
        return kStartCaptureWords;
    case kCommandReserved3:
        return kReserved3Words;
    case kCommandReserved4:
        return kReserved4Words;
    case kCommandReserved5:
        return kReserved5Words;
    default:
        return kStopWords;
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// Capture thread

DWORD CBiometricDevice::CaptureDataThread(void* parameter)
{
    FP_TRACE_METHOD();  // its closing line is the thread's last trace
    auto* device = static_cast<CBiometricDevice*>(parameter);
    device->FinishCapture(device->WaitFingerPrintDataAndCaptureData());
    Sleep(kThreadEndDelayMs);
    device->Release();
    return 0;
}

// Completes the request with the wait's result unless a power-down paused
// the capture, then marks the capture stopped.
void CBiometricDevice::FinishCapture(HRESULT rc)
{
    if (ClaimCompletion()) {
        if (FAILED(rc)) {
            FP_TRACE(u"HELLO:%S: capture fail ", "CaptureDataThread");
            CompletePendingRequest(rc, kCapturePayloadSize);
            clrmem();
            CancelReadRequest();
            USBbulkwrite(kCommandStop);
        } else {
            FP_TRACE(u"HELLO:%S: capture success ", "CaptureDataThread");
            CompletePendingRequestWithData(m_CaptureHresult, m_PayloadSize);
        }
    }
    fp_platform::CriticalSectionLock lock(&m_CaptureLock);
    TransitionLocked(CaptureState::Stopped);  // a paused capture stays Pausing until joined
}

HRESULT CBiometricDevice::WaitFingerPrintDataAndCaptureData()
{
    FP_TRACE_METHOD();
    if (StillStarting() && getmem() == 1) {
        // The last identification matched: this capture is abandoned.
        clrmem();
        fp_platform::CriticalSectionLock lock(&m_CaptureLock);
        RequestStopLocked(CaptureState::Abandoning);
    }
    if (StillStarting()) {
        const HRESULT started = StartReadAndSensor();
        if (FAILED(started)) {
            return started;
        }
        bool waiting = false;
        {
            fp_platform::CriticalSectionLock lock(&m_CaptureLock);
            waiting = TransitionLocked(CaptureState::WaitingForFrame);
        }
        if (waiting) {
            const HRESULT poll = PollForFrame();
            if (FAILED(poll)) {
                return poll;
            }
        }
    }
    bool completing = false;
    {
        fp_platform::CriticalSectionLock lock(&m_CaptureLock);
        completing = TransitionLocked(CaptureState::Completing);
    }
    if (!completing) {
        USBbulkwrite(kCommandStop);
        // The outstanding read must not complete into a later capture.
        CancelReadRequest();
        return E_ABORT;
    }
    return S_OK;
}

// Queues the frame's read and sends the start command.
HRESULT CBiometricDevice::StartReadAndSensor()
{
    // Nothing of an earlier capture may be taken for this one: a late
    // completion of an earlier read no longer counts as current once this
    // has run, and it checks that under the same lock.
    {
        fp_platform::CriticalSectionLock lock(&m_ReadLock);
        m_CurrentRead.store(0);
        std::memset(m_ImageBuffer, 0, kImageBytes);
        m_ReadOutcome.store(ReadNone, std::memory_order_relaxed);
    }
    BYTE* buffer = allocate_read_buffer();
    if (buffer == nullptr) {
        return E_OUTOFMEMORY;
    }
    const HRESULT read = ReadAsynchronouslyBegin(buffer, kImageBytes);
    const HRESULT hr = USBbulkwrite(kCommandStartCapture);
    if (FAILED(read)) {
        delete[] buffer;
        return read;
    }
    return hr;  // on failure the read owns the buffer and frees it in its epilogue
}

// Polls every 100 ms until the read has delivered a complete frame (trailer
// in place), a short one, or failed, or until the capture is asked to stop.
HRESULT CBiometricDevice::PollForFrame()
{
    while (CurrentCaptureState() == CaptureState::WaitingForFrame) {
        const uint32_t outcome = m_ReadOutcome.load(std::memory_order_acquire);
        if (outcome == ReadFrame && std::memcmp(m_ImageBuffer + kFrameTrailerOffset, kFrameTrailer, 4) == 0) {
            const BYTE* end = m_ImageBuffer + kFrameTrailerOffset;
            FP_TRACE(u"HELLO:%S: r1buffer. 0x%08x,0x%08x,0x%08x,0x%08x", __func__, end[0], end[1], end[2],
                     end[3]);
            return S_OK;
        }
        if (outcome == ReadShort) {
            return S_OK;  // the reply says bad capture
        }
        if (outcome == ReadFailed) {
            return m_ReadFailure;
        }
        Sleep(kPollIntervalMs);
    }
    return S_OK;
}

// ---------------------------------------------------------------------------
// USB protocol

HRESULT CBiometricDevice::USBbulkwrite(ULONG command)
{
    FP_TRACE_METHOD();
    BYTE* packet = new (std::nothrow) BYTE[kCommandPacketBytes];
    if (packet == nullptr) {
        CancelReadRequest();
        return E_OUTOFMEMORY;
    }
    std::memset(packet, 0, kCommandPacketBytes);
    const ULONG number = command & kCommandNumberMask;
    FP_TRACE(u"HELLO:%S: input 0x%x", __func__, number);
    const CommandWords words = command_words(number);
    store_u32(packet, kCommandSignature);
    store_u32(packet + 4, words.a);
    store_u32(packet + 8, words.b);
    ULONG written = 0;
    const HRESULT hr = WriteSynchronously(packet, kCommandPacketBytes, &written);
    if (FAILED(hr)) {
        CancelReadRequest();
    }
    delete[] packet;
    FP_TRACE(u"HELLO:%S: byteTransferred = 0x%x >>", __func__, written);
    return hr;
}

// Creates a framework request that transfers `length` bytes of `buffer` on
// `pipe` (a read for the bulk-in pipe, a write for the bulk-out pipe). On
// failure nothing is left behind and *request stays empty.
HRESULT CBiometricDevice::CreatePipeRequest(IWDFUsbTargetPipe* pipe, bool read, BYTE* buffer, ULONG length,
                                            ComPtr<IWDFIoRequest>* request)
{
    if (pipe == nullptr) {
        return HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE);
    }
    ComPtr<IWDFIoRequest> created;
    HRESULT hr = m_FxDevice->CreateRequest(nullptr, nullptr, created.put());
    if (FAILED(hr)) {
        return hr;
    }
    ComPtr<IWDFMemory> memory;
    hr = m_FxDevice->CreatePreallocatedWdfMemory(buffer, length, nullptr, created.get(), memory.put());
    if (SUCCEEDED(hr)) {
        hr = read ? pipe->FormatRequestForRead(created.get(), memory.get())
                  : pipe->FormatRequestForWrite(created.get(), memory.get());
    }
    if (FAILED(hr)) {
        created->DeleteWdfObject();
        return hr;
    }
    *request = std::move(created);
    return S_OK;
}

HRESULT CBiometricDevice::WriteSynchronously(BYTE* packet, ULONG length, ULONG* bytesWritten)
{
    FP_TRACE_METHOD();
    *bytesWritten = 0;
    ComPtr<IWDFIoRequest> request;
    HRESULT hr = CreatePipeRequest(m_BulkOutPipe.get(), false, packet, length, &request);
    if (FAILED(hr)) {
        return hr;
    }
    hr = request->Send(m_BulkOutPipe.get(), WDF_REQUEST_SEND_OPTION_SYNCHRONOUS, 0);
    if (SUCCEEDED(hr)) {
        ComPtr<IWDFRequestCompletionParams> params;
        request->GetCompletionParams(params.put());
        hr = params ? params->GetCompletionStatus() : E_UNEXPECTED;
        ComPtr<IWDFUsbRequestCompletionParams> usb_params;
        if (SUCCEEDED(hr) && SUCCEEDED(params.query(&usb_params))) {
            SIZE_T written = 0;
            usb_params->GetPipeWriteParameters(nullptr, &written);
            *bytesWritten = static_cast<ULONG>(written);
        }
    }
    request->DeleteWdfObject();
    return hr;
}

HRESULT CBiometricDevice::ReadAsynchronouslyBegin(BYTE* buffer, ULONG length)
{
    FP_TRACE_METHOD();
    auto* context = new (std::nothrow) ReadContext{buffer, length, 0, 1, 0};
    if (context == nullptr) {
        return E_OUTOFMEMORY;
    }
    fp_platform::CriticalSectionLock lock(&m_ReadLock);
    if (m_PendingReadRequest != nullptr) {
        FP_TRACE(u"HELLO:%S: old request cancled", __func__);
        m_PendingReadRequest = nullptr;
    }
    const HRESULT hr = ReadAsynchronously(buffer, length, context);
    if (FAILED(hr)) {
        delete context;  // the buffer stays with the caller
    }
    return hr;
}

// Called holding lock B.
HRESULT CBiometricDevice::ReadAsynchronously(BYTE* buffer, ULONG length, ReadContext* context)
{
    FP_TRACE_METHOD();
    ComPtr<IWDFIoRequest> request;
    HRESULT hr = CreatePipeRequest(m_BulkInPipe.get(), true, buffer, length, &request);
    if (FAILED(hr)) {
        return hr;
    }
    request->SetCompletionCallback(this, context);
    context->sequence = ++m_ReadSequence;
    m_CurrentRead.store(context->sequence);
    m_PendingReadRequest = request.get();
    m_PendingReadSequence = context->sequence;
    hr = request->Send(m_BulkInPipe.get(), 0, 0);
    if (FAILED(hr)) {
        request->DeleteWdfObject();
        m_PendingReadRequest = nullptr;
        return hr;
    }
    request.detach();  // released by the completion
    return S_OK;
}

void CBiometricDevice::OnCompletion(IWDFIoRequest* request, IWDFIoTarget*, IWDFRequestCompletionParams* params,
                                    void* context)
{
    FP_TRACE_METHOD();
    auto* read = static_cast<ReadContext*>(context);
    const HRESULT status = params->GetCompletionStatus();
    FP_TRACE(u"HELLO:%S: CompletionStatus = 0x%08x\n", __func__, status);
    ComPtr<IWDFUsbRequestCompletionParams> usb_params;
    const bool usb = SUCCEEDED(params->QueryInterface(IWDFUsbRequestCompletionParams::iid, usb_params.put_void()));
    const bool delivered = SUCCEEDED(status) && usb;
    if (delivered) {
        SIZE_T bytes = 0;
        usb_params->GetPipeReadParameters(nullptr, &bytes);
        read->received += static_cast<ULONG>(bytes);
        FP_TRACE(u"HELLO:%S: total byte = 0x%08x, read byte = 0x%08x", __func__, read->received,
                 static_cast<ULONG>(bytes));
    }
    {
        // Only the read of the running capture may touch the image buffer;
        // a capture that starts takes that right away under this lock.
        fp_platform::CriticalSectionLock lock(&m_ReadLock);
        const bool current = read->sequence == m_CurrentRead.load();
        if (delivered && read->received < read->expected) {
            if (m_PendingReadRequest == request) {
                m_PendingReadRequest = nullptr;
            }
            if (current) {
                m_ReadOutcome.store(ReadShort, std::memory_order_release);
            }
        } else if (delivered) {
            if (current) {
                std::memset(m_ImageBuffer, 0, kImageBytes);
                CopyImageData(m_ImageBuffer, read->buffer);
                m_ReadOutcome.store(ReadFrame, std::memory_order_release);  // after the copy
            }
        } else if (current) {
            m_ReadFailure = FAILED(status) ? status : E_UNEXPECTED;
            m_ReadOutcome.store(ReadFailed, std::memory_order_release);
        }
    }
    EpilogueReadRequest(request, read);
    request->DeleteWdfObject();
    request->Release();
}

void CBiometricDevice::EpilogueReadRequest(IWDFIoRequest* request, ReadContext* context)
{
    FP_TRACE_METHOD();
    {
        fp_platform::CriticalSectionLock lock(&m_ReadLock);
        if (m_PendingReadRequest == request) {
            m_PendingReadRequest = nullptr;
        }
        if (context->sequence > m_FinishedReadSequence) {
            m_FinishedReadSequence = context->sequence;
        }
    }
    ReleaseCompletionContext(context);
    SetEvent(m_CancelEvent);
}

void CBiometricDevice::ReleaseCompletionContext(ReadContext* context)
{
    FP_TRACE_METHOD();
    delete[] context->buffer;
    delete context;
}

void CBiometricDevice::CopyImageData(BYTE* destination, const BYTE* source)
{
    FP_TRACE_METHOD();
    for (ULONG row = 0; row < kImageRows; ++row) {
        std::memcpy(destination + row * kImageColumns, source + row * kImageColumns, kImageColumns);
    }
}

// Cancels the outstanding bulk-in read and waits (at most 3000 ms) until
// its completion has run. An event signal left by an earlier read does not
// end the wait: the read's own sequence number must have finished.
HRESULT CBiometricDevice::CancelReadRequest()
{
    FP_TRACE_METHOD();
    uint64_t sequence = 0;
    {
        fp_platform::CriticalSectionLock lock(&m_ReadLock);
        if (m_PendingReadRequest == nullptr) {
            return S_OK;
        }
        sequence = m_PendingReadSequence;
        m_PendingReadRequest->CancelSentRequest();
        m_PendingReadRequest = nullptr;
    }
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(kCancelWaitMs);
    for (;;) {
        {
            fp_platform::CriticalSectionLock lock(&m_ReadLock);
            if (m_FinishedReadSequence >= sequence) {
                return S_OK;
            }
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0 ||
            WaitForSingleObject(m_CancelEvent, static_cast<DWORD>(left)) ==
                WAIT_TIMEOUT) {
            fp_platform::CriticalSectionLock lock(&m_ReadLock);
            if (m_FinishedReadSequence >= sequence) {
                return S_OK;
            }
            FP_TRACE(u"HELLO:%S: Wait for cancle request timeout", __func__);
            return E_FAIL;
        }
    }
}

}  // namespace fpusbdrv
