// Extended data blocks of ISO/IEC 19794-2 records: appending and reading.
#include <cstdlib>
#include <cstring>

#include "formats/zr_iso19794_2.h"
#include "formats/zr_iso19794_2_internal.h"
#include "objects/zr_alloc.h"
#include "objects/zr_byte_order.h"

namespace {

constexpr uint32_t kRefPointsFixed = 6;  // block header and the two count bytes
constexpr uint32_t kCoreWithAngle = 5;
constexpr uint32_t kDeltaWithAngles = 7;
constexpr uint32_t kPointBytes = 4;
constexpr uint8_t kAngleFlag = 0x40;
constexpr uint8_t kFlagShift = 6;
constexpr uint8_t kCountMask = 0x0F;

constexpr uint32_t kZonalHeaderV2 = 3;  // cell width, cell height, bits
constexpr uint32_t kZonalHeaderV3 = 7;  // vendor, algorithm id, then the same
constexpr uint16_t kQualityVendor = 0x000B;
constexpr uint32_t kMaxBitsPerCell = 8;
constexpr uint32_t kMaxGridCells = 255;
constexpr uint32_t kQualityScale = 1600;  // code * (1600 / M) >> 4 maps M to 100
constexpr uint32_t kMaxCellQuality = 100;

constexpr uint32_t kFieldHeader = 7;  // block size, x, y, across, down
constexpr uint8_t kOrientationEmpty = 128;
constexpr uint8_t kOrientationBase = 191;
constexpr uint8_t kMaxFrequency = 32;

// --- Appending ---

// The record and the layout it was parsed into, for an appender.
zr_status parse_for_append(uint8_t** record, const uint32_t* size, iso_record_layout* layout) {
    if (record == nullptr || *record == nullptr || size == nullptr) return ZR_BAD_ARGUMENT;
    return iso_record_parse(*record, *size, layout);
}

// True when a block written at the record's end will be found by the block
// walk: the blocks from the extended data length on end exactly at the
// record's end, and the extended data length reaches that far. A record with
// bytes behind its last block, or with a block running past its end, fails.
bool blocks_end_at_record_end(const uint8_t* record, const iso_record_layout& layout) {
    const uint32_t start = layout.extended + ISO_EXTENDED_LENGTH_BYTES;
    if (zr_get_be16(record + layout.extended) < layout.length - start) return false;
    uint32_t offset = start;
    while (offset != layout.length) {
        if (layout.length - offset < ISO_BLOCK_HEADER) return false;
        const uint32_t length = zr_get_be16(record + offset + 2);
        if (length > layout.length - offset - ISO_BLOCK_HEADER) return false;
        offset += ISO_BLOCK_HEADER + length;
    }
    return true;
}

// Grows the record by a block of `block_size` bytes (header included) and
// returns where its header goes; nothing changes on failure. ZR_BAD_DATA when
// the block would not be found at the record's end or the extended data
// length would pass 65535.
zr_status grow_record(uint8_t** record, uint32_t* size, const iso_record_layout& layout,
                      uint16_t type, uint32_t block_size, uint8_t** out_block) {
    if (!blocks_end_at_record_end(*record, layout)) return ZR_BAD_DATA;
    const uint32_t extended = zr_get_be16(*record + layout.extended);
    if (block_size > ISO_MAX_EXTENDED - extended) return ZR_BAD_DATA;
    const uint32_t old_length = layout.length;
    auto* grown = static_cast<uint8_t*>(zr_malloc(old_length + block_size));
    if (grown == nullptr) return ZR_NO_MEMORY;
    std::memcpy(grown, *record, old_length);
    std::free(*record);
    zr_put_be32(grown + 8, old_length + block_size);
    if (layout.edition == iso_edition::v2011) {
        uint8_t* representation = grown + ISO_V3_REPRESENTATION;
        zr_put_be32(representation, zr_get_be32(representation) + block_size);
    }
    zr_put_be16(grown + layout.extended, uint16_t(extended + block_size));
    uint8_t* block = grown + old_length;
    zr_put_be16(block, type);
    zr_put_be16(block + 2, uint16_t(block_size - ISO_BLOCK_HEADER));
    *record = grown;
    *size = old_length + block_size;
    *out_block = block + ISO_BLOCK_HEADER;
    return ZR_OK;
}

uint32_t point_count(const zr_reference_points* points) {
    if (points == nullptr) return 0;
    return points->count < ZR_MAX_REFERENCE_POINTS ? points->count : ZR_MAX_REFERENCE_POINTS;
}

uint32_t points_bytes(const zr_reference_points* points, uint32_t with_angles) {
    uint32_t bytes = 0;
    for (uint32_t i = 0; i < point_count(points); ++i)
        bytes += points->points[i].valid ? with_angles : kPointBytes;
    return bytes;
}

uint8_t* put_points(uint8_t* p, const zr_reference_points* points, uint32_t angles) {
    const uint32_t count = point_count(points);
    *p++ = uint8_t(count);
    for (uint32_t i = 0; i < count; ++i) {
        const zr_reference_point& point = points->points[i];
        const uint16_t x = point.col & ISO_COORDINATE_MASK;
        const uint16_t y = point.row & ISO_COORDINATE_MASK;
        p[0] = uint8_t((point.valid ? kAngleFlag : 0) | (x >> 8));
        p[1] = uint8_t(x);
        p[2] = uint8_t(y >> 8);
        p[3] = uint8_t(y);
        p += kPointBytes;
        if (point.valid) {
            std::memcpy(p, point.angles, angles);
            p += angles;
        }
    }
    return p;
}

uint32_t ceil_div(uint32_t a, uint32_t b) { return (a + b - 1) / b; }

struct zonal_grid {
    uint32_t across;
    uint32_t down;
    uint64_t code_bytes;
};

zonal_grid zonal_grid_of(uint32_t image_x, uint32_t image_y, uint32_t cell_width,
                         uint32_t cell_height, uint32_t bits) {
    zonal_grid grid{ceil_div(image_x, cell_width), ceil_div(image_y, cell_height), 0};
    grid.code_bytes = (uint64_t(grid.across) * grid.down * bits + 7) / 8;
    return grid;
}

// Packs `bits`-bit codes from the least significant bit of each byte up.
void put_code(uint8_t* codes, uint32_t index, uint32_t bits, uint32_t code) {
    const uint32_t bit = index * bits;
    const uint32_t wide = code << (bit % 8);
    codes[bit / 8] |= uint8_t(wide);
    if (bit % 8 + bits > 8) codes[bit / 8 + 1] |= uint8_t(wide >> 8);
}

uint32_t get_code(const uint8_t* codes, uint32_t index, uint32_t bits) {
    const uint32_t bit = index * bits;
    uint32_t wide = codes[bit / 8];
    if (bit % 8 + bits > 8) wide |= uint32_t(codes[bit / 8 + 1]) << 8;
    return (wide >> (bit % 8)) & ((1u << bits) - 1);
}

uint32_t quality_code(uint32_t value, uint32_t max_code) {
    const uint32_t step = (max_code + 99) / max_code;
    if (value == 0) return 1;
    const uint32_t code = (value - 1) / step + 1;
    return code < max_code ? code : max_code;
}

uint8_t cell_value(const zr_zonal_quality_field* field, uint32_t row, uint32_t col) {
    if (field->cells == nullptr || row >= field->field_rows || col >= field->field_cols) return 0;
    return field->cells[row * field->field_cols + col];
}

using field_encoder = uint8_t (*)(uint8_t);

uint8_t encode_orientation(uint8_t v) { return v == 0 ? kOrientationEmpty : uint8_t(kOrientationBase - v); }
uint8_t encode_frequency(uint8_t v) { return v < kMaxFrequency ? v : kMaxFrequency; }
uint8_t decode_orientation(uint8_t b) { return b >= kOrientationEmpty ? 0 : uint8_t(kOrientationBase - b); }
uint8_t decode_frequency(uint8_t b) { return b; }

zr_status extend_field(uint8_t** record, uint32_t* size, const zr_block_field* field, uint16_t type,
                       field_encoder encode) {
    iso_record_layout layout{};
    if (const zr_status rc = parse_for_append(record, size, &layout); rc != ZR_OK) return rc;
    if (field == nullptr) return ZR_BAD_ARGUMENT;
    const uint32_t blocks = uint32_t(field->block_rows) * field->block_cols;
    if (blocks != 0 && field->values == nullptr) return ZR_BAD_ARGUMENT;
    uint8_t* p = nullptr;
    if (const zr_status rc = grow_record(record, size, layout, type, ISO_BLOCK_HEADER + kFieldHeader + blocks, &p);
        rc != ZR_OK)
        return rc;
    p[0] = field->block_size;
    zr_put_be16(p + 1, field->col_offset);
    zr_put_be16(p + 3, field->row_offset < 0 ? 0 : uint16_t(field->row_offset));
    p[5] = field->block_cols;
    p[6] = field->block_rows;
    for (uint32_t i = 0; i < blocks; ++i) p[kFieldHeader + i] = encode(field->values[i]);
    return ZR_OK;
}

// --- Reading ---

// Parses the record and finds the block; ZR_NOT_FOUND when absent.
zr_status locate(const uint8_t* record, uint32_t size, uint16_t type, iso_record_layout* layout,
                 iso_block* block) {
    if (record == nullptr) return ZR_BAD_ARGUMENT;
    if (const zr_status rc = iso_record_parse(record, size, layout); rc != ZR_OK) return rc;
    return iso_find_block(record, *layout, type, block);
}

// Reads one kind of reference point from data[0..length) at *offset.
zr_status get_points(const uint8_t* data, uint32_t length, uint32_t* offset, uint32_t angles,
                     zr_reference_points* out) {
    if (*offset >= length) return ZR_BAD_DATA;
    const uint32_t count = data[(*offset)++] & kCountMask;
    if (count > ZR_MAX_REFERENCE_POINTS) return ZR_BAD_DATA;
    zr_reference_points points{};
    for (uint32_t i = 0; i < count; ++i) {
        if (length - *offset < kPointBytes) return ZR_BAD_DATA;
        const uint8_t* p = data + *offset;
        zr_reference_point& point = points.points[i];
        point.valid = p[0] >> kFlagShift;
        point.col = iso_get14(p);
        point.row = iso_get14(p + 2);
        *offset += kPointBytes;
        if (point.valid != 0) {
            if (length - *offset < angles) return ZR_BAD_DATA;
            std::memcpy(point.angles, data + *offset, angles);
            *offset += angles;
        }
    }
    points.count = uint8_t(count);
    if (out != nullptr) {
        points.enable = out->enable;
        *out = points;
    }
    return ZR_OK;
}

void clear_points(zr_reference_points* points) {
    if (points != nullptr) points->count = 0;
}

zr_status read_field(const uint8_t* record, uint32_t size, zr_block_field* field, uint16_t type,
                     field_encoder decode) {
    if (field == nullptr) return ZR_BAD_ARGUMENT;
    field->values = nullptr;
    iso_record_layout layout{};
    iso_block block{};
    const zr_status rc = locate(record, size, type, &layout, &block);
    if (rc == ZR_NOT_FOUND) return ZR_BAD_DATA;
    if (rc != ZR_OK) return rc;
    if (block.length < kFieldHeader) return ZR_BAD_DATA;
    const uint8_t* p = block.data;
    const uint32_t blocks = uint32_t(p[5]) * p[6];
    if (block.length - kFieldHeader < blocks) return ZR_BAD_DATA;
    field->block_size = p[0];
    field->col_offset = zr_get_be16(p + 1);
    field->row_offset = int16_t(zr_get_be16(p + 3));
    field->block_cols = p[5];
    field->block_rows = p[6];
    auto* values = static_cast<uint8_t*>(zr_malloc(blocks == 0 ? 1 : blocks));
    if (values == nullptr) return ZR_NO_MEMORY;
    for (uint32_t i = 0; i < blocks; ++i) values[i] = decode(p[kFieldHeader + i]);
    field->values = values;
    return ZR_OK;
}

}  // namespace

zr_status iso_find_block(const uint8_t* record, const iso_record_layout& layout, uint16_t type,
                         iso_block* out) {
    const uint32_t declared = zr_get_be16(record + layout.extended);
    const uint32_t start = layout.extended + ISO_EXTENDED_LENGTH_BYTES;
    // The extended data ends at its declared length or at the record's end.
    const uint32_t end = declared < layout.length - start ? start + declared : layout.length;
    uint32_t offset = start;
    while (end - offset >= ISO_BLOCK_HEADER) {
        const uint16_t block_type = zr_get_be16(record + offset);
        const uint32_t length = zr_get_be16(record + offset + 2);
        const uint32_t data = offset + ISO_BLOCK_HEADER;
        if (block_type == type) {
            if (length > end - data) return ZR_BAD_DATA;
            *out = {record + data, length};
            return ZR_OK;
        }
        if (length >= end - data) break;
        offset = data + length;
    }
    return ZR_NOT_FOUND;
}

zr_status iso19794_2_get_extended_data_reference(const uint8_t* record, uint32_t size,
                                                 const uint8_t** out) {
    if (record == nullptr || out == nullptr) return ZR_BAD_ARGUMENT;
    iso_record_layout layout{};
    if (const zr_status rc = iso_record_parse(record, size, &layout); rc != ZR_OK) return rc;
    *out = record + layout.extended;
    return ZR_OK;
}

zr_status iso19794_2_increase_extended_data_block_length(uint8_t* record, uint32_t size,
                                                         uint32_t increment) {
    if (record == nullptr) return ZR_BAD_ARGUMENT;
    iso_record_layout layout{};
    if (const zr_status rc = iso_record_parse(record, size, &layout); rc != ZR_OK) return rc;
    const uint32_t extended = zr_get_be16(record + layout.extended);
    if (increment > ISO_MAX_EXTENDED - extended) return ZR_BAD_DATA;
    zr_put_be16(record + layout.extended, uint16_t(extended + increment));
    return ZR_OK;
}

zr_status zr_iso19794_2_extend_ref_points(uint8_t** record, uint32_t* size, const zr_reference_points* cores,
                                          const zr_reference_points* deltas) {
    iso_record_layout layout{};
    if (const zr_status rc = parse_for_append(record, size, &layout); rc != ZR_OK) return rc;
    if (point_count(cores) == 0 && point_count(deltas) == 0) return ZR_OK;
    const uint32_t block_size =
        kRefPointsFixed + points_bytes(cores, kCoreWithAngle) + points_bytes(deltas, kDeltaWithAngles);
    uint8_t* p = nullptr;
    if (const zr_status rc = grow_record(record, size, layout, ZR_ISO_BLOCK_REF_POINTS, block_size, &p);
        rc != ZR_OK)
        return rc;
    p = put_points(p, cores, kCoreWithAngle - kPointBytes);
    put_points(p, deltas, kDeltaWithAngles - kPointBytes);
    return ZR_OK;
}

zr_status zr_iso19794_2_extend_zonal_quality(uint8_t** record, uint32_t* size,
                                             const zr_zonal_quality_field* field, uint32_t bits_per_cell) {
    if (bits_per_cell < 1 || bits_per_cell > kMaxBitsPerCell) return ZR_BAD_ARGUMENT;
    iso_record_layout layout{};
    if (const zr_status rc = parse_for_append(record, size, &layout); rc != ZR_OK) return rc;
    if (field == nullptr) return ZR_BAD_ARGUMENT;
    if (field->cell_cols == 0 || field->cell_rows == 0) return ZR_BAD_DATA;
    const zonal_grid grid =
        zonal_grid_of(layout.image_x, layout.image_y, field->cell_cols, field->cell_rows, bits_per_cell);
    const bool v2011 = layout.edition == iso_edition::v2011;
    const uint32_t header = v2011 ? kZonalHeaderV3 : kZonalHeaderV2;
    if (grid.code_bytes > ISO_MAX_EXTENDED) return ZR_BAD_DATA;
    uint8_t* p = nullptr;
    if (const zr_status rc = grow_record(record, size, layout, ZR_ISO_BLOCK_ZONAL_QUALITY,
                                         ISO_BLOCK_HEADER + header + uint32_t(grid.code_bytes), &p);
        rc != ZR_OK)
        return rc;
    if (v2011) {
        zr_put_be16(p, kQualityVendor);
        zr_put_be16(p + 2, 0);
        p += 4;
    }
    p[0] = field->cell_cols;
    p[1] = field->cell_rows;
    p[2] = uint8_t(bits_per_cell);
    uint8_t* codes = p + kZonalHeaderV2;
    std::memset(codes, 0, size_t(grid.code_bytes));
    const uint32_t max_code = (1u << bits_per_cell) - 1;
    for (uint32_t row = 0; row < grid.down; ++row)
        for (uint32_t col = 0; col < grid.across; ++col)
            put_code(codes, row * grid.across + col, bits_per_cell,
                     quality_code(cell_value(field, row, col), max_code));
    return ZR_OK;
}

zr_status zr_iso19794_2_extend_orientation_field(uint8_t** record, uint32_t* size, const zr_block_field* field) {
    return extend_field(record, size, field, ZR_ISO_BLOCK_ORIENTATION, encode_orientation);
}

zr_status zr_iso19794_2_extend_frequency_field(uint8_t** record, uint32_t* size, const zr_block_field* field) {
    return extend_field(record, size, field, ZR_ISO_BLOCK_FREQUENCY, encode_frequency);
}

zr_status zr_iso19794_2_to_ref_points(const uint8_t* record, uint32_t size, zr_reference_points* cores,
                                      zr_reference_points* deltas) {
    clear_points(cores);
    clear_points(deltas);
    iso_record_layout layout{};
    iso_block block{};
    const zr_status rc = locate(record, size, ZR_ISO_BLOCK_REF_POINTS, &layout, &block);
    if (rc == ZR_NOT_FOUND) return ZR_OK;
    if (rc != ZR_OK) return rc;
    zr_reference_points read_cores{};
    zr_reference_points read_deltas{};
    uint32_t offset = 0;
    if (const zr_status c = get_points(block.data, block.length, &offset, kCoreWithAngle - kPointBytes, &read_cores);
        c != ZR_OK)
        return c;
    if (const zr_status d =
            get_points(block.data, block.length, &offset, kDeltaWithAngles - kPointBytes, &read_deltas);
        d != ZR_OK)
        return d;
    if (cores != nullptr) {
        read_cores.enable = cores->enable;
        *cores = read_cores;
    }
    if (deltas != nullptr) {
        read_deltas.enable = deltas->enable;
        *deltas = read_deltas;
    }
    return ZR_OK;
}

zr_status zr_iso19794_2_to_quality_field(const uint8_t* record, uint32_t size, zr_zonal_quality_field* field) {
    if (field == nullptr) return ZR_BAD_ARGUMENT;
    field->cells = nullptr;
    field->field_rows = 0;
    field->field_cols = 0;
    iso_record_layout layout{};
    iso_block block{};
    const zr_status rc = locate(record, size, ZR_ISO_BLOCK_ZONAL_QUALITY, &layout, &block);
    if (rc == ZR_NOT_FOUND) return ZR_OK;
    if (rc != ZR_OK) return rc;
    const uint32_t header = layout.edition == iso_edition::v2011 ? kZonalHeaderV3 : kZonalHeaderV2;
    if (block.length < header) return ZR_BAD_DATA;
    const uint8_t* p = block.data + (header - kZonalHeaderV2);
    const uint32_t width = p[0], height = p[1], bits = p[2];
    if (width == 0 || height == 0 || bits == 0 || bits > kMaxBitsPerCell) return ZR_BAD_DATA;
    const zonal_grid grid = zonal_grid_of(layout.image_x, layout.image_y, width, height, bits);
    if (grid.across > kMaxGridCells || grid.down > kMaxGridCells) return ZR_BAD_DATA;
    if (block.length - header < grid.code_bytes) return ZR_BAD_DATA;
    const uint32_t cells = grid.across * grid.down;
    auto* values = static_cast<uint8_t*>(zr_malloc(cells == 0 ? 1 : cells));
    if (values == nullptr) return ZR_NO_MEMORY;
    const uint32_t max_code = (1u << bits) - 1;
    const uint8_t* codes = p + kZonalHeaderV2;
    for (uint32_t i = 0; i < cells; ++i) {
        const uint32_t q = get_code(codes, i, bits) * (kQualityScale / max_code) >> 4;
        values[i] = q > kMaxCellQuality ? 0 : uint8_t(q);
    }
    field->cells = values;
    field->field_rows = uint8_t(grid.down);
    field->field_cols = uint8_t(grid.across);
    field->cell_rows = uint8_t(height);
    field->cell_cols = uint8_t(width);
    return ZR_OK;
}

zr_status zr_iso19794_2_to_orientation_field(const uint8_t* record, uint32_t size, zr_block_field* field) {
    return read_field(record, size, field, ZR_ISO_BLOCK_ORIENTATION, decode_orientation);
}

zr_status zr_iso19794_2_to_frequency_field(const uint8_t* record, uint32_t size, zr_block_field* field) {
    return read_field(record, size, field, ZR_ISO_BLOCK_FREQUENCY, decode_frequency);
}
