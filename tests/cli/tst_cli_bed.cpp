// tarvanix-cli as a script runs it, inside the test bed: the device list, reading a module
// by MAC (outside the host's subnets) and by IP with a password, setting values with the
// checks of "Save to Module", a reboot, and a fleet upgrade with one faulty module.
#include "TestBed.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <csignal>
#include <functional>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

using tvx::test::BedModule;
using tvx::test::TestBed;

namespace {

struct CliRun {
    int exit = -1;
    QByteArray out;
    QByteArray err;
};

// One row of the summary table: target, MAC, IP, result, seconds, message.
QStringList summaryRow(const QByteArray& out, const QString& target)
{
    static const QRegularExpression gap(QStringLiteral("\\s{2,}"));
    for (const QByteArray& line : out.split('\n')) {
        const QStringList cells = QString::fromUtf8(line).split(gap);
        if (cells.size() >= 5 && cells[0] == target)
            return cells;
    }
    return {};
}

// The percentages of one target's plain progress lines ("TARGET: label (N%)"), in order.
QList<int> progressOf(const QByteArray& err, const QString& target)
{
    static const QRegularExpression line(QStringLiteral("^(.*?): .* \\(([0-9]+)%\\)$"));
    QList<int> percents;
    for (const QByteArray& raw : err.split('\n')) {
        const QRegularExpressionMatch m = line.match(QString::fromUtf8(raw));
        if (m.hasMatch() && m.captured(1) == target)
            percents << m.captured(2).toInt();
    }
    return percents;
}

// A run's progress never moves back, though each of its steps starts its bar again.
bool goesForward(const QList<int>& percents)
{
    return percents.size() >= 2 && std::is_sorted(percents.begin(), percents.end());
}

// The wall-clock seconds of the runs, from the summary's last line.
double wallSeconds(const QByteArray& out)
{
    static const QRegularExpression total(QStringLiteral("failed; ([0-9.]+) s,"));
    return total.match(QString::fromUtf8(out)).captured(1).toDouble();
}

} // namespace

class TestCliBed : public QObject {
    Q_OBJECT

    TestBed bed_;
    QTemporaryDir dir_;

    // `prepare` may change the process before it starts (its standard output).
    CliRun cli(const QStringList& args, const QMap<QString, QString>& env = {},
               int timeoutMs = 120000, const std::function<void(QProcess&)>& prepare = {})
    {
        QProcess p;
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.remove(QStringLiteral("TARVANIX_PASSWORD"));
        for (auto it = env.begin(); it != env.end(); ++it)
            e.insert(it.key(), it.value());
        p.setProcessEnvironment(e);
        // No controlling terminal: a password prompt must not wait for anyone.
        p.setChildProcessModifier([] { ::setsid(); });
        if (prepare)
            prepare(p);
        p.start(QStringLiteral(TARVANIX_CLI_PATH), args);
        CliRun run;
        if (!p.waitForFinished(timeoutMs)) {
            p.kill();
            p.waitForFinished();
        }
        run.exit = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        run.out = p.readAllStandardOutput();
        run.err = p.readAllStandardError();
        return run;
    }

    void verifyTablesClean()
    {
        QVERIFY2(TestBed::permanentNeighbours().isEmpty(), "a pinned neighbour entry is left");
        QVERIFY2(TestBed::staticRoutes().isEmpty(), "a host route is left");
    }

    // Starts `get` of `module`, delayed at its name, and returns once the CLI holds the
    // module's pinned entry and route and waits for the answer.
    void startPinnedRead(QProcess& p, const BedModule& module)
    {
        QVERIFY(bed_.setFault(module.name, QStringLiteral("delay@GBN=3000")));
        p.setChildProcessModifier([] { ::setsid(); });
        p.start(QStringLiteral(TARVANIX_CLI_PATH), {QStringLiteral("get"), module.mac});
        QDeadlineTimer reached(30000);
        while (TestBed::permanentNeighbours().isEmpty() && !reached.hasExpired())
            QThread::msleep(20);
        QVERIFY2(!TestBed::permanentNeighbours().isEmpty(), "the module was never pinned");
        QVERIFY(!TestBed::staticRoutes().isEmpty());
        const auto askedForTheName = [&] {
            const QList<int> tcp = bed_.exchanges(module.name, QStringLiteral("tcp"));
            return !tcp.isEmpty() && bed_.received(module.name, tcp.last()).contains("$GBN\r\n");
        };
        while (!askedForTheName() && !reached.hasExpired())
            QThread::msleep(20);
        QVERIFY2(askedForTheName(), "the module was never asked for its name");
    }

    int tcpExchanges(const QString& module)
    {
        return bed_.exchanges(module, QStringLiteral("tcp")).size();
    }

    QString file(const QString& name, const QByteArray& bytes)
    {
        QFile f(dir_.filePath(name));
        if (!f.open(QIODevice::WriteOnly))
            return {};
        f.write(bytes);
        return f.fileName();
    }

private slots:
    void initTestCase()
    {
        if (!bed_.isValid())
            QSKIP(qPrintable(bed_.error()));
        QVERIFY(dir_.isValid());
        QCOMPARE(bed_.modules().size(), 20);
    }

    void init()
    {
        for (const BedModule& m : bed_.modules())
            QVERIFY(bed_.clearTranscript(m.name));
    }

    // Nothing reaches a module when the command line or a value is refused; a line break
    // inside a value would otherwise end the command and send the rest as another.
    void refusedInputSendsNothing()
    {
        const CliRun help = cli({QStringLiteral("--help")});
        QCOMPARE(help.exit, 0);
        for (const char* part :
             {"Usage: tarvanix-cli", "Exit status:", "Environment:", "Examples:"})
            QVERIFY2(help.out.contains(part), part);

        const QString f1 = bed_.module(QStringLiteral("f1")).ip;
        const QList<QStringList> refused = {
            {QStringLiteral("reboot")},
            {QStringLiteral("reboot"), f1, QStringLiteral("--password=abc")},
            {QStringLiteral("set"), f1, QStringLiteral("devName=Hall\r\n$SER")},
            {QStringLiteral("set"), f1, QStringLiteral("sp0_baud=12345")},
            {QStringLiteral("set"), f1, QStringLiteral("lanMac=02:00:00:00:00:01")},
            {QStringLiteral("discover"), QStringLiteral("--ip"), QStringLiteral("1.2.3")},
            {QStringLiteral("upgrade"), f1, QStringLiteral("--firmware"),
             file(QStringLiteral("bad.aff"), QByteArray("\x55\xAA\xF0 data"))},
            // Values "Save to Module" refuses whatever the module, and a file that says two
            // things about one setting, are refused as they are read.
            {QStringLiteral("set"), f1, QStringLiteral("diolp=abc")},
            {QStringLiteral("set"), QStringLiteral("--plan"),
             file(QStringLiteral("bad.csv"), "lanMac,diolp\n02:54:58:01:00:01,abc\n")},
            {QStringLiteral("set"), f1, QStringLiteral("--from"),
             file(QStringLiteral("twice.json"), "{\"diolp\": \"5001\", \"diolp\": \"6001\"}")},
        };
        for (const QStringList& args : refused) {
            const CliRun r = cli(args);
            QVERIFY2(r.exit == 2,
                     qPrintable(args.join(u' ') + QStringLiteral(" -> ") + QString::number(r.exit)
                                + u' ' + r.err));
        }
        QVERIFY(cli(refused[3]).err.contains("sp0_baud: '12345' is not one of: 921600"));
        QVERIFY(cli(refused[6]).err.contains("file can't be recognised"));
        QVERIFY(cli(refused[5]).err.contains("invalid IP address '1.2.3'"));
        QVERIFY(
            cli(refused[8]).err.contains("bad.csv:2: diolp: 'abc' is not a valid integer value"));
        QVERIFY(cli(refused[9]).err.contains("twice.json: \"diolp\" is given twice"));
        for (const BedModule& m : bed_.modules()) {
            QCOMPARE(bed_.exchanges(m.name, QStringLiteral("disc")).size(), 0);
            QCOMPARE(tcpExchanges(m.name), 0);
        }
    }

    void discoverListsEveryModuleAsTheTableDoes()
    {
        const CliRun r = cli({QStringLiteral("discover"), QStringLiteral("--json")});
        QCOMPARE(r.exit, 0);
        const QJsonArray rows = QJsonDocument::fromJson(r.out).array();
        QCOMPARE(rows.size(), 20);
        QSet<QString> macs;
        for (const QJsonValue& v : rows) {
            const QJsonObject row = v.toObject();
            QCOMPARE(row.keys().size(), 9);
            QCOMPARE(row.value(QStringLiteral("sharedIp")), QJsonValue(false));
            QCOMPARE(row.value(QStringLiteral("version")).toInt(), 1);
            const QString mac = row.value(QStringLiteral("lanMac")).toString();
            macs << mac;
            for (const BedModule& m : bed_.modules()) {
                if (m.mac != mac)
                    continue;
                QCOMPARE(row.value(QStringLiteral("lanIp")).toString(), m.ip);
                QCOMPARE(row.value(QStringLiteral("devName")).toString(), m.deviceName);
                QCOMPARE(row.value(QStringLiteral("password")), QJsonValue(!m.password.isEmpty()));
            }
        }
        QCOMPARE(macs.size(), 20);

        const BedModule f5 = bed_.module(QStringLiteral("f5"));
        const CliRun one = cli(
            {QStringLiteral("discover"), QStringLiteral("--ip"), f5.ip, QStringLiteral("--csv")});
        QCOMPARE(one.exit, 0);
        QVERIFY(!one.out.contains('\r'));
        const QList<QByteArray> lines = one.out.trimmed().split('\n');
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines[0],
                 QByteArray("Number,Device Name,MAC Address,IP Address,"
                            "Password,Model Name,Device Mode"));
        QVERIFY(lines[1].startsWith("1," + f5.deviceName.toLatin1() + "," + f5.mac.toLatin1()));

        // Nothing answers: still a list for a parser, and a status a script can tell apart.
        const CliRun none = cli({QStringLiteral("discover"), QStringLiteral("--ip"),
                                 QStringLiteral("192.0.2.250"), QStringLiteral("--json")});
        QCOMPARE(none.exit, 3);
        QCOMPARE(none.out, QByteArray("[]\n"));
        QVERIFY2(none.err.contains("no module answered the search"), none.err.constData());
    }

    // By MAC, a module outside every subnet of the host is reached through the pinned entry;
    // by IP, a module with a password logs in with the one from the environment.
    void getReadsAllSettings()
    {
        const BedModule f20 = bed_.module(QStringLiteral("f20"));
        QVERIFY(f20.outside);
        const CliRun r = cli({QStringLiteral("get"), f20.mac.toLower(), QStringLiteral("--json")});
        QVERIFY2(r.exit == 0, r.err.constData());
        const QJsonArray all = QJsonDocument::fromJson(r.out).array();
        QCOMPARE(all.size(), 1);
        const QJsonObject settings = all.first().toObject();
        QCOMPARE(settings.value(QStringLiteral("target")).toString(), f20.mac.toLower());
        QCOMPARE(settings.value(QStringLiteral("lanIp")).toString(), f20.ip);
        QCOMPARE(settings.value(QStringLiteral("devName")).toString(), f20.deviceName);
        QCOMPARE(settings.value(QStringLiteral("sp0_baud")).toString(),
                 bed_.setting(f20.name, QStringLiteral("baud")));
        QCOMPARE(settings.value(QStringLiteral("webEn")).toString(),
                 bed_.setting(f20.name, QStringLiteral("webEn")));
        QVERIFY(!settings.contains(QStringLiteral("passwd")));
        QCOMPARE(tcpExchanges(f20.name), 1);
        verifyTablesClean();

        const BedModule f19 = bed_.module(QStringLiteral("f19"));
        const CliRun withPassword = cli({QStringLiteral("get"), f19.ip},
                                        {{QStringLiteral("TARVANIX_PASSWORD"), f19.password}});
        QVERIFY2(withPassword.exit == 0, withPassword.err.constData());
        QVERIFY(withPassword.out.contains("lanMac=" + f19.mac.toLatin1() + "\n"));
        QVERIFY(!withPassword.out.contains(f19.password.toLatin1()));

        const CliRun wrong = cli({QStringLiteral("get"), f19.ip},
                                 {{QStringLiteral("TARVANIX_PASSWORD"), QStringLiteral("nope")}});
        QCOMPARE(wrong.exit, 1);
        QVERIFY(wrong.err.contains(f19.ip.toLatin1() + ": login to device failed"));
        QVERIFY(!wrong.err.contains("nope"));
        const CliRun none = cli({QStringLiteral("get"), f19.ip});
        QCOMPARE(none.exit, 1);
        QVERIFY(none.err.contains("Password can't be blank"));
        // The search found it: the summary names the module all the same.
        QCOMPARE(summaryRow(none.err, f19.ip).mid(1, 3),
                 (QStringList{f19.mac, f19.ip, QStringLiteral("FAILED")}));
        QVERIFY2(none.err.contains("\n1 target, 0 succeeded, 1 failed;"), none.err.constData());
    }

    // Killed while it reads the module outside the subnets, the CLI leaves nothing behind:
    // its helper sees it go and removes the pinned entry and the route at once.
    void killedDuringAReadLeavesNoEntry()
    {
        const BedModule f20 = bed_.module(QStringLiteral("f20"));
        QProcess p;
        startPinnedRead(p, f20);
        if (QTest::currentTestFailed())
            return;
        p.kill();
        QVERIFY(p.waitForFinished(5000));
        QElapsedTimer gone;
        gone.start();
        while ((!TestBed::permanentNeighbours().isEmpty() || !TestBed::staticRoutes().isEmpty())
               && gone.elapsed() < 3000)
            QThread::msleep(20);
        verifyTablesClean();
        QVERIFY2(gone.elapsed() < 1000, qPrintable(QString::number(gone.elapsed())));
        bed_.clearFaults(f20.name);
    }

    // Interrupted there, it stops its worker and ends only once the worker has removed the
    // entry and the route itself.
    void interruptedDuringAReadEndsWithoutItsEntries()
    {
        const BedModule f20 = bed_.module(QStringLiteral("f20"));
        QProcess p;
        startPinnedRead(p, f20);
        if (QTest::currentTestFailed())
            return;
        QElapsedTimer ending;
        ending.start();
        ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
        QVERIFY(p.waitForFinished(15000));
        verifyTablesClean();
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 130);
        // The read's wait for the delayed answer, not the stop bound.
        QVERIFY2(ending.elapsed() < 8000, qPrintable(QString::number(ending.elapsed())));
        bed_.clearFaults(f20.name);
    }

    void setChecksLikeSaveToModuleThenWrites()
    {
        const BedModule f3 = bed_.module(QStringLiteral("f3"));
        // A check of "Save to Module" that depends on the module's modes fails once it is
        // read (a blank length counts only with the length switch on): nothing is written.
        const CliRun bad = cli({QStringLiteral("set"), f3.ip, QStringLiteral("sp0_dpCtrl=011"),
                                QStringLiteral("sp0_dpLen=")});
        QCOMPARE(bad.exit, 1);
        QVERIFY(bad.err.contains("port 1 data packing length can't be blank"));
        QVERIFY(summaryRow(bad.out, f3.ip).value(3) == QLatin1String("FAILED"));
        const CliRun hidden =
            cli({QStringLiteral("set"), f3.ip, QStringLiteral("sp0_tcpcrport=80")});
        QCOMPARE(hidden.exit, 1);
        QVERIFY(hidden.out.contains(
            "sp0_tcpcrport cannot be changed while sp0_opmode is not TCP Client"));
        // The item's text for what the module holds is no change, also where the mode
        // hides the control.
        const CliRun same =
            cli({QStringLiteral("set"), f3.ip, QStringLiteral("sp0_tcpcat=Startup")});
        QVERIFY2(same.exit == 0, same.err.constData());
        QCOMPARE(summaryRow(same.out, f3.ip).value(3), QStringLiteral("unchanged"));
        QCOMPARE(bed_.state(f3.name).value(QStringLiteral("restarts")), QStringLiteral("0"));

        // What get printed, edited, goes back with --from: unchanged fields pass as they are.
        const CliRun got = cli({QStringLiteral("get"), f3.mac, QStringLiteral("--json")});
        QCOMPARE(got.exit, 0);
        QJsonObject settings = QJsonDocument::fromJson(got.out).array().first().toObject();
        settings.insert(QStringLiteral("devName"), QStringLiteral("Hall-3"));
        settings.insert(QStringLiteral("sp0_baud"), QStringLiteral("9600"));
        settings.insert(QStringLiteral("sp0_opmode"), QStringLiteral("TCP Client"));
        settings.insert(QStringLiteral("sp0_tcpcrip"), QStringLiteral("192.0.2.1"));
        settings.insert(QStringLiteral("sp0_tcpcrport"), QStringLiteral("5001"));
        const QString from = file(QStringLiteral("f3.json"), QJsonDocument(settings).toJson());
        const CliRun set = cli({QStringLiteral("set"), f3.ip, QStringLiteral("--from"), from});
        QVERIFY2(set.exit == 0, set.err.constData());
        QVERIFY(bed_.waitUntilUp(f3.name));
        QCOMPARE(bed_.setting(f3.name, QStringLiteral("devName")), QStringLiteral("Hall-3"));
        QCOMPARE(bed_.setting(f3.name, QStringLiteral("baud")), QStringLiteral("9600"));
        QCOMPARE(bed_.setting(f3.name, QStringLiteral("opmode")), QStringLiteral("TC"));
        QCOMPARE(bed_.setting(f3.name, QStringLiteral("tcpcrport")), QStringLiteral("5001"));
        QCOMPARE(bed_.state(f3.name).value(QStringLiteral("restarts")), QStringLiteral("1"));
    }

    // The write goes to the module read, at the address it reported, whatever lanIp the
    // values carry: a new address of its own, or another module's from its exported file.
    void setWritesOnlyToTheModuleRead()
    {
        const BedModule f5 = bed_.module(QStringLiteral("f5"));
        const CliRun moved =
            cli({QStringLiteral("set"), f5.ip, QStringLiteral("lanIp=192.0.2.60")});
        QVERIFY2(moved.exit == 0, moved.err.constData());
        QCOMPARE(summaryRow(moved.out, f5.ip).mid(1, 3),
                 (QStringList{f5.mac, f5.ip, QStringLiteral("ok")}));
        QVERIFY2(goesForward(progressOf(moved.err, f5.ip)), moved.err.constData());
        QVERIFY(bed_.waitUntilUp(f5.name));
        QCOMPARE(bed_.setting(f5.name, QStringLiteral("lanIp")), QStringLiteral("192.0.2.60"));

        const BedModule f6 = bed_.module(QStringLiteral("f6"));
        const BedModule f7 = bed_.module(QStringLiteral("f7"));
        const CliRun got = cli({QStringLiteral("get"), f6.ip, QStringLiteral("--json")});
        QCOMPARE(got.exit, 0);
        QJsonObject settings = QJsonDocument::fromJson(got.out).array().first().toObject();
        QCOMPARE(settings.value(QStringLiteral("lanIp")).toString(), f6.ip);
        // Its MAC, shown only, would be refused; its lanIp is the one that misled the write.
        settings.remove(QStringLiteral("lanMac"));
        settings.insert(QStringLiteral("devName"), QStringLiteral("From-f6"));
        const QString from = file(QStringLiteral("f6.json"), QJsonDocument(settings).toJson());
        QVERIFY(bed_.clearTranscript(f6.name));
        const CliRun set = cli({QStringLiteral("set"), f7.ip, QStringLiteral("--from"), from});
        QVERIFY2(set.exit == 0, set.err.constData());
        QCOMPARE(summaryRow(set.out, f7.ip).mid(1, 3),
                 (QStringList{f7.mac, f7.ip, QStringLiteral("ok")}));
        QCOMPARE(tcpExchanges(f6.name), 0);
        QCOMPARE(bed_.state(f6.name).value(QStringLiteral("restarts")), QStringLiteral("0"));
        QVERIFY(bed_.waitUntilUp(f7.name));
        QCOMPARE(bed_.setting(f7.name, QStringLiteral("devName")), QStringLiteral("From-f6"));

        // Both back at their own addresses for the tests after this one.
        for (const BedModule& m : {f5, f7}) {
            QVERIFY(bed_.setSetting(m.name, QStringLiteral("lanIp"), m.ip));
            QVERIFY(bed_.restart(m.name));
            QVERIFY(bed_.waitUntilUp(m.name));
        }
        verifyTablesClean();
    }

    void rebootRestartsEachTarget()
    {
        const BedModule f4 = bed_.module(QStringLiteral("f4"));
        const BedModule f20 = bed_.module(QStringLiteral("f20"));
        const CliRun r = cli({QStringLiteral("reboot"), f4.ip, f20.mac});
        QVERIFY2(r.exit == 0, r.err.constData());
        QCOMPARE(summaryRow(r.out, f4.ip).value(3), QStringLiteral("ok"));
        QCOMPARE(summaryRow(r.out, f20.mac).value(3), QStringLiteral("ok"));
        for (const BedModule& m : {f4, f20}) {
            QVERIFY(bed_.waitUntilUp(m.name));
            QCOMPARE(bed_.state(m.name).value(QStringLiteral("restarts")), QStringLiteral("1"));
        }
        verifyTablesClean();
    }

    // Running the same set twice must not restart the module twice: a set that changes
    // nothing opens no connection after the read, and a dry run sends no write line.
    void setWritesOnlyWhatChanges()
    {
        const BedModule f6 = bed_.module(QStringLiteral("f6"));
        const QString baud = bed_.setting(f6.name, QStringLiteral("baud"));
        const CliRun same =
            cli({QStringLiteral("set"), f6.ip, QStringLiteral("sp0_baud=") + baud,
                 QStringLiteral("devName=") + f6.deviceName, QStringLiteral("--json")});
        QVERIFY2(same.exit == 0, same.err.constData());
        const QJsonObject summary = QJsonDocument::fromJson(same.out).array().first().toObject();
        QCOMPARE(summary.value(QStringLiteral("result")).toString(), QStringLiteral("unchanged"));
        QCOMPARE(summary.value(QStringLiteral("changes")).toArray().size(), 0);
        QCOMPARE(summary.value(QStringLiteral("module"))
                     .toObject()
                     .value(QStringLiteral("lanMac"))
                     .toString(),
                 f6.mac);
        QCOMPARE(tcpExchanges(f6.name), 1); // the read alone

        const QString other =
            baud == QLatin1String("9600") ? QStringLiteral("19200") : QStringLiteral("9600");
        const CliRun dry = cli({QStringLiteral("set"), f6.ip, QStringLiteral("sp0_baud=") + other,
                                QStringLiteral("--dry-run")});
        QVERIFY2(dry.exit == 0, dry.err.constData());
        QVERIFY2(
            dry.out.startsWith("sp0_baud: " + baud.toLatin1() + " -> " + other.toLatin1() + "\n"),
            dry.out.constData());
        QCOMPARE(summaryRow(dry.out, f6.ip).value(3), QStringLiteral("dry-run"));
        const QList<int> ids = bed_.exchanges(f6.name, QStringLiteral("tcp"));
        QCOMPARE(ids.size(), 2);
        for (const int id : ids) {
            for (const QByteArray& line : bed_.received(f6.name, id).split('\n'))
                QVERIFY2(!line.startsWith("$S"), line.constData());
        }
        QCOMPARE(bed_.setting(f6.name, QStringLiteral("baud")), baud);
        QCOMPARE(bed_.state(f6.name).value(QStringLiteral("restarts")), QStringLiteral("0"));
    }

    // A FIFO without a writer would block the open: it is refused at once, by name.
    void fromFifoIsRefusedAtOnce()
    {
        const QString fifo = dir_.filePath(QStringLiteral("settings.fifo"));
        QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        QElapsedTimer timer;
        timer.start();
        const CliRun r = cli({QStringLiteral("set"), bed_.module(QStringLiteral("f1")).ip,
                              QStringLiteral("--from"), fifo},
                             {}, 5000);
        QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(r.exit, 2);
        QVERIFY2(r.err.contains(fifo.toUtf8() + ": not a regular file"), r.err.constData());
        QCOMPARE(tcpExchanges(QStringLiteral("f1")), 0);
    }

    // Standard output on a full disk, or closed: what a script would read is missing, and
    // the exit status and standard error say so, whatever the command.
    void outputThatCannotBeWrittenFails()
    {
        const QString f1 = bed_.module(QStringLiteral("f1")).ip;
        const QList<QStringList> commands = {
            {QStringLiteral("discover"), QStringLiteral("--csv")},
            {QStringLiteral("get"), f1, QStringLiteral("--json")},
            {QStringLiteral("set"), f1, QStringLiteral("diolp=4999"), QStringLiteral("--dry-run"),
             QStringLiteral("--json")},
        };
        for (const QStringList& args : commands) {
            const CliRun r =
                cli(args + QStringList{QStringLiteral("-q")}, {}, 120000,
                    [](QProcess& p) { p.setStandardOutputFile(QStringLiteral("/dev/full")); });
            QVERIFY2(r.exit == 4
                         && r.err.contains("cannot write to standard output: No space "
                                           "left on device"),
                     qPrintable(args.join(u' ') + QStringLiteral(" -> ") + QString::number(r.exit)
                                + u' ' + r.err));
        }
        const CliRun closed =
            cli({QStringLiteral("discover"), QStringLiteral("--json"), QStringLiteral("-q")}, {},
                120000, [](QProcess& p) {
                    p.setChildProcessModifier([] {
                        ::setsid();
                        ::close(STDOUT_FILENO);
                    });
                });
        QCOMPARE(closed.exit, 4);
        QVERIFY2(closed.err.contains("cannot write to standard output: Bad file descriptor"),
                 closed.err.constData());
    }

    // The addresses a broadcast did not find are asked together: one search by IP for
    // all of them, not one each (which cost a whole search's waits per address).
    void absentAddressesAreAskedInOneSearch()
    {
        const BedModule f2 = bed_.module(QStringLiteral("f2"));
        const CliRun r = cli({QStringLiteral("get"), QStringLiteral("192.0.2.200"), f2.ip,
                              QStringLiteral("192.0.2.201"), QStringLiteral("192.0.2.202")});
        QCOMPARE(r.exit, 1);
        QSet<QString> searches;
        static const QRegularExpression percent(QStringLiteral(" \\([0-9]+%\\)$"));
        for (const QByteArray& line : r.err.split('\n')) {
            if (line.startsWith("search "))
                searches << QString::fromUtf8(line).remove(percent);
        }
        QCOMPARE(searches, QSet<QString>{QStringLiteral("search 192.0.2.200 and 2 more...")});
        QCOMPARE(summaryRow(r.err, f2.ip).value(3), QStringLiteral("ok"));
        QVERIFY(r.err.contains("tarvanix-cli: 192.0.2.201: no module answered the search"));
    }

    // --wait returns only once the module answers a broadcast again after its restart.
    void rebootWaitReturnsAfterTheRestart()
    {
        const BedModule f8 = bed_.module(QStringLiteral("f8"));
        const CliRun r = cli(
            {QStringLiteral("reboot"), f8.ip, QStringLiteral("--wait"), QStringLiteral("--json")});
        QVERIFY2(r.exit == 0, r.err.constData());
        const QJsonObject summary = QJsonDocument::fromJson(r.out).array().first().toObject();
        QCOMPARE(summary.value(QStringLiteral("result")).toString(), QStringLiteral("ok"));
        const QMap<QString, QString> state = bed_.state(f8.name);
        QCOMPARE(state.value(QStringLiteral("restarts")), QStringLiteral("1"));
        QCOMPARE(state.value(QStringLiteral("state")), QStringLiteral("up"));
        verifyTablesClean();
    }

    // 20 modules, 4 at a time, one refusing the transfer: the others are upgraded, the
    // summary names the failure, the status says so, and nothing is left in the host's tables.
    void fleetUpgradeFourAtATime()
    {
        const QString image = file(QStringLiteral("fleet.aff"),
                                   TestBed::firmwareImage(QStringLiteral("V2.00"), 40000));
        const BedModule f1 = bed_.module(QStringLiteral("f1"));
        const CliRun single =
            cli({QStringLiteral("upgrade"), f1.ip, QStringLiteral("--firmware"), image});
        QVERIFY2(single.exit == 0, single.err.constData());
        const double perUpgrade = summaryRow(single.out, f1.ip).value(4).toDouble();
        QVERIFY(perUpgrade > 0);
        QVERIFY2(goesForward(progressOf(single.err, f1.ip)), single.err.constData());

        QVERIFY(bed_.setFault(QStringLiteral("f7"), QStringLiteral("tftp-error=3")));
        QByteArray lines = "# the fleet\n";
        for (const BedModule& m : bed_.modules()) {
            lines += m.ip.toLatin1();
            if (!m.password.isEmpty())
                lines += "  " + m.password.toLatin1();
            lines += '\n';
        }
        const QString targets = file(QStringLiteral("fleet.txt"), lines);
        const CliRun fleet = cli({QStringLiteral("upgrade"), QStringLiteral("--targets"), targets,
                                  QStringLiteral("--jobs"), QStringLiteral("4"),
                                  QStringLiteral("--firmware"), image},
                                 {}, 200000);
        bed_.clearFaults(QStringLiteral("f7"));
        QCOMPARE(fleet.exit, 1);
        const BedModule f7 = bed_.module(QStringLiteral("f7"));
        const QStringList failed = summaryRow(fleet.out, f7.ip);
        QCOMPARE(failed.value(3), QStringLiteral("FAILED"));
        QVERIFY2(!failed.value(5).isEmpty(), fleet.out.constData());
        for (const BedModule& m : bed_.modules()) {
            if (m.name == f7.name)
                continue;
            QVERIFY2(summaryRow(fleet.out, m.ip).value(3) == QLatin1String("ok"),
                     qPrintable(m.name));
            const int expected = m.name == f1.name ? 2 : 1;
            QCOMPARE(bed_.state(m.name).value(QStringLiteral("transfers")).toInt(), expected);
        }
        QVERIFY(fleet.out.contains("20 targets, 19 succeeded, 1 failed"));
        verifyTablesClean();

        const double wall = wallSeconds(fleet.out);
        const double oneByOne = 20 * perUpgrade;
        qInfo("fleet of 20 with --jobs 4: %.1f s; one by one at %.1f s each: %.1f s; ratio %.2f; "
              "%s: %s",
              wall, perUpgrade, oneByOne, wall / oneByOne, qPrintable(f7.name),
              qPrintable(failed.value(5)));
        QVERIFY2(wall / oneByOne < 0.35, fleet.out.constData());
    }
};

QTEST_GUILESS_MAIN(TestCliBed)
#include "tst_cli_bed.moc"
