#include <gtest/gtest.h>

#include <optional>

#include "formats/bal_template_container.h"
#include "extract/zr_minutiae_settings.h"
#include "objects/zr_result.h"
#include "objects/zr_session.h"

namespace {

struct KeysCase {
    std::optional<int32_t> order_setting;
    std::optional<int32_t> max_setting;
    uint8_t expected_order;
    uint8_t expected_max;
};

TEST(MinutiaeSettings, OrderCodeAndMaximumFromTheSessionKeys) {
    constexpr uint8_t kQualityDescending = BAL_ORDER_DESCENDING | BAL_ORDER_QUALITY;
    const KeysCase cases[] = {
        {std::nullopt, std::nullopt, kQualityDescending, 64},  // both unset: defaults
        {0, 0, kQualityDescending, 0},
        // key 1..4 with low bits 2: descending; low bits 0, 1, 3: ascending
        {(1 << 2) | 2, 10, 0x11, 10},
        {(2 << 2) | 2, 20, 0x12, 20},
        {(3 << 2) | 2, 30, 0x13, 30},
        {(4 << 2) | 2, 40, 0x14, 40},
        {(1 << 2) | 0, 255, 0x01, 255},
        {(2 << 2) | 1, 64, 0x02, 64},
        {(3 << 2) | 3, 64, 0x03, 64},
        {(4 << 2) | 0, 64, 0x04, 64},
        {(4 << 2) | 1 | 0x100, 64, 0x04, 64},  // bits above the key are ignored
        // keys 5..7 are not order keys
        {(5 << 2) | 2, 64, kQualityDescending, 64},
        {(6 << 2) | 0, 64, kQualityDescending, 64},
        {(7 << 2) | 2, 64, kQualityDescending, 64},
        // a maximum above 255 goes on as its low byte
        {(2 << 2), 300, 0x02, 44},
        {(2 << 2), 256, 0x02, 0},
    };
    for (const KeysCase& c : cases) {
        zr_session_clear_properties(nullptr);
        zr_session* session = zr_session_create();
        ASSERT_NE(session, nullptr);
        if (c.order_setting) {
            ASSERT_EQ(ZR_OK, zr_session_set_int(session, "zr.minutiae_order", *c.order_setting));
        }
        if (c.max_setting) {
            ASSERT_EQ(ZR_OK, zr_session_set_int(session, "zr.max_minutiae", *c.max_setting));
        }
        const zr_minutiae_settings settings = zr_read_minutiae_settings(session);
        EXPECT_EQ(c.expected_order, settings.order)
            << "order setting " << c.order_setting.value_or(-1);
        EXPECT_EQ(c.expected_max, settings.max_minutiae)
            << "max setting " << c.max_setting.value_or(-1);
        zr_session_delete(session);
    }
    zr_session_clear_properties(nullptr);
}

}  // namespace
