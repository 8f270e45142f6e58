// Fitting the minutiae of a large image into the compact card's window.
#include <cstring>

#include "formats/zr_iso_compactcard.h"

namespace {

constexpr int32_t kFirstOutside = ZR_CC_WINDOW + 1;  // 493
constexpr uint32_t kFineCellsPerBlock = 3;

struct window_shift {
    int32_t blocks_x;
    int32_t blocks_y;
    int32_t dx;
    int32_t dy;
};

// Blocks to drop so that `largest` lands inside the window (one block even
// when it is already within B - 1 below 492).
int32_t blocks_to_shift(int32_t largest, int32_t block) {
    const int32_t k = (largest - ZR_CC_WINDOW) / block + 1;
    return k > 0 ? k : 0;
}

// Drops `drop_rows` rows and `drop_cols` columns from the front of a
// rows x cols grid, in place (each value moves only towards the front).
void crop_grid(uint8_t* values, uint32_t rows, uint32_t cols, uint32_t drop_rows, uint32_t drop_cols) {
    if (values == nullptr) return;
    const uint32_t new_rows = drop_rows < rows ? rows - drop_rows : 0;
    const uint32_t new_cols = drop_cols < cols ? cols - drop_cols : 0;
    for (uint32_t r = 0; r < new_rows; ++r)
        std::memmove(values + r * new_cols, values + (r + drop_rows) * cols + drop_cols, new_cols);
}

uint8_t shrink(uint8_t count, int32_t by) { return by < count ? uint8_t(count - by) : 0; }

void crop_field(zr_block_field* field, const window_shift& shift) {
    if (field->block_rows == 0) return;
    const uint32_t rows = field->block_rows, cols = field->block_cols;
    crop_grid(field->values, rows, cols, uint32_t(shift.blocks_y), uint32_t(shift.blocks_x));
    crop_grid(field->fine, rows * kFineCellsPerBlock, cols * kFineCellsPerBlock,
              uint32_t(shift.blocks_y) * kFineCellsPerBlock, uint32_t(shift.blocks_x) * kFineCellsPerBlock);
    field->block_rows = shrink(field->block_rows, shift.blocks_y);
    field->block_cols = shrink(field->block_cols, shift.blocks_x);
}

// Moves the points and keeps those still at or right of 0 and at or below 0.
void shift_points(zr_reference_points* points, const window_shift& shift) {
    const uint32_t count = points->count < ZR_MAX_REFERENCE_POINTS ? points->count : ZR_MAX_REFERENCE_POINTS;
    uint32_t kept = 0;
    for (uint32_t i = 0; i < count; ++i) {
        zr_reference_point p = points->points[i];
        if (int32_t(p.col) < shift.dx || int32_t(p.row) < shift.dy) continue;
        p.col = uint16_t(p.col - shift.dx);
        p.row = uint16_t(p.row - shift.dy);
        points->points[kept++] = p;
    }
    for (uint32_t i = kept; i < count; ++i) points->points[i] = {};
    points->count = uint8_t(kept);
}

void shift_minutiae(minutiastruct* s, const window_shift& shift) {
    uint32_t kept = 0;
    for (uint32_t i = 0; i < s->count; ++i) {
        minutia m = s->minutiae[i];
        const int32_t col = m.col - shift.dx, row = m.row - shift.dy;
        if (col < 0 || row < 0) continue;
        m.col = int16_t(col);
        m.row = int16_t(row);
        s->minutiae[kept++] = m;
    }
    for (uint32_t i = kept; i < s->count; ++i) s->minutiae[i] = {};
    s->count = uint8_t(kept);
}

uint16_t shrink16(uint16_t size, int32_t by) { return by < size ? uint16_t(size - by) : 0; }

}  // namespace

void zr_normalize_for_isocc(zr_template_container* container) {
    if (container == nullptr) return;
    minutiastruct& s = container->minutiae;
    if (s.count == 0 || (s.rows < kFirstOutside && s.cols < kFirstOutside)) return;
    int32_t min_x = s.minutiae[0].col, max_x = min_x, min_y = s.minutiae[0].row, max_y = min_y;
    for (uint32_t i = 1; i < s.count; ++i) {
        const minutia& m = s.minutiae[i];
        min_x = m.col < min_x ? m.col : min_x;
        max_x = m.col > max_x ? m.col : max_x;
        min_y = m.row < min_y ? m.row : min_y;
        max_y = m.row > max_y ? m.row : max_y;
    }
    if (max_x < kFirstOutside && max_y < kFirstOutside) return;
    if (max_x - min_x > ZR_CC_WINDOW || max_y - min_y > ZR_CC_WINDOW) return;
    const zr_block_field& orientation = container->orientation;
    const int32_t block = (orientation.block_rows != 0 && orientation.block_size != 0) ? orientation.block_size : 1;
    window_shift shift{blocks_to_shift(max_x, block), blocks_to_shift(max_y, block), 0, 0};
    shift.dx = shift.blocks_x * block;
    shift.dy = shift.blocks_y * block;
    shift_minutiae(&s, shift);
    shift_points(&container->cores, shift);
    shift_points(&container->deltas, shift);
    crop_field(&container->orientation, shift);
    crop_field(&container->frequency, shift);
    s.rows = shrink16(s.rows, shift.dy);
    s.cols = shrink16(s.cols, shift.dx);
}
