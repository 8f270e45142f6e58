#include "formats/zr_ansi378.h"

#include <cstdlib>
#include <cstring>

#include "formats/zr_iso19794_2.h"
#include "formats/zr_iso19794_2_internal.h"
#include "objects/zr_alloc.h"
#include "objects/zr_byte_order.h"

namespace {

constexpr uint8_t kMagic[4] = {'F', 'M', 'R', 0};
constexpr uint8_t kVersion3[4] = {'0', '3', '0', 0};
constexpr uint8_t kVersionByte4Mask = 0xEF;  // " 20" or "020"

constexpr uint32_t kV2Fixed = 32;
constexpr uint32_t kV3Fixed = 40;
constexpr uint32_t kV2MinLength = 30;  // the length field must pass 29
constexpr uint32_t kV3MinLength = 38;  // and 37
constexpr uint16_t kQualityVendor = 0x000B;
constexpr uint8_t kMaxQuality = 100;
constexpr uint8_t kTypeShift = 6;

enum class ansi_version { none, v2, v3 };

ansi_version version_of(const uint8_t* r, uint32_t size) {
    if (r == nullptr || size < ISO_HEADER_PROBE || std::memcmp(r, kMagic, 4) != 0) return ansi_version::none;
    if ((r[4] & kVersionByte4Mask) == ' ' && r[5] == '2' && r[6] == '0' && r[7] == 0) return ansi_version::v2;
    if (std::memcmp(r + 4, kVersion3, 4) == 0) return ansi_version::v3;
    return ansi_version::none;
}

// Where the fields of one version sit.
struct ansi_layout {
    uint32_t fixed;       // header and extended data length
    uint32_t image;       // X, Y, X resolution, Y resolution
    uint32_t position;
    uint32_t impression;
    uint32_t quality;
    uint32_t count;
    uint32_t device_id;
    uint32_t min_length;
};

constexpr ansi_layout kLayoutV2 = {kV2Fixed, 16, 26, 27, 28, 29, 10, kV2MinLength};
constexpr ansi_layout kLayoutV3 = {kV3Fixed, 29, 21, 23, 24, 37, 12, kV3MinLength};

zr_status read_version(const uint8_t* r, uint32_t size, minutiastruct* out, ansi_version wanted) {
    if (r == nullptr || out == nullptr) return ZR_BAD_ARGUMENT;
    const ansi_version version = version_of(r, size);
    if (version == ansi_version::none || (wanted != ansi_version::none && version != wanted))
        return ZR_BAD_FORMAT;
    const bool v3 = version == ansi_version::v3;
    const ansi_layout& at = v3 ? kLayoutV3 : kLayoutV2;
    const uint32_t length = v3 ? zr_get_be32(r + 8) : zr_get_be16(r + 8);
    if (length < at.min_length || length > size) return ZR_BAD_FORMAT;
    const uint16_t cols = zr_get_be16(r + at.image);
    const uint16_t rows = zr_get_be16(r + at.image + 2);
    const uint16_t resolution_x = zr_get_be16(r + at.image + 4);
    if (resolution_x != zr_get_be16(r + at.image + 6)) return ZR_BAD_RESOLUTION;
    if (resolution_x != ZR_ISO_RESOLUTION_PPCM) return ZR_BAD_RESOLUTION;
    const uint32_t n = r[at.count];
    if (length < at.fixed + ISO_MINUTIA_BYTES * n) return ZR_BAD_FORMAT;
    const uint8_t* p = r + at.count + 1;
    for (uint32_t i = 0; i < n; ++i, p += ISO_MINUTIA_BYTES) {
        minutia& m = out->minutiae[i];
        m.col = int16_t(iso_get14(p));
        m.row = int16_t(iso_get14(p + 2));
        m.type = uint8_t(p[0] >> kTypeShift);
        m.angle = zr_ansi378_angle_to_iso(p[4]);
        m.quality = (v3 && p[5] > kMaxQuality) ? 0 : p[5];
        m.ridge_period = ZR_ISO_DEFAULT_RIDGE_PERIOD;
    }
    out->count = uint8_t(n);
    out->cols = cols;
    out->rows = rows;
    out->resolution = ZR_ISO_RESOLUTION_PPCM;
    out->device_id = zr_get_be32(r + at.device_id);
    out->finger_position = r[at.position];
    out->impression_type = r[at.impression] & 0x0F;
    const uint8_t quality = r[at.quality];
    out->quality = (v3 && quality > kMaxQuality) ? 0 : quality;
    return ZR_OK;
}

zr_status write_version(const minutiastruct* s, uint8_t** out_record, uint32_t* out_length, bool v3) {
    if (s == nullptr || out_record == nullptr) return ZR_BAD_ARGUMENT;
    if (s->resolution != ZR_ISO_RESOLUTION_PPCM) return ZR_BAD_DATA;
    const ansi_layout& at = v3 ? kLayoutV3 : kLayoutV2;
    const uint32_t n = s->count;
    const uint32_t length = at.fixed + ISO_MINUTIA_BYTES * n;
    auto* r = static_cast<uint8_t*>(zr_calloc(length, 1));
    if (r == nullptr) return ZR_NO_MEMORY;
    std::memcpy(r, kMagic, 4);
    if (v3) {
        std::memcpy(r + 4, kVersion3, 4);
        zr_put_be32(r + 8, length);
        zr_put_be16(r + 18, 1);
        zr_put_be16(r + 25, kQualityVendor);
        r[at.impression] = s->impression_type;
    } else {
        const uint8_t version[4] = {' ', '2', '0', 0};
        std::memcpy(r + 4, version, 4);
        zr_put_be16(r + 8, uint16_t(length));
        r[24] = 1;  // finger views
        r[at.impression] = s->impression_type & 0x0F;
    }
    zr_put_be32(r + at.device_id, s->device_id);
    zr_put_be16(r + at.image, s->cols);
    zr_put_be16(r + at.image + 2, s->rows);
    zr_put_be16(r + at.image + 4, ZR_ISO_RESOLUTION_PPCM);
    zr_put_be16(r + at.image + 6, ZR_ISO_RESOLUTION_PPCM);
    r[at.position] = s->finger_position;
    r[at.quality] = s->quality;
    r[at.count] = uint8_t(n);
    uint8_t* p = r + at.count + 1;
    for (uint32_t i = 0; i < n; ++i, p += ISO_MINUTIA_BYTES) {
        const minutia& m = s->minutiae[i];
        const uint16_t x = uint16_t(m.col) & ISO_COORDINATE_MASK;
        const uint16_t y = uint16_t(m.row) & ISO_COORDINATE_MASK;
        p[0] = uint8_t((m.type << kTypeShift) | (x >> 8));
        p[1] = uint8_t(x);
        p[2] = uint8_t(y >> 8);
        p[3] = uint8_t(y);
        p[4] = zr_ansi378_angle_from_iso(m.angle);
        p[5] = m.quality;
    }
    *out_record = r;
    if (out_length != nullptr) *out_length = length;
    return ZR_OK;
}

using iso_writer = zr_status (*)(const minutiastruct*, uint8_t**);

zr_status convert(const uint8_t* record, uint32_t size, uint32_t limit, uint8_t** out_iso, iso_writer write) {
    if (record == nullptr || out_iso == nullptr) return ZR_BAD_ARGUMENT;
    auto* s = static_cast<minutiastruct*>(zr_calloc(1, sizeof(minutiastruct)));
    if (s == nullptr) return ZR_NO_MEMORY;
    zr_status rc = zr_ansi378_to_minutiastruct(record, size, s);
    if (rc == ZR_OK) {
        if (limit < s->count) s->count = uint8_t(limit);
        rc = write(s, out_iso);
    }
    std::free(s);
    return rc;
}

}  // namespace

uint8_t zr_ansi378_angle_from_iso(uint8_t angle) { return uint8_t((uint32_t(angle) * 180 + 128) >> 8); }

uint8_t zr_ansi378_angle_to_iso(uint8_t stored) { return uint8_t((uint32_t(stored) * 256 + 90) / 180); }

zr_status zr_minutiastruct_to_ansi378_v2(const minutiastruct* minutiae, uint8_t** out_record, uint32_t* out_length) {
    return write_version(minutiae, out_record, out_length, false);
}

zr_status zr_minutiastruct_to_ansi378(const minutiastruct* minutiae, uint8_t** out_record, uint32_t* out_length) {
    return write_version(minutiae, out_record, out_length, false);
}

zr_status zr_minutiastruct_to_ansi378_v3(const minutiastruct* minutiae, uint8_t** out_record, uint32_t* out_length) {
    return write_version(minutiae, out_record, out_length, true);
}

zr_status zr_ansi378_to_minutiastruct(const uint8_t* record, uint32_t size, minutiastruct* out) {
    return read_version(record, size, out, ansi_version::none);
}

zr_status zr_ansi378_v2_to_minutiastruct(const uint8_t* record, uint32_t size, minutiastruct* out) {
    return read_version(record, size, out, ansi_version::v2);
}

zr_status zr_ansi378_v3_to_minutiastruct(const uint8_t* record, uint32_t size, minutiastruct* out) {
    return read_version(record, size, out, ansi_version::v3);
}

zr_status zr_convert_ansi378_to_iso19794_2_v2(const uint8_t* record, uint32_t size, uint32_t limit,
                                              uint8_t** out_iso) {
    return convert(record, size, limit, out_iso, zr_minutiastruct_to_iso19794_2_v2);
}

zr_status zr_convert_ansi378_to_iso19794_2(const uint8_t* record, uint32_t size, uint32_t limit, uint8_t** out_iso) {
    return convert(record, size, limit, out_iso, zr_minutiastruct_to_iso19794_2_v2);
}

zr_status zr_convert_ansi378_to_iso19794_2_v3(const uint8_t* record, uint32_t size, uint32_t limit,
                                              uint8_t** out_iso) {
    return convert(record, size, limit, out_iso, zr_minutiastruct_to_iso19794_2_v3);
}
