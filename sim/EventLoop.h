#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <unordered_map>

namespace tvx::sim {

// The one poll() loop that runs every simulated module of a process: descriptors that call back
// when readable (or writable, for a sender that must wait), and one-shot timers. Callbacks may
// add and remove watches and timers freely.
class EventLoop {
public:
    using Clock = std::chrono::steady_clock;
    using Callback = std::function<void()>;
    using TimerId = std::uint64_t;

    void watch(int fd, Callback onReadable);
    void unwatch(int fd);
    // A second watch of its own per descriptor: `onWritable` runs while the descriptor can take
    // more bytes (or has failed), until unwatchWritable.
    void watchWritable(int fd, Callback onWritable);
    void unwatchWritable(int fd);

    TimerId after(int ms, Callback cb);
    void cancel(TimerId id);

    // Runs until stop() is called or `stopFlag` becomes true (checked after each wake-up).
    void run(const volatile bool* stopFlag = nullptr);
    void stop() { stopped_ = true; }

private:
    struct Timer {
        TimerId id;
        Callback cb;
    };
    std::unordered_map<int, std::shared_ptr<Callback>> watches_;
    std::unordered_map<int, std::shared_ptr<Callback>> writeWatches_;
    std::multimap<Clock::time_point, Timer> timers_;
    std::unordered_map<TimerId, Clock::time_point> timerIndex_;
    TimerId nextId_ = 1;
    bool stopped_ = false;
};

} // namespace tvx::sim
