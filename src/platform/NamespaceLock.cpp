#include "platform/NamespaceLock.h"

#include <sys/socket.h>
#include <sys/un.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <thread>

namespace tvx {

namespace {
constexpr auto kRetry = std::chrono::milliseconds(50);
}

int NamespaceLock::tryOnce()
{
    UniqueFd fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!fd)
        return errno;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const size_t length = std::min(name_.size(), sizeof address.sun_path - 1);
    // sun_path[0] stays zero: a name in the abstract namespace, never a file.
    std::memcpy(address.sun_path + 1, name_.data(), length);
    const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), size) != 0)
        return errno;
    fd_ = std::move(fd);
    return 0;
}

NamespaceLock::Result NamespaceLock::acquire(int waitMs, const std::function<bool()>& stop,
                                             const std::function<void()>& waiting)
{
    if (held())
        return Result::Taken;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    bool told = false;
    for (;;) {
        const int error = tryOnce();
        if (error == 0)
            return Result::Taken;
        if (error != EADDRINUSE)
            return Result::Failed;
        if (!told && waiting)
            waiting();
        told = true;
        if (stop && stop())
            return Result::Stopped;
        if (std::chrono::steady_clock::now() >= end)
            return Result::TimedOut;
        std::this_thread::sleep_for(kRetry);
    }
}

} // namespace tvx
