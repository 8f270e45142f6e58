// The minutiae order and the maximum number of minutiae that an extractor
// takes from its session's configuration keys.
#pragma once

#include <cstdint>

struct zr_session;

struct zr_minutiae_settings {
    uint8_t order;         // order code of bal_sort_minutiae
    uint8_t max_minutiae;  // low byte of the configured maximum
};

// Reads "zr.minutiae_order" (default 0) and "zr.max_minutiae" (default 64).
// With v the order value and key = (v >> 2) & 7: keys 1..4 give the order
// key, plus 16 (descending) when the low two bits of v are 2; every other
// key gives quality descending (21). The maximum is passed on as its low
// byte. A null session reads the process-wide properties.
zr_minutiae_settings zr_read_minutiae_settings(const zr_session* session);
