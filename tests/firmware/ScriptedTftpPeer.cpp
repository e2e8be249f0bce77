#include "ScriptedTftpPeer.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>

#include <map>

namespace tvx::test {

namespace {
UniqueFd boundSocket(uint32_t address = INADDR_LOOPBACK)
{
    UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(address);
    ::bind(fd.get(), reinterpret_cast<sockaddr*>(&a), sizeof a);
    return fd;
}
} // namespace

ScriptedTftpPeer::ScriptedTftpPeer()
    : server_(boundSocket()), transfer_(boundSocket()), foreign_(boundSocket()),
      otherHost_(boundSocket(0x7F000002)), requestAnswer_(optionAck())
{
    script_ = [](uint16_t block, int) { return QList<Reply>{{ack(block)}}; };
}

ScriptedTftpPeer::~ScriptedTftpPeer()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
}

uint16_t ScriptedTftpPeer::port(const UniqueFd& fd)
{
    sockaddr_in a{};
    socklen_t n = sizeof a;
    ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&a), &n);
    return ntohs(a.sin_port);
}

QByteArray ScriptedTftpPeer::ack(uint16_t block)
{
    const char b[4] = {0, 4, char(block >> 8), char(block & 0xFF)};
    return QByteArray(b, 4);
}

QByteArray ScriptedTftpPeer::optionAck()
{
    return QByteArray("\x00\x06"
                      "blksize\0"
                      "1024\0",
                      15);
}

void ScriptedTftpPeer::start()
{
    thread_ = std::thread([this] { run(); });
}

void ScriptedTftpPeer::finish(int idleMs)
{
    idleMs_ = idleMs;
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
}

void ScriptedTftpPeer::sendFrom(const UniqueFd& fd, const QByteArray& bytes, const sockaddr_in& to)
{
    ::sendto(fd.get(), bytes.constData(), static_cast<size_t>(bytes.size()), 0,
             reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

void ScriptedTftpPeer::run()
{
    std::map<uint16_t, int> attempts;
    int idle = 0;
    while (!(stop_ && idle >= idleMs_)) {
        pollfd p[2] = {{server_.get(), POLLIN, 0}, {transfer_.get(), POLLIN, 0}};
        if (::poll(p, 2, 20) <= 0) {
            idle += 20;
            continue;
        }
        idle = 0;
        for (int i = 0; i < 2; ++i) {
            if (!(p[i].revents & POLLIN))
                continue;
            char buf[2048];
            sockaddr_in from{};
            socklen_t n = sizeof from;
            const ssize_t got =
                ::recvfrom(p[i].fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &n);
            if (got < 0)
                continue;
            const QByteArray bytes(buf, static_cast<int>(got));
            if (i == 0) {
                std::lock_guard g(lock_);
                if (bytes.startsWith(QByteArray("\x00\x02", 2)))
                    requests_.append(bytes);
                else
                    ++stray_;
            }
            if (i == 0 && bytes.startsWith(QByteArray("\x00\x02", 2))) {
                if (!requestAnswer_.isEmpty())
                    sendFrom(otherAddress_ ? otherHost_ : transfer_, requestAnswer_, from);
                continue;
            }
            if (i == 1 && bytes.size() >= 4) {
                const uint16_t block = uint16_t((uint8_t(bytes[2]) << 8) | uint8_t(bytes[3]));
                {
                    std::lock_guard g(lock_);
                    data_.append(bytes);
                }
                for (const Reply& r : script_(block, attempts[block]++))
                    sendFrom(r.foreign ? foreign_ : transfer_, r.bytes, from);
            }
        }
    }
}

QList<QByteArray> ScriptedTftpPeer::requests() const
{
    std::lock_guard g(lock_);
    return requests_;
}

QList<QByteArray> ScriptedTftpPeer::dataPackets() const
{
    std::lock_guard g(lock_);
    return data_;
}

int ScriptedTftpPeer::strayOnServerPort() const
{
    std::lock_guard g(lock_);
    return stray_;
}

QByteArray ScriptedTftpPeer::image() const
{
    std::lock_guard g(lock_);
    QByteArray out;
    int last = -1;
    for (const QByteArray& d : data_) {
        const int block = (uint8_t(d[2]) << 8) | uint8_t(d[3]);
        if (block == last)
            continue;
        out += d.mid(4);
        last = block;
    }
    return out;
}

} // namespace tvx::test
