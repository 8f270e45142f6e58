// The read buffer's allocation as the driver tests link it: it fails as many
// times as requested, then allocates as the driver module does.
#include "failing_read_buffer.h"

#include <atomic>
#include <new>

#include "capture_data.h"
#include "read_buffer.h"

namespace fpusbdrv {
namespace {

std::atomic<int> g_failing_read_buffer_allocations{0};

// Takes one pending failure, if any.
bool take_failure()
{
    int failing = g_failing_read_buffer_allocations.load();
    while (failing > 0) {
        if (g_failing_read_buffer_allocations.compare_exchange_weak(failing, failing - 1)) {
            return true;
        }
    }
    return false;
}

}  // namespace

void fail_next_read_buffer_allocations(int count) { g_failing_read_buffer_allocations.store(count); }

BYTE* allocate_read_buffer()
{
    if (take_failure()) {
        return nullptr;
    }
    return new (std::nothrow) BYTE[kImageBytes]();
}

}  // namespace fpusbdrv
