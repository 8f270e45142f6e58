#include "win_dynload.h"

#include <dlfcn.h>

#include <mutex>

#ifndef FP_SYSTEM_LIBRARY_DIR
#define FP_SYSTEM_LIBRARY_DIR "/usr/local/lib"
#endif

namespace {

std::mutex g_directory_lock;
std::string g_directory_override;

constexpr const char* kSharedSuffix = ".so";

// Narrows a module name; only printable ASCII names are accepted.
bool narrow_module_name(const char16_t* wide, std::string& out) {
    out.clear();
    for (const char16_t* p = wide; *p; ++p) {
        if (*p < 0x20 || *p > 0x7E) return false;
        out.push_back(static_cast<char>(*p));
    }
    return !out.empty();
}

bool ends_with(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

std::string win_system_directory() {
    std::lock_guard<std::mutex> lock(g_directory_lock);
    return g_directory_override.empty() ? std::string(FP_SYSTEM_LIBRARY_DIR) : g_directory_override;
}

void win_set_system_directory(const std::string& directory) {
    std::lock_guard<std::mutex> lock(g_directory_lock);
    g_directory_override = directory;
}

std::string win_module_file_name(const char16_t* module_name) {
    if (module_name == nullptr) return {};
    std::string name;
    if (!narrow_module_name(module_name, name)) return {};
    // A bare name only: nothing that could leave the directory.
    if (name.find('/') != std::string::npos || name.find('\\') != std::string::npos ||
        name == "." || name == "..")
        return {};
    std::string lower = name;
    for (char& c : lower) c = static_cast<char>((c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c);
    if (ends_with(lower, ".dll")) {
        name.resize(name.size() - 4);
    }
    if (!ends_with(name, kSharedSuffix)) name += kSharedSuffix;
    return name;
}

HMODULE LoadLibraryExW(const char16_t* module_name, HANDLE file, uint32_t flags) {
    if (file != nullptr || flags != LOAD_LIBRARY_SEARCH_SYSTEM32) return nullptr;
    const std::string file_name = win_module_file_name(module_name);
    if (file_name.empty()) return nullptr;
    const std::string path = win_system_directory() + "/" + file_name;
    return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

FARPROC GetProcAddress(HMODULE module, const char* export_name) {
    if (module == nullptr || export_name == nullptr) return nullptr;
    void* symbol = dlsym(module, export_name);
    return reinterpret_cast<FARPROC>(symbol);
}

bool FreeLibrary(HMODULE module) {
    if (module == nullptr) return false;
    return dlclose(module) == 0;
}

bool DisableThreadLibraryCalls(HMODULE) { return true; }
