// The engine's side of the match section shared with the sensor driver:
// 1 after an identification matched, 0 otherwise.
#pragma once

#include <cstdint>

// Opens the section for writing, writes `value` at offset 0 and closes it.
// A missing section is only traced.
void setmem(uint32_t value);
