// The driver's side of the shared section "mmf_server": one 32-bit match
// flag that the engine adapter sets to 1 after an identification matched.
#pragma once

#include "win_types.h"

namespace fpusbdrv {

constexpr const char16_t* kMatchSectionName = u"mmf_server";
constexpr DWORD kMatchSectionBytes = 4;

// Creates and maps the section unless this process already holds it.
void initmem();
// The flag, or 0 when the section is not mapped.
uint32_t getmem();
// Zeroes the flag and lets go of the section.
void clrmem();

}  // namespace fpusbdrv
