#include "math/lib_memory.h"

#include <cstdlib>

lib_memory_result lib_memory_check(void* p1, void* p2, void* p3, void* p4, void* p5, void* p6,
                                   void* p7, uint8_t n) {
    void* buffers[7] = {p1, p2, p3, p4, p5, p6, p7};
    const unsigned checked = n < 7 ? n : 7;
    bool ok = true;
    for (unsigned i = 0; i < checked; ++i) ok = ok && buffers[i] != nullptr;
    if (ok) return lib_memory_result::all_present;
    for (void* p : buffers)
        if (p) std::free(p);
    return lib_memory_result::missing_freed;
}
