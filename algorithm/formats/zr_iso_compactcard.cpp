// Compact card from and to ISO/IEC 19794-2 records, and the proprietary part.
#include "formats/zr_iso_compactcard.h"

#include <cstdlib>
#include <cstring>
#include <iterator>

#include "formats/zr_iso19794_2.h"
#include "formats/zr_iso19794_2_internal.h"
#include "objects/tlv_tree.h"
#include "objects/zr_alloc.h"
#include "objects/zr_byte_order.h"

namespace {

constexpr uint32_t kCardMinutiaBytes = 3;
constexpr uint32_t kMaxCardByte = 255;
constexpr uint32_t kMaxRecordMinutiae = 255;
// Pixels at 197 per cm to 1/8 of 0.1 mm: p * 800 / 197; and back: c * 1576 / 100 = 8 c * 1.97.
constexpr uint32_t kToCardNumerator = 800;
constexpr uint32_t kToCardDenominator = 197;
constexpr uint32_t kToPixelNumerator = 1576;
constexpr uint32_t kToPixelDenominator = 100;
constexpr uint32_t kEighthRounding = 4;
constexpr uint32_t kCardAngleSteps = 64;
constexpr uint8_t kTypeBits = 0xC0;
constexpr uint8_t kCountMask = 0x0F;
constexpr uint32_t kPointBytes = 4;
constexpr uint32_t kCoreAngles = 1;
constexpr uint32_t kDeltaAngles = 3;
// Count byte and four entries with angles.
constexpr uint32_t kMaxCorePart = 1 + 4 * (kPointBytes + kCoreAngles);
constexpr uint32_t kMaxDeltaPart = 1 + 4 * (kPointBytes + kDeltaAngles);
// Cell width in pixels is (resolution * 10) / cell code; the rebuild uses 197 px/cm.
constexpr uint32_t kCellScale = 1970;
constexpr uint32_t kMinCellCode = 8;  // a smaller code gives a width over 255
constexpr uint32_t kCellPartHeader = 4;
constexpr uint32_t kZonalDataHeader = 3;
constexpr uint32_t kZonalVendorBytes = 4;
constexpr uint32_t kMaxBitsPerCell = 8;
constexpr uint16_t kQualityVendor = 0x000B;
constexpr uint16_t kRebuiltVendor = 0x0103;
constexpr uint32_t kV2Fixed = 30;
constexpr uint32_t kV3Fixed = 54;
constexpr uint32_t kV3RepresentationFixed = 39;
constexpr uint32_t kProprietaryMagicBytes = 4;
constexpr uint32_t kMaxProprietaryNibble = 15;

// --- Coordinates ---

struct card_shift {
    uint32_t x;
    uint32_t y;
};

uint32_t axis_shift(uint32_t smallest, uint32_t largest) {
    const uint32_t window = uint32_t(ZR_CC_WINDOW);
    return (largest > window && largest - smallest <= window) ? largest - window : 0;
}

// 0.1 mm units of a pixel coordinate past the shift, rounded to nearest.
uint32_t to_card(uint32_t pixel, uint32_t shift) {
    return ((pixel - shift) * kToCardNumerator / kToCardDenominator + kEighthRounding) / 8;
}

uint32_t to_pixel(uint32_t card) { return (card * kToPixelNumerator / kToPixelDenominator + kEighthRounding) >> 3; }

uint8_t card_angle(uint8_t angle) {
    const uint32_t a = (uint32_t(angle) + 2) >> 2;
    return a < kCardAngleSteps ? uint8_t(a) : 0;
}

// The 14-bit x and y of the minutiae a card is made from.
struct point14 {
    uint16_t x;
    uint16_t y;
};

card_shift shift_of(const point14* points, uint32_t n) {
    if (n == 0) return {0, 0};
    uint32_t min_x = points[0].x, max_x = points[0].x, min_y = points[0].y, max_y = points[0].y;
    for (uint32_t i = 1; i < n; ++i) {
        min_x = points[i].x < min_x ? points[i].x : min_x;
        max_x = points[i].x > max_x ? points[i].x : max_x;
        min_y = points[i].y < min_y ? points[i].y : min_y;
        max_y = points[i].y > max_y ? points[i].y : max_y;
    }
    return {axis_shift(min_x, max_x), axis_shift(min_y, max_y)};
}

bool fits_card(const point14& p, const card_shift& shift) {
    return to_card(p.x, shift.x) <= kMaxCardByte && to_card(p.y, shift.y) <= kMaxCardByte;
}

uint32_t minutiae_taken(uint32_t count, uint32_t limit) {
    const uint32_t cap = limit < ZR_CC_MAX_MINUTIAE ? limit : ZR_CC_MAX_MINUTIAE;
    return count < cap ? count : cap;
}

// True when the packed codes of an across x down grid of `bits`-bit cells
// (1..8 bits, as a record's zonal-quality block may hold) fit in code_bytes.
bool zonal_codes_fit(uint32_t bits, uint32_t across, uint32_t down, uint32_t code_bytes) {
    if (bits < 1 || bits > kMaxBitsPerCell) return false;
    return (uint64_t(across) * down * bits + 7) / 8 <= code_bytes;
}

// --- Building a tree ---

struct tree_owner {
    tlv_node* root = nullptr;
    ~tree_owner() { tlv_delete(root); }
};

zr_status add_primitive(tlv_node* parent, uint16_t tag, uint32_t length, const uint8_t* value) {
    tlv_node* node = tlv_create(tag, length, value);
    if (node == nullptr) return ZR_NO_MEMORY;
    if (tlv_append_child(parent, node) != ZR_OK) {
        tlv_delete(node);
        return ZR_NO_MEMORY;
    }
    return ZR_OK;
}

zr_status add_constructed(tlv_node* parent, uint16_t tag, tlv_node** out) {
    *out = tlv_create(tag, 0, nullptr);
    if (*out == nullptr) return ZR_NO_MEMORY;
    if (tlv_append_child(parent, *out) != ZR_OK) {
        tlv_delete(*out);
        return ZR_NO_MEMORY;
    }
    return ZR_OK;
}

zr_status write_card(tlv_node* root, uint8_t** out_card, uint32_t* out_length) {
    uint8_t* card = nullptr;
    uint32_t length = 0;
    const zr_status rc = tlv_write_tree(root, &card, &length);
    if (rc != ZR_OK) return rc == ZR_BAD_DATA ? ZR_BAD_FORMAT : rc;
    *out_card = card;
    if (out_length != nullptr) *out_length = length;
    return ZR_OK;
}

// --- Record to card ---

// A card part built in a fixed buffer.
template <uint32_t N>
struct part_buffer {
    uint8_t bytes[N];
    uint32_t length = 0;
};

// Converts the cores (angles 1) or deltas (angles 3) of the reference-point
// data at *offset into a card part, leaving out points before the shift.
template <uint32_t N>
zr_status convert_points_to_card(const iso_block& block, uint32_t* offset, uint32_t angles,
                                 const card_shift& shift, part_buffer<N>* part) {
    if (*offset >= block.length) return ZR_BAD_FORMAT;
    const uint8_t count_byte = block.data[(*offset)++];
    const uint32_t count = count_byte & kCountMask;
    if (count > ZR_MAX_REFERENCE_POINTS) return ZR_BAD_FORMAT;
    uint32_t kept = 0;
    part->length = 1;
    for (uint32_t i = 0; i < count; ++i) {
        if (block.length - *offset < kPointBytes) return ZR_BAD_FORMAT;
        const uint8_t* p = block.data + *offset;
        const uint32_t size = kPointBytes + ((p[0] & kTypeBits) ? angles : 0);
        if (block.length - *offset < size) return ZR_BAD_FORMAT;
        *offset += size;
        const uint32_t x = iso_get14(p), y = iso_get14(p + 2);
        if (x < shift.x || y < shift.y) continue;
        const uint32_t cx = to_card(x, shift.x), cy = to_card(y, shift.y);
        uint8_t* q = part->bytes + part->length;
        q[0] = uint8_t((p[0] & kTypeBits) | (cx >> 8));
        q[1] = uint8_t(cx);
        q[2] = uint8_t((cy >> 8) & 0x3F);
        q[3] = uint8_t(cy);
        std::memcpy(q + kPointBytes, p + kPointBytes, size - kPointBytes);
        part->length += size;
        ++kept;
    }
    part->bytes[0] = uint8_t((count_byte & ~kCountMask) | kept);
    if (kept == 0) part->length = 0;
    return ZR_OK;
}

// The cell-quality part, or none when the record has no zonal block or the
// card cannot describe its grid. *out_part is the caller's to free.
zr_status cell_part_from_record(const uint8_t* record, const iso_record_layout& layout, uint8_t** out_part,
                                uint32_t* out_length) {
    *out_part = nullptr;
    *out_length = 0;
    iso_block block{};
    const zr_status found = iso_find_block(record, layout, ZR_ISO_BLOCK_ZONAL_QUALITY, &block);
    if (found == ZR_NOT_FOUND) return ZR_OK;
    if (found != ZR_OK) return found;
    if (layout.edition == iso_edition::v2011 && block.length > kZonalDataHeader) {
        block.data += kZonalVendorBytes;
        block.length = block.length >= kZonalVendorBytes ? block.length - kZonalVendorBytes : 0;
    }
    if (block.length < kZonalDataHeader) return ZR_BAD_FORMAT;
    const uint32_t width = block.data[0], height = block.data[1], bits = block.data[2];
    if (width == 0 || height == 0) return ZR_BAD_FORMAT;
    const uint32_t code = uint32_t(layout.resolution_x) * 10 / width;
    const uint32_t across = (layout.image_x + width - 1) / width;
    const uint32_t down = (layout.image_y + height - 1) / height;
    if (!zonal_codes_fit(bits, across, down, block.length - kZonalDataHeader)) return ZR_BAD_FORMAT;
    // The card holds one square cell size, as the code it is rebuilt from.
    const bool representable = code >= kMinCellCode && code <= kMaxCardByte && kCellScale / code == width &&
                               height == width && across <= kMaxCardByte && down <= kMaxCardByte;
    if (!representable) return ZR_OK;
    const uint32_t length = block.length + 1;
    auto* part = static_cast<uint8_t*>(zr_malloc(length));
    if (part == nullptr) return ZR_NO_MEMORY;
    part[0] = uint8_t(code);
    part[1] = uint8_t(across);
    part[2] = uint8_t(down);
    std::memcpy(part + 3, block.data + 2, block.length - 2);  // bits and the packed codes
    *out_part = part;
    *out_length = length;
    return ZR_OK;
}

zr_status check_single_view(const uint8_t* record, const iso_record_layout& layout) {
    if (layout.edition == iso_edition::v2005) return record[22] == 1 ? ZR_OK : ZR_BAD_FORMAT;
    return zr_get_be16(record + 12) == 1 ? ZR_OK : ZR_BAD_FORMAT;
}

// The last stage of both record-to-card conversions: the record's cores,
// deltas and cell quality converted beside the card minutiae (already
// shifted by `shift`, minutiae_length bytes), and the card written. The
// minutiae go under 0xA1 as 0x90 for a 2005 record, directly under the root
// as 0x81 for a 2011 record; the other parts follow under the same parent.
// ZR_BAD_FORMAT or ZR_BAD_DATA for blocks that cannot be converted;
// ZR_NO_MEMORY, with everything built freed.
zr_status complete_iso_standard_to_cards(const uint8_t* record, const iso_record_layout& layout,
                                         const uint8_t* minutiae, uint32_t minutiae_length,
                                         const card_shift& shift, uint8_t** out_card, uint32_t* out_length) {
    part_buffer<kMaxCorePart> cores;
    part_buffer<kMaxDeltaPart> deltas;
    iso_block points_block{};
    const zr_status found = iso_find_block(record, layout, ZR_ISO_BLOCK_REF_POINTS, &points_block);
    if (found == ZR_OK) {
        uint32_t offset = 0;
        if (const zr_status rc = convert_points_to_card(points_block, &offset, kCoreAngles, shift, &cores);
            rc != ZR_OK)
            return rc;
        if (const zr_status rc = convert_points_to_card(points_block, &offset, kDeltaAngles, shift, &deltas);
            rc != ZR_OK)
            return rc;
    } else if (found != ZR_NOT_FOUND) {
        return found;
    }

    uint8_t* cell = nullptr;
    uint32_t cell_length = 0;
    if (const zr_status rc = cell_part_from_record(record, layout, &cell, &cell_length); rc != ZR_OK) return rc;

    tree_owner tree;
    tree.root = tlv_create(ZR_CC_TAG_ROOT, 0, nullptr);
    zr_status rc = tree.root == nullptr ? ZR_NO_MEMORY : ZR_OK;
    tlv_node* parent = tree.root;
    const bool v2005 = layout.edition == iso_edition::v2005;
    if (rc == ZR_OK && v2005) rc = add_constructed(tree.root, ZR_CC_TAG_CARD, &parent);
    if (rc == ZR_OK)
        rc = add_primitive(parent, v2005 ? ZR_CC_TAG_MINUTIAE_V2 : ZR_CC_TAG_MINUTIAE, minutiae_length, minutiae);
    if (rc == ZR_OK && cores.length != 0) rc = add_primitive(parent, ZR_CC_TAG_CORES, cores.length, cores.bytes);
    if (rc == ZR_OK && deltas.length != 0)
        rc = add_primitive(parent, ZR_CC_TAG_DELTAS, deltas.length, deltas.bytes);
    if (rc == ZR_OK && cell != nullptr) rc = add_primitive(parent, ZR_CC_TAG_CELL_QUALITY, cell_length, cell);
    if (rc == ZR_OK) rc = write_card(tree.root, out_card, out_length);
    std::free(cell);
    return rc;
}

// The card of a parsed record: its first minutiae, shifted into the card's
// window, then the rest of the card.
zr_status record_to_card(const uint8_t* record, const iso_record_layout& layout, uint32_t limit,
                         uint8_t** out_card, uint32_t* out_length) {
    if (const zr_status rc = check_single_view(record, layout); rc != ZR_OK) return rc;
    const uint32_t n = minutiae_taken(layout.count, limit);
    point14 points[ZR_CC_MAX_MINUTIAE];
    for (uint32_t i = 0; i < n; ++i) {
        const uint8_t* m = record + layout.minutiae + i * layout.stride;
        points[i] = {iso_get14(m), iso_get14(m + 2)};
    }
    const card_shift shift = shift_of(points, n);
    uint8_t minutiae[ZR_CC_MAX_MINUTIAE * kCardMinutiaBytes];
    uint32_t minutiae_length = 0;
    for (uint32_t i = 0; i < n; ++i) {
        if (!fits_card(points[i], shift)) continue;
        const uint8_t* m = record + layout.minutiae + i * layout.stride;
        uint8_t* c = minutiae + minutiae_length;
        c[0] = uint8_t(to_card(points[i].x, shift.x));
        c[1] = uint8_t(to_card(points[i].y, shift.y));
        c[2] = uint8_t((m[0] & kTypeBits) | card_angle(m[4]));
        minutiae_length += kCardMinutiaBytes;
    }
    return complete_iso_standard_to_cards(record, layout, minutiae, minutiae_length, shift, out_card, out_length);
}

zr_status standard_to_card(const uint8_t* record, uint32_t size, uint32_t limit, uint8_t** out_card,
                           uint32_t* out_length, iso_edition wanted) {
    if (record == nullptr || out_card == nullptr) return ZR_BAD_ARGUMENT;
    iso_record_layout layout{};
    if (const zr_status rc = iso_record_parse(record, size, &layout); rc != ZR_OK) return rc;
    if (wanted != iso_edition::none && layout.edition != wanted) return ZR_BAD_FORMAT;
    return record_to_card(record, layout, limit, out_card, out_length);
}

using record_writer = zr_status (*)(const minutiastruct*, uint8_t**);

zr_status minutiae_to_card(const minutiastruct* minutiae, uint32_t limit, uint8_t** out_card,
                           uint32_t* out_length, record_writer write) {
    if (minutiae == nullptr || out_card == nullptr) return ZR_BAD_ARGUMENT;
    uint8_t* record = nullptr;
    if (const zr_status rc = write(minutiae, &record); rc != ZR_OK) return rc;
    const zr_status rc =
        zr_convert_iso_standard_to_compactcard(record, zr_iso19794_2_get_length(record, ISO_HEADER_PROBE), limit,
                                               out_card, out_length);
    std::free(record);
    return rc;
}

// --- Card to record ---

struct card_parts {
    tlv_element minutiae;
    tlv_element cores;
    tlv_element deltas;
    tlv_element cell;
    bool has_cores;
    bool has_deltas;
    bool has_cell;
};

bool find_card_part(const uint8_t* card, uint32_t length, uint16_t tag, tlv_element* out) {
    return zr_cc_read_extended_data(card, length, 1, tag, out) == ZR_OK;
}

// Checks the layout of a cores (angles 1) or deltas (angles 3) part: its
// entries fill it exactly, since the rebuilt block holds the deltas right
// behind the cores.
bool points_part_valid(const tlv_element& part, uint32_t angles) {
    if (part.length == 0) return false;
    const uint32_t count = part.value[0] & kCountMask;
    if (count > ZR_MAX_REFERENCE_POINTS) return false;
    uint32_t offset = 1;
    for (uint32_t i = 0; i < count; ++i) {
        if (part.length - offset < kPointBytes) return false;
        const uint32_t size = kPointBytes + ((part.value[offset] & kTypeBits) ? angles : 0);
        if (part.length - offset < size) return false;
        offset += size;
    }
    return offset == part.length;
}

// Checks that a cell-quality part rebuilds into a zonal-quality block a record
// may hold: a cell code of at least 8 (a cell size of at most 246 pixels),
// 1..8 bits a cell and packed codes for every cell of the grid.
bool cell_part_valid(const tlv_element& part) {
    if (part.length < kCellPartHeader || part.value[0] < kMinCellCode) return false;
    return zonal_codes_fit(part.value[3], part.value[1], part.value[2], part.length - kCellPartHeader);
}

zr_status find_card_parts(const uint8_t* card, uint32_t length, card_parts* parts) {
    *parts = {};
    if (zr_cc_read_minutiae_data(card, length, &parts->minutiae) != ZR_OK) return ZR_BAD_FORMAT;
    if (parts->minutiae.length % kCardMinutiaBytes != 0) return ZR_BAD_FORMAT;
    if (parts->minutiae.length / kCardMinutiaBytes > kMaxRecordMinutiae) return ZR_BAD_FORMAT;
    parts->has_cores = find_card_part(card, length, ZR_CC_TAG_CORES, &parts->cores);
    parts->has_deltas = find_card_part(card, length, ZR_CC_TAG_DELTAS, &parts->deltas);
    parts->has_cell = find_card_part(card, length, ZR_CC_TAG_CELL_QUALITY, &parts->cell);
    if (parts->has_cores && !points_part_valid(parts->cores, kCoreAngles)) return ZR_BAD_FORMAT;
    if (parts->has_deltas && !points_part_valid(parts->deltas, kDeltaAngles)) return ZR_BAD_FORMAT;
    if (parts->has_cell && !cell_part_valid(parts->cell)) return ZR_BAD_FORMAT;
    return ZR_OK;
}

// Writes a cores or deltas part (or a single 0 byte) with its coordinates
// back in pixels; returns the bytes written.
uint32_t put_points_from_card(uint8_t* out, const tlv_element& part, bool present, uint32_t angles) {
    if (!present) {
        out[0] = 0;
        return 1;
    }
    std::memcpy(out, part.value, part.length);
    const uint32_t count = out[0] & kCountMask;
    uint32_t offset = 1;
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t* p = out + offset;
        const uint32_t x = to_pixel(iso_get14(p)) & ISO_COORDINATE_MASK;
        const uint32_t y = to_pixel(iso_get14(p + 2)) & ISO_COORDINATE_MASK;
        p[0] = uint8_t((p[0] & kTypeBits) | (x >> 8));
        p[1] = uint8_t(x);
        p[2] = uint8_t(y >> 8);
        p[3] = uint8_t(y);
        offset += kPointBytes + ((p[0] & kTypeBits) ? angles : 0);
    }
    return part.length;
}

uint32_t points_block_bytes(const card_parts& parts) {
    if (!parts.has_cores && !parts.has_deltas) return 0;
    return ISO_BLOCK_HEADER + (parts.has_cores ? parts.cores.length : 1) +
           (parts.has_deltas ? parts.deltas.length : 1);
}

uint32_t cell_block_bytes(const card_parts& parts, bool v2011) {
    if (!parts.has_cell) return 0;
    return parts.cell.length + (v2011 ? 7 : 3);
}

// The last stage of both card-to-record conversions: writes the extended data
// of the rebuilt record at p (its BE16 length, then a reference-point block
// from the cores and deltas, then a zonal-quality block from the cell
// quality, each when the card has them) and, when the card has cell quality,
// sets *image_x and *image_y to the image size its grid implies (cell size
// times cells across and down); otherwise they stay as they are. The parts
// are valid (find_card_parts) and p has room for them.
void complete_iso_cards_to_standard(uint8_t* p, iso_edition edition, const card_parts& parts, uint32_t* image_x,
                                    uint32_t* image_y) {
    const bool v2011 = edition == iso_edition::v2011;
    if (parts.has_cell) {
        const uint32_t width = kCellScale / parts.cell.value[0];
        *image_x = width * parts.cell.value[1];
        *image_y = width * parts.cell.value[2];
    }
    const uint32_t points = points_block_bytes(parts);
    const uint32_t cell = cell_block_bytes(parts, v2011);
    zr_put_be16(p, uint16_t(points + cell));
    p += ISO_EXTENDED_LENGTH_BYTES;
    if (points != 0) {
        zr_put_be16(p, ZR_ISO_BLOCK_REF_POINTS);
        zr_put_be16(p + 2, uint16_t(points - ISO_BLOCK_HEADER));
        p += ISO_BLOCK_HEADER;
        p += put_points_from_card(p, parts.cores, parts.has_cores, kCoreAngles);
        p += put_points_from_card(p, parts.deltas, parts.has_deltas, kDeltaAngles);
    }
    if (cell != 0) {
        zr_put_be16(p, ZR_ISO_BLOCK_ZONAL_QUALITY);
        zr_put_be16(p + 2, uint16_t(cell - ISO_BLOCK_HEADER));
        p += ISO_BLOCK_HEADER;
        if (v2011) {
            zr_put_be16(p, kQualityVendor);
            zr_put_be16(p + 2, 0);
            p += kZonalVendorBytes;
        }
        const uint8_t width = uint8_t(kCellScale / parts.cell.value[0]);
        p[0] = width;
        p[1] = width;
        std::memcpy(p + 2, parts.cell.value + 3, parts.cell.length - 3);  // bits and codes
    }
}

zr_status card_to_standard(const uint8_t* card, uint32_t length, uint8_t** out_record, uint32_t* out_length,
                           bool v2011) {
    if (card == nullptr || out_record == nullptr) return ZR_BAD_ARGUMENT;
    card_parts parts{};
    if (const zr_status rc = find_card_parts(card, length, &parts); rc != ZR_OK) return rc;
    const uint32_t n = parts.minutiae.length / kCardMinutiaBytes;
    const uint32_t extended = points_block_bytes(parts) + cell_block_bytes(parts, v2011);
    if (extended > ISO_MAX_EXTENDED) return ZR_BAD_FORMAT;
    const uint32_t fixed = v2011 ? kV3Fixed : kV2Fixed;
    const uint32_t size = fixed + ISO_MINUTIA_BYTES * n + extended;
    auto* r = static_cast<uint8_t*>(zr_calloc(size, 1));
    if (r == nullptr) return ZR_NO_MEMORY;

    const uint8_t magic[8] = {'F', 'M', 'R', 0, uint8_t(v2011 ? '0' : ' '), uint8_t(v2011 ? '3' : '2'),
                              uint8_t(v2011 ? '0' : '0'), 0};
    std::memcpy(r, magic, sizeof magic);
    zr_put_be32(r + 8, size);
    uint32_t header;  // offset of the image size X
    uint8_t* minutiae;
    if (v2011) {
        zr_put_be16(r + 12, 1);
        zr_put_be32(r + ISO_V3_REPRESENTATION, kV3RepresentationFixed + ISO_MINUTIA_BYTES * n + extended);
        std::memset(r + 19, 0xFF, 9);
        zr_put_be16(r + 29, kRebuiltVendor);
        r[33] = 1;
        zr_put_be16(r + 35, kQualityVendor);
        zr_put_be16(r + 41, ZR_ISO_RESOLUTION_PPCM);
        zr_put_be16(r + 43, ZR_ISO_RESOLUTION_PPCM);
        header = 46;
        r[50] = 0x60;
        r[51] = uint8_t(n);
        minutiae = r + 52;
    } else {
        zr_put_be16(r + 18, ZR_ISO_RESOLUTION_PPCM);
        zr_put_be16(r + 20, ZR_ISO_RESOLUTION_PPCM);
        r[22] = 1;
        header = 14;
        r[27] = uint8_t(n);
        minutiae = r + ISO_V2_HEADER;
    }
    uint32_t max_x = 0, max_y = 0;
    for (uint32_t i = 0; i < n; ++i) {
        const uint8_t* c = parts.minutiae.value + i * kCardMinutiaBytes;
        const uint32_t x = to_pixel(c[0]), y = to_pixel(c[1]);
        max_x = x > max_x ? x : max_x;
        max_y = y > max_y ? y : max_y;
        uint8_t* m = minutiae + i * ISO_MINUTIA_BYTES;
        m[0] = uint8_t((c[2] & kTypeBits) | (x >> 8));
        m[1] = uint8_t(x);
        m[2] = uint8_t(y >> 8);
        m[3] = uint8_t(y);
        m[4] = uint8_t(c[2] << 2);
    }
    uint32_t image_x = (max_x + 2) & ~1u, image_y = (max_y + 2) & ~1u;
    complete_iso_cards_to_standard(minutiae + ISO_MINUTIA_BYTES * n, v2011 ? iso_edition::v2011 : iso_edition::v2005,
                                   parts, &image_x, &image_y);
    zr_put_be16(r + header, uint16_t(image_x));
    zr_put_be16(r + header + 2, uint16_t(image_y));
    *out_record = r;
    if (out_length != nullptr) *out_length = size;
    return ZR_OK;
}

// --- Proprietary part ---

// Indexes of the structure's minutiae that a card made from it holds, with the
// limit the card was made with.
uint32_t card_selection(const minutiastruct* s, uint32_t limit, uint8_t* out_index) {
    const uint32_t n = minutiae_taken(s->count, limit);
    point14 points[ZR_CC_MAX_MINUTIAE];
    for (uint32_t i = 0; i < n; ++i)
        points[i] = {uint16_t(uint16_t(s->minutiae[i].col) & ISO_COORDINATE_MASK),
                     uint16_t(uint16_t(s->minutiae[i].row) & ISO_COORDINATE_MASK)};
    const card_shift shift = shift_of(points, n);
    uint32_t kept = 0;
    for (uint32_t i = 0; i < n; ++i)
        if (fits_card(points[i], shift)) out_index[kept++] = uint8_t(i);
    return kept;
}

uint8_t proprietary_byte(const minutia& m) {
    uint32_t high = uint32_t(m.quality) * 16 / 100;
    if (high > kMaxProprietaryNibble) high = kMaxProprietaryNibble;
    return uint8_t((high << 4) | (m.ridge_period & 0x0F));
}

constexpr uint16_t kCopiedTags[] = {ZR_CC_TAG_MINUTIAE, ZR_CC_TAG_MINUTIAE_V2, ZR_CC_TAG_0x91, ZR_CC_TAG_CORES,
                                    ZR_CC_TAG_DELTAS,   ZR_CC_TAG_CELL_QUALITY, ZR_CC_TAG_0x95};

}  // namespace

zr_status zr_convert_iso_standard_to_compactcard(const uint8_t* record, uint32_t size, uint32_t limit,
                                                 uint8_t** out_card, uint32_t* out_length) {
    return standard_to_card(record, size, limit, out_card, out_length, iso_edition::none);
}

zr_status zr_convert_iso_v2_standard_to_compactcard(const uint8_t* record, uint32_t size, uint32_t limit,
                                                    uint8_t** out_card, uint32_t* out_length) {
    return standard_to_card(record, size, limit, out_card, out_length, iso_edition::v2005);
}

zr_status zr_convert_iso_v3_standard_to_compactcard(const uint8_t* record, uint32_t size, uint32_t limit,
                                                    uint8_t** out_card, uint32_t* out_length) {
    return standard_to_card(record, size, limit, out_card, out_length, iso_edition::v2011);
}

zr_status zr_convert_minutiastruct_to_iso_compactcard_v2(const minutiastruct* minutiae, uint32_t limit,
                                                         uint8_t** out_card, uint32_t* out_length) {
    return minutiae_to_card(minutiae, limit, out_card, out_length, zr_minutiastruct_to_iso19794_2_v2);
}

zr_status zr_convert_minutiastruct_to_iso_compactcard(const minutiastruct* minutiae, uint32_t limit,
                                                      uint8_t** out_card, uint32_t* out_length) {
    return minutiae_to_card(minutiae, limit, out_card, out_length, zr_minutiastruct_to_iso19794_2_v2);
}

zr_status zr_convert_minutiastruct_to_iso_compactcard_v3(const minutiastruct* minutiae, uint32_t limit,
                                                         uint8_t** out_card, uint32_t* out_length) {
    return minutiae_to_card(minutiae, limit, out_card, out_length, zr_minutiastruct_to_iso19794_2_v3);
}

zr_status zr_convert_iso_compactcard_to_standard_v2(const uint8_t* card, uint32_t length, uint8_t** out_record,
                                                    uint32_t* out_length) {
    return card_to_standard(card, length, out_record, out_length, false);
}

zr_status zr_convert_iso_compactcard_to_standard(const uint8_t* card, uint32_t length, uint8_t** out_record,
                                                 uint32_t* out_length) {
    return card_to_standard(card, length, out_record, out_length, false);
}

zr_status zr_convert_iso_compactcard_to_standard_v3(const uint8_t* card, uint32_t length, uint8_t** out_record,
                                                    uint32_t* out_length) {
    return card_to_standard(card, length, out_record, out_length, true);
}

zr_status zr_convert_iso_compactcard_to_minutiastruct(const uint8_t* card, uint32_t length, minutiastruct* out) {
    if (out == nullptr) return ZR_BAD_ARGUMENT;
    uint8_t* record = nullptr;
    uint32_t size = 0;
    if (const zr_status rc = card_to_standard(card, length, &record, &size, false); rc != ZR_OK) return rc;
    const zr_status rc = zr_iso19794_2_v2_to_minutiastruct(record, size, out);
    std::free(record);
    return rc;
}

zr_status zr_iso_compactcard_extend_proprietary_data(uint8_t** card, uint32_t* length,
                                                     const minutiastruct* minutiae) {
    if (card == nullptr || *card == nullptr || length == nullptr || minutiae == nullptr) return ZR_BAD_ARGUMENT;
    const uint8_t* old = *card;
    tlv_element root{};
    if (zr_cc_read_tag(old, *length, nullptr, 0, &root) != ZR_OK) return ZR_BAD_FORMAT;
    if (tlv_read(old, *length, &root) == 0 || root.length == 0) return ZR_BAD_FORMAT;

    // Find what the card holds before building anything.
    tlv_element parts[std::size(kCopiedTags)] = {};
    bool present[std::size(kCopiedTags)] = {};
    tlv_element a1{};
    uint32_t found = find_card_part(old, *length, ZR_CC_TAG_CARD, &a1) ? 1 : 0;
    for (size_t i = 0; i < std::size(kCopiedTags); ++i) {
        present[i] = find_card_part(old, *length, kCopiedTags[i], &parts[i]);
        found += present[i] ? 1 : 0;
    }
    tlv_element card_minutiae{};
    if (zr_cc_read_minutiae_data(old, *length, &card_minutiae) != ZR_OK) return ZR_BAD_FORMAT;
    const uint32_t card_count = card_minutiae.length / kCardMinutiaBytes;

    // The card was made with a limit of at least its count: try the widest one,
    // then the card's own count (a limit that cut the list, nothing left out).
    uint8_t index[ZR_CC_MAX_MINUTIAE];
    uint32_t kept = card_selection(minutiae, ZR_CC_MAX_MINUTIAE, index);
    if (kept != card_count) kept = card_selection(minutiae, card_count, index);
    if (kept != card_count) return ZR_BAD_DATA;
    uint8_t proprietary[kProprietaryMagicBytes + ZR_CC_MAX_MINUTIAE];
    std::memcpy(proprietary, ZR_CC_PROPRIETARY_MAGIC, kProprietaryMagicBytes);
    for (uint32_t i = 0; i < kept; ++i)
        proprietary[kProprietaryMagicBytes + i] = proprietary_byte(minutiae->minutiae[index[i]]);

    tree_owner tree;
    tree.root = tlv_create(ZR_CC_TAG_ROOT, 0, nullptr);
    zr_status rc = tree.root == nullptr ? ZR_NO_MEMORY : ZR_OK;
    tlv_node* parent = tree.root;
    if (rc == ZR_OK && found > 1) rc = add_constructed(tree.root, ZR_CC_TAG_CARD, &parent);
    for (size_t i = 0; rc == ZR_OK && i < std::size(kCopiedTags); ++i)
        if (present[i]) rc = add_primitive(parent, kCopiedTags[i], parts[i].length, parts[i].value);
    if (rc == ZR_OK)
        rc = add_primitive(tree.root, ZR_CC_TAG_PROPRIETARY, kProprietaryMagicBytes + kept, proprietary);
    uint8_t* rebuilt = nullptr;
    uint32_t rebuilt_length = 0;
    if (rc == ZR_OK) rc = write_card(tree.root, &rebuilt, &rebuilt_length);
    if (rc != ZR_OK) return rc;
    std::free(*card);
    *card = rebuilt;
    *length = rebuilt_length;
    return ZR_OK;
}
