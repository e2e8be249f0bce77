#include "protocol/Tcpcmdgetthread.h"

#include "net/Ipv4.h"
#include "protocol/CommandTable.h"

#include <cstring>

namespace tvx {

namespace {
// The label's total; the count never reaches it (25 steps).
constexpr int kShownTotal = 35;
} // namespace

QString TCPcmdgetThread::otherModuleMessage(const char* ip, const char* pickedMac,
                                            const SettingsRecord& record)
{
    char reported[sizeof record.lanMac + 1] = {};
    std::memcpy(reported, record.lanMac, sizeof record.lanMac);
    return CommandConnection::otherModuleText(ip, pickedMac, reported);
}

QString TCPcmdgetThread::resultMessage(int result)
{
    switch (result) {
    case -1:
        return QStringLiteral("connect to device failed");
    case -3:
        return QStringLiteral("get device information failed");
    case -4:
        return QStringLiteral("login to device failed");
    default:
        return {};
    }
}

WorkerOutcome TCPcmdgetThread::outcome(int result)
{
    using Kind = WorkerOutcome::Kind;
    if (result == kRunStillGoing)
        return WorkerOutcome::of(result, Kind::Cancelled);
    if (result == kUnexpectedResult)
        return WorkerOutcome::of(result, Kind::Unexpected);
    if (result < 0)
        return WorkerOutcome::of(result, Kind::Failed, resultMessage(result));
    return WorkerOutcome::of(result, Kind::Done);
}

TCPcmdgetThread::TCPcmdgetThread(WorkerLink link, std::shared_ptr<HostNetwork> net,
                                 const SettingsRecord& record, const char* macText,
                                 const char* ipText, std::shared_ptr<SettingsRecord> handOver,
                                 uint16_t port)
    : WorkerThread(QStringLiteral("TCPcmdgetThread"), std::move(link)), net_(std::move(net)),
      record_(record), handOver_(std::move(handOver)), port_(port)
{
    std::strncpy(macText_, macText, 17);
    std::strncpy(ipText_, ipText, 19);
}

int TCPcmdgetThread::readSequence(CommandConnection& connection, SettingsRecord& record,
                                  WorkerLink& link)
{
    link.setPosition(link.barMaximum() / kShownTotal);
    connection.clearReply();
    char* reply = connection.replyText();

    char password[sizeof record.passwd] = {};
    std::memcpy(password, record.passwd, strnlen(record.passwd, sizeof password - 1));
    const int login = connection.loginDevice(password);
    if (login != 0)
        return login;

    int last = 0;
    int k = 0;
    for (const ReadStep& step : readSteps()) {
        ++k;
        link.setMessage(QString::asprintf("get information...%d/%d", k, kShownTotal));
        link.stepIt();
        if (link.stopRequested())
            return -2;
        last = connection.sendCommand(step.request, std::strlen(step.request), reply);
        if (last < 1)
            return -3;
        if (!storeReadReply(step, reply, static_cast<size_t>(last), record))
            return -3;
    }
    return last;
}

void TCPcmdgetThread::execute()
{
    CommandConnection connection(*net_, link(), WorkerFamily::Settings, ipText_, macText_, port_);
    link().setMessage(QStringLiteral("connect to device..."));
    int result = connection.reachDevice();
    if (result == 0) {
        result = readSequence(connection, record_, link());
        connection.closeConnection();
    }
    link().stepBy(1000);
    if (result >= 0 && handOver_)
        link().post([slot = handOver_, record = record_] { *slot = record; });
    link().storeResult(result);
    link().finish();
}

void TCPcmdgetThread::afterException()
{
    link().storeResult(kUnexpectedResult);
}

} // namespace tvx
