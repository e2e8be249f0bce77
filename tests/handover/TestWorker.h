#pragma once

#include "handover/WorkerThread.h"

#include <functional>

namespace tvx::test {

// A worker whose run is a script given by the test, run through the real
// thread, hand-over and exception handling.
class TestWorker : public WorkerThread {
public:
    using Body = std::function<void(TestWorker&)>;
    TestWorker(WorkerLink link, Body body, std::function<void()> onException = {})
        : WorkerThread(QStringLiteral("testThread"), std::move(link)), body_(std::move(body)),
          onException_(std::move(onException))
    {}
    WorkerLink& hand() { return link(); }
    bool stopping() const { return stopRequested(); }

protected:
    void execute() override { body_(*this); }
    void afterException() override
    {
        if (onException_)
            onException_();
    }

private:
    Body body_;
    std::function<void()> onException_;
};

} // namespace tvx::test
