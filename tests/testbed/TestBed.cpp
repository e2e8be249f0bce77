#include "TestBed.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QThread>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

namespace tvx::test {

namespace {

// One request on a simulator's control socket, read until "ok" or "error".
QString ask(const QString& path, const QString& line, bool* ok)
{
    *ok = false;
    const QByteArray p = QFile::encodeName(path);
    sockaddr_un a{};
    if (p.size() >= static_cast<int>(sizeof a.sun_path))
        return QStringLiteral("control path too long");
    a.sun_family = AF_UNIX;
    std::memcpy(a.sun_path, p.constData(), static_cast<std::size_t>(p.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return QStringLiteral("socket failed");
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
        return QStringLiteral("cannot reach the simulator at ") + path;
    const QByteArray req = line.toUtf8() + '\n';
    if (::send(fd, req.constData(), static_cast<std::size_t>(req.size()), MSG_NOSIGNAL)
        != req.size())
        return QStringLiteral("send failed");
    QByteArray in;
    for (;;) {
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, 5000) <= 0)
            return QStringLiteral("no answer from the simulator");
        char buf[4096];
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            return QStringLiteral("simulator closed the control connection");
        in.append(buf, static_cast<int>(n));
        // The answer ends with a line that is "ok" or starts with "error ".
        const QList<QByteArray> lines = in.split('\n');
        if (!in.endsWith('\n'))
            continue;
        const QByteArray last = lines.size() >= 2 ? lines[lines.size() - 2] : QByteArray();
        if (last == "ok") {
            *ok = true;
            in.chop(3);
            return QString::fromUtf8(in);
        }
        if (last.startsWith("error "))
            return QString::fromUtf8(last.mid(6));
    }
}

QList<QByteArray> chunks(const QList<TranscriptEvent>& events, int exchange, const char* event)
{
    QList<QByteArray> out;
    for (const TranscriptEvent& e : events) {
        if (e.exchange == exchange && e.event == QLatin1String(event))
            out.append(e.bytes);
    }
    return out;
}

QJsonArray ipJson(const QStringList& args)
{
    QProcess p;
    p.start(QStringLiteral("ip"), QStringList{QStringLiteral("-j")} + args);
    if (!p.waitForFinished(5000))
        return {};
    return QJsonDocument::fromJson(p.readAllStandardOutput()).array();
}

} // namespace

TestBed::TestBed()
{
    const QString path = qEnvironmentVariable("TVX_BED_INFO");
    if (path.isEmpty()) {
        error_ = QStringLiteral("not inside a test bed (TVX_BED_INFO is not set; "
                                "run through tests/testbed/testbed or ctest)");
        return;
    }
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        error_ = QStringLiteral("cannot read ") + path;
        return;
    }
    QJsonParseError pe;
    const QJsonObject o = QJsonDocument::fromJson(f.readAll(), &pe).object();
    if (pe.error != QJsonParseError::NoError) {
        error_ = QStringLiteral("bad bed description: ") + pe.errorString();
        return;
    }
    prefix_ = o.value(QLatin1String("prefix")).toString();
    hostNs_ = o.value(QLatin1String("hostNamespace")).toString();
    for (const QJsonValue& v : o.value(QLatin1String("lans")).toArray()) {
        const QJsonObject l = v.toObject();
        BedLan lan;
        lan.name = l.value(QLatin1String("name")).toString();
        lan.ns = l.value(QLatin1String("namespace")).toString();
        lan.hostInterface = l.value(QLatin1String("hostInterface")).toString();
        lan.hostAddress = l.value(QLatin1String("hostAddress")).toString();
        lan.prefix = l.value(QLatin1String("prefix")).toInt();
        lan.control = l.value(QLatin1String("control")).toString();
        lans_.append(lan);
    }
    for (const QJsonValue& v : o.value(QLatin1String("modules")).toArray()) {
        const QJsonObject m = v.toObject();
        BedModule mod;
        mod.name = m.value(QLatin1String("name")).toString();
        mod.lan = m.value(QLatin1String("lan")).toString();
        mod.ip = m.value(QLatin1String("ip")).toString();
        mod.prefix = m.value(QLatin1String("prefix")).toInt();
        mod.mac = m.value(QLatin1String("mac")).toString();
        mod.password = m.value(QLatin1String("password")).toString();
        mod.outside = m.value(QLatin1String("outside")).toBool();
        mod.interfaceName = m.value(QLatin1String("interface")).toString();
        mod.deviceName = m.value(QLatin1String("deviceName")).toString();
        mod.model = m.value(QLatin1String("model")).toString();
        mod.firmware = m.value(QLatin1String("firmware")).toString();
        mod.control = m.value(QLatin1String("control")).toString();
        mod.transcript = m.value(QLatin1String("transcript")).toString();
        modules_.append(mod);
    }
    if (modules_.isEmpty())
        error_ = QStringLiteral("the bed has no modules");
}

BedModule TestBed::module(const QString& name) const
{
    for (const BedModule& m : modules_) {
        if (m.name == name)
            return m;
    }
    return {};
}

QList<BedModule> TestBed::outsideModules() const
{
    QList<BedModule> out;
    for (const BedModule& m : modules_) {
        if (m.outside)
            out.append(m);
    }
    return out;
}

QList<BedModule> TestBed::modulesWithPassword() const
{
    QList<BedModule> out;
    for (const BedModule& m : modules_) {
        if (!m.password.isEmpty())
            out.append(m);
    }
    return out;
}

QStringList TestBed::control(const QString& module, const QString& verb, const QString& args,
                             bool* ok) const
{
    bool okLocal = false;
    const BedModule m = this->module(module);
    QString answer;
    if (m.name.isEmpty())
        answer = QStringLiteral("no module ") + module;
    else
        answer = ask(m.control, verb + ' ' + module + (args.isEmpty() ? QString() : ' ' + args),
                     &okLocal);
    if (ok)
        *ok = okLocal;
    if (!okLocal)
        return {answer};
    return answer.split('\n', Qt::SkipEmptyParts);
}

bool TestBed::setFault(const QString& module, const QString& faultSwitch) const
{
    bool ok = false;
    control(module, QStringLiteral("fault"), faultSwitch, &ok);
    return ok;
}

bool TestBed::clearFaults(const QString& module, const QString& name) const
{
    bool ok = false;
    control(module, QStringLiteral("clear"), name, &ok);
    return ok;
}

bool TestBed::setSetting(const QString& module, const QString& field, const QString& value) const
{
    bool ok = false;
    control(module, QStringLiteral("set"), field + '=' + value, &ok);
    return ok;
}

bool TestBed::restart(const QString& module) const
{
    bool ok = false;
    control(module, QStringLiteral("restart"), {}, &ok);
    return ok;
}

QMap<QString, QString> TestBed::state(const QString& module) const
{
    bool ok = false;
    QMap<QString, QString> out;
    for (const QString& line : control(module, QStringLiteral("show"), {}, &ok)) {
        const int eq = line.indexOf('=');
        if (ok && eq > 0)
            out.insert(line.left(eq), line.mid(eq + 1));
    }
    return out;
}

QString TestBed::setting(const QString& module, const QString& field) const
{
    return state(module).value(QStringLiteral("setting.") + field);
}

bool TestBed::waitUntilUp(const QString& module, int timeoutMs) const
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < timeoutMs) {
        if (state(module).value(QStringLiteral("state")) == QLatin1String("up"))
            return true;
        QThread::msleep(50);
    }
    return false;
}

QList<TranscriptEvent> TestBed::transcript(const QString& module) const
{
    QList<TranscriptEvent> out;
    QFile f(this->module(module).transcript);
    if (!f.open(QIODevice::ReadOnly))
        return out;
    while (!f.atEnd()) {
        const QByteArray line = f.readLine().trimmed();
        const QList<QByteArray> w = line.split(' ');
        if (w.size() < 4)
            continue;
        TranscriptEvent e;
        e.ms = w[0].toLongLong();
        e.exchange = w[1].toInt();
        e.proto = QString::fromLatin1(w[2]);
        e.event = QString::fromLatin1(w[3]);
        const int dataAt =
            static_cast<int>(w[0].size() + w[1].size() + w[2].size() + w[3].size() + 4);
        const QByteArray data = dataAt < line.size() ? line.mid(dataAt) : QByteArray();
        if (e.event == QLatin1String("recv") || e.event == QLatin1String("send"))
            e.bytes = QByteArray::fromHex(data);
        else
            e.text = QString::fromUtf8(data);
        out.append(e);
    }
    return out;
}

bool TestBed::clearTranscript(const QString& module) const
{
    bool ok = false;
    control(module, QStringLiteral("transcript-clear"), {}, &ok);
    return ok;
}

QList<int> TestBed::exchanges(const QString& module, const QString& proto) const
{
    QList<int> out;
    for (const TranscriptEvent& e : transcript(module)) {
        if (e.proto == proto && e.event == QLatin1String("open") && !out.contains(e.exchange))
            out.append(e.exchange);
    }
    return out;
}

QByteArray TestBed::received(const QString& module, int exchange) const
{
    return receivedChunks(module, exchange).join();
}

QByteArray TestBed::sent(const QString& module, int exchange) const
{
    return sentChunks(module, exchange).join();
}

QList<QByteArray> TestBed::receivedChunks(const QString& module, int exchange) const
{
    return chunks(transcript(module), exchange, "recv");
}

QList<QByteArray> TestBed::sentChunks(const QString& module, int exchange) const
{
    return chunks(transcript(module), exchange, "send");
}

QList<NeighbourEntry> TestBed::neighbours()
{
    QList<NeighbourEntry> out;
    for (const QJsonValue& v :
         ipJson({QStringLiteral("-4"), QStringLiteral("neigh"), QStringLiteral("show")})) {
        const QJsonObject o = v.toObject();
        NeighbourEntry n;
        n.ip = o.value(QLatin1String("dst")).toString();
        n.mac = o.value(QLatin1String("lladdr")).toString().toUpper();
        n.dev = o.value(QLatin1String("dev")).toString();
        for (const QJsonValue& s : o.value(QLatin1String("state")).toArray())
            n.state.append(s.toString());
        out.append(n);
    }
    return out;
}

QList<RouteEntry> TestBed::routes()
{
    QList<RouteEntry> out;
    for (const QJsonValue& v :
         ipJson({QStringLiteral("-4"), QStringLiteral("route"), QStringLiteral("show"),
                 QStringLiteral("table"), QStringLiteral("main")})) {
        const QJsonObject o = v.toObject();
        RouteEntry r;
        r.dst = o.value(QLatin1String("dst")).toString();
        r.dev = o.value(QLatin1String("dev")).toString();
        r.protocol = o.value(QLatin1String("protocol")).toString();
        r.scope = o.value(QLatin1String("scope")).toString();
        r.prefsrc = o.value(QLatin1String("prefsrc")).toString();
        r.gateway = o.value(QLatin1String("gateway")).toString();
        out.append(r);
    }
    return out;
}

QList<NeighbourEntry> TestBed::permanentNeighbours()
{
    QList<NeighbourEntry> out;
    for (const NeighbourEntry& n : neighbours()) {
        if (n.state.contains(QLatin1String("PERMANENT")))
            out.append(n);
    }
    return out;
}

QList<RouteEntry> TestBed::staticRoutes()
{
    QList<RouteEntry> out;
    for (const RouteEntry& r : routes()) {
        if (r.protocol != QLatin1String("kernel"))
            out.append(r);
    }
    return out;
}

QByteArray TestBed::firmwareImage(const QString& version, int size)
{
    QByteArray image("\x55\xAA\xF1", 3);
    image += version.toLatin1();
    image += '\0';
    for (int i = 0; image.size() < size; ++i)
        image += static_cast<char>((i * 7 + 13) & 0xFF);
    return image;
}

} // namespace tvx::test
