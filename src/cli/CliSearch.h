#pragma once


#include <QString>

namespace tvx {
class DeviceRegistry;
}

namespace tvx::cli {

struct CliContext;

// Processes events until every worker has ended and its last effects have
// been applied. Workers stopped by an interrupt end by themselves too.
void drainWorkers();

// Runs the search worker once, by broadcast or to one address, and waits for
// it in a local event loop while its progress is shown. The modules go into a
// DeviceRegistry, which keeps the window's rules: one row per MAC address,
// and the addresses that several modules answer marked for the host network.
class CliSearch {
public:
    explicit CliSearch(CliContext& context) : context_(context) {}

    // 0 done; -1 the search failed (its message was shown); -2 interrupted.
    int run(bool broadcast, const QString& target, DeviceRegistry& table);

private:
    CliContext& context_;
};

} // namespace tvx::cli
