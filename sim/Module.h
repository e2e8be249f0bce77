#pragma once

#include "CommandSession.h"
#include "EventLoop.h"
#include "Fd.h"
#include "ModuleConfig.h"
#include "TftpReceiver.h"
#include "Transcript.h"

#include <netinet/in.h>

#include <map>
#include <memory>
#include <string>

namespace tvx::sim {

struct Ports {
    std::uint16_t discovery = 5000;
    std::uint16_t command = 23;
    std::uint16_t transfer = 69;
};

// One simulated module on the network: its discovery, command and transfer sockets, its live
// settings, and the restart that follows "$SEI", "$SER" or a firmware update. A module in TCP
// server mode ("TS") also listens on its data port (tcpslport) and echoes every byte, as a
// serial device wired back to itself would. When the module
// has a link of its own, every socket is bound to that link, so a broadcast reaches each module
// once and each answer leaves through the module's own MAC.
class Module {
public:
    Module(EventLoop& loop, ModuleConfig config, Ports ports, const std::string& transcriptPath);
    ~Module();
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    bool start(std::string* error);

    const std::string& name() const { return config_.name; }
    ModuleConfig& config() { return config_; }
    Faults& faults() { return config_.faults; }
    bool up() const { return up_; }
    bool armed() const { return armed_; }
    Transcript& transcript() { return transcript_; }
    // Key=value lines describing the module's state, for the control socket.
    std::string describe() const;

    // Opens or closes the command listener when "noaccept" was switched at run time.
    void faultsChanged();
    // Goes silent for the configured time, then answers again with its current settings.
    void restart(const char* reason);
    // Opens, moves or closes the data port after a change of opmode or tcpslport at run time.
    void settingsChanged();
    // Closes every data connection; the data port then refuses connections for `refuseMs`.
    void dropDataConnections(int refuseMs);

private:
    struct Connection {
        Fd fd;
        int id = 0;
        std::string input;
        std::unique_ptr<CommandSession> session;
    };
    // One connection to the data port and the echo it still has to send.
    struct DataLink {
        Fd fd;
        int id = 0;
        std::string out;
        std::uint64_t echoed = 0;
        bool reading = true;
    };
    struct Transfer {
        Fd fd;
        Fd foreign;
        int id = 0;
        sockaddr_in peer{};
        std::unique_ptr<TftpReceiver> receiver;
        EventLoop::TimerId idleTimer = 0;
        bool completed = false;
    };

    Fd openUdp(std::uint16_t port, std::string* error);
    bool openListener(std::string* error);
    void closeConnections(const char* reason);
    void openDataPort();
    void closeDataPort();
    void closeDataLinks(const char* reason);
    void onDataAccept();
    void onDataReadable(int fd);
    void flushData(int fd);
    void dropDataLink(int fd, const std::string& reason);
    void takeNewAddress();

    void onDiscovery();
    void floodTick();
    void onAccept();
    void onConnectionData(int fd);
    void dropConnection(int fd, const char* reason);
    void deliver(int fd, int connectionId, const CommandOutcome& outcome);
    void sendOnConnection(int fd, int connectionId, const std::string& bytes);
    void onTransferRequest();
    void onTransferData();
    void sendTransferPackets(const std::vector<TftpPacket>& packets);
    void endTransfer(const char* reason);
    void touchTransfer();

    EventLoop& loop_;
    ModuleConfig config_;
    Ports ports_;
    Transcript transcript_;
    Fd discovery_;
    Fd listener_;
    Fd tftp_;
    std::map<int, Connection> connections_;
    Fd dataListener_;
    std::string dataPort_; // the port the listener is bound to
    std::map<int, DataLink> dataLinks_;
    EventLoop::TimerId dataRefuseTimer_ = 0;
    std::unique_ptr<Transfer> transfer_;
    bool up_ = true;
    bool armed_ = false;
    EventLoop::TimerId armTimer_ = 0;
    EventLoop::TimerId upTimer_ = 0;
    // "disc-flood": where the invalid replies go, and until when.
    EventLoop::TimerId floodTimer_ = 0;
    sockaddr_in floodTo_{};
    EventLoop::Clock::time_point floodUntil_{};
    std::string appliedAddress_; // address and mask now on the link
    int restarts_ = 0;
    int transfersDone_ = 0;
    std::string lastTransfer_ = "none";
};

} // namespace tvx::sim
