// The serial port bridge on loopback: a pseudo-terminal relayed to a data port the test
// controls, through an outage longer than the backlog; the data connection at a shared address;
// the link that names the terminal.
#include "common/FakeNetTables.h"
#include "net/HostNetwork.h"
#include "net/Ipv4.h"
#include "platform/PseudoTerminal.h"
#include "platform/TtyLink.h"
#include "protocol/DataConnection.h"
#include "protocol/SerialBridge.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace tvx;

namespace {

const char* kMac = "02:54:58:01:00:0B";

// A listening socket on 127.0.0.1 that can go away and come back on the same port.
struct DataPort {
    UniqueFd fd;
    uint16_t port = 0;

    bool listen()
    {
        fd.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        const int on = 1;
        ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(port);
        socklen_t length = sizeof a;
        if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0
            || ::listen(fd.get(), 4) != 0
            || ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&a), &length) != 0)
            return false;
        port = ntohs(a.sin_port);
        return true;
    }
    UniqueFd accept(int timeoutMs)
    {
        pollfd p{fd.get(), POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) != 1)
            return UniqueFd();
        return UniqueFd(::accept4(fd.get(), nullptr, nullptr, SOCK_CLOEXEC));
    }
};

// Exactly `count` bytes from `fd`, or fewer when nothing more comes within `timeoutMs`.
QByteArray readBytes(int fd, qsizetype count, int timeoutMs)
{
    QByteArray out;
    char buffer[4096];
    while (out.size() < count) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) != 1)
            break;
        const ssize_t n = ::read(fd, buffer, std::min<size_t>(sizeof buffer, count - out.size()));
        if (n <= 0)
            break;
        out.append(buffer, n);
    }
    return out;
}

bool writeAll(int fd, const QByteArray& bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, bytes.size() - done);
        if (n < 0 && errno == EAGAIN) {
            pollfd p{fd, POLLOUT, 0};
            if (::poll(&p, 1, 2000) != 1)
                return false;
            continue;
        }
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

class LoopbackModule : public BridgePeer {
public:
    LoopbackModule(HostNetwork& net, uint16_t port) : data_(net, "127.0.0.1", kMac, port) {}
    int connect(const DataConnection::Wait& wait, QString& problem) override
    {
        const int r = data_.open(wait);
        if (r != 0)
            problem = QStringLiteral("unreachable");
        return r == 0 ? Connected : r == -2 ? Stopped : Unreachable;
    }
    int socket() const override { return data_.socket(); }
    void disconnect() override { data_.close(); }
    QString endpoint() const override { return QString::fromLatin1(data_.endpoint()); }

private:
    DataConnection data_;
};

// What the bridge said, from its thread.
struct Said {
    std::mutex lock;
    QStringList problems;
    QStringList notes;
    QStringList take(QStringList& list)
    {
        std::lock_guard guard(lock);
        return list;
    }
};

} // namespace

class TestSerialBridge : public QObject {
    Q_OBJECT
private slots:
    void outageKeepsTheBacklogAndTheTerminal();
    void sharedAddressIsPinnedOnlyWhileConnected();
    void linkIsTakenOnlyWhereNoBridgeIs();
};

// The connection drops and the port refuses for a while: the terminal stays usable, the first
// backlogBytes written meanwhile reach the module once it is back, the rest is counted, each
// said once; a program that closes and opens the terminal again still reaches the module.
void TestSerialBridge::outageKeepsTheBacklogAndTheTerminal()
{
    test::FakeNetTables tables;
    HostNetwork net(tables, [](const QString&) {});
    DataPort port;
    QVERIFY(port.listen());
    PseudoTerminal terminal;
    QCOMPARE(terminal.open(), QString());

    LoopbackModule module(net, port.port);
    Said said;
    BridgeLimits limits;
    limits.backlogBytes = 4096;
    limits.firstRetryMs = 50;
    limits.maxRetryMs = 200;
    SerialBridge bridge(
        terminal.master(), module,
        [&said](const QString& t) {
            std::lock_guard guard(said.lock);
            said.problems << t;
        },
        [&said](const QString& t) {
            std::lock_guard guard(said.lock);
            said.notes << t;
        },
        limits);
    SerialBridge::End end = SerialBridge::End::Unreachable;
    QString why;
    std::thread relay([&] { end = bridge.run(why); });
    // A failed check returns early: the bridge still ends before what it uses goes away.
    const auto stopRelay = qScopeGuard([&] {
        bridge.stop();
        if (relay.joinable())
            relay.join();
    });

    UniqueFd first = port.accept(3000);
    QVERIFY(first);
    UniqueFd slave(::open(QFile::encodeName(terminal.slavePath()).constData(),
                          O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    QVERIFY(slave);
    // Every byte value, both ways: nothing is translated on the way.
    QByteArray all(256, '\0');
    for (int i = 0; i < 256; ++i)
        all[i] = static_cast<char>(i);
    QVERIFY(writeAll(slave.get(), all));
    QCOMPARE(readBytes(first.get(), all.size(), 2000), all);
    QVERIFY(writeAll(first.get(), all));
    QCOMPARE(readBytes(slave.get(), all.size(), 2000), all);

    first.reset();
    port.fd.reset();
    QTRY_COMPARE(said.take(said.problems).size(), 1);
    QVERIFY2(said.take(said.problems).first().contains(QLatin1String("dropped")),
             qPrintable(said.take(said.problems).first()));
    QByteArray meanwhile(limits.backlogBytes + 1000, '\0');
    for (qsizetype i = 0; i < meanwhile.size(); ++i)
        meanwhile[i] = static_cast<char>('a' + i % 26);
    QVERIFY(writeAll(slave.get(), meanwhile));
    // Attempts go on meanwhile, refused; they say nothing more.
    QTest::qWait(500);
    QCOMPARE(said.take(said.problems).size(), 1);

    QVERIFY(port.listen());
    UniqueFd second = port.accept(3000);
    QVERIFY(second);
    QCOMPARE(readBytes(second.get(), limits.backlogBytes + 1000, 500),
             meanwhile.left(limits.backlogBytes));
    QTRY_COMPARE(said.take(said.problems).size(), 2);
    QCOMPARE(said.take(said.problems).last(),
             QStringLiteral("1000 bytes written while the module was away were dropped (at "
                            "most 4096 are kept)"));

    slave.reset();
    slave.reset(::open(QFile::encodeName(terminal.slavePath()).constData(),
                       O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    QVERIFY(slave);
    QVERIFY(writeAll(slave.get(), "again"));
    QCOMPARE(readBytes(second.get(), 5, 2000), QByteArray("again"));

    QElapsedTimer stopping;
    stopping.start();
    bridge.stop();
    relay.join();
    QVERIFY(stopping.elapsed() < 1000);
    QCOMPARE(end, SerialBridge::End::Stopped);
    // The module sees the bridge go.
    QCOMPARE(readBytes(second.get(), 1, 1000), QByteArray());
}

// At an address several modules answer, the data connection goes through a pinned entry for
// the module's MAC, and takes it away when it closes.
void TestSerialBridge::sharedAddressIsPinnedOnlyWhileConnected()
{
    test::FakeNetTables tables;
    tables.addresses.push_back({parseIpv4("192.0.2.1", false), 2});
    HostNetwork net(tables, [](const QString&) {});
    const auto shared = net.markAddressShared(parseIpv4("127.0.0.1", false));
    DataPort port;
    QVERIFY(port.listen());

    DataConnection data(net, "127.0.0.1", kMac, port.port);
    const auto wait = [](int fd, int timeoutMs) {
        pollfd p{fd, POLLOUT, 0};
        return ::poll(&p, 1, timeoutMs);
    };
    QCOMPARE(data.open(wait), 0);
    {
        std::lock_guard guard(tables.lock);
        QCOMPARE(tables.neighbours.size(), size_t(1));
        QCOMPARE(tables.routes.size(), size_t(1));
        uint8_t mac[6];
        macTextToBytes(kMac, mac);
        QVERIFY(std::equal(mac, mac + 6, tables.neighbours[0].mac.begin()));
    }
    data.close();
    std::lock_guard guard(tables.lock);
    QVERIFY(tables.neighbours.empty());
    QVERIFY(tables.routes.empty());
}

void TestSerialBridge::linkIsTakenOnlyWhereNoBridgeIs()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("tty"));
    QString problem;

    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QCOMPARE(TtyLink().claim(path, problem), TtyLink::Claim::Occupied);
    QVERIFY(QFile::remove(path));
    QVERIFY(QFile::link(QStringLiteral("/etc/hostname"), path));
    QCOMPARE(TtyLink().claim(path, problem), TtyLink::Claim::Occupied);
    QVERIFY(QFile::remove(path));

    // What a killed bridge leaves: a link into /dev/pts/ that nobody holds.
    QVERIFY(QFile::link(QStringLiteral("/dev/pts/4095"), path));
    PseudoTerminal terminal;
    QCOMPARE(terminal.open(), QString());
    {
        TtyLink link;
        QCOMPARE(link.claim(path, problem), TtyLink::Claim::Taken);
        QCOMPARE(link.make(terminal.slavePath()), QString());
        QCOMPARE(QFileInfo(path).symLinkTarget(), terminal.slavePath());
        TtyLink second;
        QCOMPARE(second.claim(path, problem), TtyLink::Claim::InUse);
    }
    QVERIFY(!QFileInfo::exists(path) && !QFileInfo(path).isSymLink());
}

QTEST_GUILESS_MAIN(TestSerialBridge)
#include "tst_SerialBridge.moc"
