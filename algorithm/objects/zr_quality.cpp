#include "objects/zr_quality.h"

#include <cstdlib>

#include "objects/zr_alloc.h"
#include "objects/zr_object.h"

void delete_quality(zr_quality* quality) { std::free(quality); }

zr_quality* zr_quality_create(uint8_t image_quality, uint16_t area, uint8_t area_percentage,
                              uint8_t condition) {
    auto* quality = static_cast<zr_quality*>(zr_calloc(1, sizeof(zr_quality)));
    if (quality == nullptr) return nullptr;
    quality->ref_count = 1;
    quality->image_quality = image_quality;
    quality->reserved = 0xFFFFFFFFu;
    quality->area = area;
    quality->area_percentage = area_percentage;
    quality->condition = condition;
    quality->destroy = delete_quality;
    return quality;
}

zr_quality* zr_quality_copy(const zr_quality* quality) {
    if (quality == nullptr) return nullptr;
    zr_quality* copy = zr_quality_create(quality->image_quality, quality->area,
                                         quality->area_percentage, quality->condition);
    if (copy != nullptr) copy->reserved = quality->reserved;
    return copy;
}

zr_quality* zr_quality_retain(zr_quality* quality) { return zr_object_retain(quality); }

void zr_quality_delete(zr_quality* quality) { zr_object_delete(quality); }

uint8_t zr_quality_get_image_quality(const zr_quality* quality) {
    return quality ? quality->image_quality : 0;
}

uint16_t zr_quality_get_area(const zr_quality* quality) { return quality ? quality->area : 0; }

uint8_t zr_quality_get_area_percentage(const zr_quality* quality) {
    return quality ? quality->area_percentage : 0;
}

uint8_t zr_quality_get_condition(const zr_quality* quality) {
    return quality ? quality->condition : 0;
}
