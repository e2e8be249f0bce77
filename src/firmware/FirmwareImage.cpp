#include "firmware/FirmwareImage.h"

#include "platform/RegularFile.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace tvx {

bool FirmwareImage::open(const char* path)
{
    close();
    size_ = 0;
    // The file was checked when it was chosen, but it may have been swapped
    // for a FIFO since: only what is read is judged.
    UniqueFd fd;
    struct stat st {};
    if (openRegularFile(path, fd, st) != FileOpen::Regular || st.st_size <= 0)
        return false;
    if (::lseek(fd.get(), 0, SEEK_SET) != 0)
        return false;
    size_ = st.st_size;
    fd_ = std::move(fd);
    return true;
}

ssize_t readFully(int fd, uint8_t* out, size_t room)
{
    size_t got = 0;
    while (got < room) {
        const ssize_t n = ::read(fd, out + got, room - got);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (n == 0)
            break;
        got += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(got);
}

} // namespace tvx
