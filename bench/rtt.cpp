// The loopback stop-and-wait limit: a 1028-byte datagram (a data block of
// 1024 bytes with its header) goes to a second process, which answers with a
// 4-byte acknowledgement; the next goes only after the answer is in. No poll,
// no file, no progress: the least any sender of such a transfer pays per block.
//
//   tarvanix-bench-rtt [--blocks N]
// prints "rtt_median_us=... rtt_p99_us=... limit_ms=... sum_ms=..." where
// limit_ms is the median round trip times N and sum_ms the N round trips as run.
//
//   tarvanix-bench-rtt --tftp PORT --size BYTES
// is the same bare sender against a simulated module on 127.0.0.1:PORT (armed
// beforehand): the write request, then BYTES of zeros after the 55 AA F1 the
// module wants, in 1024-byte blocks with blocking calls. It shows what the
// module's own side costs per block; prints "bare_ms=...".
#include "BenchStats.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

int boundSocket(sockaddr_in& address)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
        || ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::perror("socket");
        std::exit(1);
    }
    return fd;
}

} // namespace

int bareTransfer(uint16_t port, long size)
{
    sockaddr_in own;
    const int fd = boundSocket(own);
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(port);
    server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval wait{2, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);

    char request[100];
    const int n =
        std::snprintf(request, sizeof request, "%c%cfw.aff%coctet%cblksize=1024%ctsize%c%ld", 0, 2,
                      0, 0, 0, 0, size);
    unsigned char answer[100];
    sockaddr_in peer{};
    socklen_t peerLength = sizeof peer;
    const auto start = std::chrono::steady_clock::now();
    ::sendto(fd, request, static_cast<size_t>(n) + 1, 0, reinterpret_cast<sockaddr*>(&server),
             sizeof server);
    if (::recvfrom(fd, answer, sizeof answer, 0, reinterpret_cast<sockaddr*>(&peer), &peerLength)
            < 2
        || answer[1] != 6)
        return 1;
    unsigned char packet[1028] = {0, 3};
    long sent = 0;
    for (unsigned block = 1;; ++block) {
        const long payload = std::min<long>(1024, size - sent);
        std::memset(packet + 4, 0, 1024);
        if (sent == 0) {
            packet[4] = 0x55;
            packet[5] = 0xAA;
            packet[6] = 0xF1;
        }
        packet[2] = static_cast<unsigned char>(block >> 8);
        packet[3] = static_cast<unsigned char>(block);
        ::sendto(fd, packet, 4 + static_cast<size_t>(payload), 0,
                 reinterpret_cast<sockaddr*>(&peer), sizeof peer);
        if (::recv(fd, answer, sizeof answer, 0) != 4 || answer[1] != 4 || answer[3] != packet[3])
            return 1;
        sent += payload;
        if (payload < 1024)
            break;
    }
    const auto end = std::chrono::steady_clock::now();
    std::printf("bare_ms=%.2f\n", std::chrono::duration<double, std::milli>(end - start).count());
    return 0;
}

int main(int argc, char** argv)
{
    long blocks = 4097;
    long size = -1;
    long port = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--blocks") == 0 && i + 1 < argc)
            blocks = std::atol(argv[++i]);
        else if (std::strcmp(argv[i], "--tftp") == 0 && i + 1 < argc)
            port = std::atol(argv[++i]);
        else if (std::strcmp(argv[i], "--size") == 0 && i + 1 < argc)
            size = std::atol(argv[++i]);
    }
    if (port > 0)
        return size > 0 ? bareTransfer(static_cast<uint16_t>(port), size) : 2;
    if (blocks < 1)
        return 2;

    sockaddr_in echoAddress, senderAddress;
    const int echoFd = boundSocket(echoAddress);
    const int senderFd = boundSocket(senderAddress);

    const pid_t child = ::fork();
    if (child == 0) {
        ::close(senderFd);
        unsigned char buffer[2048];
        for (long n = 0; n < blocks + 1; ++n) {
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            const ssize_t got = ::recvfrom(echoFd, buffer, sizeof buffer, 0,
                                           reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (got < 4)
                _exit(1);
            const unsigned char ack[4] = {0, 4, buffer[2], buffer[3]};
            ::sendto(echoFd, ack, sizeof ack, 0, reinterpret_cast<sockaddr*>(&from), fromLength);
        }
        _exit(0);
    }
    ::close(echoFd);

    unsigned char packet[1028];
    std::memset(packet, 0xA5, sizeof packet);
    packet[0] = 0;
    packet[1] = 3;
    unsigned char answer[100];
    std::vector<double> rtts;
    rtts.reserve(static_cast<size_t>(blocks));
    using Clock = std::chrono::steady_clock;
    // One exchange before the clock starts: the first pays for waking the peer.
    for (long n = 0; n <= blocks; ++n) {
        packet[2] = static_cast<unsigned char>(n >> 8);
        packet[3] = static_cast<unsigned char>(n);
        const auto start = Clock::now();
        ::sendto(senderFd, packet, sizeof packet, 0, reinterpret_cast<sockaddr*>(&echoAddress),
                 sizeof echoAddress);
        const ssize_t got = ::recv(senderFd, answer, sizeof answer, 0);
        const auto end = Clock::now();
        if (got != 4 || answer[2] != packet[2] || answer[3] != packet[3]) {
            std::fprintf(stderr, "bad acknowledgement\n");
            return 1;
        }
        if (n > 0)
            rtts.push_back(std::chrono::duration<double, std::micro>(end - start).count());
    }
    int status = 0;
    ::waitpid(child, &status, 0);

    double sum = 0;
    for (double r : rtts)
        sum += r;
    const double med = tvx::bench::median(rtts);
    std::printf("rtt_median_us=%.2f rtt_p99_us=%.2f limit_ms=%.2f sum_ms=%.2f\n", med,
                tvx::bench::quantile(rtts, 0.99), med * static_cast<double>(blocks) / 1000.0,
                sum / 1000.0);
    return 0;
}
