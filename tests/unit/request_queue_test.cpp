// The keyboard's request queue: order, waits, the steps a step adds, repeats.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "keyboard/request_queue.hpp"

namespace {

TEST(RequestQueue, StepsRunInTurnWithTheirWaitsAndAStepsOwnAdditionsFirst) {
    SteppingScheduler scheduler;
    RequestQueue queue(scheduler);
    std::vector<std::string> ran;
    const auto step = [&](std::string name, unsigned usec) {
        return [&ran, name, usec] {
            ran.push_back(name);
            return RequestQueue::Wait{usec};
        };
    };
    queue.Add(step("a", 500000));  // idle: runs at once
    queue.Add([&] {
        ran.push_back("b");
        queue.Add(step("b1", 0));  // before c, as a call inside b would have run
        queue.Add(step("b2", 200000));
        return RequestQueue::Wait{};
    });
    queue.Call([&] { ran.push_back("c"); });
    EXPECT_EQ(ran, std::vector<std::string>{"a"});
    EXPECT_FALSE(queue.Idle());
    scheduler.RunNext();
    EXPECT_EQ(ran, (std::vector<std::string>{"a", "b", "b1", "b2"}));
    scheduler.RunAll();
    EXPECT_EQ(ran.back(), "c");
    EXPECT_TRUE(queue.Idle());
    EXPECT_EQ(scheduler.NowUs(), 700000);
    // A step may ask to run again after its wait (the arrival probe's retries).
    int tries = 0;
    queue.Add([&] { return RequestQueue::Wait{1000000, ++tries < 3}; });
    queue.Call([&] { ran.push_back("after"); });
    queue.WhenIdle([&] { ran.push_back("idle"); });  // after the last wait too
    scheduler.RunAll();
    EXPECT_EQ(tries, 3);
    EXPECT_EQ(ran.end()[-2], "after");
    EXPECT_EQ(ran.back(), "idle");
    EXPECT_EQ(scheduler.waits, (std::vector<unsigned>{500000, 200000, 1000000, 1000000, 1000000}));

    // Clearing drops what is queued and the wait under way.
    queue.Add(step("x", 500000));
    queue.Add(step("dropped", 0));
    queue.Clear();
    EXPECT_TRUE(queue.Idle());
    EXPECT_FALSE(scheduler.Armed());
    queue.Add(step("y", 0));
    EXPECT_EQ(ran.back(), "y");
    EXPECT_EQ(std::count(ran.begin(), ran.end(), "dropped"), 0);
}
}  // namespace
