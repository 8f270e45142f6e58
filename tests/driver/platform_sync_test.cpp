#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

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

struct SectionContender {
    CRITICAL_SECTION* section;
    const std::atomic<int>* leaves;  // how often the owner has left so far
    HANDLE trying;                   // set just before the contender enters
    int leaves_seen = -1;            // the owner's leaves when the contender got in
};

DWORD enter_and_note(void* parameter)
{
    auto* contender = static_cast<SectionContender*>(parameter);
    SetEvent(contender->trying);
    EnterCriticalSection(contender->section);
    contender->leaves_seen = contender->leaves->load();
    LeaveCriticalSection(contender->section);
    return 0;
}

TEST(PlatformSync, CriticalSectionIsReentrant)
{
    CRITICAL_SECTION section;
    ASSERT_EQ(InitializeCriticalSectionAndSpinCount(&section, 2000), TRUE);
    std::atomic<int> leaves{0};
    EnterCriticalSection(&section);
    EnterCriticalSection(&section);  // the owner enters again without blocking

    SectionContender contender{&section, &leaves, CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    ASSERT_NE(contender.trying, nullptr);
    HANDLE thread = CreateThread(nullptr, 0, enter_and_note, &contender, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(WaitForSingleObject(contender.trying, INFINITE), WAIT_OBJECT_0);
    // Give the contender time to block; a slow machine only makes this check weaker.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    leaves.store(1);
    LeaveCriticalSection(&section);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_TIMEOUT) << "entered while the owner still held it once";
    leaves.store(2);
    LeaveCriticalSection(&section);

    ASSERT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(contender.leaves_seen, 2);
    CloseHandle(thread);
    CloseHandle(contender.trying);
    DeleteCriticalSection(&section);
}

TEST(PlatformSync, TimeDivisorShortensSleepsButNotWaitLimits)
{
    fp_platform::set_time_divisor(100);
    EXPECT_EQ(fp_platform::scaled_milliseconds(3000), 30u);
    EXPECT_EQ(fp_platform::scaled_milliseconds(50), 1u);
    EXPECT_EQ(fp_platform::scaled_milliseconds(0), 0u);
    EXPECT_EQ(fp_platform::scaled_milliseconds(INFINITE), INFINITE);
    // A wait that times out has waited its full limit (1 ms would be the scaled one).
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitForSingleObject(event, 100), WAIT_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(100));
    CloseHandle(event);
    fp_platform::set_time_divisor(0);
    EXPECT_EQ(fp_platform::time_divisor(), 1u);
}

}  // namespace
