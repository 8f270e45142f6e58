// The engine adapter's allocations (context, sample copy): zeroed blocks from
// the process heap.
#pragma once

#include <cstddef>

void* EngineHeapAlloc(size_t bytes);
void EngineHeapFree(void* block);
