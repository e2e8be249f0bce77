#include "protocol/Tcpcmdsetthread.h"

#include "protocol/CommandTable.h"

#include <cstring>

namespace tvx {

namespace {
// The label's total; at most 21 lines are counted, so it is never reached.
constexpr int kShownTotal = 35;
} // namespace

QString TCPcmdsetThread::resultMessage(int result)
{
    switch (result) {
    case -4:
        return QStringLiteral("login to device failed");
    case -3:
        return QStringLiteral("set device information failed");
    case -1:
        return QStringLiteral("connect to device failed");
    case kOtherModuleResult:
        return QStringLiteral("another module answered");
    default:
        return {};
    }
}

WorkerOutcome TCPcmdsetThread::outcome(int result)
{
    using Kind = WorkerOutcome::Kind;
    if (result == kRunStillGoing)
        return WorkerOutcome::of(result, Kind::Cancelled);
    if (result < 0)
        return WorkerOutcome::of(result, Kind::Failed, resultMessage(result));
    return WorkerOutcome::of(result, Kind::Done);
}

TCPcmdsetThread::TCPcmdsetThread(WorkerLink link, std::shared_ptr<HostNetwork> net,
                                 const SettingsRecord& record, const char* macText,
                                 const char* ipText, uint16_t port)
    : WorkerThread(QStringLiteral("TCPcmdsetThread"), std::move(link)), net_(std::move(net)),
      record_(record), port_(port)
{
    std::strncpy(macText_, macText, 17);
    std::strncpy(ipText_, ipText, 19);
}

int TCPcmdsetThread::writeSequence(CommandConnection& connection, const SettingsRecord& record,
                                   WorkerLink& link, QString* otherModule)
{
    link.setPosition(link.barMaximum() / kShownTotal);
    connection.clearReply();

    char password[sizeof record.passwd] = {};
    std::memcpy(password, record.passwd, strnlen(record.passwd, sizeof password - 1));
    const int login = connection.loginDevice(password);
    if (login != 0)
        return login;
    // Nothing is written to a module other than the one picked, wherever the
    // connection ended up (an address that several modules answer).
    QString answered;
    const int identity = connection.checkIdentity(answered);
    if (otherModule)
        *otherModule = answered;
    if (identity != 0)
        return identity;
    return writeLinesAndRestart(connection, record, link);
}

int TCPcmdsetThread::writeLinesAndRestart(CommandConnection& connection,
                                          const SettingsRecord& record, WorkerLink& link)
{
    char* reply = connection.replyText();
    char messageText[512];
    int last = 0;
    int k = 0;
    for (const WriteLine& line : writeLines()) {
        if (!writeLineApplies(line, record))
            continue;
        ++k;
        link.setMessage(QString::asprintf("set information...%d/%d", k, kShownTotal));
        link.stepIt();
        if (link.stopRequested())
            return -2;
        const size_t length = formatWriteLine(line, record, messageText, sizeof messageText);
        last = connection.sendCommand(messageText, length, reply);
        if (last < 1 || std::strncmp(reply, line.expected, std::strlen(line.expected)) != 0)
            return -3;
    }
    // The module restarts on this line and may never answer it: whatever comes
    // back, or nothing, the write has succeeded.
    connection.sendCommand(kSaveAndRestartLine, sizeof kSaveAndRestartLine - 1, reply);
    return last;
}

void TCPcmdsetThread::execute()
{
    CommandConnection connection(*net_, link(), WorkerFamily::Settings, ipText_, macText_, port_);
    link().setMessage(QStringLiteral("connect to device..."));
    int result = connection.reachDevice();
    QString otherModule;
    if (result == 0) {
        result = writeSequence(connection, record_, link(), &otherModule);
        connection.closeConnection();
    }
    link().stepBy(1000);
    link().storeResult(result, otherModule);
    link().finish();
}

} // namespace tvx
