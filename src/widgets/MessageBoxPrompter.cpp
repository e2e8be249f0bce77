#include "widgets/MessageBoxPrompter.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>

namespace tvx {

namespace {
int run(QWidget* fallback, QObject* owner, QMessageBox::Icon icon, const QString& caption,
        const QString& text, QMessageBox::StandardButtons buttons,
        QMessageBox::StandardButton defaultButton, const QString& subject)
{
    // A box belongs to the window whose prompt it is: shown over it, and that
    // window is the active one again afterwards. A window that has closed
    // meanwhile (a configuration window after its save) leaves it to the
    // main window.
    auto* parent = qobject_cast<QWidget*>(owner);
    if (!parent || !parent->isVisible())
        parent = fallback;
    QMessageBox box(icon, caption, text, buttons, parent);
    box.setInformativeText(subject);
    // One line, never broken inside a name or between name, address and MAC.
    if (auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")))
        label->setWordWrap(false);
    box.setDefaultButton(defaultButton);
    return box.exec();
}
} // namespace

void MessageBoxPrompter::showError(const QString& text)
{
    run(parent_, owner(), QMessageBox::Warning, QStringLiteral("Error"), text, QMessageBox::Ok,
        QMessageBox::Ok, subject());
}

bool MessageBoxPrompter::askConfirm(const QString& text)
{
    return run(parent_, owner(), QMessageBox::Question, QStringLiteral("Confirm"), text,
               QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes, subject())
        != QMessageBox::No;
}

void MessageBoxPrompter::showFinished(const QString& text)
{
    run(parent_, owner(), QMessageBox::NoIcon, QStringLiteral("Finished"), text, QMessageBox::Ok,
        QMessageBox::Ok, subject());
}

bool MessageBoxPrompter::askFinished(const QString& text)
{
    return run(parent_, owner(), QMessageBox::NoIcon, QStringLiteral("Finished"), text,
               QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes, subject())
        == QMessageBox::Yes;
}

void MessageBoxPrompter::showException(const QString& text)
{
    // The program's own name: no display name is set, so that the window
    // system shows each window's caption as it stands.
    run(parent_, owner(), QMessageBox::Critical, QStringLiteral("Tarvanix Utility"), text,
        QMessageBox::Ok, QMessageBox::Ok, subject());
}

} // namespace tvx
