#include "driver_trace.h"

#include <atomic>

namespace fpusbdrv {
namespace {
// There is no event-tracing service here: registration is only recorded,
// and diagnostics go to the debug output.
std::atomic<bool> g_provider_registered{false};
}  // namespace

void register_trace_provider() { g_provider_registered.store(true); }

void unregister_trace_provider() { g_provider_registered.store(false); }

bool trace_provider_registered() { return g_provider_registered.load(); }

}  // namespace fpusbdrv
