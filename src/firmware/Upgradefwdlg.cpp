#include "firmware/Upgradefwdlg.h"

namespace tvx {

TupgradeFWDlg::TupgradeFWDlg(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("upgradeFWDlg"));
}

} // namespace tvx
