#include "extract/zr_minutiae_settings.h"

#include "formats/bal_template_container.h"
#include "objects/zr_session.h"

namespace {

constexpr const char* kOrderKey = "zr.minutiae_order";
constexpr const char* kMaxMinutiaeKey = "zr.max_minutiae";
constexpr uint32_t kDefaultOrder = 0;
constexpr uint32_t kDefaultMaxMinutiae = 64;
constexpr uint32_t kDescendingSelector = 2;

uint8_t order_from_setting(uint32_t value) {
    const uint32_t key = (value >> 2) & 7;
    if (key < BAL_ORDER_COLUMN || key > BAL_ORDER_DISTANCE)
        return BAL_ORDER_DESCENDING | BAL_ORDER_QUALITY;
    const bool descending = (value & 3) == kDescendingSelector;
    return static_cast<uint8_t>(key | (descending ? BAL_ORDER_DESCENDING : 0));
}

}  // namespace

zr_minutiae_settings zr_read_minutiae_settings(const zr_session* session) {
    const auto order = static_cast<uint32_t>(zr_session_get_int(session, kOrderKey, kDefaultOrder));
    const auto max_minutiae =
        static_cast<uint32_t>(zr_session_get_int(session, kMaxMinutiaeKey, kDefaultMaxMinutiae));
    return {order_from_setting(order), static_cast<uint8_t>(max_minutiae)};
}
