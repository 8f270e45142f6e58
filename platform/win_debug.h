// Debug output. Lines go to a process-wide sink that tests can replace; the
// default sink drops them unless stderr output was asked for (by the call
// below or the environment variable FP_DEBUG_STDERR=1).
//
// Formatting follows the wide printf of Windows: %s and %ls are wide strings,
// %S and %hs narrow ones; %d %i %u %x %X %c %p %% with flags, width,
// precision and the l, ll, z, h length modifiers. Output is cut to fit the buffer.
#pragma once

#include <cstdarg>
#include <functional>
#include <string>
#include <string_view>

#include "win_types.h"

constexpr size_t DEBUG_LINE_CHARS = 256;

void OutputDebugStringW(PCWSTR text);

namespace fp_platform {

using DebugSink = std::function<void(std::u16string_view line)>;

// Replaces the sink; an empty function restores the default. Returns the old one.
DebugSink set_debug_sink(DebugSink sink);
void set_debug_to_stderr(bool enabled);

// Formats into buffer (count wide characters including the terminator).
// Returns the number of characters written, without the terminator.
size_t format_wide_v(char16_t* buffer, size_t count, PCWSTR format, va_list args);
size_t format_wide(char16_t* buffer, size_t count, PCWSTR format, ...);

// Formats into a 256-character buffer and sends it to the debug output.
void debug_printf(PCWSTR format, ...);

std::string narrow_text(std::u16string_view text);
std::u16string wide_text(std::string_view text);

}  // namespace fp_platform
