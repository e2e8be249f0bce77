#pragma once

#include "cli/DeviceTable.h"

#include <QString>

namespace tvx::cli {

struct CliContext;

// Processes events until every worker has ended and its last effects have
// been applied. Workers stopped by an interrupt end by themselves too.
void drainWorkers();

// Runs the search worker once, by broadcast or to one address, and waits for
// it in a local event loop while its progress is shown. The window's rule of
// one row per MAC address is kept by the DeviceTable.
class CliSearch {
public:
    explicit CliSearch(CliContext& context) : context_(context) {}

    // 0 done; -1 the search failed (its message was shown); -2 interrupted.
    int run(bool broadcast, const QString& target, DeviceTable& table);

private:
    // After a broadcast, tells the host network which addresses more than one
    // listed module answers from, so that operations on them go by MAC for
    // the rest of the run.
    void noteSharedAddresses(bool broadcast, const DeviceTable& table);

    CliContext& context_;
};

} // namespace tvx::cli
