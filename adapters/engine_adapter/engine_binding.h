// Run-time binding of the algorithm library: its module handle and the eight
// exported entry points the engine adapter calls, resolved by name when the
// engine module is attached to the process.
#pragma once

#include <cstdint>

#include "win_dynload.h"

// Shapes of the bound exports (their behaviour is the algorithm library's).
using RaduRequestEnrollFn = int32_t (*)(uint32_t record_count, const uint8_t* sample);
using RaduRequestVerifyFn = int32_t (*)(const uint8_t* sample, const uint8_t* template_bytes,
                                        uint32_t template_size);
using RaduImageQualityFn = int32_t (*)(const uint8_t* sample);
using RaduAlgInitFn = int32_t (*)();
using RaduAlgExitFn = int32_t (*)();
using RaduLoadTemplateFn = int32_t (*)(uint32_t, const uint8_t*, uint32_t);
using RaduSaveTemplateFn = int32_t (*)(uint32_t record_count, uint8_t* out, uint32_t* aux);
using RaduGetEnrolledCountFn = int32_t (*)(uint32_t count);

// Holders, in the order of resolution.
extern RaduRequestEnrollFn g_pfnRequestEnroll;
extern RaduRequestVerifyFn g_pfnRequestVerify;
extern RaduImageQualityFn g_pfnGetImageQuality;
extern RaduAlgInitFn g_pfnAlgInit;
extern RaduAlgExitFn g_pfnAlgExit;
extern RaduLoadTemplateFn g_pfnLoadTemplate;
extern RaduSaveTemplateFn pKWT_alg_save_template;
extern RaduGetEnrolledCountFn g_pfnGetEnrolledCount;

extern HMODULE g_hKwtfModule;

// The algorithm library's module name.
inline constexpr const char16_t* kKwtModuleName = u"fpmatch.dll";

// Load results of LoadKwtLibrary.
constexpr int kKwtLoadOk = 0;
constexpr int kKwtExportMissing = -2;
constexpr int kKwtLoadFailed = -3;

// Loads the algorithm library from the system library directory and resolves
// the eight exports in order, stopping at the first that is missing (the
// later holders stay null). Every holder is cleared first.
int LoadKwtLibrary();

// Frees the algorithm library and clears the handle and every holder.
void UnloadKwtLibrary();

// True when all eight exports are bound; the biometric operations refuse to
// run otherwise.
bool engine_binding_complete();

// The result the biometric operations give when the binding is incomplete
// (HRESULT of "the specified procedure could not be found").
constexpr HRESULT ENGINE_E_NOT_BOUND = static_cast<HRESULT>(0x8007007Fu);

// Module entry: reason 1 binds the library, reason 0 frees it. Always true.
constexpr uint32_t kDllProcessDetach = 0;
constexpr uint32_t kDllProcessAttach = 1;
bool DllMain(HMODULE module, uint32_t reason, void* reserved);
