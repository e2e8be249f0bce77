// A module's answers to the whole read sequence, one receive per command:
// each receive framed as a reply line, its text stored into the record by the
// command table, and then every write line formatted back from that record.
// Input: per receive one length byte (taken modulo 129), then that many bytes.
#include "FuzzCheck.h"

#include "protocol/CommandConnection.h"
#include "protocol/CommandTable.h"
#include "protocol/ReplyFrame.h"

#include <memory>

using fuzz::terminated;

namespace {

void checkRecord(const tvx::SettingsRecord& r)
{
    FUZZ_CHECK(terminated(r.devName) && terminated(r.fmwVer) && terminated(r.sp0_baud));
    FUZZ_CHECK(terminated(r.sp0_dataFmt) && terminated(r.sp0_fc) && terminated(r.sp0_if));
    FUZZ_CHECK(terminated(r.sp0_dpCtrl) && terminated(r.sp0_dpLen) && terminated(r.sp0_dpTm));
    FUZZ_CHECK(terminated(r.sp0_dpStr) && terminated(r.lanIp) && terminated(r.lanMask));
    FUZZ_CHECK(terminated(r.lanGw) && terminated(r.lanIpCfg) && terminated(r.lanPingEn));
    FUZZ_CHECK(terminated(r.lanMac) && terminated(r.lanStatus) && terminated(r.sp0_opmode));
    FUZZ_CHECK(terminated(r.sp0_tcpslport) && terminated(r.sp0_tcpcrip));
    FUZZ_CHECK(terminated(r.sp0_tcpcrport) && terminated(r.sp0_tcpcat) && terminated(r.diolp));
    FUZZ_CHECK(r.webEn == 0 || r.webEn == 1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using tvx::CommandConnection;
    fuzz::Input in(data, size);
    tvx::SettingsRecord record{};
    // The connection's reply buffer, exactly as large, on the heap.
    std::unique_ptr<char[]> reply(new char[CommandConnection::kReplyRoom]());

    for (const tvx::ReadStep& step : tvx::readSteps()) {
        if (in.left() == 0)
            break;
        size_t got = 0;
        const uint8_t* bytes = in.take(in.byte() % (CommandConnection::kReceiveRoom + 1), got);
        if (got == 0)
            break; // the peer closed: the receive fails before any framing
        std::unique_ptr<char[]> received(new char[got]);
        std::memcpy(received.get(), bytes, got);

        const int n = tvx::frameReply(received.get(), got, reply.get());
        if (n < 0) {
            FUZZ_CHECK(n == -2);
            break;
        }
        FUZZ_CHECK(static_cast<size_t>(n) == got - 3);
        FUZZ_CHECK(reply[n] == '\0');
        if (n < 1)
            break; // an empty reply text fails the read
        if (!tvx::storeReadReply(step, reply.get(), static_cast<size_t>(n), record))
            break;
        checkRecord(record);
    }
    checkRecord(record);

    // Whatever the module sent comes back in the write lines: each must be one
    // line that fits the write worker's buffer, cut at no value's zero.
    record.passwdChg = in.byte() & 1;
    constexpr size_t kLineRoom = 512;
    std::unique_ptr<char[]> line(new char[kLineRoom]);
    for (const tvx::WriteLine& w : tvx::writeLines()) {
        const bool applies = tvx::writeLineApplies(w, record);
        const size_t length = tvx::formatWriteLine(w, record, line.get(), kLineRoom);
        FUZZ_CHECK(length >= 6 && length < kLineRoom);
        FUZZ_CHECK(std::strlen(line.get()) == length);
        FUZZ_CHECK(line[0] == '$' && line[length - 2] == '\r' && line[length - 1] == '\n');
        (void)applies;
    }
    return 0;
}
