#pragma once

#include "handover/RunToken.h"

#include <QString>

namespace tvx {

// How one run of a worker ended, as the windows and the command line both read
// it. Each worker describes its own result codes once, with its outcome().
struct WorkerOutcome {
    enum class Kind {
        Done, // the operation succeeded
        Cancelled, // no result: the user ended the wait before the worker did
        Failed, // `message` says why; empty when there is nothing to show
        Unexpected, // an unexpected error, already shown
    };
    Kind kind = Kind::Cancelled;
    int code = kRunStillGoing;
    QString message;

    bool done() const { return kind == Kind::Done; }

    // The outcome of a finished run: a failure the worker described itself
    // (the module that answered instead of the one picked) says so.
    static WorkerOutcome ofRun(WorkerOutcome outcome, const RunToken& token)
    {
        if (outcome.kind == Kind::Failed && !token.detail.isEmpty())
            outcome.message = token.detail;
        return outcome;
    }

    static WorkerOutcome of(int code, Kind kind, QString message = {})
    {
        return WorkerOutcome{kind, code, std::move(message)};
    }

    // For the workers whose only success is 0 and whose every other code is a
    // failure with `failureText(code)` to show.
    static WorkerOutcome ofZeroForSuccess(int code, QString (*failureText)(int))
    {
        if (code == 0)
            return of(code, Kind::Done);
        if (code == kRunStillGoing)
            return of(code, Kind::Cancelled);
        if (code == kUnexpectedResult)
            return of(code, Kind::Unexpected);
        return of(code, Kind::Failed, failureText(code));
    }
};

} // namespace tvx
