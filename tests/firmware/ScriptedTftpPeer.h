#pragma once

#include "platform/UniqueFd.h"

#include <QByteArray>
#include <QList>

#include <netinet/in.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace tvx::test {

// A module's transfer side on 127.0.0.1, scripted per test: it answers the
// write request on one port and takes the data on another (as a TFTP server
// picks a port per transfer), and lets the test decide every answer.
class ScriptedTftpPeer {
public:
    // What goes back for one received data packet; `attempt` counts the sends
    // of that block (0 first). Each entry is sent from the transfer port,
    // unless `foreign` asks for a third port.
    struct Reply {
        QByteArray bytes;
        bool foreign = false;
    };
    using DataScript = std::function<QList<Reply>(uint16_t block, int attempt)>;

    ScriptedTftpPeer();
    ~ScriptedTftpPeer();

    uint16_t serverPort() const { return port(server_); }
    uint16_t transferPort() const { return port(transfer_); }

    // The answer to each write request (empty: none), and the data script.
    // By default: option ack, and an ack for every block.
    void answerRequest(QByteArray answer) { requestAnswer_ = std::move(answer); }
    // Answers the request from 127.0.0.2, an address the module does not have.
    void answerFromOtherAddress() { otherAddress_ = true; }
    void onData(DataScript script) { script_ = std::move(script); }
    void start();
    // Waits until the peer has been idle for `idleMs` and stops it.
    void finish(int idleMs = 300);

    static QByteArray ack(uint16_t block);
    static QByteArray optionAck();

    // What arrived, in order.
    QList<QByteArray> requests() const;
    QList<QByteArray> dataPackets() const;
    // Data packets that arrived on the request port (they must not).
    int strayOnServerPort() const;
    QByteArray image() const; // the payloads of the distinct blocks in order

private:
    static uint16_t port(const UniqueFd& fd);
    void run();
    void sendFrom(const UniqueFd& fd, const QByteArray& bytes, const sockaddr_in& to);

    UniqueFd server_, transfer_, foreign_, otherHost_;
    bool otherAddress_ = false;
    QByteArray requestAnswer_;
    DataScript script_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    int idleMs_ = 300;
    mutable std::mutex lock_;
    QList<QByteArray> requests_, data_;
    int stray_ = 0;
};

} // namespace tvx::test
