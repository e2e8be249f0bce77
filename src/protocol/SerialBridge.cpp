#include "protocol/SerialBridge.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tvx {

namespace {
constexpr size_t kChunk = 16 * 1024;
// Bytes already taken from a queue are moved out once there are this many.
constexpr size_t kCompactAt = 32 * 1024;

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}
} // namespace

void SerialBridge::Queue::consume(size_t n)
{
    head += n;
    if (head == bytes.size()) {
        bytes.clear();
        head = 0;
    } else if (head >= kCompactAt) {
        bytes.erase(0, head);
        head = 0;
    }
}

SerialBridge::SerialBridge(int master, BridgePeer& peer, Say problem, Say note, BridgeLimits limits)
    : master_(master), peer_(peer), problem_(std::move(problem)), note_(std::move(note)),
      limits_(limits), wake_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{}

void SerialBridge::stop()
{
    stop_.store(true);
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wake_.get(), &one, sizeof one);
}

bool SerialBridge::stopRequested() const
{
    return stop_.load();
}

void SerialBridge::readTerminal()
{
    char buffer[kChunk];
    const size_t limit = static_cast<size_t>(limits_.backlogBytes);
    if (toModule_.size() < limit) {
        const ssize_t n =
            ::read(master_, buffer, std::min(sizeof buffer, limit - toModule_.size()));
        if (n > 0)
            toModule_.bytes.append(buffer, static_cast<size_t>(n));
    } else if (!connected_) {
        // The module is away and the backlog is full: these bytes are lost,
        // as on a serial line nobody listens to, but they are counted.
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n > 0)
            droppedBytes_ += static_cast<uint64_t>(n);
    }
}

void SerialBridge::writeTerminal()
{
    if (toTerminal_.size() == 0)
        return;
    const ssize_t n = ::write(master_, toTerminal_.data(), toTerminal_.size());
    if (n > 0) {
        toTerminal_.consume(static_cast<size_t>(n));
        sentToTerminal_ += static_cast<uint64_t>(n);
    }
}

bool SerialBridge::readModule(bool hungUp, QString& reason)
{
    char buffer[kChunk];
    const size_t limit = static_cast<size_t>(limits_.backlogBytes);
    const size_t room = limit - std::min(toTerminal_.size(), limit);
    if (room == 0) {
        // Nothing can be taken while the terminal is full, but a reset
        // connection must not keep waking the loop.
        if (hungUp)
            reason = QStringLiteral("the connection was reset");
        return !hungUp;
    }
    const ssize_t n = ::recv(peer_.socket(), buffer, std::min(sizeof buffer, room), 0);
    if (n == 0) {
        reason = QStringLiteral("the module closed it");
        return false;
    }
    if (n < 0) {
        if (errno == EAGAIN || errno == EINTR)
            return true;
        reason = errnoText(errno);
        return false;
    }
    toTerminal_.bytes.append(buffer, static_cast<size_t>(n));
    return true;
}

bool SerialBridge::writeModule(QString& reason)
{
    if (toModule_.size() == 0)
        return true;
    const ssize_t n = ::send(peer_.socket(), toModule_.data(), toModule_.size(), MSG_NOSIGNAL);
    if (n < 0) {
        if (errno == EAGAIN || errno == EINTR)
            return true;
        reason = errnoText(errno);
        return false;
    }
    toModule_.consume(static_cast<size_t>(n));
    sentToModule_ += static_cast<uint64_t>(n);
    return true;
}

int SerialBridge::waitWritable(int fd, int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (stopRequested())
            return -1;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return 0;
        // The terminal is served while the module is being reached: what is
        // written goes to the backlog, what the module sent before it went
        // away is still delivered.
        pollfd fds[3] = {
            {wake_.get(), POLLIN, 0},
            {master_, static_cast<short>(POLLIN | (toTerminal_.size() ? POLLOUT : 0)), 0},
            {fd, POLLOUT, 0},
        };
        if (::poll(fds, 3, static_cast<int>(left)) < 0) {
            if (errno == EINTR)
                continue;
            return 0;
        }
        if (fds[0].revents)
            return -1;
        if (fds[1].revents & POLLIN)
            readTerminal();
        if (fds[1].revents & POLLOUT)
            writeTerminal();
        if (fds[2].revents)
            return 1;
    }
}

int SerialBridge::connectPeer(QString& problem)
{
    return peer_.connect([this](int fd, int timeoutMs) { return waitWritable(fd, timeoutMs); },
                         problem);
}

void SerialBridge::dropped(const QString& reason)
{
    peer_.disconnect();
    connected_ = false;
    // A connection that keeps dropping at once is tried less and less often;
    // one that held for a while is tried again soon.
    const bool held = Clock::now() - connectedAt_ >= std::chrono::milliseconds(limits_.steadyMs);
    retryMs_ =
        (retryMs_ == 0 || held) ? limits_.firstRetryMs : std::min(2 * retryMs_, limits_.maxRetryMs);
    nextAttempt_ = Clock::now() + std::chrono::milliseconds(retryMs_);
    problem_(QStringLiteral("the connection to %1 dropped (%2); reconnecting in %3 s, then at "
                            "most every %4 s")
                 .arg(peer_.endpoint(), reason)
                 .arg(retryMs_ / 1000.0)
                 .arg(limits_.maxRetryMs / 1000.0));
}

SerialBridge::End SerialBridge::run(QString& why)
{
    QString problem;
    const int first = connectPeer(problem);
    if (first != BridgePeer::Connected) {
        peer_.disconnect();
        why = problem;
        if (first == BridgePeer::Refused)
            return End::Refused;
        return first == BridgePeer::Stopped ? End::Stopped : End::Unreachable;
    }
    connected_ = true;
    connectedAt_ = Clock::now();
    note_(QStringLiteral("connected to %1").arg(peer_.endpoint()));

    const size_t limit = static_cast<size_t>(limits_.backlogBytes);
    while (!stopRequested()) {
        short terminalEvents = toTerminal_.size() ? POLLOUT : 0;
        if (!connected_ || toModule_.size() < limit)
            terminalEvents |= POLLIN;
        short moduleEvents = 0;
        if (toTerminal_.size() < limit)
            moduleEvents |= POLLIN;
        if (toModule_.size())
            moduleEvents |= POLLOUT;
        pollfd fds[3] = {
            {wake_.get(), POLLIN, 0},
            {master_, terminalEvents, 0},
            // A negative descriptor is skipped by poll.
            {connected_ ? peer_.socket() : -1, moduleEvents, 0},
        };
        int timeout = -1;
        if (!connected_) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(nextAttempt_ - Clock::now())
                    .count();
            timeout = static_cast<int>(std::max<long long>(0, left));
        }
        if (::poll(fds, 3, timeout) < 0 && errno != EINTR)
            break;
        if (fds[0].revents)
            break;
        if (fds[1].revents & POLLIN)
            readTerminal();
        if (connected_) {
            QString reason;
            bool up = true;
            if (fds[2].revents & (POLLIN | POLLHUP | POLLERR))
                up = readModule((fds[2].revents & (POLLHUP | POLLERR)) != 0, reason);
            // What was just read goes out in this same turn: one poll less
            // on every byte's way.
            if (up)
                up = writeModule(reason);
            if (!up)
                dropped(reason);
        }
        writeTerminal();

        if (!connected_ && Clock::now() >= nextAttempt_) {
            const int result = connectPeer(problem);
            if (result == BridgePeer::Stopped)
                break;
            if (result == BridgePeer::Refused) {
                peer_.disconnect();
                why = problem;
                return End::Refused;
            }
            if (result == BridgePeer::Connected) {
                connected_ = true;
                connectedAt_ = Clock::now();
                note_(QStringLiteral("connected again to %1").arg(peer_.endpoint()));
                if (droppedBytes_ > 0)
                    problem_(QStringLiteral("%1 bytes written while the module was away were "
                                            "dropped (at most %2 are kept)")
                                 .arg(droppedBytes_)
                                 .arg(limits_.backlogBytes));
                droppedBytes_ = 0;
            } else {
                peer_.disconnect();
                retryMs_ = std::min(2 * retryMs_, limits_.maxRetryMs);
                nextAttempt_ = Clock::now() + std::chrono::milliseconds(retryMs_);
            }
        }
    }
    peer_.disconnect();
    return End::Stopped;
}

} // namespace tvx
