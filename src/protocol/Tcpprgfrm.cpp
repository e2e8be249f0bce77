#include "protocol/Tcpprgfrm.h"

namespace tvx {

namespace {
ProgressFormLayout tcpLayout()
{
    ProgressFormLayout l;
    l.caption = QStringLiteral("Progress...");
    l.size = QSize(271, 138);
    l.labelPos = QPoint(16, 16);
    l.barRect = QRect(10, 40, 225, 17);
    l.buttonRect = QRect(168, 66, 75, 24);
    l.barMinimum = 0;
    l.barMaximum = 100;
    l.barStep = 10;
    l.keepAbove = true;
    return l;
}
} // namespace

TtcpPrgForm::TtcpPrgForm(QWidget* parent) : ProgressForm(tcpLayout(), parent)
{
    setObjectName(QStringLiteral("tcpPrgForm"));
}

} // namespace tvx
