#include "discovery/Sipdlg.h"

namespace tvx {

TsIPDlg::TsIPDlg(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("sIPDlg"));
    setWindowTitle(QStringLiteral("Search by Dialog"));
}

} // namespace tvx
