#pragma once

#include "platform/UniqueFd.h"

#include <functional>
#include <string>

namespace tvx {

// A lock that every process of the network namespace sees, whoever runs it:
// the name of an abstract socket, which one socket at a time may hold and
// which the kernel lets go however its holder ends. What it guards is the
// namespace's own (a UDP port), so two namespaces never wait for each other.
// It never waits longer than it is told: a holder that stopped, or a name
// taken by anyone else, costs a bounded wait and no more.
class NamespaceLock {
public:
    enum class Result { Taken, TimedOut, Stopped, Failed };

    explicit NamespaceLock(std::string name) : name_(std::move(name)) {}

    // Tries until it holds the name, `waitMs` have passed or `stop()` holds;
    // `waiting` runs once, when the first try finds the name taken.
    Result acquire(int waitMs, const std::function<bool()>& stop,
                   const std::function<void()>& waiting);
    void release() { fd_.reset(); }
    bool held() const { return fd_.valid(); }

private:
    // 0 taken, EADDRINUSE held by another, any other errno: no lock to be had.
    int tryOnce();

    std::string name_;
    UniqueFd fd_;
};

} // namespace tvx
