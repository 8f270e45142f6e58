// The stored multi-template on the enrolment and verification paths: encoding
// and decoding a six-instance "ZRMT" record of EHM-sized templates, decoded
// from a const buffer (instances copied) and in place (instances are views).
#include <benchmark/benchmark.h>

#include <vector>

#include "match/multitemplate/zr_multitemplate.h"

namespace {

constexpr uint32_t kInstances = 6;
constexpr uint32_t kTemplateBytes = 700;  // a compact card with its block fields

zr_multitemplate* six_instance_record() {
    zr_multitemplate* mt = zr_multitemplate_create();
    std::vector<uint8_t> data(kTemplateBytes);
    for (uint32_t i = 0; i < kInstances; ++i) {
        for (uint32_t k = 0; k < kTemplateBytes; ++k) data[k] = uint8_t(k * 7 + i);
        zr_template* t = zr_template_create(ZR_TEMPLATE_EHM, data.data(), kTemplateBytes);
        (void)zr_multitemplate_add_instance(mt, i + 1, t);
        zr_template_delete(t);
        const uint8_t item[4] = {uint8_t(i), 2, 3, 4};
        (void)zr_multitemplate_add_metadata(mt, i + 1, 1, item, sizeof item);
        (void)zr_multitemplate_add_metadata(mt, i + 1, 2, item, 2);
    }
    const uint8_t global[8] = {};
    (void)zr_multitemplate_add_metadata(mt, ZR_MT_GLOBAL, 5, global, sizeof global);
    return mt;
}

void BM_MultiTemplateEncodeSix(benchmark::State& state) {
    zr_multitemplate* mt = six_instance_record();
    for (auto _ : state) {
        zr_template* out = nullptr;
        benchmark::DoNotOptimize(zr_multitemplate_encode(mt, &out));
        zr_template_delete(out);
    }
    zr_multitemplate_delete(mt);
}

void decode_loop(benchmark::State& state, bool in_place) {
    zr_multitemplate* mt = six_instance_record();
    zr_template* record = nullptr;
    if (zr_multitemplate_encode(mt, &record) != ZR_OK) {
        state.SkipWithError("encoding failed");
        zr_multitemplate_delete(mt);
        return;
    }
    zr_template* source = in_place ? zr_template_create_mr(ZR_TEMPLATE_MULTI, record->data, record->size)
                                   : zr_template_retain(record);
    for (auto _ : state) {
        zr_multitemplate* decoded = nullptr;
        benchmark::DoNotOptimize(zr_multitemplate_decode(source, &decoded));
        zr_multitemplate_delete(decoded);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * record->size);
    zr_template_delete(source);
    zr_template_delete(record);
    zr_multitemplate_delete(mt);
}

void BM_MultiTemplateDecodeSixCopied(benchmark::State& state) { decode_loop(state, false); }
void BM_MultiTemplateDecodeSixInPlace(benchmark::State& state) { decode_loop(state, true); }

BENCHMARK(BM_MultiTemplateEncodeSix);
BENCHMARK(BM_MultiTemplateDecodeSixCopied);
BENCHMARK(BM_MultiTemplateDecodeSixInPlace);

}  // namespace
