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

    static WorkerOutcome of(int code, Kind kind, QString message = {})
    {
        return WorkerOutcome{kind, code, std::move(message)};
    }
};

} // namespace tvx
