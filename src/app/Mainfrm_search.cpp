// The main window's search operation, beside the search worker.
#include "app/Mainfrm.h"

#include "discovery/DeviceRegistry.h"
#include "discovery/Prgfrm.h"
#include "discovery/Udpsearchthread.h"

#include <QPointer>

namespace tvx {

void TmainForm::startSearch(bool broadcast, const char* target)
{
    clearDevices();
    showDeviceActions(false);
    searchBusy_ = true;

    TudpPrgForm* form = windows_.udpPrgForm;
    auto token = std::make_shared<RunToken>();
    SearchHooks hooks;
    hooks.refreshLocalAddresses = [network = hostNetwork_](LocalAddressTable* snapshot) {
        return network->refreshLocalAddresses(snapshot);
    };
    // Run on the UI thread through the link, each while this window lives;
    // the busy flag's even after a cancel.
    const QPointer<TmainForm> window(this);
    hooks.addDevices = [window](const std::vector<DiscoveryRecord>& records) {
        if (window)
            window->devices_->addDevices(records);
    };
    hooks.deviceCount = [window] { return window ? window->deviceCount() : 0; };
    hooks.searchEnded = [window] {
        if (window)
            window->searchBusy_ = false;
    };
    WorkerThread::start(
        std::make_unique<UDPsearchThread>(makeLink(token, form, form ? form->barMaximum() : 100),
                                          form, std::move(hooks), target, broadcast));

    // Still busy after the wait: the user closed the progress window before
    // the worker ended. It stops at its next polling point and clears the
    // flag itself.
    runModalOperation(form, *token, [this] { return searchBusy_; });
    if (deviceCount() > 0)
        showDeviceActions(true);
}

} // namespace tvx
