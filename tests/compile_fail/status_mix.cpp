// Compiled, never run, by the status-family checks: as it stands it must
// compile; with any one of the STATUS_MIX_* macros defined it must not, since
// that line hands one family's code to the other family.
#include <cstdint>

#include "imaging/bal_blur.h"
#include "objects/tlv_codec.h"
#include "objects/zr_result.h"

namespace {

zr_status check_record(const uint8_t* record, uint32_t size) {
#if defined(STATUS_MIX_RETURN)
    if (record == nullptr) return BAL_BAD_ARGUMENT;
#else
    if (record == nullptr) return ZR_BAD_ARGUMENT;
#endif
    return tlv_validate(record, size);
}

bal_status smooth(uint8_t* pixels) { return bal_blur_uint8(pixels, 1, 1, pixels); }

}  // namespace

int main() {
    uint8_t pixel = 0;
    bal_status image_status = smooth(&pixel);
    zr_status object_status = check_record(&pixel, 1);
#if defined(STATUS_MIX_ASSIGN)
    image_status = check_record(&pixel, 1);
#endif
#if defined(STATUS_MIX_COMPARE)
    const bool same = image_status == object_status;
#else
    const bool same = zr_rc_convert_from_zri(image_status) == object_status;
#endif
#if defined(STATUS_MIX_CONVERT)
    object_status = zr_rc_convert_from_zri(object_status);
#else
    object_status = zr_rc_convert_from_zri(uint32_t{40});
#endif
    return same && object_status == ZR_FAILURE ? 0 : 1;
}
