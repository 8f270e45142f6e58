// The engine-adapter function table and its simple slots: formats, hints,
// engine information, control units, power and pipeline notifications, and
// the operations this engine does not support.
#include <cstring>

#include "engine_adapter.h"
#include "engine_context.h"
#include "engine_section.h"
#include "engine_trace.h"

namespace {

constexpr GUID kEngineAdapterId = {0x295cf28a, 0xb58f, 0x40be, {0xae, 0x4e, 0x9a, 0x7b, 0xf9, 0x8b, 0xd1, 0xa3}};

HRESULT control_unit(const char* trace_format, WINBIO_PIPELINE* Pipeline, uint32_t ControlCode,
                     uint8_t* SendBuffer, uint8_t* ReceiveBuffer, size_t* ReceiveDataSize,
                     uint32_t* OperationStatus) {
    if (Pipeline == nullptr || SendBuffer == nullptr || ReceiveBuffer == nullptr || ReceiveDataSize == nullptr ||
        OperationStatus == nullptr)
        return E_POINTER;
    if (Pipeline->EngineContext == nullptr) return WINBIO_E_INVALID_DEVICE_STATE;
    engine_trace(trace_format, ControlCode);
    return WINBIO_E_INVALID_CONTROL_CODE;
}

HRESULT pipeline_only(WINBIO_PIPELINE* Pipeline) { return Pipeline == nullptr ? E_POINTER : S_OK; }

}  // namespace

HRESULT EngineAdapterQueryPreferredFormat(WINBIO_PIPELINE* Pipeline, WINBIO_REGISTERED_FORMAT* StandardFormat,
                                          WINBIO_UUID* VendorFormat) {
    engine_trace(" engine engineEngineAdapterQueryPreferredFormat called\n");
    if (Pipeline == nullptr || StandardFormat == nullptr || VendorFormat == nullptr) return E_POINTER;
    StandardFormat->Owner = WINBIO_ANSI_381_FORMAT_OWNER;
    StandardFormat->Type = WINBIO_ANSI_381_FORMAT_TYPE;
    return S_OK;
}

HRESULT EngineAdapterQueryIndexVectorSize(WINBIO_PIPELINE* Pipeline, size_t* IndexElementCount) {
    engine_trace(" engine engineEngineAdapterQueryIndexVectorSize called\n");
    if (Pipeline == nullptr || IndexElementCount == nullptr) return E_POINTER;
    *IndexElementCount = 0;
    return S_OK;
}

HRESULT EngineAdapterQueryHashAlgorithms(WINBIO_PIPELINE*, size_t*, size_t*, uint8_t**) {
    engine_trace(" engine engineEngineAdapterQueryHashAlgorithms called\n");
    return E_NOTIMPL;
}

HRESULT EngineAdapterSetHashAlgorithm(WINBIO_PIPELINE*, size_t, uint8_t*) {
    engine_trace(" engine engineEngineAdapterSetHashAlgorithm called\n");
    return E_NOTIMPL;
}

HRESULT EngineAdapterQuerySampleHint(WINBIO_PIPELINE* Pipeline, size_t* SampleHint) {
    engine_trace(" engine engineEngineAdapterQuerySampleHint called\n");
    if (Pipeline == nullptr || SampleHint == nullptr) return E_POINTER;
    *SampleHint = kEnrollmentSamples;
    engine_trace(" engine engineEngineAdapterQuerySampleHint Exit\n");
    return S_OK;
}

HRESULT EngineAdapterExportEngineData(WINBIO_PIPELINE*, WINBIO_BIR_DATA_FLAGS, WINBIO_BIR**, size_t*) {
    engine_trace(" engine engineEngineAdapterExportEngineData called\n");
    return E_NOTIMPL;
}

HRESULT EngineAdapterGetEnrollmentHash(WINBIO_PIPELINE*, uint8_t**, size_t*) {
    engine_trace(" engine engineEngineAdapterGetEnrollmentHash called\n");
    return E_NOTIMPL;
}

HRESULT EngineAdapterControlUnit(WINBIO_PIPELINE* Pipeline, uint32_t ControlCode, uint8_t* SendBuffer, size_t,
                                 uint8_t* ReceiveBuffer, size_t, size_t* ReceiveDataSize,
                                 uint32_t* OperationStatus) {
    engine_trace(" engine engineEngineAdapterControlUnit called\n");
    return control_unit("EngineAdapterControlUnit ControlCode. 0x%08x\n", Pipeline, ControlCode, SendBuffer,
                        ReceiveBuffer, ReceiveDataSize, OperationStatus);
}

HRESULT EngineAdapterControlUnitPrivileged(WINBIO_PIPELINE* Pipeline, uint32_t ControlCode, uint8_t* SendBuffer,
                                           size_t, uint8_t* ReceiveBuffer, size_t, size_t* ReceiveDataSize,
                                           uint32_t* OperationStatus) {
    engine_trace(" engine engineEngineAdapterControlUnitPrivileged called\n");
    return control_unit("EngineAdapterControlUnitPrivileged ControlCode. 0x%08x\n", Pipeline, ControlCode,
                        SendBuffer, ReceiveBuffer, ReceiveDataSize, OperationStatus);
}

HRESULT EngineAdapterNotifyPowerChange(WINBIO_PIPELINE* Pipeline, WINBIO_POWER_EVENT PowerEventType) {
    engine_trace(" engine engineEngineAdapterNotifyPowerChange called\n");
    switch (PowerEventType) {
    case WINBIO_POWER_EVENT_SUSPENDING:
        engine_trace(" engineSystem entering a low-power state.\n");
        break;
    case WINBIO_POWER_EVENT_POWER_SOURCE_CHANGE:
        engine_trace(" enginesystem's power source is changing.\n");
        break;
    case WINBIO_POWER_EVENT_RESUMING:
        engine_trace(" enginesystem is returning from a low-power state.\n");
        break;
    default:
        engine_trace(" engineInvalid event type\n");
        return E_INVALIDARG;
    }
    return pipeline_only(Pipeline);
}

HRESULT EngineAdapterPipelineInit(WINBIO_PIPELINE* Pipeline) {
    engine_trace(" engine engineEngineAdapterPipelineInit called\n");
    return pipeline_only(Pipeline);
}

HRESULT EngineAdapterPipelineCleanup(WINBIO_PIPELINE* Pipeline) {
    engine_trace(" engine engineEngineAdapterPipelineCleanup called\n");
    return pipeline_only(Pipeline);
}

HRESULT EngineAdapterActivate(WINBIO_PIPELINE* Pipeline) {
    engine_trace(" engine engineEngineAdapterActivate called\n");
    setmem(0);
    return pipeline_only(Pipeline);
}

HRESULT EngineAdapterDeactivate(WINBIO_PIPELINE* Pipeline) {
    engine_trace(" engine engineEngineAdapterDeactivate called\n");
    return pipeline_only(Pipeline);
}

HRESULT EngineAdapterQueryExtendedInfo(WINBIO_PIPELINE* Pipeline, WINBIO_EXTENDED_ENGINE_INFO* EngineInfo,
                                       size_t EngineInfoSize) {
    engine_trace(" engine engineEngineAdapterQueryExtendedInfo called\n");
    if (Pipeline == nullptr || EngineInfo == nullptr) return E_POINTER;
    if (EngineInfoSize < sizeof(WINBIO_EXTENDED_ENGINE_INFO)) return E_INVALIDARG;
    std::memset(EngineInfo, 0, sizeof(WINBIO_EXTENDED_ENGINE_INFO));
    EngineInfo->GenericEngineCapabilities = WINBIO_ENGINE_CAPABILITY_SUPPORTED;
    EngineInfo->Factor = WINBIO_TYPE_FINGERPRINT;
    EngineInfo->Specific.Fingerprint.Capabilities = 0;
    EngineInfo->Specific.Fingerprint.EnrollmentRequirements.GeneralSamples = kEnrollmentSamples;
    EngineInfo->Specific.Fingerprint.EnrollmentRequirements.Center = kEnrollmentCenterSamples;
    return S_OK;
}

HRESULT EngineAdapterIdentifyAll(WINBIO_PIPELINE*, size_t*, WINBIO_PRESENCE**) {
    engine_trace(" engine engineEngineAdapterIdentifyAll called\n");
    return E_NOTIMPL;
}

HRESULT EngineAdapterSetEnrollmentSelector(WINBIO_PIPELINE*, uint64_t) {
    engine_trace(" engine engineEngineAdapterSetEnrollmentSelector called\n");
    return E_NOTIMPL;
}

HRESULT EngineAdapterRefreshCache(WINBIO_PIPELINE* Pipeline) {
    engine_trace(" engine engineEngineAdapterRefreshCache called\n");
    return pipeline_only(Pipeline);
}

HRESULT EngineAdapterSelectCalibrationFormat(WINBIO_PIPELINE*, WINBIO_UUID*, size_t, WINBIO_UUID*, size_t*) {
    engine_trace(" engine engineEngineAdapterSelectCalibrationFormat called\n");
    return E_NOTIMPL;
}

HRESULT EngineAdapterQueryCalibrationData(WINBIO_PIPELINE*, BOOLEAN*, size_t, uint8_t*, size_t*) {
    engine_trace(" engine engineEngineAdapterQueryCalibrationData called\n");
    return E_NOTIMPL;
}

HRESULT EngineAdapterSetAccountPolicy(WINBIO_PIPELINE*, WINBIO_ACCOUNT_POLICY*, size_t) {
    engine_trace(" engine engineEngineAdapterSetAccountPolicy called\n");
    return E_NOTIMPL;
}

namespace {

const WINBIO_ENGINE_INTERFACE kEngineInterface = {
    {3, 0},
    WINBIO_ADAPTER_TYPE_ENGINE,
    sizeof(WINBIO_ENGINE_INTERFACE),
    kEngineAdapterId,
    EngineAdapterAttach,
    EngineAdapterDetach,
    EngineAdapterClearContext,
    EngineAdapterQueryPreferredFormat,
    EngineAdapterQueryIndexVectorSize,
    EngineAdapterQueryHashAlgorithms,
    EngineAdapterSetHashAlgorithm,
    EngineAdapterQuerySampleHint,
    EngineAdapterAcceptSampleData,
    EngineAdapterExportEngineData,
    EngineAdapterVerifyFeatureSet,
    EngineAdapterIdentifyFeatureSet,
    EngineAdapterCreateEnrollment,
    EngineAdapterUpdateEnrollment,
    EngineAdapterGetEnrollmentStatus,
    EngineAdapterGetEnrollmentHash,
    EngineAdapterCheckForDuplicate,
    EngineAdapterCommitEnrollment,
    EngineAdapterDiscardEnrollment,
    EngineAdapterControlUnit,
    EngineAdapterControlUnitPrivileged,
    EngineAdapterNotifyPowerChange,
    nullptr,  // Reserved_1
    EngineAdapterPipelineInit,
    EngineAdapterPipelineCleanup,
    EngineAdapterActivate,
    EngineAdapterDeactivate,
    EngineAdapterQueryExtendedInfo,
    EngineAdapterIdentifyAll,
    EngineAdapterSetEnrollmentSelector,
    EngineAdapterSetEnrollmentParameters,
    EngineAdapterQueryExtendedEnrollmentStatus,
    EngineAdapterRefreshCache,
    EngineAdapterSelectCalibrationFormat,
    EngineAdapterQueryCalibrationData,
    EngineAdapterSetAccountPolicy,
    nullptr,  // CreateKey
    nullptr,  // IdentifyFeatureSetSecure
    nullptr,  // AcceptPrivateSensorTypeInfo
    nullptr,  // CreateEnrollmentAuthenticated
    nullptr,  // IdentifyFeatureSetAuthenticated
};

}  // namespace

const WINBIO_ENGINE_INTERFACE& engine_adapter_interface() { return kEngineInterface; }

HRESULT WbioQueryEngineInterface(const WINBIO_ENGINE_INTERFACE** engine_interface) {
    engine_trace(" engine engineWbioQueryEngineInterface called.\n");
    if (engine_interface == nullptr) {
        engine_trace(" engine engineWbioQueryEngineInterface : invalid arument.\n");
        return E_POINTER;
    }
    *engine_interface = &kEngineInterface;
    return S_OK;
}
