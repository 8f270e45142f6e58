// Enrolment: create, update with each accepted sample, status, parameters,
// commit into the storage adapter, discard.
#include <algorithm>
#include <cstring>

#include "engine_adapter.h"
#include "engine_binding.h"
#include "engine_context.h"
#include "engine_storage.h"
#include "engine_trace.h"

namespace {

bool enrolling(const WINBIO_ENGINE_CONTEXT* context) {
    return context != nullptr && context->State == WINBIO_ENGINE_STATE_ENROLLING;
}

bool enrollment_complete(const WINBIO_ENGINE_CONTEXT* context) {
    return context->SampleCount >= kEnrollmentSamples;
}

uint32_t percent_complete(uint32_t sample_count) {
    const uint64_t percent = static_cast<uint64_t>(sample_count) * 100 / kEnrollmentSamples;
    return static_cast<uint32_t>(std::min<uint64_t>(percent, 100));
}

// What a finished enrolment template may measure.
bool template_size_valid(int32_t size) {
    return size >= 1 && static_cast<size_t>(size) <= FP_TEMPLATE_BUFFER_BYTES;
}

}  // namespace

HRESULT EngineAdapterCreateEnrollment(WINBIO_PIPELINE* Pipeline) {
    engine_trace(" engine engineEngineAdapterCreateEnrollment called\n");
    if (Pipeline == nullptr) return E_POINTER;
    WINBIO_ENGINE_CONTEXT* context = engine_context_of(Pipeline);
    if (context == nullptr) return WINBIO_E_INVALID_DEVICE_STATE;
    if (!engine_binding_complete()) return ENGINE_E_NOT_BOUND;
    if (context->State == WINBIO_ENGINE_STATE_ENROLLING) {
        engine_trace(" engineEngineAdapterCreateEnrollment already in progress, relase and go\n");
        std::memset(context->TemplateBuffer, 0, sizeof context->TemplateBuffer);
        g_pfnAlgExit();
    }
    HRESULT hr = g_pfnAlgInit();
    if (hr < 0) {
        std::memset(context->TemplateBuffer, 0, sizeof context->TemplateBuffer);
        g_pfnAlgExit();
        // An enrolment that was running is gone with the library's reset: its
        // count must not let a commit store the template it had finished.
        context->State = WINBIO_ENGINE_STATE_IDLE;
        context->SampleCount = 0;
    } else {
        context->SampleCount = 0;
        context->State = WINBIO_ENGINE_STATE_ENROLLING;
    }
    engine_trace("EngineAdapterCreateEnrollment End code : 0x%08x\n", static_cast<unsigned>(hr));
    return hr;
}

HRESULT EngineAdapterUpdateEnrollment(WINBIO_PIPELINE* Pipeline, WINBIO_REJECT_DETAIL* RejectDetail) {
    engine_trace(" engine engineEngineAdapterUpdateEnrollment called\n");
    if (Pipeline == nullptr || RejectDetail == nullptr) return E_POINTER;
    WINBIO_ENGINE_CONTEXT* context = engine_context_of(Pipeline);
    if (!enrolling(context) || context->Sample == nullptr) return WINBIO_E_INVALID_DEVICE_STATE;
    if (!engine_binding_complete()) return ENGINE_E_NOT_BOUND;

    const int32_t quality = g_pfnGetImageQuality(context->Sample);
    engine_trace("engine g_pfnGetImageQuality << returnCode : %d\n", quality);
    if (!quality_passes(quality)) {
        *RejectDetail = kRejectEnrollQuality;
        return WINBIO_E_BAD_CAPTURE;
    }

    HRESULT count_result = S_OK;
    const uint32_t record_count = storage_record_count_or_zero(Pipeline, &count_result);
    engine_trace("engine ----- record Cont : 0x%08x - 0x%08x\n", static_cast<unsigned>(count_result),
                 record_count);
    g_pfnGetEnrolledCount(record_count);
    const int32_t step = g_pfnRequestEnroll(record_count, context->Sample);
    engine_trace("engine EngineAdapterUpdateEnrollment sample count : 0x%08x ------ 0x%08x\n",
                 static_cast<unsigned>(step), record_count);

    HRESULT hr;
    if (step < 0) {
        // The library abandoned the enrolment and is idle again: its next
        // step starts a new one, so the count starts over too.
        context->SampleCount = 0;
        *RejectDetail = 0;
        hr = E_FAIL;
    } else {
        context->SampleCount = static_cast<uint32_t>(step);
        hr = EngineAdapterGetEnrollmentStatus(Pipeline, RejectDetail);
    }
    engine_trace("EngineAdapterUpdateEnrollment Exit code : 0x%08x\n", static_cast<unsigned>(hr));
    return hr;
}

HRESULT EngineAdapterGetEnrollmentStatus(WINBIO_PIPELINE* Pipeline, WINBIO_REJECT_DETAIL* RejectDetail) {
    engine_trace(" engine engineEngineAdapterGetEnrollmentStatus called\n");
    if (Pipeline == nullptr || RejectDetail == nullptr) return E_POINTER;
    WINBIO_ENGINE_CONTEXT* context = engine_context_of(Pipeline);
    if (!enrolling(context)) return WINBIO_E_INVALID_DEVICE_STATE;
    *RejectDetail = 0;
    engine_trace("EngineAdapterGetEnrollmentStatus sample count : 0x%08x ------ \n", context->SampleCount);
    if (enrollment_complete(context)) return S_OK;
    engine_trace(" engineEngineAdapterGetEnrollmentStatus called sample over out\n");
    return WINBIO_I_MORE_DATA;
}

HRESULT EngineAdapterQueryExtendedEnrollmentStatus(WINBIO_PIPELINE* Pipeline,
                                                   WINBIO_EXTENDED_ENROLLMENT_STATUS* EnrollmentStatus,
                                                   size_t EnrollmentStatusSize) {
    engine_trace(" engine engineEngineAdapterQueryExtendedEnrollmentStatus called\n");
    if (Pipeline == nullptr || EnrollmentStatus == nullptr) return E_POINTER;
    if (EnrollmentStatusSize < sizeof(WINBIO_EXTENDED_ENROLLMENT_STATUS)) return E_INVALIDARG;
    std::memset(EnrollmentStatus, 0, sizeof(WINBIO_EXTENDED_ENROLLMENT_STATUS));
    EnrollmentStatus->TemplateStatus = WINBIO_TEMPLATE_STATUS_INITIAL;
    EnrollmentStatus->PercentComplete = 100;
    EnrollmentStatus->Factor = WINBIO_TYPE_FINGERPRINT;
    EnrollmentStatus->SubFactor = WINBIO_SUBTYPE_ANY;
    EnrollmentStatus->Specific.Fingerprint.GeneralSamples = kEnrollmentSamples;
    EnrollmentStatus->Specific.Fingerprint.Center = kEnrollmentCenterSamples;
    const WINBIO_ENGINE_CONTEXT* context = engine_context_of(Pipeline);
    if (enrolling(context)) {
        EnrollmentStatus->SubFactor = context->SubFactor;
        EnrollmentStatus->PercentComplete = percent_complete(context->SampleCount);
        EnrollmentStatus->TemplateStatus = enrollment_complete(context) ? S_OK : WINBIO_I_MORE_DATA;
    } else {
        engine_trace(" engineEngineAdapterQueryExtendedEnrollmentStatus Enrollment is not in progress.\n");
    }
    return S_OK;
}

HRESULT EngineAdapterSetEnrollmentParameters(WINBIO_PIPELINE* Pipeline,
                                             WINBIO_EXTENDED_ENROLLMENT_PARAMETERS* Parameters) {
    engine_trace(" engine engineEngineAdapterSetEnrollmentParameters called\n");
    if (Pipeline == nullptr || Parameters == nullptr) return E_POINTER;
    engine_trace("EngineAdapterSetEnrollmentParameters Size : %zu\n", Parameters->Size);
    engine_trace("EngineAdapterSetEnrollmentParameters SubFactor : %d\n", Parameters->SubFactor);
    WINBIO_ENGINE_CONTEXT* context = engine_context_of(Pipeline);
    if (enrolling(context)) {
        context->SubFactor = Parameters->SubFactor;
        engine_trace(" engineEngineAdapterSetEnrollmentParameters saved subfactor");
    }
    return S_OK;
}

HRESULT EngineAdapterCommitEnrollment(WINBIO_PIPELINE* Pipeline, WINBIO_IDENTITY* Identity,
                                      WINBIO_BIOMETRIC_SUBTYPE SubFactor, uint8_t* PayloadBlob,
                                      size_t PayloadBlobSize) {
    engine_trace(" engine engineEngineAdapterCommitEnrollment called\n");
    if (Pipeline == nullptr || Identity == nullptr) return E_POINTER;
    if ((PayloadBlob == nullptr) != (PayloadBlobSize == 0)) return E_INVALIDARG;
    if (SubFactor == WINBIO_SUBTYPE_NO_INFORMATION || SubFactor == WINBIO_SUBTYPE_ANY) return E_INVALIDARG;
    WINBIO_ENGINE_CONTEXT* context = engine_context_of(Pipeline);
    // Only a finished enrolment has a template to store.
    if (!enrolling(context) || !enrollment_complete(context)) return WINBIO_E_INVALID_DEVICE_STATE;
    if (!engine_binding_complete()) return ENGINE_E_NOT_BOUND;

    const uint32_t record_count = storage_record_count_or_zero(Pipeline);
    engine_trace("engine EngineAdapterCommitEnrollment recordCount : %d\n", static_cast<int>(record_count));
    uint32_t aux = 0;
    const int32_t size = pKWT_alg_save_template(record_count, context->TemplateBuffer, &aux);
    engine_trace("engine pKWT_alg_save_template result : %d-%d\n", size, static_cast<int>(aux));
    if (!template_size_valid(size)) {
        engine_trace("engine EngineAdapterCommitEnrollment template size refused : %d\n", size);
        return E_FAIL;
    }

    WINBIO_STORAGE_RECORD record{};
    record.Identity = Identity;
    record.SubFactor = SubFactor;
    record.IndexVector = nullptr;
    record.IndexElementCount = 0;
    record.TemplateBlob = context->TemplateBuffer;
    record.TemplateBlobSize = static_cast<size_t>(size);
    record.PayloadBlob = PayloadBlob;
    record.PayloadBlobSize = PayloadBlobSize;
    const HRESULT hr = storage_add_record(Pipeline, &record);
    if (FAILED(hr)) {
        engine_trace("engine EngineAdapterCommitEnrollment AddRecord failed. 0x%08x\n", static_cast<unsigned>(hr));
        return hr;
    }
    engine_reset_to_idle(context);
    return hr;
}

HRESULT EngineAdapterDiscardEnrollment(WINBIO_PIPELINE* Pipeline) {
    engine_trace(" engine engineEngineAdapterDiscardEnrollment called\n");
    if (Pipeline == nullptr) return E_POINTER;
    WINBIO_ENGINE_CONTEXT* context = engine_context_of(Pipeline);
    if (!enrolling(context)) return WINBIO_E_INVALID_DEVICE_STATE;
    engine_reset_to_idle(context);
    return S_OK;
}
