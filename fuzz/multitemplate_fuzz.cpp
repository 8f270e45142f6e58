// The multi-template record "ZRMT": the decoder reads any input without
// reading outside it; a record that decodes re-encodes, and the re-encoded
// record decodes and encodes to the same bytes again. The input's first byte
// chooses whether the record is decoded in place (a view holding the source)
// or from a const copy.
#include <cstring>

#include "fuzz_support.h"
#include "match/multitemplate/zr_multitemplate.h"
#include "objects/zr_result.h"
#include "objects/zr_template.h"

namespace {

zr_template* encode(zr_multitemplate* mt) {
    zr_template* out = nullptr;
    FUZZ_CHECK(zr_multitemplate_encode(mt, &out) == ZR_OK);
    FUZZ_CHECK(out != nullptr && out->size == zr_multitemplate_encode_size(mt));
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const bool in_place = (data[0] & 1) != 0;
    const fuzz::ExactCopy input(data + 1, size - 1);
    zr_template* source = in_place ? zr_template_create_mr(ZR_TEMPLATE_MULTI, input.data(), input.size())
                                   : zr_template_create(ZR_TEMPLATE_MULTI, input.data(), input.size());
    FUZZ_CHECK(source != nullptr);
    zr_multitemplate* mt = nullptr;
    const zr_status status = zr_multitemplate_decode(source, &mt);
    FUZZ_CHECK(status == ZR_OK || status == ZR_WRONG_TYPE);
    FUZZ_CHECK((status == ZR_OK) == (mt != nullptr));
    // In-place instances keep the source alive on their own.
    zr_template_delete(source);
    if (mt == nullptr) return 0;
    zr_template* first = encode(mt);
    zr_multitemplate* again = nullptr;
    FUZZ_CHECK(zr_multitemplate_decode(first, &again) == ZR_OK);
    FUZZ_CHECK(again->count == mt->count);
    zr_template* second = encode(again);
    FUZZ_CHECK(second->size == first->size && std::memcmp(second->data, first->data, first->size) == 0);
    zr_template_delete(second);
    zr_multitemplate_delete(again);
    zr_template_delete(first);
    zr_multitemplate_delete(mt);
    return 0;
}
