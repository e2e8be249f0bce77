#include "firmware/Upgradefwdlg.h"

namespace tvx {

TupgradeFWDlg::TupgradeFWDlg(QWidget* parent)
    : FirmwareDialog(parent, QStringLiteral("upgradeFWDlg"), QSize(297, 115))
{
}

} // namespace tvx
