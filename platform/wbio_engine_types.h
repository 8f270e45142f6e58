// Engine-adapter side of the biometric framework: the pipeline, the biometric
// information record, identities, storage records, enrolment status and
// engine information records, the storage-adapter operation table and the
// engine-adapter function table. Layouts are x86-64 (8-byte pointers).
#pragma once

#include <cstddef>
#include <cstdint>

#include "win_types.h"
#include "winbio_types.h"

// ---------------------------------------------------------------------------
// Small scalar types of the framework.

using WINBIO_BIOMETRIC_SUBTYPE = UCHAR;  // finger position; 0xFF any
using WINBIO_POWER_EVENT = ULONG;

constexpr WINBIO_BIOMETRIC_SUBTYPE WINBIO_SUBTYPE_NO_INFORMATION = 0x00;
constexpr WINBIO_BIOMETRIC_SUBTYPE WINBIO_SUBTYPE_ANY = 0xFF;

// Power events handed to NotifyPowerChange.
constexpr WINBIO_POWER_EVENT WINBIO_POWER_EVENT_SUSPENDING = 4;
constexpr WINBIO_POWER_EVENT WINBIO_POWER_EVENT_POWER_SOURCE_CHANGE = 10;
constexpr WINBIO_POWER_EVENT WINBIO_POWER_EVENT_RESUMING = 18;

// The engine adapter's slot in the adapter type numbering.
constexpr ULONG WINBIO_ADAPTER_TYPE_ENGINE = 2;

// Template status reported before any enrolment has produced a template.
constexpr HRESULT WINBIO_TEMPLATE_STATUS_INITIAL = hresult_of(0x8009802Cu);

// ---------------------------------------------------------------------------
// Identity.

constexpr uint32_t WINBIO_ID_TYPE_NULL = 0;
constexpr uint32_t WINBIO_ID_TYPE_WILDCARD = 1;
constexpr uint32_t WINBIO_ID_TYPE_GUID = 2;
constexpr uint32_t WINBIO_ID_TYPE_SID = 3;
constexpr size_t SECURITY_MAX_SID_SIZE = 68;

struct WINBIO_IDENTITY {
    uint32_t Type;
    union {
        uint32_t Null;
        uint32_t Wildcard;
        GUID TemplateGuid;
        struct {
            uint32_t Size;
            uint8_t Data[SECURITY_MAX_SID_SIZE];
        } AccountSid;
        uint8_t SecureId[32];
    } Value;
};
static_assert(sizeof(WINBIO_IDENTITY) == 76);
static_assert(offsetof(WINBIO_IDENTITY, Value) == 4);

// ---------------------------------------------------------------------------
// Storage record: what the engine adds at commit and reads back in a walk.

struct WINBIO_STORAGE_RECORD {
    WINBIO_IDENTITY* Identity;
    WINBIO_BIOMETRIC_SUBTYPE SubFactor;
    uint32_t* IndexVector;
    size_t IndexElementCount;
    uint8_t* TemplateBlob;
    size_t TemplateBlobSize;
    uint8_t* PayloadBlob;
    size_t PayloadBlobSize;
};
static_assert(sizeof(WINBIO_STORAGE_RECORD) == 64);
static_assert(offsetof(WINBIO_STORAGE_RECORD, SubFactor) == 8);
static_assert(offsetof(WINBIO_STORAGE_RECORD, IndexVector) == 16);
static_assert(offsetof(WINBIO_STORAGE_RECORD, TemplateBlob) == 32);
static_assert(offsetof(WINBIO_STORAGE_RECORD, PayloadBlob) == 48);

// ---------------------------------------------------------------------------
// Engine information and enrolment status records.

struct WINBIO_FINGERPRINT_ENROLLMENT_REQUIREMENTS {
    uint32_t GeneralSamples;
    uint32_t Center;
    uint32_t TopEdge;
    uint32_t BottomEdge;
    uint32_t LeftEdge;
    uint32_t RightEdge;
};
static_assert(sizeof(WINBIO_FINGERPRINT_ENROLLMENT_REQUIREMENTS) == 24);

struct WINBIO_EXTENDED_ENGINE_INFO {
    uint32_t GenericEngineCapabilities;
    WINBIO_BIOMETRIC_TYPE Factor;
    union {
        uint32_t Null;
        struct {
            uint32_t Capabilities;
            WINBIO_FINGERPRINT_ENROLLMENT_REQUIREMENTS EnrollmentRequirements;
        } Fingerprint;
    } Specific;
};
static_assert(sizeof(WINBIO_EXTENDED_ENGINE_INFO) == 36);
static_assert(offsetof(WINBIO_EXTENDED_ENGINE_INFO, Factor) == 4);
static_assert(offsetof(WINBIO_EXTENDED_ENGINE_INFO, Specific) == 8);

constexpr uint32_t WINBIO_ENGINE_CAPABILITY_SUPPORTED = 1;

struct WINBIO_EXTENDED_ENROLLMENT_STATUS {
    HRESULT TemplateStatus;
    WINBIO_REJECT_DETAIL RejectDetail;
    uint32_t PercentComplete;
    WINBIO_BIOMETRIC_TYPE Factor;
    WINBIO_BIOMETRIC_SUBTYPE SubFactor;
    union {
        uint32_t Null;
        WINBIO_FINGERPRINT_ENROLLMENT_REQUIREMENTS Fingerprint;
        uint8_t Reserved[356];  // room the other factors' variants take
    } Specific;
};
static_assert(sizeof(WINBIO_EXTENDED_ENROLLMENT_STATUS) == 376);
static_assert(offsetof(WINBIO_EXTENDED_ENROLLMENT_STATUS, PercentComplete) == 8);
static_assert(offsetof(WINBIO_EXTENDED_ENROLLMENT_STATUS, SubFactor) == 16);
static_assert(offsetof(WINBIO_EXTENDED_ENROLLMENT_STATUS, Specific) == 20);

struct WINBIO_EXTENDED_ENROLLMENT_PARAMETERS {
    size_t Size;
    WINBIO_BIOMETRIC_SUBTYPE SubFactor;
};
static_assert(sizeof(WINBIO_EXTENDED_ENROLLMENT_PARAMETERS) == 16);

// ---------------------------------------------------------------------------
// Pipeline and the storage adapter's operations.

struct WINBIO_STORAGE_INTERFACE;
struct WINBIO_ENGINE_INTERFACE;

struct WINBIO_PIPELINE {
    HANDLE SensorHandle;
    HANDLE EngineHandle;
    HANDLE StorageHandle;
    const void* SensorInterface;
    const WINBIO_ENGINE_INTERFACE* EngineInterface;
    const WINBIO_STORAGE_INTERFACE* StorageInterface;
    void* SensorContext;
    void* EngineContext;
    void* StorageContext;
    const void* FrameworkInterface;
};
static_assert(sizeof(WINBIO_PIPELINE) == 80);
static_assert(offsetof(WINBIO_PIPELINE, EngineHandle) == 8);
static_assert(offsetof(WINBIO_PIPELINE, StorageInterface) == 40);
static_assert(offsetof(WINBIO_PIPELINE, EngineContext) == 56);

// The storage operations the engine adapter reaches through its pipeline.
struct WINBIO_STORAGE_INTERFACE {
    HRESULT (*AddRecord)(WINBIO_PIPELINE* Pipeline, WINBIO_STORAGE_RECORD* RecordContents);
    HRESULT (*QueryBySubject)(WINBIO_PIPELINE* Pipeline, WINBIO_IDENTITY* Identity,
                              WINBIO_BIOMETRIC_SUBTYPE SubFactor);
    HRESULT (*QueryByContent)(WINBIO_PIPELINE* Pipeline, WINBIO_BIOMETRIC_SUBTYPE SubFactor,
                              uint32_t* IndexVector, size_t IndexElementCount);
    HRESULT (*GetRecordCount)(WINBIO_PIPELINE* Pipeline, size_t* RecordCount);
    HRESULT (*FirstRecord)(WINBIO_PIPELINE* Pipeline);
    HRESULT (*NextRecord)(WINBIO_PIPELINE* Pipeline);
    HRESULT (*GetCurrentRecord)(WINBIO_PIPELINE* Pipeline, WINBIO_STORAGE_RECORD* RecordContents);
};

// ---------------------------------------------------------------------------
// The engine adapter's context: one per pipeline, allocated zeroed.

constexpr size_t FP_TEMPLATE_BUFFER_BYTES = 20480;

struct WINBIO_ENGINE_CONTEXT {
    int32_t State;             // 0 idle, 1 enrolling
    uint32_t SampleCount;      // accepted samples of the enrolment in progress
    uint8_t SubFactor;         // set while enrolling
    uint8_t* Sample;           // copy of the last accepted standard data block
    uint32_t SampleSize;
    uint8_t TemplateBuffer[FP_TEMPLATE_BUFFER_BYTES];
};
static_assert(sizeof(WINBIO_ENGINE_CONTEXT) == 20512);
static_assert(offsetof(WINBIO_ENGINE_CONTEXT, SampleCount) == 4);
static_assert(offsetof(WINBIO_ENGINE_CONTEXT, SubFactor) == 8);
static_assert(offsetof(WINBIO_ENGINE_CONTEXT, Sample) == 16);
static_assert(offsetof(WINBIO_ENGINE_CONTEXT, SampleSize) == 24);
static_assert(offsetof(WINBIO_ENGINE_CONTEXT, TemplateBuffer) == 28);

constexpr int32_t WINBIO_ENGINE_STATE_IDLE = 0;
constexpr int32_t WINBIO_ENGINE_STATE_ENROLLING = 1;

// ---------------------------------------------------------------------------
// The engine-adapter function table.

struct WINBIO_ADAPTER_INTERFACE_VERSION {
    uint16_t MajorVersion;
    uint16_t MinorVersion;
};
static_assert(sizeof(WINBIO_ADAPTER_INTERFACE_VERSION) == 4);

struct WINBIO_PRESENCE;        // only named by the identify-all slot
struct WINBIO_ACCOUNT_POLICY;  // only named by the account-policy slot

using PIBIO_ENGINE_ATTACH_FN = HRESULT (*)(WINBIO_PIPELINE*);
using PIBIO_ENGINE_DETACH_FN = HRESULT (*)(WINBIO_PIPELINE*);
using PIBIO_ENGINE_CLEAR_CONTEXT_FN = HRESULT (*)(WINBIO_PIPELINE*);
using PIBIO_ENGINE_QUERY_PREFERRED_FORMAT_FN = HRESULT (*)(WINBIO_PIPELINE*, WINBIO_REGISTERED_FORMAT*,
                                                           WINBIO_UUID*);
using PIBIO_ENGINE_QUERY_INDEX_VECTOR_SIZE_FN = HRESULT (*)(WINBIO_PIPELINE*, size_t*);
using PIBIO_ENGINE_QUERY_HASH_ALGORITHMS_FN = HRESULT (*)(WINBIO_PIPELINE*, size_t*, size_t*, uint8_t**);
using PIBIO_ENGINE_SET_HASH_ALGORITHM_FN = HRESULT (*)(WINBIO_PIPELINE*, size_t, uint8_t*);
using PIBIO_ENGINE_QUERY_SAMPLE_HINT_FN = HRESULT (*)(WINBIO_PIPELINE*, size_t*);
using PIBIO_ENGINE_ACCEPT_SAMPLE_DATA_FN = HRESULT (*)(WINBIO_PIPELINE*, WINBIO_BIR*, size_t,
                                                       WINBIO_BIR_PURPOSE, WINBIO_REJECT_DETAIL*);
using PIBIO_ENGINE_EXPORT_ENGINE_DATA_FN = HRESULT (*)(WINBIO_PIPELINE*, WINBIO_BIR_DATA_FLAGS,
                                                       WINBIO_BIR**, size_t*);
using PIBIO_ENGINE_VERIFY_FEATURE_SET_FN = HRESULT (*)(WINBIO_PIPELINE*, WINBIO_IDENTITY*,
                                                       WINBIO_BIOMETRIC_SUBTYPE, BOOLEAN*,
                                                       uint8_t**, size_t*, uint8_t**, size_t*,
                                                       WINBIO_REJECT_DETAIL*);
using PIBIO_ENGINE_IDENTIFY_FEATURE_SET_FN = HRESULT (*)(WINBIO_PIPELINE*, WINBIO_IDENTITY*,
                                                         WINBIO_BIOMETRIC_SUBTYPE*, uint8_t**, size_t*,
                                                         uint8_t**, size_t*, WINBIO_REJECT_DETAIL*);
using PIBIO_ENGINE_CREATE_ENROLLMENT_FN = HRESULT (*)(WINBIO_PIPELINE*);
using PIBIO_ENGINE_UPDATE_ENROLLMENT_FN = HRESULT (*)(WINBIO_PIPELINE*, WINBIO_REJECT_DETAIL*);
using PIBIO_ENGINE_GET_ENROLLMENT_STATUS_FN = HRESULT (*)(WINBIO_PIPELINE*, WINBIO_REJECT_DETAIL*);
using PIBIO_ENGINE_GET_ENROLLMENT_HASH_FN = HRESULT (*)(WINBIO_PIPELINE*, uint8_t**, size_t*);
using PIBIO_ENGINE_CHECK_FOR_DUPLICATE_FN = HRESULT (*)(WINBIO_PIPELINE*, WINBIO_IDENTITY*,
                                                        WINBIO_BIOMETRIC_SUBTYPE*, BOOLEAN*);
using PIBIO_ENGINE_COMMIT_ENROLLMENT_FN = HRESULT (*)(WINBIO_PIPELINE*, WINBIO_IDENTITY*,
                                                      WINBIO_BIOMETRIC_SUBTYPE, uint8_t*, size_t);
using PIBIO_ENGINE_DISCARD_ENROLLMENT_FN = HRESULT (*)(WINBIO_PIPELINE*);
using PIBIO_ENGINE_CONTROL_UNIT_FN = HRESULT (*)(WINBIO_PIPELINE*, uint32_t, uint8_t*, size_t, uint8_t*,
                                                 size_t, size_t*, uint32_t*);
using PIBIO_ENGINE_CONTROL_UNIT_PRIVILEGED_FN = PIBIO_ENGINE_CONTROL_UNIT_FN;
using PIBIO_ENGINE_NOTIFY_POWER_CHANGE_FN = HRESULT (*)(WINBIO_PIPELINE*, WINBIO_POWER_EVENT);
using PIBIO_ENGINE_RESERVED_1_FN = HRESULT (*)(WINBIO_PIPELINE*, WINBIO_IDENTITY*);
using PIBIO_ENGINE_PIPELINE_INIT_FN = HRESULT (*)(WINBIO_PIPELINE*);
using PIBIO_ENGINE_PIPELINE_CLEANUP_FN = HRESULT (*)(WINBIO_PIPELINE*);
using PIBIO_ENGINE_ACTIVATE_FN = HRESULT (*)(WINBIO_PIPELINE*);
using PIBIO_ENGINE_DEACTIVATE_FN = HRESULT (*)(WINBIO_PIPELINE*);
using PIBIO_ENGINE_QUERY_EXTENDED_INFO_FN = HRESULT (*)(WINBIO_PIPELINE*, WINBIO_EXTENDED_ENGINE_INFO*,
                                                        size_t);
using PIBIO_ENGINE_IDENTIFY_ALL_FN = HRESULT (*)(WINBIO_PIPELINE*, size_t*, WINBIO_PRESENCE**);
using PIBIO_ENGINE_SET_ENROLLMENT_SELECTOR_FN = HRESULT (*)(WINBIO_PIPELINE*, uint64_t);
using PIBIO_ENGINE_SET_ENROLLMENT_PARAMETERS_FN = HRESULT (*)(WINBIO_PIPELINE*,
                                                              WINBIO_EXTENDED_ENROLLMENT_PARAMETERS*);
using PIBIO_ENGINE_QUERY_EXTENDED_ENROLLMENT_STATUS_FN = HRESULT (*)(WINBIO_PIPELINE*,
                                                                     WINBIO_EXTENDED_ENROLLMENT_STATUS*,
                                                                     size_t);
using PIBIO_ENGINE_REFRESH_CACHE_FN = HRESULT (*)(WINBIO_PIPELINE*);
using PIBIO_ENGINE_SELECT_CALIBRATION_FORMAT_FN = HRESULT (*)(WINBIO_PIPELINE*, WINBIO_UUID*, size_t,
                                                              WINBIO_UUID*, size_t*);
using PIBIO_ENGINE_QUERY_CALIBRATION_DATA_FN = HRESULT (*)(WINBIO_PIPELINE*, BOOLEAN*, size_t,
                                                           uint8_t*, size_t*);
using PIBIO_ENGINE_SET_ACCOUNT_POLICY_FN = HRESULT (*)(WINBIO_PIPELINE*, WINBIO_ACCOUNT_POLICY*, size_t);
// The five newest slots are left empty by this engine; their calls are not used.
using PIBIO_ENGINE_UNUSED_FN = HRESULT (*)(WINBIO_PIPELINE*);

struct WINBIO_ENGINE_INTERFACE {
    WINBIO_ADAPTER_INTERFACE_VERSION Version;
    uint32_t Type;
    size_t Size;
    GUID AdapterId;

    PIBIO_ENGINE_ATTACH_FN Attach;                                      // 1
    PIBIO_ENGINE_DETACH_FN Detach;                                      // 2
    PIBIO_ENGINE_CLEAR_CONTEXT_FN ClearContext;                         // 3
    PIBIO_ENGINE_QUERY_PREFERRED_FORMAT_FN QueryPreferredFormat;        // 4
    PIBIO_ENGINE_QUERY_INDEX_VECTOR_SIZE_FN QueryIndexVectorSize;       // 5
    PIBIO_ENGINE_QUERY_HASH_ALGORITHMS_FN QueryHashAlgorithms;          // 6
    PIBIO_ENGINE_SET_HASH_ALGORITHM_FN SetHashAlgorithm;                // 7
    PIBIO_ENGINE_QUERY_SAMPLE_HINT_FN QuerySampleHint;                  // 8
    PIBIO_ENGINE_ACCEPT_SAMPLE_DATA_FN AcceptSampleData;                // 9
    PIBIO_ENGINE_EXPORT_ENGINE_DATA_FN ExportEngineData;                // 10
    PIBIO_ENGINE_VERIFY_FEATURE_SET_FN VerifyFeatureSet;                // 11
    PIBIO_ENGINE_IDENTIFY_FEATURE_SET_FN IdentifyFeatureSet;            // 12
    PIBIO_ENGINE_CREATE_ENROLLMENT_FN CreateEnrollment;                 // 13
    PIBIO_ENGINE_UPDATE_ENROLLMENT_FN UpdateEnrollment;                 // 14
    PIBIO_ENGINE_GET_ENROLLMENT_STATUS_FN GetEnrollmentStatus;          // 15
    PIBIO_ENGINE_GET_ENROLLMENT_HASH_FN GetEnrollmentHash;              // 16
    PIBIO_ENGINE_CHECK_FOR_DUPLICATE_FN CheckForDuplicate;              // 17
    PIBIO_ENGINE_COMMIT_ENROLLMENT_FN CommitEnrollment;                 // 18
    PIBIO_ENGINE_DISCARD_ENROLLMENT_FN DiscardEnrollment;               // 19
    PIBIO_ENGINE_CONTROL_UNIT_FN ControlUnit;                           // 20
    PIBIO_ENGINE_CONTROL_UNIT_PRIVILEGED_FN ControlUnitPrivileged;      // 21
    PIBIO_ENGINE_NOTIFY_POWER_CHANGE_FN NotifyPowerChange;              // 22
    PIBIO_ENGINE_RESERVED_1_FN Reserved_1;                              // 23
    PIBIO_ENGINE_PIPELINE_INIT_FN PipelineInit;                         // 24
    PIBIO_ENGINE_PIPELINE_CLEANUP_FN PipelineCleanup;                   // 25
    PIBIO_ENGINE_ACTIVATE_FN Activate;                                  // 26
    PIBIO_ENGINE_DEACTIVATE_FN Deactivate;                              // 27
    PIBIO_ENGINE_QUERY_EXTENDED_INFO_FN QueryExtendedInfo;              // 28
    PIBIO_ENGINE_IDENTIFY_ALL_FN IdentifyAll;                           // 29
    PIBIO_ENGINE_SET_ENROLLMENT_SELECTOR_FN SetEnrollmentSelector;      // 30
    PIBIO_ENGINE_SET_ENROLLMENT_PARAMETERS_FN SetEnrollmentParameters;  // 31
    PIBIO_ENGINE_QUERY_EXTENDED_ENROLLMENT_STATUS_FN QueryExtendedEnrollmentStatus;  // 32
    PIBIO_ENGINE_REFRESH_CACHE_FN RefreshCache;                         // 33
    PIBIO_ENGINE_SELECT_CALIBRATION_FORMAT_FN SelectCalibrationFormat;  // 34
    PIBIO_ENGINE_QUERY_CALIBRATION_DATA_FN QueryCalibrationData;        // 35
    PIBIO_ENGINE_SET_ACCOUNT_POLICY_FN SetAccountPolicy;                // 36
    PIBIO_ENGINE_UNUSED_FN CreateKey;                                   // 37
    PIBIO_ENGINE_UNUSED_FN IdentifyFeatureSetSecure;                    // 38
    PIBIO_ENGINE_UNUSED_FN AcceptPrivateSensorTypeInfo;                 // 39
    PIBIO_ENGINE_UNUSED_FN CreateEnrollmentAuthenticated;               // 40
    PIBIO_ENGINE_UNUSED_FN IdentifyFeatureSetAuthenticated;             // 41
};
constexpr size_t WINBIO_ENGINE_INTERFACE_SLOTS = 41;
static_assert(sizeof(WINBIO_ENGINE_INTERFACE) == 360);
static_assert(offsetof(WINBIO_ENGINE_INTERFACE, Type) == 4);
static_assert(offsetof(WINBIO_ENGINE_INTERFACE, Size) == 8);
static_assert(offsetof(WINBIO_ENGINE_INTERFACE, AdapterId) == 16);
static_assert(offsetof(WINBIO_ENGINE_INTERFACE, Attach) == 32);
static_assert(offsetof(WINBIO_ENGINE_INTERFACE, Reserved_1) == 32 + 22 * 8);
static_assert(offsetof(WINBIO_ENGINE_INTERFACE, IdentifyFeatureSetAuthenticated) == 32 + 40 * 8);

// The engine adapter's only export.
using PWINBIO_QUERY_ENGINE_INTERFACE_FN = HRESULT (*)(const WINBIO_ENGINE_INTERFACE** EngineInterface);
