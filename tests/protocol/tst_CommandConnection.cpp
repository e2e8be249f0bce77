// The command connection against a scripted peer on loopback: the login
// lines, the framing of replies, the two sends and their waits, and how a
// module is reached directly or through a temporary ARP entry and route.
#include "LoopbackPeer.h"
#include "RecordingView.h"
#include "common/FakeNetTables.h"
#include "common/ScriptedPrompter.h"
#include "net/HostNetwork.h"
#include "net/Ipv4.h"
#include "protocol/CommandConnection.h"

#include <QElapsedTimer>
#include <QtTest>

#include <arpa/inet.h>
#include <atomic>
#include <csignal>
#include <future>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace tvx;
using tvx::test::LoopbackPeer;

namespace {

const char* kMac = "00:1A:2B:3C:4D:5E";

// The module's pauses, shortened: the waits are measured against these. One
// test keeps the defaults, which every worker uses.
constexpr CommandTimings kQuick{50, 250};

// Everything one connection needs, with a fake host table.
struct Bench {
    explicit Bench(int localAddresses = 0)
    {
        for (int i = 0; i < localAddresses; ++i)
            tables.addresses.push_back(
                {parseIpv4(QByteArray::number(i + 1).prepend("192.0.2.").constData(), false),
                 static_cast<uint32_t>(i + 2)});
        token = std::make_shared<RunToken>();
        link = WorkerLink(
            token, &view, &prompter, [this](const QString& l) { log << l; }, 100);
    }
    // Effects still queued for the view are applied while it exists.
    ~Bench() { QCoreApplication::processEvents(); }
    test::FakeNetTables tables;
    HostNetwork net{tables, [](const QString&) {}};
    test::RecordingView view;
    test::ScriptedPrompter prompter;
    QStringList log;
    std::shared_ptr<RunToken> token;
    WorkerLink link;
};

LoopbackPeer::Answer reply(const std::string& text)
{
    return {{LoopbackPeer::line(text)}};
}

LoopbackPeer::Answer raw(std::vector<std::string> segments, int gapMs = 0)
{
    LoopbackPeer::Answer a;
    a.segments = std::move(segments);
    a.gapMs = gapMs;
    return a;
}

// Answers the login, then gives `answer` to the first command after it.
LoopbackPeer::Responder loginThen(LoopbackPeer::Answer answer)
{
    return [answer](const std::string&, int index) {
        return index == 0 ? reply("LOGOK") : index == 1 ? answer : LoopbackPeer::Answer{};
    };
}

} // namespace

class TestCommandConnection : public QObject {
    Q_OBJECT
private slots:
    void loginLines_data();
    void loginLines();
    void replyFraming_data();
    void replyFraming();
    void lateReplyAnswersTheSecondSend();
    void silentModuleCostsTwoWaits();
    void closedPeerNeverRaisesSigpipe();
    void addressZeroIsRefusedAtOnce();
    void directReachAddsNothing();
    void unreachableModuleLeavesNothing_data();
    void unreachableModuleLeavesNothing();
    void fallbackKeepsEntriesUntilClose();
    void refusedChangesMoveOn();
    void sharedAddressWithoutPinsIsTriedDirectly();
    void stopBeforeFallbackLeavesNothing();
    void sameModuleWaitsForTheEarlierConnection();
};

void TestCommandConnection::loginLines_data()
{
    QTest::addColumn<int>("family");
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<int>("expected");

    const int s = int(WorkerFamily::Settings), d = int(WorkerFamily::Device);
    QTest::newRow("bare") << s << QByteArray() << QByteArray("%LOGOK\r\n") << QByteArray("$LOG\r\n")
                          << 0;
    QTest::newRow("password") << s << QByteArray("abc") << QByteArray("%LOGOK\r\n")
                              << QByteArray("$LOGabc\r\n") << 0;
    QTest::newRow("eight chars") << s << QByteArray("a b~!9Zz") << QByteArray("%LOGOK\r\n")
                                 << QByteArray("$LOGa b~!9Zz\r\n") << 0;
    QTest::newRow("LOGOK and more")
        << s << QByteArray() << QByteArray("%LOGOK, hi\r\n") << QByteArray("$LOG\r\n") << 0;
    QTest::newRow("refused") << s << QByteArray("abc") << QByteArray("%LOGERR\r\n")
                             << QByteArray("$LOGabc\r\n") << -4;
    QTest::newRow("empty reply") << s << QByteArray() << QByteArray("%\r\n")
                                 << QByteArray("$LOG\r\n") << -3;
    QTest::newRow("unframed") << s << QByteArray() << QByteArray("LOGOK\r\n")
                              << QByteArray("$LOG\r\n") << -3;
    QTest::newRow("device refused")
        << d << QByteArray() << QByteArray("%LOGNO\r\n") << QByteArray("$LOG\r\n") << -5;
    QTest::newRow("device empty") << d << QByteArray() << QByteArray("%\r\n")
                                  << QByteArray("$LOG\r\n") << -6;
}

void TestCommandConnection::loginLines()
{
    QFETCH(int, family);
    QFETCH(QByteArray, password);
    QFETCH(QByteArray, answer);
    QFETCH(QByteArray, wire);
    QFETCH(int, expected);

    LoopbackPeer peer([answer](const std::string&, int) { return raw({answer.toStdString()}); });
    QVERIFY(peer.listening());
    Bench b;
    CommandConnection c(b.net, b.link, WorkerFamily(family), "127.0.0.1", kMac, peer.port(),
                        kQuick);
    QCOMPARE(c.reachDevice(), 0);
    QCOMPARE(c.loginDevice(password.constData()), expected);
    c.closeConnection();
    QVERIFY(peer.waitClosedConnections(1, 2000));
    // Exactly the line, without a terminating zero, and sent once.
    QCOMPARE(QByteArray::fromStdString(peer.rawTranscripts().at(0)), wire);
    QCoreApplication::processEvents();
    QVERIFY(b.view.messages.contains(QStringLiteral("login to device...")));
}

void TestCommandConnection::replyFraming_data()
{
    QTest::addColumn<QStringList>("segments");
    QTest::addColumn<int>("expected");
    QTest::addColumn<QByteArray>("text");

    QTest::newRow("value") << QStringList{"%GBNModule-1\r\n"} << 11 << QByteArray("GBNModule-1");
    QTest::newRow("128 bytes") << QStringList{"%" + QString(125, 'v') + "\r\n"} << 125
                               << QByteArray(125, 'v');
    QTest::newRow("empty text") << QStringList{"%\r\n"} << 0 << QByteArray();
    QTest::newRow("split in two") << QStringList{"%GBNMod", "ule-1\r\n"} << -2 << QByteArray();
    QTest::newRow("over 128 bytes")
        << QStringList{"%" + QString(200, 'v') + "\r\n"} << -2 << QByteArray();
    QTest::newRow("no percent") << QStringList{"GBNModule-1\r\n"} << -2 << QByteArray();
    QTest::newRow("no CR LF") << QStringList{"%GBNModule-1"} << -2 << QByteArray();
    QTest::newRow("LF only") << QStringList{"%GBNModule-1\n"} << -2 << QByteArray();
    QTest::newRow("one byte") << QStringList{"%"} << -2 << QByteArray();
    QTest::newRow("two bytes") << QStringList{"\r\n"} << -2 << QByteArray();
}

void TestCommandConnection::replyFraming()
{
    QFETCH(QStringList, segments);
    QFETCH(int, expected);
    QFETCH(QByteArray, text);

    std::vector<std::string> parts;
    for (const QString& s : segments)
        parts.push_back(s.toStdString());
    LoopbackPeer peer(loginThen(raw(parts, 300)));
    Bench b;
    CommandConnection c(b.net, b.link, WorkerFamily::Settings, "127.0.0.1", kMac, peer.port(),
                        kQuick);
    QCOMPARE(c.reachDevice(), 0);
    QCOMPARE(c.loginDevice(""), 0);
    char destination[CommandConnection::kReplyRoom];
    std::memset(destination, 'Z', sizeof destination);
    QCOMPARE(c.sendCommand("$GBN\r\n", 6, destination), expected);
    if (expected >= 0)
        QCOMPARE(QByteArray(destination), text);
}

void TestCommandConnection::lateReplyAnswersTheSecondSend()
{
    // Between the end of the first wait and the end of the second.
    LoopbackPeer::Answer late = reply("GBNlate");
    late.delayMs = kQuick.replyWaitMs * 3 / 2;
    LoopbackPeer peer(loginThen(late));
    Bench b;
    CommandConnection c(b.net, b.link, WorkerFamily::Settings, "127.0.0.1", kMac, peer.port(),
                        kQuick);
    QCOMPARE(c.reachDevice(), 0);
    QCOMPARE(c.loginDevice(""), 0);
    char destination[CommandConnection::kReplyRoom] = {};
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(c.sendCommand("$GBN\r\n", 6, destination), 7);
    const qint64 elapsed = timer.elapsed();
    QCOMPARE(QByteArray(destination), QByteArray("GBNlate"));
    QVERIFY2(elapsed >= late.delayMs - 10 && elapsed < 2 * kQuick.replyWaitMs,
             QByteArray::number(elapsed));
    c.closeConnection();
    QVERIFY(peer.waitClosedConnections(1, 2000));
    QCOMPARE(QByteArray::fromStdString(peer.rawTranscripts().at(0)),
             QByteArray("$LOG\r\n$GBN\r\n$GBN\r\n"));
}

void TestCommandConnection::silentModuleCostsTwoWaits()
{
    LoopbackPeer peer(loginThen({}));
    Bench b;
    CommandConnection c(b.net, b.link, WorkerFamily::Settings, "127.0.0.1", kMac, peer.port(),
                        kQuick);
    QCOMPARE(c.reachDevice(), 0);
    QCOMPARE(c.loginDevice(""), 0);
    char destination[CommandConnection::kReplyRoom] = {};
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(c.sendCommand("$GLS\r\n", 6, destination), -3);
    const qint64 elapsed = timer.elapsed();
    QVERIFY2(elapsed >= 2 * kQuick.replyWaitMs - 10 && elapsed < 2 * kQuick.replyWaitMs + 500,
             QByteArray::number(elapsed));
    c.closeConnection();
    QVERIFY(peer.waitClosedConnections(1, 2000));
    QCOMPARE(peer.lineTranscripts().at(0),
             (std::vector<std::string>{"$LOG\r\n", "$GLS\r\n", "$GLS\r\n"}));
}

void TestCommandConnection::closedPeerNeverRaisesSigpipe()
{
    // The default SIGPIPE action would end this test process.
    std::signal(SIGPIPE, SIG_DFL);
    LoopbackPeer::Answer bye = reply("LOGOK");
    bye.close = true;
    LoopbackPeer peer([bye](const std::string&, int) { return bye; });
    Bench b;
    CommandConnection c(b.net, b.link, WorkerFamily::Settings, "127.0.0.1", kMac, peer.port(),
                        kQuick);
    QCOMPARE(c.reachDevice(), 0);
    QCOMPARE(c.loginDevice(""), 0);
    QVERIFY(peer.waitClosedConnections(1, 2000));
    char destination[CommandConnection::kReplyRoom] = {};
    for (int i = 0; i < 3; ++i)
        QCOMPARE(c.sendCommand("$GBN\r\n", 6, destination), -1);
}

void TestCommandConnection::addressZeroIsRefusedAtOnce()
{
    Bench b(2);
    for (auto family : {WorkerFamily::Settings, WorkerFamily::Device}) {
        CommandConnection c(b.net, b.link, family, "0.0.0.0", kMac, 1);
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(c.reachDevice(), -1);
        QVERIFY(timer.elapsed() < 500);
    }
    QCOMPARE(b.tables.pinCalls, 0);
}

void TestCommandConnection::directReachAddsNothing()
{
    LoopbackPeer peer([](const std::string&, int) { return reply("LOGOK"); });
    Bench b(2);
    {
        // The module's own pause, as every worker keeps it.
        CommandConnection c(b.net, b.link, WorkerFamily::Settings, "127.0.0.1", kMac, peer.port());
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(c.reachDevice(), 0);
        // The second attempt, a second after the first, finds the connection made.
        QVERIFY2(timer.elapsed() >= 990 && timer.elapsed() < 1500,
                 QByteArray::number(timer.elapsed()));
        QCOMPARE(c.routeIndex(), -1);
        QCOMPARE(c.localAddresses().count, 2);
    }
    QCOMPARE(b.tables.pinCalls, 0);
    QCOMPARE(b.tables.routeCalls, 0);
    QCoreApplication::processEvents();
    // 100 / (2 * 2 + 2), then one step for each of the two connect calls.
    QCOMPARE(b.view.position, 16 + 20);
}

void TestCommandConnection::unreachableModuleLeavesNothing_data()
{
    QTest::addColumn<int>("family");
    QTest::addColumn<int>("expected");
    QTest::newRow("settings") << int(WorkerFamily::Settings) << -1;
    QTest::newRow("device") << int(WorkerFamily::Device) << -3;
}

void TestCommandConnection::unreachableModuleLeavesNothing()
{
    QFETCH(int, family);
    QFETCH(int, expected);
    // A port on loopback that nobody listens on refuses every attempt.
    uint16_t closedPort;
    {
        LoopbackPeer probe([](const std::string&, int) { return LoopbackPeer::Answer{}; });
        closedPort = probe.port();
    }
    Bench b(2);
    CommandConnection c(b.net, b.link, WorkerFamily(family), "127.0.0.1", kMac, closedPort, kQuick);
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(c.reachDevice(), expected);
    // Two pauses for the direct attempt and two for each local address.
    const int pauses = 6 * kQuick.connectPauseMs;
    QVERIFY2(timer.elapsed() >= pauses - 10 && timer.elapsed() < pauses + 1000,
             QByteArray::number(timer.elapsed()));
    QCOMPARE(b.tables.pinCalls, 2);
    QCOMPARE(b.tables.routeCalls, 2);
    QVERIFY(b.tables.neighbours.empty());
    QVERIFY(b.tables.routes.empty());
    QCOMPARE(c.routeIndex(), -1);
}

namespace {
// Host tables under which the module becomes reachable only once the route
// through local address `reachableVia` is in place.
class RoutingTables : public test::FakeNetTables {
public:
    std::function<void(uint32_t ifIndex)> onRoute;
    bool addHostRoute(uint32_t address, uint32_t localAddress, uint32_t ifIndex) override
    {
        const bool ok = FakeNetTables::addHostRoute(address, localAddress, ifIndex);
        if (ok && onRoute)
            onRoute(ifIndex);
        return ok;
    }
};
} // namespace

namespace {
// A bound socket that refuses connections until it is made to listen.
int boundSocket(uint16_t& port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    return fd;
}
} // namespace

void TestCommandConnection::fallbackKeepsEntriesUntilClose()
{
    // The module's port opens only when the route through the second local
    // address (interface 3) is added, as if that route made it reachable.
    RoutingTables tables;
    tables.addresses = {{parseIpv4("192.0.2.1", false), 2},
                        {parseIpv4("198.51.100.1", false), 3},
                        {parseIpv4("203.0.113.1", false), 4}};
    int listenFd = -1;
    tables.onRoute = [&listenFd](uint32_t ifIndex) {
        if (ifIndex == 3)
            ::listen(listenFd, 1);
    };
    HostNetwork net(tables, [](const QString&) {});
    test::RecordingView view;
    test::ScriptedPrompter prompter;
    auto token = std::make_shared<RunToken>();
    WorkerLink link(token, &view, &prompter, {}, 100);

    uint16_t port;
    listenFd = boundSocket(port);
    {
        CommandConnection c(net, link, WorkerFamily::Settings, "127.0.0.1", kMac, port, kQuick);
        QCOMPARE(c.reachDevice(), 0);
        QCOMPARE(c.routeIndex(), 1);
        QCOMPARE(tables.neighbours.size(), size_t(1));
        QCOMPARE(tables.neighbours[0].ifIndex, 3u);
        QCOMPARE(tables.routes.size(), size_t(1));
        QCOMPARE(tables.routes[0].localAddress, parseIpv4("198.51.100.1", false));
        c.closeConnection();
        QVERIFY(tables.neighbours.empty());
        QVERIFY(tables.routes.empty());
        QCOMPARE(c.routeIndex(), -1);
    }
    ::close(listenFd);
    QCOMPARE(tables.pinCalls, 2);

    // Left to the destructor, the entries go as well.
    listenFd = boundSocket(port);
    {
        CommandConnection c(net, link, WorkerFamily::Device, "127.0.0.1", kMac, port, kQuick);
        QCOMPARE(c.reachDevice(), 0);
        QCOMPARE(c.routeIndex(), 1);
        QCOMPARE(tables.routes.size(), size_t(1));
    }
    ::close(listenFd);
    QVERIFY(tables.neighbours.empty());
    QVERIFY(tables.routes.empty());
    QCoreApplication::processEvents();
}

void TestCommandConnection::refusedChangesMoveOn()
{
    uint16_t closedPort;
    {
        LoopbackPeer probe([](const std::string&, int) { return LoopbackPeer::Answer{}; });
        closedPort = probe.port();
    }
    // ARP entries refused: no route is tried and only the direct attempt costs time.
    Bench b(3);
    b.tables.refuseChanges = true;
    CommandConnection c(b.net, b.link, WorkerFamily::Settings, "127.0.0.1", kMac, closedPort,
                        kQuick);
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(c.reachDevice(), -1);
    QVERIFY2(timer.elapsed() < 4 * kQuick.connectPauseMs, QByteArray::number(timer.elapsed()));
    QCOMPARE(b.tables.pinCalls, 3);
    QCOMPARE(b.tables.routeCalls, 0);

    // A route that cannot be added takes its ARP entry away at once.
    class NoRoutes : public test::FakeNetTables {
    public:
        bool addHostRoute(uint32_t, uint32_t, uint32_t) override { return false; }
    } tables;
    tables.addresses = {{parseIpv4("192.0.2.1", false), 2}};
    HostNetwork net(tables, [](const QString&) {});
    CommandConnection c2(net, b.link, WorkerFamily::Settings, "127.0.0.1", kMac, closedPort,
                         kQuick);
    QCOMPARE(c2.reachDevice(), -1);
    QCOMPARE(tables.pinCalls, 1);
    QVERIFY(tables.neighbours.empty());
}

// Without the helper no module at a shared address could be pinned: the one
// that answers there is tried (its MAC is checked by the caller), and the log
// says once what the helper would change.
void TestCommandConnection::sharedAddressWithoutPinsIsTriedDirectly()
{
    LoopbackPeer module([](const std::string&, int) { return LoopbackPeer::Answer{}; });
    QStringList log;
    test::FakeNetTables tables;
    tables.addresses = {{parseIpv4("192.0.2.1", false), 2}};
    tables.refuseChanges = true;
    HostNetwork net(tables, [&log](const QString& line) { log << line; });
    const auto mark = net.markAddressShared(parseIpv4("127.0.0.1", false));
    Bench b;
    for (int attempt = 0; attempt < 2; ++attempt) {
        CommandConnection c(net, b.link, WorkerFamily::Settings, "127.0.0.1", kMac, module.port(),
                            kQuick);
        QCOMPARE(c.reachDevice(), 0);
        QCOMPARE(c.routeIndex(), -1);
        c.closeConnection();
    }
    QCOMPARE(tables.pinCalls, 2);
    QCOMPARE(log.filter(QStringLiteral("the helper tarvanix-netpin would make every module at "
                                       "that address reachable"))
                 .size(),
             1);
}

void TestCommandConnection::stopBeforeFallbackLeavesNothing()
{
    uint16_t closedPort;
    {
        LoopbackPeer probe([](const std::string&, int) { return LoopbackPeer::Answer{}; });
        closedPort = probe.port();
    }
    Bench b(2);
    CommandConnection c(b.net, b.link, WorkerFamily::Settings, "127.0.0.1", kMac, closedPort,
                        kQuick);
    b.token->requestStop();
    QCOMPARE(c.reachDevice(), -2);
    QCOMPARE(b.tables.pinCalls, 0);
    QCOMPARE(c.routeIndex(), -1);

    // A stop that arrives while the first local address is being tried is
    // seen before the second; the first one's entries are gone by then.
    Bench b2(2);
    CommandConnection c2(b2.net, b2.link, WorkerFamily::Settings, "127.0.0.1", kMac, closedPort,
                         kQuick);
    auto stopper = std::async(std::launch::async, [&] {
        // The connection counts under the tables' lock, on its own thread.
        const auto routeAdded = [&] {
            std::lock_guard guard(b2.tables.lock);
            return b2.tables.routeCalls > 0;
        };
        while (!routeAdded())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        b2.token->requestStop();
    });
    QCOMPARE(c2.reachDevice(), -2);
    stopper.get();
    QCOMPARE(b2.tables.pinCalls, 1);
    QVERIFY(b2.tables.neighbours.empty());
    QVERIFY(b2.tables.routes.empty());
}

void TestCommandConnection::sameModuleWaitsForTheEarlierConnection()
{
    LoopbackPeer peer([](const std::string&, int) { return reply("LOGOK"); });
    Bench b;
    auto first = std::make_unique<CommandConnection>(b.net, b.link, WorkerFamily::Settings,
                                                     "127.0.0.1", kMac, peer.port(), kQuick);
    QCOMPARE(first->reachDevice(), 0);

    std::atomic<bool> released{false};
    std::atomic<bool> reached{false};
    auto second = std::async(std::launch::async, [&] {
        CommandConnection c(b.net, b.link, WorkerFamily::Device, "127.0.0.1", kMac, peer.port(),
                            kQuick);
        const int r = c.reachDevice();
        // Reached only once the first connection has let go of the module.
        const bool afterRelease = released.load();
        reached = true;
        return r == 0 && afterRelease;
    });
    // An unhindered reach takes two pauses; three times that passes without it.
    QVERIFY(!QTest::qWaitFor([&] { return reached.load(); }, 6 * kQuick.connectPauseMs));
    released = true;
    first.reset();
    QVERIFY(second.get());
}

QTEST_GUILESS_MAIN(TestCommandConnection)
#include "tst_CommandConnection.moc"
