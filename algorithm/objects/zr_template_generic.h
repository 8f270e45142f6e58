// Generic template container "VORTANE" (template type 84): up to ten typed
// parts, each with a CRC-32, and a CRC-32 over the table of parts.
//
//   0   8  magic "VORTANE\0"
//   8   1  version (1 written; 0 read too: no CRCs, no trailer)
//   9   1  entry count, at most 10
//   10  4  table CRC (not in version 0)
//   ..     entries: type u16 (not 0), data size u32, data CRC u32 (not in
//          version 0), data bytes
//   end-4  "FOOF" (not in version 0)
//
// Multi-byte fields are big-endian. A container is never edited in place:
// every change builds a new container template.
#pragma once

#include <cstdint>

#include "objects/zr_result.h"
#include "objects/zr_template.h"

constexpr uint32_t ZR_GENERIC_MAX_ENTRIES = 10;

struct zr_generic_entry {
    uint16_t type;
    uint32_t size;
    const uint8_t* data;  // inside the container template's bytes
    uint32_t crc;
};

// Parsed container (freed by the caller with free()).
struct zr_generic_container {
    uint8_t version;
    uint8_t count;
    uint32_t table_crc;
    zr_generic_entry entries[ZR_GENERIC_MAX_ENTRIES];
};

// Parses a container template; none when its bytes are not a valid container.
// A missing template or one without data gives an empty parsed container.
zr_generic_container* deserialize_template(const zr_template* tmpl);
// Parses into the caller's record without allocating: as deserialize_template,
// false where that gives none.
bool zr_template_generic_parse(const zr_template* tmpl, zr_generic_container* out);
// New type-84 template with the written container (entry CRCs as given, table
// CRC computed); none unless the version is 1, or when an entry is unusable or
// memory runs out.
zr_template* serialize_template(const zr_generic_container* container);
// CRC-32 of the 114-byte table block of a parsed container.
uint32_t zr_template_generic_table_crc(const zr_generic_container* container);

zr_template* zr_template_generic_convert(zr_template* tmpl);
zr_template* zr_template_generic_insert(const zr_template* container, uint16_t type,
                                        const uint8_t* data, uint32_t size);
[[nodiscard]] zr_status zr_template_generic_extract(const zr_template* container, uint32_t type,
                                                    const uint8_t** out_data, uint32_t* out_size);
int32_t zr_template_generic_has_data(const zr_template* container, uint32_t type);
int32_t zr_template_generic_is_empty(const zr_template* container);
zr_template* zr_template_generic_remove(const zr_template* container, uint32_t type,
                                        const uint8_t** out_data, uint32_t* out_size);
zr_template* zr_template_remove_data_of_type(const zr_template* tmpl, uint32_t type);
int32_t zr_template_generic_verify_integrity(const zr_template* tmpl, int32_t level);
zr_template* zr_template_merge(zr_template* a, zr_template* b);
