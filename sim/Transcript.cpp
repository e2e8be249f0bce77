#include "Transcript.h"

#include <chrono>

namespace tvx::sim {

Transcript::Transcript(const std::string& path) : path_(path)
{
    if (!path.empty())
        file_ = std::fopen(path.c_str(), "a");
}

Transcript::~Transcript()
{
    if (file_)
        std::fclose(file_);
}

void Transcript::write(int id, const char* proto, const char* event, const std::string& data)
{
    if (!file_)
        return;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::system_clock::now().time_since_epoch())
                        .count();
    std::fprintf(file_, "%lld %d %s %s%s%s\n", static_cast<long long>(ms), id, proto, event,
                 data.empty() ? "" : " ", data.c_str());
    std::fflush(file_);
}

void Transcript::bytes(int id, const char* proto, const char* event, const std::uint8_t* data,
                       std::size_t size)
{
    // Without a transcript nothing is written: a firmware transfer would
    // otherwise format every block in hex for nothing.
    if (!file_)
        return;
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        hex += digits[data[i] >> 4];
        hex += digits[data[i] & 15];
    }
    write(id, proto, event, hex);
}

void Transcript::clear()
{
    if (!file_)
        return;
    // Truncate in place; ids keep counting so a test never sees an id twice.
    std::fclose(file_);
    file_ = std::fopen(path_.c_str(), "w");
}

} // namespace tvx::sim
