#include "handover/WorkerThread.h"

#include "handover/WorkerOwner.h"

#include <QtGlobal>

#include <exception>

namespace tvx {

WorkerThread::WorkerThread(QString className, WorkerLink link)
    : className_(std::move(className)), link_(std::move(link))
{}

WorkerThread::~WorkerThread() = default;

void WorkerThread::start(std::unique_ptr<WorkerThread> worker)
{
    WorkerOwner* owner = WorkerOwner::current();
    if (!owner)
        qFatal("WorkerThread::start: no WorkerOwner; the program (or test) must make one first");
    owner->start(std::move(worker));
}

int WorkerThread::liveCount()
{
    const WorkerOwner* owner = WorkerOwner::current();
    return owner ? owner->liveCount() : 0;
}

void WorkerThread::stopAll()
{
    if (WorkerOwner* owner = WorkerOwner::current())
        owner->stop();
}

void WorkerThread::body()
{
    try {
        execute();
    } catch (const std::exception& e) {
        link_.appendLog(className_ + QStringLiteral(" Exception"));
        link_.showException(QString::fromLocal8Bit(e.what()));
        afterException();
    } catch (...) {
        link_.appendLog(className_ + QStringLiteral(" Exception"));
        link_.showException(QStringLiteral("Unknown error"));
        afterException();
    }
}

} // namespace tvx
