#include "TftpReceiver.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <strings.h>

namespace tvx::sim {

namespace {

constexpr std::uint8_t kWrq = 2, kData = 3, kAck = 4, kError = 5, kOack = 6;

bool allDigits(const std::string& s)
{
    return !s.empty() && s.size() < 10
        && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

std::vector<std::uint8_t> TftpReceiver::ack(unsigned block)
{
    return {0, kAck, static_cast<std::uint8_t>((block >> 8) & 0xFF),
            static_cast<std::uint8_t>(block & 0xFF)};
}

std::vector<std::uint8_t> TftpReceiver::error(unsigned code, const std::string& text)
{
    std::vector<std::uint8_t> out{0, kError, static_cast<std::uint8_t>(code >> 8),
                                  static_cast<std::uint8_t>(code)};
    out.insert(out.end(), text.begin(), text.end());
    out.push_back(0);
    return out;
}

std::vector<TftpPacket> TftpReceiver::fail(unsigned code, const std::string& text)
{
    state_ = State::Failed;
    failure_ = text;
    return {TftpPacket{error(code, text)}};
}

std::vector<TftpPacket> TftpReceiver::onRequest(const std::uint8_t* data, std::size_t size)
{
    if (state_ != State::WaitingRequest)
        return {};
    if (size < 4 || data[0] != 0 || data[1] != kWrq)
        return fail(4, "not a write request");
    if (data[size - 1] != 0)
        return fail(4, "request not zero-terminated");

    std::vector<std::string> parts;
    for (std::size_t i = 2; i < size;) {
        const auto* end = static_cast<const std::uint8_t*>(std::memchr(data + i, 0, size - i));
        parts.emplace_back(reinterpret_cast<const char*>(data + i), end - (data + i));
        i = static_cast<std::size_t>(end - data) + 1;
    }
    if (parts.size() < 2 || parts[0].empty())
        return fail(4, "request without file name or mode");
    fileName_ = parts[0];
    if (strcasecmp(parts[1].c_str(), "octet") != 0)
        return fail(4, "only octet mode");

    bool anyOption = false;
    for (std::size_t i = 2; i < parts.size(); ++i) {
        std::string name = parts[i], value;
        if (const auto eq = name.find('='); eq != std::string::npos) {
            // The modules' own form: name and value in one string.
            value = name.substr(eq + 1);
            name.resize(eq);
            moduleForm_ = true;
        } else {
            if (i + 1 >= parts.size())
                return fail(8, "option '" + name + "' without value");
            value = parts[++i];
        }
        if (strcasecmp(name.c_str(), "blksize") == 0) {
            const long b = allDigits(value) ? std::atol(value.c_str()) : -1;
            if (b < 8 || b > 65464)
                return fail(8, "bad blksize");
            blockSize_ = static_cast<unsigned>(b);
            anyOption = true;
        } else if (strcasecmp(name.c_str(), "tsize") == 0) {
            if (!allDigits(value))
                return fail(8, "bad tsize");
            tsize_ = std::atol(value.c_str());
            anyOption = true;
        }
    }

    if (faults_.has("tftp-silent"))
        return {};
    if (faults_.forBlock("tftp-error", 0))
        return fail(2, "transfer refused");

    state_ = State::Receiving;
    if (faults_.has("tftp-ack-for-oack") || !anyOption)
        return {TftpPacket{ack(0)}};

    std::vector<std::uint8_t> oack{0, kOack};
    auto put = [&](const std::string& s) {
        oack.insert(oack.end(), s.begin(), s.end());
        oack.push_back(0);
    };
    put("blksize");
    put(std::to_string(blockSize_));
    if (tsize_ >= 0) {
        put("tsize");
        put(std::to_string(tsize_));
    }
    return {TftpPacket{oack}};
}

std::vector<TftpPacket> TftpReceiver::acknowledge(unsigned block)
{
    const unsigned long count = blocks_;
    std::vector<TftpPacket> out;

    if (faults_.forBlock("tftp-error", static_cast<long>(count)))
        return fail(3, "write failed");

    if (faults_.forBlock("tftp-drop-ack", static_cast<long>(count))) {
        // "N" drops the first ack of block N; "N:K" drops K of them in a row.
        long times = 1;
        for (const FaultSwitch& s : faults_.all()) {
            if (s.name == "tftp-drop-ack" && s.value.find(':') != std::string::npos)
                times = std::atol(s.value.c_str() + s.value.find(':') + 1);
        }
        const long already = std::count(dropped_.begin(), dropped_.end(), count);
        if (already < times) {
            dropped_.push_back(count);
            return {};
        }
    }

    unsigned carried = block;
    if (faults_.forBlock("tftp-wrong-block", static_cast<long>(count)))
        carried = (block - 1) & 0xFFFF;
    TftpPacket p{ack(carried)};
    if (faults_.forBlock("tftp-ack5", static_cast<long>(count)))
        p.bytes.push_back(0);
    if (faults_.forBlock("tftp-foreign", static_cast<long>(count)))
        p.from = TftpPacket::From::ForeignPort;
    out.push_back(p);
    if (faults_.forBlock("tftp-dup-ack", static_cast<long>(count)))
        out.push_back(p);
    return out;
}

std::vector<TftpPacket> TftpReceiver::onData(const std::uint8_t* data, std::size_t size)
{
    if (state_ != State::Receiving && state_ != State::Complete)
        return {};
    if (size < 4 || data[0] != 0 || data[1] != kData)
        return fail(4, "expected a data packet");
    const unsigned block = (static_cast<unsigned>(data[2]) << 8) | data[3];
    const std::size_t payload = size - 4;
    const unsigned expected = static_cast<unsigned>((blocks_ + 1) & 0xFFFF);
    const unsigned previous = static_cast<unsigned>(blocks_ & 0xFFFF);
    if (state_ == State::Complete) {
        // Only the last block can come again, when its ack was lost.
        return block == previous ? acknowledge(block) : std::vector<TftpPacket>{};
    }

    if (block != expected) {
        // The sender repeats a packet whose ack it missed: acknowledge it again, keep the
        // data once.
        if (blocks_ > 0 && block == previous)
            return acknowledge(block);
        return fail(4,
                    "block " + std::to_string(block) + " where " + std::to_string(expected)
                        + " was due");
    }
    if (payload > blockSize_)
        return fail(4, "block larger than blksize");
    if (tsize_ >= 0 && image_.size() + payload > static_cast<std::size_t>(tsize_))
        return fail(3, "more data than tsize");

    image_.insert(image_.end(), data + 4, data + size);
    ++blocks_;
    if (payload < blockSize_) {
        state_ = State::Complete;
        std::string why;
        if (!imageValid(&why)) {
            // A module that refuses the image says so instead of acknowledging its end.
            state_ = State::Failed;
            failure_ = why;
            return {TftpPacket{error(0, why)}};
        }
    }
    return acknowledge(block);
}

bool TftpReceiver::imageValid(std::string* why) const
{
    auto no = [&](const char* text) {
        if (why)
            *why = text;
        return false;
    };
    if (tsize_ >= 0 && image_.size() != static_cast<std::size_t>(tsize_))
        return no("image length differs from tsize");
    if (image_.size() < 3 || image_[0] != 0x55 || image_[1] != 0xAA || image_[2] != 0xF1)
        return no("image does not begin 55 AA F1");
    return true;
}

std::string TftpReceiver::imageVersion() const
{
    // After the three magic bytes an image carries its version as text up to a zero byte.
    std::string v;
    for (std::size_t i = 3; i < image_.size() && v.size() < 19; ++i) {
        const std::uint8_t c = image_[i];
        if (c == 0 || c < 0x20 || c > 0x7E)
            break;
        v += static_cast<char>(c);
    }
    return v.empty() ? "unknown" : v;
}

} // namespace tvx::sim
