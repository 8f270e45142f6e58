#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "objects/zr_session.h"

namespace {

class SessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        zr_session_clear_properties(nullptr);
        session_ = zr_session_create();
        ASSERT_NE(session_, nullptr);
    }
    void TearDown() override {
        zr_session_delete(session_);
        zr_session_clear_properties(nullptr);
    }
    zr_session* session_ = nullptr;
};

int g_context_destroyed = 0;
void count_context_destroy(void*) { ++g_context_destroyed; }

TEST_F(SessionTest, ContextsAreReplacedRemovedAndDestroyed) {
    g_context_destroyed = 0;
    int a = 1, b = 2, c = 3;
    EXPECT_EQ(zr_session_set_context(session_, &a, 11, count_context_destroy), ZR_OK);
    EXPECT_EQ(zr_session_set_context(session_, &b, 11, count_context_destroy), ZR_OK);
    EXPECT_EQ(g_context_destroyed, 1);  // the replaced context's data
    EXPECT_EQ(session_->count, 1u);
    EXPECT_EQ(zr_session_get_context(session_, 11), &b);
    EXPECT_EQ(static_cast<void*>(zr_session_get_algorithm(session_)), &b);
    EXPECT_EQ(zr_session_set_context(session_, &c, 9, nullptr), ZR_OK);
    EXPECT_EQ(session_->first->id, 9u);  // new contexts go to the head
    EXPECT_EQ(session_->last->id, 11u);
    zr_session_remove_context(session_, 5);  // absent: nothing happens
    EXPECT_EQ(session_->count, 2u);
    zr_session_remove_context(session_, 11);
    EXPECT_EQ(g_context_destroyed, 2);
    EXPECT_EQ(zr_session_get_context(session_, 11), nullptr);
    EXPECT_EQ(session_->first, session_->last);
    EXPECT_EQ(zr_session_set_context(session_, &a, 11, count_context_destroy), ZR_OK);
    zr_session* other = zr_session_create_or_retain(session_);
    EXPECT_EQ(other, session_);
    EXPECT_EQ(session_->ref_count, 2u);
    zr_session_delete(other);
    EXPECT_EQ(g_context_destroyed, 2);
    // Missing sessions store nothing and find nothing.
    EXPECT_EQ(zr_session_set_context(nullptr, &a, 8, count_context_destroy), ZR_OK);
    EXPECT_EQ(zr_session_get_context(nullptr, 8), nullptr);
    zr_session* fresh = zr_session_create_or_retain(nullptr);
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(fresh->ref_count, 1u);
    EXPECT_EQ(fresh->count, 0u);
    zr_session_delete(fresh);
}

TEST_F(SessionTest, DeletingTheSessionDestroysEveryContext) {
    g_context_destroyed = 0;
    zr_session* session = zr_session_create();
    int a = 0;
    EXPECT_EQ(ZR_OK, zr_session_set_context(session, &a, 1, count_context_destroy));
    EXPECT_EQ(ZR_OK, zr_session_set_context(session, &a, 2, count_context_destroy));
    EXPECT_EQ(ZR_OK, zr_session_set_context(session, &a, 3, nullptr));
    EXPECT_EQ(zr_session_set_int(session, "k", 1), ZR_OK);  // context 8 with its list
    zr_session_delete(session);
    EXPECT_EQ(g_context_destroyed, 2);
}

TEST_F(SessionTest, PropertiesFallBackToTheProcessList) {
    EXPECT_EQ(zr_session_get_int(session_, "zr.extractor.dpi", 500), 500);
    EXPECT_EQ(zr_session_set_int(nullptr, "zr.extractor.dpi", 250), ZR_OK);
    EXPECT_EQ(zr_session_get_int(session_, "zr.extractor.dpi", 500), 250);
    EXPECT_EQ(zr_session_get_int(nullptr, "zr.extractor.dpi", 500), 250);
    EXPECT_EQ(zr_session_set_int(session_, "zr.extractor.dpi", 508), ZR_OK);
    EXPECT_EQ(zr_session_get_int(session_, "zr.extractor.dpi", 500), 508);
    EXPECT_EQ(zr_session_get_int(nullptr, "zr.extractor.dpi", 500), 250);
    EXPECT_EQ(zr_session_set_int(session_, "zr.extractor.dpi", -3), ZR_OK);  // overwritten in place
    EXPECT_EQ(zr_session_get_int(session_, "zr.extractor.dpi", 500), -3);
    EXPECT_EQ(zr_session_get_int(session_, "ZR.EXTRACTOR.DPI", 7), 7);  // case-sensitive

    zr_session_clear_property(session_, "zr.extractor.dpi");
    EXPECT_EQ(zr_session_get_int(session_, "zr.extractor.dpi", 500), 250);
    zr_session_clear_property(session_, "absent");
    zr_session_clear_properties(nullptr);
    EXPECT_EQ(zr_session_get_int(nullptr, "zr.extractor.dpi", 500), 500);
    EXPECT_EQ(zr_session_get_int(session_, "zr.extractor.dpi", 500), 500);
}

TEST_F(SessionTest, SetPreserveKeepsAnExistingValue) {
    EXPECT_EQ(zr_session_set_int(nullptr, "zr.dynupdate.fast", 7), ZR_OK);
    EXPECT_EQ(zr_session_set_int_preserve(session_, "zr.dynupdate.fast", 5), ZR_OK);
    zr_session_clear_properties(nullptr);
    EXPECT_EQ(zr_session_get_int(session_, "zr.dynupdate.fast", 0), 7);  // stored in the session
    EXPECT_EQ(zr_session_set_int_preserve(session_, "zr.verifier.force_model_variant", 5), ZR_OK);
    EXPECT_EQ(zr_session_get_int(session_, "zr.verifier.force_model_variant", 0), 5);
    EXPECT_EQ(zr_session_set_int_preserve(session_, "zr.verifier.force_model_variant", 9), ZR_OK);
    EXPECT_EQ(zr_session_get_int(session_, "zr.verifier.force_model_variant", 0), 5);
}

TEST_F(SessionTest, DisabledEntriesRefuseWritesAndReadAsDefault) {
    ASSERT_EQ(zr_session_set_int(session_, "k", 4), ZR_OK);
    auto* list = static_cast<zr_property_list*>(zr_session_get_context(session_, 8));
    ASSERT_NE(list, nullptr);
    list->first->disabled = 1;
    EXPECT_EQ(zr_session_set_int(session_, "k", 5), ZR_WRONG_TYPE);
    EXPECT_EQ(zr_session_get_int(session_, "k", 77), 77);
    // A disabled session entry hides the process-wide value too.
    EXPECT_EQ(zr_session_set_int(nullptr, "k", 6), ZR_OK);
    EXPECT_EQ(zr_session_get_int(session_, "k", 77), 77);
    zr_settings* settings = nullptr;
    uint32_t count = 0;
    ASSERT_EQ(zr_session_get_settings(session_, &settings, &count), ZR_OK);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(settings[0].value, -1);
    std::free(settings);
}

TEST_F(SessionTest, SettingsListTheSessionsOwnPropertiesNewestFirst) {
    zr_settings* settings = nullptr;
    uint32_t count = 5;
    ASSERT_EQ(zr_session_get_settings(session_, &settings, &count), ZR_OK);
    EXPECT_NE(settings, nullptr);  // an allocated, empty array
    EXPECT_EQ(count, 0u);
    std::free(settings);

    const std::string long_key(100, 'x');
    ASSERT_EQ(zr_session_set_sensor_size_(session_, 8), ZR_OK);
    ASSERT_EQ(zr_session_set_int(session_, long_key.c_str(), 42), ZR_OK);
    ASSERT_EQ(zr_session_set_slice_rows_(session_, 48), ZR_OK);
    ASSERT_EQ(zr_session_set_int(nullptr, "process.only", 1), ZR_OK);
    ASSERT_EQ(zr_session_get_settings(session_, &settings, &count), ZR_OK);
    ASSERT_EQ(count, 3u);
    EXPECT_STREQ(settings[0].name, "slice_rows");
    EXPECT_EQ(settings[0].value, 48);
    EXPECT_EQ(std::strlen(settings[1].name), 63u);  // cut to 63 characters and a NUL
    EXPECT_EQ(std::string(settings[1].name), long_key.substr(0, 63));
    EXPECT_EQ(settings[1].value, 42);
    EXPECT_STREQ(settings[2].name, "zr.algorithm.sensor_size");
    std::free(settings);
    // The full key is still the one stored and looked up.
    EXPECT_EQ(zr_session_get_int(session_, long_key.c_str(), 0), 42);
    EXPECT_EQ(zr_session_get_int(session_, long_key.substr(0, 63).c_str(), 0), 0);

    EXPECT_EQ(zr_session_get_settings(nullptr, &settings, &count), ZR_BAD_ARGUMENT);
    EXPECT_EQ(zr_session_get_settings(session_, nullptr, &count), ZR_BAD_ARGUMENT);
    zr_session_clear_properties(session_);
    EXPECT_EQ(zr_session_get_context(session_, 8), nullptr);
    EXPECT_EQ(zr_session_get_slice_rows(session_), 96);
}

TEST_F(SessionTest, NamedAccessorsAndDefaults) {
    EXPECT_EQ(zr_session_get_sensor_size(session_), 0);
    EXPECT_EQ(zr_session_get_sensor_type(session_), 0);
    EXPECT_EQ(zr_session_get_360_state(session_), 1);
    EXPECT_EQ(zr_session_get_slice_rows(session_), 96);
    EXPECT_EQ(zr_session_set_sensor_size_(session_, 4), ZR_OK);
    EXPECT_EQ(zr_session_set_sensor_type_(session_, 2), ZR_OK);
    EXPECT_EQ(zr_session_set_360_state_(session_, 0), ZR_OK);
    EXPECT_EQ(zr_session_set_slice_rows_(nullptr, 32), ZR_OK);
    EXPECT_EQ(zr_session_get_int(session_, "zr.algorithm.sensor_size", 0), 4);
    EXPECT_EQ(zr_session_get_int(session_, "zr.algorithm.sensor_type", 0), 2);
    EXPECT_EQ(zr_session_get_int(session_, "zr.algorithm.360", 1), 0);
    EXPECT_EQ(zr_session_get_slice_rows(session_), 32);
    EXPECT_EQ(zr_session_set_int(session_, nullptr, 1), ZR_BAD_ARGUMENT);
    EXPECT_EQ(zr_session_get_int(session_, nullptr, 6), 6);
}

}  // namespace
