// Template selection on real captures: the match matrix and selection of an
// enrolment, and the dynamic-update comparison of one new template.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench_captures.h"
#include "chain_capture_fixture.h"
#include "match/multitemplate/zr_mtm.h"
#include "match/update/zr_mtm_enroll.h"
#include "match/verify/zr_verify_chain.h"

namespace {

fp_test::ChainCaptures& captures() {
    static fp_test::ChainCaptures data;
    return data;
}

// The enrolment captures of the first fingers, repeated up to count.
std::vector<zr_template*> enrolment_templates(size_t count) {
    std::vector<zr_template*> out;
    for (const fp_test::ChainFinger& finger : captures().fingers) {
        zr_multitemplate* mt = nullptr;
        if (zr_multitemplate_decode(finger.stored, &mt) != ZR_OK) continue;
        for (const zr_mt_instance* in = mt->instances; in != nullptr && out.size() < count; in = in->next) {
            out.push_back(zr_template_copy(in->tmpl));
        }
        zr_multitemplate_delete(mt);
        if (out.size() == count) break;
    }
    return out;
}

void BM_EnrollFromMatchMatrix(benchmark::State& state) {
    if (!fp_test::have_captures()) return fp_bench::skip_for_missing_captures(state);
    const auto count = size_t(state.range(0));
    std::vector<zr_template*> templates = enrolment_templates(count);
    if (templates.size() < count) return state.SkipWithError("not enough captures");
    std::vector<zr_mtm_entry*> entries;
    for (zr_template* t : templates) entries.push_back(zr_mtm_template_create(t));
    zr_match** matrix = nullptr;
    if (zr_mtm_build_match_matrix(entries.data(), uint32_t(count), captures().chain, captures().session, 0,
                                  zr_vermodels_h80, &matrix) != ZR_OK) {
        return state.SkipWithError("matrix failed");
    }
    for (auto _ : state) {
        zr_multitemplate_manager* m = zr_multitemplate_manager_create(64);
        uint32_t updated = 0;
        benchmark::DoNotOptimize(enroll_from_match_matrix(m, matrix, entries.data(), uint32_t(count), 0, &updated));
        zr_multitemplate_manager_delete(m);
    }
    zr_mtm_match_matrix_delete(matrix, uint32_t(count));
    for (zr_mtm_entry* e : entries) zr_mtm_template_delete(e);
    for (zr_template* t : templates) zr_template_delete(t);
}
BENCHMARK(BM_EnrollFromMatchMatrix)->Arg(6)->Arg(24)->Unit(benchmark::kMicrosecond);

void BM_UpdateTemplatesOneAgainstSix(benchmark::State& state) {
    if (!fp_test::have_captures()) return fp_bench::skip_for_missing_captures(state);
    std::vector<zr_template*> templates = enrolment_templates(6);
    if (templates.size() < 6 || captures().fingers[0].probes.empty()) return state.SkipWithError("no captures");
    templates.push_back(zr_template_retain(captures().fingers[0].probes[0]));
    for (auto _ : state) {
        zr_chain_rank_result results[8];
        uint8_t wanted = 6;
        benchmark::DoNotOptimize(zr_multitemplate_update_templates(templates.data(), 7, captures().chain,
                                                                   captures().session, 6, 12, &wanted, results,
                                                                   zr_vermodels_h80));
        for (uint8_t k = 0; k < wanted; ++k) zr_alignment_delete(results[k].alignment);
    }
    for (zr_template* t : templates) zr_template_delete(t);
}
BENCHMARK(BM_UpdateTemplatesOneAgainstSix)->Unit(benchmark::kMillisecond);

}  // namespace
