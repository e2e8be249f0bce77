// The main window's operations on several selected modules: Reboot, Upgrade
// (one firmware file for all) and "Apply settings file…". The window asks
// (the file, one confirmation naming the modules, each module's password)
// and shows (each row's Status, the batch's progress, the summary in the
// log); the core's ModuleBatch runs the workers, a few at a time.
#include "app/Mainfrm.h"
#include "app/ModuleBatch.h"
#include "app/ModuleTitle.h"

#include "config/SettingsEdit.h"
#include "discovery/DeviceRegistry.h"
#include "firmware/FirmwareDialog.h"
#include "firmware/Upgradefwdlg.h"
#include "firmware/Upgradeprgfrm.h"
#include "handover/Prompter.h"
#include "widgets/QtFilePicker.h"

#include <QFileInfo>
#include <QItemSelectionModel>
#include <QPointer>
#include <QTimer>
#include <QTreeView>

#include <algorithm>
#include <cstring>

namespace tvx {

namespace {
// The confirmation names this many modules, then how many more.
constexpr int kNamedInConfirmation = 10;
const QString kOpenElsewhere = QStringLiteral("please exit from configuration utility");

// What the user picked, and the modules the batch is for.
struct BatchRequest {
    ModuleBatch::Operation operation = ModuleBatch::Operation::Reboot;
    QList<ModuleBatch::Module> modules;
    QList<bool> withPassword;
    QStringList skipped; // MACs of the modules whose configuration window is open
};
} // namespace

QList<int> TmainForm::selectedRows() const
{
    QList<int> rows;
    for (const QModelIndex& index : deviceListView->selectionModel()->selectedRows())
        rows << index.row();
    std::sort(rows.begin(), rows.end());
    return rows;
}

int TmainForm::selectedDeviceCount() const
{
    return static_cast<int>(deviceListView->selectionModel()->selectedRows().size());
}

FilePicker& TmainForm::filePicker()
{
    static QtFilePicker dialogs;
    return filePicker_ ? *filePicker_ : dialogs;
}

namespace {

// The selected modules in list order, without those whose window is open.
// False, after saying so, when none is left.
bool gatherModules(TmainForm& window, BatchRequest& request)
{
    for (const int row : window.selectedRows()) {
        ModuleBatch::Module m;
        m.name = window.deviceCell(row, CellDeviceName);
        m.ip = window.deviceCell(row, CellIp);
        m.mac = window.deviceCell(row, CellMac).left(17);
        if (m.ip.isEmpty() || m.mac.isEmpty())
            continue;
        if (window.isDeviceOpen(m.mac.toLatin1().constData())) {
            request.skipped << m.mac;
            continue;
        }
        request.withPassword << (window.deviceCell(row, CellPassword) == QLatin1String("Yes"));
        request.modules << m;
    }
    if (request.modules.isEmpty()) {
        if (!request.skipped.isEmpty())
            window.prompter().showError(kOpenElsewhere);
        return false;
    }
    return true;
}

QString confirmation(const QString& question, const BatchRequest& request)
{
    QStringList lines{question};
    const qsizetype n = request.modules.size();
    for (qsizetype i = 0; i < std::min<qsizetype>(n, kNamedInConfirmation); ++i)
        lines << request.modules[i].line();
    if (n > kNamedInConfirmation)
        lines << QStringLiteral("\u2026 and %1 more").arg(n - kNamedInConfirmation);
    if (!request.skipped.isEmpty())
        lines << QStringLiteral("%1 selected with their configuration window open %2 left out.")
                     .arg(request.skipped.size())
                     .arg(request.skipped.size() == 1 ? QStringLiteral("is")
                                                      : QStringLiteral("are"));
    return lines.join(QStringLiteral("\r\n"));
}

QString howMany(qsizetype n)
{
    return n == 1 ? QStringLiteral("1 device") : QStringLiteral("%1 devices").arg(n);
}

// One prompt per module that has a password, naming it. False when one was
// cancelled or left blank: nothing starts then.
bool askPasswords(TmainForm& window, QList<ModuleBatch::Module>& modules,
                  const QList<bool>& withPassword)
{
    for (qsizetype i = 0; i < modules.size(); ++i) {
        if (!withPassword.value(i))
            continue;
        const PromptSubject subject(window.prompter(), modules[i].line());
        char typed[20] = {};
        if (!window.promptPassword(typed, sizeof typed))
            return false;
        modules[i].password = QByteArray(typed, static_cast<qsizetype>(strnlen(typed, 8)));
        std::memset(typed, 0, sizeof typed);
    }
    return true;
}

// Runs the batch under the upgrade's progress window, which tells how many
// modules have ended; Cancel there cancels the batch. The summary goes to
// the log either way.
void runBatch(TmainForm& window, ModuleBatch::Setup setup, const BatchRequest& request)
{
    TupgradePrgForm* form = window.windows().upgradePrgForm;
    if (!form)
        return;
    const QPointer<DeviceRegistry> registry(&window.devices());
    setup.operation = request.operation;
    setup.net = window.sharedHostNetwork();
    setup.prompter = &window.prompter();
    setup.log = window.logSink();
    setup.hold = [registry](const QString& mac) {
        return registry ? registry->hold(mac) : std::shared_ptr<void>();
    };
    auto batch = std::make_shared<ModuleBatch>(std::move(setup), request.modules);

    // The Status column tells of this batch alone, and comes into view.
    registry->clearStatus();
    for (const QString& mac : request.skipped)
        registry->setStatus(mac, kOpenElsewhere);
    if (const QList<int> rows = window.selectedRows(); !rows.isEmpty()) {
        QTreeView* list = window.deviceList();
        list->scrollTo(list->model()->index(rows.first(), DeviceRegistry::Status));
    }
    batch->setOnStatus([registry](const QString& mac, const QString& text) {
        if (registry)
            registry->setStatus(mac, text);
    });
    RunToken wait;
    const auto showProgress = [form, &wait, batch = batch.get()] {
        form->setMessage(batch->progressText());
        const int span = form->barMaximum() - 10;
        form->setPosition(10 + (batch->total() > 0 ? span * batch->ended() / batch->total() : 0));
        if (batch->finished()) {
            wait.finished = true;
            form->closeProgress();
        }
    };
    batch->setOnProgress(showProgress);

    const ModuleTitle title(
        form, QStringLiteral("%1 of %2").arg(batch->title(), howMany(batch->total())));
    // Started from the modal wait, after the window has been prepared.
    QTimer::singleShot(0, form, [weak = std::weak_ptr<ModuleBatch>(batch), showProgress] {
        if (const auto b = weak.lock(); b && !b->finished()) {
            b->start();
            showProgress();
        }
    });
    if (!runModalOperation(form, wait, [&batch] { return !batch->finished(); }))
        batch->cancel();
    for (const QString& line : batch->summary())
        window.appendLog(line);
}

} // namespace

void TmainForm::batchReboot()
{
    BatchRequest request;
    request.operation = ModuleBatch::Operation::Reboot;
    if (!gatherModules(*this, request))
        return;
    if (!prompter().askConfirm(confirmation(
            QStringLiteral("Are you sure to reboot %1?").arg(howMany(request.modules.size())),
            request)))
        return;
    if (!askPasswords(*this, request.modules, request.withPassword))
        return;
    runBatch(*this, {}, request);
}

void TmainForm::batchUpgrade()
{
    BatchRequest request;
    request.operation = ModuleBatch::Operation::Upgrade;
    if (!gatherModules(*this, request))
        return;
    // One file for all: the dialog without a password, whatever the modules
    // need; each module's password is asked for below.
    FirmwareDialog* dialog = windows().upgradeFWDlg;
    if (!dialog)
        return;
    int answer;
    {
        const QString line = howMany(request.modules.size());
        const ModuleTitle title(dialog, line);
        dialog->setModuleLine(line);
        answer = dialog->exec();
        dialog->setModuleLine(QString());
    }
    if (answer != QDialog::Accepted)
        return;
    const QByteArray path = dialog->firmwarePathBytes();
    if (!prompter().askConfirm(confirmation(
            QStringLiteral("Are you sure to upgrade %1 with %2?")
                .arg(howMany(request.modules.size()), QFileInfo(dialog->firmwareFile()).fileName()),
            request)))
        return;
    if (!askPasswords(*this, request.modules, request.withPassword))
        return;
    ModuleBatch::Setup setup;
    setup.firmwarePath = path;
    runBatch(*this, std::move(setup), request);
}

void TmainForm::applySettingsFile()
{
    if (!networkReady()) {
        prompter().showError(QStringLiteral("some error occur during network startup"));
        return;
    }
    BatchRequest request;
    request.operation = ModuleBatch::Operation::ApplySettings;
    if (selectedDeviceCount() == 0) {
        prompter().showError(QStringLiteral("please select a device first"));
        return;
    }
    if (!gatherModules(*this, request))
        return;
    const QString path =
        filePicker().openFile(this, QStringLiteral("Apply settings file"), QString(),
                              QStringLiteral("Settings files (*.json);;All files (*)"));
    if (path.isEmpty())
        return;
    SettingsFile file;
    if (const QString problem = SettingsEdit::readFile(path, file); !problem.isEmpty()) {
        prompter().showError(problem);
        return;
    }
    if (!file.shownOnly.isEmpty())
        appendLog(QStringLiteral("%1: %2 shown only, ignored")
                      .arg(path, file.shownOnly.join(QStringLiteral(", "))));
    if (!prompter().askConfirm(
            confirmation(QStringLiteral("Are you sure to apply %1 to %2?")
                             .arg(QFileInfo(path).fileName(), howMany(request.modules.size())),
                         request)))
        return;
    if (!askPasswords(*this, request.modules, request.withPassword))
        return;
    ModuleBatch::Setup setup;
    setup.settings.assignments = file.assignments;
    setup.settings.fromFile = true;
    setup.settings.savedFromMac = file.savedFromMac;
    setup.settings.log = logSink();
    runBatch(*this, std::move(setup), request);
}

} // namespace tvx
