// The driver's side of the match section: one 32-bit flag that the engine
// adapter sets to 1 after an identification matched.
#pragma once

#include "match_section_name.h"
#include "win_types.h"

namespace fpusbdrv {

using fp_platform::kMatchSectionBytes;
using fp_platform::kMatchSectionName;

// Creates and maps the section unless this process already holds it.
void initmem();
// The flag, or 0 when the section is not mapped.
uint32_t getmem();
// Zeroes the flag and lets go of the section.
void clrmem();

}  // namespace fpusbdrv
