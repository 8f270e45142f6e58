// The zonal quality field record of the extraction container: one quality
// byte per cell of a coarse grid laid over the image. The image library fills
// it; the container owns the cell array.
#pragma once

#include <cstddef>
#include <cstdint>

struct zr_zonal_quality_field {
    uint32_t enable;       // bit 0: the field is requested
    uint32_t reserved0;
    uint8_t* cells;        // field_rows x field_cols bytes, row-major
    uint8_t field_rows;    // cells down
    uint8_t field_cols;    // cells across
    uint8_t cell_rows;     // cell height in pixels
    uint8_t cell_cols;     // cell width in pixels
    uint32_t reserved1;
};

static_assert(sizeof(zr_zonal_quality_field) == 24);
static_assert(offsetof(zr_zonal_quality_field, cells) == 8);
static_assert(offsetof(zr_zonal_quality_field, field_rows) == 16);
