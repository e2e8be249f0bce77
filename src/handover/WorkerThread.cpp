#include "handover/WorkerThread.h"

#include <algorithm>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace tvx {

namespace {
std::mutex registryLock;
std::vector<std::shared_ptr<RunToken>> liveTokens;
int live = 0;
} // namespace

WorkerThread::WorkerThread(QString className, WorkerLink link)
    : className_(std::move(className)), link_(std::move(link))
{
}

WorkerThread::~WorkerThread() = default;

void WorkerThread::start(std::unique_ptr<WorkerThread> worker)
{
    {
        std::lock_guard lock(registryLock);
        ++live;
        liveTokens.push_back(worker->link_.token());
    }
    std::thread([w = std::move(worker)]() mutable {
        w->body();
        auto token = w->link_.token();
        w.reset();
        std::lock_guard lock(registryLock);
        --live;
        auto it = std::find(liveTokens.begin(), liveTokens.end(), token);
        if (it != liveTokens.end())
            liveTokens.erase(it);
    }).detach();
}

int WorkerThread::liveCount()
{
    std::lock_guard lock(registryLock);
    return live;
}

void WorkerThread::stopAll()
{
    std::lock_guard lock(registryLock);
    for (auto& token : liveTokens) {
        if (token) {
            token->requestStop();
            token->detach();
        }
    }
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
