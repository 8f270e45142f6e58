// The named shared section through which the engine adapter tells the sensor
// driver that the last identification matched: one 32-bit flag at offset 0,
// 1 after a match and 0 otherwise. Both sides open it by this name.
#pragma once

#include "win_types.h"

namespace fp_platform {

inline constexpr const char16_t* kMatchSectionName = u"mmf_server";
inline constexpr DWORD kMatchSectionBytes = 4;

}  // namespace fp_platform
