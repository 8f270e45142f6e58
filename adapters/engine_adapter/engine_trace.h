// Debug-output tracing of the engine adapter: each line is formatted into a
// buffer of 256 wide characters and sent to the debugger output.
#pragma once

constexpr int kEngineTraceChars = 256;

void engine_trace(const char* format, ...) __attribute__((format(printf, 1, 2)));
