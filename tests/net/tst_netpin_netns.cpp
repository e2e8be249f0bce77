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

#include <fcntl.h>
#include <net/if.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <functional>

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

// The addresses of a range whose neighbour entries, and host routes, carry
// the helper's mark.
QStringList markedNeighbours(const QString& range)
{
    QStringList out;
    for (const QJsonValue& v : ipJson({"-4", "neigh", "show", "to", range, "nud", "all"})) {
        if (v.toObject().value("protocol").toString() == QLatin1String("211"))
            out << v.toObject().value("dst").toString();
    }
    out.sort();
    return out;
}
QStringList markedRoutes()
{
    QStringList out;
    for (const QJsonValue& v : ipJson({"-4", "route", "show", "table", "main", "proto", "211"}))
        out << v.toObject().value("dst").toString();
    out.sort();
    return out;
}

// A neighbour entry as far as its owner made it: link-layer address,
// protocol, flags and (unless `withState` is false) state.
QString describeNeighbour(const QString& address, bool withState = true)
{
    const QJsonArray entries = ipJson({"-d", "-4", "neigh", "show", "to", address, "nud", "all"});
    if (entries.isEmpty())
        return QStringLiteral("none");
    const QJsonObject o = entries.first().toObject();
    QStringList parts{o.value("lladdr").toString(), o.value("protocol").toString()};
    for (const char* flag : {"router", "extern_learn", "managed"}) {
        if (o.contains(QLatin1String(flag)))
            parts << QLatin1String(flag);
    }
    if (withState) {
        for (const QJsonValue& state : o.value("state").toArray())
            parts << state.toString();
    }
    return parts.join(' ');
}

// A process of another user and without the privilege that says, like a
// running helper, that it holds `held`. It counts the questions it is asked.
class Forger {
public:
    ~Forger()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (asked_ >= 0)
            ::close(asked_);
    }
    bool start(const std::string& held)
    {
        int pipe[2];
        if (::pipe2(pipe, O_CLOEXEC) != 0)
            return false;
        static const char name[] = "tarvanix-netpin/0123456789abcdef";
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path + 1, name, sizeof name - 1);
        const auto length = socklen_t(offsetof(sockaddr_un, sun_path) + sizeof name);
        pid_ = ::fork();
        if (pid_ == 0) {
            // Only system calls from here: the test has threads.
            const int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (::setgid(65534) != 0 || ::setuid(65534) != 0
                || ::bind(s, reinterpret_cast<sockaddr*>(&address), length) != 0
                || ::listen(s, 8) != 0 || ::write(pipe[1], "r", 1) != 1)
                ::_exit(1);
            for (;;) {
                const int c = ::accept(s, nullptr, nullptr);
                if (c < 0)
                    continue;
                // The asker may have gone already, having seen who it asked.
                [[maybe_unused]] auto n = ::send(c, held.data(), held.size(), MSG_NOSIGNAL);
                n = ::write(pipe[1], "a", 1);
                ::close(c);
            }
        }
        ::close(pipe[1]);
        asked_ = pipe[0];
        char c = 0;
        return pid_ > 0 && ::read(asked_, &c, 1) == 1 && c == 'r';
    }
    int questions()
    {
        ::fcntl(asked_, F_SETFL, O_NONBLOCK);
        char buffer[64];
        for (ssize_t got; (got = ::read(asked_, buffer, sizeof buffer)) > 0;)
            questions_ += int(got);
        return questions_;
    }

private:
    pid_t pid_ = -1;
    int asked_ = -1;
    int questions_ = 0;
};

// A helper started by a shell that is then killed, while its input stays
// open (another process of the caller's could hold it): only the end of its
// parent tells the helper that its caller is gone.
class OrphanedHelper {
public:
    ~OrphanedHelper()
    {
        for (int fd : {in_, out_})
            if (fd >= 0)
                ::close(fd);
        killCaller();
    }
    bool start(const std::string& helper)
    {
        int in[2], out[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
            return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        // A background command of a shell reads /dev/null unless told.
        char* argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"),
                        const_cast<char*>("exec 3<&0; \"$0\" serve <&3 3<&- & wait"),
                        const_cast<char*>(helper.c_str()), nullptr};
        char* none[] = {nullptr};
        const int rc = ::posix_spawn(&shell_, "/bin/sh", &actions, nullptr, argv, none);
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        in_ = in[1];
        out_ = out[0];
        return rc == 0 && readLine() == QStringLiteral("0 ready");
    }
    QString ask(const QString& request)
    {
        const QByteArray line = request.toLatin1() + '\n';
        if (::write(in_, line.data(), size_t(line.size())) != line.size())
            return {};
        return readLine();
    }
    void killCaller()
    {
        if (shell_ > 0) {
            ::kill(shell_, SIGKILL);
            ::waitpid(shell_, nullptr, 0);
        }
        shell_ = -1;
    }

private:
    QString readLine()
    {
        QByteArray line;
        char c = 0;
        while (::read(out_, &c, 1) == 1 && c != '\n')
            line += c;
        return QString::fromLatin1(line).trimmed();
    }
    pid_t shell_ = -1;
    int in_ = -1;
    int out_ = -1;
};

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
    void entriesOfGoneHelpersAreSwept_data();
    void entriesOfGoneHelpersAreSwept();
    void entriesOfOthersAreNeverReplaced_data();
    void entriesOfOthersAreNeverReplaced();
    void routedAddressesAreRefused_data();
    void routedAddressesAreRefused();
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
    quietly({"-4", "neigh", "flush", "to", "10.0.0.0/8", "nud", "all"});
    quietly({"-4", "route", "flush", "proto", "211"});
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

// However a helper goes, the next start finds its entries in the kernel's
// tables; only what a running helper holds is kept.
void TestNetpinNetns::entriesOfGoneHelpersAreSwept_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("killed at its limit") << "limit";
    QTest::newRow("killed, with a forged claim") << "forged";
    QTest::newRow("killed, another user's helper running") << "other user";
    QTest::newRow("killed, another helper stopped") << "stopped";
    QTest::newRow("its caller killed, its input kept open") << "orphan";
}

void TestNetpinNetns::entriesOfGoneHelpersAreSwept()
{
    REQUIRE_PRIVILEGE(true);
    QFETCH(QString, how);
    const QString t0 = tvx(tvx0_);
    const auto pin = [&](int n) {
        return QStringLiteral("pin 10.77.0.%1 02:00:00:77:00:%2 %3")
            .arg(n)
            .arg(n, 2, 16, QLatin1Char('0'))
            .arg(t0);
    };
    const auto route = [&](int n) {
        return QStringLiteral("route-add 10.77.0.%1 192.0.2.1 %2").arg(n).arg(t0);
    };

    // Another user's running helper, with the privilege, holds one entry and
    // keeps it; a stopped one serves nobody and keeps nothing.
    std::unique_ptr<Session> other;
    QStringList kept;
    if (how == QLatin1String("other user") || how == QLatin1String("stopped")) {
        if (how == QLatin1String("stopped")) {
            other = session();
        } else {
            other = std::make_unique<Session>();
            other->process->start(QStringLiteral("setpriv"),
                                  {"--reuid=65534", "--regid=65534", "--clear-groups",
                                   "--inh-caps=+net_admin", "--ambient-caps=+net_admin", "--",
                                   QString::fromStdString(helper_), "serve"});
            QCOMPARE(other->answer(), QStringLiteral("0 ready"));
        }
        QCOMPARE(other->ask(QStringLiteral("pin 10.77.1.1 02:00:00:77:01:01 ") + t0),
                 QStringLiteral("0"));
        QCOMPARE(other->ask(QStringLiteral("route-add 10.77.1.1 192.0.2.1 ") + t0),
                 QStringLiteral("0"));
        if (how != QLatin1String("stopped"))
            kept << QStringLiteral("10.77.1.1");
    }

    const int count = how == QLatin1String("limit") ? 128 : 2;
    std::unique_ptr<Session> gone;
    OrphanedHelper orphan;
    std::function<QString(const QString&)> ask;
    if (how == QLatin1String("orphan")) {
        QVERIFY(orphan.start(helper_));
        ask = [&](const QString& r) { return orphan.ask(r); };
    } else {
        gone = session();
        ask = [&](const QString& r) { return gone->ask(r); };
    }
    for (int n = 1; n <= count; ++n) {
        QCOMPARE(ask(pin(n)), QStringLiteral("0"));
        QCOMPARE(ask(route(n)), QStringLiteral("0"));
    }
    if (how == QLatin1String("limit")) {
        QVERIFY(ask(pin(200)).startsWith("1 refused: one caller may hold at most 128"));
        QVERIFY(ask(route(200)).startsWith("1 refused: one caller may hold at most 128"));
        // Another entry's place is still its own to change.
        QCOMPARE(ask(QStringLiteral("pin 10.77.0.1 02:00:00:77:00:ff ") + t0), QStringLiteral("0"));
    }
    const int others = other ? 1 : 0;
    QCOMPARE(markedNeighbours("10.77.0.0/16").size(), count + others);

    Forger forger;
    if (how == QLatin1String("forged")) {
        const std::string held = "tarvanix-netpin held\nneigh 10.77.0.1 " + t0.toStdString()
            + " 02:00:00:77:00:01\nroute 10.77.0.1 " + t0.toStdString() + "\nend\n";
        QVERIFY(forger.start(held));
    }
    if (how == QLatin1String("stopped"))
        ::kill(pid_t(other->process->processId()), SIGSTOP);
    if (how == QLatin1String("orphan")) {
        orphan.killCaller();
        // The helper removes them itself, at once.
        QTRY_COMPARE_WITH_TIMEOUT(markedNeighbours("10.77.0.0/16"), kept, 2000);
    } else {
        gone->process->kill();
        gone->process->waitForFinished(5000);
        QCOMPARE(markedNeighbours("10.77.0.0/16").size(), count + others);
        session()->end();
    }
    QCOMPARE(markedNeighbours("10.77.0.0/16"), kept);
    QCOMPARE(markedRoutes(), kept);
    if (how == QLatin1String("forged"))
        QTRY_VERIFY_WITH_TIMEOUT(forger.questions() > 0, 2000); // asked, and not believed
    if (other) {
        ::kill(pid_t(other->process->processId()), SIGCONT);
        other->end();
        QCOMPARE(markedNeighbours("10.77.0.0/16"), QStringList());
        QCOMPARE(markedRoutes(), QStringList());
    }
}

// The kernel's learned entries may be replaced; what a routing daemon, an
// administrator or the kernel on someone's behalf made stays as it is, also
// when it was one of the helper's before an administrator re-stated it.
void TestNetpinNetns::entriesOfOthersAreNeverReplaced_data()
{
    QTest::addColumn<QStringList>("made");
    QTest::addColumn<bool>("restated");
    const QStringList entry{"neigh", "add", "10.78.0.1", "lladdr", "02:00:00:78:00:01",
                            "dev",   "tvx0"};
    QTest::newRow("zebra, reachable")
        << entry + QStringList{"nud", "reachable", "proto", "zebra"} << false;
    QTest::newRow("static, stale")
        << entry + QStringList{"nud", "stale", "proto", "static"} << false;
    QTest::newRow("managed") << QStringList{"neigh", "add", "10.78.0.1", "dev", "tvx0", "managed"}
                             << false;
    QTest::newRow("extern_learn") << entry + QStringList{"nud", "reachable", "extern_learn"}
                                  << false;
    QTest::newRow("re-stated by an administrator")
        << QStringList{"neigh", "replace", "10.78.0.1", "lladdr",   "02:00:00:78:00:01",
                       "dev",   "tvx0",    "nud",       "permanent"}
        << true;
}

void TestNetpinNetns::entriesOfOthersAreNeverReplaced()
{
    REQUIRE_PRIVILEGE(true);
    QFETCH(QStringList, made);
    QFETCH(bool, restated);
    const QString t0 = tvx(tvx0_);
    const QString request = "pin 10.78.0.1 02:00:00:78:00:99 " + t0;
    std::unique_ptr<Session> first;
    if (restated) {
        first = session();
        QCOMPARE(first->ask("pin 10.78.0.1 02:00:00:78:00:01 " + t0), QStringLiteral("0"));
    }
    ipRun(made);
    // A managed entry's state is the kernel's to change meanwhile.
    const bool withState = !made.contains(QLatin1String("managed"));
    const QString before = describeNeighbour("10.78.0.1", withState);

    auto helper = session();
    const QString answer = helper->ask(request);
    QVERIFY2(answer.startsWith("1 refused: 10.78.0.1 has a neighbour entry on interface "),
             qPrintable(answer));
    QCOMPARE(helper->ask(QStringLiteral("unpin 02:00:00:78:00:99")), QStringLiteral("0"));
    helper->end();
    if (first) {
        QCOMPARE(first->ask(QStringLiteral("unpin 02:00:00:78:00:01")), QStringLiteral("0"));
        first->process->kill(); // nor does the sweep after a killed helper take it
        first->process->waitForFinished(5000);
        session()->end();
    }
    QCOMPARE(describeNeighbour("10.78.0.1", withState), before);
}

// A network the host reaches through a router, or through another interface,
// is not the helper's to divert; the default route does not count.
void TestNetpinNetns::routedAddressesAreRefused_data()
{
    QTest::addColumn<QStringList>("route");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("refusal"); // empty: allowed
    QTest::newRow("the bed's router") << QStringList() << "203.0.113.130"
                                      << "is routed through the gateway 192.0.2.254";
    QTest::newRow("a private network via a router")
        << QStringList{"10.20.0.0/16", "via", "192.0.2.254"} << "10.20.0.5"
        << "is routed through the gateway 192.0.2.254 by the route 10.20.0.0/16";
    QTest::newRow("another interface's network")
        << QStringList{"10.30.0.0/16", "dev", "tvx2"} << "10.30.0.5"
        << "is routed to interface";
    QTest::newRow("a blackhole") << QStringList{"blackhole", "10.40.0.0/16"} << "10.40.0.5"
                                 << "is covered by the blackhole route 10.40.0.0/16";
    QTest::newRow("the default route only")
        << QStringList{"default", "via", "192.0.2.254"} << "10.50.0.5" << QString();
}

void TestNetpinNetns::routedAddressesAreRefused()
{
    REQUIRE_PRIVILEGE(true);
    QFETCH(QStringList, route);
    QFETCH(QString, address);
    QFETCH(QString, refusal);
    if (!route.isEmpty())
        ipRun(QStringList{"route", "add"} + route);
    const QString t0 = tvx(tvx0_);
    auto helper = session();
    const QString pinned = helper->ask("pin " + address + " 02:00:00:79:00:01 " + t0);
    const QString routed = helper->ask("route-add " + address + " 192.0.2.1 " + t0);
    helper->end();
    if (!route.isEmpty())
        quietly(QStringList{"route", "del"} + route);
    for (const QString& answer : {pinned, routed}) {
        if (refusal.isEmpty())
            QCOMPARE(answer, QStringLiteral("0"));
        else
            QVERIFY2(answer.startsWith("1 refused: " + address + " " + refusal)
                         && answer.contains("allow-routed"),
                     qPrintable(answer));
    }
    QCOMPARE(neighbours(address), QStringList());
    QCOMPARE(routesTo(address).size(), 0);
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
