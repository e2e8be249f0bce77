#include "widgets/DialogPlacement.h"

#include "platform/WindowPlacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace tvx {

void centreOverParent(QWidget* dialog)
{
    if (!dialog)
        return;
    const QWidget* owner = dialog->parentWidget() ? dialog->parentWidget()->window() : nullptr;
    const bool overOwner = owner && owner->isVisible();
    QScreen* screen = overOwner ? owner->screen() : dialog->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    // The dialog's own frame is not known before it is first shown: the
    // owner's frame is the best guess of it.
    QSize frame = dialog->frameGeometry().size() - dialog->size();
    if (overOwner && frame.isNull())
        frame = owner->frameGeometry().size() - owner->size();
    if (frame.isNull())
        frame = QSize(placement::kFrameAllowance.left() + placement::kFrameAllowance.right(),
                      placement::kFrameAllowance.top() + placement::kFrameAllowance.bottom());
    const QRect over = overOwner ? owner->frameGeometry() : area;
    dialog->move(placement::centreOver(over, dialog->size() + frame, area));
}

} // namespace tvx
