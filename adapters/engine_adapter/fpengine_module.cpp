// Process attach and detach of the engine module: the shared library binds
// the algorithm library when it is loaded and frees it when it is unloaded.
#include <dlfcn.h>

#include "engine_binding.h"

namespace {

HMODULE own_module_handle() {
    Dl_info info{};
    static int anchor;
    return dladdr(&anchor, &info) != 0 ? info.dli_fbase : nullptr;
}

__attribute__((constructor)) void fpengine_process_attach() {
    DllMain(own_module_handle(), kDllProcessAttach, nullptr);
}

__attribute__((destructor)) void fpengine_process_detach() {
    DllMain(own_module_handle(), kDllProcessDetach, nullptr);
}

}  // namespace
