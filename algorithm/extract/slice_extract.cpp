#include "extract/slice_extract.h"

#include <algorithm>

#include "extract/slice_geometry.h"

namespace {

constexpr uint32_t kTarget500 = 500;
constexpr uint32_t kTolerance500 = 8;
constexpr uint32_t kTarget250 = 250;
constexpr uint32_t kTolerance250 = 4;
constexpr uint32_t kMaxSide = 0xFFFF;

uint16_t rescaled(uint32_t size, uint32_t to, uint32_t from) {
    return static_cast<uint16_t>(std::min<uint64_t>(uint64_t(size) * to / from, kMaxSide));
}

zr_status preferred_geometry(uint32_t target, uint32_t tolerance, uint16_t vertical_dpi, uint16_t horizontal_dpi,
                             uint16_t rows, uint16_t cols, uint16_t* out_vertical_dpi,
                             uint16_t* out_horizontal_dpi, uint16_t* out_rows, uint16_t* out_cols) {
    if (vertical_dpi == 0 || horizontal_dpi == 0) {  // nothing to scale from
        *out_vertical_dpi = vertical_dpi;
        *out_horizontal_dpi = horizontal_dpi;
        *out_rows = rows;
        *out_cols = cols;
        return ZR_OK;
    }
    const uint32_t d = slice_working_resolution(vertical_dpi, target, tolerance);
    *out_vertical_dpi = static_cast<uint16_t>(d);
    *out_horizontal_dpi = static_cast<uint16_t>(d);
    *out_rows = rescaled(rows, d, vertical_dpi);
    *out_cols = rescaled(cols, d, horizontal_dpi);
    return ZR_OK;
}

}  // namespace

zr_status slice_extract_pref_idim(zr_session*, uint16_t vertical_dpi, uint16_t horizontal_dpi, uint16_t rows,
                                  uint16_t cols, uint16_t* out_vertical_dpi, uint16_t* out_horizontal_dpi,
                                  uint16_t* out_rows, uint16_t* out_cols) {
    return preferred_geometry(kTarget500, kTolerance500, vertical_dpi, horizontal_dpi, rows, cols,
                              out_vertical_dpi, out_horizontal_dpi, out_rows, out_cols);
}

zr_status slice_extract_pref_idim_speed(zr_session*, uint16_t vertical_dpi, uint16_t horizontal_dpi,
                                        uint16_t rows, uint16_t cols, uint16_t* out_vertical_dpi,
                                        uint16_t* out_horizontal_dpi, uint16_t* out_rows, uint16_t* out_cols) {
    return preferred_geometry(kTarget500, kTolerance500, vertical_dpi, horizontal_dpi, rows, cols,
                              out_vertical_dpi, out_horizontal_dpi, out_rows, out_cols);
}

zr_status slice_extract_pref_idim_speedmem(zr_session*, uint16_t vertical_dpi, uint16_t horizontal_dpi,
                                           uint16_t rows, uint16_t cols, uint16_t* out_vertical_dpi,
                                           uint16_t* out_horizontal_dpi, uint16_t* out_rows,
                                           uint16_t* out_cols) {
    return preferred_geometry(kTarget250, kTolerance250, vertical_dpi, horizontal_dpi, rows, cols,
                              out_vertical_dpi, out_horizontal_dpi, out_rows, out_cols);
}
