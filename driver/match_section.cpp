#include "match_section.h"

#include <atomic>
#include <mutex>

#include "driver_trace.h"
#include "win_section.h"

namespace fpusbdrv {
namespace {

// One handle and one view for the whole process.
std::mutex g_section_mutex;
HANDLE g_section = nullptr;
uint32_t* g_view = nullptr;

}  // namespace

void initmem()
{
    std::lock_guard<std::mutex> lock(g_section_mutex);
    if (g_section != nullptr) {
        return;
    }
    g_section = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kMatchSectionBytes,
                                   kMatchSectionName);
    if (g_section == nullptr) {
        FP_TRACE(u"HELLO : Failed CreateFileMapping %x\n", GetLastError());
        return;
    }
    g_view = static_cast<uint32_t*>(MapViewOfFile(g_section, FILE_MAP_ALL_ACCESS, 0, 0, kMatchSectionBytes));
    if (g_view == nullptr) {
        CloseHandle(g_section);
        g_section = nullptr;
        FP_TRACE(u"Failed MapViewOfFile");
    }
}

uint32_t getmem()
{
    FP_TRACE(u"HELLO:%S: <<", __func__);
    uint32_t value = 0;
    {
        std::lock_guard<std::mutex> lock(g_section_mutex);
        if (g_view != nullptr) {
            // Written by another process; read it as one 32-bit word.
            value = std::atomic_ref<uint32_t>(*g_view).load(std::memory_order_acquire);
        }
    }
    FP_TRACE(u"HELLO:%S: -- %d >>", __func__, static_cast<int>(value));
    return value;
}

void clrmem()
{
    std::lock_guard<std::mutex> lock(g_section_mutex);
    if (g_view != nullptr) {
        std::atomic_ref<uint32_t>(*g_view).store(0, std::memory_order_release);
        UnmapViewOfFile(g_view);
        g_view = nullptr;
    }
    if (g_section != nullptr) {
        CloseHandle(g_section);
        g_section = nullptr;
    }
}

}  // namespace fpusbdrv
