// tarvanix-cli tty in the test bed: a module's data port as a pseudo-terminal, through a drop
// of the connection, at an address two modules share, and as the systemd unit runs it.
#include "TestBed.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

using tvx::test::BedModule;
using tvx::test::TestBed;

namespace {

QByteArray randomBytes(qsizetype size)
{
    QByteArray bytes(size, '\0');
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(QRandomGenerator::global()->bounded(256));
    return bytes;
}

// Writes `bytes` to the terminal and reads what comes back at the same time (the echo fills
// the terminal while the rest is still being written), until as many bytes came back or
// `timeoutMs` passed.
QByteArray roundTrip(int fd, const QByteArray& bytes, int timeoutMs)
{
    QByteArray back;
    qsizetype sent = 0;
    QElapsedTimer timer;
    timer.start();
    while (back.size() < bytes.size() && timer.elapsed() < timeoutMs) {
        pollfd p{fd, static_cast<short>(POLLIN | (sent < bytes.size() ? POLLOUT : 0)), 0};
        if (::poll(&p, 1, 200) <= 0)
            continue;
        if (p.revents & POLLOUT) {
            const ssize_t n = ::write(fd, bytes.constData() + sent,
                                      std::min<qsizetype>(4096, bytes.size() - sent));
            if (n > 0)
                sent += n;
        }
        if (p.revents & POLLIN) {
            char buffer[65536];
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n > 0)
                back.append(buffer, n);
        }
    }
    return back;
}

// The unit's ExecStart as systemd runs it for instance `instance`: its Environment= first, then
// the configuration file, every ${NAME} replaced by its value (unset: empty), one argument
// per word.
QStringList unitCommandLine(const QString& unitText, const QString& instance,
                            const QMap<QString, QString>& install)
{
    QString text = unitText;
    for (auto it = install.begin(); it != install.end(); ++it)
        text.replace(QLatin1Char('@') + it.key() + QLatin1Char('@'), it.value());
    text.replace(QStringLiteral("%i"), instance);
    QMap<QString, QString> env;
    QString exec;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("Environment="))) {
            for (const QString& pair : line.mid(12).split(QLatin1Char(' '), Qt::SkipEmptyParts))
                env.insert(pair.section(QLatin1Char('='), 0, 0), pair.section(QLatin1Char('='), 1));
        } else if (line.startsWith(QLatin1String("EnvironmentFile="))) {
            QFile file(line.mid(16));
            if (!file.open(QIODevice::ReadOnly))
                return {};
            for (const QByteArray& raw : file.readAll().split('\n')) {
                const QString entry = QString::fromUtf8(raw).trimmed();
                if (!entry.isEmpty() && !entry.startsWith(QLatin1Char('#')))
                    env.insert(entry.section(QLatin1Char('='), 0, 0),
                               entry.section(QLatin1Char('='), 1));
            }
        } else if (line.startsWith(QLatin1String("ExecStart="))) {
            exec = line.mid(10);
        }
    }
    static const QRegularExpression variable(QStringLiteral("\\$\\{([A-Za-z_0-9]+)\\}"));
    QStringList words;
    for (QString word : exec.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        for (QRegularExpressionMatch m = variable.match(word); m.hasMatch();
             m = variable.match(word))
            word.replace(m.capturedStart(), m.capturedLength(), env.value(m.captured(1)));
        words << word;
    }
    return words;
}

} // namespace

class TestCliTtyBed : public QObject {
    Q_OBJECT

    TestBed bed_;
    QTemporaryDir dir_;

    // The bridges of the current test; cleanup() ends any that a failed check left running.
    std::vector<std::unique_ptr<QProcess>> bridges_;

    // A bridge running in the background, as a service runs it: no terminal of its own.
    QProcess* start(const QString& program, const QStringList& args)
    {
        auto p = std::make_unique<QProcess>();
        p->setChildProcessModifier([] { ::setsid(); });
        p->start(program, args);
        p->waitForStarted();
        bridges_.push_back(std::move(p));
        return bridges_.back().get();
    }
    QProcess* startTty(const QStringList& args)
    {
        return start(QStringLiteral(TARVANIX_CLI_PATH), QStringList{QStringLiteral("tty")} + args);
    }

    // Ends the bridge as systemctl stop does; it must be gone, with its link, within a second.
    void terminate(QProcess& p, const QString& link)
    {
        QElapsedTimer timer;
        timer.start();
        ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
        QVERIFY(p.waitForFinished(5000));
        QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 130);
        QVERIFY(!QFileInfo(link).isSymLink());
        QVERIFY2(TestBed::permanentNeighbours().isEmpty(), "a pinned neighbour entry is left");
        QVERIFY2(TestBed::staticRoutes().isEmpty(), "a host route is left");
    }

    // The terminal the bridge made at `link`, opened as a terminal program opens it.
    int openTerminal(QProcess& p, const QString& link)
    {
        QElapsedTimer timer;
        timer.start();
        while (!QFileInfo(link).isSymLink() && p.state() == QProcess::Running
               && timer.elapsed() < 30000)
            p.waitForFinished(100);
        if (!QFileInfo(link).isSymLink()) {
            qWarning("%s", p.readAllStandardError().constData());
            return -1;
        }
        return ::open(QFile::encodeName(link).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    }

private slots:
    void initTestCase()
    {
        if (!bed_.isValid())
            QSKIP(qPrintable(bed_.error()));
        QVERIFY(dir_.isValid());
    }

    void cleanup()
    {
        for (const auto& p : bridges_) {
            if (p->state() != QProcess::NotRunning) {
                ::kill(static_cast<pid_t>(p->processId()), SIGTERM);
                p->waitForFinished(5000);
            }
        }
        bridges_.clear();
    }

    // 64 KiB come back from the echoing module unchanged. The module then drops the connection
    // and refuses for a while: bytes written meanwhile come back once it is there again, on the
    // same open terminal, and the drop is told once.
    void relaysAndOutlivesADrop()
    {
        const BedModule t1 = bed_.module(QStringLiteral("t1"));
        const QString link = dir_.filePath(QStringLiteral("t1"));
        QProcess* bridge = startTty({t1.ip, QStringLiteral("--link"), link});
        const int fd = openTerminal(*bridge, link);
        QVERIFY(fd >= 0);
        const auto closeTerminal = qScopeGuard([fd] { ::close(fd); });
        QCOMPARE(QFileInfo(link).symLinkTarget().left(9), QStringLiteral("/dev/pts/"));

        const QByteArray block = randomBytes(64 * 1024);
        QCOMPARE(roundTrip(fd, block, 10000), block);
        QCOMPARE(bed_.exchanges(t1.name, QStringLiteral("data")).size(), 1);

        bed_.control(t1.name, QStringLiteral("drop"), QStringLiteral("1500"));
        const QByteArray later = randomBytes(1024);
        QCOMPARE(roundTrip(fd, later, 15000), later);
        QCOMPARE(bed_.exchanges(t1.name, QStringLiteral("data")).size(), 2);

        terminate(*bridge, link);
        const QByteArray err = bridge->readAllStandardError();
        QVERIFY2(err.count("dropped") == 1, err.constData());
        QVERIFY2(err.contains("connected again to " + t1.ip.toLatin1() + ":4000"), err.constData());
    }

    // A module in TCP client mode has no data port: refused, and no link is made. A path
    // that is not a bridge's link is refused before anything is sent.
    void refusesWhatIsNoDataPort()
    {
        const BedModule t2 = bed_.module(QStringLiteral("t2"));
        const QString link = dir_.filePath(QStringLiteral("t2"));
        QProcess* bridge = startTty({t2.ip, QStringLiteral("--link"), link});
        QVERIFY(bridge->waitForFinished(60000));
        QCOMPARE(bridge->exitCode(), 1);
        const QByteArray err = bridge->readAllStandardError();
        QVERIFY2(err.contains("the module is not a TCP server (sp0_opmode TC)"), err.constData());
        QVERIFY(!QFileInfo(link).isSymLink());

        QFile taken(link);
        QVERIFY(taken.open(QIODevice::WriteOnly));
        taken.close();
        bed_.clearTranscript(t2.name);
        QProcess* refused = startTty({t2.ip, QStringLiteral("--link"), link});
        QVERIFY(refused->waitForFinished(10000));
        QCOMPARE(refused->exitCode(), 2);
        QVERIFY(bed_.exchanges(t2.name, QStringLiteral("disc")).isEmpty());
        QVERIFY(QFileInfo(link).isFile());
    }

    // Of two modules on one address, the one named by its MAC gets the bytes, through a pinned
    // entry that is gone once the bridge ends.
    void sharedAddressReachesThePickedModule()
    {
        const BedModule s1 = bed_.module(QStringLiteral("s1"));
        const BedModule s2 = bed_.module(QStringLiteral("s2"));
        QCOMPARE(s1.ip, s2.ip);
        const QString link = dir_.filePath(QStringLiteral("s2"));
        QProcess* bridge = startTty({s2.mac, QStringLiteral("--link"), link});
        const int fd = openTerminal(*bridge, link);
        QVERIFY(fd >= 0);
        const auto closeTerminal = qScopeGuard([fd] { ::close(fd); });
        const QByteArray bytes = randomBytes(4096);
        QCOMPARE(roundTrip(fd, bytes, 10000), bytes);
        QCOMPARE(bed_.exchanges(s2.name, QStringLiteral("data")).size(), 1);
        QCOMPARE(bed_.exchanges(s1.name, QStringLiteral("data")).size(), 0);
        QCOMPARE(TestBed::permanentNeighbours().size(), 1);
        terminate(*bridge, link);
    }

    // The unit's command line, with a configuration as an administrator writes it: a module
    // outside the host's subnets by its MAC (its port is its own, 4001), and a group that may
    // open the terminal.
    void unitCommandLineRunsTheBridge()
    {
        const BedModule t3 = bed_.module(QStringLiteral("t3"));
        QVERIFY(t3.outside);
        const QString link = dir_.filePath(QStringLiteral("plc"));
        QFile conf(dir_.filePath(QStringLiteral("plc.conf")));
        QVERIFY(conf.open(QIODevice::WriteOnly));
        conf.write("# the press line's PLC port\nTARGET=" + t3.mac.toLatin1()
                   + "\nLINK=" + QFile::encodeName(link) + "\nGROUP=dialout\n");
        conf.close();
        QFile unit(QStringLiteral(TARVANIX_TTY_UNIT));
        QVERIFY(unit.open(QIODevice::ReadOnly));
        const QStringList words =
            unitCommandLine(QString::fromUtf8(unit.readAll()), QStringLiteral("plc"),
                            {{QStringLiteral("TARVANIX_CLI"), QStringLiteral(TARVANIX_CLI_PATH)},
                             {QStringLiteral("TARVANIX_TTY_CONF_DIR"), dir_.path()}});
        QVERIFY(words.size() > 2);

        QProcess* bridge = start(words.first(), words.mid(1));
        const int fd = openTerminal(*bridge, link);
        QVERIFY(fd >= 0);
        const auto closeTerminal = qScopeGuard([fd] { ::close(fd); });
        struct stat st {};
        QCOMPARE(::fstat(fd, &st), 0);
        QCOMPARE(st.st_gid, ::getgrnam("dialout")->gr_gid);
        QCOMPARE(st.st_mode & 0777, mode_t(0660));
        const QByteArray bytes = randomBytes(1024);
        QCOMPARE(roundTrip(fd, bytes, 10000), bytes);
        QCOMPARE(bed_.exchanges(t3.name, QStringLiteral("data")).size(), 1);
        terminate(*bridge, link);
    }
};

QTEST_GUILESS_MAIN(TestCliTtyBed)
#include "tst_cli_tty_bed.moc"
