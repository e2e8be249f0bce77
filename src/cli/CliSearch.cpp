#include "cli/CliSearch.h"

#include "cli/CliContext.h"
#include "cli/RunView.h"
#include "cli/TerminalDisplay.h"
#include "cli/TerminalPrompter.h"
#include "discovery/DeviceRegistry.h"
#include "discovery/Udpsearchthread.h"
#include "handover/RunToken.h"
#include "handover/WorkerLink.h"
#include "handover/WorkerOwner.h"
#include "net/HostNetwork.h"
#include "net/Ipv4.h"

#include <QEventLoop>
#include <QSet>

#include <utility>

namespace tvx::cli {

namespace {
constexpr int kSearchBarMaximum = 100;
}

int CliSearch::run(bool broadcast, const QString& target, DeviceRegistry& table)
{
    const QByteArray address = target.toLatin1();
    return runWorker(
        [&](WorkerLink link, ProgressView* view, SearchHooks hooks) {
            return std::make_unique<UDPsearchThread>(std::move(link), view, std::move(hooks),
                                                     address.constData(), broadcast);
        },
        table);
}

int CliSearch::run(const QStringList& addresses, DeviceRegistry& table)
{
    std::vector<uint32_t> targets;
    for (const QString& a : addresses)
        targets.push_back(parseIpv4(a.toLatin1().constData(), true));
    return runWorker(
        [&](WorkerLink link, ProgressView* view, SearchHooks hooks) {
            return std::make_unique<UDPsearchThread>(std::move(link), view, std::move(hooks),
                                                     targets);
        },
        table);
}

int CliSearch::runWorker(const MakeWorker& make, DeviceRegistry& table)
{
    // Every input was checked before the first search: only now is the helper
    // worth its start, which also removes what killed runs left behind.
    if (context_.startHelper)
        std::exchange(context_.startHelper, nullptr)();

    QEventLoop loop;
    bool ended = false;
    RunView view(*context_.display, QString(), kSearchBarMaximum, {});
    TerminalPrompter prompter(*context_.display, QString());
    auto token = std::make_shared<RunToken>();

    SearchHooks hooks;
    hooks.refreshLocalAddresses = [net = context_.net](LocalAddressTable* snapshot) {
        return net->refreshLocalAddresses(snapshot);
    };
    hooks.addDevices = [&table](const std::vector<DiscoveryRecord>& records) {
        table.addDevices(records);
    };
    hooks.deviceCount = [&table] { return table.count(); };
    // Runs on every way out of the worker, an unexpected error included.
    hooks.searchEnded = [&ended, &loop] {
        ended = true;
        loop.quit();
    };

    context_.display->beginRuns(0);
    WorkerThread::start(make(WorkerLink(token, &view, &prompter, context_.log, kSearchBarMaximum),
                             &view, std::move(hooks)));
    view.prepare();
    if (!ended)
        loop.exec();
    // Its close still follows the end of the search; the view and the table
    // must outlive every effect the worker hands over.
    context_.workers->waitForAll();
    context_.display->clearStatus();
    if (context_.interrupted && context_.interrupted->load())
        return -2;
    return prompter.errorsShown() > 0 ? -1 : 0;
}

int searchAbsentAddresses(CliContext& context, const QList<TargetId>& targets,
                          DeviceRegistry& found)
{
    // --jobs bounds the connections to modules; a search holds none, so the
    // addresses go together, one wait for all of them.
    QStringList absent;
    QSet<QString> seen;
    for (const TargetId& target : targets) {
        if (target.kind != TargetId::Kind::Ip || found.rowOfIp(target.key) >= 0
            || seen.contains(target.key))
            continue;
        seen.insert(target.key);
        absent << target.key;
    }
    CliSearch search(context);
    for (qsizetype first = 0; first < absent.size(); first += kMaxAddressesPerSearch) {
        if (const int result = search.run(absent.mid(first, kMaxAddressesPerSearch), found);
            result != 0)
            return result;
    }
    return 0;
}

} // namespace tvx::cli
