#include "extract/bal_extract_template.h"

#include <cstdlib>
#include <cstring>

#include "extract/bal_dummy_template.h"
#include "extract/bal_extract.h"
#include "formats/zr_ansi378.h"
#include "formats/zr_fusion.h"
#include "formats/zr_iso19794_2.h"
#include "formats/zr_iso_compactcard.h"
#include "objects/tlv_tree.h"

namespace {

constexpr uint32_t kContainerFlagMask = 0xFFFF;
constexpr uint8_t kOrderKeyFirst = 0x01;
constexpr uint8_t kOrderKeyLast = 0x05;
constexpr uint8_t kOrderDirectionMax = 0x1;
constexpr uint8_t kFingerPositionCount = 11;
constexpr uint8_t kImpressionTypeCount = 30;
// Bit i set: impression type i is accepted (0, 1, 2, 3, 8, 29).
constexpr uint32_t kAcceptedImpressionTypes = 0x2000010F;
constexpr uint32_t kZonalBitsPerCell = 2;

// Match-on-card recipe.
constexpr uint32_t kMocFlags = BAL_TEMPLATE_PROPRIETARY;
constexpr uint8_t kMocMaxMinutiae = 64;
constexpr uint8_t kMocOrder = BAL_ORDER_DESCENDING | BAL_ORDER_QUALITY;

// Feature-vector part: 0xF0 { 0xF1 { 0xC0 slot index, 0xC1 slot bytes } ... }.
constexpr uint16_t kFeatureListTag = 0xF0;
constexpr uint16_t kFeatureEntryTag = 0xF1;
constexpr uint16_t kFeatureIndexTag = 0xC0;
constexpr uint16_t kFeatureDataTag = 0xC1;

// Everything one call of the builder needs besides the container.
struct build_request {
    uint8_t* pixels;
    const uint8_t* valid_mask;
    uint16_t rows;
    uint16_t cols;
    uint8_t finger_position;
    uint8_t impression_type;
    uint8_t min_minutiae;
    uint8_t max_minutiae;
    uint8_t order;
    uint32_t flags;
    uint32_t format;
    bal_feature_callback callback1;
    bal_feature_callback callback2;
};

// A finished output buffer and its length.
struct built_template {
    uint8_t* data = nullptr;
    uint32_t length = 0;
};

// The caller's pixels when the call owns them (BAL_EXTRACT_TAKE_PIXELS):
// released once, when the builder is done with them or on leaving.
class handed_over_pixels {
public:
    handed_over_pixels(uint8_t* pixels, bool owned) : pixels_(owned ? pixels : nullptr) {}
    ~handed_over_pixels() { release(); }
    handed_over_pixels(const handed_over_pixels&) = delete;
    handed_over_pixels& operator=(const handed_over_pixels&) = delete;
    void release() {
        std::free(pixels_);
        pixels_ = nullptr;
    }
    // Extraction takes over the buffer and frees it itself.
    void hand_on() { pixels_ = nullptr; }

private:
    uint8_t* pixels_;
};

void release_feature_blocks(zr_template_container* container) {
    for (zr_feature_block& block : container->feature_blocks) {
        std::free(block.data);
        block = zr_feature_block{};
    }
}

// The container and its feature blocks, unless handed to the caller.
class owned_container {
public:
    explicit owned_container(zr_template_container* container) : container_(container) {}
    ~owned_container() {
        if (container_ == nullptr) return;
        release_feature_blocks(container_);
        zr_template_container_free(container_);
    }
    owned_container(const owned_container&) = delete;
    owned_container& operator=(const owned_container&) = delete;
    zr_template_container* get() const { return container_; }
    zr_template_container* hand_over() {
        zr_template_container* c = container_;
        container_ = nullptr;
        return c;
    }

private:
    zr_template_container* container_;
};

// A heap buffer released with free() unless handed over.
class owned_buffer {
public:
    owned_buffer() = default;
    ~owned_buffer() { std::free(data_); }
    owned_buffer(const owned_buffer&) = delete;
    owned_buffer& operator=(const owned_buffer&) = delete;
    uint8_t** out() { return &data_; }
    uint8_t* get() const { return data_; }
    // Replaces the buffer with another (the old one is released).
    void reset(uint8_t* data) {
        std::free(data_);
        data_ = data;
    }
    uint8_t* hand_over() {
        uint8_t* d = data_;
        data_ = nullptr;
        return d;
    }

private:
    uint8_t* data_ = nullptr;
};

// A format writer's object-layer status as a template-building result; the
// codes the writers give keep their numbers.
bal_status writer_result(zr_status status) {
    switch (status) {
        case ZR_OK: return BAL_OK;
        case ZR_NO_MEMORY: return BAL_NO_MEMORY;
        case ZR_BAD_FORMAT: return BAL_BAD_FORMAT;
        case ZR_BAD_ARGUMENT: return BAL_BAD_ARGUMENT;
        case ZR_BAD_RESOLUTION: return BAL_UNSUPPORTED;
        default: return BAL_BAD_DATA;
    }
}

bool order_is_valid(uint8_t order) {
    const uint8_t key = order & 0x0F;
    return (order >> 4) <= kOrderDirectionMax && key >= kOrderKeyFirst && key <= kOrderKeyLast;
}

bool impression_is_valid(uint8_t impression_type) {
    return impression_type < kImpressionTypeCount &&
           ((kAcceptedImpressionTypes >> impression_type) & 1) != 0;
}

bool format_is_known(uint32_t format) {
    return format == BAL_FORMAT_ISO19794_2 || format == BAL_FORMAT_COMPACT_CARD ||
           format == BAL_FORMAT_ANSI378 || format == BAL_FORMAT_EHM ||
           format == BAL_FORMAT_CONTAINER;
}

bool format_needs_length(uint32_t format) {
    return format == BAL_FORMAT_COMPACT_CARD || format == BAL_FORMAT_ANSI378 ||
           format == BAL_FORMAT_EHM;
}

bool arguments_are_valid(const build_request& r, uint8_t** out_template, uint32_t* out_length) {
    if (r.pixels == nullptr || out_template == nullptr) return false;
    if (out_length == nullptr && format_needs_length(r.format)) return false;
    return format_is_known(r.format) && order_is_valid(r.order) &&
           r.finger_position < kFingerPositionCount && impression_is_valid(r.impression_type);
}

bool builds_fusion(const build_request& r) {
    return r.format == BAL_FORMAT_COMPACT_CARD && (r.flags & BAL_TEMPLATE_ORIENTATION) &&
           (r.flags & BAL_TEMPLATE_FREQUENCY);
}

// The fusion writer reads the pixels after extraction: the builder keeps them.
bool builder_keeps_pixels(const build_request& r) {
    return (r.flags & BAL_EXTRACT_TAKE_PIXELS) && (r.flags & BAL_TEMPLATE_RAW_IMAGE) &&
           builds_fusion(r);
}

void fill_request(const build_request& r, zr_template_container* c) {
    c->flags = r.flags & kContainerFlagMask;
    if (builder_keeps_pixels(r)) c->flags &= ~BAL_EXTRACT_TAKE_PIXELS;
    c->minutiae.order = r.order;
    c->minutiae.max_minutiae = r.max_minutiae;
    c->minutiae.finger_position = r.finger_position;
    c->minutiae.impression_type = r.impression_type;
    c->minutiae.quality = 0;
    c->minutiae.device_id = ZR_EXTRACT_DEVICE_ID;
    if (r.flags & BAL_TEMPLATE_CORES) c->cores.enable = ZR_FEATURE_ENABLE;
    if (r.flags & BAL_TEMPLATE_DELTAS) c->deltas.enable = ZR_FEATURE_ENABLE;
    if (r.flags & BAL_TEMPLATE_ZONAL_QUALITY) c->zonal_quality.enable = ZR_FEATURE_ENABLE;
    if ((r.flags & BAL_TEMPLATE_ORIENTATION) || r.format == BAL_FORMAT_EHM)
        c->orientation.flags |= ZR_FEATURE_ENABLE;
    if ((r.flags & BAL_TEMPLATE_FREQUENCY) || r.format == BAL_FORMAT_EHM)
        c->frequency.flags |= ZR_FEATURE_ENABLE;
    if (r.flags & BAL_TEMPLATE_FINE_FIELDS) {
        c->orientation.flags |= ZR_FIELD_FINE;
        c->frequency.flags |= ZR_FIELD_FINE;
    }
    if (r.flags & BAL_TEMPLATE_BINARIZED) c->binarized_flags = ZR_BINARIZED_KEEP;
}

// --- ISO record -------------------------------------------------------------

uint32_t iso_record_size(const uint8_t* record, uint32_t buffer_size) {
    return zr_iso19794_2_get_length(record, buffer_size);
}

// A new ISO record of the container's minutiae with the reference-point and
// zonal-quality blocks the flags ask for. *size is its length.
zr_status write_iso_base(const zr_template_container* c, uint32_t flags, owned_buffer* record,
                         uint32_t* size) {
    const bool v2011 = (flags & BAL_TEMPLATE_V2011) != 0;
    zr_status status = v2011 ? zr_minutiastruct_to_iso19794_2_v3(&c->minutiae, record->out())
                             : zr_minutiastruct_to_iso19794_2_v2(&c->minutiae, record->out());
    if (status != ZR_OK) return status;
    // The writers' documented sizes: the header of the edition and 6 bytes a minutia.
    const uint32_t header = v2011 ? 54 : 30;
    *size = iso_record_size(record->get(), header + 6u * c->minutiae.count);
    if (*size == 0) return ZR_BAD_FORMAT;
    if (flags & (BAL_TEMPLATE_CORES | BAL_TEMPLATE_DELTAS)) {
        const zr_reference_points* cores = (flags & BAL_TEMPLATE_CORES) ? &c->cores : nullptr;
        const zr_reference_points* deltas = (flags & BAL_TEMPLATE_DELTAS) ? &c->deltas : nullptr;
        status = zr_iso19794_2_extend_ref_points(record->out(), size, cores, deltas);
        if (status != ZR_OK) return status;
    }
    if (flags & BAL_TEMPLATE_ZONAL_QUALITY) {
        status = zr_iso19794_2_extend_zonal_quality(record->out(), size, &c->zonal_quality,
                                                    kZonalBitsPerCell);
        if (status != ZR_OK) return status;
    }
    return ZR_OK;
}

zr_status write_iso(const zr_template_container* c, uint32_t flags, built_template* out) {
    owned_buffer record;
    uint32_t size = 0;
    zr_status status = write_iso_base(c, flags, &record, &size);
    if (status == ZR_OK && (flags & BAL_TEMPLATE_ORIENTATION))
        status = zr_iso19794_2_extend_orientation_field(record.out(), &size, &c->orientation);
    if (status == ZR_OK && (flags & BAL_TEMPLATE_FREQUENCY))
        status = zr_iso19794_2_extend_frequency_field(record.out(), &size, &c->frequency);
    if (status != ZR_OK) return status;
    out->length = iso_record_size(record.get(), size);
    out->data = record.hand_over();
    return ZR_OK;
}

zr_status write_ansi(const zr_template_container* c, uint32_t flags, built_template* out) {
    return (flags & BAL_TEMPLATE_V2011)
               ? zr_minutiastruct_to_ansi378_v3(&c->minutiae, &out->data, &out->length)
               : zr_minutiastruct_to_ansi378_v2(&c->minutiae, &out->data, &out->length);
}

// --- Compact card and the templates built on it -------------------------------

// The compact card: the minutiae fitted into the card window, written as a
// temporary ISO record with its reference-point and zonal-quality blocks,
// converted, and with BAL_TEMPLATE_PROPRIETARY given the proprietary part.
zr_status write_card(zr_template_container* c, uint32_t flags, uint8_t max_minutiae,
                     owned_buffer* card, uint32_t* card_length) {
    zr_normalize_for_isocc(c);
    uint32_t record_size = 0;
    zr_status status;
    {
        owned_buffer record;
        status = write_iso_base(c, flags, &record, &record_size);
        if (status != ZR_OK) return status;
        status = zr_convert_iso_standard_to_compactcard(record.get(), record_size, max_minutiae,
                                                        card->out(), card_length);
    }
    if (status != ZR_OK || !(flags & BAL_TEMPLATE_PROPRIETARY)) return status;
    return zr_iso_compactcard_extend_proprietary_data(card->out(), card_length, &c->minutiae);
}

// The feature-vector part of the filled slots; released by the caller.
zr_status write_feature_vector(const zr_template_container* c, owned_buffer* out,
                               uint32_t* out_length) {
    static constexpr auto kSlotIndex = [] {
        struct table {
            uint8_t values[ZR_FEATURE_BLOCK_SLOTS];
        } t{};
        for (uint32_t i = 0; i < ZR_FEATURE_BLOCK_SLOTS; ++i) t.values[i] = uint8_t(i);
        return t;
    }();
    tlv_node* list = tlv_create(kFeatureListTag, 0, nullptr);
    if (list == nullptr) return ZR_NO_MEMORY;
    zr_status status = ZR_OK;
    for (uint32_t slot = 0; slot < ZR_FEATURE_BLOCK_SLOTS && status == ZR_OK; ++slot) {
        const zr_feature_block& block = c->feature_blocks[slot];
        if (block.length == 0) continue;
        tlv_node* entry = tlv_create(kFeatureEntryTag, 0, nullptr);
        status = tlv_append_child(list, entry);
        if (status != ZR_OK) {
            tlv_delete(entry);
            break;
        }
        tlv_node* index = tlv_create(kFeatureIndexTag, 1, &kSlotIndex.values[slot]);
        status = tlv_append_child(entry, index);
        if (status != ZR_OK) {
            tlv_delete(index);
            break;
        }
        tlv_node* data = tlv_create(kFeatureDataTag, block.length, block.data);
        status = tlv_append_child(entry, data);
        if (status != ZR_OK) tlv_delete(data);
    }
    if (status == ZR_OK) status = tlv_write_tree(list, out->out(), out_length);
    tlv_delete(list);
    return status;
}

// Replaces the template with a copy holding one more part.
zr_status insert_part(owned_buffer* tmpl, uint32_t* length, uint16_t tag, const uint8_t* value,
                      uint32_t value_length) {
    uint8_t* bigger = nullptr;
    uint32_t bigger_length = 0;
    const zr_status status =
        zr_iso_fusion_insert(tmpl->get(), *length, tag, value, value_length, &bigger, &bigger_length);
    if (status != ZR_OK) return status;
    tmpl->reset(bigger);
    *length = bigger_length;
    return ZR_OK;
}

zr_status write_fusion(const build_request& r, const zr_template_container* c,
                       const owned_buffer& card, uint32_t card_length, built_template* out) {
    const bool with_image = (r.flags & BAL_TEMPLATE_RAW_IMAGE) != 0;
    uint16_t rows = r.rows, cols = r.cols;
    if (!with_image && (r.flags & BAL_EXTRACT_250DPI)) {
        // Extraction refuses 250 dpi sides above 16383, so doubling fits.
        rows = uint16_t(rows * 2);
        cols = uint16_t(cols * 2);
    }
    owned_buffer fusion;
    uint32_t length = 0;
    zr_status status = zr_iso_compactcard_to_iso_fusion(
        card.get(), card_length, &c->orientation, &c->frequency, with_image ? r.pixels : nullptr,
        rows, cols, r.impression_type, c->minutiae.quality, fusion.out(), &length);
    if (status != ZR_OK) return status;
    if (r.flags & BAL_EXTRACT_FEATURE_CALLBACKS) {
        status = insert_part(&fusion, &length, ZR_FUSION_ALIGNMENT_TAG,
                             reinterpret_cast<const uint8_t*>(&c->alignment),
                             sizeof(c->alignment));
        if (status != ZR_OK) return status;
        if (r.callback2 != nullptr) {
            owned_buffer features;
            uint32_t features_length = 0;
            status = write_feature_vector(c, &features, &features_length);
            if (status == ZR_OK)
                status = insert_part(&fusion, &length, ZR_FUSION_FEATURES_TAG, features.get(),
                                     features_length);
            if (status != ZR_OK) return status;
        }
    }
    out->data = fusion.hand_over();
    out->length = length;
    return ZR_OK;
}

zr_status write_on_card(const build_request& r, zr_template_container* c, built_template* out) {
    owned_buffer card;
    uint32_t card_length = 0;
    zr_status status = write_card(c, r.flags, r.max_minutiae, &card, &card_length);
    if (status != ZR_OK) return status;
    if (r.format == BAL_FORMAT_EHM) {
        return zr_iso_compactcard_to_ehm(card.get(), card_length, &c->orientation, &c->frequency,
                                         &out->data, &out->length);
    }
    if (builds_fusion(r)) return write_fusion(r, c, card, card_length, out);
    out->length = card_length;
    out->data = card.hand_over();
    return ZR_OK;
}

bal_status write_format(const build_request& r, zr_template_container* c, built_template* out) {
    switch (r.format) {
        case BAL_FORMAT_ISO19794_2: return writer_result(write_iso(c, r.flags, out));
        case BAL_FORMAT_ANSI378: return writer_result(write_ansi(c, r.flags, out));
        default: return writer_result(write_on_card(r, c, out));
    }
}

bal_status build(const build_request& r, uint8_t** out_template, uint32_t* out_length) {
    *out_template = nullptr;
    if (out_length != nullptr) *out_length = 0;
    // The call owns handed-over pixels from its start; the dummy image is
    // recognised before they are released.
    handed_over_pixels owned_pixels(r.pixels, (r.flags & BAL_EXTRACT_TAKE_PIXELS) != 0);
    if (!arguments_are_valid(r, out_template, out_length)) return BAL_BAD_ARGUMENT;
    if (bal_origin_is_dummy(r.pixels, r.rows, r.cols)) {
        const bal_status status = bal_origin_get_dummy_template(out_template, out_length);
        return status == BAL_OK ? BAL_DUMMY_IMAGE : status;
    }

    owned_container container(zr_template_container_alloc());
    if (container.get() == nullptr) return BAL_NO_MEMORY;
    fill_request(r, container.get());
    // Unless the builder keeps them for the fusion writer, extraction
    // releases handed-over pixels as soon as it has copied them.
    if (container.get()->flags & BAL_EXTRACT_TAKE_PIXELS) owned_pixels.hand_on();
    bal_status status = bal_extract(r.pixels, r.valid_mask, r.rows, r.cols, container.get(),
                                    r.callback1, r.callback2);
    if (status != BAL_OK) return status;
    if (container.get()->minutiae.count < r.min_minutiae) return BAL_TOO_FEW_MINUTIAE;

    if (r.format == BAL_FORMAT_CONTAINER) {
        *out_template = reinterpret_cast<uint8_t*>(container.hand_over());
        if (out_length != nullptr) *out_length = sizeof(zr_template_container);
        return BAL_OK;
    }
    built_template built;
    status = write_format(r, container.get(), &built);
    if (status != BAL_OK) return status;
    *out_template = built.data;
    if (out_length != nullptr) *out_length = built.length;
    return BAL_OK;
}

}  // namespace

bal_status bal_extract_template(uint8_t* pixels, uint16_t rows, uint16_t cols,
                                uint8_t finger_position, uint8_t impression_type, uint64_t reserved,
                                uint32_t min_minutiae, uint32_t max_minutiae, uint8_t order,
                                uint32_t flags, uint32_t format, uint8_t** out_template,
                                uint32_t* out_length) {
    return bal_extract_template_mask(pixels, nullptr, rows, cols, finger_position, impression_type,
                                     reserved, min_minutiae, max_minutiae, order, flags, format,
                                     out_template, out_length, nullptr, nullptr);
}

bal_status bal_extract_template_mask(uint8_t* pixels, const uint8_t* valid_mask, uint16_t rows,
                                     uint16_t cols, uint8_t finger_position,
                                     uint8_t impression_type, uint64_t, uint32_t min_minutiae,
                                     uint32_t max_minutiae, uint8_t order, uint32_t flags,
                                     uint32_t format, uint8_t** out_template,
                                     uint32_t* out_length, bal_feature_callback callback1,
                                     bal_feature_callback callback2) {
    const build_request request{pixels,
                                valid_mask,
                                rows,
                                cols,
                                finger_position,
                                impression_type,
                                uint8_t(min_minutiae),
                                uint8_t(max_minutiae),
                                order,
                                flags,
                                format & 0xFF,
                                callback1,
                                callback2};
    if (out_template == nullptr) {
        if (flags & BAL_EXTRACT_TAKE_PIXELS) std::free(pixels);
        if (out_length != nullptr) *out_length = 0;
        return BAL_BAD_ARGUMENT;
    }
    return build(request, out_template, out_length);
}

bal_status BAL_EXTRACT_TEMPLATE_MOC(const uint8_t* pixels, uint16_t rows, uint16_t cols,
                                    uint8_t** out_template, uint32_t* out_length) {
    if (out_template != nullptr) *out_template = nullptr;
    if (out_length != nullptr) *out_length = 0;
    if (pixels == nullptr || out_template == nullptr || out_length == nullptr)
        return BAL_BAD_ARGUMENT;
    // Extraction only reads pixels that are not handed over.
    const build_request request{const_cast<uint8_t*>(pixels),
                                nullptr,
                                rows,
                                cols,
                                0,
                                0,
                                0,
                                kMocMaxMinutiae,
                                kMocOrder,
                                kMocFlags,
                                BAL_FORMAT_COMPACT_CARD,
                                nullptr,
                                nullptr};
    return build(request, out_template, out_length);
}

bal_status bal_free_template(uint8_t* buffer) {
    std::free(buffer);
    return BAL_OK;
}

int32_t bal_origin_is_dummy(const uint8_t* pixels, uint32_t rows, uint32_t cols) {
    if (pixels == nullptr || rows != BAL_DUMMY_IMAGE_ROWS || cols != BAL_DUMMY_IMAGE_COLS) return 0;
    return std::memcmp(pixels, BAL_DUMMY_IMAGE_PIXELS, sizeof(BAL_DUMMY_IMAGE_PIXELS)) == 0;
}

bal_status bal_origin_get_dummy_template(uint8_t** out_template, uint32_t* out_length) {
    if (out_template != nullptr) *out_template = nullptr;
    if (out_length != nullptr) *out_length = 0;
    if (out_template == nullptr) return BAL_BAD_ARGUMENT;
    tlv_node* root = tlv_create(0x7F2E, 0, nullptr);
    tlv_node* group = tlv_create(0xA1, 0, nullptr);
    tlv_node* minutiae = tlv_create(0x90, BAL_DUMMY_MINUTIAE_SIZE, BAL_DUMMY_MINUTIAE);
    bal_status result = BAL_NO_MEMORY;
    if (root != nullptr && group != nullptr && minutiae != nullptr &&
        tlv_append_child(group, minutiae) == ZR_OK) {
        minutiae = nullptr;
        if (tlv_append_child(root, group) == ZR_OK) {
            group = nullptr;
            uint32_t length = 0;
            if (tlv_write_tree(root, out_template, &length) == ZR_OK) {
                if (out_length != nullptr) *out_length = length;
                result = BAL_OK;
            }
        }
    }
    tlv_delete(minutiae);
    tlv_delete(group);
    tlv_delete(root);
    return result;
}
