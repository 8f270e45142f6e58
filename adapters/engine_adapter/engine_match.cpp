#include "engine_match.h"

#include <cstring>

#include "engine_adapter.h"
#include "engine_binding.h"
#include "engine_context.h"
#include "engine_section.h"
#include "engine_storage.h"
#include "engine_trace.h"

namespace {

// A stored record the library can be handed: a template of 1 to 2^32-1 bytes.
bool record_has_template(const WINBIO_STORAGE_RECORD& record) {
    return record.TemplateBlob != nullptr && record.TemplateBlobSize != 0 &&
           record.TemplateBlobSize <= UINT32_MAX;
}

// Calls RADU_alg_exit on every way out of a verification.
struct AlgExitOnReturn {
    ~AlgExitOnReturn() {
        if (g_pfnAlgExit != nullptr) g_pfnAlgExit();
    }
};

}  // namespace

HRESULT AdapterFindMatchRecord(WINBIO_PIPELINE* pipeline, WINBIO_ENGINE_CONTEXT* context, uint8_t* match,
                               WINBIO_STORAGE_RECORD* record) {
    size_t count = 0;
    HRESULT hr = storage_get_record_count(pipeline, &count);
    if (FAILED(hr)) return hr;
    engine_trace(" AdapterFindMatchRecord recordCount : %d\n", static_cast<int>(count));
    hr = storage_first_record(pipeline);
    if (FAILED(hr)) return hr;

    for (size_t i = 0; i < count; ++i) {
        g_pfnGetEnrolledCount(1);
        hr = storage_get_current_record(pipeline, record);
        if (FAILED(hr)) return hr;
        engine_trace(" engine engineloadTemplateDataHandle >>\n");
        if (record_has_template(*record) &&
            g_pfnRequestVerify(context->Sample, record->TemplateBlob,
                               static_cast<uint32_t>(record->TemplateBlobSize)) >= 0) {
            engine_trace(" engine engine engine - test - EngineAdapterVerifyFeatureSet matched data in storage.\n");
            *match = 1;
            return hr;
        }
        if (pipeline->StorageInterface == nullptr || pipeline->StorageInterface->NextRecord == nullptr)
            return ENGINE_E_WALK_BROKEN;
        hr = storage_next_record(pipeline);
        if (hr == WINBIO_E_DATABASE_NO_MORE_RECORDS) return S_OK;
        if (FAILED(hr)) return ENGINE_E_WALK_BROKEN;
    }
    return hr;
}

HRESULT EngineAdapterVerifyFeatureSet(WINBIO_PIPELINE* Pipeline, WINBIO_IDENTITY* Identity,
                                      WINBIO_BIOMETRIC_SUBTYPE SubFactor, BOOLEAN* Match,
                                      uint8_t** PayloadBlob, size_t* PayloadBlobSize, uint8_t** HashValue,
                                      size_t* HashSize, WINBIO_REJECT_DETAIL* RejectDetail) {
    engine_trace(" engine engineEngineAdapterVerifyFeatureSet called\n");
    AlgExitOnReturn exit_on_return;
    if (Pipeline == nullptr || Identity == nullptr || Match == nullptr || PayloadBlob == nullptr ||
        PayloadBlobSize == nullptr || HashValue == nullptr || HashSize == nullptr || RejectDetail == nullptr)
        return E_POINTER;
    if (SubFactor == WINBIO_SUBTYPE_NO_INFORMATION) return E_INVALIDARG;
    *Match = 0;
    *PayloadBlob = nullptr;
    *PayloadBlobSize = 0;
    *HashValue = nullptr;
    *HashSize = 0;
    *RejectDetail = 0;

    WINBIO_ENGINE_CONTEXT* context = engine_context_of(Pipeline);
    if (context == nullptr) return WINBIO_E_INVALID_DEVICE_STATE;
    if (context->State == WINBIO_ENGINE_STATE_ENROLLING) {
        engine_trace(" engineerror : WINBIO_E_ENROLLMENT_IN_PROGRESS\n");
        return WINBIO_E_ENROLLMENT_IN_PROGRESS;
    }
    if (context->Sample == nullptr) return WINBIO_E_INVALID_DEVICE_STATE;
    if (!engine_binding_complete()) return ENGINE_E_NOT_BOUND;
    const int32_t init = g_pfnAlgInit();
    if (init < 0) return init;

    engine_trace(" engineg_pfnGetImageQuality >>\n");
    const int32_t quality = g_pfnGetImageQuality(context->Sample);
    engine_trace("g_pfnGetImageQuality << returnCode : %d\n", quality);
    if (!quality_passes(quality)) {
        *RejectDetail = kRejectMatchQuality;
        return WINBIO_E_BAD_CAPTURE;
    }

    engine_trace(" engineWbioStorageQueryBySubject >>\n");
    HRESULT hr = storage_query_by_subject(Pipeline, Identity, SubFactor);
    engine_trace("WbioStorageQueryBySubject << SeonsorContext : 0x%08x\n", static_cast<unsigned>(hr));
    if (FAILED(hr)) return hr == WINBIO_E_DATABASE_NO_RESULTS ? WINBIO_E_NO_MATCH : hr;

    uint8_t matched = 0;
    WINBIO_STORAGE_RECORD record{};
    hr = AdapterFindMatchRecord(Pipeline, context, &matched, &record);
    if (FAILED(hr)) {
        engine_trace("AdapterFindMatchRecord Failed. code : 0x%08x\n", static_cast<unsigned>(hr));
        return hr == WINBIO_E_DATABASE_NO_RESULTS ? WINBIO_E_NO_MATCH : hr;
    }
    if (!matched) {
        engine_trace(" engineEngineAdapterVerifyFeatureSet not matched data in storage.\n");
        return WINBIO_E_NO_MATCH;
    }
    *Match = 1;
    *PayloadBlob = record.PayloadBlob;
    *PayloadBlobSize = record.PayloadBlobSize;
    return hr;
}

namespace {

HRESULT identify(WINBIO_PIPELINE* Pipeline, WINBIO_IDENTITY* Identity, WINBIO_BIOMETRIC_SUBTYPE* SubFactor,
                 uint8_t** PayloadBlob, size_t* PayloadBlobSize, uint8_t** HashValue, size_t* HashSize,
                 WINBIO_REJECT_DETAIL* RejectDetail) {
    if (Pipeline == nullptr || Identity == nullptr || SubFactor == nullptr || PayloadBlob == nullptr ||
        PayloadBlobSize == nullptr || HashValue == nullptr || HashSize == nullptr || RejectDetail == nullptr)
        return E_POINTER;
    setmem(0);
    std::memset(Identity, 0, sizeof(WINBIO_IDENTITY));
    *SubFactor = 0;
    *PayloadBlob = nullptr;
    *PayloadBlobSize = 0;
    *HashValue = nullptr;
    *HashSize = 0;
    *RejectDetail = 0;

    WINBIO_ENGINE_CONTEXT* context = engine_context_of(Pipeline);
    if (context == nullptr) return WINBIO_E_INVALID_DEVICE_STATE;
    if (context->State == WINBIO_ENGINE_STATE_ENROLLING) return WINBIO_E_ENROLLMENT_IN_PROGRESS;
    if (context->Sample == nullptr) return WINBIO_E_INVALID_DEVICE_STATE;
    if (!engine_binding_complete()) return ENGINE_E_NOT_BOUND;
    const int32_t init = g_pfnAlgInit();
    if (init < 0) return init;

    const int32_t quality = g_pfnGetImageQuality(context->Sample);
    engine_trace("g_pfnGetImageQuality << returnCode : %d\n", quality);
    if (!quality_passes(quality)) {
        *RejectDetail = kRejectMatchQuality;
        return WINBIO_E_BAD_CAPTURE;
    }

    HRESULT hr = storage_query_by_content(Pipeline, WINBIO_SUBTYPE_ANY, nullptr, 0);
    if (FAILED(hr)) return hr;
    uint8_t matched = 0;
    WINBIO_STORAGE_RECORD record{};
    hr = AdapterFindMatchRecord(Pipeline, context, &matched, &record);
    if (FAILED(hr)) {
        engine_trace("AdapterFindMatchRecord Failed. code : 0x%08x\n", static_cast<unsigned>(hr));
        return hr;
    }
    g_pfnAlgExit();
    if (!matched) {
        setmem(0);
        return WINBIO_E_UNKNOWN_ID;
    }
    setmem(1);
    engine_trace(" HELLO : MATCHED >>\n");
    if (record.Identity != nullptr) std::memcpy(Identity, record.Identity, sizeof(WINBIO_IDENTITY));
    *SubFactor = record.SubFactor;
    *PayloadBlob = record.PayloadBlob;
    *PayloadBlobSize = record.PayloadBlobSize;
    return hr;
}

}  // namespace

HRESULT EngineAdapterIdentifyFeatureSet(WINBIO_PIPELINE* Pipeline, WINBIO_IDENTITY* Identity,
                                        WINBIO_BIOMETRIC_SUBTYPE* SubFactor, uint8_t** PayloadBlob,
                                        size_t* PayloadBlobSize, uint8_t** HashValue, size_t* HashSize,
                                        WINBIO_REJECT_DETAIL* RejectDetail) {
    engine_trace(" engine engineEngineAdapterIdentifyFeatureSet called\n");
    HRESULT hr = identify(Pipeline, Identity, SubFactor, PayloadBlob, PayloadBlobSize, HashValue, HashSize,
                          RejectDetail);
    engine_trace(" engine -AdapterFindMatchRecord end: %d\n", hr);
    return hr == WINBIO_E_DATABASE_NO_RESULTS ? WINBIO_E_UNKNOWN_ID : hr;
}

HRESULT EngineAdapterCheckForDuplicate(WINBIO_PIPELINE* Pipeline, WINBIO_IDENTITY* Identity,
                                       WINBIO_BIOMETRIC_SUBTYPE* SubFactor, BOOLEAN* Duplicate) {
    engine_trace(" engine engineEngineAdapterCheckForDuplicate called\n");
    if (Pipeline == nullptr || Identity == nullptr || SubFactor == nullptr || Duplicate == nullptr)
        return E_POINTER;
    WINBIO_ENGINE_CONTEXT* context = engine_context_of(Pipeline);
    if (context == nullptr || context->State != WINBIO_ENGINE_STATE_ENROLLING)
        return WINBIO_E_INVALID_DEVICE_STATE;
    std::memset(Identity, 0, sizeof(WINBIO_IDENTITY));
    *SubFactor = 0;
    *Duplicate = 0;

    HRESULT hr;
    if (context->Sample == nullptr) {
        hr = WINBIO_E_INVALID_DEVICE_STATE;
    } else if (!engine_binding_complete()) {
        hr = ENGINE_E_NOT_BOUND;
    } else {
        hr = storage_query_by_content(Pipeline, WINBIO_SUBTYPE_ANY, nullptr, 0);
        if (FAILED(hr)) {
            engine_trace("EngineAdapterCheckForDuplicate WbioStorageQueryByContent failed. 0x%08x\n",
                         static_cast<unsigned>(hr));
        } else {
            uint8_t matched = 0;
            WINBIO_STORAGE_RECORD record{};
            hr = AdapterFindMatchRecord(Pipeline, context, &matched, &record);
            if (FAILED(hr)) {
                engine_trace("AdapterFindMatchRecord Failed. code : 0x%08x\n", static_cast<unsigned>(hr));
            } else if (matched) {
                if (record.Identity != nullptr) std::memcpy(Identity, record.Identity, sizeof(WINBIO_IDENTITY));
                *SubFactor = record.SubFactor;
                *Duplicate = 1;
            }
        }
    }
    engine_trace("EngineAdapterCheckForDuplicate End. 0x%08x\n", static_cast<unsigned>(hr));
    return hr == WINBIO_E_DATABASE_NO_RESULTS ? S_OK : hr;
}
