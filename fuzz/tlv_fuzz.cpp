// BER-TLV flat readers and tree parser. Validation and parsing agree with the
// tests' independent decoder written from the encoding rules; every element a
// reader reports lies inside the input; a parsed tree writes back (shortest
// length forms) to bytes that parse to the same tree and write back unchanged.
#include <cstdlib>
#include <vector>

#include "ber_oracle.h"
#include "fuzz_support.h"
#include "fuzz_tlv_tree.h"
#include "objects/tlv_codec.h"
#include "objects/tlv_tree.h"
#include "objects/zr_result.h"

namespace {

// Tags that the template formats look for, and paths through them.
constexpr uint16_t kTags[] = {0x7F2E, 0xA1, 0xA2, 0xC1, 0xC5, 0xC6, 0xC9, 0xCA, 0x81, 0x90};
constexpr uint16_t kPaths[][3] = {
    {0x7F2E, 0xA2, 0xC5}, {0x7F2E, 0xA2, 0xC1}, {0x7F2E, 0xA1, 0x90}, {0x7F2E, 0xA1, 0x81}};

void check_element(const tlv_element& element, const fuzz::ExactCopy& input) {
    FUZZ_CHECK(fuzz::span_inside(element.value, element.length, input.data(), input.size()));
}

void check_flat_readers(const fuzz::ExactCopy& input) {
    const uint32_t validity = tlv_validate(input.data(), input.size());
    FUZZ_CHECK(validity == ZR_OK || validity == ZR_BAD_FORMAT);
    const ber_oracle::Rules validate_rules{true, int(TLV_VALIDATE_MAX_LEVELS)};
    std::vector<ber_oracle::Node> elements;
    FUZZ_CHECK((validity == ZR_OK) ==
               ber_oracle::decode_buffer(input.data(), input.size(), validate_rules, &elements));

    tlv_element element{};
    const uint32_t read = tlv_read(input.data(), input.size(), &element);
    FUZZ_CHECK(read <= input.size());
    if (read != 0) check_element(element, input);
    tlv_element validated{};
    FUZZ_CHECK(tlv_read_validate(input.data(), &validated, input.size()) == read);
    FUZZ_CHECK(tlv_get_buffer_length(input.data(), input.size()) <= input.size());

    for (uint16_t tag : kTags) {
        tlv_element found{};
        if (tlv_find_tag(input.data(), input.size(), tag, &found) == 1) {
            FUZZ_CHECK(found.tag == tag);
            check_element(found, input);
        }
    }
    for (const auto& path : kPaths) {
        tlv_element found{};
        if (tlv_find_nested_tag(input.data(), input.size(), path, 3, &found) == 1) {
            FUZZ_CHECK(found.tag == path[2]);
            check_element(found, input);
        }
    }
}

// The parsed node matches the decoder's element at the same place.
bool matches_oracle(const tlv_node* node, const ber_oracle::Node& expected, const uint8_t* input) {
    if (node->tag != expected.tag || bool(tlv_is_constructed(node->tag)) != expected.constructed) return false;
    if (!expected.constructed) return node->value == input + expected.value_offset && node->length == expected.length;
    if (node->child_count != expected.children.size()) return false;
    const tlv_node* child = node->first_child;
    for (const ber_oracle::Node& expected_child : expected.children) {
        if (!matches_oracle(child, expected_child, input)) return false;
        child = child->next_sibling;
    }
    return child == nullptr;
}

void check_tree(const fuzz::ExactCopy& input) {
    tlv_node* root = nullptr;
    const uint32_t status = tlv_parse_buffer(input.data(), input.size(), &root);
    FUZZ_CHECK(status == ZR_OK || status == ZR_BAD_DATA || status == ZR_NO_MEMORY);
    ber_oracle::Node expected;
    const bool decodes = ber_oracle::decode_first(input.data(), input.size(), ber_oracle::Rules{}, &expected);
    if (status != ZR_OK) {
        FUZZ_CHECK(root == nullptr);
        FUZZ_CHECK(status == ZR_NO_MEMORY || !decodes);
        return;
    }
    FUZZ_CHECK(root != nullptr);
    FUZZ_CHECK(decodes && matches_oracle(root, expected, input.data()));
    for (const tlv_node* node = root; node != nullptr; node = fuzz::next_node(node, root)) {
        if (!tlv_is_constructed(node->tag)) {
            FUZZ_CHECK(fuzz::span_inside(node->value, node->length, input.data(), input.size()));
        }
    }
    for (uint16_t tag : kTags) {
        const tlv_node* found = tlv_find_tag_in_tree(root, tag);
        FUZZ_CHECK(found == nullptr || found->tag == tag);
    }

    uint8_t* written = nullptr;
    uint32_t written_size = 0;
    FUZZ_CHECK(tlv_write_tree(root, &written, &written_size) == ZR_OK);
    tlv_element first{};
    FUZZ_CHECK(written_size <= tlv_read(input.data(), input.size(), &first));
    const uint32_t length = tlv_get_length(root);
    FUZZ_CHECK(written_size == tlv_get_bytes_for_tag(root->tag) + tlv_get_bytes_for_length(length) + length);

    // The written bytes in a buffer of their exact size.
    fuzz::ExactCopy rewritten(written, written_size);
    std::free(written);
    tlv_node* again = nullptr;
    FUZZ_CHECK(tlv_parse_buffer(rewritten.data(), rewritten.size(), &again) == ZR_OK);
    FUZZ_CHECK(fuzz::same_tree(root, again));
    uint8_t* written_again = nullptr;
    uint32_t written_again_size = 0;
    FUZZ_CHECK(tlv_write_tree(again, &written_again, &written_again_size) == ZR_OK);
    FUZZ_CHECK(written_again_size == written_size &&
               std::memcmp(written_again, rewritten.data(), written_size) == 0);
    std::free(written_again);
    tlv_delete(again);
    tlv_delete(root);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fuzz::ExactCopy input(data, size);
    check_flat_readers(input);
    check_tree(input);
    return 0;
}
