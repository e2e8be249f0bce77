#include "firmware/FirmwareTransfer.h"

#include "firmware/FirmwareImage.h"
#include "firmware/TftpWrite.h"
#include "firmware/UpgradeCodes.h"
#include "handover/WorkerLink.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

namespace tvx {

namespace {
int64_t nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}
} // namespace

FirmwareTransfer::FirmwareTransfer(WorkerLink& link, TransferTimings timings)
    : link_(link), timings_(timings),
      pacer_(link, 10, std::chrono::milliseconds(timings.progressIntervalMs))
{}

bool FirmwareTransfer::pauseUnlessStopped(int ms)
{
    // The pause itself ends early on a cancel, so that the clean-up (and the
    // removal of a temporary ARP entry and route) does not wait for it.
    const int64_t end = nowMs() + ms;
    while (!link_.stopRequested()) {
        const int64_t left = end - nowMs();
        if (left <= 0)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min<int64_t>(left, 50)));
    }
    return false;
}

FirmwareTransfer::Wait FirmwareTransfer::waitReadable(int64_t deadlineMs)
{
    for (;;) {
        const int64_t left = deadlineMs - nowMs();
        if (left <= 0)
            return Wait::Timeout;
        int slice = static_cast<int>(left);
        if (pacer_.pending())
            slice = std::min(slice, timings_.progressIntervalMs);
        pollfd p{socket_.get(), POLLIN, 0};
        const int r = ::poll(&p, 1, slice);
        if (r > 0)
            return (p.revents & POLLIN) ? Wait::Readable : Wait::Failed;
        if (r == 0) {
            if (pacer_.pending())
                pacer_.flush();
            continue;
        }
        if (errno != EINTR)
            return Wait::Failed;
    }
}

ssize_t FirmwareTransfer::receiveFrom(const sockaddr_in& expected, int64_t deadlineMs, uint8_t* out,
                                      sockaddr_in* sender, Wait& wait)
{
    for (;;) {
        wait = waitReadable(deadlineMs);
        if (wait != Wait::Readable)
            return -1;
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t n = ::recvfrom(socket_.get(), out, kReceiveRoom, 0,
                                     reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n < 0)
            return -1;
        // A datagram from anyone else on the network is not an answer of this
        // module: it must neither redirect the image nor acknowledge a block.
        // It is dropped and the wait goes on.
        if (from.sin_addr.s_addr != expected.sin_addr.s_addr)
            continue;
        if (sender)
            *sender = from;
        return n;
    }
}

int FirmwareTransfer::requestWrite(uint32_t deviceAddress, uint16_t serverPort,
                                   std::string_view fileName, int64_t fileSize)
{
    socket_.reset(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!socket_) {
        link_.appendLog(QStringLiteral("socket failed: %1").arg(errno));
        return UpgradeRequestFailed;
    }
    uint8_t request[kRequestRoom];
    const size_t length = buildWriteRequest(fileName, fileSize, request);
    if (length == 0)
        return UpgradeRequestFailed;

    link_.setMessage(QStringLiteral("send request..."));
    if (!pauseUnlessStopped(timings_.requestPauseMs))
        return UpgradeStopped;

    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(serverPort);
    server.sin_addr.s_addr = deviceAddress;

    uint8_t answer[kReceiveRoom];
    for (int send = 0; send < timings_.requestSends; ++send) {
        if (link_.stopRequested())
            return UpgradeStopped;
        link_.stepBy(50);
        ::sendto(socket_.get(), request, length, 0, reinterpret_cast<const sockaddr*>(&server),
                 sizeof server);
        Wait wait;
        sockaddr_in sender{};
        const ssize_t n =
            receiveFrom(server, nowMs() + timings_.answerWaitMs, answer, &sender, wait);
        if (wait == Wait::Timeout)
            continue;
        if (wait == Wait::Failed || n <= 0 || !isOptionAck(answer, static_cast<size_t>(n)))
            return UpgradeRequestFailed;
        // The module answers from a port of its own; the data goes there.
        peer_ = sender;
        return UpgradeDone;
    }
    return UpgradeRequestFailed;
}

int FirmwareTransfer::sendImage(int fd, int64_t fileSize)
{
    const int64_t wholeBlocks = std::max<int64_t>(1, fileSize / int64_t(kBlockSize));
    int64_t start = link_.barMaximum() / wholeBlocks;
    if (start == 0)
        start = 10;
    link_.setPosition(static_cast<int>(start));

    const auto ending = [this](int code) {
        pacer_.flush();
        return code;
    };

    uint8_t packet[kDataHeader + kBlockSize];
    uint8_t answer[kReceiveRoom];
    int64_t remaining = fileSize;
    uint32_t block = 1;
    for (bool last = false; !last; ++block) {
        if (link_.stopRequested())
            return ending(UpgradeStopped);
        putDataHeader(block, packet);
        const size_t wanted = static_cast<size_t>(std::min<int64_t>(remaining, kBlockSize));
        const ssize_t got = readFully(fd, packet + kDataHeader, wanted);
        if (got < 0 || static_cast<size_t>(got) < wanted) {
            // A file that fails to read, or ends before the size announced in
            // the request, would leave a corrupt image in the module.
            link_.appendLog(got < 0 ? QStringLiteral("read file failed: %1").arg(errno)
                                    : QStringLiteral("read file failed: file changed"));
            return ending(UpgradeReadFailed);
        }
        remaining -= got;
        last = static_cast<size_t>(got) < kBlockSize;

        bool acknowledged = false;
        for (int send = 0; send < timings_.blockSends && !acknowledged; ++send) {
            if (link_.stopRequested())
                return ending(UpgradeStopped);
            pacer_.setMessage(QStringLiteral("send packet %1").arg(block));
            pacer_.stepIt();
            ::sendto(socket_.get(), packet, kDataHeader + static_cast<size_t>(got), 0,
                     reinterpret_cast<const sockaddr*>(&peer_), sizeof peer_);
            Wait wait;
            // From the module's address, whatever its port: a module may
            // acknowledge from another port than the one that answered the
            // request. Another host's datagram is still no acknowledgement.
            const ssize_t n =
                receiveFrom(peer_, nowMs() + timings_.answerWaitMs, answer, nullptr, wait);
            if (wait == Wait::Timeout)
                continue;
            // A stale acknowledgement (the previous block's) fails as well:
            // stop-and-wait has no way to tell it from a confused module.
            if (wait == Wait::Failed || n <= 0 || !isAckFor(answer, static_cast<size_t>(n), block))
                return ending(UpgradeBlockFailed);
            acknowledged = true;
        }
        if (!acknowledged)
            return ending(UpgradeBlockFailed);
    }
    return ending(UpgradeDone);
}

} // namespace tvx
