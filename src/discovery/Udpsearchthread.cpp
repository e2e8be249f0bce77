#include "discovery/Udpsearchthread.h"

#include "discovery/DiscoveryDatagram.h"
#include "handover/ProgressView.h"
#include "net/Ipv4.h"
#include "platform/NamespaceLock.h"
#include "platform/UniqueFd.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace tvx {

namespace {
constexpr uint16_t kFirstSourcePort = 0x4000;
constexpr uint32_t kBroadcastAddress = 0xFFFFFFFFu;
// Every search of the host binds the same source ports, whoever runs it (the
// window, the CLI, another user): one at a time holds them.
constexpr char kSourcePortLock[] = "tarvanix-discovery-source-ports";
} // namespace

UDPsearchThread::UDPsearchThread(WorkerLink link, ProgressView* view, SearchHooks hooks,
                                 const char* target, bool broadcast, SearchTimings timings)
    : WorkerThread(QStringLiteral("UDPsearchThread"), std::move(link)), view_(view),
      hooks_(std::move(hooks)), timings_(timings), broadcast_(broadcast)
{
    if (target && target[0])
        std::strncpy(targetAddress_, target, sizeof targetAddress_ - 1);
}

UDPsearchThread::UDPsearchThread(WorkerLink link, ProgressView* view, SearchHooks hooks,
                                 std::vector<uint32_t> targets, SearchTimings timings)
    : UDPsearchThread(std::move(link), view, std::move(hooks), nullptr, false, timings)
{
    for (const uint32_t address : targets) {
        // A text that did not parse must not turn the search into a broadcast.
        if (address != 0 && address != kBroadcastAddress
            && std::find(targets_.begin(), targets_.end(), address) == targets_.end())
            targets_.push_back(address);
    }
    answered_.assign(targets_.size(), false);
    if (!targets_.empty())
        formatIpv4(targets_.front(), targetAddress_);
}

void UDPsearchThread::execute()
{
    // Every failure has already shown its own message.
    runSearch(broadcast_, targetAddress_);
    handOverReplies();
    link().stepBy(1000);
    link().postAlways(hooks_.searchEnded);
    link().finish();
}

void UDPsearchThread::afterException()
{
    // The progress window stays open until the user closes it; a new search
    // may start as soon as they have.
    link().postAlways(hooks_.searchEnded);
}

void UDPsearchThread::showFound()
{
    // The count is read on the UI thread, after every record handed over
    // before it has been added.
    handOverReplies();
    if (!view_)
        return;
    link().post([view = view_, count = hooks_.deviceCount] {
        view->setMessage(QStringLiteral("Broadcast search...%1 found").arg(count ? count() : 0));
    });
}

int UDPsearchThread::runSearch(bool broadcast, const char* target)
{
    LocalAddressTable local;
    // Its result is not tested: a failed refresh leaves the last table.
    if (hooks_.refreshLocalAddresses)
        hooks_.refreshLocalAddresses(&local);

    if (local.count > 0)
        link().setPosition(link().barMaximum() / (2 * local.count));
    QString searching;
    if (broadcast)
        searching = QStringLiteral("Broadcast search...");
    else if (targets_.size() > 1)
        searching = QStringLiteral("search %1 and %2 more...")
                        .arg(QString::fromLatin1(target))
                        .arg(targets_.size() - 1);
    else
        searching = QStringLiteral("search %1...").arg(QString::fromLatin1(target));
    link().setMessage(searching);
    std::this_thread::sleep_for(std::chrono::milliseconds(timings_.pauseMs));

    // Held from the first bind to the last socket's close. A holder that
    // neither ends nor searches costs one bounded wait; the bind then says
    // whether the port is free after all.
    NamespaceLock portLock(kSourcePortLock);
    if (local.count > 0) {
        bool waited = false;
        const NamespaceLock::Result taken = portLock.acquire(
            timings_.portWaitMs, [this] { return stopRequested(); },
            [this, &waited] {
                waited = true;
                link().setMessage(QStringLiteral("waiting for another search on this host..."));
            });
        if (taken == NamespaceLock::Result::Stopped)
            return -2;
        if (taken == NamespaceLock::Result::TimedOut)
            link().appendLog(QStringLiteral("another search still held the discovery ports after "
                                            "%1 s")
                                 .arg(timings_.portWaitMs / 1000));
        if (waited)
            link().setMessage(searching);
    }

    uint16_t sourcePort = kFirstSourcePort;
    for (int n = 0; n < local.count; ++n) {
        if (stopRequested())
            return -2;
        UniqueFd socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP));
        if (!socket) {
            link().showError(QStringLiteral("socket failed: %1").arg(errno));
            return -1;
        }
        if (broadcast) {
            const int on = 1;
            if (::setsockopt(socket.get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
                link().showError(QStringLiteral("setsockopt failed: %1").arg(errno));
                return -1;
            }
        }
        sockaddr_in bindAddress{};
        bindAddress.sin_family = AF_INET;
        bindAddress.sin_addr.s_addr = htonl(INADDR_ANY);
        bindAddress.sin_port = htons(sourcePort);
        int bound = ::bind(socket.get(), reinterpret_cast<const sockaddr*>(&bindAddress),
                           sizeof bindAddress);
        if (bound != 0) {
            // Another program holds the port on some address, so the wildcard
            // is refused: the local address itself may still be free.
            bindAddress.sin_addr.s_addr = local.addresses[n];
            bound = ::bind(socket.get(), reinterpret_cast<const sockaddr*>(&bindAddress),
                           sizeof bindAddress);
        }
        if (bound != 0) {
            link().showError(QStringLiteral("bind failed: %1").arg(errno));
            return -1;
        }
        if (probeInterface(socket.get(), broadcast, target, local.addresses[n], local.ifIndexes[n])
            != 0)
            return -1;
        ++sourcePort;
        socket.reset();

        if (broadcast) {
            showFound();
        } else if (answeredAll_) {
            // The modules have answered: the other interfaces are not asked.
            return 0;
        }
    }
    return 0;
}

void UDPsearchThread::sendRequest(int socket, uint32_t destination, uint32_t localAddress,
                                  uint32_t ifIndex)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = destination;
    to.sin_port = htons(kDiscoveryPort);

    iovec iov{};
    iov.iov_base = const_cast<uint8_t*>(kDiscoveryRequest);
    iov.iov_len = sizeof kDiscoveryRequest;

    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    msghdr message{};
    message.msg_name = &to;
    message.msg_namelen = sizeof to;
    message.msg_iov = &iov;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;

    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = IPPROTO_IP;
    header->cmsg_type = IP_PKTINFO;
    header->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info{};
    info.ipi_ifindex = static_cast<int>(ifIndex);
    info.ipi_spec_dst.s_addr = localAddress;
    std::memcpy(CMSG_DATA(header), &info, sizeof info);

    // The result is not tested: a request that cannot leave is a search
    // without answers on this interface.
    (void)::sendmsg(socket, &message, MSG_NOSIGNAL);
}

void UDPsearchThread::holdReply(const DiscoveryRecord& record)
{
    held_.push_back(record);
    if (std::chrono::steady_clock::now() >= nextHandOver_)
        handOverReplies();
}

void UDPsearchThread::handOverReplies()
{
    if (held_.empty())
        return;
    if (hooks_.addDevices)
        link().post([add = hooks_.addDevices, rows = std::move(held_)] { add(rows); });
    held_.clear();
    nextHandOver_ =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(timings_.handOverMs);
}

int UDPsearchThread::waitReadable(int socket, int waitMs)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= end)
            return 0;
        auto until = end;
        if (!held_.empty())
            until = std::min(until, std::max(now, nextHandOver_));
        const int sliceMs =
            static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(until - now).count());
        pollfd readable{socket, POLLIN, 0};
        int ready;
        do {
            ready = ::poll(&readable, 1, sliceMs);
        } while (ready < 0 && errno == EINTR);
        if (ready != 0)
            return ready;
        if (!held_.empty() && std::chrono::steady_clock::now() >= nextHandOver_)
            handOverReplies();
    }
}

int UDPsearchThread::waitWithin(std::chrono::steady_clock::time_point readEnd) const
{
    // A reply restarts the wait, but only until the send's budget is spent:
    // replies that keep coming, valid or not, cannot hold the search longer.
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        readEnd - std::chrono::steady_clock::now());
    if (left.count() <= 0)
        return 0;
    return static_cast<int>(std::min<long long>(left.count(), timings_.waitMs));
}

bool UDPsearchThread::noteAnswer(uint32_t sender)
{
    if (targets_.size() > 1) {
        const auto at = std::find(targets_.begin(), targets_.end(), sender);
        if (at != targets_.end())
            answered_[static_cast<size_t>(at - targets_.begin())] = true;
        answeredAll_ = std::find(answered_.begin(), answered_.end(), false) == answered_.end();
    } else {
        answeredAll_ = true;
    }
    return answeredAll_;
}

int UDPsearchThread::probeInterface(int socket, bool broadcast, const char* target,
                                    uint32_t localAddress, uint32_t ifIndex)
{
    std::vector<uint32_t> destinations{kBroadcastAddress};
    if (!broadcast && !targets_.empty()) {
        destinations = targets_;
    } else if (!broadcast) {
        if (!target || !target[0])
            return -1;
        destinations = {parseIpv4(target, true)};
    }

    for (int send = 0; send < timings_.sendsPerAddress; ++send) {
        // The rows a send brought reach the window before its bar step.
        handOverReplies();
        link().stepIt();
        if (stopRequested())
            return -2;
        for (size_t d = 0; d < destinations.size(); ++d) {
            // An address that has answered on another interface is not asked again.
            if (broadcast || targets_.size() <= 1 || !answered_[d])
                sendRequest(socket, destinations[d], localAddress, ifIndex);
        }
        const auto readEnd =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timings_.readBudgetMs);

        for (int reply = 0; reply < timings_.repliesPerSend; ++reply) {
            if (stopRequested())
                return -2;
            const int waitMs = waitWithin(readEnd);
            if (waitMs <= 0)
                break; // the send's budget is spent: on to the next send
            const int ready = waitReadable(socket, waitMs);
            if (ready == 0)
                break; // the wait has passed: on to the next send
            if (ready < 0) {
                link().showError(QStringLiteral("select failed: %1").arg(errno));
                return -1;
            }

            uint8_t datagram[kDiscoveryReplyMax];
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            // MSG_TRUNC gives the datagram's whole length: a reply longer
            // than the buffer is a failed receive, not one to read in part.
            const ssize_t received = ::recvfrom(socket, datagram, sizeof datagram, MSG_TRUNC,
                                                reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (received <= 0 || static_cast<size_t>(received) > sizeof datagram
                || !parseReply(datagram, static_cast<size_t>(received), record_))
                continue; // ignored, and counted as one of the replies read
            formatIpv4(from.sin_addr.s_addr, record_.ipText);
            holdReply(record_);
            if (!broadcast && noteAnswer(from.sin_addr.s_addr))
                return 0;
        }
    }
    return 0;
}

} // namespace tvx
