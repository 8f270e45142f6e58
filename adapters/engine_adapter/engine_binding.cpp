#include "engine_binding.h"

#include "engine_trace.h"

RaduRequestEnrollFn g_pfnRequestEnroll = nullptr;
RaduRequestVerifyFn g_pfnRequestVerify = nullptr;
RaduImageQualityFn g_pfnGetImageQuality = nullptr;
RaduAlgInitFn g_pfnAlgInit = nullptr;
RaduAlgExitFn g_pfnAlgExit = nullptr;
RaduLoadTemplateFn g_pfnLoadTemplate = nullptr;
RaduSaveTemplateFn pKWT_alg_save_template = nullptr;
RaduGetEnrolledCountFn g_pfnGetEnrolledCount = nullptr;

HMODULE g_hKwtfModule = nullptr;

namespace {

// One export: its name, the name the failure trace gives it, and how its
// holder is written and tested.
struct ExportBinding {
    const char* export_name;
    const char* trace_name;
    void (*store)(FARPROC);
    bool (*present)();
};

template <typename Fn, Fn* Holder>
constexpr ExportBinding bind(const char* export_name, const char* trace_name) {
    return {export_name, trace_name, [](FARPROC f) { *Holder = reinterpret_cast<Fn>(f); },
            [] { return *Holder != nullptr; }};
}

constexpr ExportBinding kExports[] = {
    bind<RaduRequestEnrollFn, &g_pfnRequestEnroll>("RADU_alg_request_enroll", "KWT_alg_request_enroll"),
    bind<RaduRequestVerifyFn, &g_pfnRequestVerify>("RADU_alg_request_verify", "KWT_alg_request_verify"),
    bind<RaduImageQualityFn, &g_pfnGetImageQuality>("RADU_image_quality", "KWT_image_quality"),
    bind<RaduAlgInitFn, &g_pfnAlgInit>("RADU_alg_init", "KWT_alg_init"),
    bind<RaduAlgExitFn, &g_pfnAlgExit>("RADU_alg_exit", "KWT_alg_exit"),
    bind<RaduLoadTemplateFn, &g_pfnLoadTemplate>("RADU_alg_load_template", "KWT_alg_load_template"),
    bind<RaduSaveTemplateFn, &pKWT_alg_save_template>("RADU_alg_save_template", "KWT_alg_save_template"),
    bind<RaduGetEnrolledCountFn, &g_pfnGetEnrolledCount>("RADU_alg_get_enrolled_count",
                                                         "KWT_alg_get_enrolled_count"),
};

void clear_holders() {
    for (const ExportBinding& e : kExports) e.store(nullptr);
}

}  // namespace

int LoadKwtLibrary() {
    clear_holders();
    g_hKwtfModule = LoadLibraryExW(kKwtModuleName, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (g_hKwtfModule == nullptr) {
        engine_trace(" test - LoadLibrary fail(fpmatch.dll).\n");
        return kKwtLoadFailed;
    }
    for (const ExportBinding& e : kExports) {
        const FARPROC address = GetProcAddress(g_hKwtfModule, e.export_name);
        e.store(address);
        if (address == nullptr) {
            engine_trace(" test - GetProcAddress fail(%s).\n", e.trace_name);
            return kKwtExportMissing;
        }
    }
    return kKwtLoadOk;
}

void UnloadKwtLibrary() {
    // The holders point into the library: clear them with the handle so that
    // nothing can call into unloaded code.
    clear_holders();
    if (g_hKwtfModule != nullptr) {
        FreeLibrary(g_hKwtfModule);
        g_hKwtfModule = nullptr;
        engine_trace(" engine engineg_hKwtfModule free.");
    }
}

bool engine_binding_complete() {
    for (const ExportBinding& e : kExports)
        if (!e.present()) return false;
    return true;
}

bool DllMain(HMODULE module, uint32_t reason, void*) {
    engine_trace("engine Dll main called.Reson : %d\n", static_cast<int>(reason));
    if (reason == kDllProcessAttach) {
        if (g_hKwtfModule != nullptr) UnloadKwtLibrary();
        const int rc = LoadKwtLibrary();
        if (rc < 0) engine_trace("engine LoadKwtLibrary fail. ErrorCode : %d\n", rc);
        DisableThreadLibraryCalls(module);
    } else if (reason == kDllProcessDetach) {
        UnloadKwtLibrary();
    }
    return true;
}
