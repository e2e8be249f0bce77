#include "cli/TargetRun.h"

#include "cli/CliContext.h"
#include "cli/RunView.h"
#include "cli/TerminalDisplay.h"
#include "cli/TerminalPrompter.h"
#include "config/SettingsUpdate.h"
#include "firmware/Rebootthread.h"
#include "firmware/Upgradefwthread.h"
#include "handover/RecordText.h"
#include "handover/WorkerLink.h"
#include "protocol/Tcpcmdgetthread.h"
#include "protocol/Tcpcmdsetthread.h"
#include "protocol/Tcpcmdupdatethread.h"

#include <algorithm>
#include <cstring>

namespace tvx::cli {

namespace {
// The bar ranges of the runs. The windows' bars step by 10 a command or a
// firmware block and are full long before the end: the settings window's
// (0 to 100) after ten of up to 25 commands, while its label counts them out
// of 35; the upgrade window's (0 to 1000) after 100 blocks of a file of
// thousands. On the terminal, where the bar is the only measure of a run, it
// spans the label's 35 steps, and every block of the file.
constexpr int kSettingsBarMaximum = 35 * 10;
// set reads and writes on one connection: the read's steps, then the write's.
constexpr int kUpdateBarMaximum = 2 * kSettingsBarMaximum;
constexpr int kDeviceBarMaximum = 1000;

SettingsUpdate settingsUpdate(const CliContext& context)
{
    SettingsUpdate update;
    update.assignments = context.assignments;
    update.fromFile = context.fromFile;
    update.savedFromMac = context.savedFromMac;
    update.withAddress = context.withAddress;
    update.newPassword = context.newPassword;
    update.log = context.log;
    return update;
}
} // namespace

QString prepareWrite(const CliContext& context, const QList<Assignment>& assignments,
                     const SettingsRecord& asRead, SettingsRecord& toWrite,
                     QList<SettingsChange>& changes, bool newPassword)
{
    SettingsUpdate update = settingsUpdate(context);
    if (!newPassword)
        update.newPassword.reset();
    return update.prepare(assignments, asRead, toWrite, changes);
}

TargetRun::TargetRun(CliContext& context, QString name) : context_(context), name_(std::move(name))
{
    outcome_.target = name_;
}

TargetRun::TargetRun(CliContext& context, Command command, QString name, const DiscoveryRecord& row,
                     QByteArray password, std::function<void()> onDone)
    : context_(context), command_(command), name_(std::move(name)), row_(row),
      password_(std::move(password)), onDone_(std::move(onDone))
{
    outcome_.target = name_;
    noteFound(row_);
}

void TargetRun::noteFound(const DiscoveryRecord& row)
{
    outcome_.found = true;
    outcome_.mac = fieldText(row.macText).left(17);
    outcome_.ip = fieldText(row.ipText);
    outcome_.devName = fieldText(row.deviceName);
}

std::unique_ptr<TargetRun> TargetRun::followUpRead(const DiscoveryRecord& row) const
{
    return std::make_unique<TargetRun>(context_, Command::Get, name_, row, password_, nullptr);
}

TargetRun::~TargetRun()
{
    // Best effort: nothing of a password stays in freed memory.
    password_.fill('\0');
}

std::unique_ptr<TargetRun> TargetRun::failed(CliContext& context, QString name,
                                             const QString& message, const DiscoveryRecord* row)
{
    std::unique_ptr<TargetRun> run(new TargetRun(context, std::move(name)));
    if (row)
        run->noteFound(*row);
    context.display->line(QStringLiteral("tarvanix-cli: %1: %2").arg(run->name_, message));
    run->outcome_.done = true;
    run->outcome_.message = message;
    return run;
}

void TargetRun::start()
{
    timer_.start();
    switch (command_) {
    case Command::Get:
        startRead();
        break;
    case Command::Set:
        startUpdate();
        break;
    case Command::Reboot:
        startReboot();
        break;
    case Command::Upgrade:
        startUpgrade();
        break;
    default:
        finish(false, QStringLiteral("nothing to do"));
        break;
    }
}

TargetRun::Step& TargetRun::newStep(int barMaximum, std::function<void(const RunToken&)> onEnd,
                                    double from, double to)
{
    Step step;
    step.token = std::make_shared<RunToken>();
    auto* token = step.token.get();
    // The worker's close of its progress view ends the step; its result was
    // stored just before. The target's end ends its run on the display.
    step.view = std::make_unique<RunView>(
        *context_.display, name_, barMaximum, [token, onEnd] { onEnd(*token); },
        RunShare{from, to, false});
    step.prompter =
        std::make_unique<TerminalPrompter>(*context_.display, name_ + QStringLiteral(": "));
    // Not every worker closes its view after an unexpected error: the step
    // ends here then, and a later close is ignored.
    step.prompter->setOnException(
        [view = step.view.get()](const QString&) { view->closeProgress(); });
    steps_.push_back(std::move(step));
    return steps_.back();
}

void TargetRun::startRead()
{
    SettingsRecord record;
    std::memset(&record, 0, sizeof record);
    storeField(record.passwd, password_.left(8));
    readBack_ = std::make_shared<SettingsRecord>();
    std::memset(readBack_.get(), 0, sizeof *readBack_);

    Step& step = newStep(kSettingsBarMaximum, [this](const RunToken& run) { afterRead(run); });
    WorkerLink link(step.token, step.view.get(), step.prompter.get(), context_.log,
                    kSettingsBarMaximum);
    WorkerThread::start(std::make_unique<TCPcmdgetThread>(std::move(link), context_.net, record,
                                                          row_.macText, row_.ipText, readBack_));
    step.view->prepare();
}

void TargetRun::afterRead(const RunToken& run)
{
    const WorkerOutcome outcome = TCPcmdgetThread::outcome(run.result);
    if (!outcome.done())
        return endStep(outcome);
    outcome_.settings = *readBack_;
    finish(true, QString());
}

void TargetRun::startUpdate()
{
    SettingsRecord login;
    std::memset(&login, 0, sizeof login);
    storeField(login.passwd, password_.left(8));
    Step& step = newStep(kUpdateBarMaximum, [this](const RunToken& run) { afterUpdate(run); });
    WorkerLink link(step.token, step.view.get(), step.prompter.get(), context_.log,
                    kUpdateBarMaximum);
    WorkerThread::start(std::make_unique<TCPcmdupdateThread>(
        std::move(link), context_.net, login, row_.macText, row_.ipText,
        [this](const SettingsRecord& asRead) { return decideWrite(asRead); }));
    std::memset(login.passwd, 0, sizeof login.passwd);
    step.view->prepare();
}

std::optional<SettingsRecord> TargetRun::decideWrite(const SettingsRecord& asRead)
{
    SettingsUpdate update = settingsUpdate(context_);
    if (assignments_)
        update.assignments = *assignments_;
    QStringList dropped;
    const QList<Assignment> assignments = update.forModule(fieldText(asRead.lanMac), &dropped);
    if (!dropped.isEmpty() && !context_.quiet)
        context_.display->line(
            QStringLiteral("tarvanix-cli: %1: %2 not taken: the settings file was saved from "
                           "another module (--with-address takes them)")
                .arg(name_, dropped.join(QStringLiteral(", "))));
    SettingsRecord toWrite;
    // A module that took the new password for this login has it already: a
    // script that runs twice changes it once.
    const bool hasItAlready = context_.newPassword
        && fieldText(row_.passwordState) == QLatin1String("Yes")
        && password_.left(8) == context_.newPassword->left(8);
    if (hasItAlready)
        update.newPassword.reset();
    refusal_ = update.prepare(assignments, asRead, toWrite, outcome_.changes);
    if (!refusal_.isEmpty())
        return std::nullopt;
    // A write restarts the module: one that would change nothing is not made,
    // so the same script can run twice.
    if (outcome_.changes.isEmpty()) {
        outcome_.kind = TargetOutcome::Kind::Unchanged;
        return std::nullopt;
    }
    if (context_.dryRun) {
        outcome_.kind = TargetOutcome::Kind::DryRun;
        return std::nullopt;
    }
    // The summary names the module written, where it reported itself.
    outcome_.ip = fieldText(asRead.lanIp);
    if (const QString mac = fieldText(asRead.lanMac); !mac.isEmpty())
        outcome_.mac = mac;
    outcome_.kind = TargetOutcome::Kind::Done;
    return toWrite;
}

void TargetRun::afterUpdate(const RunToken& run)
{
    const WorkerOutcome outcome =
        WorkerOutcome::ofRun(TCPcmdupdateThread::outcome(run.result), run);
    if (outcome.done() && !refusal_.isEmpty())
        return finish(false, refusal_);
    endStep(outcome);
}

void TargetRun::startReboot()
{
    DeviceRequest request;
    std::memset(&request, 0, sizeof request);
    storeField(request.ipText, fieldBytes(row_.ipText));
    storeField(request.macText, fieldBytes(row_.macText).left(17));
    storeField(request.password, password_.left(8));
    Step& step = newStep(kDeviceBarMaximum, [this](const RunToken& run) {
        endStep(WorkerOutcome::ofRun(rebootThread::outcome(run.result), run),
                QStringLiteral("reboot"));
    });
    WorkerLink link(step.token, step.view.get(), step.prompter.get(), context_.log,
                    kDeviceBarMaximum);
    WorkerThread::start(std::make_unique<rebootThread>(std::move(link), context_.net, request));
    std::memset(request.password, 0, sizeof request.password);
    step.view->prepare();
}

void TargetRun::startUpgrade()
{
    DeviceRequest request;
    std::memset(&request, 0, sizeof request);
    storeField(request.ipText, fieldBytes(row_.ipText));
    storeField(request.macText, fieldBytes(row_.macText).left(17));
    storeField(request.password, password_.left(8));
    storeField(request.firmwarePath, context_.firmwarePath);
    const int barMaximum = upgradeFwThread::barMaximumFor(context_.firmwarePath);
    Step& step = newStep(barMaximum, [this](const RunToken& run) {
        endStep(WorkerOutcome::ofRun(upgradeFwThread::outcome(run.result), run),
                QStringLiteral("upgrade"));
    });
    WorkerLink link(step.token, step.view.get(), step.prompter.get(), context_.log, barMaximum);
    WorkerThread::start(std::make_unique<upgradeFwThread>(std::move(link), context_.net, request));
    std::memset(request.password, 0, sizeof request.password);
    step.view->prepare();
}

void TargetRun::endStep(const WorkerOutcome& outcome, const QString& operation)
{
    switch (outcome.kind) {
    case WorkerOutcome::Kind::Done:
        return finish(true, QString());
    // The terminal has no Cancel: a run that stored no result was ended by an
    // unexpected error, which the prompter has already printed.
    case WorkerOutcome::Kind::Cancelled:
    case WorkerOutcome::Kind::Unexpected:
        return finish(false, QStringLiteral("ended by an unexpected error"), true);
    case WorkerOutcome::Kind::Failed:
        break;
    }
    if (outcome.message.isEmpty() && !operation.isEmpty())
        return finish(false,
                      QStringLiteral("%1 ended with code %2").arg(operation).arg(outcome.code));
    finish(false, outcome.message);
}

void TargetRun::finish(bool ok, const QString& message, bool alreadyShown)
{
    if (outcome_.done)
        return;
    outcome_.done = true;
    outcome_.ok = ok;
    outcome_.message = message;
    outcome_.ms = timer_.isValid() ? timer_.elapsed() : 0;
    QElapsedTimer now;
    now.start();
    outcome_.endedAt = now.msecsSinceReference();
    context_.display->runEnded(name_);
    if (!ok && !message.isEmpty() && !alreadyShown)
        context_.display->line(QStringLiteral("tarvanix-cli: %1: %2").arg(name_, message));
    if (onDone_)
        onDone_();
}

} // namespace tvx::cli
