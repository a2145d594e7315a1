// The keyboard's work as a queue of steps on the main loop. A step sends one
// request (or probes the device, or reads its status) and says how long the
// keyboard must then be left alone; that wait is a timer, never a sleep, so
// everything that does not talk to the keyboard is served in the meantime.
// Steps run one at a time in the order they were added; a step that adds
// steps while it runs has them run right after it, before what was queued
// behind it (as a call made inside it would have).
#pragma once

#include <deque>
#include <functional>

#include "platform/scheduler.hpp"

class RequestQueue {
public:
    struct Wait {
        unsigned usec = 0;   // before the next step
        bool again = false;  // run this same step once more after the wait
    };
    using Step = std::function<Wait()>;

    explicit RequestQueue(Scheduler& scheduler) : scheduler_(scheduler) {}
    ~RequestQueue() { scheduler_.Disarm(); }
    RequestQueue(const RequestQueue&) = delete;
    RequestQueue& operator=(const RequestQueue&) = delete;

    // Queues step; when the queue is idle it runs at once, inside this call.
    void Add(Step step);
    // A step that waits for nothing: fn runs in its turn.
    void Call(std::function<void()> fn);
    // Nothing queued, nothing running, no wait under way.
    bool Idle() const { return steps_.empty() && !waiting_ && !running_; }
    size_t Pending() const { return steps_.size(); }
    // Drops every queued step and any wait under way.
    void Clear();
    // Calls fn once the queue is idle: at once when it is now.
    void WhenIdle(std::function<void()> fn);
    int64_t NowUs() { return scheduler_.NowUs(); }
    Scheduler& GetScheduler() { return scheduler_; }

private:
    void Run();

    Scheduler& scheduler_;
    std::deque<Step> steps_;
    size_t insertAt_ = 0;  // where a running step's additions go
    bool running_ = false;
    bool waiting_ = false;
    std::function<void()> onIdle_;
};
