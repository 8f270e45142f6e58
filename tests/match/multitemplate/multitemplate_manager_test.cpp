// The multi-template manager over stored records: its settings item read and
// written, the refused items, the counts and the templates handed out; the
// walks over its unlocked instances.
#include <gtest/gtest.h>

#include <vector>

#include "match/multitemplate/zr_multitemplate.h"
#include "match/multitemplate/zr_multitemplate_manager.h"
#include "match/multitemplate/zr_mtm.h"
#include "objects/zr_template_metadata.h"

namespace {

using bytes = std::vector<uint8_t>;

zr_template* small_template(uint8_t id) {
    const uint8_t data[3] = {id, 7, 7};
    return zr_template_create('C', data, 3);
}

// A stored record with n instances (ids from 1) and, when given, this
// settings item.
zr_template* record(uint32_t n, const bytes* settings, const std::vector<bytes>& instance_items = {}) {
    zr_multitemplate* mt = zr_multitemplate_create();
    for (uint32_t i = 0; i < n; ++i) {
        zr_template* t = small_template(uint8_t(i));
        uint32_t id = 0;
        EXPECT_EQ(ZR_OK, zr_multitemplate_add_instance_no_tag(mt, t, &id));
        if (i < instance_items.size() && !instance_items[i].empty()) {
            EXPECT_EQ(ZR_OK, zr_multitemplate_add_metadata(mt, id, ZR_MTM_TAG_INSTANCE, instance_items[i].data(),
                                                           uint16_t(instance_items[i].size())));
        }
        zr_template_delete(t);
    }
    if (settings != nullptr) {
        EXPECT_EQ(ZR_OK, zr_multitemplate_add_metadata(mt, ZR_MT_GLOBAL, ZR_MTM_TAG_SETTINGS, settings->data(),
                                                       uint16_t(settings->size())));
    }
    zr_template* out = nullptr;
    EXPECT_EQ(ZR_OK, zr_multitemplate_encode(mt, &out));
    zr_multitemplate_delete(mt);
    return out;
}

bytes settings_v2(uint8_t records) {
    return {10, 12, 0x03, 0, 0, 0x50, 0, 0, 0, 2, records, 67, 4, 0, 255, 0, 255, 0, 255, 0, 255};
}

}  // namespace

TEST(multitemplate_manager, CreateWritesSettingsThatReadBack) {
    zr_multitemplate_manager* m = zr_multitemplate_manager_create(6);
    ASSERT_NE(nullptr, m);
    zr_multitemplate_manager_set_max_template_size(m, 20480);
    const zr_mtm_priority priority[2] = {{72, 3}, {67, 0}};
    ASSERT_EQ(ZR_OK, zr_multitemplate_manager_set_template_priority(m, priority, 2));
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_multitemplate_manager_set_template_priority(m, priority, 5));
    zr_template* stored = nullptr;
    ASSERT_EQ(ZR_OK, zr_multitemplate_manager_encode(m, 0, &stored));
    uint16_t length = 0;
    const uint8_t* s = zr_multitemplate_get_metadata(m->mt, ZR_MT_GLOBAL, ZR_MTM_TAG_SETTINGS, &length);
    ASSERT_EQ(21, length);
    EXPECT_EQ(bytes({6, 12, 0x03, 0, 0, 0x50, 0, 0, 0, 2, 3, 72, 3, 67, 255, 0, 255, 0, 0, 0, 0}), bytes(s, s + 21));
    zr_multitemplate_manager_delete(m);

    zr_multitemplate_manager* back = zr_multitemplate_manager_create_with_template(stored);
    ASSERT_NE(nullptr, back);
    EXPECT_EQ(6, zr_multitemplate_manager_get_max_nbr_of_templates(back));
    EXPECT_EQ(1, zr_multitemplate_manager_allows_further_updates(back));
    EXPECT_EQ(1, back->second_settings_flag);
    EXPECT_EQ(20480u, back->max_template_size);
    ASSERT_EQ(3u, back->nbr_of_priorities);
    EXPECT_EQ(72u, back->priorities[0].template_type);
    EXPECT_EQ(3, back->priorities[0].max_count);
    EXPECT_EQ(255, back->priorities[1].max_count);
    EXPECT_EQ(0u, back->priorities[2].template_type);
    EXPECT_EQ(0u, back->incremental_mode);  // no instances
    EXPECT_EQ(0u, zr_multitemplate_manager_get_fill_grade(back));
    zr_multitemplate_manager_delete(back);
    zr_template_delete(stored);
}

TEST(multitemplate_manager, NonZeroEncodeModeClearsFurtherUpdates) {
    for (int32_t mode : {0, 1}) {
        zr_multitemplate_manager* m = zr_multitemplate_manager_create(5);
        zr_template* stored = nullptr;
        ASSERT_EQ(ZR_OK, zr_multitemplate_manager_encode(m, mode, &stored));
        zr_multitemplate_manager* back = zr_multitemplate_manager_create_with_template(stored);
        ASSERT_NE(nullptr, back);
        EXPECT_EQ(mode == 0 ? 1 : 0, zr_multitemplate_manager_allows_further_updates(back)) << mode;
        EXPECT_EQ(1, back->second_settings_flag);
        zr_multitemplate_manager_delete(back);
        zr_multitemplate_manager_delete(m);
        zr_template_delete(stored);
    }
}

TEST(multitemplate_manager, SettingsItemsReadOrRefused) {
    struct row {
        const char* what;
        bytes item;
        bool made;
        uint8_t max;
        uint32_t records;
    };
    bytes version1 = settings_v2(2);
    version1[9] = 1;
    const std::vector<row> rows = {
        {"21 bytes of version 1", version1, false, 0, 0},
        {"record count 0", settings_v2(0), false, 0, 0},
        {"record count 6", settings_v2(6), false, 0, 0},
        {"record count 1", settings_v2(1), true, 10, 1},
        {"record count 5", settings_v2(5), true, 10, 5},
        {"short item", {9, 12, 2}, true, 0, 1},
        {"7 bytes", {9, 12, 2, 0, 0, 1, 0}, true, 9, 1},
        {"9 bytes (version-1 layout)", {9, 12, 2, 0, 0, 1, 0, 4, 72}, true, 9, 2},
    };
    for (const row& r : rows) {
        zr_template* stored = record(2, &r.item);
        zr_multitemplate_manager* m = zr_multitemplate_manager_create_with_template(stored);
        EXPECT_EQ(r.made, m != nullptr) << r.what;
        if (m != nullptr) {
            EXPECT_EQ(r.max, m->max_templates) << r.what;
            EXPECT_EQ(r.records, m->nbr_of_priorities) << r.what;
        }
        // The tag lookup reads the record the same way.
        EXPECT_EQ(r.made ? 1u : ZR_MTM_MISSING_TAG, zr_multitemplate_get_subtemplate_tag(stored, 0)) << r.what;
        zr_multitemplate_manager_delete(m);
        zr_template_delete(stored);
    }
}

TEST(multitemplate_manager, NoSettingsItemHoldsNothingMore) {
    zr_template* stored = record(3, nullptr);
    zr_multitemplate_manager* m = zr_multitemplate_manager_create_with_template(stored);
    ASSERT_NE(nullptr, m);
    EXPECT_EQ(0, zr_multitemplate_manager_get_max_nbr_of_templates(m));
    EXPECT_EQ(0, zr_multitemplate_manager_allows_further_updates(m));
    EXPECT_EQ(3u, zr_multitemplate_manager_get_nbr_of_templates(m));
    EXPECT_EQ(0u, zr_multitemplate_manager_get_fill_grade(m));
    EXPECT_EQ(1u, m->incremental_mode);  // instances and no island items
    zr_multitemplate_manager_delete(m);
    zr_template_delete(stored);
}

TEST(multitemplate_manager, CountsAndTemplatesSkipPendingAndExcluded) {
    const bytes settings = settings_v2(1);
    // Instance 0 pending, 1 excluded, 2 with an alignment, 3 with a short item.
    zr_template* stored = record(4, &settings,
                                 {{0, 0, 0, 0, 0, ZR_MTM_FLAG_PENDING},
                                  {0, 0, 0, 0, 0, ZR_MTM_FLAG_EXCLUDED},
                                  {0xFF, 0xFE, 0, 3, 64, ZR_MTM_FLAG_LOCKED},
                                  {1, 2}});
    zr_multitemplate_manager* m = zr_multitemplate_manager_create_with_template(stored);
    ASSERT_NE(nullptr, m);
    EXPECT_EQ(3u, zr_multitemplate_manager_get_nbr_of_templates(m));
    EXPECT_EQ(1u, zr_multitemplate_manager_get_nbr_of_unenrolled_templates(m));
    EXPECT_EQ(30u, zr_multitemplate_manager_get_fill_grade(m));  // 3 x 100 / 10
    EXPECT_EQ(4u, zr_multitemplate_manager_get_nbr_of_templates_in_class(m, 0));

    zr_alignment* alignment = nullptr;
    uint8_t class_id = 0;
    uint32_t id = 0;
    zr_template* t = zr_multitemplate_manager_get_template_with_id(m, 0, &alignment, &class_id, &id);
    ASSERT_NE(nullptr, t);
    EXPECT_EQ(2, zr_template_get_data(t)[0]);
    EXPECT_EQ(3u, id);
    EXPECT_EQ(255, class_id);
    EXPECT_EQ(-2, zr_alignment_get_dx(alignment));  // pixels
    EXPECT_EQ(3, zr_alignment_get_dy(alignment));
    EXPECT_EQ(64u, zr_alignment_get_rotation(alignment));
    zr_alignment* again = zr_multitemplate_manager_get_subtemplate_alignment(m, t, &class_id);
    ASSERT_NE(nullptr, again);
    EXPECT_EQ(zr_alignment_get_dx(alignment), zr_alignment_get_dx(again));
    zr_alignment_delete(again);
    zr_alignment_delete(alignment);
    zr_template_delete(t);

    t = zr_multitemplate_manager_get_template(m, 1, &alignment, &class_id);
    ASSERT_NE(nullptr, t);
    EXPECT_EQ(3, zr_template_get_data(t)[0]);
    EXPECT_EQ(0, zr_alignment_get_dx(alignment));  // short item: zero alignment
    zr_alignment_delete(alignment);
    zr_template_delete(t);
    EXPECT_EQ(nullptr, zr_multitemplate_manager_get_template(m, 2, &alignment, &class_id));
    EXPECT_EQ(nullptr, alignment);

    // The tag counts every instance.
    EXPECT_EQ(1u, zr_multitemplate_get_subtemplate_tag(stored, 0));
    EXPECT_EQ(4u, zr_multitemplate_get_subtemplate_tag(stored, 3));
    EXPECT_EQ(ZR_MTM_MISSING_TAG, zr_multitemplate_get_subtemplate_tag(stored, 4));
    EXPECT_EQ(ZR_MTM_MISSING_TAG, zr_multitemplate_get_subtemplate_tag(nullptr, 0));
    zr_multitemplate_manager_delete(m);
    zr_template_delete(stored);
}

TEST(multitemplate_manager, TwoHundredInstancesHandedOutInOrder) {
    const bytes settings = settings_v2(1);
    zr_template* stored = record(200, &settings);
    zr_multitemplate_manager* m = zr_multitemplate_manager_create_with_template(stored);
    ASSERT_NE(nullptr, m);
    EXPECT_EQ(200u, zr_multitemplate_manager_get_nbr_of_templates(m));
    for (uint32_t i = 0; i < 200; ++i) {
        uint32_t id = 0;
        zr_template* t = zr_multitemplate_manager_get_template_with_id(m, i, nullptr, nullptr, &id);
        ASSERT_NE(nullptr, t) << i;
        EXPECT_EQ(uint8_t(i), zr_template_get_data(t)[0]);
        EXPECT_EQ(i + 1, id);
        zr_template_delete(t);
    }
    EXPECT_EQ(nullptr, zr_multitemplate_manager_get_template(m, 200, nullptr, nullptr));
    EXPECT_EQ(200u, zr_multitemplate_get_subtemplate_tag(stored, 199));
    zr_multitemplate_manager_delete(m);
    zr_template_delete(stored);
}

namespace {

// A type-67 template with metadata of this class and enrol type.
zr_template* classed_template(uint8_t id, uint16_t image_class, uint32_t enroll_type) {
    const uint8_t data[3] = {id, 7, 7};
    zr_template* t = zr_template_create(67, data, 3);
    EXPECT_EQ(ZR_OK, zr_template_metadata_set_image_class(image_class, &t));
    EXPECT_EQ(ZR_OK, zr_template_metadata_set_enroll_type(enroll_type, &t));
    return t;
}

struct classed_instance {
    uint16_t image_class;
    uint32_t enroll_type;
    uint8_t flags;
    bool with_item = true;
};

// A manager over instances (ids from 1) of these templates.
zr_multitemplate_manager* classed_manager(const std::vector<classed_instance>& instances) {
    zr_multitemplate_manager* m = zr_multitemplate_manager_create(6);
    for (size_t i = 0; i < instances.size(); ++i) {
        const classed_instance& in = instances[i];
        zr_template* t = classed_template(uint8_t(i), in.image_class, in.enroll_type);
        uint32_t id = 0;
        EXPECT_EQ(ZR_OK, zr_multitemplate_add_instance_no_tag(m->mt, t, &id));
        const uint8_t item[ZR_MTM_INSTANCE_ITEM_SIZE] = {0, 0, 0, 0, 0, in.flags};
        if (in.with_item) {
            EXPECT_EQ(ZR_OK, zr_multitemplate_add_metadata(m->mt, id, ZR_MTM_TAG_INSTANCE, item, 6));
        }
        zr_template_delete(t);
    }
    return m;
}

std::vector<uint32_t> enroll_types(const zr_multitemplate* mt) {
    std::vector<uint32_t> out;
    for (const zr_mt_instance* in = mt->instances; in != nullptr; in = in->next)
        out.push_back(zr_template_metadata_enroll_type(in->tmpl));
    return out;
}

std::vector<uint32_t> instance_ids(const zr_multitemplate* mt) {
    std::vector<uint32_t> out;
    for (const zr_mt_instance* in = mt->instances; in != nullptr; in = in->next) out.push_back(in->id);
    return out;
}

}  // namespace

// Both walks leave locked instances alone; an instance without its item
// stops them with ZR_NO_MEMORY, the instances before it already handled.
TEST(multitemplate_manager, AcceptedEnrolmentAndClassRemovalSkipLockedInstances) {
    const std::vector<classed_instance> instances = {
        {3, 1, 0}, {3, 1, ZR_MTM_FLAG_LOCKED}, {4, 1, 0}, {3, 0, 0}};
    zr_multitemplate_manager* m = classed_manager(instances);
    ASSERT_EQ(ZR_OK, zr_mtm_enroll_accepted_templates(m));
    EXPECT_EQ(std::vector<uint32_t>({0, 1, 0, 0}), enroll_types(m->mt));
    ASSERT_EQ(ZR_OK, zr_mtm_remove_templates_per_class(m, 3));
    EXPECT_EQ(std::vector<uint32_t>({2, 3}), instance_ids(m->mt));
    zr_multitemplate_manager_delete(m);

    std::vector<classed_instance> without_item = instances;
    without_item[2].with_item = false;
    m = classed_manager(without_item);
    EXPECT_EQ(ZR_NO_MEMORY, zr_mtm_enroll_accepted_templates(m));
    EXPECT_EQ(std::vector<uint32_t>({0, 1, 1, 0}), enroll_types(m->mt));
    EXPECT_EQ(ZR_NO_MEMORY, zr_mtm_remove_templates_per_class(m, 3));
    EXPECT_EQ(std::vector<uint32_t>({2, 3, 4}), instance_ids(m->mt));
    zr_multitemplate_manager_delete(m);

    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_mtm_enroll_accepted_templates(nullptr));
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_mtm_remove_templates_per_class(nullptr, 3));
}
