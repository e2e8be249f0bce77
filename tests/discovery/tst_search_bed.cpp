// Searches through the real main window inside the test bed: modules on two LANs, each request
// on its own link, replies by broadcast, duplicates, a module seen on both links, malformed
// replies, search by IP address, cancel, and a host whose links are down.
#include "BedWindows.h"
#include "TestBed.h"

#include "app/AppWindows.h"
#include "common/ModalWaits.h"
#include "common/ScriptedPrompter.h"
#include "discovery/Prgfrm.h"
#include "discovery/Sipdlg.h"
#include "handover/WorkerOwner.h"
#include "handover/WorkerThread.h"
#include "net/SystemNetTables.h"
#include "widgets/Ipv4AddressEdit.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

using namespace tvx;
using tvx::test::BedModule;
using tvx::test::ScriptedPrompter;
using tvx::test::TestBed;

namespace {

// One row of the device list, by column.
struct Row {
    QString number, name, mac, ip, password, model, mode;
};

// What a search showed while it ran.
struct SearchRun {
    qint64 ms = 0;
    QStringList texts; // distinct progress texts, in order
    QList<int> positions; // distinct bar positions, in order
};

uint32_t hostOrder(const QString& dotted)
{
    in_addr a{};
    inet_pton(AF_INET, dotted.toLatin1().constData(), &a);
    return ntohl(a.s_addr);
}

} // namespace

class TestSearchBed : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void broadcastListsEveryModuleOnce();
    void malformedRepliesIgnored();
    void searchByIpStopsAtFirstReply();
    void searchByIpWithoutModule();
    void searchByIpWithoutAddressField();
    void cancelDuringBroadcast();
    void bindFailureKeepsRowsFound();
    void linksDownSearchesLoopbackOnly();

private:
    void clickTree(const QString& text);
    SearchRun runSearch(const QString& item, const std::function<void()>& onTick = {});
    // Sets the address in the "Search by IP" dialog once it is open and presses OK, while the
    // guard lives.
    [[nodiscard]] std::unique_ptr<QTimer> answerIpDialog(const QString& dotted);
    QList<Row> rows() const;
    bool treeHas(const QString& text) const;
    QList<BedModule> answering() const;
    // The source endpoints of every discovery request a module received.
    QStringList requestSources(const QString& module) const;
    QString sourceOf(const QString& lan) const;

    TestBed bed_;
    ScriptedPrompter prompter_;
    std::unique_ptr<SystemNetTables> tables_;
    std::unique_ptr<TmainForm> form_;
    TudpPrgForm* progress_ = nullptr;
    QStringList silent_;

    // Goes first: every worker ends before what it uses.
    WorkerOwner workers_;
};

void TestSearchBed::initTestCase()
{
    if (!bed_.isValid())
        QSKIP(qPrintable(bed_.error()));
    form_ = test::showBedWindows(prompter_, tables_);
    QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
    QVERIFY(form_->networkReady());
    progress_ = form_->windows().udpPrgForm;
    QVERIFY(progress_);
    for (const BedModule& m : bed_.modules()) {
        if (m.name.startsWith(QStringLiteral("bad")))
            silent_ << m.name;
    }
    QCOMPARE(silent_.size(), 4);
}

void TestSearchBed::init()
{
    prompter_.clear();
    for (const BedModule& m : bed_.modules())
        QVERIFY(bed_.clearTranscript(m.name));
    QTRY_VERIFY_WITH_TIMEOUT(!form_->searchBusy(), 10000);
}

void TestSearchBed::cleanupTestCase()
{
    if (form_) {
        workers_.stop();
        workers_.waitFor(std::chrono::seconds(10));
        form_.reset();
    }
}

void TestSearchBed::clickTree(const QString& text)
{
    QTreeWidget* tree = form_->funcTree();
    const auto items = tree->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
    QVERIFY2(!items.isEmpty(), qPrintable(text));
    const QRect r = tree->visualItemRect(items.first());
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, r.center());
}

SearchRun TestSearchBed::runSearch(const QString& item, const std::function<void()>& onTick)
{
    SearchRun run;
    QTimer watch;
    watch.setInterval(5);
    connect(&watch, &QTimer::timeout, this, [&] {
        if (!progress_->isVisible())
            return;
        const QString text = progress_->message();
        if (!text.isEmpty() && (run.texts.isEmpty() || run.texts.last() != text))
            run.texts << text;
        const int position = progress_->barPosition();
        if (run.positions.isEmpty() || run.positions.last() != position)
            run.positions << position;
        if (onTick)
            onTick();
    });
    watch.start();
    QElapsedTimer timer;
    timer.start();
    clickTree(item); // returns when the progress window has closed
    run.ms = timer.elapsed();
    watch.stop();
    return run;
}

std::unique_ptr<QTimer> TestSearchBed::answerIpDialog(const QString& dotted)
{
    return test::whenModal([dotted](QWidget* modal) {
        auto* dialog = qobject_cast<TsIPDlg*>(modal);
        if (!dialog || !dialog->isVisible())
            return false;
        if (Ipv4AddressEdit* control = dialog->addressControl())
            control->setAddress(hostOrder(dotted));
        dialog->findChild<QPushButton*>(QStringLiteral("OKBtn"))->click();
        return true;
    });
}

QList<Row> TestSearchBed::rows() const
{
    QList<Row> out;
    const QAbstractItemModel* list = form_->deviceList()->model();
    for (int i = 0; i < list->rowCount(); ++i) {
        const auto text = [&](int c) { return list->index(i, c).data().toString(); };
        out.append({text(0), text(1), text(2), text(3), text(4), text(5), text(6)});
    }
    return out;
}

bool TestSearchBed::treeHas(const QString& text) const
{
    return !form_->funcTree()->findItems(text, Qt::MatchExactly | Qt::MatchRecursive).isEmpty();
}

QList<BedModule> TestSearchBed::answering() const
{
    QList<BedModule> out;
    for (const BedModule& m : bed_.modules()) {
        if (!silent_.contains(m.name))
            out << m;
    }
    return out;
}

QStringList TestSearchBed::requestSources(const QString& module) const
{
    QStringList out;
    for (int id : bed_.exchanges(module, QStringLiteral("disc"))) {
        if (bed_.received(module, id) != QByteArray("\x55\x01\xAA", 3))
            continue;
        for (const auto& e : bed_.transcript(module)) {
            if (e.exchange == id && e.event == QStringLiteral("open"))
                out << e.text;
        }
    }
    return out;
}

QString TestSearchBed::sourceOf(const QString& lan) const
{
    for (int i = 0; i < bed_.lans().size(); ++i) {
        if (bed_.lans()[i].name == lan)
            return QStringLiteral("%1:%2").arg(bed_.lans()[i].hostAddress).arg(16384 + i);
    }
    return {};
}

// Every answering module on both LANs exactly once, the module seen on both links with its
// first answer, each request from its own link's address and port only, the progress texts,
// the bar and the timing of a search with two local addresses.
void TestSearchBed::broadcastListsEveryModuleOnce()
{
    QCOMPARE(bed_.lans().size(), 2);
    QString found;
    const SearchRun run = runSearch(QStringLiteral("Broadcast"), [&] {
        if (found.isEmpty() && progress_->message().endsWith(QStringLiteral("found"))) {
            found = progress_->message();
            progress_->grab().save(QDir::temp().filePath(QStringLiteral("tvx-udpprgform.png")));
        }
    });
    form_->grab().save(QDir::temp().filePath(QStringLiteral("tvx-mainform-search.png")));

    QCOMPARE(prompter_.count(), 0);
    const QList<Row> listed = rows();
    QMap<QString, Row> byMac;
    for (const Row& r : listed) {
        QVERIFY2(!byMac.contains(r.mac), qPrintable(r.mac + QStringLiteral(" listed twice")));
        byMac.insert(r.mac, r);
    }
    int lan1Count = 0;
    for (const BedModule& m : answering()) {
        if (m.name == QStringLiteral("twin2"))
            continue;
        if (m.lan == QStringLiteral("lan1"))
            ++lan1Count;
        QVERIFY2(byMac.contains(m.mac), qPrintable(m.name + QStringLiteral(" not listed")));
        const Row r = byMac.value(m.mac);
        QCOMPARE(r.ip, m.ip);
        QCOMPARE(r.model, m.model);
        QCOMPARE(r.password, m.password.isEmpty() ? QStringLiteral("None") : QStringLiteral("Yes"));
        QCOMPARE(r.mode, m.name == QStringLiteral("a3") ? QString() : QStringLiteral("Normal"));
        if (m.name == QStringLiteral("b2"))
            QCOMPARE(r.name, (m.deviceName + QStringLiteral("-") + QString(24, 'L')).left(19));
        else
            QCOMPARE(r.name, m.deviceName);
    }
    QCOMPARE(listed.size(), answering().size() - 1);
    QCOMPARE(byMac.value(bed_.module(QStringLiteral("twin1")).mac).name,
             QStringLiteral("TwinFirst"));
    for (int i = 0; i < listed.size(); ++i)
        QCOMPARE(listed[i].number, QString::number(i + 1));

    // Two requests per module, from its own LAN's address and port, none from the other.
    for (const BedModule& m : bed_.modules()) {
        const QString own = sourceOf(m.lan);
        QCOMPARE(requestSources(m.name), (QStringList{own, own}));
    }
    // The module that answers by broadcast was reached that way.
    bool toBroadcast = false;
    for (const auto& e : bed_.transcript(QStringLiteral("a2"))) {
        if (e.event == QStringLiteral("close")
            && e.text == QStringLiteral("to 255.255.255.255:16384"))
            toBroadcast = true;
    }
    QVERIFY(toBroadcast);
    // The module that answers three times sent three copies each time.
    const auto b1 = bed_.exchanges(QStringLiteral("b1"), QStringLiteral("disc"));
    QVERIFY(!b1.isEmpty());
    QCOMPARE(bed_.sentChunks(QStringLiteral("b1"), b1.first()).size(), 3);

    // The last text is set just before the window closes; a slow run may still see it.
    const QString lastText = QStringLiteral("Broadcast search...%1 found").arg(listed.size());
    QStringList texts = run.texts;
    if (texts.size() == 3 && texts.last() == lastText)
        texts.removeLast();
    QVERIFY2(texts
                 == (QStringList{QStringLiteral("Broadcast search..."),
                                 QStringLiteral("Broadcast search...%1 found").arg(lan1Count)}),
             qPrintable(run.texts.join(QStringLiteral(" | "))));
    QCOMPARE(progress_->message(), lastText);
    QList<int> positions = run.positions;
    positions.removeAll(20); // the prepared position may be gone before the first look
    positions.removeAll(100); // the full bar, like the last text, may be seen before the close
    QCOMPARE(positions, (QList<int>{25, 35, 45, 55, 65}));
    QCOMPARE(progress_->barPosition(), 100);
    // 1 s pause, then per address two sends each followed by 2 s of waiting.
    QVERIFY2(run.ms >= 8800 && run.ms < 11500, qPrintable(QString::number(run.ms)));

    QVERIFY(treeHas(QStringLiteral("Upgrade")));
    QVERIFY(treeHas(QStringLiteral("Reboot")));
    QVERIFY(!form_->searchBusy());
    QCOMPARE(form_->funcTree()->selectedItems().first()->text(0), QStringLiteral("Configurate"));
}

// Each kind of malformed reply is dropped without a message while the valid replies of the
// same search are listed.
void TestSearchBed::malformedRepliesIgnored()
{
    const QStringList kinds = {QStringLiteral("start"),   QStringLiteral("end"),
                               QStringLiteral("type5"),   QStringLiteral("type13"),
                               QStringLiteral("overrun"), QStringLiteral("fixed"),
                               QStringLiteral("mac"),     QStringLiteral("noend")};
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < silent_.size(); ++i) {
            QVERIFY(bed_.clearFaults(silent_[i]));
            QVERIFY(bed_.setFault(silent_[i], QStringLiteral("disc-bad=") + kinds[round * 4 + i]));
        }
        runSearch(QStringLiteral("Broadcast"));
        QCOMPARE(prompter_.count(), 0);
        QSet<QString> macs;
        for (const Row& r : rows())
            macs.insert(r.mac);
        for (const QString& name : silent_) {
            QVERIFY(!macs.contains(bed_.module(name).mac));
            // They did answer: only the parser kept them out.
            const auto ids = bed_.exchanges(name, QStringLiteral("disc"));
            QVERIFY(!ids.isEmpty());
            QVERIFY(!bed_.sent(name, ids.first()).isEmpty());
        }
        QCOMPARE(macs.size(), answering().size() - 1);
        for (const BedModule& m : bed_.modules())
            QVERIFY(bed_.clearTranscript(m.name));
    }
    for (const QString& name : silent_) {
        QVERIFY(bed_.clearFaults(name));
        QVERIFY(bed_.setFault(name, QStringLiteral("disc-silent")));
    }
}

// The search ends with the first accepted reply: a module on the first LAN is found after one
// send; one on the second LAN after the first address has had its two sends, and the second
// address is asked only once.
void TestSearchBed::searchByIpStopsAtFirstReply()
{
    const BedModule a1 = bed_.module(QStringLiteral("a1"));
    const auto answer = answerIpDialog(a1.ip);
    SearchRun run = runSearch(QStringLiteral("Search by IP"));
    QCOMPARE(prompter_.count(), 0);
    QCOMPARE(rows().size(), 1);
    QCOMPARE(rows().first().mac, a1.mac);
    QCOMPARE(rows().first().ip, a1.ip);
    QCOMPARE(run.texts.first(), QStringLiteral("search %1...").arg(a1.ip));
    QVERIFY2(run.ms >= 950 && run.ms < 2500, qPrintable(QString::number(run.ms)));
    QCOMPARE(requestSources(QStringLiteral("a1")), QStringList{sourceOf(QStringLiteral("lan1"))});
    QVERIFY(treeHas(QStringLiteral("Upgrade")));

    // A module that answers twice is still listed once and ends the search.
    for (const BedModule& m : bed_.modules())
        QVERIFY(bed_.clearTranscript(m.name));
    const BedModule b1 = bed_.module(QStringLiteral("b1"));
    const auto again = answerIpDialog(b1.ip);
    run = runSearch(QStringLiteral("Search by IP"));
    QCOMPARE(rows().size(), 1);
    QCOMPARE(rows().first().mac, b1.mac);
    QVERIFY2(run.ms >= 4800 && run.ms < 6800, qPrintable(QString::number(run.ms)));
    QCOMPARE(requestSources(QStringLiteral("b1")), QStringList{sourceOf(QStringLiteral("lan2"))});
    // Nothing else on the network was asked.
    for (const BedModule& m : bed_.modules()) {
        if (m.name != QStringLiteral("b1"))
            QVERIFY2(requestSources(m.name).isEmpty(), qPrintable(m.name));
    }
}

void TestSearchBed::searchByIpWithoutModule()
{
    const auto answer = answerIpDialog(QStringLiteral("192.0.2.99"));
    const SearchRun run = runSearch(QStringLiteral("Search by IP"));
    QCOMPARE(prompter_.count(), 0);
    QVERIFY(rows().isEmpty());
    QVERIFY(!treeHas(QStringLiteral("Upgrade")));
    QVERIFY(!treeHas(QStringLiteral("Reboot")));
    QCOMPARE(run.texts, QStringList{QStringLiteral("search 192.0.2.99...")});
    // 1 + 4 x 2 local addresses.
    QVERIFY2(run.ms >= 8800 && run.ms < 10500, qPrintable(QString::number(run.ms)));
}

// Without an address field the dialog closes with OK and no address: no search starts and the
// list of the last search stays.
void TestSearchBed::searchByIpWithoutAddressField()
{
    const auto answer = answerIpDialog(bed_.module(QStringLiteral("a1")).ip);
    runSearch(QStringLiteral("Search by IP"));
    QCOMPARE(rows().size(), 1);

    TsIPDlg* dialog = form_->windows().sIPDlg;
    dialog->setControlFactory([](QWidget*) -> Ipv4AddressEdit* { return nullptr; });
    for (const BedModule& m : bed_.modules())
        QVERIFY(bed_.clearTranscript(m.name));
    const auto again = answerIpDialog(QStringLiteral("192.0.2.11"));
    const SearchRun run = runSearch(QStringLiteral("Search by IP"));
    dialog->setControlFactory([](QWidget* parent) { return new Ipv4AddressEdit(parent); });

    QCOMPARE(prompter_.count(), 1);
    QVERIFY(prompter_.texts().first().startsWith(QStringLiteral("create ip control failed: ")));
    QVERIFY(run.texts.isEmpty());
    QCOMPARE(rows().size(), 1);
    QCOMPARE(WorkerThread::liveCount(), 0);
    QVERIFY(requestSources(QStringLiteral("a1")).isEmpty());
}

// Cancel closes the progress window at once; the rows listed so far stay, "Upgrade" and
// "Reboot" appear, and "Broadcast" does nothing until the worker has ended.
void TestSearchBed::cancelDuringBroadcast()
{
    QElapsedTimer sinceCancel;
    const SearchRun run = runSearch(QStringLiteral("Broadcast"), [&] {
        if (!sinceCancel.isValid() && form_->deviceCount() >= 2) {
            sinceCancel.start();
            progress_->findChild<QPushButton*>(QStringLiteral("cancelBtn"))->click();
        }
    });
    QVERIFY(sinceCancel.isValid());
    QVERIFY2(sinceCancel.elapsed() < 300, qPrintable(QString::number(sinceCancel.elapsed())));
    QVERIFY(run.ms < 4000);
    QVERIFY(!progress_->isVisible());
    const int kept = form_->deviceCount();
    QVERIFY(kept >= 2);
    QVERIFY(treeHas(QStringLiteral("Upgrade")));
    QVERIFY(treeHas(QStringLiteral("Reboot")));
    QVERIFY(form_->searchBusy());

    // The worker is still ending: a new broadcast does nothing.
    QElapsedTimer click;
    click.start();
    clickTree(QStringLiteral("Broadcast"));
    QVERIFY(click.elapsed() < 500);
    QVERIFY(!progress_->isVisible());
    QCOMPARE(form_->deviceCount(), kept);
    QVERIFY(treeHas(QStringLiteral("Upgrade")));

    // It ends within one wait and clears the flag itself; nothing of it reaches the list.
    QTRY_VERIFY_WITH_TIMEOUT(!form_->searchBusy(), 3000);
    QTRY_COMPARE(WorkerThread::liveCount(), 0);
    QCoreApplication::processEvents();
    QCOMPARE(form_->deviceCount(), kept);
    QCOMPARE(prompter_.count(), 0);
    // The second LAN was never asked.
    QVERIFY(requestSources(QStringLiteral("b1")).isEmpty());

    // And a new search runs normally again.
    runSearch(QStringLiteral("Broadcast"));
    QCOMPARE(form_->deviceCount(), answering().size() - 1);
}

// A source port already taken ends the search with its message; the rows found on the
// addresses before stay and the device actions appear.
void TestSearchBed::bindFailureKeepsRowsFound()
{
    const int blocker = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    QVERIFY(blocker >= 0);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(16385);
    QCOMPARE(::bind(blocker, reinterpret_cast<sockaddr*>(&any), sizeof any), 0);
    const SearchRun run = runSearch(QStringLiteral("Broadcast"));
    ::close(blocker);

    QCOMPARE(prompter_.texts(), QStringList{QStringLiteral("bind failed: %1").arg(EADDRINUSE)});
    QCOMPARE(prompter_.shown().first().caption, QStringLiteral("Error"));
    int lan1Count = 0;
    for (const BedModule& m : answering())
        lan1Count += m.lan == QStringLiteral("lan1") ? 1 : 0;
    QCOMPARE(form_->deviceCount(), lan1Count);
    QVERIFY(treeHas(QStringLiteral("Upgrade")));
    QVERIFY(!progress_->isVisible());
    QCOMPARE(progress_->barPosition(), 100);
    QVERIFY(!form_->searchBusy());
    QVERIFY2(run.ms >= 4800 && run.ms < 6500, qPrintable(QString::number(run.ms)));
    QVERIFY(requestSources(QStringLiteral("b1")).isEmpty());
}

// With every link down the host has only its loopback address: the search asks it alone and
// ends after the pause and its two waits, without a message and with an empty list.
void TestSearchBed::linksDownSearchesLoopbackOnly()
{
    const auto setLinks = [this](const char* state) {
        for (const auto& lan : bed_.lans()) {
            QCOMPARE(QProcess::execute(QStringLiteral("ip"),
                                       {QStringLiteral("link"), QStringLiteral("set"),
                                        lan.hostInterface, QString::fromLatin1(state)}),
                     0);
        }
    };
    setLinks("down");
    const SearchRun run = runSearch(QStringLiteral("Broadcast"));
    setLinks("up");

    QCOMPARE(prompter_.count(), 0);
    QVERIFY(rows().isEmpty());
    QVERIFY(!treeHas(QStringLiteral("Upgrade")));
    QVERIFY2(run.ms >= 4800 && run.ms < 6500, qPrintable(QString::number(run.ms)));
    for (const BedModule& m : bed_.modules())
        QVERIFY(requestSources(m.name).isEmpty());
}

QTEST_MAIN(TestSearchBed)
#include "tst_search_bed.moc"
