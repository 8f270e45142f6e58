// The main road on real captures, with the algorithm the exported interface
// builds (192x80 hybridhr preset, feature 0 on, at most 6 captures and 20480
// bytes): verification of one probe (extraction and walk) against a
// six-capture enrolment from the enrolment engine, the enrolment of six
// captures with its save, the quality gate, extraction alone and the walk
// alone.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "algorithm_main_road.h"
#include "bench_captures.h"
#include "match/enroll/zr_multitemplate_enroll.h"
#include "objects/zr_quality.h"

namespace {

using fp_test::kEnrolDpi;
using fp_test::kVerifyDpi;
constexpr uint32_t kFarLevel = 12;

zr_algorithm* road_algorithm() { return fp_test::exported_preset_algorithm(); }

zr_image* image_at(const fp_test::GreyImage& g, uint16_t dpi) {
    return zr_image_create(uint16_t(g.rows), uint16_t(g.cols), dpi, dpi, g.pixels.data(), 0);
}

// One finger's six enrolment captures and first probe.
struct Road {
    std::vector<fp_test::GreyImage> enrol;
    fp_test::GreyImage probe;
    zr_algorithm* algorithm = road_algorithm();
    zr_template* stored = nullptr;

    Road() {
        const auto dir = fp_test::captures_dir() / "fvc2002_db1" / "101";
        for (int i = 1; i <= fp_test::kExportedMaxCaptures; ++i) {
            enrol.push_back(fp_test::read_pgm(dir / ("e" + std::to_string(i) + ".pgm")));
            if (enrol.back().pixels.empty()) return;
        }
        probe = fp_test::read_pgm(dir / "p7.pgm");
        if (!probe.pixels.empty()) stored = enrol_six();
    }
    ~Road() {
        zr_template_delete(stored);
        zr_algorithm_delete(algorithm);
    }
    Road(const Road&) = delete;
    Road& operator=(const Road&) = delete;

    // The enrolment engine over the six captures, finalised and saved into
    // the caller's 20480-byte buffer; the template, or none.
    zr_template* enrol_six(uint8_t* saved = nullptr) const {
        zr_multitemplate_enroll* e = zr_multitemplate_enroll_create_algorithm(algorithm, nullptr, nullptr, nullptr);
        if (e == nullptr) return nullptr;
        for (const fp_test::GreyImage& g : enrol) {
            zr_image* image = image_at(g, kEnrolDpi);
            (void)zr_multitemplate_enroll_run(e, image, nullptr, nullptr);
            zr_image_delete(image);
        }
        zr_template* t = nullptr;
        if (zr_multitemplate_enroll_finalize_template_algorithm(algorithm, e, &t) != ZR_OK) t = nullptr;
        zr_multitemplate_enroll_delete(e);
        if (t != nullptr && saved != nullptr && zr_template_get_data_size(t) <= fp_test::kExportedMaxTemplateSize)
            std::memcpy(saved, zr_template_get_data(t), zr_template_get_data_size(t));
        return t;
    }
};

Road& road() {
    static Road r;
    return r;
}

bool have_road(benchmark::State& state) {
    if (fp_test::have_captures() && road().stored != nullptr) return true;
    fp_bench::skip_for_missing_captures(state);
    return false;
}

void BM_RoadVerify(benchmark::State& state) {
    if (!have_road(state)) return;
    Road& r = road();
    zr_image* probe = image_at(r.probe, kVerifyDpi);
    for (auto _ : state) {
        uint32_t decision = 0;
        benchmark::DoNotOptimize(zr_algorithm_verify_image(r.algorithm, &r.stored, 1, probe, kFarLevel, &decision,
                                                           nullptr, nullptr, nullptr, nullptr));
    }
    zr_image_delete(probe);
}

void BM_RoadEnrolSix(benchmark::State& state) {
    if (!have_road(state)) return;
    std::vector<uint8_t> saved(fp_test::kExportedMaxTemplateSize);
    for (auto _ : state) {
        zr_template* t = road().enrol_six(saved.data());
        benchmark::DoNotOptimize(t);
        zr_template_delete(t);
    }
}

void BM_RoadQuality(benchmark::State& state) {
    if (!have_road(state)) return;
    zr_image* image = image_at(road().probe, kVerifyDpi);
    for (auto _ : state) {
        zr_quality* q = nullptr;
        benchmark::DoNotOptimize(zr_compute_quality_500(nullptr, image, &q));
        zr_quality_delete(q);
    }
    zr_image_delete(image);
}

void BM_RoadExtract(benchmark::State& state) {
    if (!have_road(state)) return;
    zr_image* probe = image_at(road().probe, kVerifyDpi);
    for (auto _ : state) {
        zr_template* t = nullptr;
        benchmark::DoNotOptimize(zr_algorithm_extract_template(road().algorithm, probe, nullptr, &t));
        zr_template_delete(t);
    }
    zr_image_delete(probe);
}

void BM_RoadWalk(benchmark::State& state) {
    if (!have_road(state)) return;
    Road& r = road();
    zr_image* image = image_at(r.probe, kVerifyDpi);
    zr_template* probe = nullptr;
    const zr_status s = zr_algorithm_extract_template(r.algorithm, image, nullptr, &probe);
    zr_image_delete(image);
    if (s != ZR_OK) {
        state.SkipWithError("probe extraction failed");
        return;
    }
    for (auto _ : state) {
        uint32_t decision = 0;
        benchmark::DoNotOptimize(zr_algorithm_verify_templates(r.algorithm, &r.stored, 1, probe, kFarLevel,
                                                               &decision, nullptr, nullptr, nullptr));
    }
    zr_template_delete(probe);
}

BENCHMARK(BM_RoadVerify)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RoadEnrolSix)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RoadQuality)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RoadExtract)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RoadWalk)->Unit(benchmark::kMicrosecond);

}  // namespace
