// The raw-image record "ZRIT": a record that reads back is exactly what the
// writer makes of its fields and pixels.
#include <cstdlib>

#include "fuzz_support.h"
#include "objects/zr_result.h"
#include "objects/zr_zrimage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fuzz::ExactCopy input(data, size);
    const uint8_t* pixels = nullptr;
    uint16_t rows = 0;
    uint16_t cols = 0;
    uint16_t horizontal_dpi = 0;
    uint16_t vertical_dpi = 0;
    uint8_t impression_type = 0;
    const uint32_t status = zr_fusion_zrimage_to_parts(input.data(), input.size(), &pixels, &rows, &cols,
                                                       &horizontal_dpi, &vertical_dpi, &impression_type);
    FUZZ_CHECK(status == ZR_OK || status == ZR_BAD_DATA);

    // Without the optional outputs the result is the same.
    const uint8_t* bare_pixels = nullptr;
    uint16_t bare_rows = 0;
    uint16_t bare_cols = 0;
    FUZZ_CHECK(zr_fusion_zrimage_to_parts(input.data(), input.size(), &bare_pixels, &bare_rows, &bare_cols,
                                          nullptr, nullptr, nullptr) == status);
    FUZZ_CHECK(bare_pixels == pixels && bare_rows == rows && bare_cols == cols);
    if (status != ZR_OK) {
        FUZZ_CHECK(pixels == nullptr);
        return 0;
    }
    FUZZ_CHECK(pixels == input.data() + ZR_ZRIMAGE_HEADER_SIZE);
    FUZZ_CHECK(uint64_t(rows) * cols + ZR_ZRIMAGE_HEADER_SIZE == input.size());

    uint8_t* written = nullptr;
    uint32_t written_size = 0;
    FUZZ_CHECK(zr_fusion_zrimage_encode(pixels, rows, cols, horizontal_dpi, vertical_dpi, impression_type,
                                        &written, &written_size) == ZR_OK);
    FUZZ_CHECK(written_size == input.size() && std::memcmp(written, input.data(), written_size) == 0);
    std::free(written);
    return 0;
}
