#include "text/IntegerText.h"

namespace tvx {

namespace {

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool readHex(std::string_view digits, int32_t& value)
{
    if (digits.empty())
        return false;
    uint32_t result = 0;
    int significant = 0;
    for (const char c : digits) {
        const int d = hexDigit(c);
        if (d < 0)
            return false;
        if (significant > 0 || d != 0)
            ++significant;
        if (significant > 8)
            return false;
        result = (result << 4) | static_cast<uint32_t>(d);
    }
    value = static_cast<int32_t>(result);
    return true;
}

bool readDecimal(std::string_view digits, bool negative, int32_t& value)
{
    if (digits.empty())
        return false;
    // One past INT32_MAX is allowed only with a minus sign.
    const int64_t limit = negative ? 2147483648LL : 2147483647LL;
    int64_t result = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return false;
        result = result * 10 + (c - '0');
        if (result > limit)
            return false;
    }
    value = static_cast<int32_t>(negative ? -result : result);
    return true;
}

} // namespace

bool textToInt(std::string_view text, int32_t& value)
{
    size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    text.remove_prefix(i);
    if (text.empty())
        return false;

    if (text[0] == '$' || text[0] == 'x' || text[0] == 'X')
        return readHex(text.substr(1), value);
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        return readHex(text.substr(2), value);

    bool negative = false;
    if (text[0] == '+' || text[0] == '-') {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    return readDecimal(text, negative, value);
}

} // namespace tvx
