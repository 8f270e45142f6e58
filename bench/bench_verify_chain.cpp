// The verification walk for one real probe against a real six-instance
// multi-template of the same finger, through the vandrel and EHM-HR links of
// the main road at FAR level 12.
#include <benchmark/benchmark.h>

#include "bench_captures.h"
#include "chain_capture_fixture.h"
#include "match/verify/zr_verify_chain.h"

namespace {

void BM_VerifyChainSixInstances(benchmark::State& state) {
    static fp_test::ChainCaptures data;
    if (data.fingers.empty() || data.fingers[0].probes.empty()) {
        fp_bench::skip_for_missing_captures(state);
        return;
    }
    const fp_test::ChainFinger& finger = data.fingers[0];
    for (auto _ : state) {
        zr_match_result* result = zr_match_result_create(1);
        benchmark::DoNotOptimize(zr_multitemplate_verify_chain(&finger.stored, 1, data.chain, data.session,
                                                               finger.probes[0], nullptr, 12, result,
                                                               zr_vermodels_h80, nullptr));
        zr_match_result_delete(result);
    }
}

BENCHMARK(BM_VerifyChainSixInstances)->Unit(benchmark::kMicrosecond);

}  // namespace
