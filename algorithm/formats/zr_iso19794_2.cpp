#include "formats/zr_iso19794_2.h"

#include <cstdlib>
#include <cstring>

#include "formats/zr_iso19794_2_internal.h"
#include "objects/zr_alloc.h"
#include "objects/zr_byte_order.h"

namespace {

constexpr uint8_t kMagic[4] = {'F', 'M', 'R', 0};
constexpr uint8_t kVersion2011[4] = {'0', '3', '0', 0};
// Byte 4 of a 2005 version may be a space or "0": the readers mask bit 4.
constexpr uint8_t kVersionByte4Mask = 0xEF;

constexpr uint32_t kV2FixedBytes = 30;  // header and extended data length
constexpr uint32_t kV3FixedBytes = 54;
constexpr uint32_t kV3RepresentationFixed = 39;
constexpr uint32_t kV3MinRepresentation = 34;
constexpr uint32_t kV3MinCheckedLength = 47;
constexpr uint32_t kV3MaxRepresentations = 8192;
constexpr uint32_t kV3QualityBlockBytes = 5;
constexpr uint32_t kV3CertificationBlockBytes = 3;
constexpr uint32_t kV3QualityCount = 33;
constexpr uint32_t kV3QualityScore = 34;
constexpr uint32_t kV3CertificationFlag = 14;
constexpr uint32_t kV3DeviceId = 29;
constexpr uint32_t kV3MinMinutiaBytes = 5;
constexpr uint16_t kQualityVendor = 0x000B;
constexpr uint8_t kV3MinutiaFormat = 0x60;  // 6-byte minutiae, ridge-ending type 0
constexpr uint8_t kMaxQuality = 100;
constexpr uint8_t kTypeShift = 6;

bool is_2005_version(const uint8_t* v) {
    return (v[0] & kVersionByte4Mask) == ' ' && v[1] == '2' && v[2] == '0' && v[3] == 0;
}

void put_minutia(uint8_t* p, const minutia& m) {
    const uint16_t x = uint16_t(m.col) & ISO_COORDINATE_MASK;
    const uint16_t y = uint16_t(m.row) & ISO_COORDINATE_MASK;
    p[0] = uint8_t((m.type << kTypeShift) | (x >> 8));
    p[1] = uint8_t(x);
    p[2] = uint8_t(y >> 8);
    p[3] = uint8_t(y);
    p[4] = m.angle;
    p[5] = m.quality;
}

minutia get_minutia(const uint8_t* p) {
    minutia m{};
    m.col = int16_t(iso_get14(p));
    m.row = int16_t(iso_get14(p + 2));
    m.angle = p[4];
    m.type = uint8_t(p[0] >> kTypeShift);
    m.quality = p[5];
    m.ridge_period = ZR_ISO_DEFAULT_RIDGE_PERIOD;
    return m;
}

zr_status check_writer_input(const minutiastruct* minutiae, uint8_t** out_record) {
    if (minutiae == nullptr || out_record == nullptr) return ZR_BAD_ARGUMENT;
    if (minutiae->resolution != ZR_ISO_RESOLUTION_PPCM) return ZR_BAD_DATA;
    return ZR_OK;
}

void put_header_start(uint8_t* r, uint32_t length, bool v2011) {
    std::memcpy(r, kMagic, 4);
    if (v2011) {
        std::memcpy(r + 4, kVersion2011, 4);
    } else {
        const uint8_t v[4] = {' ', '2', '0', 0};
        std::memcpy(r + 4, v, 4);
    }
    zr_put_be32(r + 8, length);
}

void put_minutiae(uint8_t* p, const minutiastruct* s) {
    for (uint32_t i = 0; i < s->count; ++i) put_minutia(p + i * ISO_MINUTIA_BYTES, s->minutiae[i]);
}

zr_status parse_2005(const uint8_t* r, iso_record_layout* out) {
    if (out->length < ISO_V2_HEADER) return ZR_BAD_FORMAT;
    out->header = 24;
    out->count = r[27];
    out->minutiae = ISO_V2_HEADER;
    out->stride = ISO_MINUTIA_BYTES;
    out->extended = ISO_V2_HEADER + ISO_MINUTIA_BYTES * out->count;
    if (out->length < out->extended + ISO_EXTENDED_LENGTH_BYTES) return ZR_BAD_FORMAT;
    out->image_x = zr_get_be16(r + 14);
    out->image_y = zr_get_be16(r + 16);
    out->resolution_x = zr_get_be16(r + 18);
    out->resolution_y = zr_get_be16(r + 20);
    out->finger_position = r[24];
    out->impression = r[25];
    return ZR_OK;
}

zr_status parse_2011(const uint8_t* r, iso_record_layout* out) {
    const uint32_t length = out->length;
    if (length < ISO_V3_MIN_LENGTH) return ZR_BAD_FORMAT;
    uint32_t base = kV3QualityScore + kV3QualityBlockBytes * r[kV3QualityCount];
    if (r[kV3CertificationFlag] != 0) {
        if (base >= length) return ZR_BAD_FORMAT;
        base += 1 + kV3CertificationBlockBytes * r[base];
    }
    if (base + 13 > length) return ZR_BAD_FORMAT;
    out->header = base;
    out->stride = r[base + 11] >> 4;
    out->count = r[base + 12];
    if (out->stride < kV3MinMinutiaBytes) return ZR_BAD_FORMAT;
    out->minutiae = base + 13;
    out->extended = out->minutiae + out->stride * out->count;
    if (length < out->extended + ISO_EXTENDED_LENGTH_BYTES) return ZR_BAD_FORMAT;
    out->finger_position = r[base];
    out->resolution_x = zr_get_be16(r + base + 2);
    out->resolution_y = zr_get_be16(r + base + 4);
    out->impression = r[base + 6];
    out->image_x = zr_get_be16(r + base + 7);
    out->image_y = zr_get_be16(r + base + 9);
    return ZR_OK;
}

zr_status check_resolution(const iso_record_layout& layout) {
    if (layout.resolution_x != layout.resolution_y) return ZR_BAD_RESOLUTION;
    if (layout.resolution_x != ZR_ISO_RESOLUTION_PPCM) return ZR_BAD_RESOLUTION;
    return ZR_OK;
}

void fill_common(const iso_record_layout& layout, minutiastruct* out) {
    out->count = uint8_t(layout.count);
    out->cols = layout.image_x;
    out->rows = layout.image_y;
    out->resolution = ZR_ISO_RESOLUTION_PPCM;
    out->finger_position = layout.finger_position;
}

zr_status read_2005(const uint8_t* r, const iso_record_layout& layout, minutiastruct* out) {
    for (uint32_t i = 0; i < layout.count; ++i)
        out->minutiae[i] = get_minutia(r + layout.minutiae + i * ISO_MINUTIA_BYTES);
    fill_common(layout, out);
    out->impression_type = layout.impression & 0x0F;
    out->quality = r[26];
    out->device_id = ZR_ISO_V2_DEVICE_ID;
    return ZR_OK;
}

zr_status read_2011(const uint8_t* r, const iso_record_layout& layout, minutiastruct* out) {
    for (uint32_t i = 0; i < layout.count; ++i) {
        minutia m = get_minutia(r + layout.minutiae + i * layout.stride);
        // Only the 6-byte form carries a quality byte in the standard's range.
        if (layout.stride != ISO_MINUTIA_BYTES || m.quality > kMaxQuality) m.quality = 0;
        out->minutiae[i] = m;
    }
    fill_common(layout, out);
    out->impression_type = layout.impression;
    // Without a quality block, byte 34 is already the finger position.
    const bool has_quality = r[kV3QualityCount] != 0;
    const uint8_t quality = r[kV3QualityScore];
    out->quality = has_quality && quality <= kMaxQuality ? quality : 0;
    out->device_id = zr_get_be32(r + kV3DeviceId);
    return ZR_OK;
}

zr_status read_edition(const uint8_t* record, uint32_t size, minutiastruct* out, iso_edition wanted) {
    if (record == nullptr || out == nullptr) return ZR_BAD_ARGUMENT;
    iso_record_layout layout{};
    if (const zr_status rc = iso_record_parse(record, size, &layout); rc != ZR_OK) return rc;
    if (wanted != iso_edition::none && layout.edition != wanted) return ZR_BAD_FORMAT;
    if (const zr_status rc = check_resolution(layout); rc != ZR_OK) return rc;
    return layout.edition == iso_edition::v2005 ? read_2005(record, layout, out)
                                                : read_2011(record, layout, out);
}

}  // namespace

iso_edition iso_record_edition(const uint8_t* record, uint32_t size) {
    if (record == nullptr || size < ISO_HEADER_PROBE) return iso_edition::none;
    if (std::memcmp(record, kMagic, 4) != 0) return iso_edition::none;
    if (is_2005_version(record + 4)) return iso_edition::v2005;
    if (std::memcmp(record + 4, kVersion2011, 4) == 0) return iso_edition::v2011;
    return iso_edition::none;
}

zr_status iso_record_parse(const uint8_t* record, uint32_t size, iso_record_layout* out) {
    *out = {};
    out->edition = iso_record_edition(record, size);
    if (out->edition == iso_edition::none) return ZR_BAD_FORMAT;
    out->length = zr_get_be32(record + 8);
    if (out->length > size) return ZR_BAD_FORMAT;
    return out->edition == iso_edition::v2005 ? parse_2005(record, out) : parse_2011(record, out);
}

zr_status zr_minutiastruct_to_iso19794_2_v2(const minutiastruct* minutiae, uint8_t** out_record) {
    if (const zr_status rc = check_writer_input(minutiae, out_record); rc != ZR_OK) return rc;
    const uint32_t n = minutiae->count;
    const uint32_t length = kV2FixedBytes + ISO_MINUTIA_BYTES * n;
    auto* r = static_cast<uint8_t*>(zr_calloc(length, 1));
    if (r == nullptr) return ZR_NO_MEMORY;
    put_header_start(r, length, false);
    zr_put_be16(r + 14, minutiae->cols);
    zr_put_be16(r + 16, minutiae->rows);
    zr_put_be16(r + 18, ZR_ISO_RESOLUTION_PPCM);
    zr_put_be16(r + 20, ZR_ISO_RESOLUTION_PPCM);
    r[22] = 1;  // finger views
    r[24] = minutiae->finger_position;
    r[25] = minutiae->impression_type & 0x0F;  // view number 0 in the high nibble
    r[26] = minutiae->quality;
    r[27] = uint8_t(n);
    put_minutiae(r + ISO_V2_HEADER, minutiae);
    *out_record = r;
    return ZR_OK;
}

zr_status zr_minutiastruct_to_iso19794_2(const minutiastruct* minutiae, uint8_t** out_record) {
    return zr_minutiastruct_to_iso19794_2_v2(minutiae, out_record);
}

zr_status zr_minutiastruct_to_iso19794_2_v3(const minutiastruct* minutiae, uint8_t** out_record) {
    if (const zr_status rc = check_writer_input(minutiae, out_record); rc != ZR_OK) return rc;
    const uint32_t n = minutiae->count;
    const uint32_t length = kV3FixedBytes + ISO_MINUTIA_BYTES * n;
    auto* r = static_cast<uint8_t*>(zr_calloc(length, 1));
    if (r == nullptr) return ZR_NO_MEMORY;
    put_header_start(r, length, true);
    zr_put_be16(r + 12, 1);  // finger representations
    zr_put_be32(r + ISO_V3_REPRESENTATION, kV3RepresentationFixed + ISO_MINUTIA_BYTES * n);
    std::memset(r + 19, 0xFF, 9);  // capture date and time not given
    zr_put_be16(r + 29, uint16_t(minutiae->device_id >> 16));
    zr_put_be16(r + 31, uint16_t(minutiae->device_id));
    r[kV3QualityCount] = 1;
    r[kV3QualityScore] = minutiae->quality;
    zr_put_be16(r + 35, kQualityVendor);
    r[39] = minutiae->finger_position;
    zr_put_be16(r + 41, ZR_ISO_RESOLUTION_PPCM);
    zr_put_be16(r + 43, ZR_ISO_RESOLUTION_PPCM);
    r[45] = minutiae->impression_type;
    zr_put_be16(r + 46, minutiae->cols);
    zr_put_be16(r + 48, minutiae->rows);
    r[50] = kV3MinutiaFormat;
    r[51] = uint8_t(n);
    put_minutiae(r + 52, minutiae);
    *out_record = r;
    return ZR_OK;
}

zr_status zr_iso19794_2_to_minutiastruct(const uint8_t* record, uint32_t size, minutiastruct* out) {
    return read_edition(record, size, out, iso_edition::none);
}

zr_status zr_iso19794_2_v2_to_minutiastruct(const uint8_t* record, uint32_t size, minutiastruct* out) {
    return read_edition(record, size, out, iso_edition::v2005);
}

zr_status zr_iso19794_2_v3_to_minutiastruct(const uint8_t* record, uint32_t size, minutiastruct* out) {
    return read_edition(record, size, out, iso_edition::v2011);
}

zr_status zr_is_iso19794_2(const uint8_t* record, uint32_t size) {
    const iso_edition edition = iso_record_edition(record, size);
    if (edition == iso_edition::none) return ZR_BAD_FORMAT;
    const uint32_t length = zr_get_be32(record + 8);
    if (length != size) return ZR_BAD_FORMAT;
    if (edition == iso_edition::v2005) return ZR_OK;
    if (length < kV3MinCheckedLength) return ZR_BAD_FORMAT;
    const uint32_t representations = zr_get_be16(record + 12);
    if (representations == 0 || representations > kV3MaxRepresentations) return ZR_BAD_FORMAT;
    uint32_t offset = ISO_V3_REPRESENTATION;
    for (uint32_t i = 0; i < representations; ++i) {
        if (offset > size || size - offset < 4) return ZR_BAD_FORMAT;
        const uint32_t representation = zr_get_be32(record + offset);
        if (representation < kV3MinRepresentation || representation > size - offset)
            return ZR_BAD_FORMAT;
        offset += representation;
    }
    return offset == size ? ZR_OK : ZR_BAD_FORMAT;
}

uint32_t zr_iso19794_2_get_length(const uint8_t* record, uint32_t size) {
    if (iso_record_edition(record, size) == iso_edition::none) return 0;
    return zr_get_be32(record + 8);
}
