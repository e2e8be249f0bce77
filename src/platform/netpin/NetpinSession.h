#pragma once

#include "NetlinkHost.h"
#include "NetpinArguments.h"
#include "OwnerRecords.h"

#include <string>
#include <vector>

namespace tvx::netpin {

// One caller's session: the entries made for it, which are removed when it
// asks, and in any case when it goes. Only entries made in this session (or,
// at the start, left by helpers that are gone) are ever removed; a permanent
// entry or a route that the helper did not make is never replaced.
class NetpinSession {
public:
    // `allowed` are the administrator's extra ranges beyond the usual ones.
    explicit NetpinSession(std::vector<Ipv4Range> allowed);
    ~NetpinSession();
    NetpinSession(const NetpinSession&) = delete;
    NetpinSession& operator=(const NetpinSession&) = delete;

    // Opens the kernel socket and the owner record, and removes what helpers
    // that are gone left behind. `warning` says what could not be set up
    // without making the session unusable.
    Exit start(std::string& error, std::string& warning);

    // One request line ("pin IPV4 MAC IFINDEX", "unpin MAC",
    // "route-add IPV4 LOCAL IFINDEX", "route-del IPV4"); `text` says why when
    // the result is not Ok.
    Exit handle(const std::string& line, std::string& text);

    // Removes everything made in this session (the caller has gone).
    void finish();

private:
    Exit pin(uint32_t address, const uint8_t mac[6], int ifIndex, std::string& text);
    Exit unpin(const uint8_t mac[6], std::string& text);
    Exit addRoute(uint32_t address, uint32_t local, int ifIndex, std::string& text);
    Exit deleteRoutes(uint32_t address, std::string& text);
    std::string refusedTarget(uint32_t address, int ifIndex);
    void sweep();

    std::vector<Ipv4Range> allowed_;
    NetlinkHost host_;
    OwnerRecords records_;
    OwnedEntries owned_;
};

} // namespace tvx::netpin
