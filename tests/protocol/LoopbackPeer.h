#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tvx::test {

// A module stand-in on 127.0.0.1 for the command connection's tests: it
// accepts connections one after another, reads command lines and answers each
// as its responder says (segments, delays, silence, closing). Every byte it
// receives is kept per connection, so tests assert on what went over the wire.
class LoopbackPeer {
public:
    struct Answer {
        std::vector<std::string> segments; // sent one by one; none: silence
        int delayMs = 0; // before the first segment
        int gapMs = 0; // between segments
        bool close = false; // close the connection after answering
    };
    // Called for each line received (CR LF included, leading zero bytes of a
    // previous line's terminator dropped); `index` counts lines per connection.
    using Responder = std::function<Answer(const std::string& line, int index)>;

    // Port 0 picks a free one.
    explicit LoopbackPeer(Responder responder, uint16_t port = 0);
    ~LoopbackPeer();
    LoopbackPeer(const LoopbackPeer&) = delete;
    LoopbackPeer& operator=(const LoopbackPeer&) = delete;

    uint16_t port() const { return port_; }
    bool listening() const { return listenFd_ >= 0; }

    // Raw bytes and lines per accepted connection, in order.
    std::vector<std::string> rawTranscripts() const;
    std::vector<std::vector<std::string>> lineTranscripts() const;
    int connectionCount() const;
    // Waits until `count` connections have ended (the client closed).
    bool waitClosedConnections(int count, int timeoutMs) const;

    // Stops accepting new connections; the port refuses from then on.
    void stopListening();

    // A reply line with "%" and CR LF around `text`.
    static std::string line(const std::string& text) { return "%" + text + "\r\n"; }

private:
    void run();
    void serve(int fd);

    Responder responder_;
    int listenFd_ = -1;
    int wakeFd_[2] = {-1, -1};
    uint16_t port_ = 0;
    mutable std::mutex lock_;
    mutable std::condition_variable changed_;
    std::vector<std::string> raw_;
    std::vector<std::vector<std::string>> lines_;
    int closed_ = 0;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace tvx::test
