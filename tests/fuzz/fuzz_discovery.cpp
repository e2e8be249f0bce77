// A discovery reply as any host on the LAN may send it to the search's port.
#include "FuzzCheck.h"

#include "discovery/DiscoveryDatagram.h"

#include <algorithm>
#include <memory>

using fuzz::terminated;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The search reads at most this much of a datagram; the copy on the heap
    // lets the address sanitizer see a read past the bytes received.
    size = std::min(size, tvx::kDiscoveryReplyMax);
    std::unique_ptr<uint8_t[]> datagram(new uint8_t[size ? size : 1]);
    if (size)
        std::memcpy(datagram.get(), data, size);

    tvx::DiscoveryRecord record;
    std::memset(&record, 0x7E, sizeof record);
    if (!tvx::parseReply(datagram.get(), size, record))
        return 0;

    // Every field the device table copies must end within its room.
    FUZZ_CHECK(terminated(record.macText));
    FUZZ_CHECK(terminated(record.ipText));
    FUZZ_CHECK(terminated(record.modelName));
    FUZZ_CHECK(terminated(record.deviceName));
    FUZZ_CHECK(terminated(record.deviceMode));
    FUZZ_CHECK(terminated(record.passwordState));
    FUZZ_CHECK(record.ipText[0] == '\0'); // the caller's, from the sender
    FUZZ_CHECK(size >= 2 && datagram[0] == 0xAA && datagram[size - 1] == 0x55);
    const size_t mac = std::strlen(record.macText);
    FUZZ_CHECK(mac == 0 || mac == 17);
    FUZZ_CHECK(!std::strcmp(record.passwordState, "") || !std::strcmp(record.passwordState, "Yes")
               || !std::strcmp(record.passwordState, "None"));
    FUZZ_CHECK(!std::strcmp(record.deviceMode, "") || !std::strcmp(record.deviceMode, "Normal"));
    return 0;
}
