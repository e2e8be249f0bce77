// tarvanix-cli against five modules fresh from the box: one address, five MACs. Each is
// read and written by its MAC, and only it takes the write; then a plan gives each an
// address of its own.
#include "TestBed.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

using tvx::test::BedModule;
using tvx::test::TestBed;

namespace {

struct CliRun {
    int exit = -1;
    QByteArray out;
    QByteArray err;
};

} // namespace

class TestCliSharedBed : public QObject {
    Q_OBJECT

    TestBed bed_;
    QTemporaryDir dir_;
    QList<BedModule> shared_;

    CliRun cli(const QStringList& args, int timeoutMs = 120000)
    {
        QProcess p;
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.remove(QStringLiteral("TARVANIX_PASSWORD"));
        p.setProcessEnvironment(e);
        p.setChildProcessModifier([] { ::setsid(); });
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

    int tcpExchanges(const QString& module)
    {
        return bed_.exchanges(module, QStringLiteral("tcp")).size();
    }

    static QString plannedIp(int i) { return QStringLiteral("192.0.2.%1").arg(101 + i); }
    static QString plannedName(int i)
    {
        return QStringLiteral("Hall %1, bay %2").arg(i + 1).arg(i);
    }

    // lanMac,lanIp,lanMask,lanGw,devName for the five modules, and a line for `extraMac`.
    QString planFile(const QByteArray& extraMac = {})
    {
        QByteArray text = "lanMac,lanIp,lanMask,lanGw,devName\r\n";
        for (int i = 0; i < shared_.size(); ++i)
            text += shared_[i].mac.toLatin1() + "," + plannedIp(i).toLatin1()
                + ",255.255.255.0,192.0.2.254,\"" + plannedName(i).toLatin1() + "\"\r\n";
        if (!extraMac.isEmpty())
            text += extraMac + ",192.0.2.120,,,Absent\r\n";
        QFile f(dir_.filePath(QStringLiteral("plan.csv")));
        if (!f.open(QIODevice::WriteOnly))
            return {};
        f.write(text);
        return f.fileName();
    }

private slots:
    void initTestCase()
    {
        if (!bed_.isValid())
            QSKIP(qPrintable(bed_.error()));
        QVERIFY(dir_.isValid());
        shared_ = bed_.modules();
        QCOMPARE(shared_.size(), 5);
        QSet<QString> macs;
        for (const BedModule& m : std::as_const(shared_)) {
            QCOMPARE(m.ip, shared_.first().ip);
            macs << m.mac;
        }
        QCOMPARE(macs.size(), 5);
    }

    void init()
    {
        for (const BedModule& m : std::as_const(shared_))
            QVERIFY(bed_.clearTranscript(m.name));
    }

    // Every module answers ARP for the address, so a direct connection would reach whichever
    // answers first. Five reads at once, by MAC: each gets its own module, one at a time.
    void sharedAddressReadAndWrittenByMac()
    {
        QStringList args{QStringLiteral("get")};
        for (const BedModule& m : std::as_const(shared_))
            args << m.mac;
        args << QStringLiteral("--jobs") << QStringLiteral("5") << QStringLiteral("--json");
        const CliRun got = cli(args);
        QVERIFY2(got.exit == 0, got.err.constData());
        const QJsonArray read = QJsonDocument::fromJson(got.out).array();
        QCOMPARE(read.size(), 5);
        for (const QJsonValue& v : read) {
            const QJsonObject o = v.toObject();
            const QString target = o.value(QStringLiteral("target")).toString();
            QCOMPARE(o.value(QStringLiteral("lanMac")).toString(), target);
            for (const BedModule& m : std::as_const(shared_)) {
                if (m.mac == target)
                    QCOMPARE(o.value(QStringLiteral("devName")).toString(), m.deviceName);
            }
        }
        for (const BedModule& m : std::as_const(shared_))
            QCOMPARE(tcpExchanges(m.name), 1);
        verifyTablesClean();

        for (const BedModule& m : std::as_const(shared_)) {
            for (const BedModule& other : std::as_const(shared_))
                QVERIFY(bed_.clearTranscript(other.name));
            const QString name = QStringLiteral("Unit-") + m.name;
            const CliRun set =
                cli({QStringLiteral("set"), m.mac, QStringLiteral("devName=") + name});
            QVERIFY2(set.exit == 0, set.err.constData());
            QVERIFY(bed_.waitUntilUp(m.name));
            QCOMPARE(bed_.setting(m.name, QStringLiteral("devName")), name);
            QCOMPARE(tcpExchanges(m.name), 1); // read and written on one connection
            for (const BedModule& other : std::as_const(shared_)) {
                if (other.name == m.name)
                    continue;
                QVERIFY2(tcpExchanges(other.name) == 0, qPrintable(other.name));
                QVERIFY(bed_.setting(other.name, QStringLiteral("devName")) != name);
            }
        }
        for (const BedModule& m : std::as_const(shared_))
            QCOMPARE(bed_.state(m.name).value(QStringLiteral("restarts")), QStringLiteral("1"));
        verifyTablesClean();
    }

    // The shared address could be any of the five: refused before anything is sent, with
    // the MACs to choose from.
    void sharedAddressAsTargetIsRefused()
    {
        const CliRun r =
            cli({QStringLiteral("set"), shared_[0].ip, QStringLiteral("devName=Anyone")});
        QCOMPARE(r.exit, 2);
        QVERIFY2(r.err.contains("5 modules answer at this address"), r.err.constData());
        for (const BedModule& m : std::as_const(shared_)) {
            QVERIFY2(r.err.contains(m.mac.toLatin1()), r.err.constData());
            QCOMPARE(tcpExchanges(m.name), 0);
        }
    }

    // A module that holds what this program would not let a user type (a name set by
    // another tool): its own backup goes back onto it as no change at all.
    void backupOfALongNameIsUnchanged()
    {
        const BedModule& m = shared_[1];
        const QString longName = QStringLiteral("Packaging-Line-19c");
        QVERIFY(bed_.setSetting(m.name, QStringLiteral("devName"), longName + u'!'));
        const CliRun got = cli({QStringLiteral("get"), m.mac, QStringLiteral("--json")});
        QVERIFY2(got.exit == 0, got.err.constData());
        const QString path = dir_.filePath(QStringLiteral("backup.json"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(got.out) == got.out.size());
        f.close();
        QVERIFY(bed_.clearTranscript(m.name));
        const CliRun set = cli({QStringLiteral("set"), m.mac, QStringLiteral("--from"), path});
        QVERIFY2(set.exit == 0, set.err.constData());
        QVERIFY2(set.out.contains("unchanged"), set.out.constData());
        for (const int id : bed_.exchanges(m.name, QStringLiteral("tcp"))) {
            for (const QByteArray& line : bed_.received(m.name, id).split('\n'))
                QVERIFY2(!line.startsWith("$S"), line.constData());
        }
        QCOMPARE(bed_.setting(m.name, QStringLiteral("devName")), longName + u'!');
    }

    // A plan is refused as a whole, before any search: nothing reaches a module.
    void badPlanIsRefusedBeforeAnything()
    {
        const QByteArray mac1 = shared_[0].mac.toLatin1();
        const QByteArray mac2 = shared_[1].mac.toLatin1();
        const QList<QPair<QByteArray, QByteArray>> bad = {
            {"lanMac,lanIp,colour\n" + mac1 + ",192.0.2.101,red\n", "unknown setting 'colour'"},
            {"lanIp,devName\n192.0.2.101,A\n", "no lanMac column"},
            {"lanMac,lanIp\n02:54:58:01:00\n", "1 fields, the header names 2"},
            {"lanMac,lanIp\n02-54-58-01-00-0G,192.0.2.101\n", "is not a MAC address"},
            {"lanMac,lanIp\n" + mac1 + ",192.0.2.101\n" + mac1.toLower() + ",192.0.2.102\n",
             "is already on line 2"},
            {"lanMac,lanIp\n" + mac1 + ",192.0.2.101\n" + mac2 + ",192.0.2.0101\n",
             "lanIp 192.0.2.101 is already given on line 2"},
            {"lanMac,sp0_baud\n" + mac1 + ",12345\n", "sp0_baud: '12345' is not one of"},
            {"lanMac,devName\n" + mac1 + ",\"Hall\"3\n", "text after a closing quote"},
            {"lanMac,devName\n" + mac1 + ",Hall\"3\n", "a quote inside a field"},
        };
        for (qsizetype i = 0; i < bad.size(); ++i) {
            const QString path = dir_.filePath(QStringLiteral("bad%1.csv").arg(i));
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(bad[i].first);
            f.close();
            const CliRun r = cli({QStringLiteral("set"), QStringLiteral("--plan"), path});
            QVERIFY2(r.exit == 2, qPrintable(QString::number(r.exit) + u' ' + r.err));
            QVERIFY2(r.err.contains(bad[i].second) && r.err.contains(path.toUtf8()),
                     r.err.constData());
        }
        for (const BedModule& m : std::as_const(shared_)) {
            QCOMPARE(bed_.exchanges(m.name, QStringLiteral("disc")).size(), 0);
            QCOMPARE(tcpExchanges(m.name), 0);
        }
    }

    // The plan of five fresh modules (the next test's), dry run: each module's changes are
    // shown and nothing is written.
    void planDryRunWritesNothing()
    {
        const CliRun r = cli({QStringLiteral("set"), QStringLiteral("--plan"), planFile(),
                              QStringLiteral("--dry-run")});
        QVERIFY2(r.exit == 0, r.err.constData());
        for (int i = 0; i < shared_.size(); ++i) {
            const BedModule& m = shared_[i];
            QVERIFY2(r.out.contains("lanIp: " + m.ip.toLatin1() + " -> " + plannedIp(i).toLatin1()
                                    + "\n"),
                     r.out.constData());
            for (const int id : bed_.exchanges(m.name, QStringLiteral("tcp"))) {
                for (const QByteArray& line : bed_.received(m.name, id).split('\n'))
                    QVERIFY2(!line.startsWith("$S"), line.constData());
            }
            QCOMPARE(bed_.setting(m.name, QStringLiteral("lanIp")), m.ip);
            QCOMPARE(bed_.state(m.name).value(QStringLiteral("restarts")), QStringLiteral("1"));
        }
        QVERIFY2(r.out.contains("5 targets, 5 succeeded, 0 failed"), r.out.constData());
        verifyTablesClean();
    }

    // A plan that only renames: the modules keep their one address, the wait finds them
    // there again and each is read back by its MAC. The shared address is told once,
    // though every broadcast of the wait hears it again.
    void renamingPlanVerifiesAtTheSharedAddress()
    {
        QByteArray text = "lanMac,devName\n";
        for (int i = 0; i < shared_.size(); ++i)
            text += shared_[i].mac.toLatin1() + ",Desk " + QByteArray::number(i) + "\n";
        QFile f(dir_.filePath(QStringLiteral("rename.csv")));
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(text) == text.size());
        f.close();
        const CliRun r =
            cli({QStringLiteral("set"), QStringLiteral("--plan"), f.fileName()}, 120000);
        QVERIFY2(r.exit == 0, r.err.constData());
        QVERIFY2(r.out.contains("5 targets, 5 succeeded, 0 failed"), r.out.constData());
        QVERIFY2(r.err.count("192.0.2.50 answers for several modules") == 1, r.err.constData());
        for (int i = 0; i < shared_.size(); ++i) {
            const BedModule& m = shared_[i];
            QCOMPARE(bed_.setting(m.name, QStringLiteral("devName")),
                     QStringLiteral("Desk %1").arg(i));
            QCOMPARE(bed_.setting(m.name, QStringLiteral("lanIp")), m.ip);
        }
        verifyTablesClean();
    }

    // Five modules on one factory address each get an address of their own and a name (one
    // with a comma, quoted); the run finds each again at its new address and reads it back. A
    // sixth line names a module that is not there: it alone fails, and the status says so.
    void planCommissionsEachModuleAndVerifies()
    {
        const QByteArray absent = "02:54:58:EE:EE:EE";
        const CliRun r = cli({QStringLiteral("set"), QStringLiteral("--plan"), planFile(absent),
                              QStringLiteral("--json")},
                             240000);
        QCOMPARE(r.exit, 1);
        const QJsonArray summary = QJsonDocument::fromJson(r.out).array();
        QCOMPARE(summary.size(), 6);
        for (int i = 0; i < shared_.size(); ++i) {
            const BedModule& m = shared_[i];
            const QJsonObject o = summary[i].toObject();
            QCOMPARE(o.value(QStringLiteral("target")).toString(), m.mac);
            QVERIFY2(o.value(QStringLiteral("result")).toString() == QLatin1String("ok"),
                     qPrintable(o.value(QStringLiteral("message")).toString()));
            QCOMPARE(o.value(QStringLiteral("line")).toInt(), i + 2);
            QCOMPARE(o.value(QStringLiteral("module")).toObject().value(QStringLiteral("lanIp")),
                     QJsonValue(plannedIp(i)));
            QCOMPARE(bed_.setting(m.name, QStringLiteral("lanIp")), plannedIp(i));
            QCOMPARE(bed_.setting(m.name, QStringLiteral("lanGw")), QStringLiteral("192.0.2.254"));
            QCOMPARE(bed_.setting(m.name, QStringLiteral("devName")), plannedName(i));
            QCOMPARE(bed_.state(m.name).value(QStringLiteral("restarts")), QStringLiteral("3"));
        }
        const QJsonObject missing = summary[5].toObject();
        QCOMPARE(missing.value(QStringLiteral("result")).toString(), QStringLiteral("failed"));
        QCOMPARE(missing.value(QStringLiteral("message")).toString(),
                 QStringLiteral("no module answered the search"));
        verifyTablesClean();
    }
};

QTEST_GUILESS_MAIN(TestCliSharedBed)
#include "tst_cli_shared_bed.moc"
