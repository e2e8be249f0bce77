#pragma once

#include <QString>

namespace tvx {

// A progress window as a worker drives it: label, bar and close. Implemented
// by the progress windows; called on the UI thread only, through WorkerLink.
class ProgressView {
public:
    virtual ~ProgressView() = default;
    virtual void setMessage(const QString& text) = 0;
    virtual void setPosition(int position) = 0;
    // One step of the bar's step size; the bar stops at its maximum.
    virtual void stepIt() = 0;
    // Moves the bar by `delta`, clamped to its range.
    virtual void stepBy(int delta) = 0;
    // Closes the window, ending its modal wait if one is running.
    virtual void closeProgress() = 0;
};

} // namespace tvx
