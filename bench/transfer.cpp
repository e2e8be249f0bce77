// The upgrade's data phase against a simulated module: the write request and
// the 1024-byte blocks, sent by the worker's FirmwareTransfer from a thread of
// its own while the UI thread runs the upgrade's progress window, as in the
// utility. The fixed waits before it (5 s after "$SEF", 0.5 s before the
// request) are left out: they are the module's, the same for every sender.
//
//   tarvanix-bench-transfer --file F --control SOCK --module M
//       [--host A] [--cmd-port P] [--tftp-port P] [--progress paced|every|none]
//   tarvanix-bench-transfer --arm-only ...    (for another sender)
//   tarvanix-bench-transfer --check SIZE ...  (the module took SIZE bytes)
//
// --progress paced: the window gets what the eye can see (the default pacing);
// every: each block's label and step is handed to the UI thread; none: no
// window at all, nothing handed over.
#include "BenchStats.h"
#include "SimLink.h"

#include "firmware/FirmwareImage.h"
#include "firmware/FirmwareTransfer.h"
#include "firmware/Upgradeprgfrm.h"
#include "handover/WorkerLink.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMetaObject>

#include <atomic>
#include <cstdio>
#include <thread>

using namespace tvx;

namespace {

// Counts what reaches the window, then shows it there.
class CountingView : public QObject, public ProgressView {
public:
    explicit CountingView(ProgressForm& form) : form_(form) {}
    void setMessage(const QString& text) override
    {
        ++applied;
        form_.setMessage(text);
    }
    void setPosition(int position) override
    {
        ++applied;
        form_.setPosition(position);
    }
    void stepIt() override
    {
        ++applied;
        form_.stepIt();
    }
    void stepBy(int delta) override
    {
        ++applied;
        form_.stepBy(delta);
    }
    void closeProgress() override { form_.closeProgress(); }
    long applied = 0;

private:
    ProgressForm& form_;
};

struct Options {
    QString file;
    std::string control;
    std::string module = "m1";
    uint32_t host = htonl(INADDR_LOOPBACK);
    uint16_t cmdPort = 23;
    uint16_t tftpPort = 69;
    QString progress = QStringLiteral("paced");
    bool armOnly = false;
    long long check = -1;
};

Options parse(const QStringList& args)
{
    Options o;
    for (int i = 1; i < args.size(); ++i) {
        const QString a = args[i];
        const QString v = i + 1 < args.size() ? args[i + 1] : QString();
        if (a == "--file")
            o.file = v, ++i;
        else if (a == "--control")
            o.control = v.toStdString(), ++i;
        else if (a == "--module")
            o.module = v.toStdString(), ++i;
        else if (a == "--host")
            o.host = inet_addr(v.toLatin1().constData()), ++i;
        else if (a == "--cmd-port")
            o.cmdPort = static_cast<uint16_t>(v.toUInt()), ++i;
        else if (a == "--tftp-port")
            o.tftpPort = static_cast<uint16_t>(v.toUInt()), ++i;
        else if (a == "--progress")
            o.progress = v, ++i;
        else if (a == "--arm-only")
            o.armOnly = true;
        else if (a == "--check")
            o.check = v.toLongLong(), ++i;
    }
    return o;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const Options o = parse(app.arguments());

    if (o.check >= 0) {
        // The module restarts right after the last block (flash=0): let that
        // begin, then wait until it is back, so the next run finds it ready.
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        bench::waitUntilUp(o.control, o.module, 15000);
        bool ok = false;
        const std::string state = bench::controlQuery(o.control, "show " + o.module, &ok);
        const std::string last = bench::field(state, "lastTransfer");
        std::printf("lastTransfer=%s\n", last.c_str());
        return ok && last.rfind("ok " + std::to_string(o.check) + " bytes", 0) == 0 ? 0 : 1;
    }
    if (!bench::waitUntilUp(o.control, o.module, 15000)) {
        std::fprintf(stderr, "module %s is not up\n", o.module.c_str());
        return 1;
    }
    if (o.armOnly) {
        const int fd = bench::armTransfer(o.host, o.cmdPort);
        if (fd < 0)
            return 1;
        ::close(fd);
        return 0;
    }

    TupgradePrgForm form(nullptr);
    CountingView view(form);
    const bool windowed = o.progress != QLatin1String("none");
    auto token = std::make_shared<RunToken>();
    WorkerLink link(token, windowed ? &view : nullptr, nullptr, {}, form.barMaximum());

    TransferTimings timings;
    timings.requestPauseMs = 0; // the fixed 0.5 s is not part of the data phase
    if (o.progress == QLatin1String("every"))
        timings.progressIntervalMs = 0;

    std::atomic<int> result{1};
    std::atomic<long long> dataNs{0};
    QElapsedTimer sinceWorkerEnd;
    const QPointer<const QObject> formAlive(&form);
    std::thread worker([&] {
        const int connection = bench::armTransfer(o.host, o.cmdPort);
        FirmwareImage image;
        if (connection >= 0 && image.open(QFile::encodeName(o.file).constData())) {
            FirmwareTransfer transfer(link, timings);
            QElapsedTimer clock;
            clock.start();
            int r = transfer.requestWrite(o.host, o.tftpPort, "fw.aff", image.size());
            if (r == 0)
                r = transfer.sendImage(image.fd(), image.size());
            dataNs = clock.nsecsElapsed();
            result = r;
        }
        if (connection >= 0)
            ::close(connection);
        sinceWorkerEnd.start();
        // Queued behind every update the transfer handed over: the window has
        // shown them all when this runs.
        WorkerLink::postToUiThread(formAlive, [&form] { form.closeProgress(); });
    });

    form.prepare();
    form.exec();
    const double uiLagMs = static_cast<double>(sinceWorkerEnd.nsecsElapsed()) / 1e6;
    worker.join();
    std::printf("result=%d data_ms=%.2f ui_lag_ms=%.2f window_updates=%ld label=\"%s\" bar=%d\n",
                result.load(), static_cast<double>(dataNs.load()) / 1e6, uiLagMs, view.applied,
                qPrintable(form.message()), form.barPosition());
    return result == 0 ? 0 : 1;
}
