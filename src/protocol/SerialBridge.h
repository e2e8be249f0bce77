#pragma once

#include "platform/UniqueFd.h"
#include "protocol/DataConnection.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace tvx {

// What a serial port bridge relays to: a module's data port, reached by the
// caller's own connect step, which may check the module it reached and
// refuse it before a byte is relayed.
class BridgePeer {
public:
    enum Result { Connected = 0, Unreachable = -1, Stopped = -2, Refused = -3 };

    virtual ~BridgePeer() = default;
    // One attempt. Unreachable and Refused put the reason into `problem`.
    virtual int connect(const DataConnection::Wait& wait, QString& problem) = 0;
    virtual int socket() const = 0;
    virtual void disconnect() = 0;
    // Where it connects, for messages ("192.0.2.11:4000").
    virtual QString endpoint() const = 0;
};

// The bounds of a bridge, stated in --help and the README.
struct BridgeLimits {
    // Bytes written to the terminal while the module is away are kept up to
    // this many (and sent when it is back); beyond that they are dropped.
    int backlogBytes = 64 * 1024;
    // Reconnects wait this long after a drop, doubling after each failed
    // attempt up to maxRetryMs; a connection that lasted steadyMs starts the
    // next outage at firstRetryMs again.
    int firstRetryMs = 500;
    int maxRetryMs = 8000;
    int steadyMs = 10000;
};

// Relays bytes both ways, unchanged, between the master side of a
// pseudo-terminal and a module's data port, in one poll loop over
// non-blocking descriptors. The terminal stays open whatever the connection
// does: when it drops, the bridge says so once, keeps what is written to the
// terminal (bounded), and reconnects with a bounded back-off. Each direction
// holds at most backlogBytes in flight; a slow side slows its writer rather
// than losing bytes, except while the module is away.
class SerialBridge {
public:
    enum class End { Stopped, Unreachable, Refused };
    using Say = std::function<void(const QString&)>;

    // `problem` gets what goes wrong (a drop, bytes dropped); `note` what
    // goes right (connected, connected again).
    SerialBridge(int master, BridgePeer& peer, Say problem, Say note, BridgeLimits limits = {});
    SerialBridge(const SerialBridge&) = delete;
    SerialBridge& operator=(const SerialBridge&) = delete;

    // Connects, then relays until stop(). Unreachable and Refused: the first
    // connection could not be made or was refused (`why` says why); nothing
    // was relayed. The peer is disconnected on every way out.
    End run(QString& why);
    // From any thread (or a signal handler's thread); run() returns soon after.
    void stop();

    // Bytes handed to the module and to the terminal so far.
    uint64_t sentToModule() const { return sentToModule_.load(); }
    uint64_t sentToTerminal() const { return sentToTerminal_.load(); }

private:
    using Clock = std::chrono::steady_clock;

    // Bytes in flight in one direction, at most `limit`.
    struct Queue {
        std::string bytes;
        size_t head = 0;
        size_t size() const { return bytes.size() - head; }
        const char* data() const { return bytes.data() + head; }
        void consume(size_t n);
    };

    bool stopRequested() const;
    // The master side: what can be read goes to the module's queue (or is
    // dropped and counted while the module is away and the queue is full);
    // what the module sent goes out.
    void readTerminal();
    void writeTerminal();
    // False when the connection dropped (`reason` says how). `hungUp`: poll
    // reported a hang-up or an error on the socket.
    bool readModule(bool hungUp, QString& reason);
    bool writeModule(QString& reason);
    // One connect through the peer, serving the terminal while it waits.
    int connectPeer(QString& problem);
    int waitWritable(int fd, int timeoutMs);
    void dropped(const QString& reason);

    int master_;
    BridgePeer& peer_;
    Say problem_;
    Say note_;
    BridgeLimits limits_;
    UniqueFd wake_;
    std::atomic<bool> stop_{false};
    bool connected_ = false;
    Queue toModule_;
    Queue toTerminal_;
    uint64_t droppedBytes_ = 0;
    int retryMs_ = 0;
    Clock::time_point connectedAt_{};
    Clock::time_point nextAttempt_{};
    std::atomic<uint64_t> sentToModule_{0};
    std::atomic<uint64_t> sentToTerminal_{0};
};

} // namespace tvx
