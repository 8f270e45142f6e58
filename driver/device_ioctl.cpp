// Biometric I/O control handlers of CBiometricDevice.
#include <cstring>

#include "biometric_device.h"
#include "capture_data.h"
#include "driver_trace.h"
#include "match_section.h"

namespace fpusbdrv {
namespace {

const char16_t kManufacturerName[] = u"Fingerprint Stack Project";
const char16_t kModelName[] = u"Touch Sensor 176x96";
const char16_t kSerialNumber[] = u"000-000-000";

void store_u32(BYTE* destination, ULONG value) { std::memcpy(destination, &value, sizeof value); }

template <size_t N>
void copy_text(WINBIO_STRING& destination, const char16_t (&text)[N])
{
    static_assert(N <= sizeof(WINBIO_STRING) / sizeof(WCHAR));
    std::memcpy(destination, text, N * sizeof(char16_t));
}

// Purpose bits accepted for values up to 16: 1, 2, 4, 8 and 16.
constexpr ULONG kAcceptedPurposeMask = 0x10116;

HRESULT check_capture_parameters(const WINBIO_CAPTURE_PARAMETERS& parameters)
{
    const ULONG purpose = parameters.Purpose;
    const bool purpose_ok = (purpose <= 16 && ((kAcceptedPurposeMask >> purpose) & 1) != 0) ||
                            purpose == WINBIO_PURPOSE_AUDIT;
    if (!purpose_ok) {
        return WINBIO_E_UNSUPPORTED_PURPOSE;
    }
    if (parameters.Format.Owner != WINBIO_ANSI_381_FORMAT_OWNER ||
        parameters.Format.Type != WINBIO_ANSI_381_FORMAT_TYPE) {
        return WINBIO_E_UNSUPPORTED_DATA_FORMAT;
    }
    if (parameters.Flags != WINBIO_DATA_FLAG_RAW) {
        return WINBIO_E_UNSUPPORTED_DATA_TYPE;
    }
    return S_OK;
}

// The block table and header of the captured record (image not yet in place).
void lay_down_capture_record(BYTE* reply, WINBIO_BIR_PURPOSE purpose)
{
    WINBIO_BIR bir{};
    bir.HeaderBlock = {sizeof(WINBIO_BIR_HEADER), kBirHeaderOffset};
    bir.StandardDataBlock = {kImageBytes, kBirStandardDataOffset};
    std::memcpy(reply + kBirOffset, &bir, sizeof bir);

    WINBIO_BIR_HEADER header{};
    header.DataFlags = WINBIO_DATA_FLAG_RAW;
    header.Type = WINBIO_TYPE_FINGERPRINT;
    header.Subtype = WINBIO_FP_SENSOR_SUBTYPE_TOUCH;
    header.Purpose = purpose;
    header.DataQuality = static_cast<int8_t>(0xFF);
    header.BiometricDataFormat = {WINBIO_ANSI_381_FORMAT_OWNER, WINBIO_ANSI_381_FORMAT_TYPE};
    std::memcpy(reply + kBirOffset + kBirHeaderOffset, &header, sizeof header);
}

}  // namespace

HRESULT CBiometricDevice::GetIoRequestParams(IWDFIoRequest* request, ULONG* controlCode, BYTE** inputBuffer,
                                             SIZE_T* inputSize, BYTE** outputBuffer, SIZE_T* outputSize)
{
    request->GetDeviceIoControlParameters(controlCode, inputSize, outputSize);
    ComPtr<IWDFMemory> input;
    ComPtr<IWDFMemory> output;
    request->GetInputMemory(input.put());
    request->GetOutputMemory(output.put());
    // The buffers belong to the request and stay valid until it completes.
    *inputBuffer = input ? static_cast<BYTE*>(input->GetDataBuffer(nullptr)) : nullptr;
    *outputBuffer = output ? static_cast<BYTE*>(output->GetDataBuffer(nullptr)) : nullptr;
    if (*inputBuffer == nullptr) {
        *inputSize = 0;
    }
    if (*outputBuffer == nullptr) {
        *outputSize = 0;
    }
    return S_OK;
}

template <typename Fill>
void CBiometricDevice::CompleteFixedSizeReply(IWDFIoRequest* request, ULONG fullSize, Fill fill)
{
    ULONG code = 0;
    BYTE* input = nullptr;
    BYTE* output = nullptr;
    SIZE_T input_size = 0;
    SIZE_T output_size = 0;
    GetIoRequestParams(request, &code, &input, &input_size, &output, &output_size);
    if (output == nullptr || output_size < sizeof(ULONG)) {
        request->CompleteWithInformation(E_INVALIDARG, 0);
        return;
    }
    if (output_size < fullSize) {
        store_u32(output, fullSize);  // tells the caller the size it needs
        request->CompleteWithInformation(S_OK, sizeof(ULONG));
        return;
    }
    std::memset(output, 0, output_size);
    fill(output, code, input_size, output_size);
    request->CompleteWithInformation(S_OK, fullSize);
}

void CBiometricDevice::OnGetAttributes(IWDFIoRequest* request)
{
    FP_TRACE_METHOD();
    CompleteFixedSizeReply(request, kAttributesPayloadSize, [](BYTE* output, ULONG, SIZE_T, SIZE_T) {
        WINBIO_SENSOR_ATTRIBUTES attributes{};
        attributes.PayloadSize = kAttributesPayloadSize;
        attributes.WinBioHresult = S_OK;
        attributes.WinBioVersion = {1, 0};
        attributes.SensorType = WINBIO_TYPE_FINGERPRINT;
        attributes.SensorSubType = WINBIO_FP_SENSOR_SUBTYPE_TOUCH;
        attributes.Capabilities = WINBIO_CAPABILITY_SENSOR;
        copy_text(attributes.ManufacturerName, kManufacturerName);
        copy_text(attributes.ModelName, kModelName);
        copy_text(attributes.SerialNumber, kSerialNumber);
        attributes.FirmwareVersion = {1, 0};
        attributes.SupportedFormatEntries = 1;
        attributes.SupportedFormat[0] = {WINBIO_ANSI_381_FORMAT_OWNER, WINBIO_ANSI_381_FORMAT_TYPE};
        std::memcpy(output, &attributes, sizeof attributes);
    });
}

void CBiometricDevice::OnReset(IWDFIoRequest* request)
{
    FP_TRACE_METHOD();
    CompleteFixedSizeReply(request, kBlankPayloadSize, [this](BYTE* output, ULONG, SIZE_T, SIZE_T) {
        CancelCaptureAndStopThread();
        WINBIO_BLANK_PAYLOAD payload{kBlankPayloadSize, S_OK};
        std::memcpy(output, &payload, sizeof payload);
    });
}

// Completes the pending capture as cancelled and stops its thread, which
// otherwise would run on and could hand a late frame to the next capture.
// The thread is taken under the same hold of lock A, so a capture that
// arrives meanwhile is not the one stopped.
void CBiometricDevice::CancelCaptureAndStopThread()
{
    EnterCriticalSection(&m_CaptureLock);
    CompletePendingRequest(kCaptureCancelled, 0);
    JoinCaptureThreadLocked();
    LeaveCriticalSection(&m_CaptureLock);
}

void CBiometricDevice::OnCalibrate(IWDFIoRequest* request)
{
    FP_TRACE_METHOD();
    CompleteFixedSizeReply(request, kCalibrationPayloadSize, [](BYTE* output, ULONG, SIZE_T, SIZE_T) {
        WINBIO_CALIBRATION_INFO info{};
        info.PayloadSize = kCalibrationPayloadSize;
        info.WinBioHresult = S_OK;
        info.CalibrationData.Size = 0;
        std::memcpy(output, &info, sizeof info);
    });
}

void CBiometricDevice::OnGetSensorStatus(IWDFIoRequest* request)
{
    FP_TRACE_METHOD();
    CompleteFixedSizeReply(request, kDiagnosticsPayloadSize,
                           [request](BYTE* output, ULONG code, SIZE_T input_size, SIZE_T output_size) {
                               FP_TRACE(u"HELLO:%S: ioctl = %08x, request = 0x%08x, ibuffer_size = 0x%x, "
                                        u"obuffer_size = 0x%x",
                                        "OnGetSensorStatus", code,
                                        static_cast<unsigned>(reinterpret_cast<uintptr_t>(request)),
                                        static_cast<unsigned>(input_size), static_cast<unsigned>(output_size));
                               WINBIO_DIAGNOSTICS diagnostics{};
                               diagnostics.PayloadSize = kDiagnosticsPayloadSize;
                               diagnostics.WinBioHresult = S_OK;
                               diagnostics.SensorStatus = WINBIO_SENSOR_READY;
                               std::memcpy(output, &diagnostics, sizeof diagnostics);
                               FP_TRACE(u"HELLO:%S: SensorStatus = %d ", "OnGetSensorStatus",
                                        static_cast<int>(diagnostics.SensorStatus));
                           });
}

void CBiometricDevice::OnUpdateFirmware(IWDFIoRequest* request)
{
    FP_TRACE_METHOD();
    request->Complete(E_NOTIMPL);
}

void CBiometricDevice::OnGetSupportedAlgorithms(IWDFIoRequest* request)
{
    FP_TRACE_METHOD();
    request->Complete(E_NOTIMPL);
}

void CBiometricDevice::OnGetIndicator(IWDFIoRequest* request)
{
    FP_TRACE_METHOD();
    request->Complete(E_NOTIMPL);
}

void CBiometricDevice::OnUnsupportedControl(IWDFIoRequest* request)
{
    FP_TRACE_METHOD();
    request->Complete(E_NOTIMPL);
}

void CBiometricDevice::OnCaptureData(IWDFIoRequest* request)
{
    FP_TRACE_METHOD();
    EnterCriticalSection(&m_CaptureLock);
    for (;;) {
        if (m_PendingCaptureRequest != nullptr) {
            LeaveCriticalSection(&m_CaptureLock);
            request->Complete(WINBIO_E_DATA_COLLECTION_IN_PROGRESS);
            return;
        }
        if (CaptureThreadIdleLocked()) {
            break;
        }
        // An earlier capture's thread is still ending: join it, then look again.
        JoinCaptureThreadLocked();
    }
    m_PendingCaptureRequest = request;
    request->MarkCancelable(this);
    // Lock A stays held while the reply is prepared and the thread starts, so a
    // cancel waits for a consistent state. A cancel that already ran took the request.
    if (m_PendingCaptureRequest == request) {
        PrepareCaptureLocked(request);
    }
    LeaveCriticalSection(&m_CaptureLock);
}

void CBiometricDevice::PrepareCaptureLocked(IWDFIoRequest* request)
{
    ULONG code = 0;
    BYTE* input = nullptr;
    BYTE* output = nullptr;
    SIZE_T input_size = 0;
    SIZE_T output_size = 0;
    GetIoRequestParams(request, &code, &input, &input_size, &output, &output_size);
    if (input == nullptr || input_size < kCaptureParametersSize || output == nullptr ||
        output_size < sizeof(ULONG)) {
        CompletePendingRequest(E_INVALIDARG, 0);
        return;
    }
    if (output_size < kCapturePayloadSize) {
        store_u32(output, kCapturePayloadSize);
        CompletePendingRequest(S_OK, sizeof(ULONG));
        return;
    }
    WINBIO_CAPTURE_DATA reply{};
    reply.PayloadSize = kCapturePayloadSize;
    reply.WinBioHresult = S_OK;
    reply.SensorStatus = WINBIO_SENSOR_READY;
    reply.RejectDetail = 0;
    reply.CaptureData.Size = 0;
    WINBIO_CAPTURE_PARAMETERS parameters;
    std::memcpy(&parameters, input, sizeof parameters);
    const HRESULT check = check_capture_parameters(parameters);
    if (FAILED(check)) {
        reply.WinBioHresult = check;
        std::memcpy(output, &reply, kBirOffset);
        CompletePendingRequest(S_OK, kCapturePayloadSize);
        return;
    }
    std::memcpy(output, &reply, kBirOffset);
    lay_down_capture_record(output, parameters.Purpose);

    // A capture paused by a power-down was cancelled, or this one would have
    // been refused as busy: this capture's thread completes it.
    m_SavedRequest = nullptr;
    m_CaptureHresult = S_OK;
    m_PayloadSize = kCapturePayloadSize;
    initmem();
    StartCaptureThreadLocked();
}

void CBiometricDevice::FillCaptureData(IWDFIoRequest* request)
{
    ULONG code = 0;
    BYTE* input = nullptr;
    BYTE* output = nullptr;
    SIZE_T input_size = 0;
    SIZE_T output_size = 0;
    GetIoRequestParams(request, &code, &input, &input_size, &output, &output_size);
    if (output == nullptr || output_size < kCapturePayloadSize) {
        return;
    }
    auto* reply = reinterpret_cast<WINBIO_CAPTURE_DATA*>(output);
    if (m_ReadOutcome.load(std::memory_order_acquire) == ReadShort) {
        // The sensor sent less than a frame: no image, the framework is told so.
        reply->WinBioHresult = WINBIO_E_BAD_CAPTURE;
        reply->SensorStatus = WINBIO_SENSOR_READY;
        reply->CaptureData.Size = 0;
    } else {
        reply->CaptureData.Size = kCaptureDataSize;
        std::memcpy(output + kReplyImageOffset, m_ImageBuffer, kImageBytes);
        reply->WinBioHresult = S_OK;
        reply->SensorStatus = WINBIO_SENSOR_ACCEPT;
    }
    std::memset(m_ImageBuffer, 0, kImageBytes);
}

void CBiometricDevice::CompletePendingRequest(HRESULT hr, SIZE_T information)
{
    FP_TRACE_METHOD();
    fp_platform::CriticalSectionLock lock(&m_CaptureLock);
    IWDFIoRequest* request = m_PendingCaptureRequest;
    if (request == nullptr || request->UnmarkCancelable() == kCaptureAborted) {
        return;  // nothing pending, or the cancel callback completes it
    }
    request->SetInformation(information);
    request->Complete(hr);
    m_PendingCaptureRequest = nullptr;
}

void CBiometricDevice::CompletePendingRequestWithData(HRESULT hr, SIZE_T information)
{
    FP_TRACE_METHOD();
    fp_platform::CriticalSectionLock lock(&m_CaptureLock);
    IWDFIoRequest* request = m_PendingCaptureRequest;
    if (request == nullptr || request->UnmarkCancelable() == kCaptureAborted) {
        return;
    }
    FillCaptureData(request);
    request->SetInformation(information);
    request->Complete(hr);
    m_PendingCaptureRequest = nullptr;
}

void CBiometricDevice::OnCancel(IWDFIoRequest* request)
{
    FP_TRACE_METHOD();
    fp_platform::CriticalSectionLock lock(&m_CaptureLock);
    if (m_PendingCaptureRequest != nullptr && m_PendingCaptureRequest == request) {
        request->CompleteWithInformation(kCaptureAborted, 0);
        RequestStopLocked(CaptureState::Abandoning);
        m_PendingCaptureRequest = nullptr;
    }
}

}  // namespace fpusbdrv
