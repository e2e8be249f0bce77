#include "handover/WorkerThread.h"

#include <algorithm>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace tvx {

namespace {
// Never destroyed: a worker that outlives main() still ends through it.
struct Registry {
    std::mutex lock;
    std::vector<std::shared_ptr<RunToken>> tokens;
    int live = 0;
};
Registry& registry()
{
    static Registry* const instance = new Registry;
    return *instance;
}
} // namespace

WorkerThread::WorkerThread(QString className, WorkerLink link)
    : className_(std::move(className)), link_(std::move(link))
{}

WorkerThread::~WorkerThread() = default;

void WorkerThread::start(std::unique_ptr<WorkerThread> worker)
{
    {
        Registry& r = registry();
        std::lock_guard lock(r.lock);
        ++r.live;
        r.tokens.push_back(worker->link_.token());
    }
    std::thread([w = std::move(worker)]() mutable {
        w->body();
        auto token = w->link_.token();
        w.reset();
        Registry& r = registry();
        std::lock_guard lock(r.lock);
        --r.live;
        auto it = std::find(r.tokens.begin(), r.tokens.end(), token);
        if (it != r.tokens.end())
            r.tokens.erase(it);
    }).detach();
}

int WorkerThread::liveCount()
{
    Registry& r = registry();
    std::lock_guard lock(r.lock);
    return r.live;
}

void WorkerThread::stopAll()
{
    Registry& r = registry();
    std::lock_guard lock(r.lock);
    for (auto& token : r.tokens) {
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
