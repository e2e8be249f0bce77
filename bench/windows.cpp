// The main window as the utility builds it, driven the way a user does:
//
//   tarvanix-bench-windows read --module NAME [--runs R]
//     double-clicks the row of the bed's module NAME R times and times each read from the
//     double-click to the configuration window painted with the module's
//     settings; beside it the same command lines sent by a bare client.
//   tarvanix-bench-windows search
//     one broadcast search over the bed in TVX_BED_INFO while a 10 ms timer
//     on the UI thread records how late it fires; what the UI thread itself
//     spent (CPU time in all, and the most on one event, with its receiver);
//     which modules are listed, how many rows each send added, and the
//     resident memory once idle.
#include "BenchStats.h"

#include "app/AppWindows.h"
#include "config/Cfgfrm.h"
#include "discovery/Prgfrm.h"
#include "handover/Prompter.h"
#include "handover/WorkerOwner.h"
#include "handover/WorkerThread.h"
#include "net/SystemNetTables.h"
#include "protocol/CommandTable.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QItemSelectionModel>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProgressBar>
#include <QTimer>
#include <QTreeView>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <set>

using namespace tvx;

namespace {

// No one is there to answer: every message is printed and counted, every
// question answered No (no follow-up search after the run).
class PrintingPrompter : public Prompter {
public:
    void showError(const QString& text) override { note("error", text); }
    bool askConfirm(const QString& text) override { return note("confirm", text), false; }
    void showFinished(const QString& text) override { note("finished", text); }
    bool askFinished(const QString& text) override { return note("finished", text), false; }
    void showException(const QString& text) override { note("exception", text); }
    int shown = 0;

private:
    void note(const char* kind, const QString& text)
    {
        ++shown;
        std::fprintf(stderr, "message (%s): %s\n", kind, qPrintable(text));
    }
};

double threadCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// The UI thread's own work, apart from how long it waited for a core: the CPU
// time of each event it handled (the outermost ones), and which took most.
class BenchApplication : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override
    {
        if (depth_++ > 0 || !counting) {
            const bool handled = QApplication::notify(receiver, event);
            --depth_;
            return handled;
        }
        const QByteArray what = QByteArray(receiver->metaObject()->className()) + "/"
            + QByteArray::number(static_cast<int>(event->type()));
        const double start = threadCpuMs();
        const bool handled = QApplication::notify(receiver, event);
        const double spent = threadCpuMs() - start;
        --depth_;
        if (spent > longest) {
            longest = spent;
            longestWhat = what;
        }
        return handled;
    }
    bool counting = false;
    double longest = 0;
    QByteArray longestWhat;

private:
    int depth_ = 0;
};

void settle(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// The first paint of any configuration window after `armed`.
class PaintWatch : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && armed && paintedNs < 0) {
            auto* w = qobject_cast<QWidget*>(watched);
            if (w && qobject_cast<TcfgForm*>(w->window()))
                paintedNs = clock.nsecsElapsed();
        }
        return false;
    }
    QElapsedTimer clock;
    bool armed = false;
    qint64 paintedNs = -1;
};

TcfgForm* configWindow(const QByteArray& mac)
{
    for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* form = qobject_cast<TcfgForm*>(w);
        if (form && form->isVisible() && QByteArray(form->record().lanMac) == mac)
            return form;
    }
    return nullptr;
}

// The read's command lines over a plain blocking connection, no pause:
// what the exchange itself costs on this link. -1 on any failure.
double bareRead(const QByteArray& ip)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(23);
    to.sin_addr.s_addr = inet_addr(ip.constData());
    QElapsedTimer clock;
    clock.start();
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0)
        return -1;
    auto exchange = [fd](const char* line) {
        ::send(fd, line, std::strlen(line), MSG_NOSIGNAL);
        std::string reply;
        char buffer[256];
        while (reply.find("\r\n") == std::string::npos) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 2000) <= 0)
                return false;
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                return false;
            reply.append(buffer, static_cast<size_t>(n));
        }
        return reply[0] == '%';
    };
    bool ok = exchange("$LOG\r\n");
    for (const ReadStep& step : readSteps())
        ok = ok && exchange(step.request);
    const double ms = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    ::close(fd);
    return ok ? ms : -1;
}

void addRow(TmainForm& main, const QByteArray& ip, const QByteArray& mac, const QByteArray& name)
{
    DiscoveryRecord r;
    std::memset(&r, 0, sizeof r);
    std::strncpy(r.macText, mac.constData(), 17);
    std::strncpy(r.ipText, ip.constData(), 19);
    std::strncpy(r.modelName, "TX-110", 19);
    std::strncpy(r.deviceName, name.constData(), 19);
    std::strncpy(r.deviceMode, "normal", 9);
    std::strncpy(r.passwordState, "None", 9);
    main.addDevice(r);
    main.selectDeviceRow(main.visibleDeviceCount() - 1);
}

struct BedModule {
    QString name, lan, mac, ip, deviceName;
};

QList<BedModule> bedModules()
{
    QFile f(qEnvironmentVariable("TVX_BED_INFO"));
    QList<BedModule> out;
    if (!f.open(QIODevice::ReadOnly))
        return out;
    for (const QJsonValue v : QJsonDocument::fromJson(f.readAll()).object()["modules"].toArray()) {
        const QJsonObject m = v.toObject();
        out.append({m["name"].toString(), m["lan"].toString(), m["mac"].toString().toUpper(),
                    m["ip"].toString(), m["deviceName"].toString()});
    }
    return out;
}

int readBench(TmainForm& main, PrintingPrompter& prompter, const QStringList& args)
{
    QString module;
    int runs = 5;
    for (int i = 2; i + 1 < args.size(); i += 2) {
        if (args[i] == "--module")
            module = args[i + 1];
        else if (args[i] == "--runs")
            runs = args[i + 1].toInt();
    }
    QByteArray ip, mac, name;
    for (const BedModule& m : bedModules()) {
        if (m.name == module) {
            ip = m.ip.toLatin1();
            mac = m.mac.toLatin1();
            name = m.deviceName.toLatin1();
        }
    }
    if (ip.isEmpty()) {
        std::fprintf(stderr, "module %s is not in the bed (TVX_BED_INFO)\n", qPrintable(module));
        return 2;
    }
    PaintWatch watch;
    qApp->installEventFilter(&watch);
    for (int run = 0; run < runs; ++run) {
        main.clearDevices();
        addRow(main, ip, mac, name);
        settle(200);
        QTreeView* list = main.deviceList();
        watch.paintedNs = -1;
        watch.armed = true;
        watch.clock.start();
        // Through the list's own signal, as a double-click on the row gives it.
        emit list->doubleClicked(list->selectionModel()->selectedRows(2).value(0));
        const double filledMs = static_cast<double>(watch.clock.nsecsElapsed()) / 1e6;
        QElapsedTimer limit;
        limit.start();
        while (watch.paintedNs < 0 && limit.elapsed() < 3000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        watch.armed = false;
        const double paintedMs = static_cast<double>(watch.paintedNs) / 1e6;

        TcfgForm* form = configWindow(mac);
        const bool right = form && QByteArray(form->record().devName) == name
            && QByteArray(form->record().lanIp) == ip && prompter.shown == 0;
        // The bare client runs after the utility has let the module go.
        QElapsedTimer wait;
        wait.start();
        while (WorkerThread::liveCount() > 0 && wait.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        const double bare = bareRead(ip);
        std::printf("read run=%d ok=%d filled_ms=%.2f painted_ms=%.2f bare_ms=%.2f\n", run + 1,
                    right && watch.paintedNs >= 0 && bare >= 0, filledMs, paintedMs, bare);
        std::fflush(stdout);
        if (form) {
            main.markDeviceOpen(mac.constData(), false);
            form->hide();
            form->deleteLater();
        }
        settle(200);
    }
    return 0;
}

int searchBench(TmainForm& main, PrintingPrompter& prompter, TudpPrgForm* progress)
{
    const QList<BedModule> modules = bedModules();
    if (modules.isEmpty()) {
        std::fprintf(stderr, "no bed description (TVX_BED_INFO)\n");
        return 2;
    }
    // The UI thread's responsiveness: how much later than its 10 ms a precise
    // timer fires, while idle and while the search runs.
    std::vector<double> idle, during;
    std::vector<double>* samples = &idle;
    QElapsedTimer clock;
    clock.start();
    qint64 last = -1;
    // When, in the search, the latest tick came (ms since its start).
    qint64 searchStart = -1;
    double worstLate = -1, worstAt = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(10);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (last >= 0) {
            const double late = std::max(0.0, static_cast<double>(now - last) / 1e6 - 10.0);
            samples->push_back(late);
            if (samples == &during && late > worstLate) {
                worstLate = late;
                worstAt = static_cast<double>(now - searchStart) / 1e6;
            }
        }
        last = now;
    });
    tick.start();
    settle(3000);

    // Each send steps the search's bar once, in order with the rows it adds:
    // the rows listed between two steps are the ones that send brought.
    std::vector<int> rowsAtStep;
    if (auto* bar =
            progress ? progress->findChild<QProgressBar*>(QStringLiteral("prgBar")) : nullptr)
        QObject::connect(bar, &QProgressBar::valueChanged,
                         [&] { rowsAtStep.push_back(main.deviceCount()); });

    const long rssBefore = bench::residentKiB();
    auto* app = static_cast<BenchApplication*>(qApp);
    samples = &during;
    last = -1;
    searchStart = clock.nsecsElapsed();
    QElapsedTimer searchClock;
    searchClock.start();
    app->counting = true;
    const double cpuBefore = threadCpuMs();
    main.startSearch(true, nullptr);
    const double uiCpuMs = threadCpuMs() - cpuBefore;
    app->counting = false;
    const double searchMs = static_cast<double>(searchClock.nsecsElapsed()) / 1e6;
    samples = &idle;
    last = -1;

    std::set<QString> listed;
    for (int i = 0; i < main.deviceCount(); ++i)
        listed.insert(main.deviceCell(i, CellMac).toUpper());
    std::map<QString, int> perLan, missingPerLan;
    QStringList missing;
    for (const BedModule& m : modules) {
        ++perLan[m.lan];
        if (!listed.count(m.mac)) {
            ++missingPerLan[m.lan];
            missing << m.name + "/" + m.mac;
        }
    }
    settle(5000); // idle with the rows listed
    const long rssAfter = bench::residentKiB();

    QString steps;
    for (size_t i = 1; i < rowsAtStep.size(); ++i)
        steps += QString::number(rowsAtStep[i] - rowsAtStep[i - 1]) + ",";
    std::printf("search listed=%d of=%lld search_ms=%.1f late_median_ms=%.3f late_p99_ms=%.3f "
                "late_max_ms=%.3f late_max_at_ms=%.0f late_samples=%zu idle_median_ms=%.3f "
                "idle_p99_ms=%.3f "
                "idle_max_ms=%.3f ui_cpu_ms=%.1f event_max_ms=%.2f event_max=%s rss_empty_kib=%ld "
                "rss_listed_kib=%ld rows_per_step=%s messages=%d\n",
                main.deviceCount(), static_cast<long long>(modules.size()), searchMs,
                bench::median(during), bench::quantile(during, 0.99), bench::quantile(during, 1.0),
                worstAt, during.size(), bench::median(idle), bench::quantile(idle, 0.99),
                bench::quantile(idle, 1.0), uiCpuMs, app->longest, app->longestWhat.constData(),
                rssBefore, rssAfter, qPrintable(steps), prompter.shown);
    for (const auto& [lan, n] : perLan)
        std::printf("search lan=%s modules=%d missing=%d\n", qPrintable(lan), n,
                    missingPerLan[lan]);
    if (!missing.isEmpty())
        std::printf("search missing: %s\n", qPrintable(missing.join(' ')));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    BenchApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: tarvanix-bench-windows read|search ...\n");
        return 2;
    }
    PrintingPrompter prompter;
    auto tables = std::make_shared<SystemNetTables>(
        SystemNetTables::defaultHelperPath(QCoreApplication::applicationDirPath().toStdString()));
    tables->startHelper();
    AppEnvironment env;
    env.prompter = &prompter;
    env.netTables = tables;
    auto main = createAppWindows(env);
    // Goes before the windows, once it has waited for the workers.
    WorkerOwner workers;
    main->show();
    settle(500);
    if (!main->networkReady())
        return 1;

    int rc = 2;
    if (args[1] == "read")
        rc = readBench(*main, prompter, args);
    else if (args[1] == "search")
        rc = searchBench(*main, prompter, main->findChild<TudpPrgForm*>());
    return rc;
}
