#include "widgets/ProgressForm.h"

#include "handover/WorkerOutcome.h"
#include "widgets/DialogPlacement.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>

#include <algorithm>

namespace tvx {

ProgressForm::ProgressForm(const ProgressFormLayout& layout, QWidget* parent)
    : QDialog(parent), step_(layout.barStep)
{
    setWindowTitle(layout.caption);
    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
        | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (layout.keepAbove)
        flags |= Qt::WindowStaysOnTopHint;
    setWindowFlags(flags);
    if (layout.sizeable)
        resize(layout.size);
    else
        setFixedSize(layout.size);

    prgMsg = new QLabel(QStringLiteral("  "), this);
    prgMsg->setObjectName(QStringLiteral("prgMsg"));
    prgMsg->move(layout.labelPos);
    prgMsg->resize(layout.size.width() - layout.labelPos.x() - 8, 16);

    prgBar = new QProgressBar(this);
    prgBar->setObjectName(QStringLiteral("prgBar"));
    prgBar->setGeometry(layout.barRect);
    prgBar->setRange(layout.barMinimum, layout.barMaximum);
    prgBar->setValue(10);
    prgBar->setTextVisible(false);

    cancelBtn = new QPushButton(QStringLiteral("Cancel"), this);
    cancelBtn->setObjectName(QStringLiteral("cancelBtn"));
    cancelBtn->setGeometry(layout.buttonRect);
    connect(cancelBtn, &QPushButton::clicked, this, &QDialog::reject);
}

void ProgressForm::showEvent(QShowEvent* event)
{
    if (!event->spontaneous())
        centreOverParent(this);
    QDialog::showEvent(event);
}

void ProgressForm::prepare()
{
    setMessage(QString());
    setPosition(10);
    stepIt();
}

void ProgressForm::runModal(const RunToken& token)
{
    // A worker that ended before the wait began has already applied its close
    // (for instance while a message box pumped events): waiting now would
    // never end.
    if (token.finished)
        return;
    exec();
}

int ProgressForm::barMaximum() const
{
    return prgBar->maximum();
}

int ProgressForm::barPosition() const
{
    return prgBar->value();
}

QString ProgressForm::message() const
{
    return prgMsg->text();
}

void ProgressForm::setMessage(const QString& text)
{
    prgMsg->setText(text);
}

void ProgressForm::setPosition(int position)
{
    prgBar->setValue(std::clamp(position, prgBar->minimum(), prgBar->maximum()));
}

void ProgressForm::stepIt()
{
    stepBy(step_);
}

void ProgressForm::stepBy(int delta)
{
    const long long next = static_cast<long long>(prgBar->value()) + delta;
    prgBar->setValue(
        static_cast<int>(std::clamp<long long>(next, prgBar->minimum(), prgBar->maximum())));
}

void ProgressForm::closeProgress()
{
    if (isVisible())
        done(QDialog::Rejected);
}

ProgressLoan::ProgressLoan(ProgressForm* form, QWidget* borrower) : form_(form)
{
    if (!form || !borrower || form->parentWidget() == borrower || form->isVisible())
        return;
    owner_ = form->parentWidget();
    form->setParent(borrower, form->windowFlags());
    lent_ = true;
}

ProgressLoan::~ProgressLoan()
{
    if (!lent_ || !form_)
        return;
    if (form_->isVisible())
        form_->hide();
    form_->setParent(owner_, form_->windowFlags());
}

bool runModalOperation(ProgressForm* form, RunToken& token, const std::function<bool()>& stillGoing)
{
    if (form) {
        form->prepare();
        form->runModal(token);
    }
    const bool leftBehind = stillGoing ? stillGoing() : token.result == kRunStillGoing;
    if (leftBehind) {
        token.requestStop();
        token.detach();
        return false;
    }
    // A result stored without the close that follows it: the window goes now.
    if (form && form->isVisible()) {
        form->closeProgress();
        if (QWidget* owner = form->parentWidget())
            owner->repaint();
    }
    return true;
}

} // namespace tvx
