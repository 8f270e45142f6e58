// Multi-template record: instance and metadata operations, the "ZRMT" codec
// against hand-written bytes, round trips of random records, damaged input,
// and the limits the writer can store.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "match/multitemplate/zr_multitemplate.h"
#include "objects/zr_alloc.h"
#include "objects/zr_template.h"

namespace {

using bytes = std::vector<uint8_t>;

// Builds records byte by byte, big-endian.
struct record_builder {
    bytes out;
    record_builder& u8(uint32_t v) {
        out.push_back(uint8_t(v));
        return *this;
    }
    record_builder& u16(uint32_t v) { return u8(v >> 8).u8(v); }
    record_builder& u32(uint32_t v) { return u16(v >> 16).u16(v); }
    record_builder& raw(const bytes& b) {
        out.insert(out.end(), b.begin(), b.end());
        return *this;
    }
    record_builder& head(uint8_t version, uint8_t instances, uint8_t globals) {
        return raw({'Z', 'R', 'M', 'T', 0}).u8(version).u8(instances).u8(globals);
    }
    record_builder& item(uint8_t tag, const bytes& data) { return u8(tag).u16(uint32_t(data.size())).raw(data); }
    // Version 2 and 3 instance head and data.
    record_builder& instance(uint32_t id, uint8_t items, uint8_t type, const bytes& data) {
        return u32(id).u8(items).u8(type).u32(uint32_t(data.size())).raw(data);
    }
    record_builder& instance_v1(uint32_t id, uint8_t items, uint8_t type, const bytes& data) {
        return u32(id).u8(items).u8(type).u16(uint32_t(data.size())).raw(data);
    }
    record_builder& fill(size_t n) {
        out.insert(out.end(), n, 0xFF);
        return *this;
    }
};

// Owns a template.
struct tmpl_ptr {
    zr_template* p = nullptr;
    tmpl_ptr() = default;
    explicit tmpl_ptr(zr_template* t) : p(t) {}
    tmpl_ptr(const tmpl_ptr&) = delete;
    tmpl_ptr& operator=(const tmpl_ptr&) = delete;
    ~tmpl_ptr() { zr_template_delete(p); }
    zr_template** out() {
        zr_template_delete(p);
        p = nullptr;
        return &p;
    }
};

struct mt_ptr {
    zr_multitemplate* p = nullptr;
    mt_ptr() = default;
    explicit mt_ptr(zr_multitemplate* m) : p(m) {}
    mt_ptr(const mt_ptr&) = delete;
    mt_ptr& operator=(const mt_ptr&) = delete;
    ~mt_ptr() { zr_multitemplate_delete(p); }
    zr_multitemplate** out() {
        zr_multitemplate_delete(p);
        p = nullptr;
        return &p;
    }
};

bytes data_of(const zr_template* t) { return bytes(t->data, t->data + t->size); }

zr_template* owned(uint32_t type, const bytes& b) { return zr_template_create(type, b.data(), uint32_t(b.size())); }

// A record template over the caller's bytes (not const: decoded in place).
zr_template* view_of(bytes& b) { return zr_template_create_mr(ZR_TEMPLATE_MULTI, b.data(), uint32_t(b.size())); }

zr_status decode_bytes(const bytes& record, mt_ptr& mt) {
    tmpl_ptr t(owned(ZR_TEMPLATE_MULTI, record));
    return zr_multitemplate_decode(t.p, mt.out());
}

bytes encode_bytes(zr_multitemplate* mt, zr_status* status = nullptr) {
    tmpl_ptr t;
    const zr_status s = zr_multitemplate_encode(mt, t.out());
    if (status) *status = s;
    return t.p ? data_of(t.p) : bytes{};
}

std::vector<uint32_t> ids_of(const zr_multitemplate* mt) {
    std::vector<uint32_t> ids;
    for (const zr_mt_instance* i = mt->instances; i; i = i->next) ids.push_back(i->id);
    return ids;
}

bytes item_bytes(const zr_multitemplate* mt, uint32_t id, uint32_t tag) {
    uint16_t length = 0;
    const uint8_t* d = zr_multitemplate_get_metadata(mt, id, tag, &length);
    return d ? bytes(d, d + length) : bytes{};
}

// --- instances ---

TEST(MultiTemplate, InstanceOperations) {
    mt_ptr mt(zr_multitemplate_create());
    ASSERT_NE(mt.p, nullptr);
    EXPECT_EQ(mt.p->next_id, 1u);
    tmpl_ptr a(owned(ZR_TEMPLATE_EHM, {1, 2})), b(owned(ZR_TEMPLATE_EHM, {3}));

    EXPECT_EQ(ZR_OK, zr_multitemplate_add_instance(mt.p, 7, a.p));
    EXPECT_EQ(a.p->ref_count, 2u);
    EXPECT_EQ(mt.p->next_id, 8u);
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_multitemplate_add_instance(mt.p, 7, b.p));
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_multitemplate_add_instance(mt.p, ZR_MT_GLOBAL, b.p));
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_multitemplate_add_instance(mt.p, 9, nullptr));
    // Adding a lower id lowers the next id.
    EXPECT_EQ(ZR_OK, zr_multitemplate_add_instance(mt.p, 2, b.p));
    EXPECT_EQ(mt.p->next_id, 3u);
    // The next id (3) is not above the greatest (7): 8 is taken.
    uint32_t id = 0;
    EXPECT_EQ(ZR_OK, zr_multitemplate_add_instance_no_tag(mt.p, a.p, &id));
    EXPECT_EQ(id, 8u);
    EXPECT_EQ((std::vector<uint32_t>{7, 2, 8}), ids_of(mt.p));
    EXPECT_EQ(zr_multitemplate_get_nbr_of_instances(mt.p), 3u);

    int32_t it = int32_t(ZR_MT_GLOBAL);
    std::vector<uint32_t> walked;
    while (zr_multitemplate_next_tag(mt.p, &it)) walked.push_back(uint32_t(it));
    EXPECT_EQ(walked, ids_of(mt.p));
    it = 99;
    EXPECT_EQ(zr_multitemplate_next_tag(mt.p, &it), 0u);

    tmpl_ptr got(zr_multitemplate_get_instance_for_index(mt.p, -5, &id));
    EXPECT_EQ(got.p, a.p);
    EXPECT_EQ(id, 7u);
    tmpl_ptr second(zr_multitemplate_get_instance_for_index(mt.p, 1, &id));
    EXPECT_EQ(second.p, b.p);
    EXPECT_EQ(id, 2u);
    EXPECT_EQ(zr_multitemplate_get_instance_for_index(mt.p, 3, &id), nullptr);
    EXPECT_EQ(zr_multitemplate_get_instance(mt.p, 4), nullptr);

    EXPECT_EQ(ZR_NOT_FOUND, zr_multitemplate_update_instance(mt.p, a.p, 4));
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_multitemplate_update_instance(mt.p, nullptr, 2));
    const uint32_t b_refs = b.p->ref_count;
    EXPECT_EQ(ZR_OK, zr_multitemplate_update_instance(mt.p, a.p, 2));
    EXPECT_EQ(b.p->ref_count, b_refs - 1);
    tmpl_ptr updated(zr_multitemplate_get_instance(mt.p, 2));
    EXPECT_EQ(updated.p, a.p);

    EXPECT_EQ(ZR_OK, zr_multitemplate_remove_all_instances(mt.p));
    EXPECT_EQ(zr_multitemplate_get_nbr_of_instances(mt.p), 0u);
    EXPECT_EQ(a.p->ref_count, 3u);  // a, got, updated
    EXPECT_EQ(mt.p->next_id, 9u);
}

TEST(MultiTemplate, RemovedIdsAndReuse) {
    mt_ptr mt(zr_multitemplate_create());
    tmpl_ptr t(owned(ZR_TEMPLATE_EHM, {1}));
    uint32_t id = 0;
    for (int i = 0; i < 3; ++i) ASSERT_EQ(ZR_OK, zr_multitemplate_add_instance_no_tag(mt.p, t.p, &id));
    EXPECT_EQ(id, 3u);
    // Plain removal keeps the highest id out of use.
    EXPECT_EQ(ZR_OK, zr_multitemplate_remove_instance(mt.p, 3));
    EXPECT_EQ(ZR_OK, zr_multitemplate_add_instance_no_tag(mt.p, t.p, &id));
    EXPECT_EQ(id, 4u);
    // Removal with the tag hands the last id out again.
    EXPECT_EQ(ZR_OK, zr_multitemplate_remove_instance_and_tag(mt.p, 4));
    EXPECT_EQ(ZR_OK, zr_multitemplate_add_instance_no_tag(mt.p, t.p, &id));
    EXPECT_EQ(id, 4u);
    // An absent id still raises the next id.
    EXPECT_EQ(ZR_NOT_FOUND, zr_multitemplate_remove_instance(mt.p, 20));
    EXPECT_EQ(mt.p->next_id, 21u);
}

TEST(MultiTemplate, At255InstancesAddingRefuses) {
    mt_ptr mt(zr_multitemplate_create());
    tmpl_ptr t(owned(ZR_TEMPLATE_EHM, {1}));
    for (uint32_t i = 0; i < ZR_MT_MAX_INSTANCES; ++i) ASSERT_EQ(ZR_OK, zr_multitemplate_add_instance(mt.p, i, t.p));
    uint32_t id = 0;
    EXPECT_EQ(ZR_UNHANDLED_INPUT, zr_multitemplate_add_instance_no_tag(mt.p, t.p, &id));
    EXPECT_EQ(id, 255u);
}

// --- metadata ---

TEST(MultiTemplate, MetadataOperations) {
    mt_ptr mt(zr_multitemplate_create()), other(zr_multitemplate_create());
    tmpl_ptr t(owned(ZR_TEMPLATE_EHM, {1}));
    ASSERT_EQ(ZR_OK, zr_multitemplate_add_instance(mt.p, 5, t.p));
    ASSERT_EQ(ZR_OK, zr_multitemplate_add_instance(other.p, 5, t.p));
    const uint8_t one[] = {1}, two[] = {2, 2};
    EXPECT_EQ(ZR_OK, zr_multitemplate_add_metadata(mt.p, 5, 10, one, 1));
    EXPECT_EQ(ZR_OK, zr_multitemplate_add_metadata(mt.p, 5, 11, two, 2));
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_multitemplate_add_metadata(mt.p, 5, 10, two, 2));
    EXPECT_EQ(ZR_NOT_FOUND, zr_multitemplate_add_metadata(mt.p, 6, 10, two, 2));
    EXPECT_EQ(ZR_OK, zr_multitemplate_add_metadata(mt.p, ZR_MT_GLOBAL, 10, two, 2));
    EXPECT_EQ(item_bytes(mt.p, 5, 11), (bytes{2, 2}));
    EXPECT_EQ(item_bytes(mt.p, ZR_MT_GLOBAL, 10), (bytes{2, 2}));
    uint16_t length = 9;
    EXPECT_EQ(zr_multitemplate_get_metadata(mt.p, 5, 12, &length), nullptr);
    EXPECT_EQ(length, 0);

    // Newest first.
    uint32_t tag = 0;
    std::vector<uint32_t> tags;
    while (zr_multitemplate_next_metadata(mt.p, 5, &tag)) tags.push_back(tag);
    EXPECT_EQ(tags, (std::vector<uint32_t>{11, 10}));

    EXPECT_EQ(ZR_OK, zr_multitemplate_copy_metadata(mt.p, other.p, 5, 11));
    EXPECT_EQ(item_bytes(other.p, 5, 11), (bytes{2, 2}));
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_multitemplate_copy_metadata(mt.p, other.p, 5, 11));
    EXPECT_EQ(ZR_OK, zr_multitemplate_copy_metadata(mt.p, other.p, 5, 99));  // absent in the source
    EXPECT_EQ(ZR_OK, zr_multitemplate_remove_instance(other.p, 5));
    EXPECT_EQ(ZR_NOT_FOUND, zr_multitemplate_copy_metadata(mt.p, other.p, 5, 10));

    EXPECT_EQ(ZR_OK, zr_multitemplate_remove_metadata(mt.p, 5, 11));
    EXPECT_EQ(ZR_NOT_FOUND, zr_multitemplate_remove_metadata(mt.p, 5, 11));
    EXPECT_EQ(ZR_NOT_FOUND, zr_multitemplate_remove_metadata(mt.p, 6, 10));
}

// The writer stores one tag byte, one count byte and a 16-bit list extent.
TEST(MultiTemplate, AddingRefusesWhatCannotBeStored) {
    mt_ptr mt(zr_multitemplate_create());
    tmpl_ptr t(owned(ZR_TEMPLATE_EHM, {1}));
    ASSERT_EQ(ZR_OK, zr_multitemplate_add_instance(mt.p, 1, t.p));
    const uint8_t byte = 0;
    // Tags above 255 would be stored as another tag.
    EXPECT_EQ(ZR_UNHANDLED_INPUT, zr_multitemplate_add_metadata(mt.p, ZR_MT_GLOBAL, 259, &byte, 1));
    EXPECT_EQ(ZR_UNHANDLED_INPUT, zr_multitemplate_add_metadata(mt.p, 1, 256, &byte, 1));
    EXPECT_EQ(ZR_OK, zr_multitemplate_add_metadata(mt.p, 1, 255, &byte, 1));

    // 255 items a list (tag 255 is already there); the 256th is refused.
    for (uint32_t tag = 0; tag < 254; ++tag)
        ASSERT_EQ(ZR_OK, zr_multitemplate_add_metadata(mt.p, 1, tag, nullptr, 0)) << tag;
    EXPECT_EQ(ZR_UNHANDLED_INPUT, zr_multitemplate_add_metadata(mt.p, 1, 254, nullptr, 0));

    // The global list keeps one item of room for the tag-3 item...
    mt_ptr global(zr_multitemplate_create());
    for (uint32_t tag = 0; tag < 255; ++tag) {
        if (tag == ZR_MT_TAG_NEXT_ID) continue;
        ASSERT_EQ(ZR_OK, zr_multitemplate_add_metadata(global.p, ZR_MT_GLOBAL, tag, nullptr, 0)) << tag;
    }
    EXPECT_EQ(ZR_UNHANDLED_INPUT, zr_multitemplate_add_metadata(global.p, ZR_MT_GLOBAL, 255, nullptr, 0));
    const uint8_t next_id[4] = {0, 0, 0, 9};
    EXPECT_EQ(ZR_OK, zr_multitemplate_add_metadata(global.p, ZR_MT_GLOBAL, ZR_MT_TAG_NEXT_ID, next_id, 4));

    // ...and 7 bytes for it; an instance list is full at 65535 stored bytes.
    std::vector<uint8_t> big(65535, 0x5A);
    mt_ptr sized(zr_multitemplate_create());
    ASSERT_EQ(ZR_OK, zr_multitemplate_add_instance(sized.p, 1, t.p));
    EXPECT_EQ(ZR_UNHANDLED_INPUT, zr_multitemplate_add_metadata(sized.p, 1, 1, big.data(), 65535));
    EXPECT_EQ(ZR_OK, zr_multitemplate_add_metadata(sized.p, 1, 1, big.data(), 65532));
    EXPECT_EQ(ZR_UNHANDLED_INPUT, zr_multitemplate_add_metadata(sized.p, 1, 2, nullptr, 0));
    EXPECT_EQ(ZR_UNHANDLED_INPUT, zr_multitemplate_add_metadata(sized.p, ZR_MT_GLOBAL, 1, big.data(), 65526));
    EXPECT_EQ(ZR_OK, zr_multitemplate_add_metadata(sized.p, ZR_MT_GLOBAL, 1, big.data(), 65525));
    EXPECT_EQ(ZR_UNHANDLED_INPUT, zr_multitemplate_add_metadata(sized.p, ZR_MT_GLOBAL, 2, nullptr, 0));

    // copy_metadata applies the same limits.
    mt_ptr full(zr_multitemplate_create());
    ASSERT_EQ(ZR_OK, zr_multitemplate_add_metadata(full.p, ZR_MT_GLOBAL, 2, big.data(), 65000));
    EXPECT_EQ(ZR_UNHANDLED_INPUT, zr_multitemplate_copy_metadata(sized.p, full.p, ZR_MT_GLOBAL, 1));

    // A full global list still encodes with its tag-3 item.
    global.p->next_id = 1000;
    zr_status status = ZR_FAILURE;
    const bytes encoded = encode_bytes(global.p, &status);
    EXPECT_EQ(ZR_OK, status);
    mt_ptr back;
    ASSERT_EQ(ZR_OK, decode_bytes(encoded, back));
    EXPECT_EQ(back.p->next_id, 1000u);
    EXPECT_EQ(encoded.size(), 8u + 254u * 3u + 7u);
}

// A list filled past the format's limits behind the adding operations' back
// (as a decoded global list can be) is refused before anything is reserved.
TEST(MultiTemplate, EncoderRefusesUnstorableListsBeforeReserving) {
    struct counting_writer {
        int reserves = 0;
    } state;
    const zr_storage_writer writer = {
        [](void* c, uint32_t, uint8_t**, int32_t*, zr_release_fn*, void**) {
            ++static_cast<counting_writer*>(c)->reserves;
            return BAL_NO_MEMORY;
        },
        [](void*, const uint8_t*, uint32_t) { return BAL_OK; },
    };
    // 255 global items and a next id that needs the tag-3 item.
    mt_ptr mt(zr_multitemplate_create());
    for (uint32_t tag = 0; tag < 255; ++tag) {
        if (tag == ZR_MT_TAG_NEXT_ID) continue;
        ASSERT_EQ(ZR_OK, zr_multitemplate_add_metadata(mt.p, ZR_MT_GLOBAL, tag, nullptr, 0));
    }
    zr_mt_item* extra = static_cast<zr_mt_item*>(calloc(1, sizeof(zr_mt_item)));
    extra->tag = 255;
    extra->next = mt.p->items;
    mt.p->items = extra;
    mt.p->next_id = 50;
    tmpl_ptr out;
    EXPECT_EQ(ZR_UNHANDLED_INPUT, zr_multitemplate_encode_to_storage(mt.p, out.out(), &writer, &state));
    EXPECT_EQ(state.reserves, 0);
    // With next id 1 no tag-3 item is needed and the list is writable.
    mt.p->next_id = 1;
    EXPECT_EQ(ZR_NO_MEMORY, zr_multitemplate_encode_to_storage(mt.p, out.out(), &writer, &state));
    EXPECT_EQ(state.reserves, 1);
}

// --- codec ---

// Written by hand from the layout: next id 10 over greatest id 3 gives the
// tag-3 item first; id 0xFFFFFFFF is stored as 0x80000000; type 74 is stored
// as 67; the newest item of a list comes first.
TEST(MultiTemplate, EncodesGoldenBytes) {
    mt_ptr mt(zr_multitemplate_create());
    tmpl_ptr a(owned(ZR_TEMPLATE_EHM_PRESET, {0xA1, 0xA2, 0xA3})), b(owned(ZR_TEMPLATE_RAW_IMAGE, {}));
    ASSERT_EQ(ZR_OK, zr_multitemplate_add_instance(mt.p, 3, a.p));
    ASSERT_EQ(ZR_OK, zr_multitemplate_add_instance(mt.p, 0xFFFFFFFFu, b.p));
    const uint8_t x[] = {0x11, 0x22};
    ASSERT_EQ(ZR_OK, zr_multitemplate_add_metadata(mt.p, 3, 7, x, 2));
    ASSERT_EQ(ZR_OK, zr_multitemplate_add_metadata(mt.p, 3, 8, nullptr, 0));
    ASSERT_EQ(ZR_OK, zr_multitemplate_add_metadata(mt.p, ZR_MT_GLOBAL, 200, x, 1));
    mt.p->next_id = 10;
    const uint64_t size_before = zr_multitemplate_encode_size(mt.p);

    const bytes expected = {
        'Z', 'R', 'M', 'T', 0x00, 0x03, 0xFF, 0x02,      // head
        0x03, 0x00, 0x04, 0x00, 0x00, 0x00, 0x0A,        // tag 3: next id 10
        0xC8, 0x00, 0x01, 0x11,                          // global tag 200
        0x00, 0x00, 0x00, 0x03, 0x02, 0x43, 0x00, 0x00, 0x00, 0x03,  // id 3, 2 items, type 67, 3 bytes
        0xA1, 0xA2, 0xA3,
        0x08, 0x00, 0x00,                                // tag 8, empty
        0x07, 0x00, 0x02, 0x11, 0x22,                    // tag 7
        0x80, 0x00, 0x00, 0x00, 0x00, 0x47, 0x00, 0x00, 0x00, 0x00,  // id -1, type 71, no data
    };
    zr_status status = ZR_FAILURE;
    EXPECT_EQ(encode_bytes(mt.p, &status), expected);
    EXPECT_EQ(ZR_OK, status);
    EXPECT_EQ(size_before + 7, expected.size());  // the size before the tag-3 item went in
    EXPECT_EQ(zr_multitemplate_encode_size(mt.p), expected.size());  // the record keeps it

    mt_ptr back;
    ASSERT_EQ(ZR_OK, decode_bytes(expected, back));
    EXPECT_EQ(ids_of(back.p), (std::vector<uint32_t>{3, 0xFFFFFFFFu}));
    EXPECT_EQ(back.p->next_id, 10u);
    EXPECT_EQ(item_bytes(back.p, ZR_MT_GLOBAL, ZR_MT_TAG_NEXT_ID), (bytes{0, 0, 0, 10}));
    tmpl_ptr first(zr_multitemplate_get_instance(back.p, 3));
    EXPECT_EQ(first.p->type, uint32_t(ZR_TEMPLATE_EHM));
    EXPECT_EQ(data_of(first.p), (bytes{0xA1, 0xA2, 0xA3}));
    EXPECT_EQ(item_bytes(back.p, 3, 7), (bytes{0x11, 0x22}));
}

TEST(MultiTemplate, NextIdItemOnlyWhenItMatters) {
    struct step {
        std::vector<int32_t> ids;
        uint32_t next_id;
        bool written;
        uint32_t decoded_next_id;
    };
    const step steps[] = {
        {{1, 3}, 10, true, 10},
        {{1, 3}, 4, false, 1},
        {{}, 1, false, 1},
        {{}, 2, true, 2},
        {{-1, -5}, 0, false, 1},  // every id negative: left out, read back as 1
        {{-1}, 5, true, 5},
        {{0x7FFFFFFF}, 0x80000000u, false, 1},
    };
    for (const step& s : steps) {
        mt_ptr mt(zr_multitemplate_create());
        tmpl_ptr t(owned(ZR_TEMPLATE_EHM, {1}));
        for (int32_t id : s.ids) ASSERT_EQ(ZR_OK, zr_multitemplate_add_instance(mt.p, uint32_t(id), t.p));
        // A stale tag-3 item is always replaced.
        const uint8_t stale[4] = {0, 0, 0, 77};
        ASSERT_EQ(ZR_OK, zr_multitemplate_add_metadata(mt.p, ZR_MT_GLOBAL, ZR_MT_TAG_NEXT_ID, stale, 4));
        mt.p->next_id = s.next_id;
        zr_status status = ZR_FAILURE;
        const bytes record = encode_bytes(mt.p, &status);
        ASSERT_EQ(ZR_OK, status);
        EXPECT_EQ(record[7], s.written ? 1 : 0) << s.next_id;
        mt_ptr back;
        ASSERT_EQ(ZR_OK, decode_bytes(record, back));
        EXPECT_EQ(back.p->next_id, s.decoded_next_id) << s.next_id;
    }
}

struct decode_case {
    const char* name;
    bytes record;
    zr_status status;
    std::vector<uint32_t> ids;
};

std::vector<decode_case> decode_cases() {
    const bytes d2 = {9, 9};
    return {
        {"v3 count FF, fill after two instances",
         record_builder().head(3, 0xFF, 0).instance(1, 0, 67, d2).instance(2, 0, 67, d2).fill(13).out, ZR_OK, {1, 2}},
        {"v3 fill with a byte other than FF",
         record_builder().head(3, 0xFF, 0).instance(1, 0, 67, d2).fill(12).u8(0xFE).out, ZR_WRONG_TYPE, {}},
        {"v3 count 2 holding three",
         record_builder().head(3, 2, 0).instance(1, 0, 67, d2).instance(2, 0, 67, d2).instance(3, 0, 67, d2).out,
         ZR_WRONG_TYPE, {}},
        {"v3 count FF holding three",
         record_builder().head(3, 0xFF, 0).instance(1, 0, 67, d2).instance(2, 0, 67, d2).instance(3, 0, 67, d2).out,
         ZR_OK, {1, 2, 3}},
        {"v3 count 3 holding two", record_builder().head(3, 3, 0).instance(1, 0, 67, d2).instance(2, 0, 67, d2).out,
         ZR_WRONG_TYPE, {}},
        {"v3 count 0 with fill only", record_builder().head(3, 0, 0).fill(30).out, ZR_OK, {}},
        {"v3 short tail of fill", record_builder().head(3, 0xFF, 0).instance(1, 0, 67, d2).fill(9).out, ZR_OK, {1}},
        {"v3 short tail not fill", record_builder().head(3, 0xFF, 0).instance(1, 0, 67, d2).u8(0).out,
         ZR_WRONG_TYPE, {}},
        {"v3 id 80000000 reads as FFFFFFFF", record_builder().head(3, 0xFF, 0).instance(0x80000000u, 0, 67, d2).out,
         ZR_OK, {0xFFFFFFFFu}},
        {"v3 repeated ids kept", record_builder().head(3, 0xFF, 0).instance(4, 0, 67, d2).instance(4, 0, 67, {}).out,
         ZR_OK, {4, 4}},
        {"v1 16-bit sizes",
         record_builder().head(1, 2, 1).instance_v1(5, 1, 67, d2).item(1, {7}).instance_v1(6, 0, 71, {}).item(3, {0, 0, 0, 9})
             .u8(0x55).out,  // bytes after the global items are ignored
         ZR_OK, {5, 6}},
        {"v1 data past the end", record_builder().head(1, 1, 0).u32(5).u8(0).u8(67).u16(3).raw({1, 2}).out,
         ZR_WRONG_TYPE, {}},
        {"v1 count 2 holding one", record_builder().head(1, 2, 0).instance_v1(5, 0, 67, d2).out, ZR_WRONG_TYPE, {}},
        {"v2 32-bit sizes", record_builder().head(2, 1, 1).instance(8, 0, 67, d2).item(9, {}).out, ZR_OK, {8}},
        {"v2 missing global item", record_builder().head(2, 1, 1).instance(8, 0, 67, d2).out, ZR_WRONG_TYPE, {}},
        {"v2 size 0xFFFFFFFF", record_builder().head(2, 1, 0).u32(1).u8(0).u8(67).u32(0xFFFFFFFFu).fill(4).out,
         ZR_WRONG_TYPE, {}},
        {"instance item runs past the end", record_builder().head(3, 0xFF, 0).instance(1, 1, 67, d2).u8(1).u16(5).u8(0).out,
         ZR_WRONG_TYPE, {}},
        {"second item head missing", record_builder().head(3, 0xFF, 2).item(1, {}).out, ZR_WRONG_TYPE, {}},
        {"version 0", record_builder().head(0, 0, 0).out, ZR_WRONG_TYPE, {}},
        {"version 4", record_builder().head(4, 0, 0).out, ZR_WRONG_TYPE, {}},
        {"bad magic", record_builder().raw({'Z', 'R', 'M', 'T', 1, 3, 0, 0}).out, ZR_WRONG_TYPE, {}},
        {"short head", bytes{'Z', 'R', 'M', 'T', 0, 3, 0}, ZR_WRONG_TYPE, {}},
    };
}

TEST(MultiTemplate, DecodesEdgeCases) {
    for (const decode_case& c : decode_cases()) {
        mt_ptr mt;
        EXPECT_EQ(c.status, decode_bytes(c.record, mt)) << c.name;
        if (c.status != ZR_OK) {
            EXPECT_EQ(mt.p, nullptr) << c.name;
            continue;
        }
        ASSERT_NE(mt.p, nullptr) << c.name;
        EXPECT_EQ(ids_of(mt.p), c.ids) << c.name;
        EXPECT_EQ(mt.p->count, c.ids.size()) << c.name;
    }
}

TEST(MultiTemplate, DecodesVersions1And2Fully) {
    const bytes v1 = record_builder().head(1, 2, 1).instance_v1(5, 1, 67, {1, 2}).item(1, {7}).instance_v1(6, 0, 71, {})
                         .item(3, {0, 0, 0, 9}).out;
    mt_ptr mt;
    ASSERT_EQ(ZR_OK, decode_bytes(v1, mt));
    EXPECT_EQ(mt.p->next_id, 9u);
    EXPECT_EQ(item_bytes(mt.p, 5, 1), bytes{7});
    tmpl_ptr raw(zr_multitemplate_get_instance(mt.p, 6));
    EXPECT_EQ(raw.p->type, uint32_t(ZR_TEMPLATE_RAW_IMAGE));
    EXPECT_EQ(raw.p->size, 0u);
    // Re-encoded as version 3.
    const bytes v3 = encode_bytes(mt.p);
    EXPECT_EQ(v3, record_builder().head(3, 0xFF, 1).item(3, {0, 0, 0, 9}).instance(5, 1, 67, {1, 2}).item(1, {7})
                      .instance(6, 0, 71, {}).out);
}

TEST(MultiTemplate, RepeatedTagKeepsTheLastItem) {
    const bytes record =
        record_builder().head(3, 0xFF, 3).item(3, {0, 0, 0, 4}).item(9, {1}).item(3, {0, 0, 0, 8}).out;
    mt_ptr mt;
    ASSERT_EQ(ZR_OK, decode_bytes(record, mt));
    EXPECT_EQ(mt.p->next_id, 8u);
    uint32_t tag = 0;
    std::vector<uint32_t> tags;
    while (zr_multitemplate_next_metadata(mt.p, ZR_MT_GLOBAL, &tag)) tags.push_back(tag);
    EXPECT_EQ(tags, (std::vector<uint32_t>{9, 3}));
}

// A list whose stored extent passes 16 bits cannot be read back by the
// format's readers: refused as malformed.
TEST(MultiTemplate, DecoderRefusesListsPast16Bits) {
    const bytes half(40000, 1);
    const bytes record = record_builder().head(3, 0xFF, 2).item(1, half).item(2, half).out;
    mt_ptr mt;
    EXPECT_EQ(ZR_WRONG_TYPE, decode_bytes(record, mt));
    const bytes fits = record_builder().head(3, 0xFF, 2).item(1, half).item(2, bytes(65535 - 6 - 40000, 2)).out;
    EXPECT_EQ(ZR_OK, decode_bytes(fits, mt));
}

TEST(MultiTemplate, DecodeArgumentsAndType) {
    mt_ptr mt;
    tmpl_ptr wrong(owned(ZR_TEMPLATE_EHM, {'Z', 'R', 'M', 'T', 0, 3, 0xFF, 0}));
    EXPECT_EQ(ZR_UNHANDLED_INPUT, zr_multitemplate_decode(wrong.p, mt.out()));
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_multitemplate_decode(nullptr, mt.out()));
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_multitemplate_decode(wrong.p, nullptr));
    tmpl_ptr out;
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_multitemplate_encode(nullptr, out.out()));
    mt_ptr empty(zr_multitemplate_create());
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_multitemplate_encode_to_storage(empty.p, out.out(), nullptr, nullptr));
}

// Instances of a non-const source are views holding the source; the memory
// writer's records are const, so their instances are copies.
TEST(MultiTemplate, InPlaceInstancesHoldTheSource) {
    bytes record = record_builder().head(3, 0xFF, 0).instance(1, 0, 67, {4, 5, 6}).out;
    zr_template* source = view_of(record);
    mt_ptr mt;
    ASSERT_EQ(ZR_OK, zr_multitemplate_decode(source, mt.out()));
    EXPECT_EQ(source->ref_count, 2u);
    tmpl_ptr inst(zr_multitemplate_get_instance(mt.p, 1));
    EXPECT_EQ(inst.p->data, record.data() + 18);
    EXPECT_EQ(zr_template_get_mr_const(inst.p), 0u);
    zr_template_delete(source);  // the instance keeps it alive
    EXPECT_EQ(data_of(inst.p), (bytes{4, 5, 6}));
    zr_multitemplate_delete(mt.p);
    mt.p = nullptr;
    EXPECT_EQ(data_of(inst.p), (bytes{4, 5, 6}));

    mt_ptr copy_source(zr_multitemplate_create());
    tmpl_ptr t(owned(ZR_TEMPLATE_EHM, {4, 5, 6}));
    ASSERT_EQ(ZR_OK, zr_multitemplate_add_instance(copy_source.p, 1, t.p));
    tmpl_ptr encoded;
    ASSERT_EQ(ZR_OK, zr_multitemplate_encode(copy_source.p, encoded.out()));
    EXPECT_EQ(zr_template_get_mr_const(encoded.p), 1u);
    EXPECT_EQ(zr_template_get_type(encoded.p), uint32_t(ZR_TEMPLATE_MULTI));
    mt_ptr decoded;
    ASSERT_EQ(ZR_OK, zr_multitemplate_decode(encoded.p, decoded.out()));
    EXPECT_EQ(encoded.p->ref_count, 1u);
    tmpl_ptr copied(zr_multitemplate_get_instance(decoded.p, 1));
    EXPECT_NE(copied.p->data, encoded.p->data + 18);
}

// The first failing call of a caller's writer stops the encoding: its buffer
// is released once and its code comes back as the writer gave it (codes that
// the object layer would read otherwise, such as 1, 2 and 5, included).
TEST(MultiTemplate, WriterFailureReleasesItsBufferOnceAndReturnsItsCode) {
    struct failing {
        uint32_t failing_call;  // 0 the reserve, n the n-th write
        bal_status code;
        heap_buffer heap{};
        int writes = 0;
        int releases = 0;
    };
    static failing* current = nullptr;
    const zr_storage_writer writer = {
        [](void* c, uint32_t size, uint8_t** data, int32_t* is_const, zr_release_fn* release, void** rc) {
            auto* s = static_cast<failing*>(c);
            const bal_status status = heap_reserve(&s->heap, size, data, is_const, release, rc);
            *release = [](void* buffer) {
                ++current->releases;
                free_mem(buffer);
            };
            return s->failing_call == 0 ? s->code : status;
        },
        [](void* c, const uint8_t* b, uint32_t n) {
            auto* s = static_cast<failing*>(c);
            if (uint32_t(++s->writes) == s->failing_call) return s->code;
            return heap_write(&s->heap, b, n);
        },
    };
    struct Case {
        uint32_t failing_call;
        bal_status code;
    };
    for (const Case& c : {Case{0, bal_status(1)}, Case{0, BAL_NO_MEMORY}, Case{1, bal_status(5)},
                          Case{3, bal_status(2)}, Case{3, BAL_BUFFER_FULL}}) {
        SCOPED_TRACE(testing::Message() << "call " << c.failing_call << " code " << uint32_t(c.code));
        failing state{c.failing_call, c.code};
        current = &state;
        mt_ptr mt(zr_multitemplate_create());
        const uint8_t x = 1;
        ASSERT_EQ(ZR_OK, zr_multitemplate_add_metadata(mt.p, ZR_MT_GLOBAL, 9, &x, 1));
        tmpl_ptr out;
        EXPECT_EQ(uint32_t(c.code), uint32_t(zr_multitemplate_encode_to_storage(mt.p, out.out(), &writer, &state)));
        EXPECT_EQ(out.p, nullptr);
        EXPECT_EQ(uint32_t(state.writes), c.failing_call);
        EXPECT_EQ(state.releases, 1);
    }
}

// --- random records ---

bytes random_bytes(std::mt19937& rng, size_t max) {
    bytes b(std::uniform_int_distribution<size_t>(0, max)(rng));
    for (uint8_t& v : b) v = uint8_t(rng());
    return b;
}

zr_multitemplate* random_record(std::mt19937& rng) {
    zr_multitemplate* mt = zr_multitemplate_create();
    const uint32_t instances = std::uniform_int_distribution<uint32_t>(0, 6)(rng);
    const uint32_t special[] = {0, 0xFFFFFFFFu, 0x7FFFFFFFu, 0x80000001u, 1};
    for (uint32_t i = 0; i < instances; ++i) {
        const uint32_t id = rng() % 3 == 0 ? special[rng() % 5] : rng() % 100;
        bytes data = random_bytes(rng, 40);
        zr_template* t = owned(rng() % 2 ? ZR_TEMPLATE_EHM : ZR_TEMPLATE_EHM_PRESET, data);
        (void)zr_multitemplate_add_instance(mt, id, t);  // a repeated id is refused
        zr_template_delete(t);
    }
    auto fill_list = [&](uint32_t id) {
        const int shape = int(rng() % 4);
        if (shape == 0) return;  // empty
        if (shape == 1) {        // full: as many empty items as the list takes
            for (uint32_t tag = 0; tag < 256; ++tag) (void)zr_multitemplate_add_metadata(mt, id, tag, nullptr, 0);
            return;
        }
        const uint32_t n = std::uniform_int_distribution<uint32_t>(1, 8)(rng);
        for (uint32_t k = 0; k < n; ++k) {
            const bytes data = random_bytes(rng, shape == 3 ? 20000 : 12);
            // Repeated tags across lists and refused repeats within one.
            (void)zr_multitemplate_add_metadata(mt, id, rng() % 6, data.data(), uint16_t(data.size()));
        }
    };
    fill_list(ZR_MT_GLOBAL);
    for (const zr_mt_instance* i = mt->instances; i; i = i->next) fill_list(i->id);
    if (rng() % 2) mt->next_id = rng() % 3 == 0 ? rng() : rng() % 200;
    return mt;
}

TEST(MultiTemplate, RandomRecordsEncodeDecodeEncodeIdentically) {
    std::mt19937 rng(20240611);
    for (int round = 0; round < 150; ++round) {
        mt_ptr mt(random_record(rng));
        zr_status status = ZR_FAILURE;
        const bytes first = encode_bytes(mt.p, &status);
        ASSERT_EQ(ZR_OK, status) << round;
        ASSERT_EQ(first.size(), zr_multitemplate_encode_size(mt.p));
        mt_ptr back;
        ASSERT_EQ(ZR_OK, decode_bytes(first, back)) << round;
        EXPECT_EQ(ids_of(back.p), ids_of(mt.p)) << round;
        EXPECT_EQ(encode_bytes(back.p, &status), first) << round;
        EXPECT_EQ(ZR_OK, status);
    }
}

// Damaged records either fail with ZR_WRONG_TYPE or give a record that
// re-encodes and reads back to the same bytes.
void check_damaged(const bytes& record, const char* what, int round) {
    mt_ptr mt;
    const zr_status status = decode_bytes(record, mt);
    if (status != ZR_OK) {
        EXPECT_EQ(ZR_WRONG_TYPE, status) << what << " " << round;
        return;
    }
    zr_status encoded = ZR_FAILURE;
    const bytes again = encode_bytes(mt.p, &encoded);
    ASSERT_EQ(ZR_OK, encoded) << what << " " << round;
    mt_ptr back;
    ASSERT_EQ(ZR_OK, decode_bytes(again, back)) << what << " " << round;
    EXPECT_EQ(encode_bytes(back.p), again) << what << " " << round;
}

TEST(MultiTemplate, DamagedRecordsFailCleanlyOrReencode) {
    std::mt19937 rng(77);
    for (int round = 0; round < 60; ++round) {
        mt_ptr mt(random_record(rng));
        const bytes record = encode_bytes(mt.p);
        ASSERT_FALSE(record.empty());
        for (int cut = 0; cut < 8; ++cut) {
            const size_t keep = std::uniform_int_distribution<size_t>(0, record.size())(rng);
            check_damaged(bytes(record.begin(), record.begin() + long(keep)), "truncated", round);
        }
        for (int flip = 0; flip < 8; ++flip) {
            bytes damaged = record;
            damaged[rng() % damaged.size()] ^= uint8_t(1u << (rng() % 8));
            check_damaged(damaged, "flipped", round);
        }
        bytes noise = random_bytes(rng, 64);
        const uint8_t head[] = {'Z', 'R', 'M', 'T', 0, uint8_t(1 + rng() % 3)};
        if (noise.size() >= sizeof head) std::memcpy(noise.data(), head, sizeof head);
        check_damaged(noise, "random", round);
    }
}

// Every allocation of decoding and encoding failing in turn: a clean
// ZR_NO_MEMORY (or, for global items, ZR_WRONG_TYPE) and nothing leaked.
TEST(MultiTemplate, AllocationFailuresLeaveNothingBehind) {
    mt_ptr mt(zr_multitemplate_create());
    tmpl_ptr t(owned(ZR_TEMPLATE_EHM, {1, 2, 3}));
    ASSERT_EQ(ZR_OK, zr_multitemplate_add_instance(mt.p, 1, t.p));
    const uint8_t x[] = {1, 2};
    ASSERT_EQ(ZR_OK, zr_multitemplate_add_metadata(mt.p, 1, 4, x, 2));
    ASSERT_EQ(ZR_OK, zr_multitemplate_add_metadata(mt.p, ZR_MT_GLOBAL, 5, x, 2));
    mt.p->next_id = 9;
    const bytes record = encode_bytes(mt.p);
    for (int32_t successes = 0; successes < 20; ++successes) {
        mt_ptr back;
        zr_alloc_fail_after(successes);
        const zr_status status = decode_bytes(record, back);
        zr_alloc_fail_after(-1);
        if (status == ZR_OK) {
            EXPECT_EQ(encode_bytes(back.p), record);
            continue;
        }
        EXPECT_TRUE(status == ZR_NO_MEMORY || status == ZR_WRONG_TYPE) << successes;
        EXPECT_EQ(back.p, nullptr);
    }
}

}  // namespace
