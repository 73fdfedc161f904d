// The timer component fires on the thread that made it, only while enabled,
// with an interval and a handler.
#include <gtest/gtest.h>

#include <windows.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "framework/Forms.h"
#include "framework/Timers.h"

namespace {

// Dispatches this thread's messages for about `ms` milliseconds.
void PumpFor(DWORD ms) {
    const DWORD start = ::GetTickCount();
    while (::GetTickCount() - start < ms) {
        MSG message;
        while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageA(&message);
        ::Sleep(5);
    }
}

}  // namespace

TEST(Timer, FiresRepeatedlyWithItsSenderWhileEnabled) {
    wc::TTimer timer(nullptr);
    timer.SetInterval(20);
    int fired = 0;
    wc::TComponent* sender = nullptr;
    timer.SetOnTimer([&](wc::TComponent* s) {
        ++fired;
        sender = s;
    });
    EXPECT_TRUE(timer.Active());
    PumpFor(300);
    EXPECT_GE(fired, 3);
    EXPECT_EQ(sender, &timer);
}

TEST(Timer, NeverFiresWhenDisabledWithoutIntervalOrHandler) {
    wc::TTimer timer(nullptr);
    int fired = 0;
    timer.SetInterval(10);
    EXPECT_FALSE(timer.Active()) << "no handler yet";
    timer.SetEnabled(false);
    timer.SetOnTimer([&](wc::TComponent*) { ++fired; });
    EXPECT_FALSE(timer.Active());
    PumpFor(100);
    EXPECT_EQ(fired, 0);

    timer.SetEnabled(true);
    timer.SetInterval(0);
    EXPECT_FALSE(timer.Active());
    PumpFor(100);
    EXPECT_EQ(fired, 0);

    timer.SetInterval(10);
    PumpFor(150);
    EXPECT_GT(fired, 0) << "enabled again with an interval";
}

TEST(Timer, StopsWhenDisabledFromItsOwnHandler) {
    wc::TTimer timer(nullptr);
    timer.SetInterval(10);
    int fired = 0;
    timer.SetOnTimer([&](wc::TComponent*) {
        ++fired;
        timer.SetEnabled(false);
    });
    PumpFor(200);
    EXPECT_EQ(fired, 1);
    EXPECT_FALSE(timer.Active());
}

TEST(Timer, ExceptionFromTheHandlerGoesToTheApplicationHandler) {
    std::vector<std::string> errors;
    wc::Application().OnException = [&](const std::exception& error) { errors.push_back(error.what()); };
    {
        wc::TTimer timer(nullptr);
        timer.SetInterval(10);
        timer.SetOnTimer([&](wc::TComponent*) {
            timer.SetEnabled(false);
            throw std::runtime_error("tick failed");
        });
        PumpFor(150);
    }
    wc::Application().OnException = nullptr;
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "tick failed");
}

TEST(Timer, DestroyedTimerSendsNothingMore) {
    int fired = 0;
    {
        wc::TTimer timer(nullptr);
        timer.SetInterval(10);
        timer.SetOnTimer([&](wc::TComponent*) { ++fired; });
    }
    PumpFor(100);
    EXPECT_EQ(fired, 0);
}
