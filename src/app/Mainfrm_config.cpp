// The main window's opening of a configuration window.
#include "app/Mainfrm.h"
#include "config/Cfgfrm.h"
#include "discovery/DeviceRegistry.h"
#include "handover/Prompter.h"

#include <cstring>

#include <QPointer>

namespace tvx {

void TmainForm::openConfigWindow(const char* macText, const SettingsRecord& record)
{
    // Modeless and one per module: the caller has already entered the MAC in
    // openDeviceMacs, and the window takes it out again when it closes.
    CfgFormLinks links = configWindowLinks();
    // While the window is open its module keeps being reached by its MAC,
    // whatever later searches list.
    links.moduleHold =
        devices().hold(QString::fromLatin1(macText, static_cast<int>(strnlen(macText, 17))));
    // Several may be open at once: the title and every box say which module
    // each is for (the row's line, else as the record names the module).
    links.moduleLine = prompter().subject();
    auto* form = new TcfgForm(this, links, macText, record);
    form->setWindowTitle(form->windowTitle() + QStringLiteral(" \u2014 ") + form->moduleLine());
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
