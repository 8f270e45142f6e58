// Object-layer formats on the verification path: parsing a stored template's
// TLV tree, checking a container's CRCs and taking a part out of it.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "ber_oracle.h"
#include "objects/tlv_tree.h"
#include "objects/zr_template_convert.h"
#include "objects/zr_template_generic.h"

namespace {

using bytes = std::vector<uint8_t>;

// Test inputs are built with the BER encoder of the object tests.
using ber_oracle::concat;
using ber_oracle::encode;

// A fusion-sized template: a card of 40 minutiae, 15 x 8 block fields and
// a few small parts.
bytes fusion_template() {
    bytes minutiae(120), fields(2 * 15 * 8 + 5);
    for (size_t i = 0; i < minutiae.size(); ++i) minutiae[i] = uint8_t(i * 7);
    for (size_t i = 0; i < fields.size(); ++i) fields[i] = uint8_t(i * 13);
    const bytes card = concat({encode(0x81, {0, 0, 0, 0, 0, 0}), encode(0x90, minutiae)});
    const bytes parts = concat({encode(0xC1, fields), encode(0xC3, {1, 176, 0, 96, 0, 60}),
                                encode(0xC5, bytes(64, 5)), encode(0xCA, {1, 2, 3, 4})});
    return encode(0x7F2E, concat({encode(0xA1, card), encode(0xA2, parts)}));
}

void BM_TlvParseAndDeleteFusion(benchmark::State& state) {
    const bytes data = fusion_template();
    for (auto _ : state) {
        tlv_node* root = nullptr;
        benchmark::DoNotOptimize(tlv_parse_buffer(data.data(), uint32_t(data.size()), &root));
        tlv_delete(root);
    }
}
BENCHMARK(BM_TlvParseAndDeleteFusion);

void BM_TlvWriteFusion(benchmark::State& state) {
    const bytes data = fusion_template();
    tlv_node* root = nullptr;
    if (tlv_parse_buffer(data.data(), uint32_t(data.size()), &root) != ZR_OK) {
        state.SkipWithError("fusion template does not parse");
        return;
    }
    bytes out(data.size());
    for (auto _ : state) benchmark::DoNotOptimize(tlv_write_tlv(out.data(), root));
    tlv_delete(root);
}
BENCHMARK(BM_TlvWriteFusion);

zr_template* container_with_fusion() {
    const bytes data = fusion_template();
    const bytes meta = {0, 3, 0, 176, 0, 96, 0, 0, 0, 1, 244};
    zr_template* one = zr_template_generic_insert(nullptr, 67, data.data(), uint32_t(data.size()));
    zr_template* two = zr_template_generic_insert(one, 86, meta.data(), uint32_t(meta.size()));
    zr_template_delete(one);
    return two;
}

void BM_ContainerVerifyIntegrity(benchmark::State& state) {
    zr_template* container = container_with_fusion();
    for (auto _ : state) {
        benchmark::DoNotOptimize(zr_template_generic_verify_integrity(container, 2));
    }
    zr_template_delete(container);
}
BENCHMARK(BM_ContainerVerifyIntegrity);

void BM_ContainerConvertToPart(benchmark::State& state) {
    zr_template* container = container_with_fusion();
    for (auto _ : state) {
        const uint8_t* data = nullptr;
        uint32_t size = 0;
        benchmark::DoNotOptimize(zr_template_convert(container, 77, &data, &size));
        benchmark::DoNotOptimize(data);
    }
    zr_template_delete(container);
}
BENCHMARK(BM_ContainerConvertToPart);

}  // namespace
