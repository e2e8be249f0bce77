// The main window's double-click flow, beside the read worker.
#include "app/Mainfrm.h"

namespace tvx {

void TmainForm::deviceListViewDblClick()
{
}

} // namespace tvx
