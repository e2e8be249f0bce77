// The main window's double-click flow, beside the read worker.
#include "app/Mainfrm.h"

#include "app/Prompter.h"
#include "app/WorkerThread.h"
#include "protocol/Passworddlg.h"
#include "protocol/SettingsRecord.h"
#include "protocol/Tcpcmdgetthread.h"
#include "protocol/Tcpprgfrm.h"

#include <cstring>

namespace tvx {

namespace {

void copyText(char* out, size_t room, const QString& text, size_t maxChars)
{
    const QByteArray bytes = text.toLatin1();
    std::memset(out, 0, room);
    std::memcpy(out, bytes.constData(),
                std::min({static_cast<size_t>(bytes.size()), maxChars, room - 1}));
}

} // namespace

void TmainForm::deviceListViewDblClick()
{
    const int row = firstSelectedRow();
    if (row < 0)
        return;
    char ipText[20];
    char macText[20];
    copyText(ipText, sizeof ipText, deviceCell(row, CellIp), 20);
    copyText(macText, sizeof macText, deviceCell(row, CellMac), 17);
    if (!ipText[0] || !macText[0])
        return;
    if (isDeviceOpen(macText)) {
        prompter().showError(QStringLiteral("already selected"));
        return;
    }
    TtcpPrgForm* progress = windows().tcpPrgForm;
    if (!progress)
        return;

    SettingsRecord record;
    std::memset(&record, 0, sizeof record);
    if (deviceCell(row, CellPassword) == QStringLiteral("Yes")) {
        TPasswordDlg* dialog = windows().PasswordDlg;
        if (!dialog)
            return;
        dialog->clearPassword();
        if (dialog->exec() != QDialog::Accepted)
            return;
        const QString typed = dialog->password();
        if (typed.isEmpty()) {
            prompter().showError(QStringLiteral("Password can't be blank"));
            return;
        }
        copyText(record.passwd, sizeof record.passwd, typed, 8);
    }

    // The worker keeps its own record; this run's copy arrives here before
    // its result, and a cancelled run's copy is dropped with its other effects.
    auto token = std::make_shared<RunToken>();
    auto handOver = std::make_shared<SettingsRecord>();
    std::memset(handOver.get(), 0, sizeof *handOver);
    WorkerThread::start(std::make_unique<TCPcmdgetThread>(
        makeLink(token, progress, progress->barMaximum()), hostNetwork(), record, macText, ipText,
        handOver));

    progress->prepare();
    progress->runModal(*token);

    const int readResult = token->result;
    if (readResult == 1) {
        token->requestStop();
        token->detach();
        return;
    }
    if (readResult < 0) {
        const QString text = TCPcmdgetThread::resultMessage(readResult);
        if (!text.isEmpty())
            prompter().showError(text);
        return;
    }
    markDeviceOpen(macText, true);
    openConfigWindow(macText, *handOver);
}

} // namespace tvx
