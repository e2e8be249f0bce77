#include "firmware/Upgradepsswddlg.h"

namespace tvx {

TupgradePsswdDlg::TupgradePsswdDlg(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("upgradePsswdDlg"));
}

} // namespace tvx
