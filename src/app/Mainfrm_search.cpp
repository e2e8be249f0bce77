// The main window's search operation, beside the search worker.
#include "app/Mainfrm.h"

#include "discovery/Prgfrm.h"
#include "discovery/Udpsearchthread.h"

namespace tvx {

void TmainForm::startSearch(bool broadcast, const char* target)
{
    clearDevices();
    showDeviceActions(false);
    searchBusy_ = true;

    TudpPrgForm* form = windows_.udpPrgForm;
    auto token = std::make_shared<RunToken>();
    SearchHooks hooks;
    hooks.refreshLocalAddresses = [network = hostNetwork_.get()](LocalAddressTable* snapshot) {
        return network->refreshLocalAddresses(snapshot);
    };
    hooks.addDevice = [this](const DiscoveryRecord& record) { addDevice(record); };
    hooks.deviceCount = [this] { return deviceCount(); };
    hooks.searchEnded = [this] { searchBusy_ = false; };
    WorkerThread::start(std::make_unique<UDPsearchThread>(
        makeLink(token, form, form ? form->barMaximum() : 100), form, std::move(hooks), target,
        broadcast));

    if (form) {
        form->prepare();
        form->runModal(*token);
    }
    // Still busy: the user closed the progress window before the worker
    // ended. It stops at its next polling point and clears the flag itself.
    if (searchBusy_) {
        token->requestStop();
        token->detach();
    }
    if (deviceCount() > 0)
        showDeviceActions(true);
}

} // namespace tvx
