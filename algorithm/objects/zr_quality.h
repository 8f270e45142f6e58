// Measured quality of an image: the image quality score, the fingerprint area
// in square millimetres and as a percentage of the image, and the condition.
#pragma once

#include <cstdint>

struct zr_quality {
    uint32_t ref_count;
    uint8_t image_quality;
    uint32_t reserved;         // 0xFFFFFFFF at creation, copied along
    uint16_t area;             // square millimetres
    uint8_t area_percentage;
    uint8_t condition;
    void (*destroy)(zr_quality*);  // delete_quality
};

// New record with one reference; none when out of memory.
zr_quality* zr_quality_create(uint8_t image_quality, uint16_t area, uint8_t area_percentage,
                              uint8_t condition);
// Copy of every field with one reference; none for none or when out of memory.
zr_quality* zr_quality_copy(const zr_quality* quality);
zr_quality* zr_quality_retain(zr_quality* quality);
void zr_quality_delete(zr_quality* quality);

// The fields; 0 for a missing record.
uint8_t zr_quality_get_image_quality(const zr_quality* quality);
uint16_t zr_quality_get_area(const zr_quality* quality);
uint8_t zr_quality_get_area_percentage(const zr_quality* quality);
uint8_t zr_quality_get_condition(const zr_quality* quality);

void delete_quality(zr_quality* quality);
