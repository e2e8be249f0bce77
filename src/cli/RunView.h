#pragma once

#include "handover/ProgressView.h"

#include <QObject>
#include <QString>

#include <functional>

namespace tvx::cli {

class TerminalDisplay;

// The part of the display's run that one view's bar stands for: a target of
// several steps gives each its share, and ends the run itself.
struct RunShare {
    double from = 0;
    double to = 1;
    // Closing the view ends the display's run.
    bool endsRun = true;
};

// The progress window of one run, on the terminal: it keeps the label and the
// bar as the window would (a bar from 0 to `maximum`, steps of 10, clamped)
// and shows them through the display. Closing it is how a run tells that it
// has ended: `onClosed` then runs on the UI thread. A QObject, so that the
// hand-over drops what a worker sends it once it is gone.
class RunView : public QObject, public ProgressView {
public:
    RunView(TerminalDisplay& display, QString name, int maximum, std::function<void()> onClosed,
            RunShare share = {});

    // Label empty, bar at 10, one step: as every operation prepares its window.
    void prepare();

    void setMessage(const QString& text) override;
    void setPosition(int position) override;
    void stepIt() override;
    void stepBy(int delta) override;
    void closeProgress() override;

    int position() const { return position_; }
    bool closed() const { return closed_; }

private:
    void show();

    TerminalDisplay& display_;
    QString name_;
    int maximum_;
    RunShare share_;
    int position_ = 0;
    QString message_;
    bool closed_ = false;
    std::function<void()> onClosed_;
};

} // namespace tvx::cli
