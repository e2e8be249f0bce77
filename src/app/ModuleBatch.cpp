#include "app/ModuleBatch.h"

#include "firmware/Rebootthread.h"
#include "handover/ProgressView.h"
#include "handover/Prompter.h"
#include "handover/RecordText.h"
#include "handover/WorkerThread.h"
#include "protocol/Tcpcmdupdatethread.h"

#include <QPointer>

#include <algorithm>
#include <cstring>

namespace tvx {

namespace {
// The reboot's and the settings update's bars, as their windows have them;
// only the upgrade's says how far a module is.
constexpr int kBarMaximum = 1000;
} // namespace

enum class JobResult { Pending, Running, Done, Unchanged, Failed, Cancelled };

struct ModuleBatch::Job {
    Module module;
    std::shared_ptr<RunToken> token;
    std::unique_ptr<JobView> view;
    std::unique_ptr<JobPrompter> prompter;
    std::function<void()> ended;
    JobResult result = JobResult::Pending;
    QString status;
    // The first message the worker would have shown in a box of its own.
    QString shownError;
    // The settings update: refused by the checks, or nothing to change.
    QString refusal;
    bool unchanged = false;
};

// The progress window of one module's worker: nothing is drawn, its end is
// the module's end, and the upgrade's bar becomes a percentage.
// A QObject, so the link can tell when it has gone.
class ModuleBatch::JobView : public QObject, public ProgressView {
public:
    JobView(ModuleBatch& batch, size_t index, int maximum)
        : batch_(batch), index_(index), maximum_(maximum)
    {}

    void setMessage(const QString&) override {}
    void setPosition(int position) override { moveTo(position); }
    void stepIt() override { moveTo(position_ + 10); }
    void stepBy(int delta) override { moveTo(static_cast<long long>(position_) + delta); }
    void closeProgress() override
    {
        if (closed_)
            return;
        closed_ = true;
        batch_.jobEnded(index_);
    }

private:
    void moveTo(long long position)
    {
        position_ = static_cast<int>(std::clamp<long long>(position, 0, maximum_));
        const int percent = maximum_ > 0 ? static_cast<int>(100LL * position_ / maximum_) : 0;
        if (percent != percent_ && !closed_) {
            percent_ = percent;
            batch_.jobProgressed(index_, percent);
        }
    }

    ModuleBatch& batch_;
    size_t index_;
    int maximum_;
    int position_ = 0;
    int percent_ = -1;
    bool closed_ = false;
};

// What a module's worker would show: an error becomes the module's status
// (ten modules failing are ten statuses, not ten boxes), a question gets No,
// and an unexpected error goes to the standard display, naming the module.
class ModuleBatch::JobPrompter : public Prompter {
public:
    JobPrompter(Job& job, Prompter* display) : job_(job), display_(display) {}

    void showError(const QString& text) override
    {
        if (job_.shownError.isEmpty())
            job_.shownError = text;
    }
    bool askConfirm(const QString&) override { return false; }
    void showFinished(const QString&) override {}
    bool askFinished(const QString&) override { return false; }
    void showException(const QString& text) override
    {
        if (!display_)
            return;
        const PromptSubject subject(*display_, job_.module.line());
        display_->showException(text);
    }

private:
    Job& job_;
    QPointer<Prompter> display_;
};

QString ModuleBatch::Module::line() const
{
    return QStringLiteral("%1  %2  %3").arg(name, ip, mac);
}

ModuleBatch::ModuleBatch(Setup setup, QList<Module> modules)
    : setup_(std::move(setup)), queue_(setup_.jobs)
{
    for (Module& m : modules) {
        auto job = std::make_unique<Job>();
        job->module = std::move(m);
        jobs_.push_back(std::move(job));
    }
}

ModuleBatch::~ModuleBatch()
{
    // Nothing a worker still does reaches this batch once it is gone.
    for (const auto& job : jobs_) {
        if (!job->token)
            continue;
        if (job->result == JobResult::Running)
            job->token->requestStop();
        job->token->detach();
    }
    for (const auto& job : jobs_)
        job->module.password.fill('\0');
}

const QString& ModuleBatch::waitingText()
{
    static const QString text = QStringLiteral("waiting");
    return text;
}

const QString& ModuleBatch::cancelledText()
{
    static const QString text = QStringLiteral("cancelled");
    return text;
}

QString ModuleBatch::failedText(const QString& message)
{
    QString oneLine = message;
    oneLine.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    return QStringLiteral("failed: ") + oneLine.trimmed();
}

QString ModuleBatch::title() const
{
    switch (setup_.operation) {
    case Operation::Reboot:
        return QStringLiteral("Reboot");
    case Operation::Upgrade:
        return QStringLiteral("Upgrade");
    case Operation::ApplySettings:
        break;
    }
    return QStringLiteral("Apply settings file");
}

QString ModuleBatch::runningText() const
{
    switch (setup_.operation) {
    case Operation::Reboot:
        return QStringLiteral("rebooting\u2026");
    case Operation::Upgrade:
        return QStringLiteral("upgrading\u2026");
    case Operation::ApplySettings:
        break;
    }
    return QStringLiteral("applying settings\u2026");
}

int ModuleBatch::ended() const
{
    return static_cast<int>(std::count_if(jobs_.begin(), jobs_.end(), [](const auto& job) {
        return job->result != JobResult::Pending && job->result != JobResult::Running;
    }));
}

int ModuleBatch::failed() const
{
    return static_cast<int>(std::count_if(jobs_.begin(), jobs_.end(), [](const auto& job) {
        return job->result == JobResult::Failed;
    }));
}

void ModuleBatch::setStatus(Job& job, const QString& text)
{
    job.status = text;
    if (onStatus_)
        onStatus_(job.module.mac, text);
}

void ModuleBatch::start()
{
    for (size_t i = 0; i < jobs_.size(); ++i) {
        setStatus(*jobs_[i], waitingText());
        queue_.add([this, i](std::function<void()> ended) { startJob(i, std::move(ended)); });
    }
    queue_.setOnIdle([this] {
        if (finished_)
            return;
        finished_ = true;
        if (onProgress_)
            onProgress_();
    });
    queue_.start();
}

void ModuleBatch::startJob(size_t index, std::function<void()> ended)
{
    Job& job = *jobs_[index];
    job.ended = std::move(ended);
    job.result = JobResult::Running;
    job.token = std::make_shared<RunToken>();
    const int barMaximum = setup_.operation == Operation::Upgrade
        ? upgradeFwThread::barMaximumFor(setup_.firmwarePath)
        : kBarMaximum;
    job.view = std::make_unique<JobView>(*this, index, barMaximum);
    job.prompter = std::make_unique<JobPrompter>(job, setup_.prompter);
    // Several workers write at once: each line says whose it is.
    WorkerLink::LogFn log;
    if (setup_.log)
        log = [log = setup_.log, who = job.module.line()](const QString& line) {
            log(QStringLiteral("%1: %2").arg(who, line));
        };
    WorkerLink link(job.token, job.view.get(), job.prompter.get(), std::move(log), barMaximum);
    if (setup_.hold)
        link.keepWhileRunning(setup_.hold(job.module.mac));
    setStatus(job, runningText());

    const QByteArray ip = job.module.ip.toLatin1();
    const QByteArray mac = job.module.mac.toLatin1().left(17);
    switch (setup_.operation) {
    case Operation::Reboot:
    case Operation::Upgrade: {
        DeviceRequest request;
        std::memset(&request, 0, sizeof request);
        storeField(request.ipText, ip);
        storeField(request.macText, mac);
        storeField(request.password, job.module.password.left(8));
        if (setup_.operation == Operation::Reboot) {
            WorkerThread::start(std::make_unique<rebootThread>(std::move(link), setup_.net, request,
                                                               setup_.commandPort));
        } else {
            storeField(request.firmwarePath, setup_.firmwarePath);
            WorkerThread::start(std::make_unique<upgradeFwThread>(std::move(link), setup_.net,
                                                                  request, setup_.upgrade));
        }
        std::memset(request.password, 0, sizeof request.password);
        break;
    }
    case Operation::ApplySettings: {
        SettingsRecord login;
        std::memset(&login, 0, sizeof login);
        storeField(login.passwd, job.module.password.left(8));
        // Asked on the UI thread while the worker holds the module's
        // connection; a batch that is gone or was left decides nothing.
        auto decide = [weak = weak_from_this(),
                       index](const SettingsRecord& asRead) -> std::optional<SettingsRecord> {
            const std::shared_ptr<ModuleBatch> batch = weak.lock();
            return batch ? batch->decide(index, asRead) : std::nullopt;
        };
        WorkerThread::start(std::make_unique<TCPcmdupdateThread>(
            std::move(link), setup_.net, login, mac.constData(), ip.constData(), std::move(decide),
            setup_.commandPort));
        std::memset(login.passwd, 0, sizeof login.passwd);
        break;
    }
    }
}

std::optional<SettingsRecord> ModuleBatch::decide(size_t index, const SettingsRecord& asRead)
{
    Job& job = *jobs_[index];
    if (cancelled_ || !job.token || job.token->detached())
        return std::nullopt;
    QStringList dropped;
    const QList<Assignment> values = setup_.settings.forModule(fieldText(asRead.lanMac), &dropped);
    if (!dropped.isEmpty() && setup_.log)
        setup_.log(QStringLiteral("%1: %2 not taken: the settings file was saved from another "
                                  "module")
                       .arg(job.module.line(), dropped.join(QStringLiteral(", "))));
    SettingsRecord toWrite;
    QList<SettingsChange> changes;
    job.refusal = setup_.settings.prepare(values, asRead, toWrite, changes);
    if (!job.refusal.isEmpty())
        return std::nullopt;
    // A write restarts the module: one that would change nothing is not made.
    if (changes.isEmpty()) {
        job.unchanged = true;
        return std::nullopt;
    }
    return toWrite;
}

void ModuleBatch::jobProgressed(size_t index, int percent)
{
    Job& job = *jobs_[index];
    if (setup_.operation == Operation::Upgrade && job.result == JobResult::Running)
        setStatus(job, QStringLiteral("%1 %2%").arg(runningText()).arg(percent));
}

void ModuleBatch::jobEnded(size_t index)
{
    Job& job = *jobs_[index];
    if (job.result != JobResult::Running)
        return;
    const RunToken& run = *job.token;
    WorkerOutcome outcome;
    QString operation;
    switch (setup_.operation) {
    case Operation::Reboot:
        outcome = WorkerOutcome::ofRun(rebootThread::outcome(run.result), run);
        operation = QStringLiteral("reboot");
        break;
    case Operation::Upgrade:
        outcome = WorkerOutcome::ofRun(upgradeFwThread::outcome(run.result), run);
        operation = QStringLiteral("upgrade");
        break;
    case Operation::ApplySettings:
        outcome = WorkerOutcome::ofRun(TCPcmdupdateThread::outcome(run.result), run);
        operation = QStringLiteral("settings update");
        break;
    }

    switch (outcome.kind) {
    case WorkerOutcome::Kind::Done:
        if (!job.refusal.isEmpty()) {
            job.result = JobResult::Failed;
            setStatus(job, failedText(job.refusal));
        } else if (job.unchanged) {
            job.result = JobResult::Unchanged;
            setStatus(job, QStringLiteral("unchanged"));
        } else {
            job.result = JobResult::Done;
            setStatus(job, QStringLiteral("done"));
        }
        break;
    case WorkerOutcome::Kind::Failed: {
        QString message = outcome.message;
        if (message.isEmpty())
            message = job.shownError;
        if (message.isEmpty())
            message = QStringLiteral("%1 ended with code %2").arg(operation).arg(outcome.code);
        job.result = JobResult::Failed;
        setStatus(job, failedText(message));
        break;
    }
    // No Cancel reaches a single module here: a run that stored no result
    // was ended by an unexpected error, which has been shown.
    case WorkerOutcome::Kind::Cancelled:
    case WorkerOutcome::Kind::Unexpected:
        job.result = JobResult::Failed;
        setStatus(job, failedText(QStringLiteral("ended by an unexpected error")));
        break;
    }
    // The queue counts it ended before anyone reads the counts.
    if (job.ended)
        std::exchange(job.ended, nullptr)();
    if (onProgress_)
        onProgress_();
}

void ModuleBatch::cancel()
{
    if (finished_)
        return;
    cancelled_ = true;
    queue_.stop();
    for (const auto& job : jobs_) {
        if (job->result != JobResult::Pending && job->result != JobResult::Running)
            continue;
        if (job->token) {
            job->token->requestStop();
            job->token->detach();
        }
        job->result = JobResult::Cancelled;
        setStatus(*job, cancelledText());
    }
    finished_ = true;
}

QString ModuleBatch::progressText() const
{
    const int running = queue_.running();
    QString text =
        QStringLiteral("%1: %2 of %3 modules ended").arg(title()).arg(ended()).arg(total());
    if (const int n = failed(); n > 0)
        text += QStringLiteral(", %1 failed").arg(n);
    if (running > 0)
        text += QStringLiteral(", %1 running").arg(running);
    return text;
}

QStringList ModuleBatch::summary() const
{
    QStringList lines;
    int done = 0;
    int unchanged = 0;
    int cancelled = 0;
    for (const auto& job : jobs_) {
        lines << QStringLiteral("%1: %2").arg(job->module.line(), job->status);
        done += job->result == JobResult::Done ? 1 : 0;
        unchanged += job->result == JobResult::Unchanged ? 1 : 0;
        cancelled += job->result == JobResult::Cancelled ? 1 : 0;
    }
    QString counts = QStringLiteral("%1 of %2 modules%3: %4 done")
                         .arg(title())
                         .arg(total())
                         .arg(cancelled_ ? QStringLiteral(" cancelled") : QString())
                         .arg(done);
    if (setup_.operation == Operation::ApplySettings)
        counts += QStringLiteral(", %1 unchanged").arg(unchanged);
    counts += QStringLiteral(", %1 failed").arg(failed());
    if (cancelled > 0)
        counts += QStringLiteral(", %1 cancelled").arg(cancelled);
    lines << counts;
    return lines;
}

} // namespace tvx
