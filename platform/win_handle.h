// Kernel-object handles: every handle returned by the platform layer
// (sections, threads, events) points to a KernelObject and is closed with
// CloseHandle. The last error is kept per thread.
#pragma once

#include "win_types.h"

namespace fp_platform {

class KernelObject {
public:
    KernelObject() = default;
    KernelObject(const KernelObject&) = delete;
    KernelObject& operator=(const KernelObject&) = delete;
    virtual ~KernelObject() = default;

    // Waits until the object is signalled; returns WAIT_OBJECT_0,
    // WAIT_TIMEOUT or WAIT_FAILED. Objects that cannot be waited on fail.
    virtual DWORD wait(DWORD milliseconds);
};

// The object behind a handle, or nullptr for NULL and INVALID_HANDLE_VALUE.
KernelObject* object_of(HANDLE handle);

}  // namespace fp_platform

constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;

BOOL CloseHandle(HANDLE handle);
DWORD GetLastError();
void SetLastError(DWORD error);
