#include "formats/zr_fourier_part.h"

#include <cstdlib>

#include "objects/zr_alloc.h"
#include "objects/zr_byte_order.h"

namespace {

constexpr uint32_t kMaxField16 = 0xFFFF;
// |d| up to this gives a step of at most 1; beyond it the step is 2.
constexpr int32_t kSmallDifference = 5;
constexpr int32_t kStepUnit = 4;
// Bits of the longest code; a stream never needs more than 3 bits a step.
constexpr uint32_t kMaxCodeBits = 3;
// Record header (mark, type, BE16 L) and the second record's fixed fields
// (type, BE16 M, BE16 P, BE16 Q).
constexpr uint32_t kRecordHeaderSize = 4;
constexpr uint32_t kFineRecordHeaderSize = 3;
constexpr uint32_t kStreamLengthSize = 2;

// Cell positions of the eight coded cells within a block, in coding order.
struct fine_cell {
    uint8_t row;
    uint8_t col;
};
constexpr fine_cell kCodedCells[ZR_FINE_STEPS_PER_BLOCK] = {
    {0, 0}, {0, 1}, {0, 2}, {1, 0}, {1, 2}, {2, 0}, {2, 1}, {2, 2},
};

// Appends bits most significant first into out[0..capacity).
class bit_writer {
public:
    bit_writer(uint8_t* out, uint32_t capacity) : out_(out), capacity_bits_(capacity * 8) {}

    // False (nothing written) when the code does not fit.
    bool put(uint32_t code, uint32_t bits) {
        if (bit_count_ + bits > capacity_bits_) return false;
        for (uint32_t i = bits; i-- > 0;) {
            const uint32_t byte = bit_count_ >> 3;
            if ((bit_count_ & 7) == 0) out_[byte] = 0;
            if ((code >> i) & 1) out_[byte] = uint8_t(out_[byte] | (0x80u >> (bit_count_ & 7)));
            ++bit_count_;
        }
        return true;
    }

    bool put_step(int8_t step) {
        switch (step) {
            case 0: return put(0b00, 2);
            case 1: return put(0b01, 2);
            case -1: return put(0b11, 2);
            case 2: return put(0b101, 3);
            default: return put(0b100, 3);
        }
    }

    uint32_t bytes() const { return (bit_count_ + 7) >> 3; }

private:
    uint8_t* out_;
    uint32_t capacity_bits_;
    uint32_t bit_count_ = 0;
};

// Reads the prefix code most significant bit first from stream[0..length).
class bit_reader {
public:
    bit_reader(const uint8_t* stream, uint32_t length) : stream_(stream), total_bits_(length * 8ull) {}

    // False when the stream has no whole code left.
    bool next_step(int8_t* step) {
        if (remaining() < 2) return false;
        const uint32_t first = bit(), second = bit();
        if (first == 0) {
            *step = second ? 1 : 0;
            return true;
        }
        if (second == 1) {
            *step = -1;
            return true;
        }
        if (remaining() < 1) return false;
        *step = bit() ? 2 : -2;
        return true;
    }

private:
    uint64_t remaining() const { return total_bits_ - position_; }
    uint32_t bit() {
        const uint32_t value = (stream_[position_ >> 3] >> (7 - (position_ & 7))) & 1;
        ++position_;
        return value;
    }

    const uint8_t* stream_;
    uint64_t total_bits_;
    uint64_t position_ = 0;
};

uint32_t block_count(const zr_block_field* field) {
    return uint32_t(field->block_rows) * field->block_cols;
}

bool has_fine(const zr_block_field* field) {
    return (field->flags & ZR_FIELD_FINE) != 0 && field->fine != nullptr;
}

// Index of cell (cell_row, cell_col) of block (row, col) in a fine grid of
// 3 x cols cells a row.
uint32_t fine_index(uint32_t row, uint32_t col, uint32_t cols, fine_cell cell) {
    const uint32_t fine_cols = cols * ZR_FINE_CELLS_PER_SIDE;
    return (row * ZR_FINE_CELLS_PER_SIDE + cell.row) * fine_cols + col * ZR_FINE_CELLS_PER_SIDE +
           cell.col;
}

void write_plain(const zr_block_field* orientation, const zr_block_field* frequency, uint8_t* out) {
    out[0] = orientation->block_size;
    out[1] = uint8_t(orientation->row_offset);
    out[2] = orientation->block_rows;
    out[3] = uint8_t(orientation->col_offset);
    out[4] = orientation->block_cols;
    const uint32_t n = block_count(orientation);
    uint8_t* cells = out + ZR_SPECTRAL_HEADER_SIZE;
    for (uint32_t i = 0; i < n; ++i) {
        cells[2 * i] = orientation->values[i];
        cells[2 * i + 1] = frequency->values[i];
    }
}

// Codes the fine grid of one field; bytes written into out[0..capacity).
uint32_t pack_field(const zr_block_field* field, uint8_t* out, uint32_t capacity) {
    bit_writer writer(out, capacity);
    const uint32_t rows = field->block_rows, cols = field->block_cols;
    for (uint32_t r = 0; r < rows; ++r) {
        for (uint32_t c = 0; c < cols; ++c) {
            const uint8_t block = field->values[r * cols + c];
            for (const fine_cell cell : kCodedCells) {
                const uint8_t value = field->fine[fine_index(r, c, cols, cell)];
                if (!writer.put_step(zr_fine_grid_step(block, value))) return writer.bytes();
            }
        }
    }
    return writer.bytes();
}

// Writes BE16 length + coded stream at out; false when the stream length
// does not fit 16 bits. *written receives the bytes used.
bool write_stream(const zr_block_field* field, uint8_t* out, uint32_t capacity, uint32_t* written) {
    const uint32_t length = pack_field(field, out + kStreamLengthSize, capacity);
    if (length > kMaxField16) return false;
    zr_put_be16(out, uint16_t(length));
    *written = kStreamLengthSize + length;
    return true;
}

zr_status write_record(const zr_block_field* orientation, const zr_block_field* frequency,
                       uint8_t* out, uint32_t stream_capacity, uint32_t* out_length) {
    const uint32_t n = block_count(orientation);
    const uint32_t plain_length = ZR_SPECTRAL_HEADER_SIZE + 2 * n;
    if (plain_length > kMaxField16) return ZR_BAD_DATA;
    out[0] = ZR_SPECTRAL_RECORD_MARK;
    out[1] = ZR_SPECTRAL_RECORD_BLOCKS;
    zr_put_be16(out + 2, uint16_t(plain_length));
    write_plain(orientation, frequency, out + kRecordHeaderSize);

    uint8_t* fine = out + kRecordHeaderSize + plain_length;
    fine[0] = ZR_SPECTRAL_RECORD_PACKED_FINE;
    uint8_t* streams = fine + kFineRecordHeaderSize;
    uint32_t orientation_bytes = 0, frequency_bytes = 0;
    if (!write_stream(orientation, streams, stream_capacity, &orientation_bytes)) return ZR_BAD_DATA;
    if (!write_stream(frequency, streams + orientation_bytes, stream_capacity, &frequency_bytes))
        return ZR_BAD_DATA;
    const uint32_t m = orientation_bytes + frequency_bytes;  // P + Q + 4
    if (m > kMaxField16) return ZR_BAD_DATA;
    zr_put_be16(fine + 1, uint16_t(m));
    *out_length = kRecordHeaderSize + plain_length + kFineRecordHeaderSize + m;
    return ZR_OK;
}

// Reads the second record of a record form (at rest[0..length)).
zr_status read_fine_record(const uint8_t* rest, uint32_t length, uint32_t n,
                           zr_spectral_part_view* view) {
    if (length < kFineRecordHeaderSize) return ZR_OK;
    const uint8_t type = rest[0];
    const uint32_t m = zr_get_be16(rest + 1);
    if (m > length - kFineRecordHeaderSize) return ZR_BAD_DATA;
    const uint8_t* record = rest + kFineRecordHeaderSize;
    if (type == ZR_SPECTRAL_RECORD_RAW_FINE) {
        if (uint64_t(m) == uint64_t(n) * ZR_FINE_RAW_BYTES_PER_BLOCK) {
            view->fine_kind = ZR_FINE_RAW;
            view->fine_raw = record;
        }
        return ZR_OK;
    }
    if (type != ZR_SPECTRAL_RECORD_PACKED_FINE) return ZR_OK;
    if (m < kStreamLengthSize) return ZR_BAD_DATA;
    const uint32_t p = zr_get_be16(record);
    if (p > m - kStreamLengthSize) return ZR_BAD_DATA;
    const uint32_t after_p = kStreamLengthSize + p;
    if (m - after_p < kStreamLengthSize) return ZR_BAD_DATA;
    const uint32_t q = zr_get_be16(record + after_p);
    if (q > m - after_p - kStreamLengthSize) return ZR_BAD_DATA;
    view->fine_kind = ZR_FINE_PACKED;
    view->orientation_stream = record + kStreamLengthSize;
    view->orientation_stream_length = p;
    view->frequency_stream = record + after_p + kStreamLengthSize;
    view->frequency_stream_length = q;
    return ZR_OK;
}

void rebuild_packed(const zr_spectral_part_view* view, uint32_t value_index,
                    const uint8_t* stream, uint32_t stream_length, uint8_t* out) {
    bit_reader reader(stream, stream_length);
    const uint32_t rows = view->block_rows, cols = view->block_cols;
    for (uint32_t r = 0; r < rows; ++r) {
        for (uint32_t c = 0; c < cols; ++c) {
            const uint8_t block = view->blocks[(r * cols + c) * view->bytes_per_block + value_index];
            out[fine_index(r, c, cols, {1, 1})] = block;
            for (const fine_cell cell : kCodedCells) {
                int8_t step = 0;
                if (!reader.next_step(&step)) step = 0;
                out[fine_index(r, c, cols, cell)] = zr_fine_grid_restore(block, step);
            }
        }
    }
}

void rebuild_raw(const zr_spectral_part_view* view, uint32_t value_index, uint8_t* out) {
    const uint32_t cells = uint32_t(view->block_rows) * view->block_cols * ZR_FINE_CELLS_PER_BLOCK;
    for (uint32_t i = 0; i < cells; ++i) out[i] = view->fine_raw[2 * i + value_index];
}

}  // namespace

int8_t zr_fine_grid_step(uint8_t block_value, uint8_t cell_value) {
    const int32_t d = int32_t(cell_value) - int32_t(block_value);
    const int32_t magnitude = d < 0 ? -d : d;
    const int32_t step = magnitude <= kSmallDifference ? (magnitude + 2) >> 2 : 2;
    return int8_t(d < 0 ? -step : step);
}

uint8_t zr_fine_grid_restore(uint8_t block_value, int8_t step) {
    return uint8_t(uint32_t(block_value) + uint32_t(int32_t(step) * kStepUnit));
}

uint32_t zr_fine_grid_pack(const int8_t* steps, uint32_t count, uint8_t* out, uint32_t capacity) {
    if (steps == nullptr || out == nullptr) return 0;
    bit_writer writer(out, capacity);
    for (uint32_t i = 0; i < count; ++i) {
        if (!writer.put_step(steps[i])) break;
    }
    return writer.bytes();
}

uint32_t zr_fine_grid_unpack(const uint8_t* stream, uint32_t length, uint32_t wanted,
                             int8_t* out_steps) {
    if (stream == nullptr || out_steps == nullptr) return 0;
    bit_reader reader(stream, length);
    uint32_t decoded = 0;
    while (decoded < wanted && reader.next_step(&out_steps[decoded])) ++decoded;
    return decoded;
}

int32_t zr_spectral_fields_agree(const zr_block_field* orientation, const zr_block_field* frequency) {
    if (orientation == nullptr || frequency == nullptr) return 0;
    if (orientation->values == nullptr || frequency->values == nullptr) return 0;
    if (block_count(orientation) == 0) return 0;
    return orientation->block_rows == frequency->block_rows &&
           orientation->block_cols == frequency->block_cols;
}

int32_t zr_spectral_fields_have_fine(const zr_block_field* orientation,
                                     const zr_block_field* frequency) {
    if (orientation == nullptr || frequency == nullptr) return 0;
    return has_fine(orientation) && has_fine(frequency);
}

zr_status zr_spectral_part_write(const zr_block_field* orientation, const zr_block_field* frequency,
                                 int32_t record_form, uint8_t** out_part, uint32_t* out_length) {
    if (out_part != nullptr) *out_part = nullptr;
    if (out_length != nullptr) *out_length = 0;
    if (orientation == nullptr || frequency == nullptr || out_part == nullptr || out_length == nullptr)
        return ZR_BAD_ARGUMENT;
    if (!zr_spectral_fields_agree(orientation, frequency)) return ZR_WRONG_TYPE;
    if (record_form && !zr_spectral_fields_have_fine(orientation, frequency)) return ZR_BAD_ARGUMENT;

    const uint32_t n = block_count(orientation);
    const uint32_t plain_length = ZR_SPECTRAL_HEADER_SIZE + 2 * n;
    // 8n steps of at most 3 bits each.
    const uint32_t stream_capacity = (ZR_FINE_STEPS_PER_BLOCK * n * kMaxCodeBits + 7) / 8;
    const uint32_t capacity = record_form ? kRecordHeaderSize + plain_length + kFineRecordHeaderSize +
                                                2 * (kStreamLengthSize + stream_capacity)
                                          : plain_length;
    auto* part = static_cast<uint8_t*>(zr_malloc(capacity));
    if (part == nullptr) return ZR_NO_MEMORY;

    uint32_t length = plain_length;
    if (record_form) {
        const zr_status status = write_record(orientation, frequency, part, stream_capacity, &length);
        if (status != ZR_OK) {
            std::free(part);
            return status;
        }
    } else {
        write_plain(orientation, frequency, part);
    }
    *out_part = part;
    *out_length = length;
    return ZR_OK;
}

zr_status zr_spectral_part_read(const uint8_t* part, uint32_t length, zr_spectral_part_view* out_view) {
    if (out_view != nullptr) *out_view = {};
    if (out_view == nullptr || (part == nullptr && length != 0)) return ZR_BAD_ARGUMENT;
    if (length == 0) return ZR_BAD_DATA;

    const uint8_t* fields = part;
    uint32_t fields_length = length;
    const bool record_form = part[0] == ZR_SPECTRAL_RECORD_MARK;
    if (record_form) {
        if (length < kRecordHeaderSize) return ZR_BAD_DATA;
        if (part[1] != ZR_SPECTRAL_RECORD_BLOCKS) return ZR_BAD_FORMAT;
        fields_length = zr_get_be16(part + 2);
        if (fields_length > length - kRecordHeaderSize) return ZR_BAD_DATA;
        fields = part + kRecordHeaderSize;
    }
    if (fields_length < ZR_SPECTRAL_HEADER_SIZE) return ZR_BAD_DATA;

    zr_spectral_part_view view{};
    view.block_size = fields[0];
    view.row_offset = int8_t(fields[1]);
    view.block_rows = fields[2];
    view.col_offset = int8_t(fields[3]);
    view.block_cols = fields[4];
    view.record_form = record_form ? 1 : 0;
    view.blocks = fields + ZR_SPECTRAL_HEADER_SIZE;
    const uint32_t n = uint32_t(view.block_rows) * view.block_cols;
    if (fields_length == ZR_SPECTRAL_HEADER_SIZE + 3 * n) {
        view.bytes_per_block = 3;
    } else if (fields_length == ZR_SPECTRAL_HEADER_SIZE + 2 * n) {
        view.bytes_per_block = 2;
    } else {
        return ZR_BAD_DATA;
    }
    if (record_form) {
        const uint32_t used = kRecordHeaderSize + fields_length;
        const zr_status status = read_fine_record(part + used, length - used, n, &view);
        if (status != ZR_OK) return status;
    }
    *out_view = view;
    return ZR_OK;
}

zr_status zr_spectral_part_fine_grids(const zr_spectral_part_view* view,
                                      uint8_t* out_orientation_fine, uint8_t* out_frequency_fine) {
    if (view == nullptr) return ZR_BAD_ARGUMENT;
    if (view->fine_kind == ZR_FINE_NONE) return ZR_NOT_FOUND;
    uint8_t* outputs[2] = {out_orientation_fine, out_frequency_fine};
    const uint8_t* streams[2] = {view->orientation_stream, view->frequency_stream};
    const uint32_t stream_lengths[2] = {view->orientation_stream_length,
                                        view->frequency_stream_length};
    for (uint32_t i = 0; i < 2; ++i) {
        if (outputs[i] == nullptr) continue;
        if (view->fine_kind == ZR_FINE_RAW) {
            rebuild_raw(view, i, outputs[i]);
        } else {
            rebuild_packed(view, i, streams[i], stream_lengths[i], outputs[i]);
        }
    }
    return ZR_OK;
}
