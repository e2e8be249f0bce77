#pragma once

#include "Faults.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tvx::sim {

// One datagram the receiver wants sent back, and from which of the module's sockets.
struct TftpPacket {
    enum class From { TransferPort, ForeignPort };
    std::vector<std::uint8_t> bytes;
    From from = From::TransferPort;
};

// The module's side of one firmware write transfer, without sockets: it takes the write
// request and the data packets and says what to send back. It accepts the options both as
// the modules' own single string ("blksize=1024") and as name and value in two strings, and
// keeps the whole image so the caller can check it and take the new version from it.
class TftpReceiver {
public:
    enum class State { WaitingRequest, Receiving, Complete, Failed };

    explicit TftpReceiver(const Faults& faults) : faults_(faults) {}

    std::vector<TftpPacket> onRequest(const std::uint8_t* data, std::size_t size);
    std::vector<TftpPacket> onData(const std::uint8_t* data, std::size_t size);

    State state() const { return state_; }
    const std::string& failure() const { return failure_; }
    const std::string& fileName() const { return fileName_; }
    bool optionsInModuleForm() const { return moduleForm_; }
    unsigned blockSize() const { return blockSize_; }
    long declaredSize() const { return tsize_; }
    unsigned long blocksReceived() const { return blocks_; }
    const std::vector<std::uint8_t>& image() const { return image_; }

    // After Complete: whether the image may be flashed (its length is the declared size and it
    // begins 55 AA F1), and the version text it carries after those three bytes.
    bool imageValid(std::string* why = nullptr) const;
    std::string imageVersion() const;

    static std::vector<std::uint8_t> ack(unsigned block);
    static std::vector<std::uint8_t> error(unsigned code, const std::string& text);

private:
    std::vector<TftpPacket> fail(unsigned code, const std::string& text);
    std::vector<TftpPacket> acknowledge(unsigned block);

    const Faults& faults_;
    State state_ = State::WaitingRequest;
    std::string failure_;
    std::string fileName_;
    bool moduleForm_ = false;
    unsigned blockSize_ = 512;
    long tsize_ = -1;
    unsigned long blocks_ = 0;
    std::vector<std::uint8_t> image_;
    std::vector<unsigned long> dropped_; // block numbers whose ack was already dropped, per drop
};

} // namespace tvx::sim
