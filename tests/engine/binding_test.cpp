// Binding of the algorithm library, the published table, the engine context's
// creation and destruction, and the refusal of operations without a binding.
#include <dlfcn.h>
#include <unistd.h>

#include <filesystem>

#include "engine_test_support.h"
#include "win_section.h"

namespace engine_test {
namespace {

// Sections named by this test process never meet those of other processes.
class PrivateSectionNames : public ::testing::Environment {
public:
    void SetUp() override { fp_platform::set_section_name_prefix("engine_test_" + std::to_string(getpid()) + "_"); }
    void TearDown() override { fp_platform::set_section_name_prefix(""); }
};
const auto* const kPrivateSectionNames = ::testing::AddGlobalTestEnvironment(new PrivateSectionNames);

struct BindingCase {
    const char* variant;
    int load_result;
    int bound_holders;  // how many holders, in resolution order, are set
    const char* trace;  // the failure trace, or null
};

std::array<bool, 8> holders_set() {
    return {g_pfnRequestEnroll != nullptr,  g_pfnRequestVerify != nullptr,     g_pfnGetImageQuality != nullptr,
            g_pfnAlgInit != nullptr,        g_pfnAlgExit != nullptr,           g_pfnLoadTemplate != nullptr,
            pKWT_alg_save_template != nullptr, g_pfnGetEnrolledCount != nullptr};
}

TEST(EngineBinding, LoadResultsAndHoldersPerVariant) {
    const BindingCase cases[] = {
        {"full", 0, 8, nullptr},
        {"no_request_enroll", -2, 0, " test - GetProcAddress fail(KWT_alg_request_enroll).\n"},
        {"no_alg_init", -2, 3, " test - GetProcAddress fail(KWT_alg_init).\n"},
        {"no_enrolled_count", -2, 7, " test - GetProcAddress fail(KWT_alg_get_enrolled_count).\n"},
        {"absent", -3, 0, " test - LoadLibrary fail(fpmatch.dll).\n"},
    };
    for (const BindingCase& c : cases) {
        SCOPED_TRACE(c.variant);
        TraceCapture trace;
        win_set_system_directory(scripted_dir(c.variant));
        EXPECT_EQ(LoadKwtLibrary(), c.load_result);
        const auto set = holders_set();
        for (int i = 0; i < 8; ++i) EXPECT_EQ(set[i], i < c.bound_holders) << "holder " << i + 1;
        EXPECT_EQ(engine_binding_complete(), c.bound_holders == 8);
        EXPECT_EQ(g_hKwtfModule != nullptr, c.load_result != -3);
        if (c.trace) {
            EXPECT_TRUE(trace.contains(c.trace));
        }
        UnloadKwtLibrary();
        EXPECT_EQ(g_hKwtfModule, nullptr);
        EXPECT_FALSE(engine_binding_complete());
    }
    win_set_system_directory("");
}

TEST(EngineBinding, ProcessAttachTracesAFailedLoadAndStillSucceeds) {
    TraceCapture trace;
    win_set_system_directory(scripted_dir("absent"));
    EXPECT_TRUE(DllMain(nullptr, kDllProcessAttach, nullptr));
    EXPECT_TRUE(trace.contains("engine LoadKwtLibrary fail. ErrorCode : -3\n"));
    EXPECT_TRUE(DllMain(nullptr, kDllProcessDetach, nullptr));
    win_set_system_directory("");
}

TEST(EngineBinding, ModuleNamesCannotLeaveTheSystemDirectory) {
    EXPECT_EQ(win_module_file_name(u"fpmatch.dll"), "fpmatch.so");
    EXPECT_EQ(win_module_file_name(u"fpmatch"), "fpmatch.so");
    EXPECT_EQ(win_module_file_name(u"../full/fpmatch.dll"), "");
    EXPECT_EQ(win_module_file_name(u"..\\fpmatch.dll"), "");
    EXPECT_EQ(win_module_file_name(u"/tmp/fpmatch.dll"), "");
    EXPECT_EQ(win_module_file_name(u""), "");
    // Only the system-directory search is offered.
    win_set_system_directory(scripted_dir("full"));
    EXPECT_EQ(LoadLibraryExW(u"fpmatch.dll", nullptr, 0), nullptr);
    HMODULE module = LoadLibraryExW(u"fpmatch.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    EXPECT_NE(module, nullptr);
    EXPECT_NE(GetProcAddress(module, "RADU_alg_init"), nullptr);
    EXPECT_EQ(GetProcAddress(module, "RADU_no_such_export"), nullptr);
    EXPECT_TRUE(FreeLibrary(module));
    win_set_system_directory("");
}

TEST(EngineInterface, QueryReturnsThePublishedTable) {
    EXPECT_EQ(WbioQueryEngineInterface(nullptr), E_POINTER);
    const WINBIO_ENGINE_INTERFACE* table = nullptr;
    ASSERT_EQ(WbioQueryEngineInterface(&table), S_OK);
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->Version.MajorVersion, 3);
    EXPECT_EQ(table->Version.MinorVersion, 0);
    EXPECT_EQ(table->Type, 2u);
    EXPECT_EQ(table->Size, 360u);
    const GUID id = {0x295cf28a, 0xb58f, 0x40be, {0xae, 0x4e, 0x9a, 0x7b, 0xf9, 0x8b, 0xd1, 0xa3}};
    EXPECT_TRUE(table->AdapterId == id);
    EXPECT_EQ(sim_check_engine_interface(table), S_OK);
    // Slot 23 and the last five are empty; every other slot is set.
    const auto* slots = reinterpret_cast<void* const*>(reinterpret_cast<const uint8_t*>(table) + 32);
    for (size_t i = 0; i < WINBIO_ENGINE_INTERFACE_SLOTS; ++i) {
        const size_t slot = i + 1;
        const bool empty = slot == 23 || slot >= 37;
        EXPECT_EQ(slots[i] == nullptr, empty) << "slot " << slot;
    }
    EXPECT_EQ(reinterpret_cast<const void*>(table->Attach), reinterpret_cast<const void*>(&EngineAdapterAttach));
    EXPECT_EQ(reinterpret_cast<const void*>(table->SetAccountPolicy),
              reinterpret_cast<const void*>(&EngineAdapterSetAccountPolicy));
}

TEST(EngineInterface, ServiceRefusesAMalformedTable) {
    WINBIO_ENGINE_INTERFACE table = engine_adapter_interface();
    EXPECT_EQ(sim_check_engine_interface(&table), S_OK);
    table.Size = 352;
    EXPECT_EQ(sim_check_engine_interface(&table), E_NOINTERFACE);
    table = engine_adapter_interface();
    table.Type = 1;
    EXPECT_EQ(sim_check_engine_interface(&table), E_NOINTERFACE);
    table = engine_adapter_interface();
    table.CommitEnrollment = nullptr;
    EXPECT_EQ(sim_check_engine_interface(&table), E_NOINTERFACE);
}

TEST(EngineContext, AttachAndDetach) {
    WINBIO_PIPELINE pipeline{};
    pipeline.EngineHandle = INVALID_HANDLE_VALUE;
    EXPECT_EQ(EngineAdapterAttach(nullptr), E_POINTER);

    pipeline.EngineHandle = nullptr;
    EXPECT_EQ(EngineAdapterAttach(&pipeline), WINBIO_E_INVALID_DEVICE_STATE);
    EXPECT_EQ(pipeline.EngineContext, nullptr);

    pipeline.EngineHandle = INVALID_HANDLE_VALUE;
    ASSERT_EQ(EngineAdapterAttach(&pipeline), S_OK);
    auto* context = static_cast<WINBIO_ENGINE_CONTEXT*>(pipeline.EngineContext);
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(context->State, 0);
    EXPECT_EQ(context->Sample, nullptr);
    // A second attach on the same pipeline is refused and keeps the context.
    EXPECT_EQ(EngineAdapterAttach(&pipeline), WINBIO_E_INVALID_DEVICE_STATE);
    EXPECT_EQ(pipeline.EngineContext, context);

    EXPECT_EQ(EngineAdapterDetach(nullptr), E_POINTER);
    EXPECT_EQ(EngineAdapterDetach(&pipeline), S_OK);
    EXPECT_EQ(pipeline.EngineContext, nullptr);
    EXPECT_EQ(EngineAdapterDetach(&pipeline), WINBIO_E_INVALID_DEVICE_STATE);
    EXPECT_EQ(EngineAdapterClearContext(&pipeline), WINBIO_E_INVALID_DEVICE_STATE);
}

// With an incomplete binding every operation that needs the library refuses
// with a clear error, and the resets and detach still work.
TEST(EngineContext, OperationsRefuseWithoutACompleteBinding) {
    for (const char* variant : {"no_alg_init", "no_enrolled_count", "absent"}) {
        SCOPED_TRACE(variant);
        ScopedBinding binding(variant);
        ASSERT_FALSE(engine_binding_complete());
        SimStorageAdapter storage;
        storage.add(stored_record(1, 1, 100));
        WINBIO_PIPELINE pipeline{};
        pipeline.EngineHandle = INVALID_HANDLE_VALUE;
        storage.attach(pipeline);
        ASSERT_EQ(EngineAdapterAttach(&pipeline), S_OK);
        std::vector<uint8_t> sample = test_sample(1);
        WINBIO_REJECT_DETAIL reject = 0;
        ASSERT_EQ(EngineAdapterAcceptSampleData(&pipeline, reinterpret_cast<WINBIO_BIR*>(sample.data()),
                                                sample.size(), WINBIO_PURPOSE_VERIFY, &reject),
                  S_OK);

        EXPECT_EQ(EngineAdapterCreateEnrollment(&pipeline), ENGINE_E_NOT_BOUND);
        WINBIO_IDENTITY identity = guid_identity(1);
        BOOLEAN match = 1;
        uint8_t* payload = nullptr;
        size_t payload_size = 0;
        uint8_t* hash = nullptr;
        size_t hash_size = 0;
        EXPECT_EQ(EngineAdapterVerifyFeatureSet(&pipeline, &identity, 1, &match, &payload, &payload_size, &hash,
                                                &hash_size, &reject),
                  ENGINE_E_NOT_BOUND);
        EXPECT_EQ(match, 0);
        WINBIO_BIOMETRIC_SUBTYPE sub_factor = 0;
        EXPECT_EQ(EngineAdapterIdentifyFeatureSet(&pipeline, &identity, &sub_factor, &payload, &payload_size,
                                                  &hash, &hash_size, &reject),
                  ENGINE_E_NOT_BOUND);
        // An enrolment can only be reached with a complete binding; force the
        // state to show the remaining enrolment operations refuse as well.
        auto* context = static_cast<WINBIO_ENGINE_CONTEXT*>(pipeline.EngineContext);
        context->State = WINBIO_ENGINE_STATE_ENROLLING;
        context->SampleCount = 6;
        EXPECT_EQ(EngineAdapterUpdateEnrollment(&pipeline, &reject), ENGINE_E_NOT_BOUND);
        BOOLEAN duplicate = 1;
        EXPECT_EQ(EngineAdapterCheckForDuplicate(&pipeline, &identity, &sub_factor, &duplicate), ENGINE_E_NOT_BOUND);
        EXPECT_EQ(duplicate, 0);
        EXPECT_EQ(EngineAdapterCommitEnrollment(&pipeline, &identity, 1, nullptr, 0), ENGINE_E_NOT_BOUND);
        EXPECT_EQ(storage.records().size(), 1u);
        EXPECT_EQ(EngineAdapterDiscardEnrollment(&pipeline), S_OK);
        EXPECT_EQ(EngineAdapterClearContext(&pipeline), S_OK);
        EXPECT_EQ(EngineAdapterDetach(&pipeline), S_OK);
    }
}

// The shared library exports only the table query and publishes the same
// table through a service that loads it by module name.
TEST(EngineModule, SharedLibraryExportsOnlyTheTableQuery) {
    win_set_system_directory(FPENGINE_MODULE_DIR);
    HMODULE module = LoadLibraryExW(u"fpengine.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    ASSERT_NE(module, nullptr) << dlerror();
    EXPECT_NE(GetProcAddress(module, "WbioQueryEngineInterface"), nullptr);
    for (const char* hidden : {"EngineAdapterAttach", "_Z19EngineAdapterAttachP15WINBIO_PIPELINE", "DllMain",
                               "LoadKwtLibrary", "setmem", "g_hKwtfModule", "LoadLibraryExW"})
        EXPECT_EQ(GetProcAddress(module, hidden), nullptr) << hidden;
    // This reference is kept for the whole process: the module's platform
    // layer holds process-lifetime objects that a leak checker would report
    // once the module is unmapped.

    SimStorageAdapter storage;
    {
        SimBiometricService service(storage);
        ASSERT_EQ(service.load_engine_module(u"fpengine.dll"), S_OK);
        EXPECT_EQ(service.engine()->Size, 360u);
        EXPECT_EQ(service.open_pipeline(), S_OK);
        EXPECT_NE(service.pipeline().EngineContext, nullptr);
        EXPECT_EQ(service.close_pipeline(), S_OK);
        EXPECT_EQ(service.pipeline().EngineContext, nullptr);
    }
    win_set_system_directory("");
}

}  // namespace
}  // namespace engine_test
