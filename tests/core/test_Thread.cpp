#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "core/Thread.h"

using Clock = std::chrono::steady_clock;

struct ThreadTest : public testing::Test {
    MainThread_S stThread{};
    std::atomic<s32> s32Passes{0};

    void TearDown() override { MAIN_Thread_Stop(&stThread); }
};

// A loop that waits an hour per pass: only the wake-up can end it in time.
static void *ThreadTest_Slow(void *pvArg)
{
    auto *pst = (ThreadTest *)pvArg;
    while (MAIN_Thread_Wait(&pst->stThread, 3600 * 1000))
        pst->s32Passes++;
    return nullptr;
}

// A stop ends a long wait at once, joins, and leaves a record that starts again.
TEST_F(ThreadTest, StopWakesALongWaitAndJoins)
{
    for (s32 s32Round = 0; s32Round < 2; s32Round++) {
        ASSERT_EQ(0, MAIN_Thread_Start(&stThread, ThreadTest_Slow, this, "ThreadTest"));
        EXPECT_EQ(0, MAIN_Thread_Start(&stThread, ThreadTest_Slow, this, "ThreadTest"));   // runs already
        EXPECT_TRUE(MAIN_Thread_Running(&stThread));
        auto tStart = Clock::now();
        MAIN_Thread_Stop(&stThread);
        EXPECT_LT(Clock::now() - tStart, std::chrono::seconds(2));
        EXPECT_FALSE(MAIN_Thread_Running(&stThread));
        EXPECT_EQ(0, MAIN_Thread_WakeFd(&stThread));
    }
    EXPECT_EQ(0, s32Passes);
    MAIN_Thread_Stop(&stThread);   // stopping a stopped thread does nothing
}

// A wake ends one wait and the thread goes on waiting (it does not spin).
TEST_F(ThreadTest, WakeEndsOneWaitOnly)
{
    ASSERT_EQ(0, MAIN_Thread_Start(&stThread, ThreadTest_Slow, this, "ThreadTest"));
    for (s32 s32Want = 1; s32Want <= 3; s32Want++) {
        MAIN_Thread_Wake(&stThread);
        auto tEnd = Clock::now() + std::chrono::seconds(5);
        while (s32Passes < s32Want && Clock::now() < tEnd)
            std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(s32Want, s32Passes);
    }
}
