#include "LoopbackPeer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tvx::test {

LoopbackPeer::LoopbackPeer(Responder responder, uint16_t port) : responder_(std::move(responder))
{
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
        || ::listen(listenFd_, 4) != 0) {
        ::close(listenFd_);
        listenFd_ = -1;
        return;
    }
    socklen_t length = sizeof address;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    if (::pipe2(wakeFd_, O_CLOEXEC) != 0)
        return;
    thread_ = std::thread([this] { run(); });
}

LoopbackPeer::~LoopbackPeer()
{
    {
        std::lock_guard guard(lock_);
        stopping_ = true;
    }
    if (wakeFd_[1] >= 0) [[maybe_unused]]
        auto n = ::write(wakeFd_[1], "x", 1);
    if (thread_.joinable())
        thread_.join();
    stopListening();
    for (int fd : wakeFd_) {
        if (fd >= 0)
            ::close(fd);
    }
}

void LoopbackPeer::stopListening()
{
    std::lock_guard guard(lock_);
    if (listenFd_ >= 0) {
        ::shutdown(listenFd_, SHUT_RDWR);
        ::close(listenFd_);
        listenFd_ = -1;
    }
}

bool LoopbackPeer::waitClosedConnections(int count, int timeoutMs) const
{
    std::unique_lock guard(lock_);
    return changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                             [&] { return closed_ >= count; });
}

std::vector<std::string> LoopbackPeer::rawTranscripts() const
{
    std::lock_guard guard(lock_);
    return raw_;
}

std::vector<std::vector<std::string>> LoopbackPeer::lineTranscripts() const
{
    std::lock_guard guard(lock_);
    return lines_;
}

int LoopbackPeer::connectionCount() const
{
    std::lock_guard guard(lock_);
    return static_cast<int>(raw_.size());
}

void LoopbackPeer::run()
{
    for (;;) {
        int listenFd;
        {
            std::lock_guard guard(lock_);
            if (stopping_)
                return;
            listenFd = listenFd_;
        }
        if (listenFd < 0)
            return;
        pollfd fds[2] = {{listenFd, POLLIN, 0}, {wakeFd_[0], POLLIN, 0}};
        if (::poll(fds, 2, 100) <= 0)
            continue;
        if (fds[1].revents)
            return;
        const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        serve(fd);
        ::close(fd);
        std::lock_guard guard(lock_);
        ++closed_;
        changed_.notify_all();
    }
}

void LoopbackPeer::serve(int fd)
{
    size_t connection;
    {
        std::lock_guard guard(lock_);
        raw_.emplace_back();
        lines_.emplace_back();
        connection = raw_.size() - 1;
    }
    std::string pending;
    int index = 0;
    for (;;) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFd_[0], POLLIN, 0}};
        if (::poll(fds, 2, 100) <= 0)
            continue;
        if (fds[1].revents)
            return;
        char buffer[512];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return;
        pending.append(buffer, static_cast<size_t>(n));
        {
            std::lock_guard guard(lock_);
            raw_[connection].append(buffer, static_cast<size_t>(n));
        }
        for (size_t end; (end = pending.find("\r\n")) != std::string::npos;) {
            std::string received = pending.substr(0, end + 2);
            pending.erase(0, end + 2);
            while (!received.empty() && received.front() == '\0')
                received.erase(0, 1);
            {
                std::lock_guard guard(lock_);
                lines_[connection].push_back(received);
            }
            const Answer answer = responder_(received, index++);
            std::this_thread::sleep_for(std::chrono::milliseconds(answer.delayMs));
            for (size_t i = 0; i < answer.segments.size(); ++i) {
                if (i > 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(answer.gapMs));
                ::send(fd, answer.segments[i].data(), answer.segments[i].size(), MSG_NOSIGNAL);
            }
            if (answer.close)
                return;
        }
    }
}

} // namespace tvx::test
