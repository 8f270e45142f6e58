// Identification of one sample against N enrolled records on real captures:
// through the exported calls in the engine adapter's order (init, one
// verification a record until one matches, exit), and through the engine
// adapter itself, bound to the shared algorithm library and driven by the
// simulated biometric service over its storage adapter.
//
// The records are the enrolments of other fingers, repeated as needed, with
// the probe's own finger last: every identification compares the sample with
// all N records and ends with a match.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "api/fpmatch.h"
#include "bench_captures.h"
#include "engine_adapter.h"
#include "engine_binding.h"
#include "sim_biometric_service.h"
#include "sim_storage_adapter.h"
#include "win_dynload.h"
#include "win_section.h"

namespace {

using bytes = std::vector<uint8_t>;

// Fingers enrolled for the records: the probe's and up to this many others.
constexpr size_t kOtherFingers = 19;

bytes read_sample(const std::filesystem::path& path) {
    fp_test::GreyImage g = fp_test::read_pgm(path);
    if (g.rows != RADU_SAMPLE_ROWS || g.cols != RADU_SAMPLE_COLS) return {};
    return std::move(g.pixels);
}

bytes enrol(const std::filesystem::path& dir) {
    RADU_alg_init();
    int32_t code = 0;
    for (int i = 1; i <= 6; ++i) {
        const bytes s = read_sample(dir / ("e" + std::to_string(i) + ".pgm"));
        if (s.empty()) return {};
        code = RADU_alg_request_enroll(0, s.data());
    }
    bytes out(RADU_TEMPLATE_BUFFER_SIZE);
    uint8_t type = 0;
    const int32_t n = RADU_alg_save_template(0, out.data(), &type);
    if (code != RADU_ENROLL_COMPLETE || n <= 0) return {};
    out.resize(size_t(n));
    return out;
}

struct Gallery {
    bytes probe;                // p7 of the first finger
    bytes own;                  // the first finger's record
    std::vector<bytes> others;  // records of the other fingers
};

// Empty where the captures are absent.
const Gallery& gallery() {
    static const Gallery g = [] {
        Gallery out;
        if (!fp_test::have_captures()) return out;
        std::vector<std::filesystem::path> dirs;
        for (const auto& db : std::filesystem::directory_iterator(fp_test::captures_dir())) {
            if (!db.is_directory()) continue;
            for (const auto& finger : std::filesystem::directory_iterator(db.path()))
                if (std::filesystem::exists(finger.path() / "e1.pgm")) dirs.push_back(finger.path());
        }
        std::sort(dirs.begin(), dirs.end());
        if (dirs.size() < 2) return out;
        out.probe = read_sample(dirs[0] / "p7.pgm");
        out.own = enrol(dirs[0]);
        for (size_t i = 1; i < dirs.size() && out.others.size() < kOtherFingers; ++i) {
            bytes r = enrol(dirs[i]);
            if (!r.empty()) out.others.push_back(std::move(r));
        }
        if (out.probe.empty() || out.own.empty() || out.others.empty()) return Gallery{};
        return out;
    }();
    return g;
}

// N records: others repeated, the probe's own last.
std::vector<const bytes*> records(const Gallery& g, size_t n) {
    std::vector<const bytes*> out;
    for (size_t i = 0; i + 1 < n; ++i) out.push_back(&g.others[i % g.others.size()]);
    out.push_back(&g.own);
    return out;
}

// The exported calls as the adapter's identification makes them; the index
// of the matching record, or -1.
int64_t identify_exported(const bytes& probe, const std::vector<const bytes*>& recs) {
    RADU_alg_init();
    int64_t found = -1;
    for (size_t i = 0; i < recs.size() && found < 0; ++i)
        if (RADU_alg_request_verify(probe.data(), recs[i]->data(), uint32_t(recs[i]->size())) >= 0)
            found = int64_t(i);
    RADU_alg_exit();
    return found;
}

void BM_IdentifyExported(benchmark::State& state) {
    const Gallery& g = gallery();
    if (g.probe.empty()) return fp_bench::skip_for_missing_captures(state);
    const size_t n = size_t(state.range(0));
    const std::vector<const bytes*> recs = records(g, n);
    for (auto _ : state) {
        const int64_t found = identify_exported(g.probe, recs);
        if (found != int64_t(n) - 1) {
            state.SkipWithError("the probe did not match its own record, last");
            break;
        }
    }
}
BENCHMARK(BM_IdentifyExported)->Arg(1)->Arg(5)->Arg(20)->Arg(100)->Unit(benchmark::kMillisecond);

WINBIO_IDENTITY identity_of(uint32_t n) {
    WINBIO_IDENTITY id{};
    id.Type = WINBIO_ID_TYPE_GUID;
    id.Value.TemplateGuid.Data1 = n;
    return id;
}

// The engine adapter bound to the shared algorithm library (as its process
// attach binds it) on a pipeline of the simulated service.
class AdapterRig {
public:
    AdapterRig() {
        fp_platform::set_section_name_prefix("bench_identify_" + std::to_string(::getpid()) + "_");
        win_set_system_directory(FPMATCH_MODULE_DIR);
        DllMain(nullptr, kDllProcessAttach, nullptr);
        service_ = std::make_unique<SimBiometricService>(storage_);
        ok_ = engine_binding_complete() && service_->load_engine(&WbioQueryEngineInterface) == S_OK &&
              service_->open_pipeline() == S_OK;
    }
    ~AdapterRig() {
        if (ok_) service_->close_pipeline();
        service_.reset();
        DllMain(nullptr, kDllProcessDetach, nullptr);
        win_set_system_directory("");
        fp_platform::set_section_name_prefix("");
    }
    AdapterRig(const AdapterRig&) = delete;
    AdapterRig& operator=(const AdapterRig&) = delete;

    bool ok() const { return ok_; }
    SimStorageAdapter& storage() { return storage_; }
    SimBiometricService& service() { return *service_; }

private:
    SimStorageAdapter storage_;
    std::unique_ptr<SimBiometricService> service_;
    bool ok_ = false;
};

void BM_IdentifyAdapter(benchmark::State& state) {
    const Gallery& g = gallery();
    if (g.probe.empty()) return fp_bench::skip_for_missing_captures(state);
    AdapterRig rig;
    if (!rig.ok()) {
        state.SkipWithError("the engine adapter could not bind the algorithm library");
        return;
    }
    const size_t n = size_t(state.range(0));
    const std::vector<const bytes*> recs = records(g, n);
    for (size_t i = 0; i < recs.size(); ++i) {
        SimStoredRecord r;
        r.identity = identity_of(uint32_t(i + 1));
        r.has_identity = true;
        r.sub_factor = 1;
        r.template_blob = *recs[i];
        rig.storage().add(std::move(r));
    }
    const bytes sample = sim_make_sample_record(g.probe.data(), WINBIO_PURPOSE_IDENTIFY);
    for (auto _ : state) {
        const SimMatchOutcome out = rig.service().identify(sample);
        if (out.result != S_OK || out.identity.Value.TemplateGuid.Data1 != n) {
            state.SkipWithError("the probe was not identified as its own record, last");
            break;
        }
    }
}
BENCHMARK(BM_IdentifyAdapter)->Arg(1)->Arg(5)->Arg(20)->Arg(100)->Unit(benchmark::kMillisecond);

}  // namespace
