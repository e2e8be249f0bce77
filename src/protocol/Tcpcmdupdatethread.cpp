#include "protocol/Tcpcmdupdatethread.h"

#include "protocol/Tcpcmdgetthread.h"
#include "protocol/Tcpcmdsetthread.h"

#include <cstring>

namespace tvx {

TCPcmdupdateThread::TCPcmdupdateThread(WorkerLink link, std::shared_ptr<HostNetwork> net,
                                       const SettingsRecord& login, const char* macText,
                                       const char* ipText, Decide decide, uint16_t port)
    : WorkerThread(QStringLiteral("TCPcmdupdateThread"), std::move(link)), net_(std::move(net)),
      decide_(std::move(decide)), port_(port)
{
    std::memset(&record_, 0, sizeof record_);
    std::memcpy(record_.passwd, login.passwd, strnlen(login.passwd, sizeof record_.passwd - 1));
    std::strncpy(macText_, macText, 17);
    std::strncpy(ipText_, ipText, 19);
}

WorkerOutcome TCPcmdupdateThread::outcome(int result)
{
    // As the read's: a write that fails says so in its detail.
    return TCPcmdgetThread::outcome(result);
}

int TCPcmdupdateThread::update(CommandConnection& connection, QString& detail)
{
    const int read = TCPcmdgetThread::readSequence(connection, record_, link());
    if (read < 0)
        return read;
    detail = TCPcmdgetThread::otherModuleMessage(ipText_, macText_, record_);
    if (!detail.isEmpty())
        return kOtherModuleResult;

    // The worker waits for the decision, so what the call refers to lives.
    std::optional<SettingsRecord> toWrite;
    const Decide& decide = decide_;
    const SettingsRecord& asRead = record_;
    link().callAndWait([&decide, &asRead, &toWrite] {
        if (decide)
            toWrite = decide(asRead);
    });
    if (!toWrite)
        return 0;
    if (stopRequested())
        return -2;
    const int written = TCPcmdsetThread::writeLinesAndRestart(connection, *toWrite, link());
    if (written < 0)
        detail = TCPcmdsetThread::resultMessage(written);
    return written;
}

void TCPcmdupdateThread::execute()
{
    CommandConnection connection(*net_, link(), WorkerFamily::Settings, ipText_, macText_, port_);
    link().setMessage(QStringLiteral("connect to device..."));
    int result = connection.reachDevice();
    QString detail;
    if (result == 0) {
        result = update(connection, detail);
        connection.closeConnection();
    }
    link().stepBy(1000);
    link().storeResult(result, detail);
    link().finish();
}

void TCPcmdupdateThread::afterException()
{
    // Closed as at any other end, so whoever waits for it stops waiting.
    link().storeResult(kUnexpectedResult);
    link().finish();
}

} // namespace tvx
