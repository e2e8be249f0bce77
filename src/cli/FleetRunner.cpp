#include "cli/FleetRunner.h"

#include "cli/CliContext.h"
#include "cli/CliSearch.h"
#include "cli/TerminalDisplay.h"
#include "handover/RunQueue.h"
#include "handover/WorkerOwner.h"
#include "text/JsonText.h"
#include "text/PrintableText.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <array>

namespace tvx::cli {

namespace {
QString resultName(const TargetOutcome& o)
{
    if (!o.done)
        return QStringLiteral("interrupted");
    if (!o.ok)
        return QStringLiteral("failed");
    switch (o.kind) {
    case TargetOutcome::Kind::Unchanged:
        return QStringLiteral("unchanged");
    case TargetOutcome::Kind::DryRun:
        return QStringLiteral("dry-run");
    case TargetOutcome::Kind::Done:
        break;
    }
    return QStringLiteral("ok");
}
} // namespace

QString countOf(qsizetype n, const QString& one, const QString& many)
{
    return QStringLiteral("%1 %2").arg(n).arg(n == 1 ? one : many);
}

FleetRunner::FleetRunner(CliContext& context, int jobs) : context_(context), jobs_(jobs) {}

void FleetRunner::add(std::unique_ptr<TargetRun> run)
{
    runs_.push_back(std::move(run));
}

qint64 FleetRunner::run()
{
    QElapsedTimer wall;
    wall.start();
    QEventLoop loop;
    RunQueue queue(jobs_);
    int remaining = 0;
    for (auto& r : runs_) {
        if (r->outcome().done)
            continue;
        ++remaining;
        // The runs were made before the loop existed: they report here.
        queue.add([this, run = r.get()](std::function<void()> ended) {
            // An interrupt stops every start, also one the queue has due.
            if (context_.interrupted && context_.interrupted->load())
                return ended();
            run->setOnDone(std::move(ended));
            run->start();
        });
    }
    context_.display->beginRuns(remaining);
    if (remaining == 0)
        return 0;

    queue.setOnIdle([&loop] { loop.quit(); });
    QTimer interruptWatch;
    QObject::connect(&interruptWatch, &QTimer::timeout, &loop, [this, &loop, &queue] {
        if (context_.interrupted && context_.interrupted->load()) {
            queue.stop();
            loop.quit();
        }
    });
    interruptWatch.start(50);

    queue.start();
    if (!queue.idle())
        loop.exec();
    const qint64 ms = wall.elapsed();
    // An interrupt ends the loop before the runs: each stops by itself.
    context_.workers->waitForAll();
    context_.display->clearStatus();
    return ms;
}

int FleetRunner::failures() const
{
    int n = 0;
    for (const auto& r : runs_)
        n += r->outcome().ok ? 0 : 1;
    return n;
}

QByteArray FleetRunner::summary(qint64 wallMs) const
{
    using Row = std::array<QString, 6>;
    QList<Row> rows{{QStringLiteral("Target"), QStringLiteral("MAC Address"),
                     QStringLiteral("IP Address"), QStringLiteral("Result"),
                     QStringLiteral("Seconds"), QStringLiteral("Message")}};
    qint64 sumMs = 0;
    for (const auto& r : runs_) {
        const TargetOutcome& o = r->outcome();
        sumMs += o.ms;
        const QString result = !o.ok
            ? (o.done ? QStringLiteral("FAILED") : QStringLiteral("INTERRUPTED"))
            : resultName(o);
        QString message = o.message;
        message.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
        // A message may quote what a module answered.
        rows << Row{printableText(o.target),
                    printableText(o.mac),
                    printableText(o.ip),
                    result,
                    QString::number(o.ms / 1000.0, 'f', 1),
                    printableText(message)};
    }
    std::array<qsizetype, 6> width{};
    for (const Row& row : rows) {
        for (size_t c = 0; c < row.size(); ++c)
            width[c] = std::max(width[c], row[c].size());
    }
    QString out;
    for (const Row& row : rows) {
        QString line;
        for (size_t c = 0; c < row.size(); ++c)
            line += (c ? QStringLiteral("  ") : QString())
                + (c == 4 ? row[c].rightJustified(width[c]) : row[c].leftJustified(width[c]));
        out += line.trimmed() + QLatin1Char('\n');
    }
    const int failed = failures();
    int interrupted = 0;
    for (const auto& r : runs_)
        interrupted += r->outcome().done ? 0 : 1;
    out += QStringLiteral("%1, %2 succeeded, %3 failed")
               .arg(countOf(static_cast<qsizetype>(runs_.size()), QStringLiteral("target"),
                            QStringLiteral("targets")))
               .arg(static_cast<int>(runs_.size()) - failed)
               .arg(failed);
    if (interrupted > 0)
        out += QStringLiteral(" (%1 interrupted)").arg(interrupted);
    out +=
        QStringLiteral("; %1 s, the targets' own times add up to %2 s\n")
            .arg(QString::number(wallMs / 1000.0, 'f', 1), QString::number(sumMs / 1000.0, 'f', 1));
    return out.toUtf8();
}

QByteArray FleetRunner::summaryJson(Command command, bool waited) const
{
    QList<OrderedObject> objects;
    for (const auto& r : runs_) {
        const TargetOutcome& o = r->outcome();
        QByteArray module = "{}";
        if (o.found) {
            module = "{\"devName\": " + jsonString(o.devName) + ", \"lanIp\": " + jsonString(o.ip)
                + ", \"lanMac\": " + jsonString(o.mac) + "}";
        }
        QString message = o.ok ? QString() : o.message;
        message.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
        OrderedObject object{{QStringLiteral("version"), kJsonVersion},
                             {QStringLiteral("target"), o.target},
                             {QStringLiteral("module"), module},
                             {QStringLiteral("result"), resultName(o)},
                             {QStringLiteral("message"), message}};
        if (o.planLine > 0)
            object.append({QStringLiteral("line"), o.planLine});
        if (command == Command::Set) {
            QByteArray changes = "[";
            for (qsizetype i = 0; i < o.changes.size(); ++i) {
                const SettingsChange& c = o.changes[i];
                changes += (i ? ", " : "") + QByteArray("{\"name\": ") + jsonString(c.name)
                    + ", \"old\": " + jsonString(c.old) + ", \"new\": " + jsonString(c.now) + "}";
            }
            object.append({QStringLiteral("changes"), changes + "]"});
        }
        if (command == Command::Upgrade && waited)
            object.append({QStringLiteral("firmwareVersion"), o.firmwareVersion});
        objects << object;
    }
    return jsonArray(objects);
}

} // namespace tvx::cli
