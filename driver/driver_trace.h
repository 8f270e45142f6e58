// Debug tracing of the driver: every member opens with "HELLO:<name>: <<"
// and closes with "HELLO:<name>: >>" on the debug output.
#pragma once

#include "win_debug.h"
#include "win_types.h"

namespace fpusbdrv {

// Control GUID of the driver's event-tracing provider.
constexpr GUID kTraceControlGuid{0xA5D205DA, 0xE709, 0x470B, {0x9D, 0x89, 0x6F, 0xF2, 0xDE, 0xA3, 0x63, 0xA1}};

// Event-tracing provider registration (module load and unload).
void register_trace_provider();
void unregister_trace_provider();
bool trace_provider_registered();

class MethodTrace {
public:
    explicit MethodTrace(const char* name) : name_(name) { fp_platform::debug_printf(u"HELLO:%S: <<", name_); }
    ~MethodTrace() { fp_platform::debug_printf(u"HELLO:%S: >>", name_); }
    MethodTrace(const MethodTrace&) = delete;
    MethodTrace& operator=(const MethodTrace&) = delete;

private:
    const char* name_;
};

}  // namespace fpusbdrv

#define FP_TRACE_METHOD() ::fpusbdrv::MethodTrace method_trace_(__func__)
#define FP_TRACE(...) ::fp_platform::debug_printf(__VA_ARGS__)
