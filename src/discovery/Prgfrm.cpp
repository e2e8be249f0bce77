#include "discovery/Prgfrm.h"

namespace tvx {

namespace {
ProgressFormLayout udpLayout()
{
    ProgressFormLayout l;
    l.caption = QStringLiteral("progress...");
    l.size = QSize(271, 138);
    l.labelPos = QPoint(16, 16);
    l.barRect = QRect(10, 40, 225, 17);
    l.buttonRect = QRect(168, 66, 75, 24);
    l.barMinimum = 0;
    l.barMaximum = 100;
    l.barStep = 10;
    return l;
}
} // namespace

TudpPrgForm::TudpPrgForm(QWidget* parent) : ProgressForm(udpLayout(), parent)
{
    setObjectName(QStringLiteral("udpPrgForm"));
}

} // namespace tvx
