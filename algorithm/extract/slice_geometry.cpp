#include "extract/slice_geometry.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "math/zr_trig.h"
#include "objects/zr_alloc.h"

namespace {

// Strip rows, step, margin, merge distance squared, merge angle.
constexpr slice_strip_params kStripTable[SLICE_TABLE_ROWS] = {
    {48, 12, 12, 25, 32},
    {60, 24, 12, 25, 32},
    {72, 36, 12, 25, 32},
    {84, 48, 12, 25, 32},
    {96, 60, 12, 25, 32},
};

constexpr int32_t kLargestSliceRows = 96;
constexpr int32_t kSmallestSliceRows = 48;
constexpr int32_t kSliceRowsPerTableRow = 12;
constexpr uint32_t kTarget500 = 500;
constexpr uint32_t kTarget250 = 250;
constexpr uint32_t kTolerance500 = 8;
constexpr uint32_t kMinRows500 = 24;        // fewer working rows (at 500 dpi) are too small
constexpr uint32_t kFieldBlock = 12;        // block size of the merged fields at 500 dpi
constexpr uint32_t kMaxCoordinate = 32767;  // minutia coordinates are 16-bit
constexpr uint16_t kResolutionPpcm = 197;   // 500 dpi in pixels a centimetre

uint32_t distance(uint32_t a, uint32_t b) { return a > b ? a - b : b - a; }

uint32_t ceil_div(uint64_t a, uint64_t b) { return static_cast<uint32_t>((a + b - 1) / b); }

bool same_minutia(const minutia& a, const minutia& b, const slice_strip_params& t) {
    const int32_t dy = int32_t(a.row) - b.row;
    const int32_t dx = int32_t(a.col) - b.col;
    return int32_t(zr_angle_difference(a.angle, b.angle)) < t.merge_angle &&
           dy * dy + dx * dx < t.merge_distance_sq;
}

// Folds the strip's minutia into the merged one: halved sums, the angle on
// the circle. The ridge-period byte stays.
void average_into(minutia& merged, const minutia& m) {
    merged.row = static_cast<int16_t>((int32_t(merged.row) + m.row) / 2);
    merged.col = static_cast<int16_t>((int32_t(merged.col) + m.col) / 2);
    merged.angle = zr_angle_average(merged.angle, m.angle);
    merged.type = static_cast<uint8_t>((uint32_t(merged.type) + m.type) / 2);
    merged.quality = static_cast<uint8_t>((uint32_t(merged.quality) + m.quality) / 2);
}

void append(minutiastruct& list, const minutia& m) {
    if (list.count < ZR_MAX_MINUTIAE) list.minutiae[list.count++] = m;
}

void merge_or_append(minutiastruct& list, const minutia& m, const slice_strip_params& t) {
    for (uint32_t i = 0; i < list.count; ++i) {
        if (same_minutia(list.minutiae[i], m, t)) {
            average_into(list.minutiae[i], m);
            return;
        }
    }
    append(list, m);
}

void merge_minutiae(slice_merge& merge, const slice_geometry& g, uint32_t strip, const minutiastruct& found) {
    const slice_strip_params& t = g.table;
    const int32_t top = int32_t(strip) * t.step;
    const int32_t inner_top = top + t.margin;
    const int32_t inner_bottom = top + t.strip_rows - t.margin;
    const bool last = strip + 1 == g.strip_count;
    for (uint32_t i = 0; i < found.count; ++i) {
        const minutia& m = found.minutiae[i];
        const int32_t y = m.row;
        if (strip == 0 && y < inner_bottom)
            append(merge.minutiae, m);
        else if (strip > 0 && y > inner_top && y < inner_bottom)
            merge_or_append(merge.minutiae, m, t);
        if (last && y >= inner_bottom) append(merge.minutiae, m);
    }
}

// The strip's fields must exist, agree with each other and, after strip 0,
// with the merged ones.
bool fields_match(const slice_merge& merge, uint32_t strip, const zr_template_container& c) {
    const zr_block_field& o = c.orientation;
    const zr_block_field& f = c.frequency;
    if (o.values == nullptr || f.values == nullptr) return false;
    if (o.block_rows != f.block_rows || o.block_cols != f.block_cols || o.row_offset != f.row_offset ||
        o.block_size != f.block_size || o.block_size == 0)
        return false;
    if (strip == 0) return o.block_cols <= merge.capacity_cols;
    return o.block_cols == merge.field_cols && o.block_size == merge.block_size;
}

zr_status merge_fields(slice_merge& merge, uint32_t strip, const zr_template_container& c) {
    if (!fields_match(merge, strip, c)) return ZR_FAILURE;
    const zr_block_field& o = c.orientation;
    if (strip == 0) {
        merge.field_cols = o.block_cols;
        merge.block_size = o.block_size;
    }
    // Strips after the first leave their two top block rows to the strip above.
    constexpr uint32_t kSkippedRows = 2;
    const uint32_t first = strip == 0 ? 0 : kSkippedRows;
    const uint32_t cols = merge.field_cols;
    for (uint32_t row = first; row < o.block_rows; ++row) {
        const int64_t y = int64_t(o.row_offset) + int64_t(row) * merge.block_size;
        if (y < 0) return ZR_FAILURE;
        const uint64_t dest = uint64_t(y) / merge.block_size;
        if (dest >= merge.capacity_rows) return ZR_FAILURE;
        std::memcpy(merge.orientation + dest * cols, o.values + size_t{row} * cols, cols);
        std::memcpy(merge.frequency + dest * cols, c.frequency.values + size_t{row} * cols, cols);
        merge.field_rows = std::max(merge.field_rows, uint32_t(dest) + 1);
    }
    return ZR_OK;
}

}  // namespace

uint32_t slice_strip_table_index(int32_t slice_rows) {
    const int32_t rows = slice_rows < kLargestSliceRows + 1 ? slice_rows : kLargestSliceRows;
    if (rows < kSmallestSliceRows) return SLICE_TABLE_ROWS - 1;
    return uint32_t((rows - kSmallestSliceRows) / kSliceRowsPerTableRow);
}

const slice_strip_params& slice_strip_table_row(uint32_t index) {
    return kStripTable[std::min(index, SLICE_TABLE_ROWS - 1)];
}

uint32_t slice_working_resolution(uint32_t r, uint32_t target, uint32_t tolerance) {
    if (distance(r, target) <= tolerance) return r;
    if (distance(r / 2, target) <= tolerance) return r / 2;
    if (distance(2 * r, target) <= tolerance) return 2 * r;
    return target;
}

zr_status slice_plan(uint32_t rows, uint32_t cols, uint32_t r, uint32_t flags, int32_t slice_rows,
                     slice_geometry* out) {
    if (r == 0) return ZR_UNHANDLED_INPUT;
    slice_geometry g{};
    const bool half = (flags & BAL_EXTRACT_250DPI) != 0;
    g.scale = half ? 2 : 1;
    g.resolution = r;
    g.working = slice_working_resolution(r, half ? kTarget250 : kTarget500, kTolerance500 / g.scale);
    const uint64_t h = uint64_t(rows) * g.working / r;
    const uint64_t w = uint64_t(cols) * g.working / r;
    if (h * g.scale > kMaxCoordinate || w * g.scale > kMaxCoordinate) return ZR_BAD_ARGUMENT;
    g.rows = uint32_t(h);
    g.cols = uint32_t(w);
    g.table = slice_strip_table_row(slice_strip_table_index(slice_rows));
    g.strip_height = uint32_t(g.table.strip_rows) / g.scale;
    if (g.rows <= g.strip_height) {
        if (g.rows < kMinRows500 / g.scale) return ZR_BAD_ARGUMENT;
        g.strip_count = 1;
    } else {
        g.strip_count = (g.rows - g.strip_height - 1) / (uint32_t(g.table.step) / g.scale) + 2;
    }
    *out = g;
    return ZR_OK;
}

slice_strip_window slice_strip_window_of(const slice_geometry& g, uint32_t strip, uint32_t image_rows) {
    slice_strip_window w{};
    const uint64_t step = uint32_t(g.table.step) / g.scale;
    w.first_row = uint32_t(uint64_t(strip) * step * g.resolution / g.working);
    const uint32_t wanted = ceil_div(uint64_t(g.strip_height) * g.resolution, g.working);
    const uint32_t left = image_rows > w.first_row ? image_rows - w.first_row : 0;
    w.rows = std::min(wanted, left);
    w.y_shift = uint32_t((uint64_t(g.working) * w.first_row * g.scale + g.resolution / 2) / g.resolution);
    return w;
}

zr_status slice_merge_init(slice_merge* merge, const slice_geometry& g, bool fields) {
    std::memset(merge, 0, sizeof(*merge));
    merge->fields = fields;
    if (!fields) return ZR_OK;
    merge->capacity_rows = ceil_div(uint64_t(g.scale) * g.rows, kFieldBlock);
    merge->capacity_cols = ceil_div(uint64_t(g.scale) * g.cols, kFieldBlock);
    const size_t bytes = size_t{merge->capacity_rows} * merge->capacity_cols;
    // calloc(0) may give null: ask for one byte at least.
    merge->orientation = static_cast<uint8_t*>(zr_calloc(std::max<size_t>(bytes, 1), 1));
    merge->frequency = static_cast<uint8_t*>(zr_calloc(std::max<size_t>(bytes, 1), 1));
    if (merge->orientation == nullptr || merge->frequency == nullptr) {
        slice_merge_free(merge);
        return ZR_NO_MEMORY;
    }
    return ZR_OK;
}

void slice_merge_free(slice_merge* merge) {
    std::free(merge->orientation);
    std::free(merge->frequency);
    merge->orientation = nullptr;
    merge->frequency = nullptr;
}

zr_status slice_merge_strip(slice_merge* merge, const slice_geometry& g, uint32_t strip,
                            const slice_strip_window& window, zr_template_container* container) {
    minutiastruct& found = container->minutiae;
    for (uint32_t i = 0; i < found.count; ++i)
        found.minutiae[i].row =
            static_cast<int16_t>(int32_t(found.minutiae[i].row) + int32_t(window.y_shift));
    const int16_t field_offset = static_cast<int16_t>(int32_t(strip) * g.table.step);
    container->orientation.row_offset = field_offset;
    container->frequency.row_offset = field_offset;

    if (strip == 0) {
        minutiastruct& m = merge->minutiae;
        m.device_id = found.device_id;
        m.finger_position = found.finger_position;
        m.impression_type = found.impression_type;
        m.max_minutiae = found.max_minutiae;
        m.order = found.order;
        m.resolution = kResolutionPpcm;
        m.quality = 0;
    }
    merge_minutiae(*merge, g, strip, found);

    if (merge->fields) {
        const zr_status st = merge_fields(*merge, strip, *container);
        if (st != ZR_OK) return st;
    }
    if (found.quality != 0) {
        merge->quality_sum += found.quality;
        ++merge->quality_count;
    }
    return ZR_OK;
}

void slice_merge_finish(slice_merge* merge, const slice_geometry& g, uint8_t order) {
    minutiastruct& m = merge->minutiae;
    m.rows = static_cast<uint16_t>(g.scale * g.rows);
    m.cols = static_cast<uint16_t>(g.scale * g.cols);
    // A blank image has no strip with a quality: the mean is then 0.
    m.quality =
        merge->quality_count == 0
            ? 0
            : static_cast<uint8_t>((merge->quality_sum + merge->quality_count / 2) / merge->quality_count);
    bal_sort_minutiae(&m, order, m.rows / 2, m.cols / 2);
}
