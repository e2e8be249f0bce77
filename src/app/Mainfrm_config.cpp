// The main window's opening of a configuration window.
#include "app/Mainfrm.h"
#include "config/Cfgfrm.h"

namespace tvx {

void TmainForm::openConfigWindow(const char* macText, const SettingsRecord& record)
{
    // Modeless and one per module: the caller has already entered the MAC in
    // openDeviceMacs, and the window takes it out again when it closes.
    auto* form = new TcfgForm(this, macText, record);
    form->show();
}

} // namespace tvx
