// The serial port bridge against the data port it relays to: a byte's round trip and a stream
// both ways, once through the terminal a running `tarvanix-cli tty` made and once directly over
// TCP to the same echoing port. The difference is what the bridge adds.
//
//   tarvanix-bench-tty --link PATH --direct IP:PORT [--rounds N] [--bytes B]
// prints "tty rtt_direct_us=... rtt_direct_p99_us=... rtt_tty_us=... rtt_tty_p99_us=...
// added_us=... direct_mb_s=... tty_mb_s=... intact=0|1": round trips of one byte (N of them,
// median and p99), then B bytes written as fast as they are taken while the echo is read back
// (MB/s of each direction; intact: every byte came back in order).
#include "BenchStats.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "tarvanix-bench-tty: %s: %s\n", what, std::strerror(errno));
    std::exit(1);
}

int openTerminal(const char* path)
{
    const int fd = ::open(path, O_RDWR | O_NOCTTY);
    if (fd < 0)
        fail(path);
    termios raw{};
    ::tcgetattr(fd, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(fd, TCSANOW, &raw);
    return fd;
}

int connectTo(const std::string& endpoint)
{
    const auto colon = endpoint.rfind(':');
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(std::atoi(endpoint.c_str() + colon + 1)));
    if (colon == std::string::npos
        || inet_pton(AF_INET, endpoint.substr(0, colon).c_str(), &to.sin_addr) != 1) {
        std::fprintf(stderr, "tarvanix-bench-tty: --direct takes IP:PORT\n");
        std::exit(2);
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0)
        fail("connect");
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return fd;
}

// Microseconds of each of `rounds` one-byte round trips.
std::vector<double> roundTrips(int fd, int rounds)
{
    std::vector<double> us;
    us.reserve(static_cast<size_t>(rounds));
    for (int i = 0; i < rounds; ++i) {
        const char out = static_cast<char>(i);
        char in = 0;
        const auto t0 = Clock::now();
        if (::write(fd, &out, 1) != 1 || ::read(fd, &in, 1) != 1)
            fail("round trip");
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
        if (in != out) {
            std::fprintf(stderr, "tarvanix-bench-tty: round trip %d came back changed\n", i);
            std::exit(1);
        }
    }
    return us;
}

// Writes `bytes` while reading the echo; MB/s of one direction. `intact`: all came back as sent.
double stream(int fd, long bytes, bool& intact)
{
    std::vector<char> sent(static_cast<size_t>(bytes));
    for (long i = 0; i < bytes; ++i)
        sent[static_cast<size_t>(i)] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    std::vector<char> back;
    back.reserve(sent.size());
    const int flags = ::fcntl(fd, F_GETFL, 0);
    ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    long written = 0;
    const auto t0 = Clock::now();
    while (static_cast<long>(back.size()) < bytes) {
        pollfd p{fd, static_cast<short>(POLLIN | (written < bytes ? POLLOUT : 0)), 0};
        if (::poll(&p, 1, 5000) <= 0)
            break;
        if (p.revents & POLLOUT) {
            const ssize_t n = ::write(fd, sent.data() + written,
                                      static_cast<size_t>(std::min(65536L, bytes - written)));
            if (n > 0)
                written += n;
        }
        if (p.revents & POLLIN) {
            char buffer[65536];
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n > 0)
                back.insert(back.end(), buffer, buffer + n);
        }
    }
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    ::fcntl(fd, F_SETFL, flags);
    intact = back == sent;
    return static_cast<double>(back.size()) / s / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    std::string link, direct;
    int rounds = 2000;
    long bytes = 16L * 1024 * 1024;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--link")
            link = argv[i + 1];
        else if (a == "--direct")
            direct = argv[i + 1];
        else if (a == "--rounds")
            rounds = std::atoi(argv[i + 1]);
        else if (a == "--bytes")
            bytes = std::atol(argv[i + 1]);
    }
    if (link.empty() || direct.empty() || rounds < 1 || bytes < 1) {
        std::fprintf(stderr,
                     "usage: tarvanix-bench-tty --link PATH --direct IP:PORT "
                     "[--rounds N] [--bytes B]\n");
        return 2;
    }
    const int terminal = openTerminal(link.c_str());
    const int socket = connectTo(direct);
    // Both paths warm first, then side by side in the same order every time.
    roundTrips(socket, 100);
    roundTrips(terminal, 100);
    const std::vector<double> directUs = roundTrips(socket, rounds);
    const std::vector<double> ttyUs = roundTrips(terminal, rounds);
    bool directIntact = false, ttyIntact = false;
    const double directMb = stream(socket, bytes, directIntact);
    const double ttyMb = stream(terminal, bytes, ttyIntact);
    using tvx::bench::median;
    using tvx::bench::quantile;
    std::printf("tty rtt_direct_us=%.1f rtt_direct_p99_us=%.1f rtt_tty_us=%.1f rtt_tty_p99_us=%.1f "
                "added_us=%.1f direct_mb_s=%.1f tty_mb_s=%.1f intact=%d\n",
                median(directUs), quantile(directUs, 0.99), median(ttyUs), quantile(ttyUs, 0.99),
                median(ttyUs) - median(directUs), directMb, ttyMb,
                directIntact && ttyIntact ? 1 : 0);
    ::close(socket);
    ::close(terminal);
    return 0;
}
