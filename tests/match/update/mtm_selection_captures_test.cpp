// Selection on real captures: the six enrolment captures of each finger with
// their real match matrix (vandrel, then EHM-HR) under a maximum of 64.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>

#include "chain_capture_fixture.h"
#include "match/multitemplate/zr_mtm.h"
#include "match/update/zr_mtm_enroll.h"

TEST(MtmSelectionCaptures, SixCapturesAllKeptUnderSixtyFour) {
    if (!fp_test::have_captures()) GTEST_SKIP() << "real captures not found (set FP_DATA_DIR)";
    static fp_test::ChainCaptures data;
    ASSERT_GE(data.fingers.size(), 1u);
    for (const fp_test::ChainFinger& finger : data.fingers) {
        zr_multitemplate_manager* m = zr_multitemplate_manager_create(64);
        uint32_t updated = 0;
        zr_template* input = finger.stored;
        ASSERT_EQ(ZR_OK, zr_multitemplate_manager_enroll_templates(m, data.chain, &input, 1, data.session, 0,
                                                                   &updated, zr_vermodels_h80));
        EXPECT_EQ(1u, updated);
        EXPECT_EQ(6u, zr_multitemplate_manager_get_nbr_of_templates(m)) << finger.name;
        std::set<uint8_t> islands;
        for (const zr_mt_instance* in = m->mt->instances; in != nullptr; in = in->next) {
            uint16_t length = 0;
            const uint8_t* island = zr_multitemplate_get_metadata(m->mt, in->id, ZR_MTM_TAG_ISLAND, &length);
            ASSERT_EQ(1, length);
            islands.insert(island[0]);
        }
        std::printf("finger %s: %zu island(s)\n", finger.name.c_str(), islands.size());
        zr_multitemplate_manager_delete(m);
    }
}
