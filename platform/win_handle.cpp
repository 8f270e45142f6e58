#include "win_handle.h"

namespace fp_platform {

DWORD KernelObject::wait(DWORD)
{
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
}

KernelObject* object_of(HANDLE handle)
{
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    return static_cast<KernelObject*>(handle);
}

}  // namespace fp_platform

namespace {
thread_local DWORD t_last_error = ERROR_SUCCESS;
}

BOOL CloseHandle(HANDLE handle)
{
    fp_platform::KernelObject* object = fp_platform::object_of(handle);
    if (object == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    delete object;
    return TRUE;
}

DWORD GetLastError() { return t_last_error; }

void SetLastError(DWORD error) { t_last_error = error; }
