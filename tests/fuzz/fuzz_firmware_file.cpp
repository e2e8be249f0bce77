// A firmware file of any content, as the dialogs check it and as the upgrade
// worker reads it block by block. The file lives in memory (memfd) and is
// named through /proc/self/fd, so the target touches no disk.
#include "FuzzCheck.h"

#include "firmware/FirmwareImage.h"
#include "firmware/FirmwareRecognition.h"
#include "firmware/TftpWrite.h"

#include <QByteArray>

#include <sys/mman.h>
#include <unistd.h>

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const int fd = ::memfd_create("firmware", MFD_CLOEXEC);
    FUZZ_CHECK(fd >= 0);
    FUZZ_CHECK(::write(fd, data, size) == static_cast<ssize_t>(size));
    const QByteArray path = "/proc/self/fd/" + QByteArray::number(fd);

    const tvx::FirmwareCheck check = tvx::recogniseFirmwareFile(path);
    const bool magic = size >= 3 && data[0] == 0x55 && data[1] == 0xAA && data[2] == 0xF1;
    if (size < 3)
        FUZZ_CHECK(check == tvx::FirmwareCheck::ReadFailed);
    else
        FUZZ_CHECK(check
                   == (magic ? tvx::FirmwareCheck::Accepted : tvx::FirmwareCheck::Unrecognised));
    FUZZ_CHECK(tvx::firmwareCheckMessage(check, path).isEmpty()
               == (check == tvx::FirmwareCheck::Accepted));

    // The worker's view: an empty file is refused, any other is sent whole,
    // in file order, the recognition bytes included.
    tvx::FirmwareImage image;
    const bool opened = image.open(path.constData());
    FUZZ_CHECK(opened == (size > 0));
    if (opened) {
        FUZZ_CHECK(image.size() == static_cast<int64_t>(size));
        std::vector<uint8_t> sent;
        uint8_t block[tvx::kBlockSize];
        for (;;) {
            const ssize_t got = tvx::readFully(image.fd(), block, sizeof block);
            FUZZ_CHECK(got >= 0);
            sent.insert(sent.end(), block, block + got);
            if (static_cast<size_t>(got) < sizeof block)
                break;
        }
        FUZZ_CHECK(sent.size() == size && std::memcmp(sent.data(), data, size) == 0);
    }
    image.close();
    ::close(fd);
    return 0;
}
