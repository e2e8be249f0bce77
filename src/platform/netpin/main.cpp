// tarvanix-netpin: the only part of Tarvanix Utility that changes the host's
// neighbour and route tables. It holds CAP_NET_ADMIN as a file capability and
// is executable by the group netdev only, so it trusts nothing it is given:
// it reads no environment, runs no other program, checks every argument and
// refuses to touch the host's own addresses, its subnets' broadcast addresses
// and the gateways of its routes.
//
//   tarvanix-netpin pin <ipv4> <mac> <ifindex>
//   tarvanix-netpin unpin <mac>
//   tarvanix-netpin route-add <ipv4> <local ipv4> <ifindex>
//   tarvanix-netpin route-del <ipv4>
//
// Exit codes: 0 done, 1 refused argument, 2 missing privilege, 3 the kernel
// refused the change, 4 a table could not be read.
#include "NetlinkHost.h"
#include "NetpinArguments.h"

#include <netlink/netlink.h>

#include <fcntl.h>
#include <unistd.h>

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

int fail(Exit code, const std::string& why)
{
    std::fprintf(stderr, "tarvanix-netpin: %s\n", why.c_str());
    return code;
}

int usage()
{
    return fail(BadArguments, "usage: tarvanix-netpin pin <ipv4> <mac> <ifindex> | unpin <mac> | "
                              "route-add <ipv4> <local ipv4> <ifindex> | route-del <ipv4>");
}

// Shown by --help; the man page is made from it.
const char kHelp[] =
    "Usage: tarvanix-netpin OPERATION ARGUMENTS...\n"
    "Pin or unpin the temporary ARP entry and host route with which Tarvanix Utility\n"
    "reaches a module outside the host's subnets. It holds the capability\n"
    "cap_net_admin and may be run only by members of the group netdev.\n"
    "\n"
    "Operations:\n"
    "  pin IPV4 MAC IFINDEX           permanent neighbour entry IPV4 -> MAC on interface\n"
    "                                 IFINDEX, replacing any entry already there\n"
    "  unpin MAC                      remove every IPv4 neighbour entry of MAC\n"
    "  route-add IPV4 LOCAL IFINDEX   /32 route to IPV4 on the link IFINDEX, source LOCAL\n"
    "  route-del IPV4                 remove the first main-table /32 route to IPV4\n"
    "  --help                         show this text\n"
    "  --version                      show the version\n"
    "\n"
    "It refuses the host's own addresses, the gateways of its routes, broadcast,\n"
    "multicast and loopback addresses, and interfaces that do not exist.\n"
    "\n"
    "Exit status:\n"
    "  0  done\n"
    "  1  an argument was refused\n"
    "  2  the privilege (cap_net_admin) is missing\n"
    "  3  the kernel refused the change\n"
    "  4  the neighbour table could not be read\n";

std::string printable(const char* text)
{
    std::string out;
    for (const char* p = text; *p && out.size() < 40; ++p)
        out += (*p >= 0x20 && *p < 0x7f) ? *p : '?';
    return "'" + out + "'";
}

bool address(const char* text, uint32_t& out, std::string& why)
{
    const auto parsed = parseDottedQuad(text);
    if (!parsed) {
        why = printable(text) + " is not a dotted IPv4 address";
        return false;
    }
    out = *parsed;
    return true;
}

bool mac(const char* text, uint8_t out[6], std::string& why)
{
    if (!parseMac(text, out)) {
        why = printable(text) + " is not a MAC address (xx:xx:xx:xx:xx:xx)";
        return false;
    }
    return true;
}

bool ifIndex(const char* text, int& out, std::string& why)
{
    const auto parsed = parseIfIndex(text);
    if (!parsed) {
        why = printable(text) + " is not an interface index";
        return false;
    }
    out = *parsed;
    return true;
}

int run(int argc, char** argv)
{
    if (argc < 2)
        return usage();
    const std::string op = argv[1];
    if (op == "--help" && argc == 2) {
        std::fputs(kHelp, stdout);
        return Ok;
    }
    if (op == "--version" && argc == 2) {
        std::puts("tarvanix-netpin " TARVANIX_VERSION);
        return Ok;
    }
    std::string why;
    uint32_t target = 0;
    uint32_t local = 0;
    uint8_t hw[6] = {};
    int index = 0;

    // Syntax first, before any table is read.
    if (op == "pin" && argc == 5) {
        if (!address(argv[2], target, why) || !mac(argv[3], hw, why) ||
            !ifIndex(argv[4], index, why))
            return fail(BadArguments, why);
        if (const char* bad = refusedMacClass(hw))
            return fail(BadArguments, std::string("refused: ") + bad);
    } else if (op == "unpin" && argc == 3) {
        if (!mac(argv[2], hw, why))
            return fail(BadArguments, why);
        if (const char* bad = refusedMacClass(hw))
            return fail(BadArguments, std::string("refused: ") + bad);
    } else if (op == "route-add" && argc == 5) {
        if (!address(argv[2], target, why) || !address(argv[3], local, why) ||
            !ifIndex(argv[4], index, why))
            return fail(BadArguments, why);
    } else if (op == "route-del" && argc == 3) {
        if (!address(argv[2], target, why))
            return fail(BadArguments, why);
    } else {
        return usage();
    }

    NetlinkHost host;
    if (const Exit e = host.open(why); e != Ok)
        return fail(e, why);

    if (op != "unpin") {
        if (why = host.protectedAddress(target); !why.empty())
            return fail(BadArguments, "refused: " + why);
    }
    if (op == "pin" || op == "route-add") {
        if (why = host.unusableInterface(index); !why.empty())
            return fail(BadArguments, "refused: " + why);
    }
    if ((op == "pin" || op == "unpin") && host.isHostMac(hw))
        return fail(BadArguments, "refused: the MAC address belongs to this host");
    if (op == "route-add" && !host.isLocalAddressOn(local, index))
        return fail(BadArguments, "refused: " + formatAddress(local) +
                                      " is not an address of interface " + std::to_string(index));

    Exit result = Ok;
    if (op == "pin")
        result = host.pin(target, hw, index, why);
    else if (op == "unpin")
        result = host.unpin(hw, why);
    else if (op == "route-add")
        result = host.addRoute(target, local, index, why);
    else
        result = host.deleteRoute(target, why);
    if (result == NoPrivilege)
        return fail(result, why + " (the program lacks CAP_NET_ADMIN; see README)");
    if (result != Ok)
        return fail(result, why);
    return Ok;
}

} // namespace

int main(int argc, char** argv)
{
    ensureStandardDescriptors();
    // The library reads its debug level from the environment before main.
    nl_debug = 0;
    return run(argc, argv);
}
