// A one-shot timer and a monotonic clock: what the keyboard's request queue
// needs of a main loop. The daemon's is a timeout on its GLib main loop; the
// stepping one runs the armed call only when asked (tests, and qz5ctl, which
// has no main loop and waits in place).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class Scheduler {
public:
    virtual ~Scheduler() = default;
    // Calls fn once, usec microseconds from now or later, in place of any call
    // still armed.
    virtual void Arm(unsigned usec, std::function<void()> fn) = 0;
    // Forgets the armed call.
    virtual void Disarm() = 0;
    // Monotonic time in microseconds.
    virtual int64_t NowUs() = 0;
};

// A timeout on the daemon's main loop (platform/main_loop.hpp), rounded up to
// whole milliseconds.
std::unique_ptr<Scheduler> MakeMainLoopScheduler();

// Runs the armed call when told to, with a clock of its own that each wait
// advances. With realWaits it also sleeps each wait (qz5ctl download);
// without, time passes only on its clock (tests, qz5ctl requests).
class SteppingScheduler : public Scheduler {
public:
    explicit SteppingScheduler(bool realWaits = false) : realWaits_(realWaits) {}
    void Arm(unsigned usec, std::function<void()> fn) override;
    void Disarm() override;
    int64_t NowUs() override { return now_; }

    bool Armed() const { return static_cast<bool>(fn_); }
    // Advances the clock by the armed wait and runs the armed call; false
    // when nothing is armed.
    bool RunNext();
    // RunNext until nothing is armed.
    void RunAll();

    std::vector<unsigned> waits;  // every wait armed, in order

private:
    bool realWaits_;
    int64_t now_ = 0;
    unsigned wait_ = 0;
    std::function<void()> fn_;
};
