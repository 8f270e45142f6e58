// Dynamic loading of shared libraries by module name.
//
// Only one directory is ever consulted: the system library directory (the
// installed library directory, or a directory a test names). No search path,
// no environment variable and no path in the module name are honoured.
#pragma once

#include <cstdint>
#include <string>

#include "win_types.h"

using FARPROC = void (*)();

// The only search mode supported: the system library directory.
constexpr uint32_t LOAD_LIBRARY_SEARCH_SYSTEM32 = 0x00000800;

// Loads `module_name` (a bare file name; a ".dll" extension, or none, is taken
// to mean the platform's shared-library suffix) from the system library
// directory. `file` must be null and `flags` must be LOAD_LIBRARY_SEARCH_SYSTEM32.
// Returns null on any failure.
HMODULE LoadLibraryExW(const char16_t* module_name, HANDLE file, uint32_t flags);

// Resolves an export by name; null when the module or the export is missing.
FARPROC GetProcAddress(HMODULE module, const char* export_name);

// Drops one reference to the module; unloads it at the last.
bool FreeLibrary(HMODULE module);

// Thread attach and detach notifications do not exist here: accepted, no effect.
bool DisableThreadLibraryCalls(HMODULE module);

// The directory LoadLibraryExW loads from.
std::string win_system_directory();

// Points the loader at another directory (tests); an empty string restores
// the installed library directory.
void win_set_system_directory(const std::string& directory);

// The file name LoadLibraryExW would open for `module_name`, or an empty
// string when the name is not a bare module name.
std::string win_module_file_name(const char16_t* module_name);
