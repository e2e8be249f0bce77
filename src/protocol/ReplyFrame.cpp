#include "protocol/ReplyFrame.h"

#include <cstring>

namespace tvx {

int frameReply(const char* received, size_t n, char* destination)
{
    if (n < 3 || received[0] != '%' || received[n - 2] != '\r' || received[n - 1] != '\n')
        return -2;
    const size_t textLength = n - 3;
    std::memcpy(destination, received + 1, textLength);
    destination[textLength] = '\0';
    return static_cast<int>(textLength);
}

} // namespace tvx
