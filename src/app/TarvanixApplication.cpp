#include "app/TarvanixApplication.h"

#include "app/PopupAccessibility.h"
#include "handover/Prompter.h"

#include <QFont>

#include <cstdio>
#include <exception>

namespace tvx {

TarvanixApplication::TarvanixApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    // The windows' fixed places and sizes were laid out for an 8-point font.
    QFont font = QApplication::font();
    font.setPointSize(8);
    QApplication::setFont(font);
    installPopupAccessibility();
}

bool TarvanixApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        showEscaped(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        showEscaped(QStringLiteral("Unknown exception"));
    }
    return false;
}

void TarvanixApplication::showEscaped(const QString& text)
{
    std::fprintf(stderr, "tarvanix-utility: %s\n", qPrintable(text));
    // The box pumps events; a second exception meanwhile is not stacked on it.
    if (!prompter_ || showing_)
        return;
    showing_ = true;
    try {
        prompter_->showException(text);
    } catch (...) {
    }
    showing_ = false;
}

} // namespace tvx
