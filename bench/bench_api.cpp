// The exported interface on real captures: one verification of a probe
// against an enrolled record, and a whole enrolment (six enrolment calls and
// the save).
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "api/fpmatch.h"
#include "bench_captures.h"

namespace {

using bytes = std::vector<uint8_t>;

struct ApiFinger {
    std::vector<bytes> enrol;  // e1..e6
    bytes probe;               // p7
    bytes blob;
};

bytes read_sample(const std::filesystem::path& path) {
    fp_test::GreyImage g = fp_test::read_pgm(path);
    if (g.rows != RADU_SAMPLE_ROWS || g.cols != RADU_SAMPLE_COLS) return {};
    return std::move(g.pixels);
}

// The first finger of the capture set with its enrolled record; empty where
// the captures are absent.
const ApiFinger& api_finger() {
    static const ApiFinger finger = [] {
        ApiFinger f;
        if (!fp_test::have_captures()) return f;
        const auto dir = fp_test::captures_dir() / "fvc2002_db1" / "101";
        for (int i = 1; i <= 6; ++i) {
            f.enrol.push_back(read_sample(dir / ("e" + std::to_string(i) + ".pgm")));
            if (f.enrol.back().empty()) return ApiFinger{};
        }
        f.probe = read_sample(dir / "p7.pgm");
        RADU_alg_init();
        for (const bytes& s : f.enrol) RADU_alg_request_enroll(0, s.data());
        bytes out(RADU_TEMPLATE_BUFFER_SIZE);
        uint8_t type = 0;
        const int32_t n = RADU_alg_save_template(0, out.data(), &type);
        if (n <= 0 || f.probe.empty()) return ApiFinger{};
        f.blob.assign(out.begin(), out.begin() + n);
        return f;
    }();
    return finger;
}

void BM_ApiVerify(benchmark::State& state) {
    const ApiFinger& f = api_finger();
    if (f.blob.empty()) return fp_bench::skip_for_missing_captures(state);
    for (auto _ : state) {
        const int32_t r = RADU_alg_request_verify(f.probe.data(), f.blob.data(), uint32_t(f.blob.size()));
        benchmark::DoNotOptimize(r);
    }
}
BENCHMARK(BM_ApiVerify)->Unit(benchmark::kMillisecond);

void BM_ApiEnrol(benchmark::State& state) {
    const ApiFinger& f = api_finger();
    if (f.blob.empty()) return fp_bench::skip_for_missing_captures(state);
    bytes out(RADU_TEMPLATE_BUFFER_SIZE);
    for (auto _ : state) {
        RADU_alg_init();
        int32_t code = 0;
        for (const bytes& s : f.enrol) code = RADU_alg_request_enroll(0, s.data());
        uint8_t type = 0;
        const int32_t n = RADU_alg_save_template(0, out.data(), &type);
        if (code != RADU_ENROLL_COMPLETE || n <= 0) {
            state.SkipWithError("the enrolment did not complete");
            break;
        }
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_ApiEnrol)->Unit(benchmark::kMillisecond);

}  // namespace
