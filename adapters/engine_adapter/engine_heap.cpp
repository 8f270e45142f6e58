#include "engine_heap.h"

#include <cstdlib>

void* EngineHeapAlloc(size_t bytes) { return std::calloc(1, bytes == 0 ? 1 : bytes); }

void EngineHeapFree(void* block) { std::free(block); }
