#pragma once

#include <poll.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace tvx::netpin {

// What one helper holds for its caller.
struct OwnedNeighbour {
    uint32_t address = 0;
    int ifIndex = 0;
    std::array<uint8_t, 6> mac{};
};
struct OwnedRoute {
    uint32_t address = 0;
    int ifIndex = 0;
};
struct OwnedEntries {
    std::vector<OwnedNeighbour> neighbours;
    std::vector<OwnedRoute> routes;

    bool claimsNeighbour(uint32_t address, int ifIndex) const;
    bool claimsRoute(uint32_t address, int ifIndex) const;
};

// The helpers running in this network namespace, whatever their user, and
// what each holds. Every helper listens on an abstract socket of its own
// (they belong to the network namespace and vanish with their process, so
// none outlives its helper and no user can remove another's), and answers
// each connection with what it holds and nothing more.
//
// The kernel's table is the record of what helpers made: an entry with the
// helper's mark that no running helper holds was left by one that is gone.
// So nothing is written to a file, and what a caller deletes or forges in
// its own folders changes nothing. A claim counts only from a process that
// holds CAP_NET_ADMIN in this user namespace: a forged claim needs a running
// helper behind it, and then lasts no longer than that helper's caller.
class LiveSessions {
public:
    // `own` is what this helper holds, as it answers others.
    explicit LiveSessions(const OwnedEntries& own) : own_(own) {}
    ~LiveSessions();
    LiveSessions(const LiveSessions&) = delete;
    LiveSessions& operator=(const LiveSessions&) = delete;

    // Starts listening. False with `error` when it cannot: other helpers
    // would then take this one's entries for a gone helper's.
    bool open(std::string& error);
    // To be polled for queries.
    int fd() const { return listener_; }
    // Answers the queries waiting, without waiting for anything.
    void answerQueries() const;

    // What the other running helpers hold, as far as they answer. False,
    // with `why`, when a helper did not answer (it is stopped, say): then
    // what it holds is not in `out`, and a sweep must not rely on `out`.
    bool othersHold(OwnedEntries& out, std::string& why) const;

private:
    bool askBatch(const std::vector<std::string>& names, OwnedEntries& out, std::string& why) const;
    // Waits for `fds` until `deadline`, answering others' questions meanwhile:
    // two helpers that ask each other at once must not wait for each other.
    void waitAnswering(std::vector<pollfd>& fds, long long deadline) const;

    const OwnedEntries& own_;
    int listener_ = -1;
    std::string name_;
};

} // namespace tvx::netpin
