#include "firmware/Upgradeprgfrm.h"

namespace tvx {

namespace {
ProgressFormLayout upgradeLayout()
{
    ProgressFormLayout l;
    l.caption = QStringLiteral("progress...");
    l.size = QSize(327, 162);
    l.labelPos = QPoint(16, 16);
    l.barRect = QRect(10, 44, 299, 17);
    l.buttonRect = QRect(234, 90, 75, 24);
    l.barMinimum = 2;
    l.barMaximum = 1000;
    l.barStep = 10;
    l.sizeable = true;
    return l;
}
} // namespace

TupgradePrgForm::TupgradePrgForm(QWidget* parent) : ProgressForm(upgradeLayout(), parent)
{
    setObjectName(QStringLiteral("upgradePrgForm"));
}

} // namespace tvx
