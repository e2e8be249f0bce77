#include "firmware/TftpWrite.h"

#include <cstdio>
#include <cstring>

namespace tvx {

namespace {
constexpr std::string_view kMode = "octet";
constexpr std::string_view kBlockOption = "blksize=1024";
constexpr std::string_view kSizeOption = "tsize";

size_t decimalDigits(int64_t value, char* out)
{
    return static_cast<size_t>(std::snprintf(out, 24, "%lld", static_cast<long long>(value)));
}
} // namespace

std::string_view firmwareFileName(std::string_view path)
{
    // "\" and ":" are the separators of the paths this protocol was made for;
    // they still end a name here, beside "/".
    const size_t cut = path.find_last_of("/\\:");
    return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

size_t writeRequestLength(size_t nameLength, int64_t fileSize)
{
    char digits[24];
    return nameLength + decimalDigits(fileSize, digits) + 29;
}

size_t longestFileName(int64_t fileSize)
{
    const size_t fixed = writeRequestLength(0, fileSize);
    return fixed >= kRequestRoom ? 0 : kRequestRoom - fixed;
}

size_t buildWriteRequest(std::string_view fileName, int64_t fileSize, uint8_t* out)
{
    char digits[24];
    const size_t digitCount = decimalDigits(fileSize, digits);
    const size_t length = fileName.size() + digitCount + 29;
    if (length > kRequestRoom)
        return 0;

    size_t at = 0;
    const auto put = [&](std::string_view text) {
        std::memcpy(out + at, text.data(), text.size());
        at += text.size();
        out[at++] = 0x00;
    };
    out[at++] = 0x00;
    out[at++] = 0x02;
    put(fileName);
    put(kMode);
    put(kBlockOption);
    put(kSizeOption);
    put(std::string_view(digits, digitCount));
    return at;
}

bool isOptionAck(const uint8_t* data, size_t length)
{
    return length >= 2 && data[0] == 0x00 && data[1] == 0x06;
}

void putDataHeader(uint32_t block, uint8_t* packet)
{
    packet[0] = 0x00;
    packet[1] = 0x03;
    packet[2] = static_cast<uint8_t>((block >> 8) & 0xFF);
    packet[3] = static_cast<uint8_t>(block & 0xFF);
}

bool isAckFor(const uint8_t* data, size_t length, uint32_t block)
{
    return length == kAckLength && data[0] == 0x00 && data[1] == 0x04
        && data[2] == static_cast<uint8_t>((block >> 8) & 0xFF)
        && data[3] == static_cast<uint8_t>(block & 0xFF);
}

} // namespace tvx
