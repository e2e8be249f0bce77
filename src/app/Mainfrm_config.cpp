// The main window's opening of a configuration window.
#include "app/Mainfrm.h"
#include "config/Cfgfrm.h"

#include <QPointer>

namespace tvx {

void TmainForm::openConfigWindow(const char* macText, const SettingsRecord& record)
{
    // Modeless and one per module: the caller has already entered the MAC in
    // openDeviceMacs, and the window takes it out again when it closes.
    auto* form = new TcfgForm(this, configWindowLinks(), macText, record);
    form->show();
}

CfgFormLinks TmainForm::configWindowLinks()
{
    CfgFormLinks links;
    links.prompter = env_.prompter;
    links.network = hostNetwork_;
    links.progress = windows_.tcpPrgForm;
    links.log = logSink();
    links.searchAgain = [window = QPointer<TmainForm>(this)] {
        if (window)
            window->startSearch(true, nullptr);
    };
    links.moduleClosed = [window = QPointer<TmainForm>(this)](const char* macText) {
        if (window)
            window->markDeviceOpen(macText, false);
    };
    return links;
}

} // namespace tvx
