#pragma once

#include "handover/DeviceRecords.h"
#include "handover/WorkerThread.h"
#include "net/HostNetwork.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

namespace tvx {

class ProgressView;

// What a search needs from the window that started it, so the worker knows
// no widget. refreshLocalAddresses runs on the worker's thread; the others
// are handed to the UI thread and run there in the order issued.
struct SearchHooks {
    std::function<int(LocalAddressTable*)> refreshLocalAddresses;
    // The modules that answered since the last call, in the order of their
    // replies.
    std::function<void(const std::vector<DiscoveryRecord>&)> addDevices;
    std::function<int()> deviceCount;
    // Clears the window's busy flag; runs even after the user cancelled.
    std::function<void()> searchEnded;
};

// The timings of a search; the defaults are the ones users see. Tests of the
// worker alone may shorten them.
struct SearchTimings {
    int pauseMs = 1000; // before the first send
    int waitMs = 2000; // after a send, restarted by every reply
    int sendsPerAddress = 2;
    // Datagrams read after one send at most: room for 4096 modules on one
    // link answering twice each, so none is left unread.
    int repliesPerSend = 8192;
    // What bounds a flood instead: the reading after one send ends this long
    // after the send at the latest, whatever keeps arriving.
    int readBudgetMs = 6000;
    // How long a search waits for another one on the host to free the source
    // ports: a few searches' length.
    int portWaitMs = 120000;
    // Replies that come in a burst are handed to the window together, at
    // most one hand-over per this many milliseconds: a thousand modules
    // answering at once cost the UI thread a few list updates, not a
    // thousand. A lone reply is handed over at once. 0: each one at once.
    int handOverMs = 50;
};

// The search worker: sends the discovery request from every local address in
// turn (by broadcast, or to the addresses of a search by IP), parses the
// replies and hands each accepted module to the window, which lists it once
// per MAC address.
//
// Each local address gets its own socket bound to the wildcard address and
// source port 16384 + n. The request leaves through the address's interface
// with that address as its source (IP_PKTINFO), and the socket receives both
// replies sent to the requester and replies sent to the broadcast address,
// which a socket bound to the unicast address would never see. Those ports
// are the host's, so two searches at once (two CLI runs, the window and the
// CLI) take turns: the second waits for the first, saying so, for at most
// SearchTimings::portWaitMs.
class UDPsearchThread : public WorkerThread {
public:
    // `target` is the dotted address of a search by IP (ignored when empty or
    // null); `view` is the progress window that `link` drives.
    UDPsearchThread(WorkerLink link, ProgressView* view, SearchHooks hooks, const char* target,
                    bool broadcast, SearchTimings timings = {});
    // A search by IP of several addresses in one run (network byte order),
    // for the CLI's targets: each send goes to every address that has not
    // answered yet, so the run costs the waits of one search, and it ends as
    // soon as each address has answered. With one address it is the search
    // above.
    UDPsearchThread(WorkerLink link, ProgressView* view, SearchHooks hooks,
                    std::vector<uint32_t> targets, SearchTimings timings = {});

    // 0 done, -1 failed (its message was shown), -2 cancelled.
    int runSearch(bool broadcast, const char* target);
    // Sends and reads on one bound socket from `localAddress` on `ifIndex`.
    int probeInterface(int socket, bool broadcast, const char* target, uint32_t localAddress,
                       uint32_t ifIndex);

protected:
    void execute() override;
    void afterException() override;

private:
    void sendRequest(int socket, uint32_t destination, uint32_t localAddress, uint32_t ifIndex);
    // A search by IP: notes that a module answered from `sender`; true once
    // every address asked has answered (with one address, any reply does).
    bool noteAnswer(uint32_t sender);
    void showFound();
    int waitWithin(std::chrono::steady_clock::time_point readEnd) const;
    // poll for `waitMs` at most; held replies are handed over when their
    // time comes meanwhile.
    int waitReadable(int socket, int waitMs);
    void holdReply(const DiscoveryRecord& record);
    void handOverReplies();

    ProgressView* view_;
    SearchHooks hooks_;
    SearchTimings timings_;
    bool broadcast_;
    char targetAddress_[20] = {};
    DiscoveryRecord record_ = {};
    // Replies parsed and not yet handed over, and when the next hand-over may go.
    std::vector<DiscoveryRecord> held_;
    std::chrono::steady_clock::time_point nextHandOver_{};
    // Several addresses of one search by IP, and which of them have answered.
    std::vector<uint32_t> targets_;
    std::vector<bool> answered_;
    bool answeredAll_ = false;
};

} // namespace tvx
