// Building and updating stored multi-templates through the algorithm: the
// flags templates enter with, the create entry points (selection and
// incremental), the update slots and their entry points, the dynamic update
// from a verification, re-enrolment and the removal of a finger class.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "algorithm_main_road.h"
#include "match/zr_algorithm.h"
#include "match/extractors/zr_embedded_extractor.h"
#include "match/multitemplate/zr_multitemplate.h"
#include "match/multitemplate/zr_multitemplate_manager.h"
#include "match/verifiers/zr_vermodels.h"
#include "objects/zr_storage_writer.h"
#include "objects/zr_template_metadata.h"

namespace {

using namespace fp_test;

constexpr int32_t kNoKey = -0x7FFF;
constexpr uint32_t kFarLevel = 12;

zr_algorithm* plain_algorithm(zr_session* s) {
    zr_algorithm_chain* chain = zr_algorithm_chain_create();
    zr_algorithm_chain_append_link(chain, zr_algorithm_link_create(nullptr, 74, nullptr, &ehmhr_verifier, 0, 0));
    zr_algorithm_config config;
    zr_algorithm_default_config(&config);
    return zr_algorithm_create(s, chain, 74, 1, 8, nullptr, 0, nullptr, 0, &config);
}

void set_key(zr_session* s, const char* key, int32_t value) {
    if (value == kNoKey) zr_session_clear_property(s, key);
    else ASSERT_EQ(ZR_OK, zr_session_set_int(s, key, value));
}

// An empty stored record with the settings of a new manager; encode mode 1
// stores it with further updates refused.
zr_template* empty_record(int32_t encode_mode = 0) {
    zr_multitemplate_manager* m = zr_multitemplate_manager_create(10);
    zr_template* out = nullptr;
    EXPECT_EQ(ZR_OK, zr_multitemplate_manager_encode(m, encode_mode, &out));
    zr_multitemplate_manager_delete(m);
    return out;
}

struct ClassedInstance {
    uint16_t image_class;
    bool locked;
};

// A stored record whose instances are metadata templates of the given
// classes, each with a manager item (zero alignment, locked when asked);
// without items when with_items is false.
zr_template* classed_record(const std::vector<ClassedInstance>& instances, bool with_items = true) {
    zr_multitemplate_manager* m = zr_multitemplate_manager_create(10);
    for (const ClassedInstance& c : instances) {
        const zr_template_metadata metadata{96, 176, c.image_class, 500, 0};
        zr_template* t = nullptr;
        EXPECT_EQ(ZR_OK, zr_template_metadata_encode(nullptr, &metadata, &t));
        uint32_t id = 0;
        EXPECT_EQ(ZR_OK, zr_multitemplate_add_instance_no_tag(m->mt, t, &id));
        const uint8_t item[ZR_MTM_INSTANCE_ITEM_SIZE] = {0, 0, 0, 0, 0, c.locked ? ZR_MTM_FLAG_LOCKED : uint8_t(0)};
        if (with_items) {
            EXPECT_EQ(ZR_OK, zr_multitemplate_add_metadata(m->mt, id, ZR_MTM_TAG_INSTANCE, item, sizeof(item)));
        }
        zr_template_delete(t);
    }
    zr_template* out = nullptr;
    EXPECT_EQ(ZR_OK, zr_multitemplate_manager_encode(m, 0, &out));
    zr_multitemplate_manager_delete(m);
    return out;
}

uint32_t instances(zr_template* stored) {
    zr_multitemplate* mt = nullptr;
    if (zr_multitemplate_decode(stored, &mt) != ZR_OK) return ZR_NO_COUNT;
    const uint32_t n = zr_multitemplate_get_nbr_of_instances(mt);
    zr_multitemplate_delete(mt);
    return n;
}

bool same_bytes(const zr_template* a, const zr_template* b) {
    return a && b && zr_template_get_data_size(a) == zr_template_get_data_size(b) &&
           memcmp(zr_template_get_data(a), zr_template_get_data(b), zr_template_get_data_size(a)) == 0;
}

bool is_zrmt(const zr_template* t) {
    return t && zr_template_get_type(t) == ZR_TEMPLATE_MULTI && zr_template_get_data_size(t) > 4 &&
           memcmp(zr_template_get_data(t), "ZRMT", 4) == 0;
}

struct Fixture : ::testing::Test {
    zr_session* s = zr_session_create();
    zr_algorithm* a = plain_algorithm(s);
    void TearDown() override {
        zr_algorithm_delete(a);
        zr_session_delete(s);
    }
};

using AlgorithmUpdate = Fixture;

TEST_F(AlgorithmUpdate, ConfiguredFlags) {
    struct Case {
        uint32_t dynamic_update;
        int32_t fast;
        uint32_t extra;
        uint32_t flags;
    };
    const Case cases[] = {
        {0, kNoKey, 0, 0}, {0, 0, 0, 0},  {1, kNoKey, 0, 5}, {1, 1, 0, 5},  {1, 0, 0, 1},
        {1, -3, 0, 1},     {1, 4, 0, 5},  {0, kNoKey, 1, 2}, {7, 0, 1, 3},  {1, kNoKey, 1, 7},
    };
    for (const Case& c : cases) {
        zr_algorithm_get_config(a)->dynamic_update = c.dynamic_update;
        zr_algorithm_get_config(a)->extra_enroll_flag = c.extra;
        set_key(s, "zr.dynupdate.fast", c.fast);
        EXPECT_EQ(c.flags, zr_algorithm_configured_flags(a)) << c.dynamic_update << " " << c.fast << " " << c.extra;
    }
}

TEST_F(AlgorithmUpdate, CreateRefusesMissingArgumentsAndEmptySelections) {
    zr_template* t = reinterpret_cast<zr_template*>(1);
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_algorithm_create_multitemplate(a, nullptr, 0, nullptr));
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_algorithm_create_multitemplate(nullptr, nullptr, 0, &t));
    EXPECT_EQ(nullptr, t);
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_algorithm_create_multitemplate(a, nullptr, 2, &t));
    // Nothing to select from; an incremental record left empty is complete.
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_algorithm_create_multitemplate(a, nullptr, 0, &t));
    EXPECT_EQ(ZR_ENROLL_COMPLETE, zr_algorithm_create_incr_multitemplate(a, nullptr, 0, &t));
    EXPECT_EQ(nullptr, t);
}

// The update entry points reach the slots with or without the writer; an
// override with empty members falls back to the defaults.
zr_status g_update_rc = ZR_OK;
bool g_update_hands_out = false;
struct UpdateCall {
    int calls = 0;
    const zr_storage_writer* writer = nullptr;
    void* context = nullptr;
    uint8_t count = 0xFF;
    const zr_template* const* templates = nullptr;
} g_call;

zr_template* scripted_output() {
    const uint8_t byte = 1;
    return g_update_hands_out ? zr_template_create(80, &byte, 1) : nullptr;
}
zr_status scripted_update(zr_algorithm*, zr_template*, zr_template* const* templates, uint8_t count,
                          zr_template** out, const zr_storage_writer* writer, void* context) {
    g_call = {g_call.calls + 1, writer, context, count, templates};
    *out = scripted_output();
    return g_update_rc;
}
zr_status scripted_update_ex(zr_algorithm*, zr_template*, zr_match_result*, zr_template** out,
                             const zr_storage_writer* writer, void* context) {
    g_call = {g_call.calls + 1, writer, context, 0xFF, nullptr};
    *out = scripted_output();
    return g_update_rc;
}

TEST_F(AlgorithmUpdate, EntryPointsReachTheSlots) {
    EXPECT_EQ(default_update_multitemplate, a->update_multitemplate);
    EXPECT_EQ(default_update_multitemplate_ex, a->update_multitemplate_ex);
    const zr_update_override pair{scripted_update, scripted_update_ex};
    zr_algorithm_set_update_override(a, &pair);
    g_update_rc = ZR_OK;
    g_update_hands_out = true;
    zr_template* stored = empty_record();
    zr_match_result* result = zr_match_result_create(1);
    int context = 0;
    const zr_storage_writer* w = &heap_storage_writer;
    struct Case {
        const char* name;
        zr_status (*call)(zr_algorithm*, zr_template*, zr_match_result*, zr_template**, const zr_storage_writer*,
                          void*);
        bool with_writer;
    };
    const Case cases[] = {
        {"plain",
         [](zr_algorithm* al, zr_template* st, zr_match_result*, zr_template** out, const zr_storage_writer*, void*) {
             return zr_algorithm_update_multitemplate(al, st, nullptr, 0, out);
         },
         false},
        {"to_storage",
         [](zr_algorithm* al, zr_template* st, zr_match_result*, zr_template** out, const zr_storage_writer* wr,
            void* cx) { return zr_algorithm_update_multitemplate_to_storage(al, st, nullptr, 0, out, wr, cx); },
         true},
        {"ex",
         [](zr_algorithm* al, zr_template* st, zr_match_result* r, zr_template** out, const zr_storage_writer*,
            void*) { return zr_algorithm_update_multitemplate_ex(al, st, r, out); },
         false},
        {"to_storage_ex",
         [](zr_algorithm* al, zr_template* st, zr_match_result* r, zr_template** out, const zr_storage_writer* wr,
            void* cx) { return zr_algorithm_update_multitemplate_to_storage_ex(al, st, r, out, wr, cx); },
         true},
    };
    for (const Case& c : cases) {
        g_call = {};
        zr_template* out = nullptr;
        EXPECT_EQ(ZR_OK, c.call(a, stored, result, &out, w, &context)) << c.name;
        EXPECT_EQ(1, g_call.calls) << c.name;
        EXPECT_EQ(c.with_writer ? w : nullptr, g_call.writer) << c.name;
        EXPECT_EQ(c.with_writer ? static_cast<void*>(&context) : nullptr, g_call.context) << c.name;
        EXPECT_NE(nullptr, out) << c.name;
        zr_template_delete(out);
        out = reinterpret_cast<zr_template*>(1);
        EXPECT_EQ(ZR_BAD_ARGUMENT, c.call(nullptr, stored, result, &out, w, &context)) << c.name;
        EXPECT_EQ(nullptr, out) << c.name;
    }
    const zr_update_override empty{nullptr, nullptr};
    zr_algorithm_set_update_override(a, &empty);
    EXPECT_EQ(default_update_multitemplate, a->update_multitemplate);
    EXPECT_EQ(default_update_multitemplate_ex, a->update_multitemplate_ex);
    zr_match_result_delete(result);
    zr_template_delete(stored);
}

TEST_F(AlgorithmUpdate, ReenrollRunsTheUpdateWithoutTemplatesAndTurns17Into19) {
    const zr_update_override pair{scripted_update, nullptr};
    zr_algorithm_set_update_override(a, &pair);
    zr_template* stored = empty_record();
    struct Case {
        zr_status slot_rc;
        bool hands_out;
        zr_status rc;
    };
    const Case cases[] = {
        {ZR_FAILURE, false, ZR_ENROLL_COMPLETE},
        {ZR_FAILURE, true, ZR_FAILURE},
        {ZR_NO_MEMORY, false, ZR_NO_MEMORY},
        {ZR_OK, true, ZR_OK},
    };
    for (const Case& c : cases) {
        g_update_rc = c.slot_rc;
        g_update_hands_out = c.hands_out;
        g_call = {};
        zr_template* out = nullptr;
        EXPECT_EQ(c.rc, zr_algorithm_reenroll_multitemplate(a, stored, &out)) << c.slot_rc;
        EXPECT_EQ(c.hands_out, out != nullptr);
        EXPECT_EQ(0, g_call.count);
        EXPECT_EQ(nullptr, g_call.templates);
        zr_template_delete(out);
    }
    zr_template* out = nullptr;
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_algorithm_reenroll_multitemplate(a, nullptr, &out));
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_algorithm_reenroll_multitemplate(nullptr, stored, &out));
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_algorithm_reenroll_multitemplate(a, stored, nullptr));
    zr_template_delete(stored);
}

// The default update gives no template and 9 when nothing is updated: a
// record that refuses further updates, or one that cannot be opened.
TEST_F(AlgorithmUpdate, DefaultUpdateWithoutAnUpdateGivesNoTemplate) {
    zr_template* refusing = empty_record(1);
    const uint8_t junk[] = {1, 2, 3};
    zr_template* not_a_record = zr_template_create(80, junk, sizeof(junk));
    for (zr_template* stored : {refusing, not_a_record}) {
        zr_template* out = reinterpret_cast<zr_template*>(1);
        EXPECT_EQ(ZR_NO_MEMORY, zr_algorithm_update_multitemplate(a, stored, nullptr, 0, &out));
        EXPECT_EQ(nullptr, out);
        EXPECT_EQ(ZR_NO_MEMORY, zr_algorithm_reenroll_multitemplate(a, stored, &out));
        EXPECT_EQ(nullptr, out);
    }
    zr_template_delete(refusing);
    zr_template_delete(not_a_record);
}

// "zr.dynupdate.mode" with a small overlap returns before anything is done;
// past the gate, a result without probe image or template gives 17.
TEST_F(AlgorithmUpdate, UpdateExSkipsASmallOverlapInMode1) {
    zr_template* stored = empty_record();
    struct Case {
        int32_t mode;
        int32_t min_area;
        uint32_t area;
        zr_status rc;
    };
    const Case cases[] = {
        {1, kNoKey, 10, ZR_OK},     {1, kNoKey, 14, ZR_OK},     {1, kNoKey, 15, ZR_FAILURE},
        {kNoKey, kNoKey, 10, ZR_FAILURE}, {0, kNoKey, 0, ZR_FAILURE}, {1, 5, 10, ZR_FAILURE},
        {1, 30, 20, ZR_OK},         {2, 30, 30, ZR_FAILURE},
    };
    for (const Case& c : cases) {
        set_key(s, "zr.dynupdate.mode", c.mode);
        set_key(s, "zr.dynupdate.minarea", c.min_area);
        zr_match_result* result = zr_match_result_create(1);
        result->overlap_area = c.area;
        zr_template* out = reinterpret_cast<zr_template*>(1);
        EXPECT_EQ(c.rc, zr_algorithm_update_multitemplate_ex(a, stored, result, &out))
            << c.mode << " " << c.min_area << " " << c.area;
        EXPECT_EQ(nullptr, out);
        zr_match_result_delete(result);
    }
    zr_template_delete(stored);
}

TEST_F(AlgorithmUpdate, DeleteTemplatesInClass) {
    // Classes 2, 5, 2 (locked), 2, 0.
    zr_template* stored = classed_record({{2, false}, {5, false}, {2, true}, {2, false}, {0, false}});
    zr_algorithm_get_config(a)->encode_mode = 1;  // ignored: the result stays updatable
    struct Case {
        uint16_t image_class;
        uint32_t flag;
        zr_status rc;
        uint32_t left[3];  // templates of classes 0, 2 and 5 afterwards
    };
    const Case cases[] = {
        {2, 0, ZR_OK, {1, 1, 1}},
        {5, 0, ZR_OK, {1, 3, 0}},
        {0, 0, ZR_OK, {0, 3, 1}},
        {6, 0, ZR_OK, {1, 3, 1}},
        {2, 1, ZR_UNHANDLED_INPUT, {}},
    };
    for (const Case& c : cases) {
        zr_template* out = reinterpret_cast<zr_template*>(1);
        ASSERT_EQ(c.rc, zr_algorithm_delete_templates_in_class(a, stored, c.image_class, &out, c.flag))
            << c.image_class;
        if (c.flag != 0) {
            EXPECT_EQ(nullptr, out);
            continue;
        }
        ASSERT_TRUE(is_zrmt(out));
        const uint16_t classes[] = {0, 2, 5};
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(c.left[k], zr_algorithm_get_nbr_of_templates_in_class(a, out, classes[k]))
                << c.image_class << " class " << classes[k];
        zr_multitemplate_manager* m = zr_multitemplate_manager_create_with_template(out);
        ASSERT_NE(nullptr, m);
        EXPECT_EQ(1, zr_multitemplate_manager_allows_further_updates(m));
        zr_multitemplate_manager_delete(m);
        zr_template_delete(out);
    }
    // The caller's record is never changed.
    EXPECT_EQ(5u, instances(stored));

    zr_template* without_items = classed_record({{2, false}}, false);
    const uint8_t junk[] = {1, 2, 3};
    zr_template* not_a_record = zr_template_create(80, junk, sizeof(junk));
    for (zr_template* bad : {without_items, not_a_record}) {
        zr_template* out = reinterpret_cast<zr_template*>(1);
        EXPECT_EQ(ZR_NO_MEMORY, zr_algorithm_delete_templates_in_class(a, bad, 2, &out, 0));
        EXPECT_EQ(nullptr, out);
    }
    zr_template* out = nullptr;
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_algorithm_delete_templates_in_class(a, nullptr, 2, &out, 0));
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_algorithm_delete_templates_in_class(nullptr, stored, 2, &out, 0));
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_algorithm_delete_templates_in_class(a, stored, 2, nullptr, 0));
    zr_template_delete(without_items);
    zr_template_delete(not_a_record);
    zr_template_delete(stored);
}

// --- real captures ---

struct Instance {
    uint16_t item_length;  // of the manager's tag-1 item
    uint8_t flags;
};

std::vector<Instance> instance_items(zr_template* stored) {
    std::vector<Instance> out;
    zr_multitemplate* mt = nullptr;
    if (zr_multitemplate_decode(stored, &mt) != ZR_OK) return out;
    int32_t id = int32_t(ZR_MT_GLOBAL);
    while (zr_multitemplate_next_tag(mt, &id) == 1) {
        uint16_t length = 0;
        const uint8_t* item = zr_multitemplate_get_metadata(mt, uint32_t(id), ZR_MTM_TAG_INSTANCE, &length);
        out.push_back({item ? length : uint16_t(0), item && length >= 6 ? item[5] : uint8_t(0)});
    }
    zr_multitemplate_delete(mt);
    return out;
}

struct UpdateCaptures : ::testing::Test {
    void SetUp() override {
        if (!have_captures()) GTEST_SKIP() << "real captures not found under " << captures_dir();
        data = std::make_unique<PresetCaptures>(2);
        ASSERT_EQ(2u, data->fingers.size());
        ASSERT_EQ(6u, data->fingers[0].templates.size());
        a = data->algorithm;
    }
    std::unique_ptr<PresetCaptures> data;
    zr_algorithm* a = nullptr;
    const PresetFinger& finger() const { return data->fingers[0]; }
    uint32_t enrol_accepts(zr_template* stored) const {
        uint32_t n = 0;
        for (zr_image* image : finger().enrol) n += verify_at(a, stored, image, kFarLevel);
        return n;
    }
};

// The selection writes the manager's items and keeps what the capacity
// allows; the incremental form appends plain instances until it is full.
TEST_F(UpdateCaptures, CreateVersusIncremental) {
    zr_template* const* list = finger().templates.data();
    struct Case {
        bool incremental;
        uint8_t max_templates;
        uint32_t encode_mode;
    };
    for (const Case& c : {Case{false, 64, 0}, Case{true, 64, 0}, Case{false, 4, 0}, Case{true, 4, 1}}) {
        zr_algorithm_get_config(a)->max_templates = c.max_templates;
        zr_algorithm_get_config(a)->encode_mode = c.encode_mode;
        zr_template* out = nullptr;
        const zr_status rc = c.incremental ? zr_algorithm_create_incr_multitemplate(a, list, 6, &out)
                                           : zr_algorithm_create_multitemplate(a, list, 6, &out);
        ASSERT_EQ(ZR_OK, rc) << c.incremental << " " << int(c.max_templates);
        ASSERT_TRUE(is_zrmt(out));
        const std::vector<Instance> items = instance_items(out);
        const uint32_t expected = c.max_templates < 6 ? c.max_templates : 6;
        if (c.incremental) {
            EXPECT_EQ(expected, items.size());
        } else {
            EXPECT_LE(items.size(), expected);
            EXPECT_GE(items.size(), 1u);
        }
        for (const Instance& i : items) EXPECT_EQ(c.incremental ? 0 : ZR_MTM_INSTANCE_ITEM_SIZE, i.item_length);
        zr_multitemplate_manager* m = zr_multitemplate_manager_create_with_template(out);
        ASSERT_NE(nullptr, m);
        EXPECT_EQ(c.incremental ? 1u : 0u, m->incremental_mode);
        EXPECT_EQ(c.max_templates, zr_multitemplate_manager_get_max_nbr_of_templates(m));
        EXPECT_EQ(c.encode_mode == 0 ? 1 : 0, zr_multitemplate_manager_allows_further_updates(m));
        zr_multitemplate_manager_delete(m);
        if (c.max_templates == 64) {
            EXPECT_EQ(6u, enrol_accepts(out));
        }

        // Through the heap writer the record is the same.
        zr_template* stored = nullptr;
        heap_buffer buffer{};
        const zr_status rc2 =
            c.incremental ? zr_algorithm_create_incr_multitemplate_to_storage(a, list, 6, &stored, &heap_storage_writer,
                                                                              &buffer)
                          : zr_algorithm_create_multitemplate_to_storage(a, list, 6, &stored, &heap_storage_writer,
                                                                         &buffer);
        EXPECT_EQ(ZR_OK, rc2);
        EXPECT_TRUE(same_bytes(out, stored));
        zr_template_delete(stored);
        zr_template_delete(out);
    }
}

// A plain template in the verification list is enrolled into a
// multi-template of one on the way, also when templates enter with the
// dynamic-update flags.
TEST_F(UpdateCaptures, PlainTemplatesInTheListAreEnrolled) {
    for (uint32_t dynamic : {0u, 1u}) {
        zr_algorithm_get_config(a)->dynamic_update = dynamic;
        zr_template* plain = finger().templates[0];
        zr_template** enrolled = create_enrolled_multitemplates(a, &plain, 1);
        ASSERT_NE(nullptr, enrolled);
        EXPECT_TRUE(is_zrmt(enrolled[0]));
        zr_multitemplate_manager* m = zr_multitemplate_manager_create_with_template(enrolled[0]);
        ASSERT_NE(nullptr, m);
        EXPECT_EQ(1u, zr_multitemplate_manager_get_nbr_of_templates(m)) << dynamic;
        zr_multitemplate_manager_delete(m);
        release_template_array(enrolled, 1);
        EXPECT_EQ(1u, verify_at(a, plain, finger().enrol[0], kFarLevel)) << dynamic;
    }
}

// Update and re-enrolment of a real record; "zr.dynupdate.fast" 4 counts as
// 0 in the plain update.
TEST_F(UpdateCaptures, UpdateAndReenroll) {
    zr_template* const* list = finger().templates.data();
    zr_template* four = nullptr;
    ASSERT_EQ(ZR_OK, zr_algorithm_create_multitemplate(a, list, 4, &four));
    const uint32_t before = instances(four);

    zr_template* by_fast[2] = {};
    const int32_t fast[2] = {4, 0};
    for (int k = 0; k < 2; ++k) {
        set_key(zr_algorithm_get_session(a), "zr.dynupdate.fast", fast[k]);
        ASSERT_EQ(ZR_OK, zr_algorithm_update_multitemplate(a, four, list + 4, 2, &by_fast[k])) << fast[k];
        ASSERT_TRUE(is_zrmt(by_fast[k]));
    }
    EXPECT_TRUE(same_bytes(by_fast[0], by_fast[1]));
    EXPECT_GT(instances(by_fast[0]), before);
    EXPECT_EQ(6u, enrol_accepts(by_fast[0]));
    set_key(zr_algorithm_get_session(a), "zr.dynupdate.fast", kNoKey);

    zr_template* again = nullptr;
    EXPECT_EQ(ZR_OK, zr_algorithm_reenroll_multitemplate(a, by_fast[0], &again));
    ASSERT_TRUE(is_zrmt(again));
    EXPECT_EQ(instances(by_fast[0]), instances(again));
    EXPECT_EQ(6u, enrol_accepts(again));

    // An incremental record takes no selection: re-enrolling adds nothing.
    zr_template* incremental = nullptr;
    ASSERT_EQ(ZR_OK, zr_algorithm_create_incr_multitemplate(a, list, 6, &incremental));
    zr_template* out = nullptr;
    EXPECT_EQ(ZR_NO_MEMORY, zr_algorithm_reenroll_multitemplate(a, incremental, &out));
    EXPECT_EQ(nullptr, out);

    for (zr_template* t : {four, by_fast[0], by_fast[1], again, incremental}) zr_template_delete(t);
}

// A dynamic update from a real genuine verification gives a record that
// still verifies, with and without the dynamic-update word.
TEST_F(UpdateCaptures, DynamicUpdateFromAGenuineVerification) {
    zr_template* stored = nullptr;
    ASSERT_EQ(ZR_OK, zr_algorithm_create_multitemplate(a, finger().templates.data(), 4, &stored));
    zr_image* probe = finger().enrol[4];
    uint32_t decision = 0;
    zr_template* updated = nullptr;
    ASSERT_EQ(ZR_OK, zr_algorithm_verify_image(a, &stored, 1, probe, kFarLevel, &decision, nullptr, nullptr, nullptr,
                                               &updated));
    ASSERT_EQ(1u, decision);
    zr_template_delete(updated);
    for (uint32_t dynamic : {0u, 1u}) {
        zr_algorithm_get_config(a)->dynamic_update = dynamic;
        zr_match_result* result = nullptr;
        ASSERT_EQ(ZR_OK, zr_algorithm_verify_image_ex(a, &stored, 1, probe, kFarLevel, &result));
        ASSERT_EQ(1u, result->decision);
        zr_template* out = nullptr;
        ASSERT_EQ(ZR_OK, zr_algorithm_update_multitemplate_ex(a, stored, result, &out)) << dynamic;
        ASSERT_TRUE(is_zrmt(out)) << dynamic;
        EXPECT_GE(instances(out), instances(stored)) << dynamic;
        EXPECT_EQ(1u, verify_at(a, out, probe, kFarLevel)) << dynamic;
        EXPECT_GE(enrol_accepts(out), enrol_accepts(stored)) << dynamic;
        EXPECT_NE(nullptr, result->verified_template);
        zr_template_delete(out);
        zr_match_result_delete(result);
    }
    zr_template_delete(stored);
}

}  // namespace
