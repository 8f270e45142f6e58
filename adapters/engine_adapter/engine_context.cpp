#include "engine_context.h"

#include <cstring>

#include "engine_adapter.h"
#include "engine_binding.h"
#include "engine_heap.h"
#include "engine_trace.h"

void engine_free_sample(WINBIO_ENGINE_CONTEXT* context) {
    if (context->Sample != nullptr) EngineHeapFree(context->Sample);
    context->Sample = nullptr;
    context->SampleSize = 0;
}

void engine_release_enrollment_data(WINBIO_ENGINE_CONTEXT* context) {
    engine_free_sample(context);
    std::memset(context->TemplateBuffer, 0, sizeof context->TemplateBuffer);
    if (g_pfnAlgExit != nullptr) g_pfnAlgExit();
}

void engine_reset_to_idle(WINBIO_ENGINE_CONTEXT* context) {
    engine_release_enrollment_data(context);
    context->State = WINBIO_ENGINE_STATE_IDLE;
    context->SampleCount = 0;
    context->SubFactor = 0;
}

HRESULT EngineAdapterAttach(WINBIO_PIPELINE* Pipeline) {
    engine_trace(" engine engineEngineAdapterAttach called\n");
    if (Pipeline == nullptr) {
        engine_trace(" engine engineEngineAdapterAttach : Pipeline not present..\n");
        return E_POINTER;
    }
    HRESULT hr = S_OK;
    if (Pipeline->EngineContext != nullptr || Pipeline->EngineHandle != INVALID_HANDLE_VALUE) {
        hr = WINBIO_E_INVALID_DEVICE_STATE;
    } else {
        void* context = EngineHeapAlloc(sizeof(WINBIO_ENGINE_CONTEXT));
        if (context == nullptr)
            hr = E_OUTOFMEMORY;
        else
            Pipeline->EngineContext = context;
    }
    engine_trace("EngineAdapterAttach End code : 0x%08x\n", static_cast<unsigned>(hr));
    return hr;
}

HRESULT EngineAdapterDetach(WINBIO_PIPELINE* Pipeline) {
    engine_trace(" engine engineEngineAdapterDetach called\n");
    if (Pipeline == nullptr) return E_POINTER;
    WINBIO_ENGINE_CONTEXT* context = engine_context_of(Pipeline);
    if (context == nullptr) return WINBIO_E_INVALID_DEVICE_STATE;
    engine_release_enrollment_data(context);
    Pipeline->EngineContext = nullptr;
    EngineHeapFree(context);
    return S_OK;
}

HRESULT EngineAdapterClearContext(WINBIO_PIPELINE* Pipeline) {
    engine_trace(" engine engineEngineAdapterClearContext called\n");
    if (Pipeline == nullptr) return E_POINTER;
    WINBIO_ENGINE_CONTEXT* context = engine_context_of(Pipeline);
    if (context == nullptr) {
        engine_trace(" engine engineEngineAdapterClearContext EngineContext NULL\n");
        return WINBIO_E_INVALID_DEVICE_STATE;
    }
    engine_reset_to_idle(context);
    return S_OK;
}
