#include "net/SystemNetTables.h"

#include "net/Ipv4.h"
#include "netpin/NetpinArguments.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <thread>

namespace tvx {

// The helper's exit codes, as it defines them.
static_assert(int(SystemNetTables::Ok) == netpin::Ok
              && int(SystemNetTables::BadArguments) == netpin::BadArguments
              && int(SystemNetTables::NoPrivilege) == netpin::NoPrivilege
              && int(SystemNetTables::KernelRefused) == netpin::KernelRefused
              && int(SystemNetTables::TableUnreadable) == netpin::TableUnreadable);

SystemNetTables::SystemNetTables(std::string helperPath) : helperPath_(std::move(helperPath)) {}

std::string SystemNetTables::defaultHelperPath(const std::string& executableDir)
{
    // In the build tree the helper sits beside the program; installed, it is
    // in libexec under the same prefix.
    for (const std::string& candidate :
         {executableDir + "/tarvanix-netpin", executableDir + "/" TARVANIX_NETPIN_RELATIVE_PATH}) {
        if (::access(candidate.c_str(), F_OK) == 0)
            return candidate;
    }
    return TARVANIX_NETPIN_INSTALL_PATH;
}

bool SystemNetTables::listAddresses(std::vector<InterfaceAddress>& out, int& error)
{
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        error = errno;
        return false;
    }
    out.clear();
    for (ifaddrs* a = list; a; a = a->ifa_next) {
        if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET)
            continue;
        const unsigned flags = a->ifa_flags;
        if (!(flags & IFF_UP) || !(flags & IFF_RUNNING) || (flags & IFF_LOOPBACK))
            continue;
        InterfaceAddress entry;
        entry.address = reinterpret_cast<const sockaddr_in*>(a->ifa_addr)->sin_addr.s_addr;
        entry.ifIndex = ::if_nametoindex(a->ifa_name);
        out.push_back(entry);
    }
    ::freeifaddrs(list);
    // Interface-index order, keeping the kernel's order within one interface.
    std::stable_sort(
        out.begin(), out.end(),
        [](const InterfaceAddress& x, const InterfaceAddress& y) { return x.ifIndex < y.ifIndex; });
    return true;
}

namespace {
// The problem of the last change made by this thread: the ARP and route
// changes run under different locks, possibly at the same time.
thread_local std::string lastProblem;

std::string privilegeText(const std::string& helper)
{
    return "no privilege to change the ARP and route tables: " + helper
        + " needs cap_net_admin and the user the group netdev (see README, "
          "\"The privileged helper\")";
}
} // namespace

namespace {
constexpr int kAnswerWaitMs = 10000;
} // namespace

SystemNetTables::~SystemNetTables()
{
    std::lock_guard lock(helperLock_);
    stopHelper(false);
}

bool SystemNetTables::startHelper()
{
    std::lock_guard lock(helperLock_);
    lastProblem.clear();
    return helperSocket_ >= 0 || spawnHelper() == Ok;
}

int SystemNetTables::spawnHelper()
{
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        lastProblem = std::string("cannot talk to ") + helperPath_ + ": " + std::strerror(errno);
        return -1;
    }
    char* argv[] = {const_cast<char*>(helperPath_.c_str()), const_cast<char*>("serve"), nullptr};
    // The helper needs nothing from our environment, and a program with file
    // capabilities is best started without one.
    char* noEnvironment[] = {nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pair[1], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, pair[1], STDOUT_FILENO);
    // Nothing else of ours: only our end of the socket may keep it alive.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // Its own process group, so a terminal's Ctrl-C reaches only this program,
    // which then still has its helper to remove its entries; and no signal
    // blocked by the thread that happens to start it.
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK);
    pid_t pid = 0;
    const int spawned =
        ::posix_spawn(&pid, helperPath_.c_str(), &actions, &attributes, argv, noEnvironment);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pair[1]);
    if (spawned != 0) {
        ::close(pair[0]);
        if (spawned == EACCES || spawned == EPERM) {
            lastProblem = privilegeText(helperPath_);
            return NoPrivilege;
        }
        lastProblem = "cannot run " + helperPath_ + ": " + std::strerror(spawned)
            + " (see README, \"The privileged helper\")";
        return -1;
    }
    helperSocket_ = pair[0];
    helperPid_ = pid;
    received_.clear();
    // It says "ready" once it has removed what gone helpers left behind.
    const int code = readAnswer();
    if (code != Ok) {
        stopHelper(code < 0);
        if (lastProblem.empty())
            lastProblem =
                "cannot start " + helperPath_ + " (see README, \"The privileged helper\")";
    }
    return code;
}

int SystemNetTables::readAnswer()
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(kAnswerWaitMs);
    for (;;) {
        if (const auto end = received_.find('\n'); end != std::string::npos) {
            const std::string line = received_.substr(0, end);
            received_.erase(0, end + 1);
            const auto space = line.find(' ');
            const std::string code = line.substr(0, space);
            if (code.size() != 1 || code[0] < '0' || code[0] > '9')
                return -1;
            return code[0] - '0';
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return -1;
        pollfd p{helperSocket_, POLLIN, 0};
        const int rc = ::poll(&p, 1, static_cast<int>(left));
        if (rc < 0 && errno == EINTR)
            continue;
        if (rc <= 0)
            return -1;
        char buffer[512];
        const ssize_t n = ::recv(helperSocket_, buffer, sizeof buffer, 0);
        if (n <= 0)
            return -1;
        received_.append(buffer, static_cast<size_t>(n));
        if (received_.size() > 4096)
            return -1;
    }
}

void SystemNetTables::stopHelper(bool kill)
{
    if (helperSocket_ < 0)
        return;
    // The end of its input tells the helper to remove what it made.
    ::close(helperSocket_);
    helperSocket_ = -1;
    if (kill)
        ::kill(helperPid_, SIGKILL);
    int status = 0;
    for (int waited = 0; ::waitpid(helperPid_, &status, WNOHANG) == 0; ++waited) {
        if (waited == 100)
            ::kill(helperPid_, SIGKILL); // removal stuck: the next start's sweep finishes it
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    helperPid_ = -1;
}

int SystemNetTables::runHelper(const std::vector<std::string>& args)
{
    std::lock_guard lock(helperLock_);
    lastProblem.clear();
    if (helperSocket_ < 0) {
        // Started anew after it went: its start removes what the last one left.
        if (const int code = spawnHelper(); code != Ok)
            return code;
    }
    std::string line;
    for (const auto& a : args)
        line += (line.empty() ? "" : " ") + a;
    line += '\n';
    int code = -1;
    if (::send(helperSocket_, line.data(), line.size(), MSG_NOSIGNAL) == ssize_t(line.size()))
        code = readAnswer();
    if (code < 0) {
        stopHelper(true);
        lastProblem = helperPath_ + " stopped answering";
        return -1;
    }
    if (code == NoPrivilege)
        lastProblem = privilegeText(helperPath_);
    return code;
}

static std::string ipText(uint32_t address)
{
    char text[16];
    formatIpv4(address, text);
    return text;
}

static std::string macText(const uint8_t mac[6])
{
    char text[18];
    formatMac(mac, text);
    return text;
}

bool SystemNetTables::pinNeighbour(uint32_t address, const uint8_t mac[6], uint32_t ifIndex)
{
    return runHelper({"pin", ipText(address), macText(mac), std::to_string(ifIndex)}) == Ok;
}

bool SystemNetTables::unpinNeighbours(const uint8_t mac[6], int& error)
{
    const int code = runHelper({"unpin", macText(mac)});
    if (code == TableUnreadable) {
        error = code;
        return false;
    }
    return true;
}

bool SystemNetTables::addHostRoute(uint32_t address, uint32_t localAddress, uint32_t ifIndex)
{
    return runHelper({"route-add", ipText(address), ipText(localAddress), std::to_string(ifIndex)})
        == Ok;
}

bool SystemNetTables::deleteHostRoute(uint32_t address)
{
    return runHelper({"route-del", ipText(address)}) == Ok;
}

std::string SystemNetTables::lastChangeProblem() const
{
    return lastProblem;
}

} // namespace tvx
