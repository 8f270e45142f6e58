// Minutiae record formats: writing an ISO/IEC 19794-2 2005 record of 64
// minutiae and reading it back, as template building and enrolment do.
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "formats/zr_iso19794_2.h"

namespace {

constexpr uint32_t kMinutiae = 64;

minutiastruct minutiae_of_a_capture() {
    minutiastruct s{};
    s.rows = 176;
    s.cols = 96;
    s.resolution = ZR_EXTRACT_RESOLUTION_PPCM;
    s.device_id = ZR_EXTRACT_DEVICE_ID;
    s.quality = 70;
    for (uint32_t i = 0; i < kMinutiae; ++i)
        s.minutiae[i] = {int16_t((i * 37) % 176), int16_t((i * 53) % 96), uint8_t(i * 29), uint8_t(1 + i % 2),
                         uint8_t(40 + i % 60), 6};
    s.count = kMinutiae;
    return s;
}

void BM_Iso2005WriteRead64(benchmark::State& state) {
    const minutiastruct s = minutiae_of_a_capture();
    minutiastruct out{};
    for (auto _ : state) {
        uint8_t* record = nullptr;
        if (zr_minutiastruct_to_iso19794_2_v2(&s, &record) != ZR_OK) {
            state.SkipWithError("write failed");
            break;
        }
        const zr_status rc = zr_iso19794_2_to_minutiastruct(record, zr_iso19794_2_get_length(record, 12), &out);
        std::free(record);
        if (rc != ZR_OK) {
            state.SkipWithError("read failed");
            break;
        }
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(BM_Iso2005WriteRead64);

}  // namespace
