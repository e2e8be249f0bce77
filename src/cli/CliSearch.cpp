#include "cli/CliSearch.h"

#include "cli/CliContext.h"
#include "cli/RunView.h"
#include "cli/TerminalDisplay.h"
#include "cli/TerminalPrompter.h"
#include "discovery/DeviceRegistry.h"
#include "discovery/Udpsearchthread.h"
#include "handover/RunToken.h"
#include "handover/WorkerLink.h"
#include "net/HostNetwork.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>

namespace tvx::cli {

namespace {
constexpr int kSearchBarMaximum = 100;
}

void drainWorkers()
{
    while (WorkerThread::liveCount() > 0) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    QCoreApplication::processEvents();
}

int CliSearch::run(bool broadcast, const QString& target, DeviceRegistry& table)
{
    QEventLoop loop;
    bool ended = false;
    RunView view(*context_.display, QString(), kSearchBarMaximum, {});
    TerminalPrompter prompter(*context_.display, QString());
    auto token = std::make_shared<RunToken>();

    SearchHooks hooks;
    hooks.refreshLocalAddresses = [net = context_.net](LocalAddressTable* snapshot) {
        return net->refreshLocalAddresses(snapshot);
    };
    hooks.addDevice = [&table](const DiscoveryRecord& record) { table.addDevice(record); };
    hooks.deviceCount = [&table] { return table.count(); };
    // Runs on every way out of the worker, an unexpected error included.
    hooks.searchEnded = [&ended, &loop] {
        ended = true;
        loop.quit();
    };

    context_.display->beginRuns(0);
    const QByteArray address = target.toLatin1();
    WorkerThread::start(std::make_unique<UDPsearchThread>(
        WorkerLink(token, &view, &prompter, context_.log, kSearchBarMaximum), &view,
        std::move(hooks), address.constData(), broadcast));
    view.prepare();
    if (!ended)
        loop.exec();
    // Its close still follows the end of the search; the view and the table
    // must outlive every effect the worker hands over.
    drainWorkers();
    context_.display->clearStatus();
    if (context_.interrupted && context_.interrupted->load())
        return -2;
    return prompter.errorsShown() > 0 ? -1 : 0;
}

} // namespace tvx::cli
