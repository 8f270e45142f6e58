#include "engine_section.h"

#include <atomic>

#include "engine_trace.h"
#include "match_section_name.h"
#include "win_section.h"

using fp_platform::kMatchSectionName;

void setmem(uint32_t value) {
    engine_trace("HELLO : start setmem");
    HANDLE section = OpenFileMappingW(FILE_MAP_WRITE, FALSE, kMatchSectionName);
    if (section == nullptr) {
        engine_trace("HELLO : Failed CreateFileMapping");
        return;
    }
    void* view = MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, 0);
    if (view == nullptr) {
        CloseHandle(section);
        engine_trace("HELLO : Failed MapViewOfFile");
        return;
    }
    // One u32 at offset 0 (the host's own order), written atomically: the
    // driver's capture thread may be reading it at the same moment.
    std::atomic_ref<uint32_t>(*static_cast<uint32_t*>(view)).store(value, std::memory_order_release);
    engine_trace("HELLO : RESULT : %d\n", static_cast<int>(value));
    UnmapViewOfFile(view);
    CloseHandle(section);
}
