// Named sections (file mappings) on POSIX shared memory.
//
// A section named N lives in the shared-memory object "/<prefix>N" (mode
// 0600). The prefix is process-wide and empty by default; tests set their
// own so that parallel test processes do not share sections. The process
// that created a section removes its name when its last handle to it in
// this process is closed, so the name disappears as a Windows section does
// once its creator lets go of it.
#pragma once

#include <string>

#include "win_handle.h"
#include "win_types.h"

constexpr DWORD PAGE_READONLY = 0x02;
constexpr DWORD PAGE_READWRITE = 0x04;

constexpr DWORD FILE_MAP_WRITE = 0x0002;
constexpr DWORD FILE_MAP_READ = 0x0004;
constexpr DWORD FILE_MAP_ALL_ACCESS = 0x000F001F;

// Creates (or opens, with ERROR_ALREADY_EXISTS as the last error) the named
// section. Only page-file-backed sections are supported: file must be
// INVALID_HANDLE_VALUE. Returns NULL on failure with the last error set.
HANDLE CreateFileMappingW(HANDLE file, void* security, DWORD protect, DWORD maximumSizeHigh,
                          DWORD maximumSizeLow, PCWSTR name);

// Opens an existing named section; NULL with ERROR_FILE_NOT_FOUND when absent.
HANDLE OpenFileMappingW(DWORD desiredAccess, BOOL inheritHandle, PCWSTR name);

// Maps the section; bytesToMap 0 maps all of it. NULL on failure.
void* MapViewOfFile(HANDLE section, DWORD desiredAccess, DWORD offsetHigh, DWORD offsetLow,
                    SIZE_T bytesToMap);

BOOL UnmapViewOfFile(const void* baseAddress);

namespace fp_platform {

// Process-wide prefix of the shared-memory names of sections.
void set_section_name_prefix(const std::string& prefix);
std::string section_name_prefix();

// The shared-memory object name used for a section name.
std::string section_shm_name(PCWSTR name);

// True when a section of this name currently exists (in any process).
bool section_exists(PCWSTR name);

}  // namespace fp_platform
