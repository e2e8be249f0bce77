#include "LiveSessions.h"

#include "NetpinArguments.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <poll.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <sstream>

namespace tvx::netpin {

namespace {

// The names are "tarvanix-netpin/" and 16 hexadecimal digits, abstract.
constexpr char kPrefix[] = "tarvanix-netpin/";
constexpr size_t kIdLength = 16;
// A running helper answers at once; one that is slow is given this long.
constexpr int kAskMs = 500;
// How long a full queue of questions may take to make room.
constexpr int kConnectMs = 50;
// Sockets asked at once, well below the descriptors a process may open.
constexpr size_t kBatch = 256;
// What a helper at its limits says is a few kilobytes.
constexpr size_t kMaxAnswer = 64 * 1024;
constexpr size_t kMaxListing = 32 * 1024 * 1024;
constexpr char kHeader[] = "tarvanix-netpin held";

long long nowMs()
{
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<long long>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

std::string randomId()
{
    uint8_t bytes[kIdLength / 2] = {};
    if (::getrandom(bytes, sizeof bytes, 0) != sizeof bytes) {
        const long long t = nowMs() ^ (static_cast<long long>(::getpid()) << 20);
        std::memcpy(bytes, &t, std::min(sizeof t, sizeof bytes));
    }
    char text[kIdLength + 1];
    for (size_t i = 0; i < sizeof bytes; ++i)
        std::snprintf(text + 2 * i, 3, "%02x", bytes[i]);
    return text;
}

bool isHelperName(const std::string& name)
{
    const size_t n = sizeof kPrefix - 1;
    return name.size() == n + kIdLength && name.compare(0, n, kPrefix) == 0
        && name.find_first_not_of("0123456789abcdef", n) == std::string::npos;
}

socklen_t abstractAddress(const std::string& name, sockaddr_un& address)
{
    address = {};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
}

std::string macText(const std::array<uint8_t, 6>& mac)
{
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    return text;
}

std::string heldText(const OwnedEntries& own)
{
    std::string text = std::string(kHeader) + "\n";
    for (const auto& n : own.neighbours)
        text += "neigh " + formatAddress(n.address) + " " + std::to_string(n.ifIndex) + " "
            + macText(n.mac) + "\n";
    for (const auto& r : own.routes)
        text += "route " + formatAddress(r.address) + " " + std::to_string(r.ifIndex) + "\n";
    return text + "end\n";
}

// Whole, or false: a cut answer could leave out what the helper holds.
bool parseHeld(const std::string& text, OwnedEntries& out)
{
    std::istringstream lines(text);
    std::string line;
    if (!std::getline(lines, line) || line != kHeader)
        return false;
    OwnedEntries found;
    while (std::getline(lines, line)) {
        if (line == "end") {
            if (lines.peek() != EOF)
                return false;
            out.neighbours.insert(out.neighbours.end(), found.neighbours.begin(),
                                  found.neighbours.end());
            out.routes.insert(out.routes.end(), found.routes.begin(), found.routes.end());
            return true;
        }
        std::istringstream words(line);
        std::string kind, address, index, mac, extra;
        words >> kind >> address >> index >> mac >> extra;
        const auto a = parseDottedQuad(address.c_str());
        const auto i = parseIfIndex(index.c_str());
        if (!a || !i || !extra.empty())
            return false;
        if (kind == "neigh") {
            OwnedNeighbour n{*a, *i, {}};
            if (!parseMac(mac.c_str(), n.mac.data()))
                return false;
            found.neighbours.push_back(n);
        } else if (kind == "route" && mac.empty()) {
            found.routes.push_back({*a, *i});
        } else {
            return false;
        }
    }
    return false;
}

// A file of /proc, read whole. Never blocks and never follows a link at its
// end; false when it cannot be read or is larger than `limit`.
bool readProcFile(const std::string& path, std::string& out, size_t limit)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    out.clear();
    char buffer[16384];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)) {
        if (n > 0)
            out.append(buffer, static_cast<size_t>(n));
        if (out.size() > limit)
            break;
    }
    ::close(fd);
    return n == 0;
}

// The names of the helpers listening in this network namespace.
bool listeningHelpers(std::vector<std::string>& names, std::string& why)
{
    std::string listing;
    if (!readProcFile("/proc/net/unix", listing, kMaxListing)) {
        why = "cannot list the running helpers (/proc/net/unix)";
        return false;
    }
    std::istringstream lines(listing);
    std::string line;
    std::getline(lines, line); // the column names
    while (std::getline(lines, line)) {
        // Num RefCount Protocol Flags Type St Inode Path; a name may hold
        // any byte, a line break too, but a made-up line can only name a
        // socket, which is then asked like any other.
        std::istringstream words(line);
        std::string num, refs, protocol, flags, type, state, inode, path;
        words >> num >> refs >> protocol >> flags >> type >> state >> inode >> path;
        constexpr unsigned long kListening = 0x10000; // __SO_ACCEPTCON
        if (type != "0001" || path.size() < 2 || path[0] != '@'
            || !(std::strtoul(flags.c_str(), nullptr, 16) & kListening))
            continue;
        if (const std::string name = path.substr(1); isHelperName(name))
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    return true;
}

// Whether the process that listens is a helper that can answer: it holds
// CAP_NET_ADMIN in this user namespace and is not stopped. A helper that is
// stopped serves no caller; what it holds goes as a gone helper's does (it
// could otherwise outlive its caller, stopped where no signal of its own
// reaches it). A process this helper may not see is believed.
bool isAnsweringHelper(pid_t pid)
{
    if (pid <= 0)
        return true;
    std::string status;
    if (!readProcFile("/proc/" + std::to_string(pid) + "/status", status, 65536))
        return ::kill(pid, 0) == 0 || errno == EPERM; // hidden from us, or gone
    if (const auto state = status.find("\nState:\t"); state != std::string::npos) {
        const char c = status[std::min(status.size() - 1, state + 8)];
        if (c == 'T' || c == 't' || c == 'Z' || c == 'X')
            return false;
    }
    const auto at = status.find("\nCapEff:");
    if (at == std::string::npos)
        return true;
    const unsigned long long caps = std::strtoull(status.c_str() + at + 8, nullptr, 16);
    if (!((caps >> CAP_NET_ADMIN) & 1))
        return false;
    // The capability of a user namespace of its own is no capability here.
    std::string theirs, ours;
    return !readProcFile("/proc/" + std::to_string(pid) + "/uid_map", theirs, 65536)
        || !readProcFile("/proc/self/uid_map", ours, 65536) || theirs == ours;
}

} // namespace

bool OwnedEntries::claimsNeighbour(uint32_t address, int ifIndex) const
{
    return std::any_of(neighbours.begin(), neighbours.end(), [&](const OwnedNeighbour& n) {
        return n.address == address && n.ifIndex == ifIndex;
    });
}

bool OwnedEntries::claimsRoute(uint32_t address, int ifIndex) const
{
    return std::any_of(routes.begin(), routes.end(), [&](const OwnedRoute& r) {
        return r.address == address && r.ifIndex == ifIndex;
    });
}

LiveSessions::~LiveSessions()
{
    if (listener_ >= 0)
        ::close(listener_);
}

bool LiveSessions::open(std::string& error)
{
    listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listener_ < 0) {
        error = std::string("cannot make the socket that tells other helpers what this one "
                            "holds: ")
            + std::strerror(errno);
        return false;
    }
    // A name someone else took is passed by.
    for (int attempt = 0; attempt < 16; ++attempt) {
        name_ = kPrefix + randomId();
        sockaddr_un address;
        const socklen_t length = abstractAddress(name_, address);
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) == 0) {
            if (::listen(listener_, SOMAXCONN) == 0)
                return true;
            break;
        }
        if (errno != EADDRINUSE)
            break;
    }
    error = std::string("cannot make the socket that tells other helpers what this one holds: ")
        + std::strerror(errno);
    ::close(listener_);
    listener_ = -1;
    return false;
}

void LiveSessions::answerQueries() const
{
    if (listener_ < 0)
        return;
    // A bounded number per call, so that a flood of queries cannot keep the
    // caller's requests waiting.
    std::string text;
    for (int i = 0; i < 64; ++i) {
        const int connection = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (connection < 0)
            return;
        // Far below the socket's buffer: it goes at once or not at all, and
        // an answer without its end counts for nothing.
        if (text.empty())
            text = heldText(own_);
        [[maybe_unused]] const ssize_t n =
            ::send(connection, text.data(), text.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        ::close(connection);
    }
}

bool LiveSessions::othersHold(OwnedEntries& out, std::string& why) const
{
    std::vector<std::string> names;
    if (!listeningHelpers(names, why))
        return false;
    names.erase(std::remove(names.begin(), names.end(), name_), names.end());
    // All at once, a batch at a time: however many sockets claim the name,
    // the waits below are paid once per batch, not once per socket.
    bool whole = true;
    for (size_t first = 0; first < names.size(); first += kBatch) {
        const size_t end = std::min(names.size(), first + kBatch);
        whole =
            askBatch({names.begin() + long(first), names.begin() + long(end)}, out, why) && whole;
    }
    return whole;
}

void LiveSessions::waitAnswering(std::vector<pollfd>& fds, long long deadline) const
{
    fds.push_back({listener_, POLLIN, 0});
    const long long left = deadline - nowMs();
    if (left > 0 && ::poll(fds.data(), fds.size(), static_cast<int>(left)) > 0
        && (fds.back().revents & POLLIN))
        answerQueries();
    fds.pop_back();
}

bool LiveSessions::askBatch(const std::vector<std::string>& names, OwnedEntries& out,
                            std::string& why) const
{
    struct Asked {
        const std::string* name = nullptr;
        int fd = -1;
        bool connected = false;
        pid_t pid = 0;
        std::string text;
        bool answered = false;
    };
    std::vector<Asked> asked;
    for (const std::string& name : names) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0)
            continue;
        Asked a;
        a.name = &name;
        a.fd = fd;
        asked.push_back(std::move(a));
    }
    const auto close = [](Asked& a) {
        if (a.fd >= 0)
            ::close(a.fd);
        a.fd = -1;
    };
    // A helper takes its questions at once; a queue that stays full belongs
    // to a process that is no helper, or to one that is stopped (and would
    // not answer anyway): neither is counted.
    const long long connectDeadline = nowMs() + kConnectMs;
    for (;;) {
        bool waiting = false;
        for (Asked& a : asked) {
            if (a.fd < 0 || a.connected)
                continue;
            sockaddr_un address;
            const socklen_t length = abstractAddress(*a.name, address);
            if (::connect(a.fd, reinterpret_cast<sockaddr*>(&address), length) == 0)
                a.connected = true;
            else if (errno == EAGAIN || errno == EINTR)
                waiting = true;
            else
                close(a); // gone meanwhile
        }
        if (!waiting || nowMs() >= connectDeadline)
            break;
        std::vector<pollfd> none;
        waitAnswering(none, std::min(connectDeadline, nowMs() + 2));
    }
    // What a process says counts only if it is a helper that can answer.
    for (Asked& a : asked) {
        ucred peer{};
        socklen_t size = sizeof peer;
        if (!a.connected || ::getsockopt(a.fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0
            || !isAnsweringHelper(peer.pid))
            close(a);
        else
            a.pid = peer.pid;
    }
    const long long answerDeadline = nowMs() + kAskMs;
    for (;;) {
        std::vector<pollfd> fds;
        std::vector<Asked*> open;
        for (Asked& a : asked) {
            if (a.fd >= 0 && !a.answered) {
                fds.push_back({a.fd, POLLIN, 0});
                open.push_back(&a);
            }
        }
        if (open.empty() || nowMs() >= answerDeadline)
            break;
        waitAnswering(fds, answerDeadline);
        for (size_t i = 0; i < open.size(); ++i) {
            Asked& a = *open[i];
            if (!fds[i].revents)
                continue;
            char buffer[4096];
            ssize_t n;
            while ((n = ::recv(a.fd, buffer, sizeof buffer, 0)) > 0 && a.text.size() <= kMaxAnswer)
                a.text.append(buffer, static_cast<size_t>(n));
            if (n == 0 || a.text.size() > kMaxAnswer
                || (n < 0 && errno != EAGAIN && errno != EINTR))
                a.answered = true;
        }
    }
    bool whole = true;
    for (Asked& a : asked) {
        if (a.fd < 0)
            continue;
        if (!a.answered || a.text.size() > kMaxAnswer || !parseHeld(a.text, out)) {
            if (whole)
                why = "the running helper " + *a.name + " (process " + std::to_string(a.pid)
                    + ") does not say what it holds";
            whole = false;
        }
        close(a);
    }
    return whole;
}

} // namespace tvx::netpin
