// The Fourier part of EHM and fusion templates (tag 0xC1): the orientation
// and ridge-frequency value of every block, optionally followed by the fine
// (3 x 3 cells a block) grids packed with a prefix code.
//
// Plain form (5 + 2n bytes, n = block rows x block columns):
//   0 u8 block size   1 i8 row offset   2 u8 block rows
//   3 i8 col offset   4 u8 block cols   5.. n x {orientation, frequency}
// Readers also accept 3 bytes a block (the third is skipped).
//
// Record form:
//   0 u8 0x00   1 u8 record type 0   2 BE16 L   4 the plain form (L bytes)
//   then u8 record type 2 (packed fine grid; readers accept 1 = raw, 18n
//   bytes), BE16 M = P + Q + 4, BE16 P, P bytes orientation stream,
//   BE16 Q, Q bytes frequency stream.
//
// Fine-grid coding: each block's eight outer cells, in the order (0,0) (0,1)
// (0,2) (1,0) (1,2) (2,0) (2,1) (2,2), give a step q from d = cell - block
// (|d| <= 1: 0; 2..5: +-1; 6 and more: +-2); a reader restores
// block + 4q (mod 256) and puts the block value in the centre cell. Steps are
// written most significant bit first with the prefix code 0 -> 00, +1 -> 01,
// -1 -> 11, +2 -> 101, -2 -> 100; the last byte is padded with zero bits.
#pragma once

#include <cstdint>

#include "formats/bal_template_container.h"
#include "objects/zr_result.h"

constexpr uint16_t ZR_SPECTRAL_TAG = 0xC1;
constexpr uint32_t ZR_SPECTRAL_HEADER_SIZE = 5;
constexpr uint8_t ZR_SPECTRAL_RECORD_MARK = 0x00;
constexpr uint8_t ZR_SPECTRAL_RECORD_BLOCKS = 0;
constexpr uint8_t ZR_SPECTRAL_RECORD_RAW_FINE = 1;
constexpr uint8_t ZR_SPECTRAL_RECORD_PACKED_FINE = 2;
constexpr uint32_t ZR_FINE_CELLS_PER_SIDE = 3;
constexpr uint32_t ZR_FINE_CELLS_PER_BLOCK = 9;
constexpr uint32_t ZR_FINE_STEPS_PER_BLOCK = 8;
// Raw fine grid: two bytes (orientation, frequency) a cell.
constexpr uint32_t ZR_FINE_RAW_BYTES_PER_BLOCK = 18;

// --- Fine-grid steps -------------------------------------------------------

// Quantised step -2..+2 of a cell against its block value (plain difference of
// the byte values, no wrap-around).
int8_t zr_fine_grid_step(uint8_t block_value, uint8_t cell_value);
// block_value + 4 * step, modulo 256.
uint8_t zr_fine_grid_restore(uint8_t block_value, int8_t step);

// Codes count steps (each -2..+2) into out[0..capacity); bytes written. Coding
// stops before a step whose code would pass the capacity, so the output never
// exceeds it.
uint32_t zr_fine_grid_pack(const int8_t* steps, uint32_t count, uint8_t* out, uint32_t capacity);
// Decodes at most wanted steps from stream[0..length) into out_steps; the
// number decoded. Stops early (fewer than wanted) when fewer than two bits
// remain or a three-bit code is cut off by the end of the stream.
uint32_t zr_fine_grid_unpack(const uint8_t* stream, uint32_t length, uint32_t wanted,
                             int8_t* out_steps);

// --- Writer ----------------------------------------------------------------

// 1 when both fields hold one value a block on the same grid of at least one
// block (the condition for writing a Fourier part), else 0.
int32_t zr_spectral_fields_agree(const zr_block_field* orientation, const zr_block_field* frequency);
// 1 when both fields also carry their fine grid (the record form is written).
int32_t zr_spectral_fields_have_fine(const zr_block_field* orientation,
                                     const zr_block_field* frequency);

// Writes the Fourier part of the two block fields into a new buffer (freed by
// the caller with free()); the header fields come from the orientation field.
// record_form selects the record form with the packed fine grids (both fields
// must carry them). Clears the outputs first. ZR_OK; ZR_BAD_ARGUMENT for a
// missing argument or record_form without fine grids; ZR_WRONG_TYPE when the
// fields do not agree (zr_spectral_fields_agree); ZR_BAD_DATA in record form
// when L, P, Q or M would not fit their 16 bits; ZR_NO_MEMORY.
[[nodiscard]] zr_status zr_spectral_part_write(const zr_block_field* orientation,
                                               const zr_block_field* frequency, int32_t record_form,
                                               uint8_t** out_part, uint32_t* out_length);

// --- Reader ----------------------------------------------------------------

enum zr_fine_grid_kind : uint8_t {
    ZR_FINE_NONE = 0,
    ZR_FINE_RAW = 1,     // fine_raw holds 18n bytes
    ZR_FINE_PACKED = 2,  // the two coded streams
};

// A read Fourier part; every pointer points into the part's bytes.
struct zr_spectral_part_view {
    uint8_t block_size;
    int8_t row_offset;
    uint8_t block_rows;
    int8_t col_offset;
    uint8_t block_cols;
    uint8_t bytes_per_block;  // 2 or 3
    uint8_t record_form;      // 1 for the record form
    zr_fine_grid_kind fine_kind;
    const uint8_t* blocks;  // n x bytes_per_block: orientation, frequency[, skipped]
    const uint8_t* fine_raw;
    const uint8_t* orientation_stream;
    uint32_t orientation_stream_length;
    const uint8_t* frequency_stream;
    uint32_t frequency_stream_length;
};

// Reads a Fourier part of length bytes (bounded: nothing outside
// part[0..length) is read). Clears the view first. ZR_OK; ZR_BAD_ARGUMENT for
// a missing view or bytes; ZR_BAD_FORMAT for a record form whose first record type
// is not 0; ZR_BAD_DATA when the block fields are shorter than 5 bytes, their
// length is neither 5 + 2n nor 5 + 3n, a record overruns the part, or a
// packed stream overruns its record. A second record of another type, or a
// raw one of the wrong size, leaves fine_kind ZR_FINE_NONE. The sum P + Q + 4
// is not compared with M.
[[nodiscard]] zr_status zr_spectral_part_read(const uint8_t* part, uint32_t length,
                                              zr_spectral_part_view* out_view);

// Rebuilds the two fine grids ((3 x block rows) x (3 x block columns) bytes
// each, row-major) of a view that has one; either output may be null. Cells
// whose steps a short stream lacks keep the block value. ZR_OK;
// ZR_BAD_ARGUMENT for a missing view; ZR_NOT_FOUND when the view has no fine
// grid.
[[nodiscard]] zr_status zr_spectral_part_fine_grids(const zr_spectral_part_view* view,
                                                    uint8_t* out_orientation_fine,
                                                    uint8_t* out_frequency_fine);
