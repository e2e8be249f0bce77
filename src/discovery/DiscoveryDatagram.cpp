#include "discovery/DiscoveryDatagram.h"

#include "handover/RecordText.h"
#include "net/Ipv4.h"

#include <algorithm>
#include <cstring>

namespace tvx {

namespace {

enum class ItemSize {
    Fixed, // the type fixes the item's size; the length byte is not read
    LengthByte, // type, length byte L, then L bytes
};

enum class ItemField { None, Mac, ModelName, DeviceName, Password, Mode };

struct ItemType {
    uint8_t type;
    ItemSize size;
    // Whole item (type and length bytes included) for fixed items.
    size_t fixedSize;
    ItemField field;
};

// The reply's item types. A fixed item must end before the datagram's last
// byte; a length-byte item must have its length byte and may end exactly at
// the datagram's end (which then leaves no end marker and the reply invalid).
constexpr ItemType kItemTypes[] = {
    {1, ItemSize::Fixed, 8, ItemField::Mac},
    {2, ItemSize::LengthByte, 0, ItemField::None},
    {3, ItemSize::Fixed, 6, ItemField::None},
    {4, ItemSize::Fixed, 6, ItemField::None},
    {6, ItemSize::LengthByte, 0, ItemField::ModelName},
    {7, ItemSize::LengthByte, 0, ItemField::DeviceName},
    {8, ItemSize::Fixed, 3, ItemField::Password},
    {9, ItemSize::LengthByte, 0, ItemField::None},
    {10, ItemSize::Fixed, 4, ItemField::None},
    {11, ItemSize::Fixed, 3, ItemField::Mode},
    {12, ItemSize::LengthByte, 0, ItemField::None},
};

constexpr uint8_t kReplyStart = 0xAA;
constexpr uint8_t kEndMarker = 0x55;

const ItemType* findItemType(uint8_t type)
{
    for (const ItemType& item : kItemTypes) {
        if (item.type == type)
            return &item;
    }
    return nullptr;
}

// A later name item replaces the earlier one as a whole, so two names never
// mix. Names longer than the field are cut so it keeps its terminating zero.
template <size_t N>
void setName(char (&field)[N], const uint8_t* value, size_t length)
{
    storeField(field,
               QByteArray(reinterpret_cast<const char*>(value), static_cast<qsizetype>(length)));
}

void apply(const ItemType& item, const uint8_t* value, size_t length, DiscoveryRecord& record)
{
    switch (item.field) {
    case ItemField::None:
        break;
    case ItemField::Mac:
        std::memset(record.macText, 0, sizeof record.macText);
        formatMac(value, record.macText);
        break;
    case ItemField::ModelName:
        setName(record.modelName, value, length);
        break;
    case ItemField::DeviceName:
        setName(record.deviceName, value, length);
        break;
    case ItemField::Password:
        storeField(record.passwordState, value[0] == 1 ? "Yes" : "None");
        break;
    case ItemField::Mode:
        // Only a 1 says anything; any other value leaves the mode as it was.
        if (value[0] == 1)
            storeField(record.deviceMode, "Normal");
        break;
    }
}

} // namespace

bool parseReply(const uint8_t* data, size_t n, DiscoveryRecord& record)
{
    if (n == 0 || data[0] != kReplyStart || data[n - 1] != kEndMarker)
        return false;
    std::memset(&record, 0, sizeof record);

    size_t p = 1;
    while (p < n) {
        if (data[p] == kEndMarker)
            return true; // whatever follows the first end marker is ignored
        const ItemType* item = findItemType(data[p]);
        if (!item)
            return false;
        size_t itemSize;
        if (item->size == ItemSize::Fixed) {
            itemSize = item->fixedSize;
            if (!(p + itemSize < n))
                return false;
        } else {
            if (!(p + 1 < n))
                return false;
            const size_t length = data[p + 1];
            if (!(p + 1 + length < n))
                return false;
            itemSize = length + 2;
        }
        apply(*item, data + p + 2, itemSize - 2, record);
        p += itemSize;
    }
    return false; // ran out of bytes without meeting the end marker
}

} // namespace tvx
