#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace tvx::netpin {

// What one helper made, as it writes it down before each change.
struct OwnedNeighbour {
    uint32_t address = 0;
    int ifIndex = 0;
    std::array<uint8_t, 6> mac{};
};
struct OwnedRoute {
    uint32_t address = 0;
    int ifIndex = 0;
};
struct OwnedEntries {
    std::vector<OwnedNeighbour> neighbours;
    std::vector<OwnedRoute> routes;

    bool claimsNeighbour(uint32_t address, int ifIndex) const;
    bool claimsRoute(uint32_t address, int ifIndex) const;
    void add(const OwnedEntries& other);
};

// One record per running helper in a folder of the user's own: what it made,
// next to a lock file that it holds for as long as it runs. A record whose
// lock nobody holds belongs to a helper that is gone (killed with its
// caller, or on its own). Records are the user's files and may say anything:
// they decide only which entries carrying the helper's mark are removed or
// kept, never anything else.
class OwnerRecords {
public:
    OwnerRecords() = default;
    ~OwnerRecords();
    OwnerRecords(const OwnerRecords&) = delete;
    OwnerRecords& operator=(const OwnerRecords&) = delete;

    // Makes the folder (when needed) and this helper's locked record. False
    // with `error` when the folder is missing or not the user's alone.
    bool open(std::string& error);
    bool isOpen() const { return ownLock_ >= 0; }

    // Replaces this helper's record. False when it could not be written.
    bool write(const OwnedEntries& entries);

    // What the other running helpers in this network namespace hold.
    OwnedEntries liveClaims() const;

    // Locks the records of the helpers that are gone, in this network
    // namespace, and gives what they made; finishSweep removes them.
    OwnedEntries takeAbandoned();
    void finishSweep();

    // Removes this helper's record (its entries have been removed).
    void close();

private:
    struct Abandoned {
        std::string id;
        int lockFd;
    };
    bool readRecord(const std::string& id, OwnedEntries& out) const;

    int dir_ = -1;
    int ownLock_ = -1;
    std::string ownId_;
    std::string netns_;
    std::vector<Abandoned> abandoned_;
};

} // namespace tvx::netpin
