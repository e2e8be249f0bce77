#include "EventLoop.h"

#include <poll.h>

#include <cerrno>
#include <memory>
#include <vector>

namespace tvx::sim {

void EventLoop::watch(int fd, Callback onReadable)
{
    watches_[fd] = std::make_shared<Callback>(std::move(onReadable));
}

void EventLoop::unwatch(int fd)
{
    watches_.erase(fd);
}

void EventLoop::watchWritable(int fd, Callback onWritable)
{
    writeWatches_[fd] = std::make_shared<Callback>(std::move(onWritable));
}

void EventLoop::unwatchWritable(int fd)
{
    writeWatches_.erase(fd);
}

EventLoop::TimerId EventLoop::after(int ms, Callback cb)
{
    const TimerId id = nextId_++;
    const auto when = Clock::now() + std::chrono::milliseconds(ms < 0 ? 0 : ms);
    timers_.emplace(when, Timer{id, std::move(cb)});
    timerIndex_[id] = when;
    return id;
}

void EventLoop::cancel(TimerId id)
{
    const auto it = timerIndex_.find(id);
    if (it == timerIndex_.end())
        return;
    auto [lo, hi] = timers_.equal_range(it->second);
    for (auto t = lo; t != hi; ++t) {
        if (t->second.id == id) {
            timers_.erase(t);
            break;
        }
    }
    timerIndex_.erase(it);
}

void EventLoop::run(const volatile bool* stopFlag)
{
    std::vector<pollfd> fds;
    while (!stopped_ && !(stopFlag && *stopFlag)) {
        fds.clear();
        for (const auto& [fd, cb] : watches_)
            fds.push_back(pollfd{
                fd, static_cast<short>(writeWatches_.count(fd) ? POLLIN | POLLOUT : POLLIN), 0});
        for (const auto& [fd, cb] : writeWatches_) {
            if (!watches_.count(fd))
                fds.push_back(pollfd{fd, POLLOUT, 0});
        }

        int timeout = 1000;
        if (!timers_.empty()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                timers_.begin()->first - Clock::now());
            timeout =
                left.count() < 0 ? 0 : static_cast<int>(std::min<long long>(left.count(), 1000));
        }
        const int n = ::poll(fds.data(), fds.size(), timeout);
        if (n < 0 && errno != EINTR)
            return;

        if (n > 0) {
            for (const pollfd& p : fds) {
                // A callback before this one may have removed the watch (a restart closes sockets).
                if (p.revents & (POLLIN | POLLERR | POLLHUP)) {
                    const auto it = watches_.find(p.fd);
                    if (it != watches_.end()) {
                        const std::shared_ptr<Callback> cb = it->second;
                        (*cb)();
                    }
                }
                if (p.revents & (POLLOUT | POLLERR | POLLHUP)) {
                    const auto it = writeWatches_.find(p.fd);
                    if (it != writeWatches_.end()) {
                        const std::shared_ptr<Callback> cb = it->second;
                        (*cb)();
                    }
                }
            }
        }

        const auto now = Clock::now();
        while (!timers_.empty() && timers_.begin()->first <= now) {
            Timer t = std::move(timers_.begin()->second);
            timers_.erase(timers_.begin());
            timerIndex_.erase(t.id);
            t.cb();
        }
    }
}

} // namespace tvx::sim
