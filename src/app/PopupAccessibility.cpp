#include "app/PopupAccessibility.h"

#include <QAccessible>
#include <QAccessibleObject>
#include <QApplication>
#include <QWidget>

#include <mutex>

namespace tvx {

namespace {

// The application's children as Qt gives them, then every popup window that
// is open, in the order the windows were made.
class ApplicationWithPopups : public QAccessibleApplication {
public:
    int childCount() const override
    {
        return QAccessibleApplication::childCount() + static_cast<int>(popups().size());
    }

    QAccessibleInterface* child(int index) const override
    {
        const int windows = QAccessibleApplication::childCount();
        if (index < windows)
            return QAccessibleApplication::child(index);
        const QList<QWidget*> open = popups();
        return index - windows < open.size()
            ? QAccessible::queryAccessibleInterface(open.at(index - windows))
            : nullptr;
    }

    int indexOfChild(const QAccessibleInterface* child) const override
    {
        const int index = QAccessibleApplication::indexOfChild(child);
        if (index >= 0 || !child)
            return index;
        const int popup =
            static_cast<int>(popups().indexOf(qobject_cast<QWidget*>(child->object())));
        return popup < 0 ? -1 : QAccessibleApplication::childCount() + popup;
    }

private:
    static QList<QWidget*> popups()
    {
        QList<QWidget*> open;
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (window->windowType() == Qt::Popup && window->isVisible())
                open << window;
        }
        return open;
    }
};

QAccessibleInterface* applicationAccessible(const QString& key, QObject* object)
{
    if (key == QLatin1String("QApplication") && object == qApp)
        return new ApplicationWithPopups;
    return nullptr;
}

} // namespace

void installPopupAccessibility()
{
    static std::once_flag installed;
    std::call_once(installed, [] { QAccessible::installFactory(applicationAccessible); });
}

} // namespace tvx
