// ARP entries and host routes added and removed through the real helper and
// the real kernel, in namespaces that run-in-netns makes for this test, and
// read back with `ip -j`. Run once with CAP_NET_ADMIN and once without.
#include "net/HostNetwork.h"
#include "net/Ipv4.h"
#include "net/SystemNetTables.h"

#include <QtTest>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

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
        out << o.value("dev").toString() + " " + o.value("lladdr").toString() + " " +
                   states.join(",");
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
#define REQUIRE_PRIVILEGE(wanted)                                                                \
    if (hasNetAdmin() != (wanted))                                                               \
    QSKIP((wanted) ? "needs CAP_NET_ADMIN (this is the run without it)"                          \
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

    int runHelper(const QStringList& args, QString* err = nullptr)
    {
        QProcess p;
        p.start(QString::fromStdString(helper_), args);
        p.waitForFinished(5000);
        if (err)
            *err = QString::fromLocal8Bit(p.readAllStandardError());
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void listsTheNamespaceAddresses();
    void pinReplacesALearnedEntryAndIsPermanent();
    void unpinRemovesEveryEntryOfThatMacOnly();
    void hostRouteIsAddedAndOnlyTheFirstRemoved();
    void helperRefusesTheHostsOwnEntries();
    void helperRejectsMalformedArguments();
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

void TestNetpinNetns::hostRouteIsAddedAndOnlyTheFirstRemoved()
{
    REQUIRE_PRIVILEGE(true);
    QCOMPARE(net_->addHostRoute(ip("203.0.113.7"), ip("192.0.2.1"), tvx0_), 0);
    auto routes = routesTo(QStringLiteral("203.0.113.7"));
    QCOMPARE(routes.size(), 1);
    QCOMPARE(routes[0].value("dev").toString(), QStringLiteral("tvx0"));
    QCOMPARE(routes[0].value("scope").toString(), QStringLiteral("link"));
    QCOMPARE(routes[0].value("prefsrc").toString(), QStringLiteral("192.0.2.1"));
    QCOMPARE(routes[0].value("protocol").toString(), QStringLiteral("static"));
    QVERIFY(!routes[0].contains("gateway"));

    // The same route twice is refused rather than taken over.
    QCOMPARE(net_->addHostRoute(ip("203.0.113.7"), ip("192.0.2.1"), tvx0_), -1);

    // A second route to the same address, after ours in table order.
    ipRun({"route", "add", "203.0.113.7/32", "dev", "tvx2", "metric", "50"});
    QCOMPARE(routesTo(QStringLiteral("203.0.113.7")).size(), 2);
    net_->deleteHostRoute(ip("203.0.113.7"));
    routes = routesTo(QStringLiteral("203.0.113.7"));
    QCOMPARE(routes.size(), 1);
    QCOMPARE(routes[0].value("dev").toString(), QStringLiteral("tvx2"));
    net_->deleteHostRoute(ip("203.0.113.7"));
    QCOMPARE(routesTo(QStringLiteral("203.0.113.7")).size(), 0);
    net_->deleteHostRoute(ip("203.0.113.7")); // nothing left: nothing happens
    QVERIFY(log_.isEmpty());
}

void TestNetpinNetns::helperRefusesTheHostsOwnEntries()
{
    REQUIRE_PRIVILEGE(true);
    const QList<QPair<const char*, QStringList>> refused = {
        {"own address", {"pin", "192.0.2.1", "02:00:00:aa:bb:cc", QString::number(tvx0_)}},
        {"gateway", {"pin", "192.0.2.254", "02:00:00:aa:bb:cc", QString::number(tvx0_)}},
        {"subnet broadcast", {"pin", "192.0.2.255", "02:00:00:aa:bb:cc", QString::number(tvx0_)}},
        {"loopback interface", {"pin", "203.0.113.7", "02:00:00:aa:bb:cc", "1"}},
        {"missing interface", {"pin", "203.0.113.7", "02:00:00:aa:bb:cc", "999"}},
        {"broadcast MAC", {"pin", "203.0.113.7", "ff:ff:ff:ff:ff:ff", QString::number(tvx0_)}},
        {"route to gateway", {"route-add", "192.0.2.254", "192.0.2.1", QString::number(tvx0_)}},
        {"source not on link", {"route-add", "203.0.113.7", "198.51.100.1", QString::number(tvx0_)}},
        {"delete own route", {"route-del", "192.0.2.1"}},
    };
    for (const auto& [what, args] : refused) {
        QString err;
        QCOMPARE(runHelper(args, &err), int(SystemNetTables::BadArguments));
        QVERIFY2(err.startsWith("tarvanix-netpin: refused: ") && err.count('\n') == 1,
                 qPrintable(QString::fromLatin1(what) + ": " + err));
    }
    QCOMPARE(neighbours("203.0.113.7"), QStringList());
    QCOMPARE(neighbours("192.0.2.254").filter("PERMANENT"), QStringList());
    QCOMPARE(routesTo(QStringLiteral("192.0.2.254")).size(), 0);
    QCOMPARE(routesTo(QStringLiteral("203.0.113.7")).size(), 0);
    // Through the program's own helpers the refusal is an ordinary failure.
    QCOMPARE(net_->addArpEntry(ip("192.0.2.254"), kMac, tvx0_), -1);
}

void TestNetpinNetns::helperRejectsMalformedArguments()
{
    const QList<QStringList> malformed = {
        {},
        {"pin", "203.0.113.7", "02:00:00:aa:bb:cc"},
        {"pin", "203.0.113.07", "02:00:00:aa:bb:cc", "2"},
        {"pin", "203.0.113.7", "02-00-00-aa-bb-cc", "2"},
        {"pin", "203.0.113.7", "02:00:00:aa:bb:cc", "tvx0"},
        {"unpin", "02:00:00:aa:bb"},
        {"route-add", "203.0.113.7", "192.0.2.1", "-1"},
        {"route-del", "203.0.113.7", "extra"},
        {"flush"},
        {"pin", "203.0.113.7\n", "02:00:00:aa:bb:cc", "2"},
    };
    for (const QStringList& args : malformed) {
        QString err;
        QCOMPARE(runHelper(args, &err), int(SystemNetTables::BadArguments));
        QVERIFY2(err.startsWith("tarvanix-netpin: ") && err.count('\n') == 1, qPrintable(err));
    }
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
    QVERIFY2(log_.first().contains("no privilege") && log_.first().contains("cap_net_admin") &&
                 log_.first().contains("netdev") && log_.first().contains("README"),
             qPrintable(log_.first()));
    QCOMPARE(neighbours("203.0.113.7"), QStringList());
    QCOMPARE(routesTo(QStringLiteral("203.0.113.7")).size(), 0);

    QString err;
    QCOMPARE(runHelper({"pin", "203.0.113.7", "02:00:00:aa:bb:cc", QString::number(tvx0_)}, &err),
             int(SystemNetTables::NoPrivilege));
    QVERIFY2(err.contains("CAP_NET_ADMIN"), qPrintable(err));
}

QTEST_GUILESS_MAIN(TestNetpinNetns)
#include "tst_netpin_netns.moc"
