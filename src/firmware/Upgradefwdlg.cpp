#include "firmware/Upgradefwdlg.h"

namespace tvx {

TupgradeFWDlg::TupgradeFWDlg(QWidget* parent, Prompter* prompter)
    : FirmwareDialog(parent, prompter, QStringLiteral("upgradeFWDlg"), QSize(297, 115))
{}

} // namespace tvx
