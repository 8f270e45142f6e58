// CRC-32 of the reflected polynomial 0xEDB88320 (initial value 0xFFFFFFFF,
// final complement), in one call or streamed through a caller-owned state.
#pragma once

#include <cstdint>

// CRC-32 of the bytes; 0 for a null pointer or a length of 0.
uint32_t zr_crc32(const uint8_t* data, uint32_t length);

// Streaming: init, any number of compute calls, then get.
void zr_crc32_init_state(uint32_t* state);
// Feeds the bytes into *state; does nothing for a null pointer or a length of 0.
void zr_crc32_compute(const uint8_t* data, uint32_t length, uint32_t* state);
// The CRC of the bytes fed so far; the state is not changed.
uint32_t zr_crc32_get(const uint32_t* state);
