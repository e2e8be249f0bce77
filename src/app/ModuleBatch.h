#pragma once

#include "config/SettingsUpdate.h"
#include "firmware/Upgradefwthread.h"
#include "handover/RunQueue.h"
#include "handover/WorkerLink.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace tvx {

class HostNetwork;
class Prompter;

// One operation on several modules at once: a reboot, a firmware upgrade
// with one file for all, or one settings file applied to each. Each module
// gets the worker a single module gets (the reboot worker, the upgrade
// worker, the one-connection settings update), with its own run token and
// connection, at most `jobs` at once (RunQueue). What each module is at
// ("waiting", "rebooting…", "done", "failed: …") is told as it changes, and
// the end gives a summary. The workers' own checks stay theirs: a module
// that answers with another MAC fails with the message naming both.
//
// UI thread only. Made with std::make_shared: a worker that is still ending
// after a cancel may ask it for its decision, and finds it gone or detached.
class ModuleBatch : public std::enable_shared_from_this<ModuleBatch> {
public:
    enum class Operation { Reboot, Upgrade, ApplySettings };

    // A module as the list shows it, with the password typed for it (empty
    // when it has none).
    struct Module {
        QString name;
        QString ip;
        QString mac;
        QByteArray password;
        // "name  IP  MAC", as the prompts name a module.
        QString line() const;
    };

    struct Setup {
        Operation operation = Operation::Reboot;
        std::shared_ptr<HostNetwork> net;
        // The standard exception display; a worker's other messages become
        // its module's status instead of a box each.
        Prompter* prompter = nullptr;
        WorkerLink::LogFn log;
        int jobs = kDefaultJobs;
        QByteArray firmwarePath; // upgrade, in the file system's encoding
        SettingsUpdate settings; // apply settings
        // Held while the module's worker runs (the device registry's hold).
        std::function<std::shared_ptr<void>(const QString& mac)> hold;
        // The modules' ports and pauses; only tests change them.
        uint16_t commandPort = 23;
        UpgradeSettings upgrade;
    };

    // Each status as it changes: a module's MAC and its text.
    using StatusFn = std::function<void(const QString& mac, const QString& status)>;

    ModuleBatch(Setup setup, QList<Module> modules);
    ~ModuleBatch();
    ModuleBatch(const ModuleBatch&) = delete;
    ModuleBatch& operator=(const ModuleBatch&) = delete;

    void setOnStatus(StatusFn call) { onStatus_ = std::move(call); }
    // After every module's end, and once more when the whole batch has ended.
    void setOnProgress(std::function<void()> call) { onProgress_ = std::move(call); }

    // Every module "waiting", then the first ones start.
    void start();
    // The user left: nothing more starts, the running workers are told to
    // stop and nothing of theirs arrives any more; each module not done is
    // "cancelled".
    void cancel();

    int total() const { return static_cast<int>(jobs_.size()); }
    int ended() const;
    int failed() const;
    bool finished() const { return finished_; }
    // The operation as a noun for captions and the summary ("Reboot").
    QString title() const;
    // What the bar and label of the batch's window say.
    QString progressText() const;
    // One line per module with its result, then the counts.
    QStringList summary() const;

    // The status texts, for the window and its tests.
    static QString failedText(const QString& message);
    static const QString& waitingText();
    static const QString& cancelledText();

private:
    struct Job;
    class JobView;
    class JobPrompter;

    void startJob(size_t index, std::function<void()> ended);
    void jobProgressed(size_t index, int percent);
    void jobEnded(size_t index);
    void setStatus(Job& job, const QString& text);
    std::optional<SettingsRecord> decide(size_t index, const SettingsRecord& asRead);
    QString runningText() const;

    Setup setup_;
    std::vector<std::unique_ptr<Job>> jobs_;
    RunQueue queue_;
    StatusFn onStatus_;
    std::function<void()> onProgress_;
    bool finished_ = false;
    bool cancelled_ = false;
};

} // namespace tvx
