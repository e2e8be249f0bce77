// Checks the bed itself from inside its host namespace: every module answers discovery once
// on its own LAN, logins reach the right module, a module outside the host's subnets is
// reachable only through a pinned entry, and fault switches act at run time.

#include "TestBed.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

using tvx::test::BedModule;
using tvx::test::TestBed;

namespace {

struct Reply {
    QString from;
    QByteArray bytes;
};

// Sends the 3-byte request from the host's address on one LAN, as the utility does, and
// collects what comes back within `ms`.
QList<Reply> discover(const QString& device, quint16 port, const QString& target, int ms = 700)
{
    QList<Reply> out;
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return out;
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    const QByteArray dev = device.toLatin1();
    ::setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, dev.constData(),
                 static_cast<socklen_t>(dev.size()));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(5000);
    inet_pton(AF_INET, target.toLatin1().constData(), &to.sin_addr);
    const unsigned char req[3] = {0x55, 0x01, 0xAA};
    ::sendto(fd, req, sizeof req, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(ms - t.elapsed())) <= 0)
            break;
        char buf[1024];
        sockaddr_in from{};
        socklen_t len = sizeof from;
        const ssize_t n =
            ::recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (n > 0) {
            char ip[INET_ADDRSTRLEN];
            inet_ntop(AF_INET, &from.sin_addr, ip, sizeof ip);
            out.append({QString::fromLatin1(ip), QByteArray(buf, static_cast<int>(n))});
        }
    }
    ::close(fd);
    return out;
}

// Connects to port 23 and exchanges one line; the errno of a failed connect in `err`.
QByteArray exchange(const QString& ip, const QByteArray& line, int* err = nullptr)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    timeval tv{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(23);
    inet_pton(AF_INET, ip.toLatin1().constData(), &a.sin_addr);
    QByteArray reply;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        if (err)
            *err = errno;
    } else {
        if (err)
            *err = 0;
        ::send(fd, line.constData(), static_cast<size_t>(line.size()), MSG_NOSIGNAL);
        char buf[256];
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n > 0)
            reply = QByteArray(buf, static_cast<int>(n));
    }
    ::close(fd);
    return reply;
}

QByteArray macBytes(const QString& mac)
{
    return QByteArray::fromHex(mac.toLatin1().replace(':', ""));
}

int ipRun(const QStringList& args)
{
    return QProcess::execute(QStringLiteral("ip"), args);
}

} // namespace

class TestBedSelfTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (!bed.isValid())
            QSKIP(qPrintable(bed.error()));
        QVERIFY(bed.lans().size() >= 2);
        QVERIFY(!bed.outsideModules().isEmpty());
        QVERIFY(!bed.modulesWithPassword().isEmpty());
        QVERIFY(TestBed::permanentNeighbours().isEmpty());
        QVERIFY(TestBed::staticRoutes().isEmpty());
    }

    void everyModuleAnswersOnceOnItsOwnLan()
    {
        quint16 port = 0x4000;
        for (const auto& lan : bed.lans()) {
            const QList<Reply> replies =
                discover(lan.hostInterface, port++, QStringLiteral("255.255.255.255"));
            QStringList expected, got;
            for (const BedModule& m : bed.modules()) {
                if (m.lan == lan.name)
                    expected << m.ip;
            }
            for (const Reply& r : replies) {
                got << r.from;
                const BedModule m = [&] {
                    for (const BedModule& c : bed.modules())
                        if (c.ip == r.from)
                            return c;
                    return BedModule{};
                }();
                QVERIFY2(!m.name.isEmpty(), qPrintable("reply from unknown " + r.from));
                // Frame: AA, then the MAC item 01 06 <mac>, ..., and the 55 end marker last.
                QCOMPARE(quint8(r.bytes.at(0)), quint8(0xAA));
                QCOMPARE(r.bytes.mid(1, 2), QByteArray("\x01\x06", 2));
                QCOMPARE(r.bytes.mid(3, 6), macBytes(m.mac));
                QCOMPARE(quint8(r.bytes.back()), quint8(0x55));
            }
            expected.sort();
            got.sort();
            QCOMPARE(got, expected);
        }
        // The transcript holds the request byte for byte.
        const BedModule first = bed.modules().first();
        const QList<int> ids = bed.exchanges(first.name, QStringLiteral("disc"));
        QVERIFY(!ids.isEmpty());
        QCOMPARE(bed.received(first.name, ids.last()), QByteArray("\x55\x01\xAA", 3));
    }

    void loginReachesTheRightModule()
    {
        for (const BedModule& m : bed.modules()) {
            if (m.outside)
                continue;
            const QByteArray line = "$LOG" + m.password.toLatin1() + "\r\n";
            QCOMPARE(exchange(m.ip, line), QByteArray("%LOGOK\r\n"));
            const QList<int> ids = bed.exchanges(m.name, QStringLiteral("tcp"));
            QVERIFY(!ids.isEmpty());
            QCOMPARE(bed.received(m.name, ids.last()), line);
            if (!m.password.isEmpty())
                QCOMPARE(exchange(m.ip, "$LOGwrong\r\n"), QByteArray("%LOGERR\r\n"));
        }
    }

    void outsideModuleOnlyThroughPinnedEntry()
    {
        const BedModule m = bed.outsideModules().first();
        int err = 0;
        QVERIFY(exchange(m.ip, "$LOG\r\n", &err).isEmpty());
        QCOMPARE(err, ENETUNREACH);

        const auto lan = [&] {
            for (const auto& l : bed.lans())
                if (l.name == m.lan)
                    return l;
            return tvx::test::BedLan{};
        }();
        const QString dev = lan.hostInterface;
        struct Cleanup {
            QString ip, dev;
            ~Cleanup()
            {
                if (ip.isEmpty())
                    return;
                ipRun({"neigh", "del", ip, "dev", dev});
                ipRun({"route", "del", ip + "/32", "dev", dev});
            }
        } cleanup{m.ip, dev};
        // The module's own ARP request (when it answered discovery) taught the host its MAC;
        // forget that, then a route alone is not enough: the module ignores ARP.
        QProcess::execute(QStringLiteral("ip"), {"neigh", "del", m.ip, "dev", dev});
        QCOMPARE(ipRun({"route", "add", m.ip + "/32", "dev", dev, "src", lan.hostAddress, "scope",
                        "link", "proto", "static"}),
                 0);
        QVERIFY(exchange(m.ip, "$LOG\r\n", &err).isEmpty());
        QVERIFY2(err == EHOSTUNREACH || err == ETIMEDOUT, qPrintable(QString::number(err)));

        QCOMPARE(ipRun({"neigh", "replace", m.ip, "lladdr", m.mac, "dev", dev, "nud", "permanent"}),
                 0);
        QCOMPARE(exchange(m.ip, "$LOG\r\n", &err), QByteArray("%LOGOK\r\n"));

        // A pinned entry with another MAC reaches nothing.
        QCOMPARE(ipRun({"neigh", "replace", m.ip, "lladdr", "02:00:00:00:00:99", "dev", dev, "nud",
                        "permanent"}),
                 0);
        QVERIFY(exchange(m.ip, "$LOG\r\n", &err).isEmpty());

        ipRun({"neigh", "del", m.ip, "dev", dev});
        ipRun({"route", "del", m.ip + "/32", "dev", dev});
        cleanup.ip.clear();
        QVERIFY(TestBed::permanentNeighbours().isEmpty());
        QVERIFY(TestBed::staticRoutes().isEmpty());
    }

    void faultSwitchesActAtRunTime()
    {
        const BedModule m = bed.modules().first();
        const auto lan = bed.lans().first();
        QVERIFY(!bed.setFault(m.name, QStringLiteral("no-such-switch")));
        QVERIFY(bed.setFault(m.name, QStringLiteral("disc-silent")));
        QVERIFY(discover(lan.hostInterface, 0x4010, m.ip, 400).isEmpty());
        QVERIFY(bed.clearFaults(m.name));
        QCOMPARE(discover(lan.hostInterface, 0x4011, m.ip, 400).size(), 1);

        QVERIFY(bed.setFault(m.name, QStringLiteral("disc-dup=3")));
        QCOMPARE(discover(lan.hostInterface, 0x4012, m.ip, 400).size(), 3);
        QVERIFY(bed.clearFaults(m.name, QStringLiteral("disc-dup")));

        QCOMPARE(bed.state(m.name).value(QStringLiteral("state")), QStringLiteral("up"));
        QCOMPARE(bed.setting(m.name, QStringLiteral("lanIp")), m.ip);
        QCOMPARE(bed.setting(m.name, QStringLiteral("lanMac")), m.mac);
    }

    void restartTakesANewAddress()
    {
        const BedModule m = bed.modules().first();
        const QString newIp = m.ip.section('.', 0, 2) + QStringLiteral(".200");
        const QByteArray login = "$LOG" + m.password.toLatin1() + "\r\n";
        // One connection: log in, write the address, apply.
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(23);
        inet_pton(AF_INET, m.ip.toLatin1().constData(), &a.sin_addr);
        QCOMPARE(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        auto say = [&](const QByteArray& line) {
            ::send(fd, line.constData(), static_cast<size_t>(line.size()), MSG_NOSIGNAL);
            char buf[256];
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 3000) <= 0)
                return QByteArray();
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            return n > 0 ? QByteArray(buf, static_cast<int>(n)) : QByteArray();
        };
        QCOMPARE(say(login), QByteArray("%LOGOK\r\n"));
        QCOMPARE(say("$SLI" + newIp.toLatin1() + "\r\n"), QByteArray("%SLIOK\r\n"));
        QCOMPARE(say("$SEI\r\n"), QByteArray("%SEIOK\r\n"));
        ::close(fd);
        QCOMPARE(bed.state(m.name).value(QStringLiteral("state")), QStringLiteral("down"));
        QVERIFY(bed.waitUntilUp(m.name));
        QCOMPARE(discover(bed.lans().first().hostInterface, 0x4020, newIp, 500).size(), 1);
        QCOMPARE(exchange(newIp, login), QByteArray("%LOGOK\r\n"));
    }

private:
    TestBed bed;
};

QTEST_GUILESS_MAIN(TestBedSelfTest)
#include "tst_testbed.moc"
