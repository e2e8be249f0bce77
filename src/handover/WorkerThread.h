#pragma once

#include "handover/WorkerLink.h"

#include <QString>

#include <memory>

namespace tvx {

// A worker runs one whole operation in a thread of its own with blocking calls
// and bounded waits, and frees itself when its run ends. It never touches a
// widget: every effect goes through its WorkerLink. An unexpected error inside
// the run is caught here: "<class name> Exception" goes to the log and the
// error's own message to the standard exception display.
class WorkerThread {
public:
    WorkerThread(QString className, WorkerLink link);
    virtual ~WorkerThread();
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Starts the worker's thread; the worker owns itself from here on.
    static void start(std::unique_ptr<WorkerThread> worker);

    // Number of workers whose run has not ended, for a clean shutdown.
    static int liveCount();
    // Asks every running worker to stop and detaches it from its windows.
    static void stopAll();

protected:
    virtual void execute() = 0;
    // Called after an unexpected error was reported; a worker with a result
    // slot stores something other than 1 and success here.
    virtual void afterException() {}

    WorkerLink& link() { return link_; }
    bool stopRequested() const { return link_.stopRequested(); }

private:
    void body();

    QString className_;
    WorkerLink link_;
};

} // namespace tvx
