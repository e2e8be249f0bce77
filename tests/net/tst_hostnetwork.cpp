// The host network state and the ARP and route operations over a fake of the
// host's tables: what is listed, what is logged, what is changed.
#include "common/FakeNetTables.h"
#include "net/HostNetwork.h"
#include "net/Ipv4.h"

#include <QtTest>

#include <arpa/inet.h>

#include <atomic>
#include <thread>

using namespace tvx;
using tvx::test::FakeNetTables;

namespace {
uint32_t ip(const char* text)
{
    return parseIpv4(text, false);
}

struct Fixture {
    FakeNetTables tables;
    QStringList log;
    HostNetwork net{tables, [this](const QString& line) { log << line; }};
};

const uint8_t kMac[6] = {0x00, 0x00, 0x1A, 0x2B, 0x3C, 0x4D};
} // namespace

class TestHostNetwork : public QObject {
    Q_OBJECT
private slots:
    void listsAddressesWithTheirInterfaces();
    void keepsTheFirst32Addresses();
    void answersLoopbackWithoutANetwork();
    void reportsAnUnreadableAddressTable();
    void snapshotsAreNeverHalfRewritten();
    void pinsAndUnpinsByAllSixBytes();
    void unreadableNeighbourTableIsLogged();
    void refusedPinSaysOncePerOperationWhatIsMissing();
    void routeNeedsBothAddresses();
    void deletesOnlyTheFirstRoute();
};

void TestHostNetwork::listsAddressesWithTheirInterfaces()
{
    Fixture f;
    f.tables.addresses = {{ip("192.0.2.10"), 2}, {ip("198.51.100.4"), 3}, {ip("198.51.100.5"), 3}};
    LocalAddressTable copy;
    QCOMPARE(f.net.refreshLocalAddresses(&copy), 0);
    QCOMPARE(copy.count, 3);
    QCOMPARE(copy.addresses[0], ip("192.0.2.10"));
    QCOMPARE(copy.ifIndexes[0], 2u);
    QCOMPARE(copy.addresses[2], ip("198.51.100.5"));
    QCOMPARE(copy.ifIndexes[2], 3u);
    QCOMPARE(f.net.snapshot().count, 3);
    QVERIFY(f.log.isEmpty());

    // A later refresh follows the host's changes; clearing empties everything.
    f.tables.addresses = {{ip("203.0.113.1"), 4}};
    QCOMPARE(f.net.refreshLocalAddresses(&copy), 0);
    QCOMPARE(copy.count, 1);
    QCOMPARE(copy.addresses[0], ip("203.0.113.1"));
    f.net.clearLocalAddresses();
    const LocalAddressTable cleared = f.net.snapshot();
    QCOMPARE(cleared.count, 0);
    QCOMPARE(cleared.addresses[0], 0u);
    QCOMPARE(cleared.ifIndexes[0], 0u);
}

void TestHostNetwork::keepsTheFirst32Addresses()
{
    Fixture f;
    for (uint32_t i = 1; i <= 40; ++i)
        f.tables.addresses.push_back({htonl(0xC6336400u + i), 2 + i / 10}); // 198.51.100.i
    LocalAddressTable copy;
    QCOMPARE(f.net.refreshLocalAddresses(&copy), 0);
    QCOMPARE(copy.count, kMaxLocalAddresses);
    QCOMPARE(copy.addresses[0], ip("198.51.100.1"));
    QCOMPARE(copy.addresses[31], ip("198.51.100.32"));
    QCOMPARE(copy.ifIndexes[31], 2u + 32 / 10);
}

void TestHostNetwork::answersLoopbackWithoutANetwork()
{
    Fixture f;
    LocalAddressTable copy;
    QCOMPARE(f.net.refreshLocalAddresses(&copy), 0);
    QCOMPARE(copy.count, 1);
    QCOMPARE(copy.addresses[0], ip("127.0.0.1"));
    QCOMPARE(copy.ifIndexes[0], kLoopbackIfIndex);
    QVERIFY(f.log.isEmpty());

    // Once the network is up, the next refresh finds it.
    f.tables.addresses = {{ip("192.0.2.10"), 2}};
    QCOMPARE(f.net.refreshLocalAddresses(&copy), 0);
    QCOMPARE(copy.count, 1);
    QCOMPARE(copy.addresses[0], ip("192.0.2.10"));
}

void TestHostNetwork::reportsAnUnreadableAddressTable()
{
    Fixture f;
    f.tables.addresses = {{ip("192.0.2.10"), 2}};
    QCOMPARE(f.net.refreshLocalAddresses(), 0);
    f.tables.listFails = true;
    f.tables.listError = ENOBUFS;
    QCOMPARE(f.net.refreshLocalAddresses(), -1);
    QCOMPARE(f.log, QStringList{QStringLiteral("GetIpAddrTable failed, %1").arg(ENOBUFS)});
}

void TestHostNetwork::snapshotsAreNeverHalfRewritten()
{
    Fixture f;
    const std::vector<InterfaceAddress> small = {{ip("192.0.2.1"), 2}, {ip("192.0.2.2"), 2}};
    std::vector<InterfaceAddress> large;
    for (uint32_t i = 1; i <= 20; ++i)
        large.push_back({htonl(0xCB007100u + i), 7}); // 203.0.113.i on interface 7
    // The writer starts once the reader reads: on a busy machine it could
    // otherwise finish all its rewrites before the reader ever ran.
    std::atomic<bool> reading{false};
    std::atomic<bool> done{false};
    std::thread writer([&] {
        while (!reading)
            std::this_thread::yield();
        for (int i = 0; i < 3000; ++i) {
            {
                std::lock_guard guard(f.tables.lock);
                f.tables.addresses = (i % 2) ? large : small;
            }
            f.net.refreshLocalAddresses();
        }
        done = true;
    });
    int torn = 0;
    do {
        const LocalAddressTable t = f.net.snapshot();
        reading = true;
        if (t.count == 2 && (t.ifIndexes[0] != 2 || t.ifIndexes[1] != 2))
            ++torn;
        if (t.count == 20 && (t.ifIndexes[0] != 7 || t.ifIndexes[19] != 7))
            ++torn;
    } while (!done);
    writer.join();
    QCOMPARE(torn, 0);
}

void TestHostNetwork::pinsAndUnpinsByAllSixBytes()
{
    Fixture f;
    QCOMPARE(f.net.addArpEntry(ip("203.0.113.7"), kMac, 2), 0);
    QCOMPARE(f.net.addArpEntry(ip("203.0.113.7"), kMac, 3), 0);
    const uint8_t other[6] = {0x00, 0x00, 0x1A, 0x2B, 0x3C, 0x4E}; // last byte differs
    const uint8_t shifted[6] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x00}; // same bytes, moved
    QCOMPARE(f.net.addArpEntry(ip("203.0.113.8"), other, 2), 0);
    QCOMPARE(f.net.addArpEntry(ip("203.0.113.9"), shifted, 2), 0);
    QCOMPARE(f.tables.neighbours.size(), size_t(4));

    f.net.deleteArpEntries(kMac);
    QCOMPARE(f.tables.neighbours.size(), size_t(2));
    for (const auto& n : f.tables.neighbours)
        QVERIFY(std::memcmp(n.mac.data(), kMac, 6) != 0);
    QVERIFY(f.log.isEmpty());
}

void TestHostNetwork::unreadableNeighbourTableIsLogged()
{
    Fixture f;
    f.tables.neighbourTableUnreadable = true;
    f.net.deleteArpEntries(kMac);
    QCOMPARE(f.log, QStringList{QStringLiteral("GetIpNetTable failed, 4")});
}

void TestHostNetwork::refusedPinSaysOncePerOperationWhatIsMissing()
{
    Fixture f;
    f.tables.addresses = {{ip("192.0.2.10"), 2}, {ip("198.51.100.4"), 3}};
    f.tables.refuseChanges = true;
    f.tables.changeProblem = "no privilege to change the ARP and route tables (see README)";
    QCOMPARE(f.net.refreshLocalAddresses(), 0);
    QCOMPARE(f.net.addArpEntry(ip("203.0.113.7"), kMac, 2), -1);
    QCOMPARE(f.net.addArpEntry(ip("203.0.113.7"), kMac, 3), -1);
    QCOMPARE(f.net.addHostRoute(ip("203.0.113.7"), ip("192.0.2.10"), 2), -1);
    QCOMPARE(f.log.size(), 1);
    QCOMPARE(f.log.first(), QString::fromStdString(f.tables.changeProblem));
    QVERIFY(f.tables.neighbours.empty());

    // The next operation starts with a refresh and says it again.
    QCOMPARE(f.net.refreshLocalAddresses(), 0);
    QCOMPARE(f.net.addArpEntry(ip("203.0.113.7"), kMac, 2), -1);
    QCOMPARE(f.log.size(), 2);

    // A refusal with nothing to say (the table's own failure) stays silent.
    f.tables.changeProblem.clear();
    QCOMPARE(f.net.refreshLocalAddresses(), 0);
    QCOMPARE(f.net.addArpEntry(ip("203.0.113.7"), kMac, 2), -1);
    QCOMPARE(f.log.size(), 2);
}

void TestHostNetwork::routeNeedsBothAddresses()
{
    Fixture f;
    QCOMPARE(f.net.addHostRoute(kInaddrNone, ip("192.0.2.10"), 2), -1);
    QCOMPARE(f.net.addHostRoute(ip("203.0.113.7"), kInaddrNone, 2), -1);
    QCOMPARE(f.net.addHostRoute(ip("203.0.113.7"), 0, 2), -1);
    QCOMPARE(f.log, QStringList({"INADDR_NONE", "INADDR_NONE", "INADDR_NONE"}));
    QCOMPARE(f.tables.routeCalls, 0);

    QCOMPARE(f.net.addHostRoute(ip("203.0.113.7"), ip("192.0.2.10"), 2), 0);
    QCOMPARE(f.tables.routes.size(), size_t(1));
    QCOMPARE(f.tables.routes[0].localAddress, ip("192.0.2.10"));
    QCOMPARE(f.tables.routes[0].ifIndex, 2u);
}

void TestHostNetwork::deletesOnlyTheFirstRoute()
{
    Fixture f;
    QCOMPARE(f.net.addHostRoute(ip("203.0.113.7"), ip("192.0.2.10"), 2), 0);
    QCOMPARE(f.net.addHostRoute(ip("203.0.113.8"), ip("192.0.2.10"), 2), 0);
    QCOMPARE(f.net.addHostRoute(ip("203.0.113.7"), ip("198.51.100.4"), 3), 0);
    f.net.deleteHostRoute(ip("203.0.113.7"));
    QCOMPARE(f.tables.routes.size(), size_t(2));
    QCOMPARE(f.tables.routes[0].address, ip("203.0.113.8"));
    QCOMPARE(f.tables.routes[1].address, ip("203.0.113.7"));
    QCOMPARE(f.tables.routes[1].ifIndex, 3u);
    f.net.deleteHostRoute(ip("203.0.113.99")); // none: nothing happens, nothing said
    QCOMPARE(f.tables.routes.size(), size_t(2));
    QVERIFY(f.log.isEmpty());
}

QTEST_APPLESS_MAIN(TestHostNetwork)
#include "tst_hostnetwork.moc"
