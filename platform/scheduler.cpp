#include "platform/scheduler.hpp"

#include <time.h>

#include <cerrno>

void SteppingScheduler::Arm(unsigned usec, std::function<void()> fn) {
    waits.push_back(usec);
    wait_ = usec;
    fn_ = std::move(fn);
}

void SteppingScheduler::Disarm() { fn_ = nullptr; }

bool SteppingScheduler::RunNext() {
    if (!fn_) return false;
    std::function<void()> fn = std::move(fn_);
    fn_ = nullptr;
    if (realWaits_) {
        timespec left{static_cast<time_t>(wait_ / 1000000), static_cast<long>(wait_ % 1000000) * 1000};
        while (nanosleep(&left, &left) != 0 && errno == EINTR) {
        }
    }
    now_ += wait_;
    fn();
    return true;
}

void SteppingScheduler::RunAll() {
    while (RunNext()) {
    }
}
