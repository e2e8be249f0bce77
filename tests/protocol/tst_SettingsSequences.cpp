// The read and write sequences walked over a fake module on loopback: which
// lines go out in which order, what lands in the record, the defaults and the
// flag of the read, the conditions of the write, and where each one stops.
#include "FakeModule.h"
#include "RecordingView.h"
#include "common/FakeNetTables.h"
#include "common/ScriptedPrompter.h"
#include "firmware/Rebootthread.h"
#include "handover/WorkerOwner.h"
#include "net/HostNetwork.h"
#include "protocol/CommandConnection.h"
#include "protocol/SettingsRecord.h"
#include "protocol/Tcpcmdgetthread.h"
#include "protocol/Tcpcmdsetthread.h"

#include <QElapsedTimer>
#include <QtTest>

#include <cstring>

using namespace tvx;
using tvx::test::FakeModule;
using tvx::test::LoopbackPeer;
using Lines = std::vector<std::string>;

Q_DECLARE_METATYPE(Lines)
Q_DECLARE_METATYPE(tvx::SettingsRecord)

namespace {

// The module's pauses, shortened; the waits below are measured against them.
constexpr CommandTimings kQuick{50, 250};

struct Outcome {
    int result = 0;
    Lines lines;
    QStringList messages;
    qint64 sequenceMs = 0;
};

// Reaches the module, runs one sequence on the connection, closes it and
// collects what the module received.
template <class Sequence>
Outcome runSequence(FakeModule& module, Sequence sequence, bool stopFirst = false)
{
    test::FakeNetTables tables;
    HostNetwork net(tables, [](const QString&) {});
    test::RecordingView view;
    test::ScriptedPrompter prompter;
    auto token = std::make_shared<RunToken>();
    WorkerLink link(token, &view, &prompter, {}, 100);
    const int connectionsBefore = module.peer().connectionCount();
    Outcome out;
    {
        CommandConnection c(net, link, WorkerFamily::Settings, "127.0.0.1", "00:1A:2B:3C:4D:5E",
                            module.port(), kQuick);
        if (c.reachDevice() != 0) {
            out.result = 99;
            return out;
        }
        if (stopFirst)
            token->requestStop();
        QElapsedTimer timer;
        timer.start();
        out.result = sequence(c, link);
        out.sequenceMs = timer.elapsed();
    }
    module.peer().waitClosedConnections(connectionsBefore + 1, 3000);
    QCoreApplication::processEvents();
    out.lines = module.lastLines();
    out.messages = view.messages;
    return out;
}

Outcome read(FakeModule& module, SettingsRecord& record, bool stopFirst = false)
{
    return runSequence(
        module,
        [&record](CommandConnection& c, WorkerLink& l) {
            return TCPcmdgetThread::readSequence(c, record, l);
        },
        stopFirst);
}

Outcome write(FakeModule& module, const SettingsRecord& record, bool stopFirst = false)
{
    return runSequence(
        module,
        [&record](CommandConnection& c, WorkerLink& l) {
            return TCPcmdsetThread::writeSequence(c, record, l);
        },
        stopFirst);
}

SettingsRecord cleared()
{
    SettingsRecord r;
    std::memset(&r, 0, sizeof r);
    return r;
}

void put(char* field, size_t room, const char* value)
{
    std::memset(field, 0, room);
    std::strncpy(field, value, room - 1);
}
#define PUT(record, field, value) put(record.field, sizeof record.field, value)

const Lines kReadLines = {
    "$LOG\r\n",   "$GBN\r\n",   "$GBC\r\n",   "$GBD\r\n",   "$GBV\r\n",   "$GBI\r\n",  "$GSMA\r\n",
    "$GSVPA\r\n", "$GSCPA\r\n", "$GSCIA\r\n", "$GSCCA\r\n", "$GSBA\r\n",  "$GSDA\r\n", "$GSFA\r\n",
    "$GSIA\r\n",  "$GSPCA\r\n", "$GSPLA\r\n", "$GSPTA\r\n", "$GSPSA\r\n", "$GLI\r\n",  "$GLN\r\n",
    "$GLG\r\n",   "$GLC\r\n",   "$GLA\r\n",   "$GLM\r\n",   "$GLS\r\n"};

// A record as a read of the default fake module leaves it.
SettingsRecord loaded()
{
    SettingsRecord r = cleared();
    PUT(r, devName, "Module-1");
    PUT(r, fmwVer, "V1.05");
    PUT(r, sp0_baud, "115200");
    PUT(r, sp0_dataFmt, "N81");
    PUT(r, sp0_fc, "NONE");
    PUT(r, sp0_if, "RS-232");
    PUT(r, sp0_dpCtrl, "000");
    PUT(r, sp0_dpLen, "512");
    PUT(r, sp0_dpTm, "20");
    PUT(r, sp0_dpStr, "0D0A");
    PUT(r, lanIp, "192.0.2.10");
    PUT(r, lanMask, "255.255.255.0");
    PUT(r, lanGw, "192.0.2.1");
    PUT(r, lanIpCfg, "0");
    PUT(r, lanPingEn, "1");
    PUT(r, sp0_opmode, "TS");
    PUT(r, sp0_tcpslport, "4000");
    PUT(r, sp0_tcpcrip, "192.0.2.9");
    PUT(r, sp0_tcpcrport, "5000");
    PUT(r, sp0_tcpcat, "1");
    PUT(r, diolp, "4001");
    r.webEn = 1;
    return r;
}

} // namespace

class TestSettingsSequences : public QObject {
    Q_OBJECT
private slots:
    void readWalksEveryStepInOrder();
    void readCutsLongValuesToTheirRoom();
    void readDefaultsWithoutEcho_data();
    void readDefaultsWithoutEcho();
    void readWebFlag_data();
    void readWebFlag();
    void readFailures_data();
    void readFailures();
    void readStopsBeforeTheFirstCommand();
    void writeLines_data();
    void writeLines();
    void writeStopsAtAnUnacknowledgedLine();
    void writeSucceedsWhenTheModuleRestartsSilently();
    void writeStopsBeforeSendingAnything();
    void nothingChangesOnAnotherModule();

private:
    // Goes first: every worker ends before what it uses.
    WorkerOwner workers_;
};

void TestSettingsSequences::readWalksEveryStepInOrder()
{
    FakeModule module;
    SettingsRecord record = cleared();
    PUT(record, passwd, "abc");
    const Outcome out = read(module, record);
    // The length of the last reply text, "GLS100M Full".
    QCOMPARE(out.result, 12);
    Lines expected = kReadLines;
    expected[0] = "$LOGabc\r\n";
    QCOMPARE(out.lines, expected);

    QCOMPARE(QByteArray(record.devName), QByteArray("Module-1"));
    QCOMPARE(record.webEn, uint8_t(1));
    QCOMPARE(QByteArray(record.diolp), QByteArray("4001"));
    QCOMPARE(QByteArray(record.fmwVer), QByteArray("V1.05"));
    QCOMPARE(QByteArray(record.sp0_opmode), QByteArray("TS"));
    QCOMPARE(QByteArray(record.sp0_tcpslport), QByteArray("4000"));
    QCOMPARE(QByteArray(record.sp0_tcpcrport), QByteArray("5000"));
    QCOMPARE(QByteArray(record.sp0_tcpcrip), QByteArray("192.0.2.9"));
    QCOMPARE(QByteArray(record.sp0_tcpcat), QByteArray("1"));
    QCOMPARE(QByteArray(record.sp0_baud), QByteArray("115200"));
    QCOMPARE(QByteArray(record.sp0_dataFmt), QByteArray("N81"));
    QCOMPARE(QByteArray(record.sp0_fc), QByteArray("NONE"));
    QCOMPARE(QByteArray(record.sp0_if), QByteArray("RS-232"));
    QCOMPARE(QByteArray(record.sp0_dpCtrl), QByteArray("101"));
    QCOMPARE(QByteArray(record.sp0_dpLen), QByteArray("512"));
    QCOMPARE(QByteArray(record.sp0_dpTm), QByteArray("20"));
    QCOMPARE(QByteArray(record.sp0_dpStr), QByteArray("0D0A"));
    QCOMPARE(QByteArray(record.lanIp), QByteArray("192.0.2.10"));
    QCOMPARE(QByteArray(record.lanMask), QByteArray("255.255.255.0"));
    QCOMPARE(QByteArray(record.lanGw), QByteArray("192.0.2.1"));
    QCOMPARE(QByteArray(record.lanIpCfg), QByteArray("0"));
    QCOMPARE(QByteArray(record.lanPingEn), QByteArray("1"));
    QCOMPARE(QByteArray(record.lanMac), QByteArray("00:1A:2B:3C:4D:5E"));
    QCOMPARE(QByteArray(record.lanStatus), QByteArray("100M Full"));
    QCOMPARE(QByteArray(record.passwd), QByteArray("abc"));

    QCOMPARE(out.messages.first(), QStringLiteral("login to device..."));
    QCOMPARE(out.messages.at(1), QStringLiteral("get information...1/35"));
    QCOMPARE(out.messages.last(), QStringLiteral("get information...25/35"));
    QCOMPARE(out.messages.size(), 26);
    // Nothing to wait for on loopback beyond the exchanges themselves.
    QVERIFY2(out.sequenceMs < 200, QByteArray::number(out.sequenceMs));
}

void TestSettingsSequences::readCutsLongValuesToTheirRoom()
{
    FakeModule module;
    module.setValue("GBN", std::string(40, 'n'));
    module.setValue("GSCIA", std::string(60, 'c'));
    module.setValue("GLA", std::string(30, 'a'));
    SettingsRecord record = cleared();
    QVERIFY(read(module, record).result > 0);
    QCOMPARE(QByteArray(record.devName), QByteArray(19, 'n'));
    QCOMPARE(QByteArray(record.sp0_tcpcrip), QByteArray(39, 'c'));
    QCOMPARE(QByteArray(record.lanPingEn), QByteArray(20, 'a'));
    // The neighbours of the cut fields keep their own values.
    QCOMPARE(QByteArray(record.fmwVer), QByteArray("V1.05"));
    QCOMPARE(QByteArray(record.sp0_tcpcrport), QByteArray("5000"));
    QCOMPARE(QByteArray(record.lanMac), QByteArray("00:1A:2B:3C:4D:5E"));
}

void TestSettingsSequences::readDefaultsWithoutEcho_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<int>("field");
    QTest::newRow("GSVPA") << QByteArray("$GSVPA") << QByteArray("4000")
                           << int(offsetof(SettingsRecord, sp0_tcpslport));
    QTest::newRow("GSCPA") << QByteArray("$GSCPA") << QByteArray("4000")
                           << int(offsetof(SettingsRecord, sp0_tcpcrport));
    QTest::newRow("GSCIA") << QByteArray("$GSCIA") << QByteArray("0.0.0.0")
                           << int(offsetof(SettingsRecord, sp0_tcpcrip));
    QTest::newRow("GSCCA") << QByteArray("$GSCCA") << QByteArray("0")
                           << int(offsetof(SettingsRecord, sp0_tcpcat));
}

void TestSettingsSequences::readDefaultsWithoutEcho()
{
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, expected);
    QFETCH(int, field);
    FakeModule module;
    module.override(command.toStdString() + "\r\n", {{LoopbackPeer::line("ERR 7")}});
    SettingsRecord record = cleared();
    const Outcome out = read(module, record);
    QVERIFY(out.result > 0);
    QCOMPARE(out.lines, kReadLines);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(&record) + field), expected);
}

void TestSettingsSequences::readWebFlag_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("webEn");
    QTest::newRow("0") << QByteArray("GBC0") << 0;
    QTest::newRow("00") << QByteArray("GBC00") << 0;
    QTest::newRow("1") << QByteArray("GBC1") << 1;
    QTest::newRow("nothing after the echo") << QByteArray("GBC") << 1;
    QTest::newRow("letter") << QByteArray("GBCx") << 1;
}

void TestSettingsSequences::readWebFlag()
{
    QFETCH(QByteArray, reply);
    QFETCH(int, webEn);
    FakeModule module;
    module.override("$GBC\r\n", {{LoopbackPeer::line(reply.toStdString())}});
    // "$GBI" keeps nothing of whatever it is answered.
    module.override("$GBI\r\n", {{LoopbackPeer::line("?")}});
    SettingsRecord record = cleared();
    record.webEn = 7;
    QVERIFY(read(module, record).result > 0);
    QCOMPARE(int(record.webEn), webEn);
}

void TestSettingsSequences::readFailures_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QStringList>("answer");
    QTest::addColumn<int>("expected");
    QTest::addColumn<int>("linesSent");

    QTest::newRow("echo missing") << QByteArray("$GLI") << QStringList{"%GLN192.0.2.10\r\n"} << -3
                                  << 20;
    QTest::newRow("empty text where a default exists")
        << QByteArray("$GSVPA") << QStringList{"%\r\n"} << -3 << 8;
    QTest::newRow("bad framing") << QByteArray("$GBD") << QStringList{"GBD4001\r\n"} << -3 << 4;
    QTest::newRow("GBI empty") << QByteArray("$GBI") << QStringList{"%\r\n"} << -3 << 6;
    QTest::newRow("login refused") << QByteArray("$LOG") << QStringList{"%LOGFAIL\r\n"} << -4 << 1;
    QTest::newRow("login empty") << QByteArray("$LOG") << QStringList{"%\r\n"} << -3 << 1;
}

void TestSettingsSequences::readFailures()
{
    QFETCH(QByteArray, command);
    QFETCH(QStringList, answer);
    QFETCH(int, expected);
    QFETCH(int, linesSent);
    FakeModule module;
    LoopbackPeer::Answer a;
    for (const QString& s : answer)
        a.segments.push_back(s.toStdString());
    module.override(command.toStdString(), a);
    SettingsRecord record = cleared();
    const Outcome out = read(module, record);
    QCOMPARE(out.result, expected);
    QCOMPARE(out.lines, Lines(kReadLines.begin(), kReadLines.begin() + linesSent));
    // What was read before the failure stays; nothing after it is filled in.
    if (linesSent == 20) {
        QCOMPARE(QByteArray(record.sp0_dpStr), QByteArray("0D0A"));
        QCOMPARE(QByteArray(record.lanIp), QByteArray());
        QCOMPARE(QByteArray(record.lanStatus), QByteArray());
    }
}

void TestSettingsSequences::readStopsBeforeTheFirstCommand()
{
    FakeModule module;
    SettingsRecord record = cleared();
    const Outcome out = read(module, record, true);
    QCOMPARE(out.result, -2);
    QCOMPARE(out.lines, Lines{"$LOG\r\n"});
}

void TestSettingsSequences::writeLines_data()
{
    QTest::addColumn<SettingsRecord>("record");
    QTest::addColumn<Lines>("expected");

    const Lines common = {"$SBNModule-1\r\n", "$SBC1\r\n",     "$SBD4001\r\n",   "$SSBA115200\r\n",
                          "$SSDAN81\r\n",     "$SSFANONE\r\n", "$SSIARS-232\r\n"};
    const auto join = [](std::initializer_list<Lines> parts) {
        Lines all;
        for (const Lines& p : parts)
            all.insert(all.end(), p.begin(), p.end());
        return all;
    };
    const Lines staticLines = {"$SLC0\r\n", "$SLI192.0.2.10\r\n", "$SLN255.255.255.0\r\n",
                               "$SLG192.0.2.1\r\n", "$SLA1\r\n"};

    SettingsRecord r = loaded();
    QTest::newRow("static, server, no packing")
        << r
        << join({{"$LOG\r\n", "$GLM\r\n"},
                 common,
                 {"$SSPCA000\r\n"},
                 staticLines,
                 {"$SSMATS\r\n", "$SSVPA4000\r\n", "$SEI\r\n"}});

    r = loaded();
    PUT(r, lanIpCfg, "1");
    PUT(r, sp0_opmode, "TC");
    PUT(r, passwd, "old");
    PUT(r, sp0_dpCtrl, "101");
    r.webEn = 0;
    QTest::newRow("DHCP, client, delimiter and length")
        << r << Lines{"$LOGold\r\n",         "$GLM\r\n",        "$SBNModule-1\r\n", "$SBC0\r\n",
                      "$SBD4001\r\n",        "$SSBA115200\r\n", "$SSDAN81\r\n",     "$SSFANONE\r\n",
                      "$SSIARS-232\r\n",     "$SSPCA101\r\n",   "$SSPSA0D0A\r\n",   "$SSPLA512\r\n",
                      "$SLC1\r\n",           "$SSMATC\r\n",     "$SSCPA5000\r\n",   "$SSCCA1\r\n",
                      "$SSCIA192.0.2.9\r\n", "$SEI\r\n"};

    r = loaded();
    PUT(r, sp0_opmode, "UD");
    PUT(r, sp0_dpCtrl, "010");
    r.passwdChg = 1;
    QTest::newRow("other mode, timeout only, password removed")
        << r
        << join({{"$LOG\r\n", "$GLM\r\n"},
                 {common[0], common[1], common[2], "$SBP\r\n"},
                 {common.begin() + 3, common.end()},
                 {"$SSPCA010\r\n", "$SSPTA20\r\n"},
                 staticLines,
                 {"$SSMAUD\r\n", "$SEI\r\n"}});

    r = loaded();
    PUT(r, sp0_dpCtrl, "111");
    PUT(r, sp0_opmode, "TC");
    PUT(r, passwd, "old");
    PUT(r, newPasswd, "new12345");
    r.passwdChg = 1;
    QTest::newRow("every line: all packing, client, new password")
        << r
        << join({{"$LOGold\r\n", "$GLM\r\n"},
                 {common[0], common[1], common[2], "$SBPnew12345\r\n"},
                 {common.begin() + 3, common.end()},
                 {"$SSPCA111\r\n", "$SSPSA0D0A\r\n", "$SSPTA20\r\n", "$SSPLA512\r\n"},
                 staticLines,
                 {"$SSMATC\r\n", "$SSCPA5000\r\n", "$SSCCA1\r\n", "$SSCIA192.0.2.9\r\n",
                  "$SEI\r\n"}});

    // Only the first two characters of the mode and single switch characters count.
    r = loaded();
    PUT(r, sp0_opmode, "TSX");
    PUT(r, sp0_dpCtrl, "1");
    PUT(r, lanIpCfg, "01");
    r.passwdChg = 0;
    PUT(r, newPasswd, "ignored");
    QTest::newRow("prefixes only") << r
                                   << join({{"$LOG\r\n", "$GLM\r\n"},
                                            common,
                                            {"$SSPCA1\r\n", "$SSPSA0D0A\r\n", "$SLC01\r\n"},
                                            {staticLines.begin() + 1, staticLines.end()},
                                            {"$SSMATSX\r\n", "$SSVPA4000\r\n", "$SEI\r\n"}});
}

void TestSettingsSequences::writeLines()
{
    QFETCH(SettingsRecord, record);
    QFETCH(Lines, expected);
    FakeModule module;
    const Outcome out = write(module, record);
    QCOMPARE(out.lines, expected);
    // The last acknowledged line before "$SEI": "SSVPAOK", "SSCIAOK" or "SSMAOK".
    QVERIFY(out.result == 7 || out.result == 6);
    // Neither the login, the identity check nor "$SEI" is counted.
    const int counted = int(expected.size()) - 3;
    QCOMPARE(out.messages.last(), QStringLiteral("set information...%1/35").arg(counted));
}

void TestSettingsSequences::writeStopsAtAnUnacknowledgedLine()
{
    FakeModule module;
    module.override("$SSDA", {{LoopbackPeer::line("SSDAERR")}});
    const Outcome out = write(module, loaded());
    QCOMPARE(out.result, -3);
    QCOMPARE(out.lines.back(), std::string("$SSDAN81\r\n"));
    QCOMPARE(out.lines.size(), size_t(7));

    // A wrong acknowledgement counts the same as none.
    FakeModule other;
    other.override("$SLI", {{LoopbackPeer::line("SLNOK")}});
    const Outcome out2 = write(other, loaded());
    QCOMPARE(out2.result, -3);
    QCOMPARE(out2.lines.back(), std::string("$SLI192.0.2.10\r\n"));

    FakeModule refusing;
    refusing.override("$LOG", {{LoopbackPeer::line("LOGNO")}});
    const Outcome out3 = write(refusing, loaded());
    QCOMPARE(out3.result, -4);
    QCOMPARE(out3.lines, Lines{"$LOG\r\n"});
}

void TestSettingsSequences::writeSucceedsWhenTheModuleRestartsSilently()
{
    FakeModule module;
    module.override("$SEI", {});
    const Outcome out = write(module, loaded());
    QCOMPARE(out.result, 7);
    // Both of its waits, after the two sends of "$SEI".
    const int waits = 2 * kQuick.replyWaitMs;
    QVERIFY2(out.sequenceMs >= waits - 10 && out.sequenceMs < waits + 500,
             QByteArray::number(out.sequenceMs));
    QCOMPARE(out.lines.at(out.lines.size() - 2), std::string("$SEI\r\n"));
    QCOMPARE(out.lines.back(), std::string("$SEI\r\n"));
}

void TestSettingsSequences::writeStopsBeforeSendingAnything()
{
    FakeModule module;
    const Outcome out = write(module, loaded(), true);
    QCOMPARE(out.result, -2);
    QCOMPARE(out.lines, (Lines{"$LOG\r\n", "$GLM\r\n"}));
}

// The module that answers is asked who it is before anything is changed:
// another module (two on one factory address) takes no write and no restart.
void TestSettingsSequences::nothingChangesOnAnotherModule()
{
    FakeModule module;
    module.setValue("GLM", "02:54:58:01:00:99");
    QString otherModule;
    const Outcome out = runSequence(module, [&](CommandConnection& c, WorkerLink& l) {
        return TCPcmdsetThread::writeSequence(c, loaded(), l, &otherModule);
    });
    QCOMPARE(out.result, kOtherModuleResult);
    QCOMPARE(out.lines, (Lines{"$LOG\r\n", "$GLM\r\n"}));
    QCOMPARE(otherModule,
             QStringLiteral("another module answered at 127.0.0.1: "
                            "02:54:58:01:00:99, not 00:1A:2B:3C:4D:5E"));

    test::FakeNetTables tables;
    auto net = std::make_shared<HostNetwork>(tables, [](const QString&) {});
    test::RecordingView view;
    test::ScriptedPrompter prompter;
    auto token = std::make_shared<RunToken>();
    DeviceRequest request{};
    std::strcpy(request.ipText, "127.0.0.1");
    std::strcpy(request.macText, "00:1A:2B:3C:4D:5E");
    const int connectionsBefore = module.peer().connectionCount();
    WorkerThread::start(std::make_unique<rebootThread>(
        WorkerLink(token, &view, &prompter, {}, 1000), net, request, module.port()));
    QTRY_VERIFY_WITH_TIMEOUT(token->finished, 10000);
    module.peer().waitClosedConnections(connectionsBefore + 1, 3000);
    QCOMPARE(token->result, kOtherModuleResult);
    QCOMPARE(WorkerOutcome::ofRun(rebootThread::outcome(token->result), *token).message,
             otherModule);
    QCOMPARE(module.lastLines(), (Lines{"$LOG\r\n", "$GLM\r\n"}));
}

QTEST_GUILESS_MAIN(TestSettingsSequences)
#include "tst_SettingsSequences.moc"
