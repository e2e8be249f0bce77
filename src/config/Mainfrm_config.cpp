// The main window's opening of a configuration window.
#include "app/Mainfrm.h"
#include "config/Cfgfrm.h"

namespace tvx {

void TmainForm::openConfigWindow(const char* macText, const SettingsRecord& record)
{
    auto* form = new TcfgForm(this, macText, record);
    form->show();
}

} // namespace tvx
