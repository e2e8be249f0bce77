// The write worker against simulated modules in the network test bed: the
// lines each kind of record sends, in order, the stop at a line the module
// does not acknowledge, the restart after "$SEI", and a module that restarts
// without answering it.
#include "RecordingView.h"
#include "TestBed.h"
#include "common/ScriptedPrompter.h"
#include "handover/WorkerOwner.h"
#include "handover/WorkerThread.h"
#include "net/HostNetwork.h"
#include "net/SystemNetTables.h"
#include "protocol/Tcpcmdgetthread.h"
#include "protocol/Tcpcmdsetthread.h"

#include <QElapsedTimer>
#include <QtTest>

#include <cstring>

using namespace tvx;
using tvx::test::TestBed;

namespace {

void put(char* field, size_t room, const char* value)
{
    std::memset(field, 0, room);
    std::strncpy(field, value, room - 1);
}
#define PUT(record, field, value) put(record.field, sizeof record.field, value)

QByteArray line(const char* name, const char* value = "")
{
    return QByteArray("$") + name + value + "\r\n";
}

} // namespace

class TestWriteWorkerBed : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void staticServerWrite();
    void dhcpClientWithNewPassword();
    void otherModeRemovesThePassword();
    void unacknowledgedLineStopsBeforeSei();
    void failuresBeforeTheFirstLine();
    void silentRestartStillSucceeds();
    void writeGoesToTheAddressItWasGiven();

private:
    // Runs one worker to its end; returns its result and the time it took.
    template <class Make>
    int run(Make make, qint64* elapsedMs = nullptr);
    SettingsRecord readModule(const test::BedModule& m);
    int write(const test::BedModule& m, const SettingsRecord& r, qint64* elapsedMs = nullptr);
    QByteArray lastReceived(const QString& module) const
    {
        const QList<int> ids = bed_.exchanges(module, "tcp");
        return ids.isEmpty() ? QByteArray() : bed_.received(module, ids.last());
    }

    TestBed bed_;
    test::ScriptedPrompter prompter_;
    test::RecordingView view_;
    std::unique_ptr<SystemNetTables> tables_;
    std::shared_ptr<HostNetwork> net_;

    // Goes first: every worker ends before what it uses.
    WorkerOwner workers_;
};

void TestWriteWorkerBed::initTestCase()
{
    if (!bed_.isValid())
        QSKIP(qPrintable(bed_.error()));
    tables_ = std::make_unique<SystemNetTables>(
        SystemNetTables::defaultHelperPath(QCoreApplication::applicationDirPath().toStdString()));
    net_ = std::make_shared<HostNetwork>(*tables_, [](const QString&) {});
}

void TestWriteWorkerBed::cleanupTestCase()
{
    QTRY_COMPARE_WITH_TIMEOUT(WorkerThread::liveCount(), 0, 20000);
    QCOMPARE(TestBed::permanentNeighbours().size(), 0);
    QCOMPARE(TestBed::staticRoutes().size(), 0);
}

void TestWriteWorkerBed::init()
{
    prompter_.clear();
    view_.reset();
    for (const auto& m : bed_.modules()) {
        bed_.clearFaults(m.name);
        bed_.waitUntilUp(m.name, 10000);
    }
}

template <class Make>
int TestWriteWorkerBed::run(Make make, qint64* elapsedMs)
{
    auto token = std::make_shared<RunToken>();
    WorkerLink link(token, &view_, &prompter_, {}, 100);
    QElapsedTimer timer;
    timer.start();
    WorkerThread::start(make(std::move(link)));
    if (!QTest::qWaitFor([&] { return token->finished; }, 30000))
        return 1;
    if (elapsedMs)
        *elapsedMs = timer.elapsed();
    return token->result;
}

SettingsRecord TestWriteWorkerBed::readModule(const test::BedModule& m)
{
    SettingsRecord asked;
    std::memset(&asked, 0, sizeof asked);
    PUT(asked, passwd, m.password.toLatin1().constData());
    auto slot = std::make_shared<SettingsRecord>();
    std::memset(slot.get(), 0, sizeof *slot);
    const int result = run([&](WorkerLink link) {
        return std::make_unique<TCPcmdgetThread>(std::move(link), net_, asked,
                                                 m.mac.toLatin1().constData(),
                                                 m.ip.toLatin1().constData(), slot);
    });
    if (result <= 0)
        qWarning("read of %s gave %d", qPrintable(m.name), result);
    return *slot;
}

int TestWriteWorkerBed::write(const test::BedModule& m, const SettingsRecord& r, qint64* elapsed)
{
    bed_.clearTranscript(m.name);
    return run(
        [&](WorkerLink link) {
            return std::make_unique<TCPcmdsetThread>(std::move(link), net_, r,
                                                     m.mac.toLatin1().constData(),
                                                     m.ip.toLatin1().constData());
        },
        elapsed);
}

void TestWriteWorkerBed::staticServerWrite()
{
    const auto m1 = bed_.module("m1");
    SettingsRecord r = readModule(m1);
    QCOMPARE(QByteArray(r.lanIpCfg), QByteArray("0"));
    QCOMPARE(QByteArray(r.sp0_opmode).left(2), QByteArray("TS"));
    PUT(r, devName, "Renamed");
    PUT(r, sp0_dpCtrl, "000");
    r.webEn = 0;
    QCOMPARE(write(m1, r), 7); // "SSVPAOK"
    // The identity check follows the login, before the first change.
    const QByteArray expected = line("LOG") + line("GLM") + line("SBN", "Renamed")
        + line("SBC", "0") + line("SBD", r.diolp) + line("SSBA", r.sp0_baud)
        + line("SSDA", r.sp0_dataFmt) + line("SSFA", r.sp0_fc) + line("SSIA", r.sp0_if)
        + line("SSPCA", "000") + line("SLC", "0") + line("SLI", r.lanIp) + line("SLN", r.lanMask)
        + line("SLG", r.lanGw) + line("SLA", r.lanPingEn) + line("SSMA", r.sp0_opmode)
        + line("SSVPA", r.sp0_tcpslport) + line("SEI");
    QCOMPARE(lastReceived("m1"), expected);
    QCOMPARE(view_.messages.last(), QStringLiteral("set information...15/35"));

    // The module restarts with what was written.
    QVERIFY(bed_.waitUntilUp("m1", 10000));
    QCOMPARE(bed_.setting("m1", "devName"), QStringLiteral("Renamed"));
    QCOMPARE(bed_.setting("m1", "webEn"), QStringLiteral("0"));
}

void TestWriteWorkerBed::dhcpClientWithNewPassword()
{
    const auto m5 = bed_.module("m5");
    SettingsRecord r = readModule(m5);
    QCOMPARE(QByteArray(r.sp0_opmode).left(2), QByteArray("TC"));
    PUT(r, lanIpCfg, "1");
    PUT(r, sp0_dpCtrl, "101");
    PUT(r, sp0_dpStr, "0D0A");
    PUT(r, sp0_dpLen, "256");
    PUT(r, newPasswd, "pw1");
    r.passwdChg = 1;
    r.webEn = 1;
    QCOMPARE(write(m5, r), 7); // "SSCIAOK"
    const QByteArray expected = line("LOG") + line("GLM") + line("SBN", r.devName)
        + line("SBC", "1") + line("SBD", r.diolp) + line("SBP", "pw1") + line("SSBA", r.sp0_baud)
        + line("SSDA", r.sp0_dataFmt) + line("SSFA", r.sp0_fc) + line("SSIA", r.sp0_if)
        + line("SSPCA", "101") + line("SSPSA", "0D0A") + line("SSPLA", "256") + line("SLC", "1")
        + line("SSMA", r.sp0_opmode) + line("SSCPA", r.sp0_tcpcrport) + line("SSCCA", r.sp0_tcpcat)
        + line("SSCIA", r.sp0_tcpcrip) + line("SEI");
    QCOMPARE(lastReceived("m5"), expected);
    QVERIFY(bed_.waitUntilUp("m5", 10000));
    QCOMPARE(bed_.setting("m5", "password"), QStringLiteral("pw1"));
    QCOMPARE(bed_.setting("m5", "lanIpCfg"), QStringLiteral("1"));
    bed_.setSetting("m5", "password", "");
}

void TestWriteWorkerBed::otherModeRemovesThePassword()
{
    const auto m2 = bed_.module("m2");
    SettingsRecord r = readModule(m2);
    QCOMPARE(QByteArray(r.passwd), m2.password.toLatin1());
    PUT(r, sp0_opmode, "UD");
    PUT(r, sp0_dpCtrl, "010");
    r.passwdChg = 1; // newPasswd empty: remove it
    QCOMPARE(write(m2, r), 6); // "SSMAOK"
    const QByteArray expected = "$LOG" + m2.password.toLatin1() + "\r\n" + line("GLM")
        + line("SBN", r.devName) + line("SBC", r.webEn ? "1" : "0") + line("SBD", r.diolp)
        + line("SBP") + line("SSBA", r.sp0_baud) + line("SSDA", r.sp0_dataFmt)
        + line("SSFA", r.sp0_fc) + line("SSIA", r.sp0_if) + line("SSPCA", "010")
        + line("SSPTA", r.sp0_dpTm) + line("SLC", "0") + line("SLI", r.lanIp)
        + line("SLN", r.lanMask) + line("SLG", r.lanGw) + line("SLA", r.lanPingEn)
        + line("SSMA", "UD") + line("SEI");
    QCOMPARE(lastReceived("m2"), expected);
    QVERIFY(bed_.waitUntilUp("m2", 10000));
    QCOMPARE(bed_.setting("m2", "password"), QString());
    bed_.setSetting("m2", "password", m2.password);
}

void TestWriteWorkerBed::unacknowledgedLineStopsBeforeSei()
{
    const auto m4 = bed_.module("m4");
    SettingsRecord r = readModule(m4);
    QVERIFY(bed_.setFault("m4", "noecho@SSDA"));
    QCOMPARE(write(m4, r), -3);
    const QByteArray received = lastReceived("m4");
    QVERIFY(received.endsWith(line("SSDA", r.sp0_dataFmt)));
    QVERIFY(!received.contains("$SEI"));
    QCOMPARE(bed_.state("m4").value("restarts"), QStringLiteral("0"));
}

void TestWriteWorkerBed::failuresBeforeTheFirstLine()
{
    const auto m4 = bed_.module("m4");
    SettingsRecord r = readModule(m4);
    QVERIFY(bed_.setFault("m4", "refuselogin"));
    QCOMPARE(write(m4, r), -4);
    QCOMPARE(lastReceived("m4"), line("LOG"));
    bed_.clearFaults("m4");
    QVERIFY(bed_.setFault("m4", "noaccept"));
    QCOMPARE(write(m4, r), -1);
    QCOMPARE(prompter_.count(), 0);
}

void TestWriteWorkerBed::silentRestartStillSucceeds()
{
    const auto m1 = bed_.module("m1");
    SettingsRecord r = readModule(m1);
    // Silent while the connection stays open: both waits for "$SEI" run out.
    QVERIFY(bed_.setFault("m1", "delay@SEI=7000"));
    qint64 elapsed = 0;
    QCOMPARE(write(m1, r, &elapsed), 7);
    // One second to connect, then two waits of two seconds for "$SEI".
    QVERIFY2(elapsed >= 5000 && elapsed < 6500, QByteArray::number(elapsed));
    QVERIFY(lastReceived("m1").endsWith(line("SEI") + line("SEI")));
    QVERIFY(bed_.waitUntilUp("m1", 15000));

    // Restarting without an answer closes the connection: success at once.
    bed_.clearFaults("m1");
    QVERIFY(bed_.setFault("m1", "noreply@SEI"));
    QCOMPARE(write(m1, r, &elapsed), 7);
    QVERIFY2(elapsed < 2500, QByteArray::number(elapsed));
    QVERIFY(lastReceived("m1").endsWith(line("SEI")));
}

void TestWriteWorkerBed::writeGoesToTheAddressItWasGiven()
{
    const auto m4 = bed_.module("m4");
    SettingsRecord r = readModule(m4);
    // The record carries a new address; the write still goes to the old one.
    PUT(r, lanIp, "198.51.100.99");
    QCOMPARE(write(m4, r), 7);
    QVERIFY(lastReceived("m4").contains(line("SLI", "198.51.100.99")));
    QVERIFY(bed_.waitUntilUp("m4", 10000));
    QCOMPARE(bed_.setting("m4", "lanIp"), QStringLiteral("198.51.100.99"));
}

QTEST_GUILESS_MAIN(TestWriteWorkerBed)
#include "tst_WriteWorkerBed.moc"
