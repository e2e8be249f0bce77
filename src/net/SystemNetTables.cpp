#include "net/SystemNetTables.h"

#include "net/Ipv4.h"
#include "platform/netpin/NetpinArguments.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>

namespace tvx {

// The helper's exit codes, as it defines them.
static_assert(int(SystemNetTables::Ok) == netpin::Ok &&
              int(SystemNetTables::BadArguments) == netpin::BadArguments &&
              int(SystemNetTables::NoPrivilege) == netpin::NoPrivilege &&
              int(SystemNetTables::KernelRefused) == netpin::KernelRefused &&
              int(SystemNetTables::TableUnreadable) == netpin::TableUnreadable);

SystemNetTables::SystemNetTables(std::string helperPath) : helperPath_(std::move(helperPath)) {}

std::string SystemNetTables::defaultHelperPath(const std::string& executableDir)
{
    // In the build tree the helper sits beside the program; installed, it is
    // in libexec under the same prefix.
    for (const std::string& candidate : {executableDir + "/tarvanix-netpin",
                                         executableDir + "/" TARVANIX_NETPIN_RELATIVE_PATH}) {
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
    std::stable_sort(out.begin(), out.end(),
                     [](const InterfaceAddress& x, const InterfaceAddress& y) {
                         return x.ifIndex < y.ifIndex;
                     });
    return true;
}

namespace {
// The problem of the last change made by this thread: the ARP and route
// changes run under different locks, possibly at the same time.
thread_local std::string lastProblem;

std::string privilegeText(const std::string& helper)
{
    return "no privilege to change the ARP and route tables: " + helper +
           " needs cap_net_admin and the user the group netdev (see README, "
           "\"The privileged helper\")";
}
} // namespace

int SystemNetTables::runHelper(const std::vector<std::string>& args)
{
    lastProblem.clear();
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(helperPath_.c_str()));
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    // The helper needs nothing from our environment, and a program with file
    // capabilities is best started without one.
    char* noEnvironment[] = {nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = ::posix_spawn(&pid, helperPath_.c_str(), &actions, nullptr, argv.data(),
                                      noEnvironment);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned == EACCES || spawned == EPERM) {
        lastProblem = privilegeText(helperPath_);
        return NoPrivilege;
    }
    if (spawned != 0) {
        lastProblem = "cannot run " + helperPath_ + ": " + std::strerror(spawned) +
                      " (see README, \"The privileged helper\")";
        return -1;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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
    return runHelper({"route-add", ipText(address), ipText(localAddress), std::to_string(ifIndex)}) ==
           Ok;
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
