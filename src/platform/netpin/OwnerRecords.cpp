#include "OwnerRecords.h"

#include "NetpinArguments.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sstream>

namespace tvx::netpin {

namespace {

constexpr size_t kMaxRecord = 64 * 1024;

// The folder is the user's alone, or it is not used: its records decide what
// is removed.
bool usableFolder(int fd)
{
    struct stat st {};
    return ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid()
        && (st.st_mode & 077) == 0;
}

int openFolder(std::string& error)
{
    // The runtime folder of the user's login session when there is one; it
    // goes away with the last session, as do the entries' owners.
    const std::string uid = std::to_string(::geteuid());
    const std::string session = "/run/user/" + uid;
    std::string path = session + "/tarvanix-netpin";
    struct stat st {};
    if (::stat(session.c_str(), &st) != 0 || st.st_uid != ::geteuid())
        path = "/tmp/tarvanix-netpin-" + uid;
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        error = "cannot make " + path + ": " + std::strerror(errno);
        return -1;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return -1;
    }
    if (!usableFolder(fd)) {
        ::close(fd);
        error = path + " is not a folder of this user's alone (mode 0700)";
        return -1;
    }
    return fd;
}

std::string networkNamespace()
{
    struct stat st {};
    if (::stat("/proc/self/ns/net", &st) != 0)
        return "unknown";
    return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
}

std::string randomId()
{
    uint8_t bytes[8] = {};
    if (::getrandom(bytes, sizeof bytes, 0) != sizeof bytes) {
        const auto pid = ::getpid();
        std::memcpy(bytes, &pid, sizeof pid);
    }
    char text[17];
    for (int i = 0; i < 8; ++i)
        std::snprintf(text + 2 * i, 3, "%02x", bytes[i]);
    return text;
}

bool isId(const std::string& s)
{
    return s.size() == 16 && s.find_first_not_of("0123456789abcdef") == std::string::npos;
}

std::string macText(const std::array<uint8_t, 6>& mac)
{
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    return text;
}

} // namespace

bool OwnedEntries::claimsNeighbour(uint32_t address, int ifIndex) const
{
    return std::any_of(neighbours.begin(), neighbours.end(), [&](const OwnedNeighbour& n) {
        return n.address == address && n.ifIndex == ifIndex;
    });
}

bool OwnedEntries::claimsRoute(uint32_t address, int ifIndex) const
{
    return std::any_of(routes.begin(), routes.end(), [&](const OwnedRoute& r) {
        return r.address == address && r.ifIndex == ifIndex;
    });
}

void OwnedEntries::add(const OwnedEntries& other)
{
    neighbours.insert(neighbours.end(), other.neighbours.begin(), other.neighbours.end());
    routes.insert(routes.end(), other.routes.begin(), other.routes.end());
}

OwnerRecords::~OwnerRecords()
{
    finishSweep();
    if (ownLock_ >= 0)
        ::close(ownLock_);
    if (dir_ >= 0)
        ::close(dir_);
}

bool OwnerRecords::open(std::string& error)
{
    dir_ = openFolder(error);
    if (dir_ < 0)
        return false;
    netns_ = networkNamespace();
    ownId_ = randomId();
    // Locked before it gets its name, so no sweep ever sees it unlocked.
    const std::string temporary = "tmp-" + ownId_;
    const int fd =
        ::openat(dir_, temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = std::string("cannot make the owner record: ") + std::strerror(errno);
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0
        || ::renameat(dir_, temporary.c_str(), dir_, (ownId_ + ".lock").c_str()) != 0) {
        error = std::string("cannot make the owner record: ") + std::strerror(errno);
        ::unlinkat(dir_, temporary.c_str(), 0);
        ::close(fd);
        return false;
    }
    ownLock_ = fd;
    return write({});
}

bool OwnerRecords::write(const OwnedEntries& entries)
{
    if (ownLock_ < 0)
        return false;
    std::string text = "netns " + netns_ + "\n";
    for (const auto& n : entries.neighbours)
        text += "neigh " + formatAddress(n.address) + " " + std::to_string(n.ifIndex) + " "
            + macText(n.mac) + "\n";
    for (const auto& r : entries.routes)
        text += "route " + formatAddress(r.address) + " " + std::to_string(r.ifIndex) + "\n";
    // Whole or not at all: a reader sees the old record or the new one.
    const std::string temporary = ownId_ + ".new";
    const int fd = ::openat(dir_, temporary.c_str(),
                            O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    const bool written = ::write(fd, text.data(), text.size()) == ssize_t(text.size());
    ::close(fd);
    if (!written || ::renameat(dir_, temporary.c_str(), dir_, (ownId_ + ".rec").c_str()) != 0) {
        ::unlinkat(dir_, temporary.c_str(), 0);
        return false;
    }
    return true;
}

bool OwnerRecords::readRecord(const std::string& id, OwnedEntries& out) const
{
    const int fd = ::openat(dir_, (id + ".rec").c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    std::string text(kMaxRecord, '\0');
    const ssize_t n = ::read(fd, text.data(), text.size());
    ::close(fd);
    if (n <= 0)
        return false;
    text.resize(size_t(n));
    std::istringstream lines(text);
    std::string line;
    if (!std::getline(lines, line) || line != "netns " + netns_)
        return false; // another namespace's, whose tables this helper does not see
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string kind, address, index, mac;
        words >> kind >> address >> index >> mac;
        const auto a = parseDottedQuad(address.c_str());
        const auto i = parseIfIndex(index.c_str());
        if (!a || !i)
            continue;
        if (kind == "neigh") {
            OwnedNeighbour e{*a, *i, {}};
            if (parseMac(mac.c_str(), e.mac.data()))
                out.neighbours.push_back(e);
        } else if (kind == "route" && mac.empty()) {
            out.routes.push_back({*a, *i});
        }
    }
    return true;
}

namespace {
template <typename Fn>
void forEachLock(int dir, Fn fn)
{
    const int copy = ::dup(dir);
    if (copy < 0)
        return;
    DIR* d = ::fdopendir(copy);
    if (!d) {
        ::close(copy);
        return;
    }
    ::rewinddir(d);
    std::vector<std::string> ids;
    while (dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name.size() > 5 && name.compare(name.size() - 5, 5, ".lock") == 0
            && isId(name.substr(0, name.size() - 5)))
            ids.push_back(name.substr(0, name.size() - 5));
    }
    ::closedir(d);
    for (const auto& id : ids)
        fn(id);
}
} // namespace

OwnedEntries OwnerRecords::liveClaims() const
{
    OwnedEntries live;
    if (dir_ < 0)
        return live;
    forEachLock(dir_, [&](const std::string& id) {
        if (id == ownId_
            || std::any_of(abandoned_.begin(), abandoned_.end(),
                           [&](const Abandoned& a) { return a.id == id; }))
            return;
        const int fd = ::openat(dir_, (id + ".lock").c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            return;
        // Held by its owner, or by a sweep that is about to remove it: in
        // both cases its entries are not this helper's to remove.
        if (::flock(fd, LOCK_SH | LOCK_NB) != 0)
            readRecord(id, live);
        ::close(fd);
    });
    return live;
}

OwnedEntries OwnerRecords::takeAbandoned()
{
    OwnedEntries gone;
    if (dir_ < 0)
        return gone;
    forEachLock(dir_, [&](const std::string& id) {
        if (id == ownId_)
            return;
        const int fd = ::openat(dir_, (id + ".lock").c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            return;
        OwnedEntries entries;
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            return;
        }
        const bool ours = readRecord(id, entries);
        struct stat st {};
        const bool hasRecord =
            ::fstatat(dir_, (id + ".rec").c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
        if (ours || !hasRecord) {
            gone.add(entries);
            abandoned_.push_back({id, fd});
        } else {
            ::close(fd); // another namespace's: left to a helper there
        }
    });
    return gone;
}

void OwnerRecords::finishSweep()
{
    for (const auto& a : abandoned_) {
        ::unlinkat(dir_, (a.id + ".rec").c_str(), 0);
        ::unlinkat(dir_, (a.id + ".lock").c_str(), 0);
        ::close(a.lockFd);
    }
    abandoned_.clear();
}

void OwnerRecords::close()
{
    if (ownLock_ < 0)
        return;
    ::unlinkat(dir_, (ownId_ + ".rec").c_str(), 0);
    ::unlinkat(dir_, (ownId_ + ".lock").c_str(), 0);
    ::close(ownLock_);
    ownLock_ = -1;
}

} // namespace tvx::netpin
