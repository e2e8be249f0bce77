#include "firmware/Upgradefwthread.h"

#include "firmware/FirmwareImage.h"
#include "firmware/TftpWrite.h"
#include "firmware/UpgradeCodes.h"
#include "handover/RecordText.h"
#include "protocol/CommandConnection.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <thread>
#include <utility>

namespace tvx {

namespace {
constexpr std::array<std::pair<int, const char*>, 10> kMessages{{
    {kOtherModuleResult, "another module answered"},
    {UpgradeNoAddress, "initialize serial port failed"},
    {UpgradeNotReached, "connect to device failed"},
    {UpgradeOpenFailed, "open file failed"},
    {UpgradeLoginRefused, "login to device failed"},
    {UpgradeLoginFailed, "send command failed"},
    {UpgradeRequestFailed, "serial read/write failed"},
    {UpgradeBlockFailed, "serial read timeout"},
    {UpgradeReadFailed, "read file failed"},
    {UpgradeNameTooLong, "file name is too long"},
}};

// The command goes out with its terminating zero: 7 bytes, as the module
// expects them from this program.
constexpr char kSefCommand[] = "$SEF\r\n";
static_assert(sizeof kSefCommand == 7);
} // namespace

upgradeFwThread::upgradeFwThread(WorkerLink link, std::shared_ptr<HostNetwork> net,
                                 const DeviceRequest& request, UpgradeSettings settings)
    : WorkerThread(QStringLiteral("upgradeFwThread"), std::move(link)), net_(std::move(net)),
      settings_(settings)
{
    storeField(firmwarePath_, fieldBytes(request.firmwarePath));
    if (request.password[0])
        storeField(password_, fieldBytes(request.password));
    storeField(ipText_, fieldBytes(request.ipText));
    storeField(macText_, fieldBytes(request.macText));
}

WorkerOutcome upgradeFwThread::outcome(int code)
{
    return WorkerOutcome::ofZeroForSuccess(code, &resultMessage);
}

QString upgradeFwThread::resultMessage(int code)
{
    for (const auto& [value, text] : kMessages) {
        if (value == code)
            return QString::fromLatin1(text);
    }
    return {};
}

const QString& upgradeFwThread::successQuestion()
{
    static const QString text =
        QStringLiteral("Upgrade firmware OK! \r\nDevice will reboot 5 seconds later! \r\n"
                       "Broadcast search to refresh table?");
    return text;
}

int upgradeFwThread::barMaximumFor(const QByteArray& firmwarePath)
{
    const qint64 blocks = QFileInfo(QFile::decodeName(firmwarePath)).size() / 1024;
    return static_cast<int>(std::clamp<qint64>(10 * (blocks + 2), 1000, 1 << 30));
}

bool upgradeFwThread::pauseUnlessStopped(int ms)
{
    // Ends early on a cancel, so that the connection and any temporary ARP
    // entry and route go away at once rather than after the pause.
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!stopRequested()) {
        const auto left = end - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero())
            return true;
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(left, std::chrono::milliseconds(50)));
    }
    return false;
}

void upgradeFwThread::execute()
{
    FirmwareImage image;
    FirmwareTransfer transfer(link(), settings_.timings);
    CommandConnection connection(*net_, link(), WorkerFamily::Device, ipText_, macText_,
                                 settings_.commandPort);

    QString otherModule;
    const int result = upgrade(connection, image, transfer, otherModule);

    transfer.close();
    image.close();
    connection.closeConnection();

    link().storeResult(result, otherModule);
    link().stepBy(1000);
    link().finish();
}

int upgradeFwThread::upgrade(CommandConnection& connection, FirmwareImage& image,
                             FirmwareTransfer& transfer, QString& otherModule)
{
    link().appendLog(QStringLiteral("openFile"));
    if (!image.open(firmwarePath_))
        return UpgradeOpenFailed;
    const std::string_view name = firmwareFileName(firmwarePath_);
    // Refused before anything is sent: a cut name would name another file.
    if (writeRequestLength(name.size(), image.size()) > kRequestRoom)
        return UpgradeNameTooLong;

    link().appendLog(QStringLiteral("ConnetToDevice"));
    link().setMessage(QStringLiteral("connect to device..."));
    int result = connection.reachDevice();
    if (result != 0)
        return result;

    link().appendLog(QStringLiteral("$SEF\r\n"));
    connection.clearReply();
    result = connection.loginDevice(password_);
    if (result != 0)
        return result;
    // Only the module picked is upgraded.
    result = connection.checkIdentity(otherModule);
    if (result != 0)
        return result;
    // Whatever the module answers to "$SEF", or nothing, the transfer follows.
    connection.sendCommand(kSefCommand, sizeof kSefCommand, connection.replyText());

    link().appendLog(QStringLiteral("tftp1KClient"));
    if (stopRequested() || !pauseUnlessStopped(settings_.sefPauseMs))
        return UpgradeStopped;

    result =
        transfer.requestWrite(connection.deviceAddress(), settings_.tftpPort, name, image.size());
    if (result != 0)
        return result;
    return transfer.sendImage(image.fd(), image.size());
}

void upgradeFwThread::afterException()
{
    link().storeResult(kUnexpectedResult);
    link().stepBy(1000);
    link().finish();
}

} // namespace tvx
