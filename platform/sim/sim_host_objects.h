// Shared pieces of the simulated driver host's framework objects (internal
// to the host's sources).
#pragma once

#include "sim_host.h"
#include "umdf_com.h"

namespace fp_sim {

constexpr HRESULT kRequestAborted = hresult_of(0x800703E3u);  // HRESULT_FROM_WIN32(ERROR_OPERATION_ABORTED)
constexpr HRESULT kInvalidHandle = hresult_of(0x80070006u);   // HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE)

}  // namespace fp_sim

// Reference counting of the host's COM objects.
#define FP_SIM_COM_REFCOUNT                                     \
    ULONG AddRef() override { return add_reference(); }         \
    ULONG Release() override { return release_reference(); }
