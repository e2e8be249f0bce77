#pragma once

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <functional>

namespace tvx::test {

// Runs `act` on the active modal window every 20 ms until it returns true:
// how a test answers a real modal dialog from inside its modal loop.
inline void whenModal(std::function<bool(QWidget*)> act)
{
    auto* timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, act = std::move(act)] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && act(modal))
            timer->deleteLater();
    });
    timer->start(20);
}

} // namespace tvx::test
