#include "Module.h"

#include "DiscoveryReply.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <net/route.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>

namespace tvx::sim {

namespace {

std::string endpoint(const sockaddr_in& a)
{
    char buf[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &a.sin_addr, buf, sizeof buf);
    return std::string(buf) + ":" + std::to_string(ntohs(a.sin_port));
}

std::string errnoText(const char* what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

} // namespace

Module::Module(EventLoop& loop, ModuleConfig config, Ports ports, const std::string& transcriptPath)
    : loop_(loop), config_(std::move(config)), ports_(ports), transcript_(transcriptPath)
{
    if (config_.bindAddress.empty() && config_.interfaceName.empty())
        config_.bindAddress = config_.settings["lanIp"];
    appliedAddress_ = config_.settings["lanIp"] + "/" + config_.settings["lanMask"];
}

Module::~Module()
{
    for (int fd : {discovery_.get(), listener_.get(), tftp_.get()}) {
        if (fd >= 0)
            loop_.unwatch(fd);
    }
    for (auto& [fd, c] : connections_)
        loop_.unwatch(fd);
    closeDataLinks("end");
    closeDataPort();
    loop_.cancel(dataRefuseTimer_);
    if (transfer_) {
        loop_.unwatch(transfer_->fd.get());
        loop_.cancel(transfer_->idleTimer);
    }
    loop_.cancel(armTimer_);
    loop_.cancel(upTimer_);
    loop_.cancel(floodTimer_);
}

Fd Module::openUdp(std::uint16_t port, std::string* error)
{
    Fd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.valid()) {
        *error = errnoText("socket");
        return fd;
    }
    const int on = 1;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    ::setsockopt(fd.get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    if (!config_.interfaceName.empty()
        && ::setsockopt(fd.get(), SOL_SOCKET, SO_BINDTODEVICE, config_.interfaceName.c_str(),
                        static_cast<socklen_t>(config_.interfaceName.size()))
            != 0) {
        *error = errnoText(("SO_BINDTODEVICE " + config_.interfaceName).c_str());
        return Fd();
    }
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    if (!config_.bindAddress.empty()
        && inet_pton(AF_INET, config_.bindAddress.c_str(), &a.sin_addr) != 1) {
        *error = "bad bind address " + config_.bindAddress;
        return Fd();
    }
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        *error = errnoText(("bind udp " + endpoint(a)).c_str());
        return Fd();
    }
    return fd;
}

bool Module::openListener(std::string* error)
{
    if (listener_.valid() || config_.faults.has("noaccept"))
        return true;
    Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.valid()) {
        *error = errnoText("socket");
        return false;
    }
    const int on = 1;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (!config_.interfaceName.empty())
        ::setsockopt(fd.get(), SOL_SOCKET, SO_BINDTODEVICE, config_.interfaceName.c_str(),
                     static_cast<socklen_t>(config_.interfaceName.size()));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(ports_.command);
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    if (!config_.bindAddress.empty())
        inet_pton(AF_INET, config_.bindAddress.c_str(), &a.sin_addr);
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        *error = errnoText(("bind tcp " + endpoint(a)).c_str());
        return false;
    }
    if (::listen(fd.get(), 16) != 0) {
        *error = errnoText("listen");
        return false;
    }
    listener_ = std::move(fd);
    loop_.watch(listener_.get(), [this] { onAccept(); });
    return true;
}

bool Module::start(std::string* error)
{
    discovery_ = openUdp(ports_.discovery, error);
    if (!discovery_.valid())
        return false;
    tftp_ = openUdp(ports_.transfer, error);
    if (!tftp_.valid())
        return false;
    if (!openListener(error))
        return false;
    loop_.watch(discovery_.get(), [this] { onDiscovery(); });
    loop_.watch(tftp_.get(), [this] { onTransferRequest(); });
    transcript_.write(0, "mod", "note",
                      "up " + config_.settings["lanIp"] + " " + macText(config_.mac));
    openDataPort();
    return true;
}

std::string Module::describe() const
{
    std::string out;
    auto line = [&](const std::string& k, const std::string& v) { out += k + "=" + v + "\n"; };
    line("name", config_.name);
    line("mac", macText(config_.mac));
    line("state", up_ ? "up" : "down");
    line("armed", armed_ ? "1" : "0");
    line("address", appliedAddress_);
    line("restarts", std::to_string(restarts_));
    line("transfers", std::to_string(transfersDone_));
    line("lastTransfer", lastTransfer_);
    line("connections", std::to_string(connections_.size()));
    line("faults", config_.faults.describe());
    for (const auto& [k, v] : config_.settings)
        line("setting." + k, v);
    return out;
}

void Module::faultsChanged()
{
    if (config_.faults.has("noaccept")) {
        if (listener_.valid()) {
            loop_.unwatch(listener_.get());
            listener_.reset();
        }
    } else if (up_) {
        std::string error;
        if (!openListener(&error))
            transcript_.write(0, "mod", "note", error);
    }
}

// ---- restart -------------------------------------------------------------------------------

void Module::closeConnections(const char* reason)
{
    for (auto& [fd, c] : connections_) {
        loop_.unwatch(fd);
        transcript_.write(c.id, "tcp", "close", reason);
    }
    connections_.clear();
}

void Module::restart(const char* reason)
{
    transcript_.write(0, "mod", "note", std::string("restart after ") + reason);
    up_ = false;
    ++restarts_;
    closeConnections("restart");
    closeDataLinks("restart");
    closeDataPort();
    if (listener_.valid()) {
        loop_.unwatch(listener_.get());
        listener_.reset();
    }
    endTransfer("restart");
    armed_ = false;
    loop_.cancel(armTimer_);
    takeNewAddress();
    loop_.cancel(upTimer_);
    upTimer_ = loop_.after(config_.restartMs, [this] {
        upTimer_ = 0;
        up_ = true;
        std::string error;
        if (!openListener(&error))
            std::cerr << config_.name << ": " << error << "\n";
        transcript_.write(0, "mod", "note", "up " + config_.settings["lanIp"]);
        openDataPort();
    });
}

void Module::takeNewAddress()
{
    const std::string wanted = config_.settings["lanIp"] + "/" + config_.settings["lanMask"];
    if (config_.interfaceName.empty() || wanted == appliedAddress_)
        return;
    if (config_.settings["lanIpCfg"] != "0") {
        // No address server on the bed: a module switched to DHCP keeps the address it has.
        transcript_.write(0, "mod", "note", "dhcp: keeping " + appliedAddress_);
        return;
    }
    Fd s(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    ifreq r{};
    std::strncpy(r.ifr_name, config_.interfaceName.c_str(), IFNAMSIZ - 1);
    auto setAddr = [&](unsigned long request, const std::string& text) {
        auto* sin = reinterpret_cast<sockaddr_in*>(&r.ifr_addr);
        sin->sin_family = AF_INET;
        inet_pton(AF_INET, text.c_str(), &sin->sin_addr);
        return ::ioctl(s.get(), request, &r) == 0;
    };
    std::uint32_t ip = 0, mask = 0;
    parseDotted(config_.settings["lanIp"], ip);
    parseDotted(config_.settings["lanMask"], mask);
    const std::uint32_t bcast = ip | ~mask;
    char bText[16];
    std::snprintf(bText, sizeof bText, "%u.%u.%u.%u", bcast >> 24, (bcast >> 16) & 255,
                  (bcast >> 8) & 255, bcast & 255);
    if (!setAddr(SIOCSIFADDR, config_.settings["lanIp"])
        || !setAddr(SIOCSIFNETMASK, config_.settings["lanMask"])
        || !setAddr(SIOCSIFBRDADDR, bText)) {
        transcript_.write(0, "mod", "note", errnoText("address change failed"));
        return;
    }
    appliedAddress_ = wanted;
    transcript_.write(0, "mod", "note", "address " + wanted);

    // Replacing the only address flushes the link's routes; the module's own default route
    // (which lets it answer hosts outside its subnet) has to be put back.
    if (config_.routeMetric > 0) {
        rtentry rt{};
        auto* dst = reinterpret_cast<sockaddr_in*>(&rt.rt_dst);
        auto* gm = reinterpret_cast<sockaddr_in*>(&rt.rt_genmask);
        dst->sin_family = AF_INET;
        gm->sin_family = AF_INET;
        rt.rt_flags = RTF_UP;
        rt.rt_metric = static_cast<short>(config_.routeMetric + 1);
        char dev[IFNAMSIZ] = {};
        std::strncpy(dev, config_.interfaceName.c_str(), IFNAMSIZ - 1);
        rt.rt_dev = dev;
        if (::ioctl(s.get(), SIOCADDRT, &rt) != 0 && errno != EEXIST)
            transcript_.write(0, "mod", "note", errnoText("default route"));
    }
}

// ---- discovery -----------------------------------------------------------------------------

void Module::onDiscovery()
{
    std::uint8_t buf[1500];
    sockaddr_in from{};
    socklen_t fromLen = sizeof from;
    const ssize_t n = ::recvfrom(discovery_.get(), buf, sizeof buf, 0,
                                 reinterpret_cast<sockaddr*>(&from), &fromLen);
    if (n < 0)
        return;
    const int id = transcript_.newExchange();
    transcript_.write(id, "disc", "open", endpoint(from));
    transcript_.bytes(id, "disc", "recv", buf, static_cast<std::size_t>(n));
    if (!up_) {
        transcript_.write(id, "disc", "close", "restarting");
        return;
    }
    if (!isDiscoveryRequest(buf, static_cast<std::size_t>(n))) {
        transcript_.write(id, "disc", "close", "not a discovery request");
        return;
    }
    if (config_.faults.has("disc-silent")) {
        transcript_.write(id, "disc", "close", "silent (fault)");
        return;
    }

    auto reply = std::make_shared<std::vector<std::uint8_t>>(
        encodeDiscoveryReply(discoveryInfo(config_), config_.faults));
    sockaddr_in to = from;
    if (config_.faults.has("disc-bcast"))
        to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    const long copies =
        config_.faults.has("disc-dup") ? config_.faults.number("disc-dup", "", 2) : 1;

    auto send = [this, id, reply, to, copies] {
        for (long i = 0; i < copies; ++i) {
            const ssize_t sent = ::sendto(discovery_.get(), reply->data(), reply->size(), 0,
                                          reinterpret_cast<const sockaddr*>(&to), sizeof to);
            if (sent < 0)
                transcript_.write(id, "disc", "note",
                                  errnoText(("sendto " + endpoint(to)).c_str()));
            else
                transcript_.bytes(id, "disc", "send", reply->data(), reply->size());
        }
        transcript_.write(id, "disc", "close", "to " + endpoint(to));
    };
    const long delay = config_.faults.number("disc-delay", "", 0);
    if (delay > 0)
        loop_.after(static_cast<int>(delay), send);
    else
        send();

    if (config_.faults.has("disc-flood")) {
        // Each request keeps the flood going for another 30 s.
        floodTo_ = to;
        floodUntil_ = EventLoop::Clock::now() + std::chrono::seconds(30);
        if (!floodTimer_) {
            transcript_.write(id, "disc", "note", "flooding " + endpoint(to) + " (fault)");
            floodTick();
        }
    }
}

void Module::floodTick()
{
    floodTimer_ = 0;
    if (!up_ || !config_.faults.has("disc-flood") || EventLoop::Clock::now() >= floodUntil_)
        return;
    // A reply that is no reply at all: its first byte is not AA.
    std::vector<std::uint8_t> junk = encodeDiscoveryReply(discoveryInfo(config_), config_.faults);
    junk[0] = 0xAB;
    ::sendto(discovery_.get(), junk.data(), junk.size(), 0,
             reinterpret_cast<const sockaddr*>(&floodTo_), sizeof floodTo_);
    const long every = std::max(1L, config_.faults.number("disc-flood", "", 20));
    floodTimer_ = loop_.after(static_cast<int>(every), [this] { floodTick(); });
}

// ---- command protocol ----------------------------------------------------------------------

void Module::onAccept()
{
    sockaddr_in from{};
    socklen_t len = sizeof from;
    Fd fd(::accept4(listener_.get(), reinterpret_cast<sockaddr*>(&from), &len,
                    SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (!fd.valid())
        return;
    const int on = 1;
    // Each reply goes out as it is written, so a split reply really is two segments.
    ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    Connection c;
    c.id = transcript_.newExchange();
    c.session = std::make_unique<CommandSession>(config_.settings, config_.faults,
                                                 config_.modelName, config_.modelCode);
    transcript_.write(c.id, "tcp", "open", endpoint(from));
    const int raw = fd.get();
    c.fd = std::move(fd);
    connections_.emplace(raw, std::move(c));
    loop_.watch(raw, [this, raw] { onConnectionData(raw); });
}

void Module::dropConnection(int fd, const char* reason)
{
    const auto it = connections_.find(fd);
    if (it == connections_.end())
        return;
    loop_.unwatch(fd);
    transcript_.write(it->second.id, "tcp", "close", reason);
    connections_.erase(it);
}

void Module::onConnectionData(int fd)
{
    auto it = connections_.find(fd);
    if (it == connections_.end())
        return;
    char buf[2048];
    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    if (n <= 0) {
        dropConnection(fd, n == 0 ? "peer closed" : "receive failed");
        return;
    }
    Connection& c = it->second;
    const int id = c.id;
    transcript_.bytes(id, "tcp", "recv", reinterpret_cast<std::uint8_t*>(buf),
                      static_cast<std::size_t>(n));
    c.input.append(buf, static_cast<std::size_t>(n));

    while (true) {
        it = connections_.find(fd);
        if (it == connections_.end() || it->second.id != id)
            return; // a command closed the connection or restarted the module
        std::string& input = it->second.input;
        // The upgrade and reboot lines carry a zero byte after their CR LF.
        const auto first = input.find_first_not_of('\0');
        input.erase(0, first == std::string::npos ? input.size() : first);
        const auto lf = input.find('\n');
        if (lf == std::string::npos) {
            if (input.size() > 1024)
                dropConnection(fd, "line too long");
            return;
        }
        std::string line = input.substr(0, lf);
        input.erase(0, lf + 1);
        CommandOutcome outcome;
        if (line.empty() || line.back() != '\r') {
            transcript_.write(id, "tcp", "note", "line without CR");
            outcome.reply = "%ERR\r\n";
        } else {
            line.pop_back();
            outcome = it->second.session->handle(line);
        }
        deliver(fd, id, outcome);
    }
}

void Module::sendOnConnection(int fd, int connectionId, const std::string& bytes)
{
    const auto it = connections_.find(fd);
    if (it == connections_.end() || it->second.id != connectionId)
        return;
    const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n < 0) {
        transcript_.write(connectionId, "tcp", "note", errnoText("send"));
        return;
    }
    transcript_.bytes(connectionId, "tcp", "send",
                      reinterpret_cast<const std::uint8_t*>(bytes.data()),
                      static_cast<std::size_t>(n));
}

void Module::deliver(int fd, int connectionId, const CommandOutcome& outcome)
{
    const Faults& f = config_.faults;
    const std::string& cmd = outcome.command;

    auto act = [this, fd, connectionId, action = outcome.action] {
        const auto it = connections_.find(fd);
        if (it == connections_.end() || it->second.id != connectionId)
            return;
        switch (action) {
        case CommandAction::ApplyAndRestart:
            transcript_.write(connectionId, "tcp", "note",
                              "applied " + std::to_string(it->second.session->apply())
                                  + " changes");
            restart("$SEI");
            break;
        case CommandAction::Restart:
            restart("$SER");
            break;
        case CommandAction::ArmTransfer:
            armed_ = true;
            loop_.cancel(armTimer_);
            armTimer_ = loop_.after(60000, [this] {
                armed_ = false;
                armTimer_ = 0;
            });
            transcript_.write(connectionId, "tcp", "note", "transfer armed");
            break;
        case CommandAction::Close:
            dropConnection(fd, "closed (fault)");
            break;
        case CommandAction::None:
            break;
        }
    };

    if (outcome.action == CommandAction::Close || f.has("noreply", cmd)) {
        if (outcome.action != CommandAction::Close)
            transcript_.write(connectionId, "tcp", "note", "no reply to " + cmd + " (fault)");
        act();
        return;
    }

    const std::string reply = outcome.reply;
    auto send = [this, fd, connectionId, reply, act, split = f.has("split", cmd),
                 gap = f.number("split", cmd, 300)] {
        if (!split) {
            sendOnConnection(fd, connectionId, reply);
            act();
            return;
        }
        const std::size_t half = reply.size() / 2;
        sendOnConnection(fd, connectionId, reply.substr(0, half));
        loop_.after(static_cast<int>(gap),
                    [this, fd, connectionId, rest = reply.substr(half), act] {
                        sendOnConnection(fd, connectionId, rest);
                        act();
                    });
    };
    if (f.has("delay", cmd))
        loop_.after(static_cast<int>(f.number("delay", cmd, 3000)), send);
    else
        send();
}

// ---- data port -----------------------------------------------------------------------------

void Module::openDataPort()
{
    const std::string& mode = config_.settings["opmode"];
    const std::string& port = config_.settings["tcpslport"];
    if (!up_ || dataRefuseTimer_ || mode.compare(0, 2, "TS") != 0)
        return;
    if (dataListener_.valid() && port == dataPort_)
        return;
    closeDataPort();
    const long number = std::strtol(port.c_str(), nullptr, 10);
    if (number < 1 || number > 65535) {
        transcript_.write(0, "mod", "note", "no data port: tcpslport " + port);
        return;
    }
    Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    const int on = 1;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (!config_.interfaceName.empty())
        ::setsockopt(fd.get(), SOL_SOCKET, SO_BINDTODEVICE, config_.interfaceName.c_str(),
                     static_cast<socklen_t>(config_.interfaceName.size()));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(number));
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    if (!config_.bindAddress.empty())
        inet_pton(AF_INET, config_.bindAddress.c_str(), &a.sin_addr);
    // Several modules on one loopback address cannot all have the port: the others go without.
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0
        || ::listen(fd.get(), 4) != 0) {
        transcript_.write(0, "mod", "note", errnoText(("data port " + endpoint(a)).c_str()));
        return;
    }
    dataListener_ = std::move(fd);
    dataPort_ = port;
    loop_.watch(dataListener_.get(), [this] { onDataAccept(); });
}

void Module::closeDataPort()
{
    if (!dataListener_.valid())
        return;
    loop_.unwatch(dataListener_.get());
    dataListener_.reset();
    dataPort_.clear();
}

void Module::settingsChanged()
{
    if (config_.settings["opmode"].compare(0, 2, "TS") != 0) {
        closeDataLinks("no longer a TCP server");
        closeDataPort();
        return;
    }
    openDataPort();
}

void Module::dropDataConnections(int refuseMs)
{
    closeDataLinks("dropped (control)");
    if (refuseMs <= 0)
        return;
    closeDataPort();
    loop_.cancel(dataRefuseTimer_);
    dataRefuseTimer_ = loop_.after(refuseMs, [this] {
        dataRefuseTimer_ = 0;
        openDataPort();
    });
}

void Module::closeDataLinks(const char* reason)
{
    while (!dataLinks_.empty())
        dropDataLink(dataLinks_.begin()->first, reason);
}

void Module::dropDataLink(int fd, const std::string& reason)
{
    const auto it = dataLinks_.find(fd);
    if (it == dataLinks_.end())
        return;
    loop_.unwatch(fd);
    loop_.unwatchWritable(fd);
    transcript_.write(it->second.id, "data", "close",
                      reason + " (" + std::to_string(it->second.echoed) + " bytes echoed)");
    dataLinks_.erase(it);
}

void Module::onDataAccept()
{
    sockaddr_in from{};
    socklen_t len = sizeof from;
    Fd fd(::accept4(dataListener_.get(), reinterpret_cast<sockaddr*>(&from), &len,
                    SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (!fd.valid())
        return;
    const int on = 1;
    ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    DataLink link;
    link.id = transcript_.newExchange();
    // Bytes are counted, not written down: a transcript of every byte would be larger than the
    // traffic and slow the echo.
    transcript_.write(link.id, "data", "open", endpoint(from));
    const int raw = fd.get();
    link.fd = std::move(fd);
    dataLinks_.emplace(raw, std::move(link));
    loop_.watch(raw, [this, raw] { onDataReadable(raw); });
}

void Module::onDataReadable(int fd)
{
    // The echo waits for the sender rather than growing without bound.
    constexpr std::size_t kMaxPending = 256 * 1024;
    const auto it = dataLinks_.find(fd);
    if (it == dataLinks_.end())
        return;
    char buf[65536];
    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    if (n <= 0) {
        dropDataLink(fd, n == 0 ? "peer closed" : errnoText("receive"));
        return;
    }
    it->second.out.append(buf, static_cast<std::size_t>(n));
    flushData(fd);
    const auto again = dataLinks_.find(fd);
    if (again != dataLinks_.end() && again->second.out.size() > kMaxPending) {
        loop_.unwatch(fd);
        again->second.reading = false;
    }
}

void Module::flushData(int fd)
{
    const auto it = dataLinks_.find(fd);
    if (it == dataLinks_.end())
        return;
    DataLink& link = it->second;
    while (!link.out.empty()) {
        const ssize_t n = ::send(fd, link.out.data(), link.out.size(), MSG_NOSIGNAL);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            break;
        if (n < 0) {
            dropDataLink(fd, errnoText("send"));
            return;
        }
        link.out.erase(0, static_cast<std::size_t>(n));
        link.echoed += static_cast<std::uint64_t>(n);
    }
    if (link.out.empty()) {
        loop_.unwatchWritable(fd);
        if (!link.reading) {
            link.reading = true;
            loop_.watch(fd, [this, fd] { onDataReadable(fd); });
        }
    } else {
        loop_.watchWritable(fd, [this, fd] { flushData(fd); });
    }
}

// ---- firmware transfer ---------------------------------------------------------------------

void Module::endTransfer(const char* reason)
{
    if (!transfer_)
        return;
    loop_.unwatch(transfer_->fd.get());
    loop_.cancel(transfer_->idleTimer);
    transcript_.write(transfer_->id, "tftp", "close", reason);
    transfer_.reset();
}

void Module::touchTransfer()
{
    loop_.cancel(transfer_->idleTimer);
    transfer_->idleTimer = loop_.after(10000, [this] {
        transfer_->idleTimer = 0;
        lastTransfer_ = "abandoned";
        endTransfer("idle");
    });
}

void Module::sendTransferPackets(const std::vector<TftpPacket>& packets)
{
    for (const TftpPacket& p : packets) {
        int fd = transfer_->fd.get();
        if (p.from == TftpPacket::From::ForeignPort) {
            if (!transfer_->foreign.valid()) {
                std::string error;
                transfer_->foreign = openUdp(0, &error);
            }
            fd = transfer_->foreign.get();
            transcript_.write(transfer_->id, "tftp", "note", "next packet from a foreign port");
        }
        if (::sendto(fd, p.bytes.data(), p.bytes.size(), 0,
                     reinterpret_cast<const sockaddr*>(&transfer_->peer), sizeof transfer_->peer)
            < 0)
            transcript_.write(transfer_->id, "tftp", "note", errnoText("sendto"));
        else
            transcript_.bytes(transfer_->id, "tftp", "send", p.bytes.data(), p.bytes.size());
    }
}

void Module::onTransferRequest()
{
    std::uint8_t buf[1500];
    sockaddr_in from{};
    socklen_t fromLen = sizeof from;
    const ssize_t n =
        ::recvfrom(tftp_.get(), buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
    if (n < 0)
        return;
    const int id = transcript_.newExchange();
    transcript_.write(id, "tftp", "open", endpoint(from));
    transcript_.bytes(id, "tftp", "recv", buf, static_cast<std::size_t>(n));

    auto refuse = [&](const char* why) {
        const auto e = TftpReceiver::error(2, why);
        ::sendto(tftp_.get(), e.data(), e.size(), 0, reinterpret_cast<sockaddr*>(&from),
                 sizeof from);
        transcript_.bytes(id, "tftp", "send", e.data(), e.size());
        transcript_.write(id, "tftp", "close", why);
    };
    if (!up_) {
        transcript_.write(id, "tftp", "close", "restarting");
        return;
    }
    if (!armed_) {
        refuse("not armed");
        return;
    }
    if (transfer_) {
        // The sender repeats its request while the option acknowledgement is on its way.
        if (transfer_->peer.sin_addr.s_addr == from.sin_addr.s_addr
            && transfer_->peer.sin_port == from.sin_port
            && transfer_->receiver->blocksReceived() == 0) {
            transcript_.write(id, "tftp", "close",
                              "repeated request, see " + std::to_string(transfer_->id));
            endTransfer("request repeated");
        } else {
            refuse("busy");
            return;
        }
    }

    std::string error;
    auto t = std::make_unique<Transfer>();
    t->fd = openUdp(0, &error);
    if (!t->fd.valid()) {
        refuse("no socket");
        return;
    }
    t->id = id;
    t->peer = from;
    t->receiver = std::make_unique<TftpReceiver>(config_.faults);
    transfer_ = std::move(t);
    const auto packets = transfer_->receiver->onRequest(buf, static_cast<std::size_t>(n));
    transcript_.write(
        id, "tftp", "note",
        std::string("file ") + transfer_->receiver->fileName() + " options "
            + (transfer_->receiver->optionsInModuleForm() ? "module form" : "standard form")
            + " blksize " + std::to_string(transfer_->receiver->blockSize()) + " tsize "
            + std::to_string(transfer_->receiver->declaredSize()));
    sendTransferPackets(packets);
    if (transfer_->receiver->state() == TftpReceiver::State::Failed) {
        lastTransfer_ = "failed: " + transfer_->receiver->failure();
        endTransfer(transfer_->receiver->failure().c_str());
        return;
    }
    loop_.watch(transfer_->fd.get(), [this] { onTransferData(); });
    touchTransfer();
}

void Module::onTransferData()
{
    std::uint8_t buf[70000];
    sockaddr_in from{};
    socklen_t fromLen = sizeof from;
    const ssize_t n = ::recvfrom(transfer_->fd.get(), buf, sizeof buf, 0,
                                 reinterpret_cast<sockaddr*>(&from), &fromLen);
    if (n < 0)
        return;
    const int id = transfer_->id;
    transcript_.bytes(id, "tftp", "recv", buf, static_cast<std::size_t>(n));
    if (from.sin_addr.s_addr != transfer_->peer.sin_addr.s_addr
        || from.sin_port != transfer_->peer.sin_port) {
        const auto e = TftpReceiver::error(5, "unknown transfer ID");
        ::sendto(transfer_->fd.get(), e.data(), e.size(), 0, reinterpret_cast<sockaddr*>(&from),
                 sizeof from);
        transcript_.write(id, "tftp", "note", "packet from " + endpoint(from) + " refused");
        return;
    }
    TftpReceiver& r = *transfer_->receiver;
    sendTransferPackets(r.onData(buf, static_cast<std::size_t>(n)));
    touchTransfer();

    if (r.state() == TftpReceiver::State::Failed) {
        lastTransfer_ = "failed: " + r.failure();
        endTransfer(r.failure().c_str());
    } else if (r.state() == TftpReceiver::State::Complete && !transfer_->completed) {
        // The transfer socket stays open until the restart, to acknowledge a repeated last
        // block whose acknowledgement was lost.
        transfer_->completed = true;
        const std::string version = r.imageVersion();
        ++transfersDone_;
        lastTransfer_ = "ok " + std::to_string(r.image().size()) + " bytes version " + version;
        config_.settings["fmwVer"] = version;
        transcript_.write(id, "tftp", "note", "complete");
        armed_ = false;
        loop_.after(config_.flashMs, [this] { restart("firmware update"); });
    }
}

} // namespace tvx::sim
