// The whole stack end to end: the simulated biometric service drives the
// engine adapter, which binds the real algorithm library at run time, and
// every sample is captured by the USB sensor driver under the simulated
// driver host from images the simulated sensor plays. The scenario runs on
// synthetic fingers (always) and on the shared development captures (when
// present), in one process and with the driver in a child process.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include <string>

#include "biometric_driver.h"
#include "engine_adapter.h"
#include "engine_binding.h"
#include "fp_test_data.h"
#include "fpdemo_captures.h"
#include "fpdemo_device.h"
#include "fpdemo_scenario.h"
#include "match_section.h"
#include "sim_biometric_service.h"
#include "sim_storage_adapter.h"
#include "win_dynload.h"
#include "win_section.h"
#include "win_sync.h"

namespace {

// The driver's 100 ms polls become 2 ms, its 300 ms pause 6 ms.
constexpr DWORD kTimeDivisor = 50;
constexpr size_t kFingers = 5;
constexpr uint64_t kSeed = 1;

std::string section_prefix() { return "e2e_test_" + std::to_string(::getpid()) + "_"; }

// The engine adapter with the real algorithm library bound, as process
// attach of the adapter module binds it, and private section names.
class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        fp_platform::set_time_divisor(kTimeDivisor);
        fp_platform::set_section_name_prefix(section_prefix());
        win_set_system_directory(FPMATCH_MODULE_DIR);
        DllMain(nullptr, kDllProcessAttach, nullptr);
        ASSERT_TRUE(engine_binding_complete()) << "fpmatch in " << FPMATCH_MODULE_DIR << " lacks its exports";
        service_ = std::make_unique<SimBiometricService>(storage_);
        ASSERT_EQ(service_->load_engine(&WbioQueryEngineInterface), S_OK);
        ASSERT_EQ(service_->open_pipeline(), S_OK);
    }
    void TearDown() override {
        if (service_) {
            EXPECT_EQ(service_->close_pipeline(), S_OK);
        }
        service_.reset();
        DllMain(nullptr, kDllProcessDetach, nullptr);
        win_set_system_directory("");
        // The driver keeps the section of its last capture until told otherwise.
        fpusbdrv::clrmem();
        EXPECT_FALSE(fp_platform::section_exists(fp_platform::kMatchSectionName));
        fp_platform::set_section_name_prefix("");
        fp_platform::set_time_divisor(1);
    }

    fpdemo::ScenarioSummary run_here(const std::vector<fpdemo::DemoFinger>& fingers) {
        fpdemo::HostedDevice device(&DllGetClassObject, fpusbdrv::CLSID_BiometricDriver);
        EXPECT_EQ(device.start(), S_OK);
        return fpdemo::run_scenario(*service_, storage_, device, fingers, fpdemo::ScenarioOptions{});
    }

    SimStorageAdapter storage_;
    std::unique_ptr<SimBiometricService> service_;
};

void expect_whole_scenario(const fpdemo::ScenarioSummary& s, bool probes) {
    EXPECT_TRUE(s.ok()) << s.failed_checks << " checks failed";
    EXPECT_EQ(s.enrolments, 4);  // A, B, C and the enrolment after the discarded one
    EXPECT_GE(s.aborted_captures, 1);
    const fpdemo::ProbeTally& p = s.probes;
    if (probes) {
        EXPECT_EQ(p.genuine_identifications, 8);
        EXPECT_EQ(p.impostor_identifications, 2);
    }
}

TEST_F(EndToEnd, SyntheticFingersInOneProcess) {
    const auto fingers = fpdemo::synthetic_fingers(kFingers, kSeed);
    const fpdemo::ScenarioSummary s = run_here(fingers);
    expect_whole_scenario(s, true);
    // The synthetic set is told apart (its probes are checked against the
    // algorithm directly as well).
    EXPECT_EQ(s.probes.impostor_accepted, 0);
    EXPECT_EQ(s.probes.genuine_misidentified, 0);
}

TEST_F(EndToEnd, SyntheticFingersWithTheDriverInAChildProcess) {
    const auto fingers = fpdemo::synthetic_fingers(kFingers, kSeed);
    fpdemo::ChildDevice device;
    ASSERT_EQ(device.start(E2E_DRIVER_CHILD, {section_prefix(), std::to_string(kTimeDivisor)}), S_OK);
    fpdemo::ScenarioOptions options;
    options.run_probes = false;
    const fpdemo::ScenarioSummary s = fpdemo::run_scenario(*service_, storage_, device, fingers, options);
    expect_whole_scenario(s, false);
    EXPECT_EQ(device.stop(), 0);
}

TEST_F(EndToEnd, DevelopmentCapturesInOneProcess) {
    FP_REQUIRE_CAPTURES();
    std::vector<fpdemo::DemoFinger> fingers;
    std::string error;
    ASSERT_TRUE(fpdemo::load_capture_folder(fp_test::captures_dir(), kFingers, fingers, error)) << error;
    ASSERT_EQ(fingers.size(), kFingers);
    expect_whole_scenario(run_here(fingers), true);
}

// A sensor that plays images delivers them to the engine byte for byte, but
// for the frame's end marker in its last four bytes.
TEST_F(EndToEnd, TheSampleIsThePlayedImage) {
    const auto fingers = fpdemo::synthetic_fingers(1, kSeed);
    fpdemo::HostedDevice device(&DllGetClassObject, fpusbdrv::CLSID_BiometricDriver);
    ASSERT_EQ(device.start(), S_OK);
    const std::vector<uint8_t>& image = fingers[0].probes[0];
    const fpdemo::Capture c = device.capture(image, WINBIO_PURPOSE_VERIFY);
    ASSERT_EQ(c.status, S_OK);
    EXPECT_EQ(c.start_packets, 1u);
    EXPECT_EQ(c.stop_packets, 0u);
    const std::vector<uint8_t> expected = sim_make_sample_record(image.data(), WINBIO_PURPOSE_VERIFY);
    ASSERT_EQ(c.sample.size(), expected.size());
    const size_t marker = c.sample.size() - 4;
    EXPECT_TRUE(std::equal(c.sample.begin(), c.sample.begin() + static_cast<std::ptrdiff_t>(marker), expected.begin()));
    EXPECT_EQ(std::vector<uint8_t>(c.sample.begin() + static_cast<std::ptrdiff_t>(marker), c.sample.end()),
              (std::vector<uint8_t>{1, 2, 3, 4}));
}

// A process that ends while it holds a section it created takes the name
// with it: a later run never meets a stale match flag.
TEST(Sections, TheNameGoesWithTheProcessThatHeldIt) {
    const std::string prefix = section_prefix() + "exit_";
    constexpr const char16_t* kName = u"held_at_exit";
    int ready[2], go[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(go), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        fp_platform::set_section_name_prefix(prefix);
        // Held (reachable) to the end: the handle is never closed.
        static const HANDLE section =
            CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4, kName);
        char c = section != nullptr ? 1 : 0;
        if (::write(ready[1], &c, 1) != 1 || ::read(go[0], &c, 1) != 1) std::_Exit(3);
        std::exit(0);
    }
    char created = 0;
    ASSERT_EQ(::read(ready[0], &created, 1), 1);
    ASSERT_EQ(created, 1);
    fp_platform::set_section_name_prefix(prefix);
    EXPECT_TRUE(fp_platform::section_exists(kName));
    ASSERT_EQ(::write(go[1], &created, 1), 1);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_FALSE(fp_platform::section_exists(kName));
    fp_platform::set_section_name_prefix("");
    for (int fd : {ready[0], ready[1], go[0], go[1]}) ::close(fd);
}

}  // namespace
