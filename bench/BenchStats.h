#pragma once

// Small helpers shared by the bench programs: order statistics and the
// process's resident memory.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace tvx::bench {

// The value below which `q` (0..1) of the samples lie (nearest rank).
inline double quantile(std::vector<double> v, double q)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    size_t rank = static_cast<size_t>(q * static_cast<double>(v.size()) + 0.999999);
    rank = std::clamp<size_t>(rank, 1, v.size());
    return v[rank - 1];
}

inline double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// VmRSS of this process in KiB, 0 when unreadable.
inline long residentKiB()
{
    FILE* f = std::fopen("/proc/self/status", "r");
    if (!f)
        return 0;
    char line[256];
    long kib = 0;
    while (std::fgets(line, sizeof line, f)) {
        if (std::strncmp(line, "VmRSS:", 6) == 0) {
            kib = std::atol(line + 6);
            break;
        }
    }
    std::fclose(f);
    return kib;
}

} // namespace tvx::bench
