// ARP entries and host routes added and removed through the real helper and
// the real kernel, in namespaces that run-in-netns makes for this test, and
// read back with `ip -j`. Run once with CAP_NET_ADMIN and once without.
#include "net/HostNetwork.h"
#include "net/Ipv4.h"
#include "net/SystemNetTables.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

#include <net/if.h>

using namespace tvx;

namespace {

const uint8_t kMac[6] = {0x00, 0x00, 0x1A, 0x2B, 0x3C, 0x4D};
const uint8_t kOtherMac[6] = {0x00, 0x00, 0x1A, 0x2B, 0x3C, 0x4E};

uint32_t ip(const char* text)
{
    return parseIpv4(text, true);
}

bool hasNetAdmin()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("CapEff:"))
            return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> 12) & 1; // CAP_NET_ADMIN
    }
    return false;
}

QJsonArray ipJson(const QStringList& args)
{
    QProcess p;
    p.start(QStringLiteral("ip"), QStringList{"-j"} + args);
    p.waitForFinished(5000);
    return QJsonDocument::fromJson(p.readAllStandardOutput()).array();
}

void ipRun(const QStringList& args)
{
    QProcess p;
    p.start(QStringLiteral("ip"), args);
    p.waitForFinished(5000);
    QVERIFY2(p.exitCode() == 0, qPrintable(p.readAllStandardError()));
}

// The neighbour entries of an address, as "dev lladdr STATE".
QStringList neighbours(const QString& address)
{
    QStringList out;
    for (const QJsonValue& v : ipJson({"-4", "neigh", "show", "to", address})) {
        const QJsonObject o = v.toObject();
        QStringList states;
        for (const QJsonValue& s : o.value("state").toArray())
            states << s.toString();
        out << o.value("dev").toString() + " " + o.value("lladdr").toString() + " "
                + states.join(",");
    }
    return out;
}

QList<QJsonObject> routesTo(const QString& address)
{
    QList<QJsonObject> out;
    for (const QJsonValue& v : ipJson({"-d", "-4", "route", "show", "table", "main"})) {
        if (v.toObject().value("dst").toString() == address)
            out << v.toObject();
    }
    return out;
}

// Each case runs in one of the two runs only.
#define REQUIRE_PRIVILEGE(wanted)                                                                  \
    if (hasNetAdmin() != (wanted))                                                                 \
    QSKIP((wanted) ? "needs CAP_NET_ADMIN (this is the run without it)"                            \
                   : "needs to run without CAP_NET_ADMIN (this is the run with it)")

void quietly(const QStringList& args)
{
    QProcess p;
    p.start(QStringLiteral("ip"), args);
    p.waitForFinished(5000);
}

} // namespace

class TestNetpinNetns : public QObject {
    Q_OBJECT
    std::string helper_;
    uint32_t tvx0_ = 0;
    uint32_t tvx2_ = 0;
    QStringList log_;
    std::unique_ptr<SystemNetTables> tables_;
    std::unique_ptr<HostNetwork> net_;

    // One helper session, as the program keeps it: requests in, answers out.
    struct Session {
        std::unique_ptr<QProcess> process = std::make_unique<QProcess>();
        QString ask(const QString& request)
        {
            process->write(request.toLatin1() + '\n');
            return answer();
        }
        QString answer()
        {
            while (!process->canReadLine() && process->waitForReadyRead(5000)) {
            }
            return QString::fromLatin1(process->readLine()).trimmed();
        }
        void end()
        {
            process->closeWriteChannel();
            process->waitForFinished(5000);
        }
    };
    std::unique_ptr<Session> session(const QProcessEnvironment& env = {})
    {
        auto s = std::make_unique<Session>();
        if (!env.isEmpty())
            s->process->setProcessEnvironment(env);
        s->process->start(QString::fromStdString(helper_), {"serve"});
        const QString ready = s->answer();
        if (ready != QStringLiteral("0 ready"))
            qWarning("helper start: %s", qPrintable(ready));
        return s;
    }
    QString tvx(uint32_t index) const { return QString::number(index); }

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void listsTheNamespaceAddresses();
    void pinReplacesALearnedEntryAndIsPermanent();
    void unpinRemovesEveryEntryOfThatMacOnly();
    void hostRouteIsMarkedAndOnlyOursRemoved();
    void helperRefusesTheHostsOwnEntries();
    void helperLeavesWhatItDidNotMake();
    void helperRejectsMalformedArguments();
    void helperReadsNoEnvironment();
    void entriesGoWithTheirOwnerAndOnlyThen();
    void withoutThePrivilegeChangesFailAndSayWhy();
};

void TestNetpinNetns::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("TVX_NETNS"))
        QSKIP("runs only inside the namespaces that run-in-netns makes");
    helper_ = TVX_NETPIN_PATH;
    tvx0_ = if_nametoindex("tvx0");
    tvx2_ = if_nametoindex("tvx2");
    QVERIFY(tvx0_ && tvx2_);
}

void TestNetpinNetns::init()
{
    log_.clear();
    tables_ = std::make_unique<SystemNetTables>(helper_);
    net_ = std::make_unique<HostNetwork>(*tables_, [this](const QString& l) { log_ << l; });
    QCOMPARE(net_->refreshLocalAddresses(), 0);
}

void TestNetpinNetns::cleanup()
{
    if (!hasNetAdmin())
        return;
    quietly({"-4", "neigh", "flush", "to", "203.0.113.0/25"});
    for (int i = 0; i < 4; ++i)
        quietly({"route", "del", "203.0.113.7/32"});
}

void TestNetpinNetns::listsTheNamespaceAddresses()
{
    LocalAddressTable t;
    QCOMPARE(net_->refreshLocalAddresses(&t), 0);
    QCOMPARE(t.count, 2);
    QCOMPARE(t.addresses[0], ip("192.0.2.1"));
    QCOMPARE(t.ifIndexes[0], tvx0_);
    QCOMPARE(t.addresses[1], ip("198.51.100.1"));
    QCOMPARE(t.ifIndexes[1], tvx2_);
}

void TestNetpinNetns::pinReplacesALearnedEntryAndIsPermanent()
{
    REQUIRE_PRIVILEGE(true);
    // What the host learns when the module asks for it.
    ipRun({"neigh", "add", "203.0.113.7", "lladdr", "02:00:00:00:00:99", "dev", "tvx0", "nud",
           "reachable"});
    QCOMPARE(net_->addArpEntry(ip("203.0.113.7"), kMac, tvx0_), 0);
    QCOMPARE(neighbours("203.0.113.7"), QStringList{"tvx0 00:00:1a:2b:3c:4d PERMANENT"});
    // Pinning again is no error.
    QCOMPARE(net_->addArpEntry(ip("203.0.113.7"), kMac, tvx0_), 0);
    QCOMPARE(neighbours("203.0.113.7").size(), 1);
    QVERIFY(log_.isEmpty());
}

void TestNetpinNetns::unpinRemovesEveryEntryOfThatMacOnly()
{
    REQUIRE_PRIVILEGE(true);
    QCOMPARE(net_->addArpEntry(ip("203.0.113.7"), kMac, tvx0_), 0);
    QCOMPARE(net_->addArpEntry(ip("203.0.113.7"), kMac, tvx2_), 0);
    QCOMPARE(net_->addArpEntry(ip("203.0.113.8"), kMac, tvx2_), 0);
    QCOMPARE(net_->addArpEntry(ip("203.0.113.9"), kOtherMac, tvx0_), 0);
    QCOMPARE(neighbours("203.0.113.7").size(), 2);

    net_->deleteArpEntries(kMac);
    QCOMPARE(neighbours("203.0.113.7"), QStringList());
    QCOMPARE(neighbours("203.0.113.8"), QStringList());
    QCOMPARE(neighbours("203.0.113.9"), QStringList{"tvx0 00:00:1a:2b:3c:4e PERMANENT"});
    QVERIFY(log_.isEmpty());
}

void TestNetpinNetns::hostRouteIsMarkedAndOnlyOursRemoved()
{
    REQUIRE_PRIVILEGE(true);
    QCOMPARE(net_->addHostRoute(ip("203.0.113.7"), ip("192.0.2.1"), tvx0_), 0);
    auto routes = routesTo(QStringLiteral("203.0.113.7"));
    QCOMPARE(routes.size(), 1);
    QCOMPARE(routes[0].value("dev").toString(), QStringLiteral("tvx0"));
    QCOMPARE(routes[0].value("scope").toString(), QStringLiteral("link"));
    QCOMPARE(routes[0].value("prefsrc").toString(), QStringLiteral("192.0.2.1"));
    QCOMPARE(routes[0].value("protocol").toString(), QStringLiteral("211"));
    QVERIFY(!routes[0].contains("gateway"));

    // Asked again, it is the same route, not a second one.
    QCOMPARE(net_->addHostRoute(ip("203.0.113.7"), ip("192.0.2.1"), tvx0_), 0);
    QCOMPARE(routesTo(QStringLiteral("203.0.113.7")).size(), 1);

    // An administrator's route to the same address: the helper's removal
    // takes only its own, however often it is asked.
    ipRun({"route", "add", "203.0.113.7/32", "dev", "tvx2", "metric", "50"});
    net_->deleteHostRoute(ip("203.0.113.7"));
    net_->deleteHostRoute(ip("203.0.113.7"));
    routes = routesTo(QStringLiteral("203.0.113.7"));
    QCOMPARE(routes.size(), 1);
    QCOMPARE(routes[0].value("dev").toString(), QStringLiteral("tvx2"));
    // And with that route in place, no new one is made beside it.
    QCOMPARE(net_->addHostRoute(ip("203.0.113.7"), ip("192.0.2.1"), tvx0_), -1);
    QCOMPARE(routesTo(QStringLiteral("203.0.113.7")).size(), 1);
    QVERIFY(log_.isEmpty());
}

void TestNetpinNetns::helperRefusesTheHostsOwnEntries()
{
    REQUIRE_PRIVILEGE(true);
    const QString t0 = tvx(tvx0_), t2 = tvx(tvx2_);
    const QList<QPair<const char*, QString>> refused = {
        {"own address", "pin 192.0.2.1 02:00:00:aa:bb:cc " + t0},
        {"gateway", "pin 192.0.2.254 02:00:00:aa:bb:cc " + t0},
        {"subnet broadcast", "pin 192.0.2.255 02:00:00:aa:bb:cc " + t0},
        {"loopback interface", "pin 203.0.113.7 02:00:00:aa:bb:cc 1"},
        {"missing interface", "pin 203.0.113.7 02:00:00:aa:bb:cc 999"},
        {"broadcast MAC", "pin 203.0.113.7 ff:ff:ff:ff:ff:ff " + t0},
        {"route to gateway", "route-add 192.0.2.254 192.0.2.1 " + t0},
        {"source not on link", "route-add 203.0.113.7 198.51.100.1 " + t0},
        {"public address", "pin 8.8.8.8 02:00:00:aa:bb:cc " + t0},
        {"public route", "route-add 8.8.8.8 192.0.2.1 " + t0},
        {"LAN host elsewhere", "pin 192.0.2.50 02:00:00:aa:bb:cc " + t2},
        {"LAN route elsewhere", "route-add 192.0.2.50 198.51.100.1 " + t2},
    };
    auto helper = session();
    for (const auto& [what, request] : refused) {
        const QString answer = helper->ask(request);
        QVERIFY2(answer.startsWith("1 refused: "),
                 qPrintable(QString::fromLatin1(what) + ": " + answer));
    }
    helper->end();
    QCOMPARE(neighbours("203.0.113.7"), QStringList());
    QCOMPARE(neighbours("192.0.2.254").filter("PERMANENT"), QStringList());
    QCOMPARE(routesTo(QStringLiteral("192.0.2.254")).size(), 0);
    QCOMPARE(routesTo(QStringLiteral("203.0.113.7")).size(), 0);
    QCOMPARE(routesTo(QStringLiteral("8.8.8.8")).size(), 0);
    // Through the program's own helpers the refusal is an ordinary failure.
    QCOMPARE(net_->addArpEntry(ip("192.0.2.254"), kMac, tvx0_), -1);
}

void TestNetpinNetns::helperLeavesWhatItDidNotMake()
{
    REQUIRE_PRIVILEGE(true);
    const QString t0 = tvx(tvx0_), t2 = tvx(tvx2_);
    // An administrator's, a routing daemon's, the kernel's and another host's.
    ipRun({"neigh", "add", "198.51.100.53", "lladdr", "02:11:22:33:44:55", "dev", "tvx2", "nud",
           "permanent"});
    ipRun({"neigh", "add", "192.0.2.77", "lladdr", "02:00:00:00:00:77", "dev", "tvx0", "nud",
           "stale"});
    ipRun({"route", "add", "blackhole", "198.51.100.77/32"});
    ipRun({"route", "add", "203.0.113.20/32", "dev", "tvx0", "proto", "bird"});
    ipRun({"addr", "add", "10.9.9.1", "peer", "10.9.9.2", "dev", "tvx2"});
    const auto tables = [] {
        QProcess p;
        p.start(QStringLiteral("sh"), {"-c", "ip -4 neigh show; ip -4 route show table all"});
        p.waitForFinished(5000);
        return QString::fromLatin1(p.readAllStandardOutput());
    };
    const QString before = tables();
    QVERIFY(before.contains("10.9.9.2") && before.contains("198.51.100.53"));

    auto helper = session();
    const QStringList refused = {
        "pin 198.51.100.53 02:00:00:aa:bb:cc " + t2,
        "route-add 203.0.113.20 192.0.2.1 " + t0,
        "route-add 198.51.100.77 198.51.100.1 " + t2,
        "route-add 10.9.9.2 10.9.9.1 " + t2,
    };
    for (const QString& request : refused)
        QVERIFY2(helper->ask(request).startsWith("1 refused: "), qPrintable(request));
    // Removals of what it never made are no errors, and remove nothing.
    for (const char* request :
         {"unpin 02:11:22:33:44:55", "unpin 02:00:00:00:00:77", "route-del 198.51.100.77",
          "route-del 203.0.113.20", "route-del 10.9.9.2"})
        QCOMPARE(helper->ask(QString::fromLatin1(request)), QStringLiteral("0"));
    helper->end();
    QCOMPARE(tables(), before);

    // A learned entry may be taken over, and then is the helper's to remove.
    auto taker = session();
    QCOMPARE(taker->ask("pin 192.0.2.77 02:00:00:aa:bb:cc " + t0), QStringLiteral("0"));
    QCOMPARE(neighbours("192.0.2.77"), QStringList{"tvx0 02:00:00:aa:bb:cc PERMANENT"});
    taker->end();
    QCOMPARE(neighbours("192.0.2.77"), QStringList());

    quietly({"neigh", "del", "198.51.100.53", "dev", "tvx2"});
    quietly({"route", "del", "blackhole", "198.51.100.77/32"});
    quietly({"route", "del", "203.0.113.20/32"});
    quietly({"addr", "del", "10.9.9.1", "peer", "10.9.9.2", "dev", "tvx2"});
}

void TestNetpinNetns::helperRejectsMalformedArguments()
{
    const QStringList malformed = {
        "",
        "pin 203.0.113.7 02:00:00:aa:bb:cc",
        "pin 203.0.113.07 02:00:00:aa:bb:cc 2",
        "pin 203.0.113.7 02-00-00-aa-bb-cc 2",
        "pin 203.0.113.7 02:00:00:aa:bb:cc tvx0",
        "unpin 02:00:00:aa:bb",
        "route-add 203.0.113.7 192.0.2.1 -1",
        "route-del 203.0.113.7 extra",
        "flush",
        "pin 203.0.113.7\r 02:00:00:aa:bb:cc 2",
        QString(300, 'x'),
    };
    auto helper = session();
    for (const QString& request : malformed) {
        const QString answer = helper->ask(request);
        QVERIFY2(answer.startsWith("1 "), qPrintable(request + ": " + answer));
    }
    helper->end();
    for (const QStringList& args : {QStringList{}, QStringList{"pin", "203.0.113.7"}}) {
        QProcess p;
        p.start(QString::fromStdString(helper_), args);
        p.waitForFinished(5000);
        QCOMPARE(p.exitCode(), int(SystemNetTables::BadArguments));
        QVERIFY(p.readAllStandardError().startsWith("tarvanix-netpin: usage"));
    }
}

void TestNetpinNetns::helperReadsNoEnvironment()
{
    QProcessEnvironment env;
    env.insert(QStringLiteral("NLDBG"), QStringLiteral("7"));
    env.insert(QStringLiteral("TVX_PROBE"), QStringLiteral("1"));
    auto helper = session(env);
    QFile environ(QStringLiteral("/proc/%1/environ").arg(helper->process->processId()));
    QVERIFY(environ.open(QIODevice::ReadOnly));
    QCOMPARE(environ.readAll(), QByteArray());
    helper->ask(QStringLiteral("route-del 203.0.113.7"));
    helper->end();
    // libnl's debug output would show here had it seen NLDBG.
    QCOMPARE(helper->process->readAllStandardError(), QByteArray());
}

void TestNetpinNetns::entriesGoWithTheirOwnerAndOnlyThen()
{
    REQUIRE_PRIVILEGE(true);
    const QString t0 = tvx(tvx0_);
    // A holds .7; B reaches the same module and one more; C is killed.
    auto a = session();
    QCOMPARE(a->ask("pin 203.0.113.7 00:00:1a:2b:3c:4d " + t0), QStringLiteral("0"));
    QCOMPARE(a->ask("route-add 203.0.113.7 192.0.2.1 " + t0), QStringLiteral("0"));
    auto c = session();
    QCOMPARE(c->ask("pin 203.0.113.9 00:00:1a:2b:3c:4e " + t0), QStringLiteral("0"));
    QCOMPARE(c->ask("route-add 203.0.113.9 192.0.2.1 " + t0), QStringLiteral("0"));
    c->process->kill(); // no removal of its own: the next start's sweep does it
    c->process->waitForFinished(5000);
    QCOMPARE(neighbours("203.0.113.9").size(), 1);

    auto b = session();
    QCOMPARE(neighbours("203.0.113.9"), QStringList());
    QCOMPARE(routesTo(QStringLiteral("203.0.113.9")).size(), 0);
    QCOMPARE(b->ask("pin 203.0.113.7 00:00:1a:2b:3c:4d " + t0), QStringLiteral("0"));
    QCOMPARE(b->ask("route-add 203.0.113.7 192.0.2.1 " + t0), QStringLiteral("0"));
    QCOMPARE(b->ask("pin 203.0.113.8 00:00:1a:2b:3c:4d " + t0), QStringLiteral("0"));
    QCOMPARE(b->ask("unpin 00:00:1a:2b:3c:4d"), QStringLiteral("0"));
    QCOMPARE(b->ask("route-del 203.0.113.7"), QStringLiteral("0"));
    b->end();
    // A's entries outlive B, which removed only its own.
    QCOMPARE(neighbours("203.0.113.8"), QStringList());
    QCOMPARE(neighbours("203.0.113.7"), QStringList{"tvx0 00:00:1a:2b:3c:4d PERMANENT"});
    QCOMPARE(routesTo(QStringLiteral("203.0.113.7")).size(), 1);
    // And go with A.
    a->end();
    QCOMPARE(neighbours("203.0.113.7"), QStringList());
    QCOMPARE(routesTo(QStringLiteral("203.0.113.7")).size(), 0);
}

void TestNetpinNetns::withoutThePrivilegeChangesFailAndSayWhy()
{
    REQUIRE_PRIVILEGE(false);
    QCOMPARE(net_->addArpEntry(ip("203.0.113.7"), kMac, tvx0_), -1);
    QCOMPARE(net_->addArpEntry(ip("203.0.113.7"), kMac, tvx2_), -1);
    QCOMPARE(net_->addHostRoute(ip("203.0.113.7"), ip("192.0.2.1"), tvx0_), -1);
    net_->deleteArpEntries(kMac);
    net_->deleteHostRoute(ip("203.0.113.7"));
    QCOMPARE(log_.size(), 1); // said once for the operation
    QVERIFY2(log_.first().contains("no privilege") && log_.first().contains("cap_net_admin")
                 && log_.first().contains("netdev") && log_.first().contains("README"),
             qPrintable(log_.first()));
    QCOMPARE(neighbours("203.0.113.7"), QStringList());
    QCOMPARE(routesTo(QStringLiteral("203.0.113.7")).size(), 0);

    auto helper = session();
    const QString answer = helper->ask("pin 203.0.113.7 02:00:00:aa:bb:cc " + tvx(tvx0_));
    QVERIFY2(answer.startsWith("2 ") && answer.contains("CAP_NET_ADMIN"), qPrintable(answer));
    helper->end();
}

QTEST_GUILESS_MAIN(TestNetpinNetns)
#include "tst_netpin_netns.moc"
