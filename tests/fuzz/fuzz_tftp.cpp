// The firmware transfer's datagrams: the write request for any file name and
// size, and the module's answers to it and to each data block.
// Input: 8 bytes of file size, a name length byte and the name, then answers,
// each one length byte (modulo 101) and its bytes.
#include "FuzzCheck.h"

#include "firmware/TftpWrite.h"

#include <memory>
#include <string>
#include <string_view>

namespace {

// Reads the request back field by field; false where it is not what was asked.
bool requestSays(const uint8_t* r, size_t length, std::string_view name, int64_t size)
{
    const std::string digits = std::to_string(size);
    std::string expected("\x00\x02", 2);
    for (std::string_view part : {name, std::string_view("octet"), std::string_view("blksize=1024"),
                                  std::string_view("tsize"), std::string_view(digits)}) {
        expected.append(part);
        expected.push_back('\0');
    }
    return expected.size() == length && std::memcmp(expected.data(), r, length) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Input in(data, size);
    uint64_t raw = 0;
    for (int i = 0; i < 8; ++i)
        raw = (raw << 8) | in.byte();
    // A firmware file has at least one byte; the rest of the range is fair game.
    const int64_t fileSize = static_cast<int64_t>(raw & 0x7FFFFFFFFFFFFFFFull) | 1;
    size_t nameLength = 0;
    const uint8_t* nameBytes = in.take(in.byte(), nameLength);
    const std::string path(reinterpret_cast<const char*>(nameBytes), nameLength);

    const std::string_view name = tvx::firmwareFileName(path);
    FUZZ_CHECK(name.find_first_of("/\\:") == std::string_view::npos);
    FUZZ_CHECK(path.size() >= name.size()
               && path.compare(path.size() - name.size(), name.size(), name) == 0);

    std::unique_ptr<uint8_t[]> request(new uint8_t[tvx::kRequestRoom]);
    const size_t length = tvx::buildWriteRequest(name, fileSize, request.get());
    const bool fits = name.size() <= tvx::longestFileName(fileSize);
    FUZZ_CHECK((length != 0) == fits);
    FUZZ_CHECK(length <= tvx::kRequestRoom);
    if (length) {
        FUZZ_CHECK(length == tvx::writeRequestLength(name.size(), fileSize));
        FUZZ_CHECK(requestSays(request.get(), length, name, fileSize));
    }

    // Answers: the first to the request, the others to blocks 1, 2, ...
    uint32_t block = 0;
    while (in.left()) {
        size_t got = 0;
        const uint8_t* bytes = in.take(in.byte() % (tvx::kReceiveRoom + 1), got);
        std::unique_ptr<uint8_t[]> answer(new uint8_t[got ? got : 1]);
        std::memcpy(answer.get(), bytes, got);
        if (block == 0) {
            const bool accepted = tvx::isOptionAck(answer.get(), got);
            FUZZ_CHECK(accepted == (got >= 2 && bytes[0] == 0 && bytes[1] == 6));
            if (!accepted)
                break;
        } else {
            uint8_t packet[tvx::kDataHeader];
            tvx::putDataHeader(block, packet);
            const bool acked = tvx::isAckFor(answer.get(), got, block);
            // An acknowledgement carries the very block-number bytes of the packet.
            FUZZ_CHECK(acked
                       == (got == 4 && bytes[0] == 0 && bytes[1] == 4 && bytes[2] == packet[2]
                           && bytes[3] == packet[3]));
            FUZZ_CHECK(packet[0] == 0 && packet[1] == 3);
            if (!acked)
                break;
        }
        if (block == 0) {
            // The first block answered may lie anywhere, so that the wrap of
            // the 16-bit number past 65535 blocks is reached too.
            const uint32_t high = in.byte();
            block = 1 + (high << 8 | in.byte());
        } else {
            ++block;
        }
    }
    return 0;
}
