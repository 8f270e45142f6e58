#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <utility>
#include <vector>

#include "objects/zr_template_generic.h"

namespace {

using bytes = std::vector<uint8_t>;
using entry_list = std::vector<std::pair<uint16_t, bytes>>;

uint32_t zlib_crc(const bytes& data) {
    return uint32_t(crc32(0L, data.data(), uInt(data.size())));
}

void put_be(bytes* out, uint32_t value, int size) {
    for (int i = size - 1; i >= 0; --i) out->push_back(uint8_t(value >> (8 * i)));
}

// Reference writer of a version-1 container, CRCs from zlib.
bytes reference_container(const entry_list& entries) {
    bytes out = {'V', 'O', 'R', 'T', 'A', 'N', 'E', 0, 1, uint8_t(entries.size())};
    bytes table = {1, uint8_t(entries.size())};
    for (const auto& [type, data] : entries) {
        put_be(&table, type, 2);
        put_be(&table, uint32_t(data.size()), 4);
        put_be(&table, zlib_crc(data), 4);
    }
    table.resize(114, 0);
    put_be(&out, zlib_crc(table), 4);
    for (const auto& [type, data] : entries) {
        put_be(&out, type, 2);
        put_be(&out, uint32_t(data.size()), 4);
        put_be(&out, zlib_crc(data), 4);
        out.insert(out.end(), data.begin(), data.end());
    }
    out.insert(out.end(), {'F', 'O', 'O', 'F'});
    return out;
}

bytes data_of(const zr_template* tmpl) {
    return bytes(tmpl->data, tmpl->data + tmpl->size);
}

struct TemplateDeleter {
    void operator()(zr_template* t) const { zr_template_delete(t); }
};
using template_ptr = std::unique_ptr<zr_template, TemplateDeleter>;

template_ptr container_of(const bytes& raw) {
    return template_ptr(zr_template_create(84, raw.data(), uint32_t(raw.size())));
}

template_ptr build(const entry_list& entries) {
    template_ptr result;
    for (const auto& [type, data] : entries) {
        result.reset(zr_template_generic_insert(result.get(), type, data.data(),
                                                uint32_t(data.size())));
        EXPECT_NE(result, nullptr);
    }
    return result;
}

TEST(GenericContainer, EmptyContainerIs18Bytes) {
    template_ptr empty(zr_template_generic_convert(nullptr));
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->type, 84u);
    bytes block(114, 0);
    block[0] = 1;
    bytes expected = {'V', 'O', 'R', 'T', 'A', 'N', 'E', 0, 1, 0};
    put_be(&expected, zlib_crc(block), 4);
    expected.insert(expected.end(), {'F', 'O', 'O', 'F'});
    EXPECT_EQ(data_of(empty.get()), expected);
    EXPECT_EQ(data_of(empty.get()), reference_container({}));
    zr_generic_container* parsed = deserialize_template(empty.get());
    ASSERT_NE(parsed, nullptr);
    EXPECT_EQ(parsed->version, 1);
    EXPECT_EQ(parsed->count, 0);
    std::free(parsed);
    EXPECT_EQ(zr_template_generic_is_empty(empty.get()), 1);
    EXPECT_EQ(zr_template_generic_verify_integrity(empty.get(), 2), 1);
}

TEST(GenericContainer, RandomContentMatchesTheReferenceAndReadsBack) {
    std::mt19937 rng(11);
    for (int round = 0; round < 40; ++round) {
        entry_list entries;
        const int count = int(rng() % 11);
        while (int(entries.size()) < count) {
            const uint16_t type = uint16_t(1 + rng() % 0xFFFF);
            bool duplicate = false;
            for (const auto& e : entries) duplicate |= e.first == type;
            if (duplicate) continue;
            bytes data(rng() % 3 == 0 ? 0 : rng() % 2000);
            for (uint8_t& b : data) b = uint8_t(rng());
            entries.emplace_back(type, std::move(data));
        }
        template_ptr built = count ? build(entries) : template_ptr(zr_template_generic_convert(nullptr));
        ASSERT_NE(built, nullptr);
        ASSERT_EQ(data_of(built.get()), reference_container(entries));
        EXPECT_EQ(zr_template_generic_verify_integrity(built.get(), 2), 1);
        zr_generic_container* parsed = deserialize_template(built.get());
        ASSERT_NE(parsed, nullptr);
        ASSERT_EQ(parsed->count, entries.size());
        for (size_t i = 0; i < entries.size(); ++i) {
            EXPECT_EQ(parsed->entries[i].type, entries[i].first);
            EXPECT_EQ(parsed->entries[i].crc, zlib_crc(entries[i].second));
            const uint8_t* view = nullptr;
            uint32_t size = 0;
            ASSERT_EQ(zr_template_generic_extract(built.get(), entries[i].first, &view, &size), ZR_OK);
            EXPECT_EQ(bytes(view, view + size), entries[i].second);
            EXPECT_TRUE(size == 0 || (view >= built->data && view < built->data + built->size));
            EXPECT_EQ(zr_template_generic_has_data(built.get(), entries[i].first), 1);
        }
        // Written again from the parsed form: the same bytes.
        template_ptr again(serialize_template(parsed));
        ASSERT_NE(again, nullptr);
        EXPECT_EQ(data_of(again.get()), data_of(built.get()));
        std::free(parsed);
    }
}

TEST(GenericContainer, InsertReplacesInPlaceAndStopsAtTen) {
    const bytes a = {1}, b = {2, 2}, c = {3, 3, 3};
    template_ptr t = build({{67, a}, {80, b}});
    template_ptr replaced(zr_template_generic_insert(t.get(), 67, c.data(), 3));
    ASSERT_NE(replaced, nullptr);
    EXPECT_EQ(data_of(replaced.get()), reference_container({{67, c}, {80, b}}));
    EXPECT_EQ(data_of(t.get()), reference_container({{67, a}, {80, b}}));  // source unchanged

    entry_list ten;
    for (uint16_t type = 1; type <= 10; ++type) ten.emplace_back(type, bytes{uint8_t(type)});
    template_ptr full = build(ten);
    ASSERT_NE(full, nullptr);
    EXPECT_EQ(zr_template_generic_insert(full.get(), 11, a.data(), 1), nullptr);
    EXPECT_EQ(zr_template_generic_insert(full.get(), 5, a.data(), 1), nullptr);
    EXPECT_EQ(zr_template_generic_insert(t.get(), 0, a.data(), 1), nullptr);  // type 0 is invalid
    EXPECT_EQ(zr_template_generic_insert(t.get(), 7, nullptr, 1), nullptr);
}

TEST(GenericContainer, MalformedContainersAreRefusedAsAWhole) {
    const bytes good = reference_container({{67, {1, 2, 3}}, {86, {4}}});
    auto mutate = [&good](size_t at, std::initializer_list<uint8_t> replacement) {
        bytes out = good;
        std::copy(replacement.begin(), replacement.end(), out.begin() + long(at));
        return out;
    };
    bytes extra = good;
    extra.push_back(0);
    bytes no_trailer(good.begin(), good.end() - 4);
    const bytes cases[] = {
        mutate(0, {'v'}),                     // magic
        mutate(9, {11}),                      // count above 10
        mutate(9, {3}),                       // count larger than the entries
        mutate(14, {0, 0}),                   // entry type 0
        mutate(16, {0, 0, 0, 100}),           // entry longer than the bytes
        mutate(good.size() - 1, {'X'}),       // wrong trailer
        extra,                                // extra bytes
        no_trailer,                           // missing trailer
    };
    for (const bytes& raw : cases) {
        template_ptr t = container_of(raw);
        EXPECT_EQ(deserialize_template(t.get()), nullptr) << ::testing::PrintToString(raw);
        const uint8_t* view = nullptr;
        uint32_t size = 0;
        EXPECT_EQ(zr_template_generic_extract(t.get(), 67, &view, &size), ZR_WRONG_TYPE);
        EXPECT_EQ(view, nullptr);
        EXPECT_EQ(zr_template_generic_has_data(t.get(), 67), 0);
        EXPECT_EQ(zr_template_generic_is_empty(t.get()), 1);
        EXPECT_EQ(zr_template_generic_remove(t.get(), 67, nullptr, nullptr), nullptr);
        EXPECT_EQ(zr_template_generic_insert(t.get(), 1, view, 0), nullptr);
        EXPECT_EQ(zr_template_generic_verify_integrity(t.get(), 1), 0);
    }
}

TEST(GenericContainer, TruncatedAndBitFlippedContainersFailTheIntegrityCheck) {
    const bytes good = reference_container({{67, {1, 2, 3, 4, 5, 6, 7}}, {80, {8, 9}}, {86, {}}});
    for (size_t size = 0; size < good.size(); ++size) {
        // The template is given exactly the truncated bytes: any read past
        // them would be caught by the sanitizers.
        template_ptr t(zr_template_create(84, good.data(), uint32_t(size)));
        zr_generic_container* parsed = deserialize_template(t.get());
        EXPECT_EQ(parsed == nullptr, size != 0) << size;  // no bytes read as an empty container
        std::free(parsed);
        EXPECT_EQ(zr_template_generic_verify_integrity(t.get(), 2), 0) << size;
        EXPECT_EQ(zr_template_generic_verify_integrity(t.get(), -1), 0) << size;
        EXPECT_EQ(zr_template_generic_is_empty(t.get()), 1);
    }
    for (size_t bit = 0; bit < good.size() * 8; ++bit) {
        bytes flipped = good;
        flipped[bit / 8] ^= uint8_t(1u << (bit % 8));
        template_ptr t = container_of(flipped);
        EXPECT_EQ(zr_template_generic_verify_integrity(t.get(), 2), 0) << "bit " << bit;
        zr_generic_container* parsed = deserialize_template(t.get());
        std::free(parsed);
    }
}

TEST(GenericContainer, IntegrityLevels) {
    const bytes good = reference_container({{67, {1, 2, 3}}});
    bytes last_changed = good;
    last_changed.back() = 'G';
    EXPECT_EQ(zr_template_generic_verify_integrity(container_of(last_changed).get(), 0), 0);
    bytes data_changed = good;
    data_changed[24] ^= 0x40;  // first data byte: 18 + 10 - 4 = 24
    template_ptr t = container_of(data_changed);
    EXPECT_EQ(zr_template_generic_verify_integrity(t.get(), 0), 1);
    EXPECT_EQ(zr_template_generic_verify_integrity(t.get(), 1), 1);
    EXPECT_EQ(zr_template_generic_verify_integrity(t.get(), 2), 0);
    bytes table_changed = good;
    table_changed[10] ^= 1;
    EXPECT_EQ(zr_template_generic_verify_integrity(container_of(table_changed).get(), 1), 0);
    EXPECT_EQ(zr_template_generic_verify_integrity(nullptr, 0), 0);

    // Version 0: no CRCs and no trailer; parses, fails level 0.
    const bytes v0 = {'V', 'O', 'R', 'T', 'A', 'N', 'E', 0, 0, 1, 0, 67, 0, 0, 0, 2, 9, 8};
    template_ptr old = container_of(v0);
    zr_generic_container* parsed = deserialize_template(old.get());
    ASSERT_NE(parsed, nullptr);
    EXPECT_EQ(parsed->version, 0);
    EXPECT_EQ(parsed->entries[0].crc, 0u);
    EXPECT_EQ(parsed->entries[0].data, old->data + 16);
    EXPECT_EQ(serialize_template(parsed), nullptr);  // only version 1 is written
    std::free(parsed);
    EXPECT_EQ(zr_template_generic_verify_integrity(old.get(), 0), 0);
    EXPECT_EQ(zr_template_generic_verify_integrity(old.get(), -1), 1);
    const uint8_t* view = nullptr;
    uint32_t size = 0;
    EXPECT_EQ(zr_template_generic_extract(old.get(), 67, &view, &size), ZR_OK);
    EXPECT_EQ(size, 2u);
}

TEST(GenericContainer, RemoveMovesTheLastEntryIntoTheGap) {
    const bytes a = {1}, b = {2, 2}, c = {3, 3, 3};
    zr_image* image = zr_image_create(1, 1, 500, 500, nullptr, 0);
    template_ptr t = build({{67, a}, {80, b}, {86, c}});
    zr_template_set_image(t.get(), image);
    const uint8_t* view = nullptr;
    uint32_t size = 0;
    template_ptr removed(zr_template_generic_remove(t.get(), 67, &view, &size));
    ASSERT_NE(removed, nullptr);
    EXPECT_EQ(data_of(removed.get()), reference_container({{86, c}, {80, b}}));
    EXPECT_EQ(size, 1u);
    EXPECT_EQ(view, t->data + 24);  // inside the source container
    EXPECT_EQ(zr_template_get_image(removed.get()), image);
    EXPECT_EQ(zr_template_generic_remove(t.get(), 99, &view, &size), nullptr);
    EXPECT_EQ(view, nullptr);
    template_ptr empty(zr_template_generic_convert(nullptr));
    EXPECT_EQ(zr_template_generic_remove(empty.get(), 67, nullptr, nullptr), nullptr);

    template_ptr by_type(zr_template_remove_data_of_type(t.get(), 80));
    ASSERT_NE(by_type, nullptr);
    EXPECT_EQ(data_of(by_type.get()), reference_container({{67, a}, {86, c}}));
    template_ptr plain(zr_template_create(67, a.data(), 1));
    EXPECT_EQ(zr_template_remove_data_of_type(plain.get(), 67), nullptr);
    t.reset();
    removed.reset();
    by_type.reset();
    EXPECT_EQ(zr_image_get_num_refs(image), 1u);
    zr_image_delete(image);
}

TEST(GenericContainer, ConvertWrapsOtherTemplates) {
    const bytes data = {5, 6, 7};
    zr_image* image = zr_image_create(1, 1, 500, 500, nullptr, 0);
    template_ptr plain(zr_template_create(74, data.data(), 3));  // reported as 67
    zr_template_set_image(plain.get(), image);
    template_ptr wrapped(zr_template_generic_convert(plain.get()));
    ASSERT_NE(wrapped, nullptr);
    EXPECT_EQ(data_of(wrapped.get()), reference_container({{67, data}}));
    EXPECT_EQ(zr_template_get_image(wrapped.get()), image);
    zr_template* same = zr_template_generic_convert(wrapped.get());
    EXPECT_EQ(same, wrapped.get());
    EXPECT_EQ(wrapped->ref_count, 2u);
    zr_template_delete(same);
    const uint8_t* view = nullptr;
    uint32_t size = 0;
    EXPECT_EQ(zr_template_generic_extract(nullptr, 67, &view, &size), ZR_NOT_FOUND);
    EXPECT_EQ(zr_template_generic_extract(wrapped.get(), 80, &view, &size), ZR_NOT_FOUND);
    EXPECT_EQ(zr_template_generic_extract(wrapped.get(), 67, nullptr, &size), ZR_BAD_ARGUMENT);
    EXPECT_EQ(zr_template_generic_is_empty(nullptr), 1);
    EXPECT_EQ(zr_template_generic_is_empty(wrapped.get()), 0);
    plain.reset();
    wrapped.reset();
    zr_image_delete(image);
}

TEST(GenericContainer, MergeKeepsTheFirstSidesEntries) {
    const bytes ehm = {1, 2}, meta = {0, 3}, other = {9};
    zr_image* image_a = zr_image_create(1, 1, 500, 500, nullptr, 0);
    zr_image* image_b = zr_image_create(1, 1, 500, 500, nullptr, 0);
    template_ptr a(zr_template_create(67, ehm.data(), 2));
    template_ptr b(zr_template_create(86, meta.data(), 2));
    zr_template_set_generation_quality(a.get(), 0x10);
    zr_template_set_generation_quality(b.get(), 0x01);
    zr_template_set_image(a.get(), image_a);
    template_ptr merged(zr_template_merge(a.get(), b.get()));
    ASSERT_NE(merged, nullptr);
    EXPECT_EQ(data_of(merged.get()), reference_container({{67, ehm}, {86, meta}}));
    EXPECT_EQ(zr_template_get_generation_quality(merged.get()), 0x11u);
    EXPECT_EQ(zr_template_get_image(merged.get()), image_a);

    template_ptr c(zr_template_create(67, other.data(), 1));
    zr_template_set_image(c.get(), image_b);
    template_ptr merged2(zr_template_merge(merged.get(), c.get()));
    ASSERT_NE(merged2, nullptr);
    EXPECT_EQ(data_of(merged2.get()), reference_container({{67, ehm}, {86, meta}}));
    EXPECT_EQ(zr_template_get_image(merged2.get()), image_b);  // b's image wins

    zr_template* one = zr_template_merge(nullptr, a.get());
    EXPECT_EQ(one, a.get());
    EXPECT_EQ(a->ref_count, 2u);
    zr_template_delete(one);
    EXPECT_EQ(zr_template_merge(nullptr, nullptr), nullptr);

    entry_list ten;
    for (uint16_t type = 1; type <= 10; ++type) ten.emplace_back(type, bytes{uint8_t(type)});
    template_ptr full = build(ten);
    EXPECT_EQ(zr_template_merge(full.get(), b.get()), nullptr);
    template_ptr full_again(zr_template_merge(full.get(), c.get() /* type 67 */));
    EXPECT_EQ(full_again, nullptr);
    template_ptr broken = container_of({'V', 'O'});
    EXPECT_EQ(zr_template_merge(broken.get(), a.get()), nullptr);

    a.reset(); b.reset(); c.reset(); merged.reset(); merged2.reset();
    EXPECT_EQ(zr_image_get_num_refs(image_a), 1u);
    EXPECT_EQ(zr_image_get_num_refs(image_b), 1u);
    zr_image_delete(image_a);
    zr_image_delete(image_b);
}

}  // namespace
