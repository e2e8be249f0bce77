// The integer conversion of what the user types, against the C library's
// reading of the same number.
#include "FuzzCheck.h"

#include "text/IntegerText.h"

#include <cerrno>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    int32_t value = 0x5A5A5A5A;
    const bool ok = tvx::textToInt(text, value);
    if (!ok) {
        FUZZ_CHECK(value == 0x5A5A5A5A); // a refusal leaves the value alone
        return 0;
    }

    size_t i = text.find_first_not_of(' ');
    FUZZ_CHECK(i != std::string::npos);
    std::string number = text.substr(i);
    FUZZ_CHECK(number.find_first_of(std::string(" \t\n\0", 4)) == std::string::npos);
    int base = 10;
    if (number[0] == '$' || number[0] == 'x' || number[0] == 'X') {
        number.erase(0, 1);
        base = 16;
    } else if (number.size() > 1 && number[0] == '0' && (number[1] == 'x' || number[1] == 'X')) {
        number.erase(0, 2);
        base = 16;
    }
    FUZZ_CHECK(!number.empty());
    if (base == 16)
        FUZZ_CHECK(number[0] != '-' && number[0] != '+');
    errno = 0;
    char* end = nullptr;
    if (base == 16) {
        const unsigned long long u = std::strtoull(number.c_str(), &end, 16);
        FUZZ_CHECK(errno == 0 && *end == '\0' && u <= 0xFFFFFFFFull);
        FUZZ_CHECK(value == static_cast<int32_t>(static_cast<uint32_t>(u)));
    } else {
        const long long s = std::strtoll(number.c_str(), &end, 10);
        FUZZ_CHECK(errno == 0 && *end == '\0');
        FUZZ_CHECK(s >= INT32_MIN && s <= INT32_MAX && value == s);
    }
    return 0;
}
