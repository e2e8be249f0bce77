#pragma once

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

namespace tvx::test {

// How a test answers a real modal window from inside its modal loop: `act`
// runs on the active modal window every 10 ms until it returns true, for as
// long as the returned guard lives. The wait is bounded: when `act` has taken
// no window within `timeoutMs`, the test fails, and the modal window then up
// is rejected, so that the test's own modal wait ends instead of hanging until
// ctest's time-out.
[[nodiscard]] inline std::unique_ptr<QTimer> whenModal(std::function<bool(QWidget*)> act,
                                                       int timeoutMs = 15000)
{
    auto guard = std::make_unique<QTimer>();
    QTimer* timer = guard.get();
    QElapsedTimer since;
    since.start();
    QObject::connect(timer, &QTimer::timeout, timer,
                     [timer, since, timeoutMs, act = std::move(act)] {
                         QWidget* modal = QApplication::activeModalWidget();
                         const bool taken = modal && act(modal);
                         if (!taken && since.elapsed() < timeoutMs)
                             return;
                         timer->stop();
                         if (taken)
                             return;
                         QTest::qFail("no modal window was answered in time", __FILE__, __LINE__);
                         if (auto* dialog = qobject_cast<QDialog*>(modal))
                             dialog->reject();
                         else if (modal)
                             modal->close();
                     });
    timer->start(10);
    return guard;
}

} // namespace tvx::test
