#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <vector>

#include "ber_oracle.h"
#include "objects/tlv_tree.h"

namespace {

using bytes = std::vector<uint8_t>;
using ber_oracle::encode;

struct TreeDeleter {
    void operator()(tlv_node* node) const { tlv_delete(node); }
};
using tree_ptr = std::unique_ptr<tlv_node, TreeDeleter>;

tree_ptr parse(const bytes& data, zr_status* status = nullptr) {
    tlv_node* root = nullptr;
    const zr_status s = tlv_parse_buffer(data.data(), uint32_t(data.size()), &root);
    if (status != nullptr) *status = s;
    return tree_ptr(root);
}

bytes write(tlv_node* node) {
    uint8_t* buffer = nullptr;
    uint32_t size = 0;
    EXPECT_EQ(tlv_write_tree(node, &buffer, &size), ZR_OK);
    bytes out(buffer, buffer + size);
    std::free(buffer);
    return out;
}

// The parsed tree matches the oracle's decoding of the same bytes.
void expect_same_tree(const tlv_node* node, const ber_oracle::Node& ref, const uint8_t* base) {
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->tag, ref.tag);
    EXPECT_EQ(bool(tlv_is_constructed(node->tag)), ref.constructed);
    if (!ref.constructed) {
        EXPECT_EQ(node->length, ref.length);
        EXPECT_EQ(node->value, base + ref.value_offset);
        EXPECT_EQ(node->first_child, nullptr);
        return;
    }
    EXPECT_EQ(node->value, nullptr);
    ASSERT_EQ(node->child_count, ref.children.size());
    const tlv_node* child = node->first_child;
    const tlv_node* previous = nullptr;
    for (const ber_oracle::Node& ref_child : ref.children) {
        ASSERT_NE(child, nullptr);
        EXPECT_EQ(child->parent, node);
        EXPECT_EQ(child->previous_sibling, previous);
        expect_same_tree(child, ref_child, base);
        previous = child;
        child = child->next_sibling;
    }
    EXPECT_EQ(child, nullptr);
    EXPECT_EQ(node->last_child, previous);
}

// Random valid trees in the accepted subset, encoded in shortest form.
class RandomTlv {
public:
    explicit RandomTlv(uint32_t seed) : rng_(seed) {}

    uint16_t tag(bool constructed) {
        const uint8_t class_bits = uint8_t(pick(0, 3) << 6);
        const uint8_t pc = constructed ? 0x20 : 0;
        if (pick(0, 3) == 0) return uint16_t((0x1F | class_bits | pc) << 8 | pick(1, 127));
        return uint16_t(class_bits | pc | pick(0, 30));
    }

    bytes element(int depth) {
        if (depth > 0 && pick(0, 2) == 0) {
            bytes value;
            const int children = pick(1, 4);
            for (int i = 0; i < children; ++i) {
                const bytes child = element(depth - 1);
                value.insert(value.end(), child.begin(), child.end());
            }
            return encode(tag(true), value);
        }
        bytes value(value_size());
        for (uint8_t& b : value) b = uint8_t(pick(0, 255));
        return encode(tag(false), value);
    }

    int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }

private:
    size_t value_size() {
        switch (pick(0, 9)) {
            case 0: return size_t(pick(128, 300));   // 0x81 and 0x82 forms
            case 1: return pick(0, 40) == 0 ? size_t(pick(65536, 70000)) : 0;  // 0x83 form
            default: return size_t(pick(0, 12));
        }
    }
    std::mt19937 rng_;
};

TEST(TlvTree, RandomTreesMatchTheOracleAndWriteBackIdentically) {
    RandomTlv random(20261210);
    const ber_oracle::Rules parse_rules{false, 0};
    for (int round = 0; round < 300; ++round) {
        const bytes data = random.element(5);
        ber_oracle::Node ref;
        ASSERT_TRUE(ber_oracle::decode_first(data.data(), data.size(), parse_rules, &ref));
        zr_status status = ZR_FAILURE;  // never a result of parsing
        tree_ptr root = parse(data, &status);
        ASSERT_EQ(status, ZR_OK);
        expect_same_tree(root.get(), ref, data.data());
        EXPECT_EQ(tlv_validate(data.data(), uint32_t(data.size())), ZR_OK);
        EXPECT_EQ(tlv_get_buffer_length(data.data(), uint32_t(data.size())), data.size());
        EXPECT_EQ(write(root.get()), data);
        uint32_t size = 0;
        EXPECT_EQ(tlv_write_tree(root.get(), nullptr, &size), ZR_OK);
        EXPECT_EQ(size, data.size());
        bytes direct(data.size() + 4, 0xEE);
        EXPECT_EQ(tlv_write_tlv(direct.data(), root.get()), data.size());
        EXPECT_EQ(bytes(direct.begin(), direct.begin() + data.size()), data);

        // The flat path search finds what the first-match walk of the oracle finds.
        std::vector<uint16_t> path = {ref.tag};
        const ber_oracle::Node* at = &ref;
        while (!at->children.empty()) {
            const ber_oracle::Node& pick = at->children[random.pick(0, int(at->children.size()) - 1)];
            const ber_oracle::Node* first = nullptr;
            for (const auto& c : at->children) {
                if (c.tag == pick.tag) { first = &c; break; }
            }
            path.push_back(pick.tag);
            at = first;
        }
        tlv_element found{};
        ASSERT_EQ(tlv_find_nested_tag(data.data(), uint32_t(data.size()), path.data(),
                                      uint32_t(path.size()), &found), 1);
        EXPECT_EQ(found.value, data.data() + at->value_offset);
        EXPECT_EQ(found.length, at->length);
    }
}

TEST(TlvTree, TruncatedAndBitFlippedInputsAgreeWithTheOracle) {
    RandomTlv random(7);
    const ber_oracle::Rules parse_rules{false, 0};
    const ber_oracle::Rules validate_rules{true, int(TLV_VALIDATE_MAX_LEVELS)};
    int flips_accepted = 0;
    int flips_refused = 0;
    for (int round = 0; round < 60; ++round) {
        bytes data = random.element(4);
        if (data.size() > 600) continue;
        // Any proper prefix of one element is refused by every reader.
        for (size_t size = 0; size < data.size(); ++size) {
            const bytes prefix(data.begin(), data.begin() + size);
            zr_status status = ZR_OK;
            tree_ptr root = parse(prefix, &status);
            EXPECT_EQ(status, ZR_BAD_DATA) << "prefix " << size;
            EXPECT_EQ(root, nullptr);
            EXPECT_EQ(tlv_validate(prefix.data(), uint32_t(size)), ZR_BAD_FORMAT);
            tlv_element element{};
            EXPECT_EQ(tlv_read(prefix.data(), uint32_t(size), &element), 0u);
            EXPECT_EQ(tlv_get_buffer_length(prefix.data(), uint32_t(size)), 0u);
        }
        // Every single-bit flip: success exactly when the oracle decodes it,
        // and then the same tree.
        for (size_t bit = 0; bit < data.size() * 8; ++bit) {
            bytes flipped = data;
            flipped[bit / 8] ^= uint8_t(1u << (bit % 8));
            ber_oracle::Node ref;
            const bool parse_ok =
                ber_oracle::decode_first(flipped.data(), flipped.size(), parse_rules, &ref);
            zr_status status = ZR_OK;
            tree_ptr root = parse(flipped, &status);
            ASSERT_EQ(status == ZR_OK, parse_ok) << "bit " << bit;
            if (parse_ok) {
                expect_same_tree(root.get(), ref, flipped.data());
                ++flips_accepted;
            } else {
                EXPECT_EQ(status, ZR_BAD_DATA);
                ++flips_refused;
            }
            std::vector<ber_oracle::Node> nodes;
            const bool valid =
                ber_oracle::decode_buffer(flipped.data(), flipped.size(), validate_rules, &nodes);
            EXPECT_EQ(tlv_validate(flipped.data(), uint32_t(flipped.size())), valid ? ZR_OK : ZR_BAD_FORMAT)
                << "bit " << bit;
        }
    }
    EXPECT_GT(flips_accepted, 0);
    EXPECT_GT(flips_refused, 0);
}

TEST(TlvTree, UnsupportedLengthFormsAreNotParsed) {
    const bytes cases[] = {
        {0xC1, 0x80, 0x00, 0x00},             // indefinite
        {0xC1, 0x84, 0x00, 0x00, 0x00, 0x01}, // four length bytes
        {0xE1, 0x03, 0xC1, 0x80, 0x00},       // inside a constructed value
    };
    for (const bytes& data : cases) {
        zr_status status = ZR_OK;
        tree_ptr root = parse(data, &status);
        EXPECT_EQ(status, ZR_BAD_DATA) << ::testing::PrintToString(data);
        EXPECT_EQ(root, nullptr);
    }
}

TEST(TlvTree, ParsesTheFirstElementOnly) {
    const bytes data = {0xC1, 0x01, 0x07, 0xFF, 0xFF};
    zr_status status = ZR_NO_MEMORY;
    tree_ptr root = parse(data, &status);
    ASSERT_EQ(status, ZR_OK);
    EXPECT_EQ(root->tag, 0xC1);
    EXPECT_EQ(root->value, data.data() + 2);
    // An empty constructed value parses into a node without children.
    root = parse({0xA1, 0x00}, &status);
    ASSERT_EQ(status, ZR_OK);
    EXPECT_EQ(root->child_count, 0u);
    EXPECT_EQ(tlv_parse_buffer(data.data(), 5, nullptr), ZR_BAD_ARGUMENT);
}

TEST(TlvTree, DeepNestingNeedsNoRecursion) {
    // 20000 nested constructed elements, each filling its parent.
    bytes data = encode(0xC1, {1});
    for (int i = 0; i < 20000; ++i) data = encode(0xE1, data);
    zr_status status = ZR_NO_MEMORY;
    tree_ptr root = parse(data, &status);
    ASSERT_EQ(status, ZR_OK);
    EXPECT_EQ(tlv_get_length(root.get()), data.size() - 5);  // root header: E1 83 xx xx xx
    EXPECT_EQ(write(root.get()), data);
    EXPECT_NE(tlv_find_tag_in_tree(root.get(), 0xC1), nullptr);
}

TEST(TlvTree, BuildEditAndWrite) {
    const uint8_t card[] = {1, 2, 3};
    const uint8_t part[] = {4, 5};
    tree_ptr root(tlv_create(0x7F2E, 99, card));  // constructed: length and value ignored
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->value, nullptr);
    tlv_node* group = tlv_create(0xA2, 0, nullptr);
    tlv_node* first = tlv_create(0xC1, 3, card);
    tlv_node* second = tlv_create(0xC5, 2, part);
    ASSERT_EQ(tlv_append_child(root.get(), group), ZR_OK);
    ASSERT_EQ(tlv_append_child(group, second), ZR_OK);
    ASSERT_EQ(tlv_insert_child(group, first), ZR_OK);
    EXPECT_EQ(tlv_get_first_child(group), first);
    EXPECT_EQ(tlv_get_last_child(group), second);
    EXPECT_EQ(tlv_get_next_sibling(first), second);
    EXPECT_EQ(tlv_get_previous_sibling(second), first);
    EXPECT_EQ(tlv_get_parent(second), group);
    EXPECT_EQ(tlv_get_length(group), 9u);
    EXPECT_EQ(tlv_get_length(root.get()), 11u);
    const bytes expected = encode(0x7F2E, encode(0xA2, ber_oracle::concat({encode(0xC1, {1, 2, 3}),
                                                                          encode(0xC5, {4, 5})})));
    EXPECT_EQ(write(root.get()), expected);
    EXPECT_EQ(tlv_find_child(root.get(), 0xA2), group);
    EXPECT_EQ(tlv_find_child(root.get(), 0xC5), nullptr);
    EXPECT_EQ(tlv_find_tag_in_tree(root.get(), 0xC5), second);
    EXPECT_EQ(tlv_find_tag_amongst_children(first, 0xC5), second);
    EXPECT_EQ(tlv_find_tag_amongst_children(second, 0xC1), nullptr);  // only following siblings

    // Refused links leave both nodes as they were.
    tree_ptr loose(tlv_create(0xC9, 1, part));
    EXPECT_EQ(tlv_append_child(first, loose.get()), ZR_NOT_ALLOWED);  // primitive parent
    EXPECT_EQ(loose->parent, nullptr);
    EXPECT_EQ(first->child_count, 0u);
    EXPECT_EQ(tlv_append_child(group, nullptr), ZR_NO_MEMORY);
    EXPECT_EQ(tlv_append_child(nullptr, loose.get()), ZR_BAD_ARGUMENT);
    EXPECT_EQ(tlv_append_child(group, root.get()), ZR_NOT_ALLOWED);    // would make a cycle
    EXPECT_EQ(tlv_append_child(root.get(), second), ZR_NOT_ALLOWED);   // already linked

    tlv_remove(second);
    EXPECT_EQ(group->child_count, 1u);
    EXPECT_EQ(tlv_get_last_child(group), first);
    EXPECT_EQ(second->parent, nullptr);
    tlv_delete(second);
    EXPECT_EQ(write(root.get()),
              encode(0x7F2E, encode(0xA2, encode(0xC1, {1, 2, 3}))));
    tlv_remove(group);
    EXPECT_EQ(root->child_count, 0u);
    tlv_delete(group);
}

TEST(TlvTree, TreesThatCannotBeEncodedAreRefused) {
    tree_ptr root(tlv_create(0xE1, 0, nullptr));
    tlv_node* bad_tag = tlv_create(0x1F80, 1, nullptr);
    ASSERT_EQ(tlv_append_child(root.get(), bad_tag), ZR_OK);
    uint8_t* buffer = reinterpret_cast<uint8_t*>(1);
    uint32_t size = 7;
    EXPECT_EQ(tlv_write_tree(root.get(), &buffer, &size), ZR_BAD_DATA);
    EXPECT_EQ(buffer, nullptr);
    EXPECT_EQ(size, 0u);
    uint8_t out[16];
    EXPECT_EQ(tlv_write_tlv(out, root.get()), 0u);
    tree_ptr missing_value(tlv_create(0xC1, 4, nullptr));
    EXPECT_EQ(tlv_write_tree(missing_value.get(), nullptr, &size), ZR_BAD_DATA);
    tree_ptr too_long(tlv_create(0xC1, TLV_MAX_LENGTH + 1, out));
    EXPECT_EQ(tlv_write_tree(too_long.get(), nullptr, &size), ZR_BAD_DATA);
    EXPECT_EQ(tlv_write_tree(nullptr, nullptr, &size), ZR_BAD_ARGUMENT);
}

}  // namespace
