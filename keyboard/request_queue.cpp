#include "keyboard/request_queue.hpp"

void RequestQueue::Add(Step step) {
    if (running_) {
        steps_.insert(steps_.begin() + static_cast<std::ptrdiff_t>(insertAt_++), std::move(step));
        return;
    }
    steps_.push_back(std::move(step));
    if (!waiting_) Run();
}

void RequestQueue::Call(std::function<void()> fn) {
    Add([fn = std::move(fn)] {
        fn();
        return Wait{};
    });
}

void RequestQueue::WhenIdle(std::function<void()> fn) {
    if (Idle())
        fn();
    else
        onIdle_ = std::move(fn);
}

void RequestQueue::Clear() {
    onIdle_ = nullptr;
    scheduler_.Disarm();
    waiting_ = false;
    if (running_) {
        // Keep the running step (Run takes it off); drop the rest.
        steps_.erase(steps_.begin() + 1, steps_.end());
        insertAt_ = 1;
    } else {
        steps_.clear();
    }
}

void RequestQueue::Run() {
    while (!steps_.empty() && !waiting_) {
        running_ = true;
        insertAt_ = 1;
        Step step = steps_.front();  // a copy: the step may add to the queue while it runs
        const Wait wait = step();
        running_ = false;
        if (!wait.again && !steps_.empty()) steps_.pop_front();
        if (wait.usec > 0) {
            waiting_ = true;
            scheduler_.Arm(wait.usec, [this] {
                waiting_ = false;
                Run();
            });
        }
    }
    if (Idle() && onIdle_) {
        std::function<void()> fn = std::move(onIdle_);
        onIdle_ = nullptr;
        fn();
    }
}
