// The configuration window on screens of any size and scale: the pages keep
// their fixed places and sizes inside a scroll area, "Save to Module" and
// "Abort" stay below it at the window's bottom right, and the window can be
// resized. Also where a new window opens, and how assistive technology names it.
#include "config/Cfgfrm.h"

#include "handover/RecordText.h"
#include "handover/WindowPrompter.h"
#include "platform/WindowPlacement.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QGuiApplication>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>

#include <algorithm>
#include <cstring>
#include <mutex>

namespace tvx {

namespace {
// The window's client area as laid out, and the part of it the pages take;
// the buttons sit in the strip below, 8 pixels from the right and bottom.
const QRect kHome(207, 113, 550, 499);
const QSize kPageSize(550, 458);
constexpr int kButtonsFromBottom = 35;
constexpr int kButtonsFromRight = 7;
// Small enough for any screen; the buttons and a corner of the page remain.
const QSize kMinimum(220, 120);
// Each further window opens this much right of and below the last one.
constexpr int kCascadeStep = 24;

// A plain widget that is a window is announced as a "filler" by default;
// this one is a window of its own, named by its caption.
QAccessibleInterface* configWindowAccessible(const QString& key, QObject* object)
{
    if (key != QLatin1String(TcfgForm::staticMetaObject.className()))
        return nullptr;
    auto* widget = qobject_cast<QWidget*>(object);
    return widget && widget->isWindow() ? new QAccessibleWidget(widget, QAccessible::Window)
                                        : nullptr;
}
} // namespace

QString TcfgForm::moduleLine() const
{
    if (!links_.moduleLine.isEmpty())
        return links_.moduleLine;
    return tvx::moduleLine(fieldText(record_.devName), fieldText(record_.lanIp),
                           fieldText(record_.lanMac));
}

Prompter& TcfgForm::prompter()
{
    return prompter_ ? static_cast<Prompter&>(*prompter_) : *links_.prompter;
}

void TcfgForm::createScrollArea()
{
    cfgScroll = new QScrollArea(this);
    cfgScroll->setObjectName(QStringLiteral("cfgScroll"));
    cfgScroll->setFrameShape(QFrame::NoFrame);
    // Not a stop of its own between the controls; tabbing to a control
    // scrolls it into view.
    cfgScroll->setFocusPolicy(Qt::NoFocus);
    cfgScroll->setWidgetResizable(false);
    cfgPage = new QWidget;
    cfgPage->setObjectName(QStringLiteral("cfgPage"));
    cfgPage->setFixedSize(kPageSize);
    cfgScroll->setWidget(cfgPage);
    setMinimumSize(kMinimum);
    resize(kHome.size());
}

void TcfgForm::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    layoutFrame();
}

void TcfgForm::layoutFrame()
{
    if (!cfgScroll || !saveModuleBtn || !abortBtn)
        return;
    const int strip = kHome.height() - kPageSize.height();
    cfgScroll->setGeometry(0, 0, width(), std::max(0, height() - strip));
    const int top = height() - kButtonsFromBottom;
    const int right = width() - kButtonsFromRight;
    abortBtn->move(right - abortBtn->width(), top);
    saveModuleBtn->move(abortBtn->x() - 4 - saveModuleBtn->width(), top);
}

void TcfgForm::placeOnScreen()
{
    QScreen* screen = parentWidget() ? parentWidget()->screen() : this->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    QRect place = placement::fitWindow(kHome, area);
    // Too low for the pages: wide enough for them and the scroll bar beside
    // them, where the screen has the room.
    if (place.height() < kHome.height())
        place = placement::fitWindow(
            QRect(kHome.topLeft(),
                  kHome.size() + QSize(style()->pixelMetric(QStyle::PM_ScrollBarExtent), 0)),
            area);
    // The newest configuration window still open is where the next one
    // begins, one step further on: two windows never lie on top of each other.
    if (QWidget* owner = parentWidget()) {
        const auto forms = owner->findChildren<TcfgForm*>(QString(), Qt::FindDirectChildrenOnly);
        for (auto it = forms.crbegin(); it != forms.crend(); ++it) {
            if (*it != this && (*it)->isVisible()) {
                const QMargins& frame = placement::kFrameAllowance;
                const QSize frameSize = place.size()
                    + QSize(frame.left() + frame.right(), frame.top() + frame.bottom());
                place.moveTopLeft(
                    placement::cascadeAfter((*it)->pos(), frameSize, area, kCascadeStep));
                break;
            }
        }
    }
    resize(place.size());
    move(place.topLeft());
}

void TcfgForm::describeForAssistiveTechnology()
{
    static std::once_flag installed;
    std::call_once(installed, [] { QAccessible::installFactory(configWindowAccessible); });
    // Named by its caption, which the main window completes with the module.
    setAccessibleDescription(QStringLiteral("Settings of the module %1").arg(moduleLine()));
    saveModuleBtn->setAccessibleDescription(
        QStringLiteral("Writes these settings to the module, which then restarts"));
    abortBtn->setAccessibleDescription(QStringLiteral("Closes this window without saving"));
    cfgScroll->setAccessibleName(QStringLiteral("Settings"));
}

} // namespace tvx
