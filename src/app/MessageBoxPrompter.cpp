#include "app/MessageBoxPrompter.h"

#include <QApplication>
#include <QMessageBox>

namespace tvx {

namespace {
int run(QWidget* parent, QMessageBox::Icon icon, const QString& caption, const QString& text,
        QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton)
{
    QMessageBox box(icon, caption, text, buttons, parent);
    box.setDefaultButton(defaultButton);
    return box.exec();
}
} // namespace

void MessageBoxPrompter::showError(const QString& text)
{
    run(parent_, QMessageBox::Warning, QStringLiteral("Error"), text, QMessageBox::Ok,
        QMessageBox::Ok);
}

bool MessageBoxPrompter::askConfirm(const QString& text)
{
    return run(parent_, QMessageBox::Question, QStringLiteral("Confirm"), text,
               QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes)
        != QMessageBox::No;
}

void MessageBoxPrompter::showFinished(const QString& text)
{
    run(parent_, QMessageBox::NoIcon, QStringLiteral("Finished"), text, QMessageBox::Ok,
        QMessageBox::Ok);
}

bool MessageBoxPrompter::askFinished(const QString& text)
{
    return run(parent_, QMessageBox::NoIcon, QStringLiteral("Finished"), text,
               QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes)
        == QMessageBox::Yes;
}

void MessageBoxPrompter::showException(const QString& text)
{
    run(parent_, QMessageBox::Critical, QApplication::applicationDisplayName(), text,
        QMessageBox::Ok, QMessageBox::Ok);
}

} // namespace tvx
