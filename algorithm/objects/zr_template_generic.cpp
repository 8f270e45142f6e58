#include "objects/zr_template_generic.h"

#include <cstdlib>
#include <cstring>

#include "math/zr_crc32.h"
#include "objects/zr_byte_order.h"
#include "objects/zr_result.h"

namespace {

constexpr uint8_t kMagic[8] = {'V', 'O', 'R', 'T', 'A', 'N', 'E', '\0'};
constexpr uint8_t kTrailer[4] = {'F', 'O', 'O', 'F'};
constexpr uint32_t kPrefixSize = 10;         // magic, version, count
constexpr uint32_t kEntryHeaderSize = 10;    // type, size, CRC
constexpr uint32_t kEntryHeaderSizeV0 = 6;   // type, size
constexpr uint32_t kTableBlockSize = 114;
constexpr uint32_t kEmptyContainerSize = 18;

uint32_t data_crc(const uint8_t* data, uint32_t size) {
    return size == 0 ? 0 : zr_crc32(data, size);
}

// Parses bytes[0..size) into *out, never reading past the end.
bool parse_bytes(const uint8_t* bytes, uint32_t size, zr_generic_container* out) {
    *out = zr_generic_container{};
    if (bytes == nullptr || size < kPrefixSize || std::memcmp(bytes, kMagic, sizeof(kMagic)) != 0) {
        return false;
    }
    out->version = bytes[8];
    out->count = bytes[9];
    uint32_t offset = kPrefixSize;
    const bool with_crcs = out->version != 0;
    if (with_crcs) {
        if (size - offset < 4) return false;
        out->table_crc = zr_get_be32(bytes + offset);
        offset += 4;
    }
    if (out->count > ZR_GENERIC_MAX_ENTRIES) return false;
    const uint32_t header_size = with_crcs ? kEntryHeaderSize : kEntryHeaderSizeV0;
    for (uint32_t i = 0; i < out->count; ++i) {
        if (size - offset < header_size) return false;
        zr_generic_entry& entry = out->entries[i];
        entry.type = zr_get_be16(bytes + offset);
        entry.size = zr_get_be32(bytes + offset + 2);
        entry.crc = with_crcs ? zr_get_be32(bytes + offset + 6) : 0;
        offset += header_size;
        if (entry.type == 0 || entry.size > size - offset) return false;
        entry.data = bytes + offset;
        offset += entry.size;
    }
    if (with_crcs) {
        if (size - offset < sizeof(kTrailer) ||
            std::memcmp(bytes + offset, kTrailer, sizeof(kTrailer)) != 0) {
            return false;
        }
        offset += sizeof(kTrailer);
    }
    return offset == size;
}

// A missing template or one without data reads as an empty container.
bool parse_template(const zr_template* tmpl, zr_generic_container* out) {
    if (tmpl == nullptr || tmpl->data == nullptr || tmpl->size == 0) {
        *out = zr_generic_container{};
        return true;
    }
    return parse_bytes(tmpl->data, tmpl->size, out);
}

int32_t find_entry(const zr_generic_container& container, uint32_t type) {
    for (uint32_t i = 0; i < container.count; ++i) {
        if (container.entries[i].type == type) return int32_t(i);
    }
    return -1;
}

// A template that is not a container as a one-entry parsed form.
bool single_entry_form(const zr_template* tmpl, zr_generic_container* out) {
    *out = zr_generic_container{};
    const uint32_t type = zr_template_get_type(tmpl);
    if (type == 0 || type > 0xFFFF) return false;  // not storable as an entry type
    out->version = 1;
    out->count = 1;
    out->entries[0] = {uint16_t(type), tmpl->size, tmpl->data, data_crc(tmpl->data, tmpl->size)};
    return true;
}

bool is_container(const zr_template* tmpl) {
    return zr_template_get_type(tmpl) == ZR_TEMPLATE_GENERIC;
}

// Serializes and gives the new container the image.
zr_template* write_with_image(zr_generic_container* container, zr_image* image) {
    container->version = 1;
    zr_template* result = serialize_template(container);
    if (result != nullptr) zr_template_set_image(result, image);
    return result;
}

}  // namespace

uint32_t zr_template_generic_table_crc(const zr_generic_container* container) {
    uint8_t block[kTableBlockSize] = {};
    block[0] = container->version;
    block[1] = container->count;
    const uint32_t count =
        container->count < ZR_GENERIC_MAX_ENTRIES ? container->count : ZR_GENERIC_MAX_ENTRIES;
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t* p = block + 2 + i * kEntryHeaderSize;
        const zr_generic_entry& entry = container->entries[i];
        zr_put_be16(p, entry.type);
        zr_put_be32(p + 2, entry.size);
        zr_put_be32(p + 6, entry.crc);
    }
    return zr_crc32(block, kTableBlockSize);
}

bool zr_template_generic_parse(const zr_template* tmpl, zr_generic_container* out) {
    return out != nullptr && parse_template(tmpl, out);
}

zr_generic_container* deserialize_template(const zr_template* tmpl) {
    auto* container =
        static_cast<zr_generic_container*>(std::malloc(sizeof(zr_generic_container)));
    if (container == nullptr) return nullptr;
    if (!parse_template(tmpl, container)) {
        std::free(container);
        return nullptr;
    }
    return container;
}

zr_template* serialize_template(const zr_generic_container* container) {
    if (container == nullptr || container->version != 1 ||
        container->count > ZR_GENERIC_MAX_ENTRIES) {
        return nullptr;
    }
    uint64_t total = kEmptyContainerSize;
    for (uint32_t i = 0; i < container->count; ++i) {
        const zr_generic_entry& entry = container->entries[i];
        if (entry.type == 0 || (entry.data == nullptr && entry.size != 0)) return nullptr;
        total += kEntryHeaderSize + uint64_t(entry.size);
    }
    if (total > UINT32_MAX) return nullptr;
    auto* bytes = static_cast<uint8_t*>(std::malloc(size_t(total)));
    if (bytes == nullptr) return nullptr;
    std::memcpy(bytes, kMagic, sizeof(kMagic));
    bytes[8] = 1;
    bytes[9] = container->count;
    zr_put_be32(bytes + 10, zr_template_generic_table_crc(container));
    uint32_t offset = 14;
    for (uint32_t i = 0; i < container->count; ++i) {
        const zr_generic_entry& entry = container->entries[i];
        zr_put_be16(bytes + offset, entry.type);
        zr_put_be32(bytes + offset + 2, entry.size);
        zr_put_be32(bytes + offset + 6, entry.crc);
        offset += kEntryHeaderSize;
        if (entry.size != 0) std::memcpy(bytes + offset, entry.data, entry.size);
        offset += entry.size;
    }
    std::memcpy(bytes + offset, kTrailer, sizeof(kTrailer));
    zr_template* result = zr_template_adopt(ZR_TEMPLATE_GENERIC, bytes, uint32_t(total));
    if (result == nullptr) std::free(bytes);
    return result;
}

zr_template* zr_template_generic_convert(zr_template* tmpl) {
    zr_generic_container container{};
    if (tmpl == nullptr) {
        container.version = 1;
        return serialize_template(&container);
    }
    if (is_container(tmpl)) return zr_template_retain(tmpl);
    if (!single_entry_form(tmpl, &container)) return nullptr;
    return write_with_image(&container, tmpl->image);
}

zr_template* zr_template_generic_insert(const zr_template* source, uint16_t type,
                                        const uint8_t* data, uint32_t size) {
    if (type == 0 || (data == nullptr && size != 0)) return nullptr;
    zr_generic_container container{};
    if (!parse_template(source, &container)) return nullptr;
    if (container.count >= ZR_GENERIC_MAX_ENTRIES) return nullptr;
    int32_t slot = find_entry(container, type);
    if (slot < 0) slot = container.count++;
    container.entries[slot] = {type, size, data, data_crc(data, size)};
    return write_with_image(&container, zr_template_get_image(source));
}

zr_status zr_template_generic_extract(const zr_template* tmpl, uint32_t type,
                                      const uint8_t** out_data, uint32_t* out_size) {
    if (out_data != nullptr) *out_data = nullptr;
    if (out_size != nullptr) *out_size = 0;
    if (out_data == nullptr || out_size == nullptr) return ZR_BAD_ARGUMENT;
    zr_generic_container container{};
    if (!parse_template(tmpl, &container)) return ZR_WRONG_TYPE;
    const int32_t slot = find_entry(container, type);
    if (slot < 0) return ZR_NOT_FOUND;
    *out_data = container.entries[slot].data;
    *out_size = container.entries[slot].size;
    return ZR_OK;
}

int32_t zr_template_generic_has_data(const zr_template* tmpl, uint32_t type) {
    zr_generic_container container{};
    if (!parse_template(tmpl, &container)) return 0;
    return find_entry(container, type) >= 0;
}

int32_t zr_template_generic_is_empty(const zr_template* tmpl) {
    zr_generic_container container{};
    if (!parse_template(tmpl, &container)) return 1;
    return container.count == 0;
}

zr_template* zr_template_generic_remove(const zr_template* tmpl, uint32_t type,
                                        const uint8_t** out_data, uint32_t* out_size) {
    if (out_data != nullptr) *out_data = nullptr;
    if (out_size != nullptr) *out_size = 0;
    zr_generic_container container{};
    if (!parse_template(tmpl, &container) || container.count == 0) return nullptr;
    const int32_t slot = find_entry(container, type);
    if (slot < 0) return nullptr;
    const zr_generic_entry removed = container.entries[slot];
    container.entries[slot] = container.entries[container.count - 1];
    --container.count;
    zr_template* result = write_with_image(&container, zr_template_get_image(tmpl));
    if (result != nullptr) {
        if (out_data != nullptr) *out_data = removed.data;
        if (out_size != nullptr) *out_size = removed.size;
    }
    return result;
}

zr_template* zr_template_remove_data_of_type(const zr_template* tmpl, uint32_t type) {
    if (!is_container(tmpl)) return nullptr;
    return zr_template_generic_remove(tmpl, type, nullptr, nullptr);
}

int32_t zr_template_generic_verify_integrity(const zr_template* tmpl, int32_t level) {
    if (tmpl == nullptr) return 0;
    const uint8_t* bytes = tmpl->data;
    const uint32_t size = tmpl->size;
    if (level >= 0) {
        if (bytes == nullptr || size < sizeof(kMagic) ||
            std::memcmp(bytes, kMagic, sizeof(kMagic)) != 0 ||
            std::memcmp(bytes + size - sizeof(kTrailer), kTrailer, sizeof(kTrailer)) != 0) {
            return 0;
        }
        if (level == 0) return 1;
    }
    zr_generic_container container{};
    if (!parse_bytes(bytes, size, &container)) return 0;
    if (level < 0) return 1;
    if (zr_template_generic_table_crc(&container) != container.table_crc) return 0;
    if (level >= 2) {
        for (uint32_t i = 0; i < container.count; ++i) {
            const zr_generic_entry& entry = container.entries[i];
            if (data_crc(entry.data, entry.size) != entry.crc) return 0;
        }
    }
    return 1;
}

zr_template* zr_template_merge(zr_template* a, zr_template* b) {
    if (a == nullptr && b == nullptr) return nullptr;
    if (a == nullptr) return zr_template_retain(b);
    if (b == nullptr) return zr_template_retain(a);
    zr_generic_container merged{};
    zr_generic_container other{};
    const bool a_ok = is_container(a) ? parse_template(a, &merged) : single_entry_form(a, &merged);
    const bool b_ok = is_container(b) ? parse_template(b, &other) : single_entry_form(b, &other);
    if (!a_ok || !b_ok) return nullptr;
    for (uint32_t i = 0; i < other.count; ++i) {
        if (find_entry(merged, other.entries[i].type) >= 0) continue;
        if (merged.count >= ZR_GENERIC_MAX_ENTRIES) return nullptr;
        merged.entries[merged.count++] = other.entries[i];
    }
    zr_image* image = b->image != nullptr ? b->image : a->image;
    zr_template* result = write_with_image(&merged, image);
    if (result != nullptr) result->generation_quality = a->generation_quality | b->generation_quality;
    return result;
}
