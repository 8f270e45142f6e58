// Timings of the stack end to end, with the driver's delays at zero: from a
// captured sample to the identification's answer with 1 and with 20
// enrolled records, and one whole enrolment through the engine adapter.
// Samples are captured once through the driver and the simulated sensor
// (synthetic fingers); the engine adapter binds fpmatch from its build
// directory.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "biometric_driver.h"
#include "engine_adapter.h"
#include "engine_binding.h"
#include "fpdemo_captures.h"
#include "fpdemo_device.h"
#include "match_section.h"
#include "sim_biometric_service.h"
#include "sim_storage_adapter.h"
#include "win_dynload.h"
#include "win_section.h"
#include "win_sync.h"

namespace {

constexpr DWORD kNoDelay = 1000000;  // every driver sleep becomes 0 ms
constexpr size_t kMostRecords = 20;

WINBIO_IDENTITY identity_of(uint32_t n) {
    WINBIO_IDENTITY id{};
    id.Type = WINBIO_ID_TYPE_GUID;
    id.Value.TemplateGuid.Data1 = n;
    return id;
}

// The stack with up to kMostRecords + 1 synthetic fingers, their captures
// taken through the driver once.
struct Stack {
    SimStorageAdapter storage;
    std::unique_ptr<SimBiometricService> service;
    std::vector<std::vector<std::vector<uint8_t>>> enrol_samples;  // per finger
    std::vector<std::vector<uint8_t>> probe_samples;               // per finger, its first probe
    std::string error;

    Stack() {
        fp_platform::set_time_divisor(kNoDelay);
        fp_platform::set_section_name_prefix("fpdemo_bench_" + std::to_string(::getpid()) + "_");
        win_set_system_directory(FPMATCH_MODULE_DIR);
        DllMain(nullptr, kDllProcessAttach, nullptr);
        if (!engine_binding_complete()) {
            error = "fpmatch lacks its exports";
            return;
        }
        service = std::make_unique<SimBiometricService>(storage);
        if (service->load_engine(&WbioQueryEngineInterface) != S_OK || service->open_pipeline() != S_OK) {
            error = "the engine adapter did not start";
            return;
        }
        fpdemo::HostedDevice device(&DllGetClassObject, fpusbdrv::CLSID_BiometricDriver);
        if (device.start() != S_OK) {
            error = "the driver did not start";
            return;
        }
        for (const fpdemo::DemoFinger& f : fpdemo::synthetic_fingers(kMostRecords + 1, 7)) {
            enrol_samples.emplace_back();
            for (const auto& image : f.enrol)
                enrol_samples.back().push_back(device.capture(image, WINBIO_PURPOSE_ENROLL).sample);
            probe_samples.push_back(device.capture(f.probes[0], WINBIO_PURPOSE_IDENTIFY).sample);
        }
    }
    ~Stack() {
        if (service) service->close_pipeline();
        service.reset();
        DllMain(nullptr, kDllProcessDetach, nullptr);
        fpusbdrv::clrmem();
    }

    // Enrols fingers until `records` are stored; false when one fails.
    bool fill(size_t records) {
        while (storage.records().size() < records) {
            const size_t n = storage.records().size();
            const SimEnrollOutcome o =
                service->enroll(identity_of(static_cast<uint32_t>(n + 1)), 2, enrol_samples[n], {});
            if (o.result != S_OK || o.duplicate) return false;
        }
        return storage.records().size() == records;
    }
};

Stack& stack() {
    static Stack s;
    return s;
}

// The probe of the finger enrolled last: the walk compares every record and
// matches at the last one.
void BM_IdentifyCapturedSample(benchmark::State& state) {
    Stack& s = stack();
    const auto records = static_cast<size_t>(state.range(0));
    if (!s.error.empty() || !s.fill(records)) {
        state.SkipWithError(s.error.empty() ? "enrolment failed" : s.error.c_str());
        return;
    }
    const std::vector<uint8_t>& probe = s.probe_samples[records - 1];
    for (auto _ : state) {
        const SimMatchOutcome m = s.service->identify(probe);
        if (m.result != S_OK || m.identity.Value.TemplateGuid.Data1 != records) {
            state.SkipWithError("the probe was not identified");
            break;
        }
    }
}
BENCHMARK(BM_IdentifyCapturedSample)->Arg(1)->Arg(20)->Unit(benchmark::kMillisecond)->UseRealTime();

// Create, six samples accepted and updated, status, duplicate check (over an
// empty store), commit.
void BM_EnrolmentThroughAdapter(benchmark::State& state) {
    Stack& s = stack();
    if (!s.error.empty()) {
        state.SkipWithError(s.error.c_str());
        return;
    }
    const std::vector<std::vector<uint8_t>>& samples = s.enrol_samples[kMostRecords];
    for (auto _ : state) {
        state.PauseTiming();
        s.storage.clear();
        state.ResumeTiming();
        const SimEnrollOutcome o = s.service->enroll(identity_of(99), 2, samples, {});
        if (o.result != S_OK) {
            state.SkipWithError("the enrolment failed");
            break;
        }
    }
    s.storage.clear();
}
BENCHMARK(BM_EnrolmentThroughAdapter)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
