#include "win_sync.h"

#include <unistd.h>
#include <sys/syscall.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

namespace fp_platform {
namespace {

std::atomic<DWORD> g_time_divisor{1};

// Waits on a condition with a Windows-style timeout in milliseconds. The
// timeout is a limit, not a delay: it is not shortened by the time divisor.
template <typename Predicate>
bool wait_until(std::condition_variable& condition, std::unique_lock<std::mutex>& lock, DWORD milliseconds,
                Predicate ready)
{
    if (milliseconds == INFINITE) {
        condition.wait(lock, ready);
        return true;
    }
    return condition.wait_for(lock, std::chrono::milliseconds(milliseconds), ready);
}

struct ThreadState {
    std::mutex mutex;
    std::condition_variable finished_changed;
    bool finished = false;
};

class ThreadObject final : public KernelObject {
public:
    ThreadObject(LPTHREAD_START_ROUTINE start, void* parameter) : state_(std::make_shared<ThreadState>())
    {
        std::shared_ptr<ThreadState> state = state_;
        thread_ = std::thread([state, start, parameter] {
            start(parameter);
            std::lock_guard<std::mutex> lock(state->mutex);
            state->finished = true;
            state->finished_changed.notify_all();
        });
    }

    ~ThreadObject() override
    {
        bool finished = false;
        {
            std::lock_guard<std::mutex> lock(state_->mutex);
            finished = state_->finished;
        }
        if (finished) {
            thread_.join();
        } else {
            thread_.detach();
        }
    }

    DWORD wait(DWORD milliseconds) override
    {
        std::unique_lock<std::mutex> lock(state_->mutex);
        const bool finished = wait_until(state_->finished_changed, lock, milliseconds,
                                         [this] { return state_->finished; });
        return finished ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
    }

private:
    std::shared_ptr<ThreadState> state_;
    std::thread thread_;
};

class EventObject final : public KernelObject {
public:
    EventObject(bool manual_reset, bool signalled) : manual_reset_(manual_reset), signalled_(signalled) {}

    void set()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        signalled_ = true;
        changed_.notify_all();
    }

    void reset()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        signalled_ = false;
    }

    DWORD wait(DWORD milliseconds) override
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!wait_until(changed_, lock, milliseconds, [this] { return signalled_; })) {
            return WAIT_TIMEOUT;
        }
        if (!manual_reset_) {
            signalled_ = false;
        }
        return WAIT_OBJECT_0;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    const bool manual_reset_;
    bool signalled_;
};

EventObject* event_of(HANDLE handle) { return dynamic_cast<EventObject*>(object_of(handle)); }

}  // namespace

void set_time_divisor(DWORD divisor) { g_time_divisor.store(divisor == 0 ? 1 : divisor); }

DWORD time_divisor() { return g_time_divisor.load(); }

DWORD scaled_milliseconds(DWORD milliseconds)
{
    if (milliseconds == INFINITE || milliseconds == 0) {
        return milliseconds;
    }
    const DWORD scaled = milliseconds / g_time_divisor.load();
    return scaled == 0 ? 1 : scaled;
}

}  // namespace fp_platform

HANDLE CreateThread(void*, SIZE_T, LPTHREAD_START_ROUTINE start, void* parameter, DWORD, DWORD* threadId)
{
    if (start == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    try {
        auto* thread = new fp_platform::ThreadObject(start, parameter);
        if (threadId != nullptr) {
            *threadId = 0;
        }
        return thread;
    } catch (const std::exception&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

DWORD GetCurrentThreadId() { return static_cast<DWORD>(::syscall(SYS_gettid)); }

HANDLE CreateEventW(void*, BOOL manualReset, BOOL initialState, PCWSTR name)
{
    if (name != nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);  // named events are not needed here
        return nullptr;
    }
    auto* event = new (std::nothrow) fp_platform::EventObject(manualReset != FALSE, initialState != FALSE);
    if (event == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
    return event;
}

BOOL SetEvent(HANDLE event)
{
    fp_platform::EventObject* object = fp_platform::event_of(event);
    if (object == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    object->set();
    return TRUE;
}

BOOL ResetEvent(HANDLE event)
{
    fp_platform::EventObject* object = fp_platform::event_of(event);
    if (object == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    object->reset();
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds)
{
    fp_platform::KernelObject* object = fp_platform::object_of(handle);
    if (object == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    return object->wait(milliseconds);
}

void Sleep(DWORD milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(fp_platform::scaled_milliseconds(milliseconds)));
}

void InitializeCriticalSection(CRITICAL_SECTION* section) { InitializeCriticalSectionAndSpinCount(section, 0); }

BOOL InitializeCriticalSectionAndSpinCount(CRITICAL_SECTION* section, DWORD)
{
    if (section == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    section->lock = new (std::nothrow) std::recursive_mutex;
    if (section->lock == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    return TRUE;
}

void EnterCriticalSection(CRITICAL_SECTION* section) { static_cast<std::recursive_mutex*>(section->lock)->lock(); }

void LeaveCriticalSection(CRITICAL_SECTION* section)
{
    static_cast<std::recursive_mutex*>(section->lock)->unlock();
}

void DeleteCriticalSection(CRITICAL_SECTION* section)
{
    delete static_cast<std::recursive_mutex*>(section->lock);
    section->lock = nullptr;
}
