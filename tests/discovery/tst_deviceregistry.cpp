// The device registry's rules without a window: one row per MAC with the first
// answer's values, numbering, the addresses several modules answer and how
// long the host network reaches them by MAC.
#include "common/FakeNetTables.h"
#include "discovery/DeviceRegistry.h"
#include "net/HostNetwork.h"
#include "net/Ipv4.h"

#include <QtTest>

#include <cstring>

using namespace tvx;

namespace {
DiscoveryRecord module(const char* mac, const char* ip, const char* name = "")
{
    DiscoveryRecord r;
    std::memset(&r, 0, sizeof r);
    std::strncpy(r.macText, mac, 19);
    std::strncpy(r.ipText, ip, 19);
    std::strncpy(r.deviceName, name, 19);
    return r;
}

struct Fixture {
    test::FakeNetTables tables;
    QStringList log;
    std::shared_ptr<HostNetwork> net =
        std::make_shared<HostNetwork>(tables, [this](const QString& line) { log << line; });
    DeviceRegistry devices{net};

    bool shared(const char* ip) const { return net->addressIsShared(parseIpv4(ip, false)); }
};
} // namespace

class TestDeviceRegistry : public QObject {
    Q_OBJECT
private slots:
    void listsEachModuleOnceInAnswerOrder();
    void sharedAddressLastsWhileAModuleThereIsHeld();
};

void TestDeviceRegistry::listsEachModuleOnceInAnswerOrder()
{
    Fixture f;
    QVERIFY(f.devices.addDevice(module("02:54:58:01:00:01", "192.0.2.11", "first")));
    QVERIFY(f.devices.addDevice(module("02:54:58:01:00:02", "192.0.2.50")));
    // The same module again, from another link: its first answer stays.
    QVERIFY(!f.devices.addDevice(module("02:54:58:01:00:01", "198.51.100.9", "again")));
    QVERIFY(f.devices.addDevice(module("02:54:58:01:00:03", "192.0.2.50")));
    QCOMPARE(f.devices.count(), 3);
    QCOMPARE(f.devices.cells(0),
             (QStringList{"1", "first", "02:54:58:01:00:01", "192.0.2.11", "", "", ""}));
    QCOMPARE(f.devices.cell(2, DeviceRegistry::Number), QStringLiteral("3"));
    QCOMPARE(f.devices.rowOfMac(QStringLiteral("02:54:58:01:00:03")), 2);
    QCOMPARE(f.devices.rowOfIp(QStringLiteral("198.51.100.9")), -1);
    QCOMPARE(f.devices.macsAt(QStringLiteral("192.0.2.50")),
             (QStringList{"02:54:58:01:00:02", "02:54:58:01:00:03"}));
    QVERIFY(f.devices.addressShared(1) && f.devices.addressShared(2));
    QVERIFY(!f.devices.addressShared(0));

    // A new search numbers from 1 again.
    f.devices.clear();
    QVERIFY(f.devices.addDevice(module("02:54:58:01:00:03", "192.0.2.50")));
    QCOMPARE(f.devices.cell(0, DeviceRegistry::Number), QStringLiteral("1"));
    QVERIFY(!f.devices.addressShared(0));

    // Answers handed over together follow the same rules, a repeat within
    // the batch included, in one insertion of the rows that are new.
    QSignalSpy inserted(&f.devices, &QAbstractItemModel::rowsInserted);
    QCOMPARE(f.devices.addDevices({module("02:54:58:01:00:04", "192.0.2.51", "fourth"),
                                   module("02:54:58:01:00:03", "192.0.2.99"),
                                   module("02:54:58:01:00:05", "192.0.2.51"),
                                   module("02:54:58:01:00:04", "192.0.2.98", "again")}),
             2);
    QCOMPARE(inserted.size(), 1);
    QCOMPARE(inserted.first().at(1).toInt(), 1);
    QCOMPARE(inserted.first().at(2).toInt(), 2);
    QCOMPARE(f.devices.cells(1),
             (QStringList{"2", "fourth", "02:54:58:01:00:04", "192.0.2.51", "", "", ""}));
    QCOMPARE(f.devices.cell(2, DeviceRegistry::Number), QStringLiteral("3"));
    QVERIFY(f.shared("192.0.2.51") && f.devices.addressShared(1));

    // The list's Status column is the list's alone: the rows' cells, which
    // the export and the CLI's tables write, stay the search's seven.
    f.devices.setStatus(QStringLiteral("02:54:58:01:00:04"), QStringLiteral("done"));
    QCOMPARE(f.devices.columnCount(), 8);
    QCOMPARE(f.devices.cell(1, DeviceRegistry::Status), QStringLiteral("done"));
    QCOMPARE(f.devices.cells(1).size(), 7);
    QCOMPARE(DeviceRegistry::captions().size(), 7);
    f.devices.clearStatus();
    QCOMPARE(f.devices.cell(1, DeviceRegistry::Status), QString());
}

void TestDeviceRegistry::sharedAddressLastsWhileAModuleThereIsHeld()
{
    Fixture f;
    f.devices.addDevice(module("02:54:58:01:00:01", "192.0.2.50"));
    // Held (its window opened) before anyone else answered there.
    std::shared_ptr<void> window = f.devices.hold(QStringLiteral("02:54:58:01:00:01"));
    QVERIFY(!f.shared("192.0.2.50"));
    f.devices.addDevice(module("02:54:58:01:00:02", "192.0.2.50"));
    f.devices.addDevice(module("02:54:58:01:00:03", "192.0.2.51"));
    QVERIFY(f.shared("192.0.2.50"));
    QVERIFY(!f.shared("192.0.2.51"));
    QCOMPARE(f.log.count(QStringLiteral("192.0.2.50 answers for several modules: each is "
                                        "reached by its MAC")),
             1);

    // A search by IP lists another module only: the open window keeps its
    // module reached by MAC, and says so no second time.
    f.devices.clear();
    f.devices.addDevice(module("02:54:58:01:00:09", "192.0.2.99"));
    QVERIFY(f.shared("192.0.2.50"));
    f.devices.addDevice(module("02:54:58:01:00:02", "192.0.2.50"));
    f.devices.addDevice(module("02:54:58:01:00:04", "192.0.2.50"));
    QCOMPARE(f.log.size(), 1);

    // Nothing refers to the address any more once the list and the window let go.
    f.devices.clear();
    QVERIFY(f.shared("192.0.2.50"));
    window.reset();
    QVERIFY(!f.shared("192.0.2.50"));
}

QTEST_GUILESS_MAIN(TestDeviceRegistry)
#include "tst_deviceregistry.moc"
