// Fourier matcher record: conversion from the Fourier part, record reader,
// work-size query, quick histogram match, decision and verifier operations.
#include <cstdlib>
#include <cstring>

#include "match/fourier/zr_fourier.h"
#include "formats/zr_fourier_part.h"
#include "match/fourier/zr_fourier_internal.h"
#include "objects/zr_alloc.h"

namespace {

constexpr uint8_t kMagic0 = 0x5B;
constexpr uint8_t kMagic1 = 0xDA;
constexpr uint8_t kVersion = 2;
constexpr uint32_t kHeaderBytes = 10;
constexpr uint32_t kCellBytes = 2;
constexpr uint32_t kFineCellsPerBlock = 9;
constexpr uint32_t kFineBytesPerBlock = kFineCellsPerBlock * kCellBytes;
constexpr uint32_t kPackedStepsPerBlock = 8;
constexpr uint32_t kHintBytes = 4;
constexpr uint32_t kWrittenResolution = 500;
constexpr uint32_t kMaxRecordBytes = 65535;
constexpr uint32_t kMinWorkBytes = 48;
constexpr uint32_t kCanvasPadCells = 8;

constexpr uint8_t kFineGridRaw = 1;
constexpr uint8_t kFineGridPacked = 2;

// Plain-form header: block size, y offset, rows, x offset, cols.
constexpr uint32_t kPlainHeaderBytes = 5;
// Record form: 0x00, type 0, BE16 L.
constexpr uint32_t kRecordHeaderBytes = 4;
// Fine-grid record: type, BE16 M.
constexpr uint32_t kFineHeaderBytes = 3;

// Non-centre cells of a block in stream order (cell row, cell column).
constexpr uint8_t kPackedCellOrder[8][2] = {{0, 0}, {0, 1}, {0, 2}, {1, 0},
                                            {1, 2}, {2, 0}, {2, 1}, {2, 2}};

uint16_t read_be16(const uint8_t* p) { return uint16_t((uint32_t(p[0]) << 8) | p[1]); }

bool is_valid_cell(const uint8_t* cell) { return cell[1] != 0; }

enum class fine_grid_kind { none, raw, packed };

struct spectral_part_layout {
    const uint8_t* fields;  // the plain form
    uint32_t fields_length;
    bool record_form;
    uint32_t bytes_per_block;
    uint32_t blocks;
    uint8_t block_size;
    uint8_t rows;
    uint8_t cols;
    fine_grid_kind fine;
    const uint8_t* fine_data;  // the fine-grid record's value
    uint32_t fine_length;
};

// The form, the block fields and their header.
zr_status read_part_header(const uint8_t* part, int32_t length, spectral_part_layout* layout) {
    if (part == nullptr || length < int32_t(kRecordHeaderBytes)) return ZR_UNHANDLED_INPUT;
    const uint32_t total = uint32_t(length);
    if (part[0] != 0) {
        layout->record_form = false;
        layout->fields = part;
        layout->fields_length = total;
    } else {
        if (part[1] != 0) return ZR_BAD_FORMAT;
        layout->record_form = true;
        layout->fields_length = read_be16(part + 2);
        if (total < layout->fields_length + kRecordHeaderBytes) return ZR_BAD_DATA;
        layout->fields = part + kRecordHeaderBytes;
    }
    if (layout->fields_length < kPlainHeaderBytes) return ZR_UNHANDLED_INPUT;
    layout->block_size = layout->fields[0];
    layout->rows = layout->fields[2];
    layout->cols = layout->fields[4];
    layout->blocks = uint32_t(layout->rows) * layout->cols;
    return ZR_OK;
}

zr_status check_block_bytes(spectral_part_layout* layout) {
    const uint32_t cell_bytes = layout->fields_length - kPlainHeaderBytes;
    if (cell_bytes == 3 * layout->blocks) {
        layout->bytes_per_block = 3;
    } else if (cell_bytes == 2 * layout->blocks) {
        layout->bytes_per_block = 2;
    } else {
        return ZR_UNHANDLED_INPUT;
    }
    return ZR_OK;
}

// The fine-grid record after the first record, when wanted.
zr_status find_fine_grid(const uint8_t* part, uint32_t length, int32_t skip_fine_grid,
                         spectral_part_layout* layout) {
    layout->fine = fine_grid_kind::none;
    if (skip_fine_grid != 0 || !layout->record_form) return ZR_OK;
    const uint32_t start = kRecordHeaderBytes + layout->fields_length;
    if (length - start < kFineHeaderBytes) return ZR_OK;
    const uint8_t type = part[start];
    const uint32_t m = read_be16(part + start + 1);
    if (length < start + kFineHeaderBytes + m) return ZR_NOT_FOUND;
    layout->fine_data = part + start + kFineHeaderBytes;
    layout->fine_length = m;
    if (type == kFineGridRaw && m == kFineBytesPerBlock * layout->blocks) {
        layout->fine = fine_grid_kind::raw;
    } else if (type == kFineGridPacked) {
        // The two streams {BE16 P, P bytes} {BE16 Q, Q bytes} fill M exactly.
        if (m < 2) return ZR_NOT_FOUND;
        const uint32_t p = read_be16(layout->fine_data);
        if (2 + p + 2 > m) return ZR_NOT_FOUND;
        const uint32_t q = read_be16(layout->fine_data + 2 + p);
        if (p + q + 4 != m) return ZR_NOT_FOUND;
        layout->fine = fine_grid_kind::packed;
    }
    return ZR_OK;
}

void write_header_and_cells(const spectral_part_layout& layout, uint8_t* record) {
    record[0] = kMagic0;
    record[1] = kMagic1;
    record[2] = kVersion;
    record[3] = layout.block_size & 0x0F;
    record[4] = uint8_t(kWrittenResolution >> 8);
    record[5] = uint8_t(kWrittenResolution & 0xFF);
    record[6] = layout.cols;
    record[7] = layout.rows;
    record[8] = 0;
    record[9] = 0;
    const uint8_t* src = layout.fields + kPlainHeaderBytes;
    uint8_t* dst = record + kHeaderBytes;
    for (uint32_t b = 0; b < layout.blocks; ++b) {
        dst[0] = src[0];
        dst[1] = src[1];
        src += layout.bytes_per_block;
        dst += kCellBytes;
    }
}

// Fine-grid byte offset of cell (cell_row, cell_col) of the grid 3 cols wide.
uint32_t fine_cell_offset(uint32_t cell_row, uint32_t cell_col, uint32_t cols) {
    return (cell_row * 3 * cols + cell_col) * kCellBytes;
}

// Restores the fine grid from the two step arrays (8 steps a block).
void write_packed_fine_grid(const spectral_part_layout& layout, const int8_t* orientation_steps,
                            const int8_t* frequency_steps, const uint8_t* cells, uint8_t* fine) {
    const uint32_t cols = layout.cols;
    for (uint32_t r = 0; r < layout.rows; ++r) {
        for (uint32_t c = 0; c < cols; ++c) {
            const uint32_t block = r * cols + c;
            const uint8_t o = cells[block * kCellBytes];
            const uint8_t f = cells[block * kCellBytes + 1];
            uint8_t* centre = fine + fine_cell_offset(3 * r + 1, 3 * c + 1, cols);
            centre[0] = o;
            centre[1] = f;
            for (uint32_t k = 0; k < kPackedStepsPerBlock; ++k) {
                const uint32_t step = block * kPackedStepsPerBlock + k;
                uint8_t* cell = fine + fine_cell_offset(3 * r + kPackedCellOrder[k][0],
                                                        3 * c + kPackedCellOrder[k][1], cols);
                cell[0] = zr_fine_grid_restore(o, orientation_steps[step]);
                cell[1] = zr_fine_grid_restore(f, frequency_steps[step]);
            }
        }
    }
}

zr_status unpack_fine_grid(const spectral_part_layout& layout, uint8_t* record) {
    uint8_t* fine = record + kHeaderBytes + kCellBytes * layout.blocks;
    if (layout.fine == fine_grid_kind::raw) {
        std::memcpy(fine, layout.fine_data, kFineBytesPerBlock * layout.blocks);
        return ZR_OK;
    }
    const uint32_t steps = kPackedStepsPerBlock * layout.blocks;
    // Zero-filled, so that steps past the end of a short stream stay 0.
    auto* orientation_steps = static_cast<int8_t*>(zr_calloc(steps ? steps : 1, 2));
    if (orientation_steps == nullptr) return ZR_NO_MEMORY;
    int8_t* frequency_steps = orientation_steps + steps;
    const uint8_t* stream = layout.fine_data;
    const uint32_t p = read_be16(stream);
    const uint32_t q = read_be16(stream + 2 + p);
    uint32_t decoded = 0;
    // A short stream is accepted: its missing steps are 0.
    (void)unpack5v(stream + 2, int32_t(p), int32_t(steps), orientation_steps, &decoded);
    (void)unpack5v(stream + 4 + p, int32_t(q), int32_t(steps), frequency_steps, &decoded);
    write_packed_fine_grid(layout, orientation_steps, frequency_steps, record + kHeaderBytes,
                           fine);
    std::free(orientation_steps);
    return ZR_OK;
}

}  // namespace

zr_status zr_fusion_spectral_to_matcher(const uint8_t* part, int32_t length,
                                        uint8_t** out_record, uint16_t* out_record_length,
                                        uint32_t* out_y_offset, uint32_t* out_x_offset,
                                        uint16_t* out_rows, uint16_t* out_cols,
                                        int32_t skip_fine_grid, const uint8_t* quality,
                                        const uint8_t* direction_hint) {
    if (out_record != nullptr) *out_record = nullptr;
    spectral_part_layout layout{};
    zr_status status = read_part_header(part, length, &layout);
    if (status != ZR_OK) return status;
    if (out_y_offset != nullptr) *out_y_offset = uint32_t(int32_t(int8_t(layout.fields[1])));
    if (out_x_offset != nullptr) *out_x_offset = uint32_t(int32_t(int8_t(layout.fields[3])));
    if (out_rows != nullptr) *out_rows = layout.rows;
    if (out_cols != nullptr) *out_cols = layout.cols;
    status = check_block_bytes(&layout);
    if (status != ZR_OK) return status;
    if (out_record == nullptr) return ZR_OK;
    status = find_fine_grid(part, uint32_t(length), skip_fine_grid, &layout);
    if (status != ZR_OK) return status;

    // Computed in 32 bits: n reaches 65025, far past a u16 record.
    uint32_t record_length = kHeaderBytes + kCellBytes * layout.blocks;
    if (layout.fine != fine_grid_kind::none) record_length += kFineBytesPerBlock * layout.blocks;
    if (direction_hint != nullptr) record_length += kHintBytes;
    if (quality != nullptr) record_length += 1;
    if (record_length > kMaxRecordBytes) return ZR_UNHANDLED_INPUT;

    auto* record = static_cast<uint8_t*>(zr_calloc(record_length, 1));
    if (record == nullptr) return ZR_NO_MEMORY;
    write_header_and_cells(layout, record);
    if (layout.fine != fine_grid_kind::none) {
        status = unpack_fine_grid(layout, record);
        if (status != ZR_OK) {
            std::free(record);
            return status;
        }
    }
    uint8_t* tail = record + record_length;
    if (quality != nullptr) *--tail = *quality;
    if (direction_hint != nullptr) std::memcpy(tail - kHintBytes, direction_hint, kHintBytes);
    *out_record = record;
    if (out_record_length != nullptr) *out_record_length = uint16_t(record_length);
    return ZR_OK;
}

uint32_t unpack5v(const uint8_t* stream, int32_t length, int32_t wanted, int8_t* out_steps,
                  uint32_t* out_decoded) {
    if (out_decoded != nullptr) *out_decoded = 0;
    const uint32_t want = wanted > 0 ? uint32_t(wanted) : 0;
    if (stream == nullptr || length <= 0) return want > 0 ? ZR_UNPACK5V_SHORT : 0;
    const uint32_t decoded = zr_fine_grid_unpack(stream, uint32_t(length), want, out_steps);
    if (out_decoded != nullptr) *out_decoded = decoded;
    if (decoded < want) return ZR_UNPACK5V_SHORT;
    // Codes of +-2 take three bits, the others two.
    uint64_t bits = 0;
    for (uint32_t i = 0; i < decoded; ++i) bits += (out_steps[i] == 2 || out_steps[i] == -2) ? 3 : 2;
    return (bits + 7) / 8 < uint64_t(length) ? ZR_UNPACK5V_LEFT_OVER : 0;
}

zr_status spectral_read_record(const uint8_t* record, uint32_t length,
                               spectral_record_view* view) {
    *view = spectral_record_view{};
    if (record == nullptr || length <= 9 || length > kMaxRecordBytes) return ZR_UNHANDLED_INPUT;
    if (record[0] != kMagic0 || record[1] != kMagic1 || record[2] != kVersion) {
        return ZR_UNHANDLED_INPUT;
    }
    if (record[8] != 0 || record[9] != 0) {
        uint8_t check = 0;
        for (uint32_t i = 0; i < length; ++i) check ^= record[i];
        if (check != 0) return ZR_UNHANDLED_INPUT;
    }
    const uint8_t block_size = record[3];
    const uint16_t resolution = read_be16(record + 4);
    if (block_size == 0 || resolution == 0) return ZR_UNHANDLED_INPUT;
    const uint32_t blocks = uint32_t(record[6]) * record[7];
    const uint32_t cells_end = kHeaderBytes + kCellBytes * blocks;
    if (cells_end > length) return ZR_UNHANDLED_INPUT;
    uint32_t left = length - cells_end;
    const uint8_t* next = record + cells_end;
    spectral_record_view v{};
    v.cols = record[6];
    v.rows = record[7];
    v.block_size = block_size;
    v.resolution = resolution;
    v.cells = record + kHeaderBytes;
    if (left >= kFineBytesPerBlock * blocks) {
        v.fine_grid = next;
        next += kFineBytesPerBlock * blocks;
        left -= kFineBytesPerBlock * blocks;
    }
    if (left > 3) {
        v.direction_hint = next;
        next += kHintBytes;
        left -= kHintBytes;
    }
    if (left == 1) {
        v.quality = *next;
    } else if (left != 0) {
        return ZR_UNHANDLED_INPUT;
    }
    *view = v;
    return ZR_OK;
}

zr_status zr_spectral_unpack_template(const uint8_t* record, uint16_t length, uint8_t* out_cols,
                                      uint8_t* out_rows, uint8_t* out_block_size,
                                      uint16_t* out_resolution, const uint8_t** out_cells,
                                      const uint8_t** out_fine_grid, uint8_t* out_quality,
                                      const uint8_t** out_direction_hint) {
    spectral_record_view view{};
    const zr_status status = spectral_read_record(record, length, &view);
    if (status != ZR_OK) return status;
    if (out_cols != nullptr) *out_cols = view.cols;
    if (out_rows != nullptr) *out_rows = view.rows;
    if (out_block_size != nullptr) *out_block_size = view.block_size;
    if (out_resolution != nullptr) *out_resolution = view.resolution;
    if (out_cells != nullptr) *out_cells = view.cells;
    if (out_fine_grid != nullptr) *out_fine_grid = view.fine_grid;
    if (out_quality != nullptr) *out_quality = view.quality;
    if (out_direction_hint != nullptr) *out_direction_hint = view.direction_hint;
    return ZR_OK;
}

zr_status zr_spectral_to_idim(const uint8_t* record, uint16_t length, uint16_t* out_width,
                              uint16_t* out_height) {
    constexpr uint16_t kDefaultSide = 192;
    if (out_width != nullptr) *out_width = kDefaultSide;
    if (out_height != nullptr) *out_height = kDefaultSide;
    if (record == nullptr || length <= 9) return ZR_BAD_FORMAT;
    if (record[0] != kMagic0 || record[1] != kMagic1 || record[2] != kVersion) {
        return ZR_IMAGE_LIB_CODE_6;
    }
    const uint32_t r = read_be16(record + 4);
    if (r == 0) return ZR_OK;
    const uint32_t block = record[3];
    if (out_width != nullptr) *out_width = uint16_t((record[6] * block * 500 + r / 2) / r);
    if (out_height != nullptr) *out_height = uint16_t((record[7] * block * 500 + r / 2) / r);
    return ZR_OK;
}

bool spectral_pair_geometry_of(const spectral_record_view& probe,
                               const spectral_record_view& reference, uint32_t flags,
                               spectral_pair_geometry* out) {
    const uint64_t grid_factor = probe.fine_grid != nullptr ? 3 : 1;
    const uint64_t probe_cols = probe.cols * grid_factor;
    const uint64_t probe_rows = probe.rows * grid_factor;
    const uint64_t ref_cols = reference.cols * grid_factor;
    const uint64_t ref_rows = reference.rows * grid_factor;
    const uint64_t scale =
        ((uint64_t(probe.block_size) << 5) * reference.resolution / reference.block_size) /
        probe.resolution;
    uint64_t canvas_cols;
    uint64_t canvas_rows;
    if (flags & ZR_SPECTRAL_SQUARE_CANVAS) {
        canvas_cols = canvas_rows = (scale * (probe_rows > probe_cols ? probe_rows : probe_cols)) >> 5;
    } else {
        canvas_cols = (probe_cols * scale) >> 5;
        canvas_rows = (probe_rows * scale) >> 5;
    }
    const uint64_t max_cols = ZR_SPECTRAL_MAX_CANVAS_COLUMNS;
    const uint64_t max_rows = ZR_SPECTRAL_MAX_CANVAS_ROWS;
    if (probe_cols > max_cols || ref_cols > max_cols || canvas_cols > max_cols) return false;
    if (probe_rows > max_rows || ref_rows > max_rows || canvas_rows > max_rows) return false;
    uint64_t bytes = canvas_rows * (2 * canvas_cols + 2 * kCanvasPadCells) +
                     ref_rows * (2 * ref_cols + 2 * kCanvasPadCells);
    if (bytes < kMinWorkBytes) bytes = kMinWorkBytes;
    if (bytes > kMaxRecordBytes) return false;
    out->scale = uint32_t(scale);
    out->canvas_cols = uint32_t(canvas_cols);
    out->canvas_rows = uint32_t(canvas_rows);
    out->required_bytes = uint32_t(bytes);
    return true;
}

uint32_t zr_spectral_match_required_mem(const uint8_t* probe, uint32_t probe_length,
                                        const uint8_t* reference, uint32_t reference_length,
                                        uint8_t flags) {
    spectral_record_view p{};
    spectral_record_view r{};
    if (spectral_read_record(probe, probe_length, &p) != ZR_OK) return 0;
    if (spectral_read_record(reference, reference_length, &r) != ZR_OK) return 0;
    spectral_pair_geometry geometry{};
    if (!spectral_pair_geometry_of(p, r, flags, &geometry)) return 0;
    // A side of 0 cannot be matched; callers take the 1 as a byte count.
    if (geometry.canvas_cols == 0 || geometry.canvas_rows == 0) return 1;
    return geometry.required_bytes;
}

namespace {

constexpr uint32_t kFrequencyBins = 12;

uint32_t frequency_bin(uint8_t frequency) {
    const int32_t bin = (2 * int32_t(frequency) - 114) / 21;
    if (bin < 0) return 0;
    return bin >= int32_t(kFrequencyBins) ? kFrequencyBins - 1 : uint32_t(bin);
}

void frequency_histogram(const uint8_t* cells, uint32_t count, uint16_t out[kFrequencyBins]) {
    std::memset(out, 0, kFrequencyBins * sizeof(uint16_t));
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* cell = cells + i * kCellBytes;
        if (is_valid_cell(cell)) ++out[frequency_bin(cell[1])];
    }
}

}  // namespace

zr_status zr_spectral_quick_match(const uint8_t* probe, uint32_t probe_length,
                                  const uint8_t* reference, uint16_t reference_length,
                                  zr_spectral_quick_scores* out) {
    if (out != nullptr) *out = zr_spectral_quick_scores{};
    spectral_record_view p{};
    spectral_record_view r{};
    if (spectral_read_record(probe, probe_length, &p) != ZR_OK) return ZR_UNHANDLED_INPUT;
    const zr_status status = spectral_read_record(reference, reference_length, &r);
    if (status != ZR_OK) return status;
    const uint32_t probe_blocks = uint32_t(p.rows) * p.cols;
    if (probe_blocks == 0) return ZR_OK;
    const uint32_t reference_blocks = uint32_t(r.rows) * r.cols;

    uint16_t probe_hist[kSpectralOrientationBins];
    uint16_t ref_hist[kSpectralOrientationBins];
    (void)hist_ori(p.cells, p.cols, p.rows, probe_hist);
    (void)hist_ori(r.cells, r.cols, r.rows, ref_hist);
    uint32_t best = 0;
    for (uint32_t shift = 0; shift < kSpectralOrientationBins; ++shift) {
        const uint32_t sum = hist_ori_agreement(probe_hist, ref_hist, shift);
        if (sum > best) best = sum;
    }

    uint16_t probe_freq[kFrequencyBins];
    uint16_t ref_freq[kFrequencyBins];
    frequency_histogram(p.cells, probe_blocks, probe_freq);
    frequency_histogram(r.cells, reference_blocks, ref_freq);
    uint32_t frequency_sum = 0;
    for (uint32_t b = 0; b < kFrequencyBins; ++b) {
        frequency_sum += probe_freq[b] < ref_freq[b] ? probe_freq[b] : ref_freq[b];
    }
    if (out != nullptr) {
        out->orientation_agreement = uint16_t(best);
        out->frequency_agreement = uint16_t(frequency_sum);
    }
    return ZR_OK;
}

const uint16_t kSpectralThresholds[13] = {32768, 6078,  7050,  8630,  9147,  10137, 10507,
                                          11253, 11523, 12119, 12316, 12669, 12776};
const uint16_t kSpectralThresholds360[13] = {32768, 6699,  7536,  8972,  9453,  10385, 10728,
                                             11420, 11698, 12277, 12475, 12843, 12962};

zr_status zr_spectral_decision(uint16_t score, int32_t far_level, uint32_t* out_decision,
                               uint32_t flags) {
    if (out_decision == nullptr) return ZR_UNHANDLED_INPUT;
    if (far_level < 1 || far_level > 12) return ZR_UNHANDLED_INPUT;
    const uint16_t* table =
        (flags & ZR_SPECTRAL_MODE_360) ? kSpectralThresholds360 : kSpectralThresholds;
    *out_decision = table[far_level] < score ? 1 : 2;
    return ZR_OK;
}
