#include "firmware/QtFilePicker.h"

#include <QFileDialog>

namespace tvx {

QString QtFilePicker::openFile(QWidget* parent, const QString& title, const QString& directory,
                               const QString& filter)
{
    QFileDialog brsDlg(parent, title, directory, filter);
    brsDlg.setObjectName(QStringLiteral("brsDlg"));
    brsDlg.setFileMode(QFileDialog::ExistingFile);
    brsDlg.setAcceptMode(QFileDialog::AcceptOpen);
    brsDlg.setOption(QFileDialog::HideNameFilterDetails);
    if (brsDlg.exec() != QDialog::Accepted || brsDlg.selectedFiles().isEmpty())
        return {};
    return brsDlg.selectedFiles().constFirst();
}

} // namespace tvx
