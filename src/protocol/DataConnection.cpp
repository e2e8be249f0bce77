#include "protocol/DataConnection.h"

#include "net/Ipv4.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace tvx {

namespace {
// A module that vanished without a word (power cut, cable) is noticed within
// about 25 s, also while nothing is sent.
constexpr int kKeepIdleS = 10;
constexpr int kKeepIntervalS = 5;
constexpr int kKeepCount = 3;

void setOption(int fd, int level, int name, int value)
{
    ::setsockopt(fd, level, name, &value, sizeof value);
}
} // namespace

DataConnection::DataConnection(HostNetwork& net, const char* ipText, const char* macText,
                               uint16_t port)
    : net_(net), port_(port)
{
    address_ = parseIpv4(ipText, false);
    macTextToBytes(macText, mac_);
    char ip[16];
    formatIpv4(address_, ip);
    std::snprintf(endpoint_, sizeof endpoint_, "%s:%u", ip, static_cast<unsigned>(port_));
}

DataConnection::~DataConnection()
{
    close();
}

int DataConnection::attempt(const Wait& wait)
{
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP));
    if (!fd) {
        lastError_ = errno;
        return -1;
    }
    // A byte typed at the terminal goes out at once, not with the next one.
    setOption(fd.get(), IPPROTO_TCP, TCP_NODELAY, 1);
    setOption(fd.get(), SOL_SOCKET, SO_KEEPALIVE, 1);
    setOption(fd.get(), IPPROTO_TCP, TCP_KEEPIDLE, kKeepIdleS);
    setOption(fd.get(), IPPROTO_TCP, TCP_KEEPINTVL, kKeepIntervalS);
    setOption(fd.get(), IPPROTO_TCP, TCP_KEEPCNT, kKeepCount);

    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port_);
    to.sin_addr.s_addr = address_;
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
        if (errno != EINPROGRESS) {
            lastError_ = errno;
            return -1;
        }
        const int ready = wait(fd.get(), kConnectTimeoutMs);
        if (ready < 0)
            return -2;
        if (ready == 0) {
            lastError_ = ETIMEDOUT;
            return -1;
        }
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0)
            error = errno;
        if (error != 0) {
            lastError_ = error;
            return -1;
        }
    }
    socket_ = std::move(fd);
    return 0;
}

int DataConnection::open(const Wait& wait)
{
    close();
    if (address_ == 0 || address_ == kInaddrNone) {
        lastError_ = EDESTADDRREQ;
        return -1;
    }
    lock_ = net_.lockModule(address_, mac_);
    // What is said when no path could even be tried (no entry could be pinned).
    lastError_ = EHOSTUNREACH;
    LocalAddressTable local;
    net_.refreshLocalAddresses(&local);

    // At an address several modules answer, a direct connection reaches
    // whichever answers ARP first; only the pinned entry reaches this one.
    if (!net_.addressIsShared(address_)) {
        const int direct = attempt(wait);
        if (direct != -1) {
            if (direct == -2)
                lock_ = {};
            return direct;
        }
    }
    for (int k = 0; k < local.count; ++k) {
        if (net_.addArpEntry(address_, mac_, local.ifIndexes[k]) != 0)
            continue;
        pinned_ = true;
        if (net_.addHostRoute(address_, local.addresses[k], local.ifIndexes[k]) == 0) {
            const int result = attempt(wait);
            if (result == 0)
                return 0;
            net_.deleteHostRoute(address_);
            if (result == -2) {
                unpin();
                lock_ = {};
                return -2;
            }
        }
        unpin();
    }
    lock_ = {};
    return -1;
}

void DataConnection::unpin()
{
    if (pinned_)
        net_.deleteArpEntries(mac_);
    pinned_ = false;
}

void DataConnection::close()
{
    socket_.reset();
    if (pinned_)
        net_.deleteHostRoute(address_);
    unpin();
    lock_ = {};
}

} // namespace tvx
