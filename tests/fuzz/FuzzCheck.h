#pragma once

// What every fuzz target shares: a check that stops the process with a
// message, so that libFuzzer (and the corpus replay under ctest) records a
// broken property as a finding, not only a sanitizer report.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);     \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

namespace fuzz {

// Reads the input front to back; past its end every read gives zeros.
class Input {
public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    size_t left() const { return size_ - at_; }
    uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    // Up to `wanted` bytes; fewer at the end of the input.
    const uint8_t* take(size_t wanted, size_t& got)
    {
        got = wanted < left() ? wanted : left();
        const uint8_t* p = data_ + at_;
        at_ += got;
        return p;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

// A field of fixed room holds its text and a terminating zero within it.
template <size_t N>
bool terminated(const char (&field)[N])
{
    return strnlen(field, N) < N;
}

} // namespace fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
