#include "objects/zr_template.h"

#include <cstdlib>
#include <cstring>

#include "objects/zr_object.h"

namespace {

zr_template* allocate_template(uint32_t type, uint32_t size) {
    auto* tmpl = static_cast<zr_template*>(std::calloc(1, sizeof(zr_template)));
    if (tmpl == nullptr) return nullptr;
    tmpl->ref_count = 1;
    tmpl->type = type;
    tmpl->size = size;
    tmpl->destroy = delete_template;
    return tmpl;
}

}  // namespace

void delete_template(zr_template* tmpl) {
    if (tmpl->release != nullptr) tmpl->release(tmpl->release_context);
    if (!tmpl->data_borrowed) std::free(tmpl->data);
    zr_image_delete(tmpl->image);
    std::free(tmpl);
}

zr_template* zr_template_create(uint32_t type, const uint8_t* data, uint32_t size) {
    if (data == nullptr && size != 0) return nullptr;
    zr_template* tmpl = allocate_template(type, size);
    if (tmpl == nullptr) return nullptr;
    if (size != 0) {
        tmpl->data = static_cast<uint8_t*>(std::malloc(size));
        if (tmpl->data == nullptr) {
            std::free(tmpl);
            return nullptr;
        }
        std::memcpy(tmpl->data, data, size);
    }
    return tmpl;
}

zr_template* zr_template_adopt(uint32_t type, uint8_t* data, uint32_t size) {
    if (data == nullptr && size != 0) return nullptr;
    zr_template* tmpl = allocate_template(type, size);
    if (tmpl != nullptr) tmpl->data = data;
    return tmpl;
}

zr_template* zr_template_create_mr(uint32_t type, uint8_t* data, uint32_t size) {
    return zr_template_create_mre(type, data, size, 0, nullptr, nullptr);
}

zr_template* zr_template_create_mre(uint32_t type, uint8_t* data, uint32_t size,
                                    uint32_t const_flag, void (*release)(void*),
                                    void* context) {
    if (data == nullptr && size != 0) return nullptr;
    zr_template* tmpl = allocate_template(type, size);
    if (tmpl == nullptr) return nullptr;
    tmpl->data = data;
    tmpl->data_borrowed = 1;
    tmpl->not_const = const_flag ? 0 : 1;
    tmpl->release = release;
    tmpl->release_context = context;
    return tmpl;
}

zr_template* zr_template_copy(const zr_template* tmpl) {
    if (tmpl == nullptr) return nullptr;
    zr_template* copy = zr_template_create(tmpl->type, tmpl->data, tmpl->size);
    if (copy == nullptr) return nullptr;
    copy->generation_quality = tmpl->generation_quality;
    copy->image = zr_image_retain(tmpl->image);
    return copy;
}

zr_template* zr_template_retain(zr_template* tmpl) { return zr_object_retain(tmpl); }

void zr_template_delete(zr_template* tmpl) { zr_object_delete(tmpl); }

uint32_t zr_template_get_num_refs(const zr_template* tmpl) { return tmpl ? tmpl->ref_count : 0; }

uint8_t* zr_template_get_data(const zr_template* tmpl) { return tmpl ? tmpl->data : nullptr; }

uint32_t zr_template_get_data_size(const zr_template* tmpl) { return tmpl ? tmpl->size : 0; }

uint32_t zr_template_get_generation_quality(const zr_template* tmpl) {
    return tmpl ? tmpl->generation_quality : 0;
}

void zr_template_set_generation_quality(zr_template* tmpl, uint32_t quality) {
    if (tmpl != nullptr) tmpl->generation_quality = quality;
}

zr_image* zr_template_get_image(const zr_template* tmpl) { return tmpl ? tmpl->image : nullptr; }

void zr_template_set_image(zr_template* tmpl, zr_image* image) {
    if (tmpl == nullptr || tmpl->image == image) return;
    zr_image_delete(tmpl->image);
    tmpl->image = zr_image_retain(image);
}

uint32_t zr_template_get_mr_const(const zr_template* tmpl) {
    return tmpl ? 1 - tmpl->not_const : 0;
}

uint32_t zr_template_set_mr_const(zr_template* tmpl, uint32_t const_flag) {
    if (tmpl == nullptr) return 0;
    tmpl->not_const = const_flag ? 0 : 1;
    return zr_template_get_mr_const(tmpl);
}

uint32_t zr_template_get_type(const zr_template* tmpl) {
    if (tmpl == nullptr) return 0;
    switch (tmpl->type) {
        case ZR_TEMPLATE_ISO19794_2_ALIAS: return ZR_TEMPLATE_ISO19794_2;
        case ZR_TEMPLATE_ISO_COMPACT_CARD_ALIAS: return ZR_TEMPLATE_ISO_COMPACT_CARD;
        case ZR_TEMPLATE_ANSI378_ALIAS: return ZR_TEMPLATE_ANSI378;
        case ZR_TEMPLATE_EHM_RECORD:
        case ZR_TEMPLATE_EHM_PRESET: return ZR_TEMPLATE_EHM;
        default: return tmpl->type;
    }
}

void zr_template_set_type(zr_template* tmpl, uint32_t type) {
    if (tmpl != nullptr) tmpl->type = type;
}

int32_t zr_template_is_copy(const zr_template* a, const zr_template* b) {
    if (a == nullptr || b == nullptr) return 0;
    if (a->type != b->type || a->size != b->size) return 0;
    if (a->size == 0 || a->data == b->data) return 1;
    return std::memcmp(a->data, b->data, a->size) == 0;
}

uint32_t zr_template_type_to_fusion(uint32_t type) {
    if (type == ZR_TEMPLATE_EHM) return ZR_TEMPLATE_EHM_IMAGE;
    if (type == ZR_TEMPLATE_EHM_PRESET) return ZR_TEMPLATE_EHM_PRESET_IMAGE;
    return type;
}

uint32_t zr_template_type_from_fusion(uint32_t type) {
    if (type == ZR_TEMPLATE_EHM_IMAGE) return ZR_TEMPLATE_EHM;
    if (type == ZR_TEMPLATE_EHM_PRESET_IMAGE) return ZR_TEMPLATE_EHM_PRESET;
    return type;
}

int32_t zr_template_type_is_fusion(uint32_t type) {
    return type == ZR_TEMPLATE_EHM_IMAGE || type == ZR_TEMPLATE_EHM_PRESET_IMAGE;
}
