// The engine adapter's operations, in the order of the engine-adapter
// function table, and the table's only export.
#pragma once

#include "wbio_engine_types.h"

#define FPENGINE_EXPORT extern "C" __attribute__((visibility("default")))

// Hands out the engine-adapter function table.
FPENGINE_EXPORT HRESULT WbioQueryEngineInterface(const WINBIO_ENGINE_INTERFACE** engine_interface);

// The table itself (also what WbioQueryEngineInterface hands out).
const WINBIO_ENGINE_INTERFACE& engine_adapter_interface();

HRESULT EngineAdapterAttach(WINBIO_PIPELINE* Pipeline);
HRESULT EngineAdapterDetach(WINBIO_PIPELINE* Pipeline);
HRESULT EngineAdapterClearContext(WINBIO_PIPELINE* Pipeline);
HRESULT EngineAdapterQueryPreferredFormat(WINBIO_PIPELINE* Pipeline, WINBIO_REGISTERED_FORMAT* StandardFormat,
                                          WINBIO_UUID* VendorFormat);
HRESULT EngineAdapterQueryIndexVectorSize(WINBIO_PIPELINE* Pipeline, size_t* IndexElementCount);
HRESULT EngineAdapterQueryHashAlgorithms(WINBIO_PIPELINE* Pipeline, size_t* AlgorithmCount,
                                         size_t* AlgorithmBufferSize, uint8_t** AlgorithmBuffer);
HRESULT EngineAdapterSetHashAlgorithm(WINBIO_PIPELINE* Pipeline, size_t AlgorithmBufferSize,
                                      uint8_t* AlgorithmBuffer);
HRESULT EngineAdapterQuerySampleHint(WINBIO_PIPELINE* Pipeline, size_t* SampleHint);
HRESULT EngineAdapterAcceptSampleData(WINBIO_PIPELINE* Pipeline, WINBIO_BIR* SampleBuffer, size_t SampleSize,
                                      WINBIO_BIR_PURPOSE Purpose, WINBIO_REJECT_DETAIL* RejectDetail);
HRESULT EngineAdapterExportEngineData(WINBIO_PIPELINE* Pipeline, WINBIO_BIR_DATA_FLAGS Flags,
                                      WINBIO_BIR** SampleBuffer, size_t* SampleSize);
HRESULT EngineAdapterVerifyFeatureSet(WINBIO_PIPELINE* Pipeline, WINBIO_IDENTITY* Identity,
                                      WINBIO_BIOMETRIC_SUBTYPE SubFactor, BOOLEAN* Match,
                                      uint8_t** PayloadBlob, size_t* PayloadBlobSize, uint8_t** HashValue,
                                      size_t* HashSize, WINBIO_REJECT_DETAIL* RejectDetail);
HRESULT EngineAdapterIdentifyFeatureSet(WINBIO_PIPELINE* Pipeline, WINBIO_IDENTITY* Identity,
                                        WINBIO_BIOMETRIC_SUBTYPE* SubFactor, uint8_t** PayloadBlob,
                                        size_t* PayloadBlobSize, uint8_t** HashValue, size_t* HashSize,
                                        WINBIO_REJECT_DETAIL* RejectDetail);
HRESULT EngineAdapterCreateEnrollment(WINBIO_PIPELINE* Pipeline);
HRESULT EngineAdapterUpdateEnrollment(WINBIO_PIPELINE* Pipeline, WINBIO_REJECT_DETAIL* RejectDetail);
HRESULT EngineAdapterGetEnrollmentStatus(WINBIO_PIPELINE* Pipeline, WINBIO_REJECT_DETAIL* RejectDetail);
HRESULT EngineAdapterGetEnrollmentHash(WINBIO_PIPELINE* Pipeline, uint8_t** HashValue, size_t* HashSize);
HRESULT EngineAdapterCheckForDuplicate(WINBIO_PIPELINE* Pipeline, WINBIO_IDENTITY* Identity,
                                       WINBIO_BIOMETRIC_SUBTYPE* SubFactor, BOOLEAN* Duplicate);
HRESULT EngineAdapterCommitEnrollment(WINBIO_PIPELINE* Pipeline, WINBIO_IDENTITY* Identity,
                                      WINBIO_BIOMETRIC_SUBTYPE SubFactor, uint8_t* PayloadBlob,
                                      size_t PayloadBlobSize);
HRESULT EngineAdapterDiscardEnrollment(WINBIO_PIPELINE* Pipeline);
HRESULT EngineAdapterControlUnit(WINBIO_PIPELINE* Pipeline, uint32_t ControlCode, uint8_t* SendBuffer,
                                 size_t SendBufferSize, uint8_t* ReceiveBuffer, size_t ReceiveBufferSize,
                                 size_t* ReceiveDataSize, uint32_t* OperationStatus);
HRESULT EngineAdapterControlUnitPrivileged(WINBIO_PIPELINE* Pipeline, uint32_t ControlCode, uint8_t* SendBuffer,
                                           size_t SendBufferSize, uint8_t* ReceiveBuffer,
                                           size_t ReceiveBufferSize, size_t* ReceiveDataSize,
                                           uint32_t* OperationStatus);
HRESULT EngineAdapterNotifyPowerChange(WINBIO_PIPELINE* Pipeline, WINBIO_POWER_EVENT PowerEventType);
HRESULT EngineAdapterPipelineInit(WINBIO_PIPELINE* Pipeline);
HRESULT EngineAdapterPipelineCleanup(WINBIO_PIPELINE* Pipeline);
HRESULT EngineAdapterActivate(WINBIO_PIPELINE* Pipeline);
HRESULT EngineAdapterDeactivate(WINBIO_PIPELINE* Pipeline);
HRESULT EngineAdapterQueryExtendedInfo(WINBIO_PIPELINE* Pipeline, WINBIO_EXTENDED_ENGINE_INFO* EngineInfo,
                                       size_t EngineInfoSize);
HRESULT EngineAdapterIdentifyAll(WINBIO_PIPELINE* Pipeline, size_t* PresenceCount,
                                 WINBIO_PRESENCE** PresenceArray);
HRESULT EngineAdapterSetEnrollmentSelector(WINBIO_PIPELINE* Pipeline, uint64_t SelectorValue);
HRESULT EngineAdapterSetEnrollmentParameters(WINBIO_PIPELINE* Pipeline,
                                             WINBIO_EXTENDED_ENROLLMENT_PARAMETERS* Parameters);
HRESULT EngineAdapterQueryExtendedEnrollmentStatus(WINBIO_PIPELINE* Pipeline,
                                                   WINBIO_EXTENDED_ENROLLMENT_STATUS* EnrollmentStatus,
                                                   size_t EnrollmentStatusSize);
HRESULT EngineAdapterRefreshCache(WINBIO_PIPELINE* Pipeline);
HRESULT EngineAdapterSelectCalibrationFormat(WINBIO_PIPELINE* Pipeline, WINBIO_UUID* FormatArray,
                                             size_t FormatCount, WINBIO_UUID* SelectedFormat,
                                             size_t* MaxBufferSize);
HRESULT EngineAdapterQueryCalibrationData(WINBIO_PIPELINE* Pipeline, BOOLEAN* DiscardAndRepeatCapture,
                                          size_t CalibrationBufferSize, uint8_t* CalibrationBuffer,
                                          size_t* CalibrationDataSize);
HRESULT EngineAdapterSetAccountPolicy(WINBIO_PIPELINE* Pipeline, WINBIO_ACCOUNT_POLICY* PolicyItemArray,
                                      size_t PolicyItemCount);
