#include "engine_trace.h"

#include <cstdarg>
#include <cstdio>

#include "win_debug.h"

void engine_trace(const char* format, ...) {
    char narrow[kEngineTraceChars];
    va_list args;
    va_start(args, format);
    const int written = std::vsnprintf(narrow, sizeof narrow, format, args);
    va_end(args);
    if (written < 0) return;
    // The formats are ASCII; widen byte by byte (vsnprintf has truncated and terminated).
    char16_t wide[kEngineTraceChars];
    int i = 0;
    for (; narrow[i] != '\0'; ++i) wide[i] = static_cast<char16_t>(static_cast<unsigned char>(narrow[i]));
    wide[i] = u'\0';
    OutputDebugStringW(wide);
}
