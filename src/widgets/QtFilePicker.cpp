#include "widgets/QtFilePicker.h"

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

QString QtFilePicker::saveFile(QWidget* parent, const QString& title, const QString& directory,
                               const QString& filter)
{
    QFileDialog dialog(parent, title, directory, filter);
    dialog.setObjectName(QStringLiteral("saveDlg"));
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("json"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

} // namespace tvx
