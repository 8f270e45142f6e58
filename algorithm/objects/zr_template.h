// Template object: a typed byte blob with a generation quality and an
// optional image, and the template type codes.
#pragma once

#include <cstdint>

#include "objects/zr_image.h"

// Template type codes (u32; most are ASCII letters).
enum zr_template_type : uint32_t {
    ZR_TEMPLATE_ISO19794_2 = 1,          // ISO/IEC 19794-2 minutiae record
    ZR_TEMPLATE_ISO_COMPACT_CARD = 2,    // ISO compact card record
    ZR_TEMPLATE_ANSI378 = 3,             // ANSI 378 minutiae record
    ZR_TEMPLATE_ISO19794_2_ALIAS = 4,    // reported as 1
    ZR_TEMPLATE_ISO_COMPACT_CARD_ALIAS = 5,  // reported as 2
    ZR_TEMPLATE_ANSI378_ALIAS = 6,       // reported as 3
    ZR_TEMPLATE_SPECTRAL = 'B',          // block-field part (tag 0xC1) of an EHM template
    ZR_TEMPLATE_EHM = 'C',               // EHM template
    ZR_TEMPLATE_RAW_IMAGE = 'G',         // raw-image record "ZRIT"
    ZR_TEMPLATE_EHM_IMAGE = 'H',         // EHM template carrying the raw image
    ZR_TEMPLATE_EHM_RECORD = 'I',        // EHM made by the EHM-record format, reported as 67
    ZR_TEMPLATE_EHM_PRESET = 'J',        // EHM variant of the presets, reported as 67
    ZR_TEMPLATE_EHM_PRESET_IMAGE = 'K',  // image-carrying form of 74
    ZR_TEMPLATE_PART_C5 = 'M',           // part under tag 0xC5 of an EHM template
    ZR_TEMPLATE_EHM_NEO = 'N',           // EHM template holding a 0xC5 part
    ZR_TEMPLATE_PART_C6 = 'O',           // part under tag 0xC6
    ZR_TEMPLATE_MULTI = 'P',             // multi-template storage record "ZRMT"
    ZR_TEMPLATE_PART_CA = 'S',           // part under tag 0xCA
    ZR_TEMPLATE_GENERIC = 'T',           // generic template container "VORTANE"
    ZR_TEMPLATE_PART_C9 = 'U',           // part under tag 0xC9
    ZR_TEMPLATE_METADATA = 'V',          // template metadata record
};

struct zr_template {
    uint32_t ref_count;
    uint8_t* data;
    uint32_t generation_quality;
    uint32_t size;
    uint32_t type;          // as stored
    zr_image* image;        // held reference or none
    uint8_t data_borrowed;  // 1 when the bytes belong to the caller
    uint32_t not_const;
    void (*release)(void* context);  // called with release_context when destroyed
    void* release_context;
    void (*destroy)(zr_template*);   // delete_template
};

// New template owning a copy of the bytes; none when out of memory or when
// data is missing for a non-zero size.
zr_template* zr_template_create(uint32_t type, const uint8_t* data, uint32_t size);
// New template that takes over a buffer from malloc() (owned, freed with the
// template); none when out of memory (the buffer is then still the caller's).
zr_template* zr_template_adopt(uint32_t type, uint8_t* data, uint32_t size);
// New template over the caller's bytes (borrowed, not-const 1, no callback).
zr_template* zr_template_create_mr(uint32_t type, uint8_t* data, uint32_t size);
// New template over the caller's bytes; release(context) is called when it is destroyed.
zr_template* zr_template_create_mre(uint32_t type, uint8_t* data, uint32_t size,
                                    uint32_t const_flag, void (*release)(void*),
                                    void* context);
// Owned copy of the bytes, same size, stored type and generation quality,
// sharing the image.
zr_template* zr_template_copy(const zr_template* tmpl);
zr_template* zr_template_retain(zr_template* tmpl);
void zr_template_delete(zr_template* tmpl);
uint32_t zr_template_get_num_refs(const zr_template* tmpl);

uint8_t* zr_template_get_data(const zr_template* tmpl);
uint32_t zr_template_get_data_size(const zr_template* tmpl);
uint32_t zr_template_get_generation_quality(const zr_template* tmpl);
void zr_template_set_generation_quality(zr_template* tmpl, uint32_t quality);
zr_image* zr_template_get_image(const zr_template* tmpl);
void zr_template_set_image(zr_template* tmpl, zr_image* image);
uint32_t zr_template_get_mr_const(const zr_template* tmpl);
// Stores not-const = !const_flag; returns the const flag now reported.
uint32_t zr_template_set_mr_const(zr_template* tmpl, uint32_t const_flag);

// The stored type with its aliases folded (4 -> 1, 5 -> 2, 6 -> 3, 73 and 74 -> 67).
uint32_t zr_template_get_type(const zr_template* tmpl);
void zr_template_set_type(zr_template* tmpl, uint32_t type);
// 1 when stored types, sizes and bytes are equal.
int32_t zr_template_is_copy(const zr_template* a, const zr_template* b);

uint32_t zr_template_type_to_fusion(uint32_t type);
uint32_t zr_template_type_from_fusion(uint32_t type);
int32_t zr_template_type_is_fusion(uint32_t type);

void delete_template(zr_template* tmpl);
