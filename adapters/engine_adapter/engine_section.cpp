#include "engine_section.h"

#include <cstring>

#include "engine_trace.h"
#include "win_section.h"

namespace {
constexpr const char16_t* kMatchSectionName = u"mmf_server";
}

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
    // One little-endian u32 at offset 0 (the host's own order here).
    std::memcpy(view, &value, sizeof value);
    engine_trace("HELLO : RESULT : %d\n", static_cast<int>(value));
    UnmapViewOfFile(view);
    CloseHandle(section);
}
