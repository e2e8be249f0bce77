// tarvanix-cli against five modules fresh from the box: one address, five MACs. Each is
// read and written by its MAC, and only it takes the write.
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
            const CliRun set = cli({QStringLiteral("set"), m.mac, QStringLiteral("devName=") + name});
            QVERIFY2(set.exit == 0, set.err.constData());
            QVERIFY(bed_.waitUntilUp(m.name));
            QCOMPARE(bed_.setting(m.name, QStringLiteral("devName")), name);
            QCOMPARE(tcpExchanges(m.name), 2); // the read, then the write
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
};

QTEST_GUILESS_MAIN(TestCliSharedBed)
#include "tst_cli_shared_bed.moc"
