// The main window's search operation, beside the search worker.
#include "app/Mainfrm.h"

namespace tvx {

void TmainForm::startSearch(bool broadcast, const char* target)
{
    (void)broadcast;
    (void)target;
    clearDevices();
    showDeviceActions(false);
}

} // namespace tvx
