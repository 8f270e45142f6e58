// The table's simple slots: formats, control units, power and pipeline
// notifications, and the unsupported operations.
#include "engine_test_support.h"

namespace engine_test {
namespace {

using SimpleSlots = EngineFixture;

TEST_F(SimpleSlots, FormatsAndIndexVector) {
    WINBIO_REGISTERED_FORMAT standard{};
    WINBIO_UUID vendor{0xDEAD, 1, 2, {3}};
    EXPECT_EQ(EngineAdapterQueryPreferredFormat(&pipeline_, &standard, nullptr), E_POINTER);
    EXPECT_EQ(EngineAdapterQueryPreferredFormat(nullptr, &standard, &vendor), E_POINTER);
    ASSERT_EQ(EngineAdapterQueryPreferredFormat(&pipeline_, &standard, &vendor), S_OK);
    EXPECT_EQ(standard.Owner, 0x001B);
    EXPECT_EQ(standard.Type, 0x0401);
    EXPECT_EQ(vendor.Data1, 0xDEADu);  // untouched

    size_t count = 99;
    EXPECT_EQ(EngineAdapterQueryIndexVectorSize(&pipeline_, nullptr), E_POINTER);
    ASSERT_EQ(EngineAdapterQueryIndexVectorSize(&pipeline_, &count), S_OK);
    EXPECT_EQ(count, 0u);
}

TEST_F(SimpleSlots, ControlUnitsRefuseEveryCode) {
    uint8_t send = 0, receive = 0;
    size_t received = 0;
    uint32_t status = 0;
    for (auto slot : {&EngineAdapterControlUnit, &EngineAdapterControlUnitPrivileged}) {
        EXPECT_EQ(slot(&pipeline_, 1, &send, 1, &receive, 1, &received, &status), WINBIO_E_INVALID_CONTROL_CODE);
        EXPECT_EQ(slot(&pipeline_, 1, nullptr, 1, &receive, 1, &received, &status), E_POINTER);
        EXPECT_EQ(slot(&pipeline_, 1, &send, 1, &receive, 1, &received, nullptr), E_POINTER);
        EXPECT_EQ(received, 0u);
        EXPECT_EQ(status, 0u);
    }
    WINBIO_PIPELINE detached{};
    EXPECT_EQ(EngineAdapterControlUnit(&detached, 1, &send, 1, &receive, 1, &received, &status),
              WINBIO_E_INVALID_DEVICE_STATE);
}

TEST_F(SimpleSlots, PowerEventsAreCheckedBeforeThePipeline) {
    for (WINBIO_POWER_EVENT event : {4u, 10u, 18u}) {
        EXPECT_EQ(EngineAdapterNotifyPowerChange(&pipeline_, event), S_OK);
        EXPECT_EQ(EngineAdapterNotifyPowerChange(nullptr, event), E_POINTER);
    }
    EXPECT_EQ(EngineAdapterNotifyPowerChange(&pipeline_, 5), E_INVALIDARG);
    EXPECT_EQ(EngineAdapterNotifyPowerChange(nullptr, 5), E_INVALIDARG);
}

TEST_F(SimpleSlots, PipelineNotificationsAndUnsupportedOperations) {
    for (auto slot : {&EngineAdapterPipelineInit, &EngineAdapterPipelineCleanup, &EngineAdapterActivate,
                      &EngineAdapterDeactivate, &EngineAdapterRefreshCache}) {
        EXPECT_EQ(slot(&pipeline_), S_OK);
        EXPECT_EQ(slot(nullptr), E_POINTER);
    }
    EXPECT_EQ(EngineAdapterQueryHashAlgorithms(&pipeline_, nullptr, nullptr, nullptr), E_NOTIMPL);
    EXPECT_EQ(EngineAdapterSetHashAlgorithm(&pipeline_, 0, nullptr), E_NOTIMPL);
    EXPECT_EQ(EngineAdapterExportEngineData(&pipeline_, 0, nullptr, nullptr), E_NOTIMPL);
    EXPECT_EQ(EngineAdapterGetEnrollmentHash(&pipeline_, nullptr, nullptr), E_NOTIMPL);
    EXPECT_EQ(EngineAdapterIdentifyAll(&pipeline_, nullptr, nullptr), E_NOTIMPL);
    EXPECT_EQ(EngineAdapterSetEnrollmentSelector(&pipeline_, 0), E_NOTIMPL);
    EXPECT_EQ(EngineAdapterSelectCalibrationFormat(&pipeline_, nullptr, 0, nullptr, nullptr), E_NOTIMPL);
    EXPECT_EQ(EngineAdapterQueryCalibrationData(&pipeline_, nullptr, 0, nullptr, nullptr), E_NOTIMPL);
    EXPECT_EQ(EngineAdapterSetAccountPolicy(&pipeline_, nullptr, 0), E_NOTIMPL);
}

TEST_F(SimpleSlots, EnrollmentParametersOnlyWhileEnrolling) {
    WINBIO_EXTENDED_ENROLLMENT_PARAMETERS parameters{sizeof parameters, 4};
    EXPECT_EQ(EngineAdapterSetEnrollmentParameters(&pipeline_, nullptr), E_POINTER);
    EXPECT_EQ(EngineAdapterSetEnrollmentParameters(&pipeline_, &parameters), S_OK);
    EXPECT_EQ(context()->SubFactor, 0);
    ASSERT_EQ(EngineAdapterCreateEnrollment(&pipeline_), S_OK);
    EXPECT_EQ(EngineAdapterSetEnrollmentParameters(&pipeline_, &parameters), S_OK);
    EXPECT_EQ(context()->SubFactor, 4);
}

}  // namespace
}  // namespace engine_test
