#pragma once

#include "handover/WorkerLink.h"

#include <QString>

#include <memory>

namespace tvx {

// A worker runs one whole operation in a thread of its own with blocking calls
// and bounded waits. Its thread belongs to the program's WorkerOwner, which
// destroys the worker when its run ends and joins the thread. It never touches
// a widget: every effect goes through its WorkerLink. An unexpected error
// inside the run is caught here: "<class name> Exception" goes to the log and
// the error's own message to the standard exception display.
class WorkerThread {
public:
    WorkerThread(QString className, WorkerLink link);
    virtual ~WorkerThread();
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Hands the worker to the current WorkerOwner, which runs it in a thread
    // of its own. Without an owner the program is wrong and ends here.
    static void start(std::unique_ptr<WorkerThread> worker);

    // The current owner's workers whose run has not ended (0 without one).
    static int liveCount();
    // Asks every running worker of the current owner to stop and detaches it
    // from its windows.
    static void stopAll();

protected:
    virtual void execute() = 0;
    // Called after an unexpected error was reported; a worker with a result
    // slot stores something other than 1 and success here.
    virtual void afterException() {}

    WorkerLink& link() { return link_; }
    bool stopRequested() const { return link_.stopRequested(); }

private:
    friend class WorkerOwner;
    void body();

    QString className_;
    WorkerLink link_;
};

} // namespace tvx
