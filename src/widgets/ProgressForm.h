#pragma once

#include "handover/ProgressView.h"
#include "handover/RunToken.h"

#include <QDialog>
#include <QPointer>

#include <functional>

class QLabel;
class QProgressBar;
class QPushButton;

namespace tvx {

// Geometry and bar range of one progress window.
struct ProgressFormLayout {
    QString caption;
    QSize size;
    QPoint labelPos;
    QRect barRect;
    QRect buttonRect;
    int barMinimum = 0;
    int barMaximum = 100;
    int barStep = 10;
    bool sizeable = false;
    bool keepAbove = false;
};

// A modal progress window with a label `prgMsg`, a bar `prgBar` and a button
// `cancelBtn` that ends the modal wait with Cancel, as does the close box.
// A plain dialog rather than QProgressDialog, whose setValue pumps events.
class ProgressForm : public QDialog, public ProgressView {
    Q_OBJECT
public:
    ProgressForm(const ProgressFormLayout& layout, QWidget* parent);

    // Label empty, bar at 10, one step: how every operation prepares it.
    void prepare();
    // Shows the window modally unless the run's worker has already closed it.
    void runModal(const RunToken& token);

    int barMaximum() const;
    int barPosition() const;
    QString message() const;

    void setMessage(const QString& text) override;
    void setPosition(int position) override;
    void stepIt() override;
    void stepBy(int delta) override;
    void closeProgress() override;

protected:
    // Over the window it belongs to, wherever that is now.
    void showEvent(QShowEvent* event) override;

    QLabel* prgMsg;
    QProgressBar* prgBar;
    QPushButton* cancelBtn;

private:
    int step_;
};

// Lends a progress window that the main window's operations share to another
// window for one run: it is that window's child meanwhile (shown over it, and
// that window is the active one again when it closes), and its first owner's
// again afterwards.
class ProgressLoan {
public:
    ProgressLoan(ProgressForm* form, QWidget* borrower);
    ~ProgressLoan();
    ProgressLoan(const ProgressLoan&) = delete;
    ProgressLoan& operator=(const ProgressLoan&) = delete;

private:
    QPointer<ProgressForm> form_;
    QPointer<QWidget> owner_;
    bool lent_ = false;
};

// The modal part of every operation: prepares `form` and shows it modally
// while the run's worker works. True when the worker ended the wait; false
// when the user did (Cancel or the close box) while the run was still going:
// the worker is then told to stop and detached, so nothing more of it reaches
// a window. `stillGoing` says whether the run is still going; by default,
// whether the token holds no result yet. Without a form there is no wait.
bool runModalOperation(ProgressForm* form, RunToken& token,
                       const std::function<bool()>& stillGoing = {});

} // namespace tvx
