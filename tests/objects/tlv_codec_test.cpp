#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "ber_oracle.h"
#include "objects/tlv_codec.h"

namespace {

using bytes = std::vector<uint8_t>;
using ber_oracle::encode;

TEST(TlvTag, ConstructAndClassify) {
    struct Case {
        int32_t tag_class, constructed, number;
        uint16_t tag;
    };
    const Case cases[] = {
        {2, 1, 1, 0xA1},    {1, 1, 0x2E, 0x7F2E}, {0, 0, 0, 0x00},     {3, 0, 30, 0xDE},
        {2, 0, 31, 0x9F1F}, {7, 0, 5, 0xC5},      {-1, 1, 2, 0xE2},    {2, 1, -1, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(tlv_construct_tag(c.tag_class, c.constructed, c.number), c.tag)
            << c.tag_class << " " << c.constructed << " " << c.number;
    }
    EXPECT_EQ(tlv_get_tag_class(0xA1), 2);
    EXPECT_EQ(tlv_get_tag_class(0x7F2E), 1);
    EXPECT_EQ(tlv_get_tag_class(0x1F80), 3);  // invalid
    EXPECT_TRUE(tlv_is_constructed(0x7F2E));
    EXPECT_FALSE(tlv_is_constructed(0x5F2E));
    EXPECT_FALSE(tlv_is_constructed(0x3F80));  // invalid, although 0x20 is set
    EXPECT_EQ(tlv_is_primitive(0x3F80), 1);
    EXPECT_EQ(tlv_is_primitive(0xC1), 1);
    EXPECT_EQ(tlv_is_primitive(0xE1), 0);
    EXPECT_EQ(tlv_get_bytes_for_tag(0xC1), 1u);
    EXPECT_EQ(tlv_get_bytes_for_tag(0x7F2E), 2u);
    EXPECT_EQ(tlv_get_bytes_for_tag(0x1F80), 0u);
    EXPECT_EQ(tlv_get_bytes_for_tag(0x1F00), 0u);
    EXPECT_EQ(tlv_get_bytes_for_tag(0x001F), 0u);
    EXPECT_EQ(tlv_get_bytes_for_tag(0x1E05), 0u);  // first byte lacks 0x1F
}

TEST(TlvTag, ReadWriteTag) {
    uint8_t buffer[2] = {};
    uint16_t tag = 1;
    EXPECT_EQ(tlv_write_tag(buffer, 0x7F2E), 2u);
    EXPECT_EQ(buffer[0], 0x7F);
    EXPECT_EQ(buffer[1], 0x2E);
    EXPECT_EQ(tlv_read_tag(buffer, &tag), 2u);
    EXPECT_EQ(tag, 0x7F2E);
    EXPECT_EQ(tlv_write_tag(buffer, 0x1F80), 0u);
    const uint8_t invalid[2] = {0x1F, 0x80};
    EXPECT_EQ(tlv_read_tag(invalid, &tag), 0u);
    EXPECT_EQ(tag, 0);
    const uint8_t zero_second[2] = {0x5F, 0x00};
    EXPECT_EQ(tlv_read_tag(zero_second, &tag), 0u);
}

TEST(TlvLength, ShortestFormsAndReadBack) {
    struct Case {
        uint32_t length;
        bytes encoded;
    };
    const Case cases[] = {
        {0, {0x00}},
        {127, {0x7F}},
        {128, {0x81, 0x80}},
        {255, {0x81, 0xFF}},
        {256, {0x82, 0x01, 0x00}},
        {65535, {0x82, 0xFF, 0xFF}},
        {65536, {0x83, 0x01, 0x00, 0x00}},
        {0xFFFFFF, {0x83, 0xFF, 0xFF, 0xFF}},
    };
    for (const Case& c : cases) {
        uint8_t buffer[4] = {};
        ASSERT_EQ(tlv_write_length(buffer, c.length), c.encoded.size()) << c.length;
        EXPECT_EQ(bytes(buffer, buffer + c.encoded.size()), c.encoded) << c.length;
        EXPECT_EQ(tlv_get_bytes_for_length(c.length), c.encoded.size());
        uint32_t length = 1;
        EXPECT_EQ(tlv_read_length(buffer, &length), c.encoded.size());
        EXPECT_EQ(length, c.length);
    }
    for (uint8_t unsupported : {0x80, 0x84, 0xFF}) {
        const uint8_t buffer[4] = {unsupported, 1, 1, 1};
        uint32_t length = 7;
        EXPECT_EQ(tlv_read_length(buffer, &length), 0u);
        EXPECT_EQ(length, 0u);
    }
}

TEST(TlvRead, ReadsWholeElementsWithinTheBuffer) {
    const bytes element = {0x5F, 0x2E, 0x82, 0x00, 0x03, 7, 8, 9};
    tlv_element out{};
    EXPECT_EQ(tlv_read(element.data(), uint32_t(element.size()), &out), 8u);
    EXPECT_EQ(out.tag, 0x5F2E);
    EXPECT_EQ(out.length, 3u);
    EXPECT_EQ(out.value, element.data() + 5);
    // The length field is counted in its shortest form.
    EXPECT_EQ(tlv_get_buffer_length(element.data(), uint32_t(element.size())), 6u);
    EXPECT_EQ(tlv_read_validate(element.data(), &out, uint32_t(element.size())), 8u);

    // Every shorter view of the same bytes is refused, element cleared.
    for (uint32_t size = 0; size < element.size(); ++size) {
        out = {0xFF, 9, element.data()};
        EXPECT_EQ(tlv_read(element.data(), size, &out), 0u) << size;
        EXPECT_EQ(out.tag, 0);
        EXPECT_EQ(out.value, nullptr);
        EXPECT_EQ(tlv_read_validate(element.data(), &out, size), 0u) << size;
        EXPECT_EQ(tlv_get_buffer_length(element.data(), size), 0u) << size;
    }
    EXPECT_EQ(tlv_read(nullptr, 8, &out), 0u);

    // An invalid two-byte tag.
    const bytes invalid_tag = {0x1F, 0x80, 0x01, 0x00};
    EXPECT_EQ(tlv_read(invalid_tag.data(), 4, &out), 0u);
    EXPECT_EQ(tlv_get_buffer_length(invalid_tag.data(), 4), 0u);

    // An unsupported length form reads as the tag alone with length 0.
    const bytes indefinite = {0xC1, 0x80, 0x00, 0x00};
    EXPECT_EQ(tlv_read(indefinite.data(), 4, &out), 1u);
    EXPECT_EQ(out.tag, 0xC1);
    EXPECT_EQ(out.length, 0u);
    EXPECT_EQ(tlv_get_buffer_length(indefinite.data(), 4), 0u);
}

TEST(TlvWrite, PrimitiveElement) {
    const uint8_t value[3] = {1, 2, 3};
    uint8_t buffer[8] = {};
    tlv_element element{0x5F2E, 3, value};
    ASSERT_EQ(tlv_write(buffer, &element), 6u);
    EXPECT_EQ(bytes(buffer, buffer + 6), (bytes{0x5F, 0x2E, 0x03, 1, 2, 3}));
    element.tag = 0x1F80;
    EXPECT_EQ(tlv_write(buffer, &element), 0u);
    element = {0xC1, TLV_MAX_LENGTH + 1, value};
    EXPECT_EQ(tlv_write(buffer, &element), 0u);
}

TEST(TlvValidate, Examples) {
    struct Case {
        bytes data;
        zr_status expected;
    };
    const Case cases[] = {
        {{0xA1, 0x00}, ZR_BAD_FORMAT},                    // empty constructed value
        {{0x81, 0x01, 0x05}, ZR_OK},
        {{}, ZR_BAD_FORMAT},
        {{0x81, 0x01, 0x05, 0x82, 0x00}, ZR_OK},          // two top-level elements
        {{0x81, 0x02, 0x05}, ZR_BAD_FORMAT},              // value overruns
        {{0x5F}, ZR_BAD_FORMAT},                          // two-byte tag cut short
        {{0x5F, 0x2E}, ZR_BAD_FORMAT},                    // tag uses up the level
        {{0x1F, 0x80, 0x00}, ZR_BAD_FORMAT},              // invalid second tag byte
        {{0xC1, 0x80}, ZR_BAD_FORMAT},                    // indefinite length
        {{0xC1, 0x84, 0, 0, 0, 0}, ZR_BAD_FORMAT},        // four length bytes
        {{0xC1, 0x82, 0x00}, ZR_BAD_FORMAT},              // long form cut short
        {{0xE1, 0x03, 0xC1, 0x01, 0x07}, ZR_OK},
        {{0xE1, 0x03, 0xC1, 0x02, 0x07}, ZR_BAD_FORMAT},  // child overruns its parent
        {{0xE1, 0x02, 0xC1, 0x01, 0x07}, ZR_BAD_FORMAT},  // parent too short for the child
    };
    for (const Case& c : cases) {
        EXPECT_EQ(tlv_validate(c.data.data(), uint32_t(c.data.size())), c.expected)
            << ::testing::PrintToString(c.data);
    }
    EXPECT_EQ(tlv_validate(nullptr, 3), ZR_BAD_FORMAT);
}

// Nested constructed elements: `depth` levels; with `unfinished`, every
// enclosing value has another element after the nested one.
bytes nested(int depth, bool unfinished) {
    bytes inner = encode(0xC1, {1});
    for (int i = 0; i < depth; ++i) {
        bytes value = inner;
        if (unfinished) {
            const bytes tail = encode(0xC2, {2});
            value.insert(value.end(), tail.begin(), tail.end());
        }
        inner = encode(0xE1, value);
    }
    return inner;
}

TEST(TlvValidate, OpenLevelLimit) {
    // Elements that fill their parent close it first: any depth is fine.
    const bytes deep = nested(40, false);
    EXPECT_EQ(tlv_validate(deep.data(), uint32_t(deep.size())), ZR_OK);
    // The buffer plus 7 unfinished constructed levels is the most allowed;
    // the outermost element ends the buffer level, so 8 constructed levels fit.
    const bytes eight = nested(8, true);
    EXPECT_EQ(tlv_validate(eight.data(), uint32_t(eight.size())), ZR_OK);
    const bytes nine = nested(9, true);
    EXPECT_EQ(tlv_validate(nine.data(), uint32_t(nine.size())), ZR_BAD_FORMAT);
    // With a trailing element the buffer level stays open as well.
    bytes seven_open = nested(7, true);
    bytes eight_open = nested(8, true);
    const bytes tail = encode(0xC3, {3});
    seven_open.insert(seven_open.end(), tail.begin(), tail.end());
    eight_open.insert(eight_open.end(), tail.begin(), tail.end());
    EXPECT_EQ(tlv_validate(seven_open.data(), uint32_t(seven_open.size())), ZR_OK);
    EXPECT_EQ(tlv_validate(eight_open.data(), uint32_t(eight_open.size())), ZR_BAD_FORMAT);
    // The oracle's reading of the rule agrees.
    ber_oracle::Rules rules{true, int(TLV_VALIDATE_MAX_LEVELS)};
    std::vector<ber_oracle::Node> nodes;
    EXPECT_TRUE(ber_oracle::decode_buffer(eight.data(), eight.size(), rules, &nodes));
    EXPECT_FALSE(ber_oracle::decode_buffer(nine.data(), nine.size(), rules, &nodes));
    EXPECT_TRUE(ber_oracle::decode_buffer(seven_open.data(), seven_open.size(), rules, &nodes));
    EXPECT_FALSE(ber_oracle::decode_buffer(eight_open.data(), eight_open.size(), rules, &nodes));
}

// A fusion-like template: 0x7F2E { 0xA1 { 0x81 }, 0xA2 { 0xC1, 0xC5, 0xC9 } }.
bytes fusion_sample() {
    return encode(0x7F2E, ber_oracle::concat({
                              encode(0xA1, encode(0x81, {1, 2})),
                              encode(0xA2, ber_oracle::concat({encode(0xC1, {3, 4, 5}),
                                                               encode(0xC5, {6}),
                                                               encode(0xC9, {7, 8})})),
                              encode(0xC5, {9, 9}),
                          }));
}

TEST(TlvFind, TopLevelAndNestedPaths) {
    const bytes data = ber_oracle::concat({encode(0xC1, {1}), fusion_sample()});
    tlv_element out{};
    ASSERT_EQ(tlv_find_tag(data.data(), uint32_t(data.size()), 0x7F2E, &out), 1);
    EXPECT_EQ(out.value, data.data() + 3 + 3);  // after C1 01 01 and 7F 2E len
    EXPECT_EQ(tlv_find_tag(data.data(), uint32_t(data.size()), 0xC5, &out), 0);  // not top level

    const uint16_t path[] = {0x7F2E, 0xA2, 0xC5};
    ASSERT_EQ(tlv_find_nested_tag(data.data(), uint32_t(data.size()), path, 3, &out), 1);
    EXPECT_EQ(out.length, 1u);
    EXPECT_EQ(out.value[0], 6);  // the 0xC5 under 0xA2, not the one beside it
    const uint16_t direct[] = {0x7F2E, 0xC5};
    ASSERT_EQ(tlv_find_nested_tag(data.data(), uint32_t(data.size()), direct, 2, &out), 1);
    EXPECT_EQ(out.value[0], 9);
    const uint16_t absent[] = {0x7F2E, 0xA1, 0xC5};
    EXPECT_EQ(tlv_find_nested_tag(data.data(), uint32_t(data.size()), absent, 3, &out), 0);
    EXPECT_EQ(tlv_find_nested_tag(data.data(), uint32_t(data.size()), path, 0, &out), 1);

    // A malformed element before the tag ends the search; one after it does not.
    bytes broken = {0xC2, 0x05, 0x00};
    broken.insert(broken.end(), data.begin(), data.end());
    EXPECT_EQ(tlv_find_tag(broken.data(), uint32_t(broken.size()), 0x7F2E, &out), 0);
    bytes trailing = data;
    trailing.insert(trailing.end(), {0xC2, 0x05});
    EXPECT_EQ(tlv_find_tag(trailing.data(), uint32_t(trailing.size()), 0x7F2E, &out), 1);
    EXPECT_EQ(tlv_find_tag(trailing.data(), uint32_t(trailing.size()), 0xC7, &out), 0);

    // Every truncation of the buffer: a path is found only when it is whole.
    for (uint32_t size = 0; size < data.size(); ++size) {
        const int32_t found = tlv_find_nested_tag(data.data(), size, path, 3, &out);
        EXPECT_EQ(found, 0) << size;
    }
}

}  // namespace
