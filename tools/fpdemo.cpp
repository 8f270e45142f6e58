// The stack end to end: the simulated biometric service loads the engine
// adapter `fpengine` (which binds `fpmatch`) from the system library
// directory and takes every sample from the USB sensor driver `fpusbdrv`
// under the simulated driver host, whose simulated sensor plays fingerprint
// images. The scenario runs twice: everything in this process, then with the
// driver and the sensor in a child process. Exits 0 when every step passed.
//
//   fpdemo [--captures DIR] [--fingers N] [--seed S] [--run both|in-process|split] [--no-probes] [--quiet]
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "biometric_driver.h"
#include "fpdemo_captures.h"
#include "fpdemo_device.h"
#include "fpdemo_scenario.h"
#include "sim_biometric_service.h"
#include "sim_storage_adapter.h"
#include "win_dynload.h"

namespace {

constexpr const char* kServeFlag = "--serve-captures";

struct Options {
    std::string captures;   // a capture folder; synthetic fingers when empty
    size_t fingers = 5;
    uint64_t seed = 1;
    bool in_process = true;
    bool split = true;
    bool probes = true;
    bool quiet = false;
};

int usage() {
    std::fprintf(stderr,
                 "usage: fpdemo [--captures DIR] [--fingers N] [--seed S] [--run both|in-process|split]\n"
                 "              [--no-probes] [--quiet]\n"
                 "  --captures DIR  a capture folder with manifest.tsv (the shared ssb-dev set); default:\n"
                 "                  synthetic fingers made from --seed\n"
                 "  --fingers N     fingers to use, at least 4 (default 5)\n");
    return 2;
}

bool parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool has_value = i + 1 < argc;
        if (a == "--captures" && has_value) {
            o.captures = argv[++i];
        } else if (a == "--fingers" && has_value) {
            o.fingers = std::strtoul(argv[++i], nullptr, 10);
        } else if (a == "--seed" && has_value) {
            o.seed = std::strtoull(argv[++i], nullptr, 10);
        } else if (a == "--run" && has_value) {
            const std::string run = argv[++i];
            if (run != "both" && run != "in-process" && run != "split") return false;
            o.in_process = run != "split";
            o.split = run != "in-process";
        } else if (a == "--no-probes") {
            o.probes = false;
        } else if (a == "--quiet") {
            o.quiet = true;
        } else {
            return false;
        }
    }
    return o.fingers >= 4 && o.fingers <= 1000;
}

// fpusbdrv from the system library directory, unloaded with this object:
// a driver module that goes lets go of the match section it held.
class DriverModule {
public:
    DriverModule() : module_(LoadLibraryExW(u"fpusbdrv.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) {}
    ~DriverModule() {
        if (module_ != nullptr) FreeLibrary(module_);
    }
    DriverModule(const DriverModule&) = delete;
    DriverModule& operator=(const DriverModule&) = delete;

    DllGetClassObjectFunction class_object() const {
        return module_ == nullptr
                   ? nullptr
                   : reinterpret_cast<DllGetClassObjectFunction>(GetProcAddress(module_, "DllGetClassObject"));
    }

private:
    HMODULE module_;
};

int serve(int argc, char** argv) {
    if (argc != 4) return 2;
    const DriverModule module;
    const DllGetClassObjectFunction driver = module.class_object();
    if (driver == nullptr) {
        std::fprintf(stderr, "fpdemo: fpusbdrv not found in %s\n", win_system_directory().c_str());
        return 1;
    }
    return fpdemo::serve_captures(std::atoi(argv[2]), std::atoi(argv[3]), driver, fpusbdrv::CLSID_BiometricDriver);
}

std::string own_executable() {
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

bool check_library(const char16_t* module, const char* name, const char* export_name) {
    HMODULE m = LoadLibraryExW(module, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    const bool ok = m != nullptr && GetProcAddress(m, export_name) != nullptr;
    if (m != nullptr) FreeLibrary(m);
    if (!ok)
        std::fprintf(stderr, "fpdemo: %s with %s not found in %s (install the stack there: cmake --install)\n", name,
                     export_name, win_system_directory().c_str());
    return ok;
}

// One run of the scenario; false when a step failed or the stack did not start.
bool run(const char* title, fpdemo::CaptureDevice& device, const std::vector<fpdemo::DemoFinger>& fingers,
         const Options& o, bool probes) {
    std::printf("\n=== %s ===\n", title);
    SimStorageAdapter storage;
    SimBiometricService service(storage);
    HRESULT hr = service.load_engine_module(u"fpengine.dll");
    if (SUCCEEDED(hr)) hr = service.open_pipeline();
    if (FAILED(hr)) {
        std::printf("the engine adapter did not start: 0x%08x\n", static_cast<unsigned>(hr));
        return false;
    }
    fpdemo::ScenarioOptions options;
    options.log = o.quiet ? nullptr : stdout;
    options.run_probes = probes;
    const fpdemo::ScenarioSummary summary = fpdemo::run_scenario(service, storage, device, fingers, options);
    const HRESULT closed = service.close_pipeline();
    fpdemo::print_summary(stdout, title, summary);
    return summary.ok() && SUCCEEDED(closed);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], kServeFlag) == 0) return serve(argc, argv);
    Options o;
    if (!parse(argc, argv, o)) return usage();
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    std::vector<fpdemo::DemoFinger> fingers;
    if (o.captures.empty()) {
        fingers = fpdemo::synthetic_fingers(o.fingers, o.seed);
        std::printf("captures: %zu synthetic fingers (seed %llu), made by the stack's own generator\n",
                    fingers.size(), static_cast<unsigned long long>(o.seed));
    } else {
        std::string error;
        if (!fpdemo::load_capture_folder(o.captures, o.fingers, fingers, error)) {
            std::fprintf(stderr, "fpdemo: %s\n", error.c_str());
            return 1;
        }
        std::printf("captures: %zu fingers from %s\n", fingers.size(), o.captures.c_str());
        if (fingers.size() < 4) {
            std::fprintf(stderr, "fpdemo: the scenario needs at least four fingers\n");
            return 1;
        }
    }
    std::printf("system library directory: %s\n", win_system_directory().c_str());
    if (!check_library(u"fpmatch.dll", "fpmatch", "RADU_alg_init") ||
        !check_library(u"fpengine.dll", "fpengine", "WbioQueryEngineInterface") ||
        !check_library(u"fpusbdrv.dll", "fpusbdrv", "DllGetClassObject"))
        return 1;

    const auto start = std::chrono::steady_clock::now();
    bool ok = true;
    if (o.in_process) {
        const DriverModule module;
        fpdemo::HostedDevice device(module.class_object(), fpusbdrv::CLSID_BiometricDriver);
        const HRESULT hr = device.start();
        if (FAILED(hr)) {
            std::printf("the driver did not start: 0x%08x\n", static_cast<unsigned>(hr));
            ok = false;
        } else {
            ok = run("one process: service, adapter, library, driver and sensor", device, fingers, o, o.probes) && ok;
        }
    }
    if (o.split) {
        fpdemo::ChildDevice device;
        const HRESULT hr = device.start(own_executable(), {kServeFlag});
        if (FAILED(hr)) {
            std::printf("the driver process did not start: 0x%08x\n", static_cast<unsigned>(hr));
            ok = false;
        } else {
            // The probes ran in the first run already.
            ok = run("two processes: driver and sensor in a child", device, fingers, o, o.probes && !o.in_process) &&
                 ok;
            const int child = device.stop();
            if (child != 0) {
                std::printf("the driver process ended with %d\n", child);
                ok = false;
            }
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("\n%s in %.1f s\n", ok ? "fpdemo: every step passed" : "fpdemo: STEPS FAILED", seconds);
    return ok ? 0 : 1;
}
