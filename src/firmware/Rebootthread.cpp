#include "firmware/Rebootthread.h"

#include "handover/RecordText.h"
#include "protocol/CommandConnection.h"

#include <array>
#include <cstring>
#include <utility>

namespace tvx {

namespace {
// -1 (no address) and -2 (cancelled) show nothing.
constexpr std::array<std::pair<int, const char*>, 4> kMessages{{
    {kOtherModuleResult, "another module answered"},
    {-6, "send command failed"},
    {-5, "login to device failed"},
    {-3, "connect to device failed"},
}};

// Sent with its terminating zero: 7 bytes.
constexpr char kSerCommand[] = "$SER\r\n";
static_assert(sizeof kSerCommand == 7);
} // namespace

rebootThread::rebootThread(WorkerLink link, std::shared_ptr<HostNetwork> net,
                           const DeviceRequest& request, uint16_t commandPort)
    : WorkerThread(QStringLiteral("rebootThread"), std::move(link)), net_(std::move(net)),
      commandPort_(commandPort)
{
    if (request.password[0])
        storeField(password_, fieldBytes(request.password));
    storeField(ipText_, fieldBytes(request.ipText));
    storeField(macText_, fieldBytes(request.macText));
}

WorkerOutcome rebootThread::outcome(int code)
{
    return WorkerOutcome::ofZeroForSuccess(code, &resultMessage);
}

QString rebootThread::resultMessage(int code)
{
    for (const auto& [value, text] : kMessages) {
        if (value == code)
            return QString::fromLatin1(text);
    }
    return {};
}

const QString& rebootThread::successQuestion()
{
    static const QString text =
        QStringLiteral("Device rebooting now! \r\nBroadcast search to refresh table?");
    return text;
}

void rebootThread::execute()
{
    CommandConnection connection(*net_, link(), WorkerFamily::Device, ipText_, macText_,
                                 commandPort_);
    QString otherModule;
    const int result = reboot(connection, otherModule);
    connection.closeConnection();

    link().storeResult(result, otherModule);
    link().stepBy(1000);
    link().finish();
}

int rebootThread::reboot(CommandConnection& connection, QString& otherModule)
{
    link().setMessage(QStringLiteral("connect to device..."));
    int result = connection.reachDevice();
    if (result != 0)
        return result;

    connection.clearReply();
    result = connection.loginDevice(password_);
    if (result != 0)
        return result;
    // Only the module picked is restarted.
    result = connection.checkIdentity(otherModule);
    if (result != 0)
        return result;

    link().stepIt();
    link().setMessage(QStringLiteral("send command..."));
    // The module restarts on it and may never answer: the outcome is ignored.
    connection.sendCommand(kSerCommand, sizeof kSerCommand, connection.replyText());
    link().stepIt();
    return 0;
}

void rebootThread::afterException()
{
    link().storeResult(kUnexpectedResult);
    link().stepBy(1000);
    link().finish();
}

} // namespace tvx
