#pragma once

#include "cli/TargetId.h"
#include "discovery/Udpsearchthread.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace tvx {
class DeviceRegistry;
}

namespace tvx::cli {

struct CliContext;

// Looks for every IP target that `found` does not hold yet, all in one search
// by IP (of at most kMaxAddressesPerSearch addresses a run), and adds what
// answers to `found`. 0, or the first failing search's result (as run's).
int searchAbsentAddresses(CliContext& context, const QList<TargetId>& targets,
                          DeviceRegistry& found);

// Unanswered addresses on a link each hold a neighbour entry while the kernel
// asks ARP for them; the kernel keeps about 1024, so one run asks this many.
constexpr qsizetype kMaxAddressesPerSearch = 256;

// Runs the search worker once, by broadcast or to one address, and waits for
// it in a local event loop while its progress is shown. The modules go into a
// DeviceRegistry, which keeps the window's rules: one row per MAC address,
// and the addresses that several modules answer marked for the host network.
class CliSearch {
public:
    explicit CliSearch(CliContext& context) : context_(context) {}

    // 0 done; -1 the search failed (its message was shown); -2 interrupted.
    int run(bool broadcast, const QString& target, DeviceRegistry& table);
    // One search by IP of all `addresses` ("%u.%u.%u.%u") at once.
    int run(const QStringList& addresses, DeviceRegistry& table);

private:
    // Runs the worker that `make` builds from the search's link, view and
    // hooks, and waits for it.
    using MakeWorker =
        std::function<std::unique_ptr<UDPsearchThread>(WorkerLink, ProgressView*, SearchHooks)>;
    int runWorker(const MakeWorker& make, DeviceRegistry& table);

    CliContext& context_;
};

} // namespace tvx::cli
