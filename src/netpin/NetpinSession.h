#pragma once

#include "LiveSessions.h"
#include "NetlinkHost.h"
#include "NetpinArguments.h"

#include <functional>
#include <string>
#include <vector>

namespace tvx::netpin {

// One caller's session: the entries made for it, which are removed when it
// asks, and in any case when it goes. Only entries that a helper made, and
// that no other running helper holds, are ever removed; an entry or a route
// that the helper did not make is never replaced.
class NetpinSession {
public:
    // The most entries of each kind one caller may hold at once: a module
    // being reached needs one of each, and a caller reaches at most 64 at
    // once.
    static constexpr size_t kMaxNeighbours = 128;
    static constexpr size_t kMaxRoutes = 128;

    // `config` is the administrator's, beyond the usual ranges.
    explicit NetpinSession(NetpinConfig config);
    ~NetpinSession();
    NetpinSession(const NetpinSession&) = delete;
    NetpinSession& operator=(const NetpinSession&) = delete;

    // Opens the kernel socket, makes this session known to the other
    // helpers, and removes what helpers that are gone left behind.
    // `warning` says what could not be done without making the session
    // unusable.
    Exit start(std::string& error, std::string& warning);

    // One request line ("pin IPV4 MAC IFINDEX", "unpin MAC",
    // "route-add IPV4 LOCAL IFINDEX", "route-del IPV4"); `text` says why when
    // the result is not Ok.
    Exit handle(const std::string& line, std::string& text);

    // Other helpers' questions for what this one holds: poll `queries()`,
    // then call answerQueries().
    int queries() const { return sessions_.fd(); }
    void answerQueries() const { sessions_.answerQueries(); }

    // Removes everything made in this session (the caller has gone).
    void finish();

private:
    Exit pin(uint32_t address, const uint8_t mac[6], int ifIndex, std::string& text);
    Exit unpin(const uint8_t mac[6], std::string& text);
    Exit addRoute(uint32_t address, uint32_t local, int ifIndex, std::string& text);
    Exit deleteRoutes(uint32_t address, std::string& text);
    // Removes what this session holds and the two select, but not what
    // another running helper holds too.
    Exit release(const std::function<bool(const OwnedNeighbour&)>& neighbour,
                 const std::function<bool(const OwnedRoute&)>& route, std::string& text);
    std::string refusedTarget(uint32_t address, int ifIndex);
    bool inRanges(const std::vector<Ipv4Range>& ranges, uint32_t address) const;
    void sweep(std::string& warning);

    NetpinConfig config_;
    NetlinkHost host_;
    OwnedEntries owned_;
    LiveSessions sessions_{owned_};
};

} // namespace tvx::netpin
