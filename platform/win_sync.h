// Threads, events, critical sections and sleeps.
//
// Every sleep is divided by a process-wide time divisor (1 by default) so
// that tests can run polling code quickly. Finite waits are limits, not
// delays: they run in real time, so that a slow machine cannot end one
// early under a test's divisor.
#pragma once

#include "win_handle.h"
#include "win_types.h"

using LPTHREAD_START_ROUTINE = DWORD (*)(void* parameter);

// Starts a thread; the handle is signalled when the routine has returned.
// Closing the handle does not stop the thread.
HANDLE CreateThread(void* security, SIZE_T stackSize, LPTHREAD_START_ROUTINE start, void* parameter,
                    DWORD creationFlags, DWORD* threadId);
DWORD GetCurrentThreadId();

// Events: auto-reset events release one waiter and reset themselves.
HANDLE CreateEventW(void* security, BOOL manualReset, BOOL initialState, PCWSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);

// Waits on a thread or an event handle, at most `milliseconds` of real time.
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);

void Sleep(DWORD milliseconds);

// Re-entrant lock: the owning thread may enter it again.
struct CRITICAL_SECTION {
    void* lock = nullptr;
};

void InitializeCriticalSection(CRITICAL_SECTION* section);
BOOL InitializeCriticalSectionAndSpinCount(CRITICAL_SECTION* section, DWORD spinCount);
void EnterCriticalSection(CRITICAL_SECTION* section);
void LeaveCriticalSection(CRITICAL_SECTION* section);
void DeleteCriticalSection(CRITICAL_SECTION* section);

namespace fp_platform {

// Sleeps (and the simulators' delays) are divided by this (at least 1).
void set_time_divisor(DWORD divisor);
DWORD time_divisor();
DWORD scaled_milliseconds(DWORD milliseconds);

// Holds a critical section for one scope.
class CriticalSectionLock {
public:
    explicit CriticalSectionLock(CRITICAL_SECTION* section) : section_(section) { EnterCriticalSection(section_); }
    ~CriticalSectionLock() { LeaveCriticalSection(section_); }
    CriticalSectionLock(const CriticalSectionLock&) = delete;
    CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

private:
    CRITICAL_SECTION* section_;
};

}  // namespace fp_platform
