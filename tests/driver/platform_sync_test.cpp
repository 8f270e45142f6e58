#include <gtest/gtest.h>

#include <atomic>

#include "win_sync.h"

namespace {

struct ThreadArgs {
    HANDLE go;
    std::atomic<int> runs{0};
};

DWORD wait_then_count(void* parameter)
{
    auto* args = static_cast<ThreadArgs*>(parameter);
    WaitForSingleObject(args->go, INFINITE);
    args->runs.fetch_add(1);
    return 0;
}

TEST(PlatformSync, ThreadHandleSignalsWhenTheRoutineReturns)
{
    ThreadArgs args;
    args.go = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ASSERT_NE(args.go, nullptr);
    HANDLE thread = CreateThread(nullptr, 0, wait_then_count, &args, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, 20), WAIT_TIMEOUT);
    EXPECT_EQ(SetEvent(args.go), TRUE);
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);  // stays signalled
    EXPECT_EQ(args.runs.load(), 1);
    EXPECT_EQ(CloseHandle(thread), TRUE);
    EXPECT_EQ(CloseHandle(args.go), TRUE);
}

TEST(PlatformSync, AutoResetEventReleasesOneWaitAndResets)
{
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    SetEvent(event);
    SetEvent(event);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    SetEvent(event);
    ResetEvent(event);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    CloseHandle(event);

    HANDLE manual = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
    CloseHandle(manual);
    EXPECT_EQ(WaitForSingleObject(nullptr, 0), WAIT_FAILED);
}

TEST(PlatformSync, CriticalSectionIsReentrant)
{
    CRITICAL_SECTION section;
    ASSERT_EQ(InitializeCriticalSectionAndSpinCount(&section, 2000), TRUE);
    EnterCriticalSection(&section);
    EnterCriticalSection(&section);
    LeaveCriticalSection(&section);
    LeaveCriticalSection(&section);
    DeleteCriticalSection(&section);
}

TEST(PlatformSync, TimeDivisorShortensSleepsAndWaits)
{
    fp_platform::set_time_divisor(100);
    EXPECT_EQ(fp_platform::scaled_milliseconds(3000), 30u);
    EXPECT_EQ(fp_platform::scaled_milliseconds(50), 1u);
    EXPECT_EQ(fp_platform::scaled_milliseconds(0), 0u);
    EXPECT_EQ(fp_platform::scaled_milliseconds(INFINITE), INFINITE);
    fp_platform::set_time_divisor(0);
    EXPECT_EQ(fp_platform::time_divisor(), 1u);
}

}  // namespace
