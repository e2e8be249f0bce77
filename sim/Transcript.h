#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace tvx::sim {

// The record of everything one module received and sent, one line per event, flushed at once
// so a test can read it while the module runs:
//
//   <ms since epoch> <exchange id> <tcp|disc|tftp> <event> [data]
//
// event is open (data: peer ip:port), recv and send (data: the bytes in lower-case hex), close
// (data: reason) or note (data: free text). Each TCP connection, each discovery request and
// each firmware transfer is one exchange with its own id.
class Transcript {
public:
    Transcript() = default;
    explicit Transcript(const std::string& path);
    Transcript(const Transcript&) = delete;
    Transcript& operator=(const Transcript&) = delete;
    ~Transcript();

    int newExchange() { return ++lastId_; }
    void write(int id, const char* proto, const char* event, const std::string& data = {});
    void bytes(int id, const char* proto, const char* event, const std::uint8_t* data,
               std::size_t size);
    void clear();

private:
    std::string path_;
    std::FILE* file_ = nullptr;
    int lastId_ = 0;
};

} // namespace tvx::sim
