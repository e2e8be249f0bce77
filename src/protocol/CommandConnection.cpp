#include "protocol/CommandConnection.h"

#include "net/Ipv4.h"
#include "protocol/ReplyFrame.h"

#include <QString>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>

namespace tvx {

namespace {

// Waits up to `timeoutMs` for the socket to become readable. An end of stream
// or a pending error counts as readable, as it does for select: the receive
// that follows then reports it.
bool waitReadable(int fd, int timeoutMs)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd p{fd, POLLIN, 0};
        const int rc = ::poll(&p, 1, left > 0 ? static_cast<int>(left) : 0);
        if (rc > 0)
            return (p.revents & (POLLIN | POLLHUP | POLLERR)) != 0;
        if (rc == 0 || errno != EINTR)
            return false;
    }
}

} // namespace

CommandConnection::CommandConnection(HostNetwork& net, WorkerLink& link, WorkerFamily family,
                                     const char* ipText, const char* macText, uint16_t port,
                                     CommandTimings timings)
    : net_(net), link_(link), family_(family), port_(port), timings_(timings)
{
    deviceAddress_ = parseIpv4(ipText, false);
    macTextToBytes(macText, deviceMac_);
    std::strncpy(macText_, macText, 17);
}

CommandConnection::~CommandConnection()
{
    closeConnection();
}

int CommandConnection::connectDevice()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) {
        const int error = errno;
        if (family_ == WorkerFamily::Settings) {
            std::snprintf(messageText_, sizeof messageText_, "socket failed: %d", error);
            link_.showError(QString::fromLatin1(messageText_));
        }
        return -1;
    }
    UniqueFd socket(fd);

    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_port = htons(port_);
    destination.sin_addr.s_addr = deviceAddress_;
    const int flags = ::fcntl(fd, F_GETFL, 0);
    ::fcntl(fd, F_SETFL, (flags < 0 ? 0 : flags) | O_NONBLOCK);

    // Two calls on one non-blocking socket a second apart: the first starts
    // the connection, the second finds it completed (EISCONN). Modules rely on
    // that second before the login line arrives, so it is kept even where the
    // connection completes at once.
    for (int attempt = 0; attempt < 2; ++attempt) {
        link_.stepIt();
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&destination), sizeof destination) == 0
            || errno == EISCONN) {
            socket_ = std::move(socket);
            return 0;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(timings_.connectPauseMs));
    }
    return -1;
}

int CommandConnection::reachDevice()
{
    routeIndex_ = -1;
    if (deviceAddress_ == 0)
        return -1;
    if (!moduleLock_.owns())
        moduleLock_ = net_.lockModule(deviceAddress_, deviceMac_);

    net_.refreshLocalAddresses(&localTable_);
    link_.setPosition(link_.barMaximum() / (2 * localTable_.count + 2));

    // At an address several modules answer, a direct connection reaches
    // whichever answers ARP first: the pinned entry comes first there, and the
    // direct attempt only when no entry could be pinned. The caller's identity
    // check then tells whether the module reached is the one picked.
    const bool shared = net_.addressIsShared(deviceAddress_);
    if (!shared && connectDevice() == 0)
        return 0;

    const auto giveUp = [this](int result) {
        routeIndex_ = -1;
        moduleLock_ = {};
        return result;
    };
    bool pinned = false;
    for (int k = 0; k < localTable_.count; ++k) {
        routeIndex_ = k;
        if (link_.stopRequested())
            return giveUp(-2);
        if (net_.addArpEntry(deviceAddress_, deviceMac_, localTable_.ifIndexes[k]) != 0)
            continue;
        if (net_.addHostRoute(deviceAddress_, localTable_.addresses[k], localTable_.ifIndexes[k])
            != 0) {
            net_.deleteArpEntries(deviceMac_);
            continue;
        }
        pinned = true;
        if (connectDevice() == 0)
            return 0;
        net_.deleteArpEntries(deviceMac_);
        net_.deleteHostRoute(deviceAddress_);
    }
    routeIndex_ = -1;
    if (shared && !pinned && !link_.stopRequested() && connectDevice() == 0) {
        net_.noteSharedReachedDirectly(deviceAddress_);
        return 0;
    }
    return giveUp(unreachable());
}

int CommandConnection::loginDevice(const char* password)
{
    link_.setMessage(QStringLiteral("login to device..."));
    size_t length;
    if (!password || !password[0]) {
        static constexpr char bare[] = "$LOG\r\n";
        std::memcpy(messageText_, bare, sizeof bare);
        length = sizeof bare - 1;
    } else {
        const int n = std::snprintf(messageText_, sizeof messageText_, "$LOG%s\r\n", password);
        length = std::min<size_t>(n < 0 ? 0 : static_cast<size_t>(n), sizeof messageText_ - 1);
    }
    const bool settings = family_ == WorkerFamily::Settings;
    if (sendCommand(messageText_, length, replyText_) < 1)
        return settings ? -3 : -6;
    if (std::strncmp(replyText_, "LOGOK", 5) != 0)
        return settings ? -4 : -5;
    return 0;
}

int CommandConnection::sendCommand(const char* bytes, size_t length, char* destination)
{
    if (!socket_)
        return -1;
    const int fd = socket_.get();
    bool readable = false;
    // A command that got no answer within its wait is sent once more; a late
    // answer to the first send is then taken as the answer to the second.
    for (int pass = 0; pass < 2 && !readable; ++pass) {
        ::send(fd, bytes, length, MSG_NOSIGNAL);
        readable = waitReadable(fd, timings_.replyWaitMs);
    }
    if (!readable)
        return -3;

    char area[kReceiveRoom] = {};
    const ssize_t n = ::recv(fd, area, sizeof area, 0);
    if (n <= 0)
        return -1;
    return frameReply(area, static_cast<size_t>(n), destination);
}

QString CommandConnection::otherModuleText(const char* ip, const char* pickedMac,
                                           const char* reportedMac)
{
    if (!isOtherModule(pickedMac, reportedMac))
        return {};
    return QStringLiteral("another module answered at %1: %2, not %3")
        .arg(QString::fromLatin1(ip), QString::fromLatin1(reportedMac),
             QString::fromLatin1(pickedMac));
}

int CommandConnection::checkIdentity(QString& otherModule)
{
    otherModule.clear();
    static constexpr char request[] = "$GLM\r\n";
    char reply[kReplyRoom] = {};
    const int length = sendCommand(request, sizeof request - 1, reply);
    if (length < 1)
        return family_ == WorkerFamily::Settings ? -3 : -6;
    if (std::strncmp(reply, "GLM", 3) != 0)
        return 0;
    char ip[16];
    formatIpv4(deviceAddress_, ip);
    otherModule = otherModuleText(ip, macText_, reply + 3);
    return otherModule.isEmpty() ? 0 : kOtherModuleResult;
}

void CommandConnection::closeConnection()
{
    socket_.reset();
    if (routeIndex_ >= 0 && routeIndex_ < localTable_.count) {
        net_.deleteArpEntries(deviceMac_);
        net_.deleteHostRoute(deviceAddress_);
    }
    // Cleared so that a second close (the destructor's) removes nothing that
    // a newer operation on the same module may have added meanwhile.
    routeIndex_ = -1;
    moduleLock_ = {};
}

void CommandConnection::clearReply()
{
    std::memset(replyText_, 0, sizeof replyText_);
}

} // namespace tvx
