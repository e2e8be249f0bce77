#pragma once

#include "platform/UniqueFd.h"

#include <cstddef>
#include <cstdint>
#include <sys/types.h>

namespace tvx {

// The firmware file as the upgrade worker sends it: opened read-only, known to
// be a regular file of at least one byte, closed with its owner on every path.
class FirmwareImage {
public:
    // False when nothing regular exists at `path`, it does not open, or it is
    // empty. A folder opens on Linux, so it is refused here explicitly.
    bool open(const char* path);
    void close() { fd_.reset(); }
    bool isOpen() const { return fd_.valid(); }

    int64_t size() const { return size_; }
    int fd() const { return fd_.get(); }

private:
    UniqueFd fd_;
    int64_t size_ = 0;
};

// Reads up to `room` bytes at the file's position, going on after short reads
// until `room` bytes or the end of the file. -1 on a read error.
ssize_t readFully(int fd, uint8_t* out, size_t room);

} // namespace tvx
