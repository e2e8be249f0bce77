// The main window's upgrade and reboot operations, beside their workers.
#include "app/Mainfrm.h"

namespace tvx {

void TmainForm::runUpgrade(const DeviceRequest& request)
{
    (void)request;
}

void TmainForm::runReboot(const DeviceRequest& request)
{
    (void)request;
}

} // namespace tvx
