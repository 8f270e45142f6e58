#include "formats/bal_template_container.h"

#include <cstdlib>

zr_template_container* zr_template_container_alloc() {
    return static_cast<zr_template_container*>(std::calloc(1, sizeof(zr_template_container)));
}

namespace {

template <typename T>
void release(T*& pointer) {
    std::free(pointer);
    pointer = nullptr;
}

}  // namespace

void zr_template_container_free(zr_template_container* container) {
    if (!container) return;
    release(container->zonal_quality.cells);
    release(container->orientation.values);
    release(container->orientation.fine);
    release(container->frequency.values);
    release(container->frequency.fine);
    release(container->binarized);
    std::free(container);
}

namespace {

// Sort keys. A negative result puts a before b.
int32_t compare_column(const minutia& a, const minutia& b) {
    if (a.col != b.col) return a.col < b.col ? -1 : 1;
    if (a.row != b.row) return a.row < b.row ? -1 : 1;
    return 0;
}

int32_t compare_row(const minutia& a, const minutia& b) {
    if (a.row != b.row) return a.row < b.row ? -1 : 1;
    if (a.col != b.col) return a.col < b.col ? -1 : 1;
    return 0;
}

int32_t compare_angle(const minutia& a, const minutia& b) {
    return int32_t{a.angle} - int32_t{b.angle};
}

int32_t compare_quality(const minutia& a, const minutia& b) {
    return int32_t{a.quality} - int32_t{b.quality};
}

// Squared distance in wrapping 32-bit arithmetic.
int32_t squared_distance(const minutia& m, uint32_t centre_row, uint32_t centre_col) {
    const uint32_t dr = static_cast<uint32_t>(int32_t{m.row}) - centre_row;
    const uint32_t dc = static_cast<uint32_t>(int32_t{m.col}) - centre_col;
    return static_cast<int32_t>(dr * dr + dc * dc);
}

// Stable insertion sort: an element moves forward while it compares strictly
// before its predecessor.
template <typename Before>
void insertion_sort(minutia* list, uint32_t count, Before before) {
    for (uint32_t i = 1; i < count; ++i) {
        const minutia moving = list[i];
        uint32_t j = i;
        while (j > 0 && before(moving, list[j - 1])) {
            list[j] = list[j - 1];
            --j;
        }
        list[j] = moving;
    }
}

template <typename Compare>
void sort_by(minutia* list, uint32_t count, bool descending, Compare compare) {
    if (descending)
        insertion_sort(list, count,
                       [&](const minutia& a, const minutia& b) { return compare(a, b) > 0; });
    else
        insertion_sort(list, count,
                       [&](const minutia& a, const minutia& b) { return compare(a, b) < 0; });
}

}  // namespace

void bal_sort_minutiae(minutiastruct* minutiae, uint8_t order, uint32_t centre_row,
                       uint32_t centre_col) {
    if (!minutiae || minutiae->count < 2) return;
    const uint8_t direction = order & 0xF0;
    if (direction != 0 && direction != BAL_ORDER_DESCENDING) return;
    const bool descending = direction == BAL_ORDER_DESCENDING;
    minutia* list = minutiae->minutiae;
    const uint32_t count = minutiae->count;
    switch (order & 0x0F) {
        case BAL_ORDER_COLUMN:
            sort_by(list, count, descending, compare_column);
            break;
        case BAL_ORDER_ROW:
            sort_by(list, count, descending, compare_row);
            break;
        case BAL_ORDER_ANGLE:
            sort_by(list, count, descending, compare_angle);
            break;
        case BAL_ORDER_DISTANCE: {
            // Distances are compared as signed values, as they are formed.
            auto compare = [&](const minutia& a, const minutia& b) {
                const int32_t da = squared_distance(a, centre_row, centre_col);
                const int32_t db = squared_distance(b, centre_row, centre_col);
                return da < db ? -1 : (da > db ? 1 : 0);
            };
            sort_by(list, count, descending, compare);
            break;
        }
        case BAL_ORDER_QUALITY:
            sort_by(list, count, descending, compare_quality);
            break;
        default:
            break;
    }
}
