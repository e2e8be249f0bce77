// tarvanix-netpin: the only part of Tarvanix Utility that changes the host's
// neighbour and route tables. It holds CAP_NET_ADMIN as a file capability and
// is executable by the group netdev only, so it trusts nothing it is given:
// it reads no environment, runs no other program, checks every request and
// changes only what it made itself.
//
//   tarvanix-netpin serve
//
// reads one request a line from its standard input and answers each with one
// line "CODE TEXT" on its standard output; when the input ends or its caller
// is gone (however it ended) it removes every entry it made and exits.
//
// Codes: 0 done, 1 refused request, 2 missing privilege, 3 the kernel refused
// the change, 4 a table could not be read.
#include "NetpinArguments.h"
#include "NetpinSession.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/auxv.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

using namespace tvx::netpin;

namespace {

// A caller may start us with a standard descriptor closed; the netlink socket
// must never end up as descriptor 2 and receive our error text.
void ensureStandardDescriptors()
{
    for (int fd = 0; fd < 3; ++fd) {
        if (::fcntl(fd, F_GETFD) < 0 && ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY) != fd)
            ::_exit(BadArguments);
    }
}

// The libraries read the environment in their constructors (libnl its debug
// level), before main could clear it: start afresh without one. This runs
// from the executable's pre-initialisation array, which comes before every
// shared library's constructors; the file capability comes with the new image
// as it came with this one. Only system calls: the C library is not set up.
void dropEnvironment(int, char** argv, char** envp)
{
    if (!envp || !envp[0])
        return;
    char* none[] = {nullptr};
    ::execve("/proc/self/exe", argv, none);
    // Without /proc (a chroot): the path it was started by. Another file
    // there would run without this one's capability, so nothing is gained.
    if (const auto path = reinterpret_cast<const char*>(::getauxval(AT_EXECFN)))
        ::execve(path, argv, none);
    static const char text[] = "tarvanix-netpin: cannot start without the environment\n";
    [[maybe_unused]] const auto n = ::write(STDERR_FILENO, text, sizeof text - 1);
    ::_exit(BadArguments);
}

[[gnu::section(".preinit_array"),
  gnu::used]] void (*const kDropEnvironment)(int, char**, char**) = dropEnvironment;

int fail(Exit code, const std::string& why)
{
    std::fprintf(stderr, "tarvanix-netpin: %s\n", why.c_str());
    return code;
}

// Shown by --help; the man page is made from it.
const char kHelp[] =
    "Usage: tarvanix-netpin serve\n"
    "Pin and unpin the temporary ARP entries and host routes with which Tarvanix\n"
    "Utility reaches a module outside the host's subnets. It holds the capability\n"
    "cap_net_admin and may be run only by members of the group netdev.\n"
    "\n"
    "It reads one request a line from standard input and answers each with one\n"
    "line \"CODE TEXT\". When its input ends, or its caller is gone, it removes every\n"
    "entry it made.\n"
    "\n"
    "Requests:\n"
    "  pin IPV4 MAC IFINDEX           permanent neighbour entry IPV4 -> MAC on interface\n"
    "                                 IFINDEX, replacing one the kernel learned\n"
    "  unpin MAC                      remove the neighbour entries it made for MAC\n"
    "  route-add IPV4 LOCAL IFINDEX   /32 route to IPV4 on the link IFINDEX, source LOCAL\n"
    "  route-del IPV4                 remove the host routes it made to IPV4\n"
    "\n"
    "Codes: 0 done, 1 refused, 2 missing privilege, 3 the kernel refused, 4 a table\n"
    "could not be read.\n"
    "\n"
    "Its entries carry the protocol number 211, its neighbour entries also the flag\n"
    "router. It replaces only neighbour entries the kernel learned (no protocol, not\n"
    "permanent, noarp, managed or extern_learn), never adds a route beside a host\n"
    "route it did not make, and deletes nothing it did not make; an entry an\n"
    "administrator re-stated (ip neigh replace) is theirs. One caller holds at most\n"
    "128 neighbour entries and 128 host routes at once.\n"
    "\n"
    "It refuses the host's own addresses and MAC addresses, the gateways of its\n"
    "routes, broadcast, multicast and loopback addresses, an address of a connected\n"
    "subnet on any other interface than that subnet's, and an address that one of\n"
    "the host's routes other than the default route leads to through a gateway or\n"
    "another interface. It refuses addresses outside 10.0.0.0/8, 172.16.0.0/12,\n"
    "192.168.0.0/16 (private), 169.254.0.0/16 (link-local), 100.64.0.0/10 (shared),\n"
    "192.0.2.0/24, 198.51.100.0/24, 203.0.113.0/24 (documentation) and 198.18.0.0/15\n"
    "(benchmarking).\n"
    "\n"
    "An administrator allows more in " TARVANIX_NETPIN_CONFIG ", a regular\n"
    "file that it and its folder must be root's and writable by root only, one line\n"
    "each:\n"
    "  allow A.B.C.D/N                addresses of that range (N 8 to 32)\n"
    "  allow-routed A.B.C.D/N         the same, even where a route leads there\n"
    "\n"
    "At its start it removes the entries that helpers which are gone left behind:\n"
    "those with its mark that no running helper holds (a stopped one holds none).\n"
    "\n"
    "Options:\n"
    "  --help                         show this text\n"
    "  --version                      show the version\n";

// The administrator's additions. A file anyone but root could have written
// is not taken, nor one that is not a plain file (a FIFO would block here).
NetpinConfig readConfig()
{
    NetpinConfig config;
    const int fd =
        ::open(TARVANIX_NETPIN_CONFIG, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (errno != ENOENT)
            fail(Ok,
                 std::string(TARVANIX_NETPIN_CONFIG " ignored: ")
                     + (errno == ELOOP ? "it is a symbolic link" : std::strerror(errno)));
        return config;
    }
    struct stat st {};
    std::string folder = TARVANIX_NETPIN_CONFIG;
    folder.erase(folder.rfind('/'));
    struct stat dir {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        fail(Ok, TARVANIX_NETPIN_CONFIG " ignored: it is not a regular file");
        return config;
    }
    if (st.st_uid != 0 || (st.st_mode & 022) || ::stat(folder.c_str(), &dir) != 0 || dir.st_uid != 0
        || (dir.st_mode & 022)) {
        ::close(fd);
        fail(Ok,
             TARVANIX_NETPIN_CONFIG " ignored: it and its folder must be root's and "
                                    "writable by root only");
        return config;
    }
    static constexpr size_t kMaxConfig = 65536;
    std::string text;
    char buffer[4096];
    ssize_t n;
    while (text.size() <= kMaxConfig
           && ((n = ::read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR))) {
        if (n > 0)
            text.append(buffer, size_t(n));
    }
    ::close(fd);
    if (text.size() > kMaxConfig) {
        fail(Ok, TARVANIX_NETPIN_CONFIG " ignored: larger than 64 KiB");
        return config;
    }
    std::string error;
    if (!parseNetpinConfig(text, config, error))
        fail(Ok, TARVANIX_NETPIN_CONFIG " ignored: " + error);
    return config;
}

volatile sig_atomic_t stopSignal = 0;

void onStop(int signalNumber)
{
    stopSignal = signalNumber;
}

// Sent by the kernel when the thread that started this helper ends, which in
// a caller with threads need not be the caller's end: the parent process
// tells (a helper whose caller is gone has a new parent).
constexpr int kParentSignal = SIGUSR1;
pid_t caller = 0;

void onParentSignal(int) {}

bool callerGone()
{
    return ::getppid() != caller;
}

bool stopping()
{
    return stopSignal || callerGone();
}

// One line, short enough that a write the descriptor is ready for takes it
// whole. Meanwhile it goes on answering other helpers: a caller that does not
// read must not make this helper silent to them.
bool answer(const NetpinSession* session, Exit code, const std::string& text)
{
    std::string line = std::to_string(int(code)) + " ";
    for (char c : text)
        line += (c == '\n' || c == '\r') ? ' ' : c;
    line += '\n';
    size_t done = 0;
    while (done < line.size()) {
        pollfd p[2] = {{STDOUT_FILENO, POLLOUT, 0}, {session ? session->queries() : -1, POLLIN, 0}};
        if (::poll(p, 2, -1) < 0) {
            if (errno == EINTR && !stopping())
                continue;
            return false;
        }
        if (p[1].revents & POLLIN)
            session->answerQueries();
        if (!(p[0].revents & (POLLOUT | POLLERR | POLLHUP | POLLNVAL)))
            continue;
        const ssize_t n = ::write(STDOUT_FILENO, line.data() + done, line.size() - done);
        if (n < 0 && (errno == EINTR || errno == EAGAIN) && !stopping())
            continue;
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

int serve()
{
    // Ended by its caller's going (end of input, or a new parent) or by a
    // signal; either way through the same removal. No handler restarts a
    // call, so that a blocked one returns and the loop looks again; and the
    // caller cannot keep these signals blocked for us.
    caller = ::getppid();
    struct sigaction sa {};
    sigemptyset(&sa.sa_mask);
    sa.sa_handler = onStop;
    for (int s : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(s, &sa, nullptr);
    sa.sa_handler = onParentSignal;
    ::sigaction(kParentSignal, &sa, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    sigset_t wanted;
    sigemptyset(&wanted);
    for (int s : {SIGTERM, SIGINT, SIGHUP, kParentSignal})
        sigaddset(&wanted, s);
    ::sigprocmask(SIG_UNBLOCK, &wanted, nullptr);
    // Also when it is blocked on a write that its caller's heirs never read.
    // The caller may have gone before this was set: look once more after.
    ::prctl(PR_SET_PDEATHSIG, kParentSignal);
    if (callerGone())
        return Ok;

    NetpinSession session(readConfig());
    std::string error, warning;
    if (const Exit e = session.start(error, warning); e != Ok) {
        answer(nullptr, e, error);
        return fail(e, error);
    }
    if (!warning.empty())
        fail(Ok, warning);
    bool talking = answer(&session, Ok, "ready");

    static constexpr size_t kMaxLine = 256;
    std::string pending;
    bool overlong = false;
    char buffer[512];
    while (talking && !stopping()) {
        pollfd p[2] = {{STDIN_FILENO, POLLIN, 0}, {session.queries(), POLLIN, 0}};
        if (::poll(p, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (p[1].revents & POLLIN)
            session.answerQueries();
        if (!(p[0].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)))
            continue;
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            break;
        for (ssize_t i = 0; i < n && talking; ++i) {
            if (buffer[i] != '\n') {
                if (pending.size() < kMaxLine)
                    pending += buffer[i];
                else
                    overlong = true;
                continue;
            }
            std::string text;
            const Exit code = overlong ? BadArguments : session.handle(pending, text);
            if (overlong)
                text = "request line too long";
            if (code == NoPrivilege)
                text += " (the program lacks CAP_NET_ADMIN; see README)";
            talking = answer(&session, code, text);
            pending.clear();
            overlong = false;
        }
    }
    session.finish();
    return Ok;
}

} // namespace

int main(int argc, char** argv)
{
    ensureStandardDescriptors();
    const std::string op = argc == 2 ? argv[1] : "";
    if (op == "--help") {
        std::fputs(kHelp, stdout);
        return Ok;
    }
    if (op == "--version") {
        std::puts("tarvanix-netpin " TARVANIX_VERSION);
        return Ok;
    }
    if (op == "serve")
        return serve();
    return fail(BadArguments, "usage: tarvanix-netpin serve | --help | --version");
}
