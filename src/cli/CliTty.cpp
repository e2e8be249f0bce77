// tarvanix-cli tty: a module's serial port as a pseudo-terminal on this host.
#include "cli/CliApp.h"

#include "cli/CliContext.h"
#include "cli/CliExit.h"
#include "cli/FleetRunner.h"
#include "cli/TerminalDisplay.h"
#include "discovery/DeviceRegistry.h"
#include "handover/RecordText.h"
#include "platform/PseudoTerminal.h"
#include "platform/TtyLink.h"
#include "protocol/DataConnection.h"
#include "protocol/SerialBridge.h"
#include "protocol/Tcpcmdgetthread.h"

#include <QEventLoop>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <grp.h>
#include <thread>

namespace tvx::cli {

namespace {

// How often the terminal's loop looks for an interrupt: well inside the
// second in which SIGTERM must have ended the bridge and removed its link.
constexpr int kInterruptPollMs = 50;
constexpr int kGroupMode = 0660;

// The bridge's connect step: the module's data port, reached as its command
// port is. A check of the module that answered belongs here, before the
// bridge relays a byte to it.
class ModulePeer : public BridgePeer {
public:
    ModulePeer(HostNetwork& net, const DiscoveryRecord& row, uint16_t port)
        : data_(net, row.ipText, row.macText, port)
    {}

    int connect(const DataConnection::Wait& wait, QString& problem) override
    {
        const int result = data_.open(wait);
        if (result == -2)
            return Stopped;
        if (result != 0) {
            problem =
                QStringLiteral("cannot connect to %1: %2")
                    .arg(endpoint(), QString::fromLocal8Bit(std::strerror(data_.lastError())));
            return Unreachable;
        }
        return Connected;
    }
    int socket() const override { return data_.socket(); }
    void disconnect() override { data_.close(); }
    QString endpoint() const override { return QString::fromLatin1(data_.endpoint()); }

private:
    DataConnection data_;
};

// The group's id, or nothing for a name (or number) the host does not know.
std::optional<gid_t> groupId(const QString& name)
{
    const QByteArray bytes = name.toLocal8Bit();
    if (const group* entry = ::getgrnam(bytes.constData()))
        return entry->gr_gid;
    bool number = false;
    const uint id = name.toUInt(&number);
    if (number && ::getgrgid(static_cast<gid_t>(id)))
        return static_cast<gid_t>(id);
    return std::nullopt;
}

} // namespace

int CliApp::tty(const CliRequest& request, CliContext& context)
{
    // Everything that can be refused without a module is refused first.
    TtyLink link;
    QString problem;
    if (link.claim(request.link, problem) != TtyLink::Claim::Taken)
        return refused(problem);
    gid_t group = static_cast<gid_t>(-1);
    if (!request.group.isEmpty()) {
        const std::optional<gid_t> id = groupId(request.group);
        if (!id)
            return refused(QStringLiteral("--group: no group '%1'").arg(request.group));
        group = *id;
    }
    const int mode = request.mode >= 0 ? request.mode : request.group.isEmpty() ? 0 : kGroupMode;

    QList<TargetId> targets;
    DeviceRegistry found(context.net);
    if (const int status = resolve(request, context, targets, found); status != ExitOk)
        return status;
    const TargetId& target = targets.first();
    const DiscoveryRecord* row = foundRow(target, found);
    const auto failed = [&](const QString& text) {
        context.display->line(QStringLiteral("tarvanix-cli: %1: %2").arg(target.text, text));
        return ExitTargetFailed;
    };
    if (!row)
        return failed(QStringLiteral("no module answered the search"));
    const DiscoveryRecord module = *row;
    const std::optional<QByteArray> password = passwordFor(Command::Tty, target, module, problem);
    if (!password)
        return failed(problem);

    // The read tells the data port and which module answered.
    FleetRunner read(context, 1);
    read.add(std::make_unique<TargetRun>(context, Command::Get, target.text, module, *password,
                                         nullptr));
    read.run();
    if (interrupted_.load())
        return ExitInterrupted;
    const TargetOutcome& outcome = read.targets().front()->outcome();
    if (!outcome.ok || !outcome.settings)
        return ExitTargetFailed; // the read has said why
    const SettingsRecord& settings = *outcome.settings;
    const QString otherModule =
        TCPcmdgetThread::otherModuleMessage(module.ipText, module.macText, settings);
    if (!otherModule.isEmpty())
        return failed(otherModule);

    int port = request.port;
    if (port == 0) {
        const QString opmode = fieldText(settings.sp0_opmode);
        if (!opmode.startsWith(QLatin1String("TS")))
            return failed(QStringLiteral("the module is not a TCP server (sp0_opmode %1), so it "
                                         "has no data port to connect to; --port N connects to "
                                         "port N anyway")
                              .arg(opmode.isEmpty() ? QStringLiteral("empty") : opmode));
        bool number = false;
        port = fieldText(settings.sp0_tcpslport).toInt(&number);
        if (!number || port < 1 || port > 65535)
            return failed(QStringLiteral("the module reports no usable listen port "
                                         "(sp0_tcpslport '%1'); --port N gives one")
                              .arg(fieldText(settings.sp0_tcpslport)));
    }

    PseudoTerminal terminal;
    problem = terminal.open();
    if (problem.isEmpty())
        problem = terminal.setAccess(group, static_cast<mode_t>(mode));
    if (problem.isEmpty())
        problem = link.make(terminal.slavePath());
    if (!problem.isEmpty())
        return failed(problem);

    const QString name = target.text;
    ModulePeer peer(*context.net, module, static_cast<uint16_t>(port));
    TerminalDisplay& display = *context.display;
    const bool quiet = request.quiet;
    SerialBridge bridge(
        terminal.master(), peer,
        [&display, name](const QString& text) {
            display.line(QStringLiteral("tarvanix-cli: %1: %2").arg(name, text));
        },
        [&display, name, quiet](const QString& text) {
            if (!quiet)
                display.line(QStringLiteral("tarvanix-cli: %1: %2").arg(name, text));
        });
    if (!quiet)
        display.line(QStringLiteral("tarvanix-cli: %1: %2 is %3, the serial port of %4 (%5)")
                         .arg(name, link.path(), terminal.slavePath(), fieldText(module.deviceName),
                              fieldText(module.macText)));

    // The relay has a thread of its own; this one keeps the event loop that
    // turns SIGINT, SIGTERM and SIGHUP into the interrupt flag.
    std::atomic<bool> ended{false};
    SerialBridge::End end = SerialBridge::End::Stopped;
    QString why;
    std::thread relay([&] {
        end = bridge.run(why);
        ended.store(true);
    });
    QEventLoop loop;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, &loop, [&] {
        if (interrupted_.load())
            bridge.stop();
        if (ended.load())
            loop.quit();
    });
    watch.start(kInterruptPollMs);
    loop.exec();
    relay.join();
    link.remove();

    switch (end) {
    case SerialBridge::End::Stopped:
        break;
    case SerialBridge::End::Unreachable:
    case SerialBridge::End::Refused:
        return failed(why);
    }
    return ExitInterrupted;
}

} // namespace tvx::cli
