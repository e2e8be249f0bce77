#pragma once

#include "firmware/ProgressPacer.h"
#include "platform/UniqueFd.h"

#include <netinet/in.h>

#include <cstdint>
#include <string_view>

namespace tvx {

class WorkerLink;

// The waits of the transfer. Defaults are the module's; tests shorten them.
struct TransferTimings {
    int requestPauseMs = 500;
    int answerWaitMs = 2000;
    int requestSends = 10;
    int blockSends = 3;
    int progressIntervalMs = 40;
};

// The UDP side of a firmware upgrade: the write request to the module's port
// 69 and the stop-and-wait sending of the image in 1024-byte blocks to
// whichever port answered. It owns its socket; the file stays its caller's.
// Progress and stop requests go through the worker's link.
class FirmwareTransfer {
public:
    explicit FirmwareTransfer(WorkerLink& link, TransferTimings timings = {});

    // 0: the module accepted (its answering address is the transfer peer);
    // -7: no acceptable answer; -2: stop requested.
    int requestWrite(uint32_t deviceAddress, uint16_t serverPort, std::string_view fileName,
                     int64_t fileSize);
    // Sends `fileSize` bytes of `fd` from its position. 0: the last block was
    // acknowledged; -8: a block was not acknowledged as required; -9: the file
    // failed to read or ended early; -2: stop requested.
    int sendImage(int fd, int64_t fileSize);

    void close() { socket_.reset(); }
    bool isOpen() const { return socket_.valid(); }
    const sockaddr_in& peer() const { return peer_; }

private:
    enum class Wait { Readable, Timeout, Failed };
    // Waits up to `deadlineMs` from `start` for a datagram; flushes the pacer
    // when the wait outlasts a frame so the window shows the packet waited on.
    Wait waitReadable(int64_t deadlineMs);
    // One datagram that is not ignored: from the address of `expected` (any
    // port), within the wait. Length, or -1 on error / timeout in `wait`.
    ssize_t receiveFrom(const sockaddr_in& expected, int64_t deadlineMs, uint8_t* out,
                        sockaddr_in* sender, Wait& wait);
    bool pauseUnlessStopped(int ms);

    WorkerLink& link_;
    TransferTimings timings_;
    ProgressPacer pacer_;
    UniqueFd socket_;
    sockaddr_in peer_{};
};

} // namespace tvx
