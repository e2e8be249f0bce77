#include "config/CfgItems.h"

#include <cstring>

namespace tvx {

int findItem(const ComboTable& table, const char* text)
{
    for (size_t i = 0; i < table.items.size(); ++i) {
        if (std::strcmp(table.items[i], text) == 0)
            return static_cast<int>(i);
    }
    return -1;
}

int parityIndexFromChar(char c)
{
    switch (c) {
    case 'E':
        return 1;
    case 'O':
        return 2;
    case 'S':
        return 3;
    case 'M':
        return 4;
    default:
        return 0;
    }
}

int dataBitsIndexFromChar(char c)
{
    switch (c) {
    case '5':
        return 0;
    case '6':
        return 1;
    case '7':
        return 2;
    default:
        return 3;
    }
}

int stopBitsIndexFromChar(char c)
{
    return c == '2' ? 1 : 0;
}

char parityCharFromIndex(int index)
{
    if (index < 0 || index >= static_cast<int>(cfgitems::kParityItems.size()))
        return 'N';
    return cfgitems::kParityItems[static_cast<size_t>(index)][0];
}

} // namespace tvx
