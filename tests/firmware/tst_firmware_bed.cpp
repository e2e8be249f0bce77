// Upgrade and reboot from the real main window against simulated modules in
// the network test bed: what reaches the module, what the user is shown, and
// that nothing is left behind in the host's tables or in the process.
#include "BedWindows.h"
#include "TestBed.h"
#include "app/AppWindows.h"
#include "common/ModalWaits.h"
#include "common/ScriptedPrompter.h"
#include "discovery/DeviceRegistry.h"
#include "firmware/TftpWrite.h"
#include "firmware/Upgradeprgfrm.h"
#include "handover/FilePicker.h"
#include "handover/WorkerOwner.h"
#include "handover/WorkerThread.h"
#include "net/SystemNetTables.h"
#include "protocol/CommandConnection.h"

#include <QDir>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <QtTest>

#include <cstring>

using namespace tvx;
using tvx::test::TestBed;

namespace {

const QString kUpgradeOk =
    QStringLiteral("Upgrade firmware OK! \r\nDevice will reboot 5 seconds later! \r\n"
                   "Broadcast search to refresh table?");
const QString kRebootOk =
    QStringLiteral("Device rebooting now! \r\nBroadcast search to refresh table?");

DeviceRequest requestFor(const test::BedModule& m, const QString& path = {},
                         const QString& password = {})
{
    DeviceRequest r;
    std::memset(&r, 0, sizeof r);
    std::strncpy(r.ipText, m.ip.toLatin1().constData(), 19);
    std::strncpy(r.macText, m.mac.toLatin1().constData(), 17);
    std::strncpy(r.password, password.toLatin1().constData(), 8);
    std::strncpy(r.firmwarePath, QFile::encodeName(path).constData(), 255);
    return r;
}

// The file dialogs' seam: every pick is the path given.
class FixedPicker : public FilePicker {
public:
    QString path;
    QString openFile(QWidget*, const QString&, const QString&, const QString&) override
    {
        return path;
    }
    QString saveFile(QWidget*, const QString&, const QString&, const QString&) override
    {
        return {};
    }
};

// The file descriptors of this process, with what each names.
QStringList openDescriptors()
{
    QStringList out;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString& fd : fds.entryList(QDir::NoDotAndDotDot | QDir::System | QDir::Files))
        out << QFile::symLinkTarget(fds.filePath(fd));
    return out;
}

} // namespace

class TestFirmwareBed : public QObject {
    Q_OBJECT

    TestBed bed_;
    test::ScriptedPrompter prompter_;
    std::unique_ptr<SystemNetTables> tables_;
    std::unique_ptr<TmainForm> main_;
    QTemporaryDir dir_;

    QString imageFile(const QString& name, const QByteArray& bytes)
    {
        const QString path = dir_.filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
            return {};
        return path;
    }

    int restarts(const QString& module) { return bed_.state(module).value("restarts").toInt(); }

    // The image as the module took it: the data packets of its last transfer,
    // a block sent again counted once.
    QByteArray receivedImage(const QString& module, QByteArray* request)
    {
        const QList<int> transfers = bed_.exchanges(module, QStringLiteral("tftp"));
        if (transfers.isEmpty())
            return {};
        QByteArray image;
        int last = -1;
        for (const QByteArray& d : bed_.receivedChunks(module, transfers.last())) {
            if (d.startsWith(QByteArray("\x00\x02", 2))) {
                *request = d;
                continue;
            }
            const int block = (uint8_t(d[2]) << 8) | uint8_t(d[3]);
            if (d.startsWith(QByteArray("\x00\x03", 2)) && block != last) {
                image += d.mid(4);
                last = block;
            }
        }
        return image;
    }

    // Lists the bed's modules by name, in that order, and selects them all;
    // a row of `macs` says another MAC than its module has.
    void listAndSelect(const QStringList& names, const QMap<QString, QString>& macs = {})
    {
        main_->clearDevices();
        for (const QString& name : names) {
            const test::BedModule m = bed_.module(name);
            DiscoveryRecord r;
            std::memset(&r, 0, sizeof r);
            std::strncpy(r.macText, macs.value(name, m.mac).toLatin1().constData(), 17);
            std::strncpy(r.ipText, m.ip.toLatin1().constData(), 19);
            std::strncpy(r.deviceName, m.deviceName.toLatin1().constData(), 19);
            std::strncpy(r.passwordState, m.password.isEmpty() ? "None" : "Yes", 9);
            main_->addDevice(r);
        }
        QItemSelectionModel* selection = main_->deviceList()->selectionModel();
        selection->clear();
        for (int row = 0; row < names.size(); ++row)
            selection->select(main_->deviceList()->model()->index(row, 0),
                              QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }

    // A listed module's Status cell.
    QString status(const QString& name)
    {
        DeviceRegistry& devices = main_->devices();
        return devices.cell(devices.rowOfMac(bed_.module(name).mac), DeviceRegistry::Status);
    }

    void expectCleanTables()
    {
        QCOMPARE(TestBed::permanentNeighbours().size(), 0);
        QCOMPARE(TestBed::staticRoutes().size(), 0);
    }

private slots:
    void initTestCase()
    {
        if (!bed_.isValid())
            QSKIP(qPrintable(bed_.error()));
        main_ = test::showBedWindows(prompter_, tables_);
        QVERIFY(main_->networkReady());
    }

    void cleanupTestCase()
    {
        workers_.stop();
        workers_.waitFor(std::chrono::seconds(20));
        main_.reset();
    }

    void init()
    {
        QTRY_COMPARE_WITH_TIMEOUT(WorkerThread::liveCount(), 0, 30000);
        prompter_.clear();
        main_->messageLog()->clear();
        for (const auto& m : bed_.modules()) {
            QVERIFY(bed_.waitUntilUp(m.name, 15000));
            bed_.clearFaults(m.name);
            bed_.clearTranscript(m.name);
        }
    }

    void oneMebibyteArrivesIntactAndRunsAfterTheRestart()
    {
        const test::BedModule m = bed_.module(QStringLiteral("m1"));
        const QByteArray image = TestBed::firmwareImage(QStringLiteral("V9.87"), 1 << 20);
        const QString path = imageFile(QStringLiteral("tx110-v9.87.aff"), image);
        const int before = restarts(m.name);
        prompter_.queueAnswer(false);

        main_->runUpgrade(requestFor(m, path));

        QCOMPARE(prompter_.texts(), QStringList{kUpgradeOk});
        QCOMPARE(prompter_.shown().first().kind, QStringLiteral("finishedQuestion"));
        const QString log = main_->messageLog()->toPlainText();
        int at = 0;
        for (const char* line : {"openFile", "ConnetToDevice", "$SEF", "tftp1KClient"}) {
            at = log.indexOf(QLatin1String(line), at);
            QVERIFY2(at >= 0, line);
        }
        const QList<int> tcp = bed_.exchanges(m.name, QStringLiteral("tcp"));
        QCOMPARE(tcp.size(), 1);
        // The module is asked who it is before "$SEF".
        QCOMPARE(bed_.received(m.name, tcp.first()), QByteArray("$LOG\r\n$GLM\r\n$SEF\r\n\0", 19));

        QByteArray request;
        QCOMPARE(receivedImage(m.name, &request), image);
        uint8_t expected[kRequestRoom];
        const size_t n = buildWriteRequest("tx110-v9.87.aff", image.size(), expected);
        QCOMPARE(request, QByteArray(reinterpret_cast<const char*>(expected), int(n)));
        expectCleanTables();

        // The module flashes, restarts and then reports the new version.
        QTRY_VERIFY_WITH_TIMEOUT(restarts(m.name) > before, 15000);
        QVERIFY(bed_.waitUntilUp(m.name, 15000));
        WorkerLink link;
        CommandConnection connection(main_->hostNetwork(), link, WorkerFamily::Device,
                                     m.ip.toLatin1().constData(), m.mac.toLatin1().constData());
        QCOMPARE(connection.reachDevice(), 0);
        QCOMPARE(connection.loginDevice(""), 0);
        QVERIFY(connection.sendCommand("$GBV\r\n", 6, connection.replyText()) > 0);
        QCOMPARE(QByteArray(connection.replyText()), QByteArray("GBVV9.87"));
    }

    void outsideModuleTakesItsImageThroughThePinnedEntry()
    {
        const test::BedModule m = bed_.outsideModules().value(0);
        QVERIFY(!m.name.isEmpty());
        const QByteArray image = TestBed::firmwareImage(QStringLiteral("V3.00"), 3000);
        prompter_.queueAnswer(false);
        main_->runUpgrade(requestFor(m, imageFile(QStringLiteral("small.aff"), image)));
        QCOMPARE(prompter_.texts(), QStringList{kUpgradeOk});
        QByteArray request;
        QCOMPARE(receivedImage(m.name, &request), image);
        expectCleanTables();
    }

    void everyOutcomeShowsItsMessage_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("message");
        QTest::newRow("no answer to $SEF") << "noreply@SEF" << kUpgradeOk;
        QTest::newRow("ack instead of option ack") << "tftp-ack-for-oack"
                                                   << "serial read/write failed";
        QTest::newRow("error instead of option ack") << "tftp-error=0"
                                                     << "serial read/write failed";
        QTest::newRow("previous block number") << "tftp-wrong-block=2"
                                               << "serial read timeout";
        QTest::newRow("five-byte ack") << "tftp-ack5=2"
                                       << "serial read timeout";
        QTest::newRow("one ack lost") << "tftp-drop-ack=2" << kUpgradeOk;
        QTest::newRow("three acks lost") << "tftp-drop-ack=2:3"
                                         << "serial read timeout";
        QTest::newRow("ack from another port") << "tftp-foreign=2" << kUpgradeOk;
        QTest::newRow("login refused") << "refuselogin"
                                       << "login to device failed";
        QTest::newRow("not reachable") << "noaccept"
                                       << "connect to device failed";
    }
    void everyOutcomeShowsItsMessage()
    {
        QFETCH(QString, fault);
        QFETCH(QString, message);
        const test::BedModule m = bed_.module(QStringLiteral("m4"));
        // A module keeps a failed transfer open ("busy"): start each case afresh.
        QVERIFY(bed_.restart(m.name));
        QVERIFY(bed_.waitUntilUp(m.name, 15000));
        QVERIFY(bed_.setFault(m.name, fault));
        const int before = restarts(m.name);
        prompter_.queueAnswer(false);
        main_->runUpgrade(
            requestFor(m,
                       imageFile(QStringLiteral("fw.aff"),
                                 TestBed::firmwareImage(QStringLiteral("V2.00"), 5000))));
        QCOMPARE(prompter_.texts(), QStringList{message});
        expectCleanTables();
        if (message == kUpgradeOk) {
            QTRY_VERIFY_WITH_TIMEOUT(restarts(m.name) > before, 15000);
            QVERIFY(bed_.waitUntilUp(m.name, 15000));
        }
    }

    void emptyFileEndsBeforeAnyConnection()
    {
        const test::BedModule m = bed_.module(QStringLiteral("m1"));
        main_->runUpgrade(requestFor(m, imageFile(QStringLiteral("empty.aff"), {})));
        QCOMPARE(prompter_.texts(), QStringList{QStringLiteral("open file failed")});
        QVERIFY(bed_.exchanges(m.name, QStringLiteral("tcp")).isEmpty());
        QVERIFY(!main_->messageLog()->toPlainText().contains(QStringLiteral("ConnetToDevice")));
    }

    void cancelDuringTheTransferLeavesNothing()
    {
        // Outside the host's subnets, so a pinned entry and a route exist
        // while the transfer runs; block 3's acks are lost long enough to cancel.
        const test::BedModule m = bed_.outsideModules().value(0);
        QVERIFY(bed_.setFault(m.name, QStringLiteral("tftp-drop-ack=3:3")));
        const QString path = imageFile(QStringLiteral("cancel.aff"),
                                       TestBed::firmwareImage(QStringLiteral("V4.00"), 8000));
        const QStringList fdsBefore = openDescriptors();
        bool pinnedWhileSending = false;
        const auto answer = test::whenModal([&](QWidget* modal) {
            auto* form = qobject_cast<TupgradePrgForm*>(modal);
            if (!form || !form->message().startsWith(QStringLiteral("send packet 3")))
                return false;
            pinnedWhileSending = !TestBed::permanentNeighbours().isEmpty();
            form->findChild<QPushButton*>(QStringLiteral("cancelBtn"))->click();
            return true;
        });
        main_->runUpgrade(requestFor(m, path));
        QVERIFY(pinnedWhileSending);
        QCOMPARE(prompter_.count(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(WorkerThread::liveCount(), 0, 15000);
        QCoreApplication::processEvents();
        QCOMPARE(prompter_.count(), 0);
        expectCleanTables();
        const QStringList fdsAfter = openDescriptors();
        QVERIFY(!fdsAfter.contains(path));
        QCOMPARE(fdsAfter.filter(QStringLiteral("socket:")).size(),
                 fdsBefore.filter(QStringLiteral("socket:")).size());
    }

    void rebootOfASilentModuleStillAsks()
    {
        const test::BedModule m = bed_.modulesWithPassword().value(0);
        QVERIFY(!m.name.isEmpty());
        QVERIFY(bed_.setFault(m.name, QStringLiteral("noreply@SER")));
        const int before = restarts(m.name);
        prompter_.queueAnswer(false);
        main_->runReboot(requestFor(m, {}, m.password));
        QCOMPARE(prompter_.texts(), QStringList{kRebootOk});
        const QList<int> tcp = bed_.exchanges(m.name, QStringLiteral("tcp"));
        QCOMPARE(tcp.size(), 1);
        QCOMPARE(bed_.received(m.name, tcp.first()),
                 "$LOG" + m.password.toLatin1() + QByteArray("\r\n$GLM\r\n$SER\r\n\0", 15));
        QTRY_VERIFY_WITH_TIMEOUT(restarts(m.name) > before, 10000);
        expectCleanTables();
    }

    void rebootThenYesSearchesAgain()
    {
        const test::BedModule m = bed_.outsideModules().value(0);
        main_->clearDevices();
        prompter_.queueAnswer(true);
        main_->runReboot(requestFor(m));
        QCOMPARE(prompter_.texts(), QStringList{kRebootOk});
        // The broadcast search refilled the table with the other modules.
        QVERIFY(main_->deviceCount() >= 1);
        expectCleanTables();
    }

    void rebootFailuresShowTheirMessage()
    {
        const test::BedModule m = bed_.module(QStringLiteral("m5"));
        QVERIFY(bed_.setFault(m.name, QStringLiteral("refuselogin")));
        main_->runReboot(requestFor(m));
        QCOMPARE(prompter_.texts(), QStringList{QStringLiteral("login to device failed")});
        QVERIFY(bed_.setFault(m.name, QStringLiteral("noreply@LOG")));
        bed_.clearFaults(m.name, QStringLiteral("refuselogin"));
        prompter_.clear();
        main_->runReboot(requestFor(m));
        QCOMPARE(prompter_.texts(), QStringList{QStringLiteral("send command failed")});
        // Address 0.0.0.0 ends at once and shows nothing.
        prompter_.clear();
        DeviceRequest zero = requestFor(m);
        std::strcpy(zero.ipText, "0.0.0.0");
        main_->runReboot(zero);
        QCOMPARE(prompter_.count(), 0);
        QVERIFY(!main_->windows().upgradePrgForm->isVisible());
    }

    void rebootOfSeveralRowsAsksOnceAndRebootsEach()
    {
        // Two to reboot, one of them with a password, and one whose
        // configuration window is open, which is left alone.
        const test::BedModule plain = bed_.module(QStringLiteral("m1"));
        const test::BedModule locked = bed_.module(QStringLiteral("m2"));
        const test::BedModule open = bed_.module(QStringLiteral("m4"));
        QVERIFY(!locked.password.isEmpty());
        listAndSelect({plain.name, locked.name, open.name});
        QVERIFY(main_->markDeviceOpen(open.mac.toLatin1().constData(), true) == 0);
        const int plainBefore = restarts(plain.name);
        const int lockedBefore = restarts(locked.name);
        const int openBefore = restarts(open.name);
        QString passwordTitle;
        const auto answer = test::whenModal([&](QWidget* modal) {
            if (modal->objectName() != QStringLiteral("PasswordDlg"))
                return false;
            passwordTitle = modal->windowTitle();
            modal->findChild<QLineEdit*>(QStringLiteral("Password"))->setText(locked.password);
            modal->findChild<QPushButton*>(QStringLiteral("OKBtn"))->click();
            return true;
        });
        prompter_.queueAnswer(true);

        main_->runFunction(QStringLiteral("Reboot"));
        main_->markDeviceOpen(open.mac.toLatin1().constData(), false);

        // One confirmation, naming both and the one left out; no other box.
        QCOMPARE(prompter_.count(), 1);
        const test::ScriptedPrompter::Shown asked = prompter_.shown().first();
        QCOMPARE(asked.kind, QStringLiteral("confirm"));
        QVERIFY2(asked.text.startsWith(QStringLiteral("Are you sure to reboot 2 devices?")),
                 qPrintable(asked.text));
        QVERIFY(asked.text.contains(plain.mac) && asked.text.contains(locked.mac));
        QVERIFY(!asked.text.contains(open.mac));
        QVERIFY2(passwordTitle.contains(locked.mac), qPrintable(passwordTitle));

        QCOMPARE(status(plain.name), QStringLiteral("done"));
        QCOMPARE(status(locked.name), QStringLiteral("done"));
        QCOMPARE(status(open.name), QStringLiteral("please exit from configuration utility"));
        for (const test::BedModule& m : {plain, locked}) {
            const QList<int> tcp = bed_.exchanges(m.name, QStringLiteral("tcp"));
            QCOMPARE(tcp.size(), 1);
            QCOMPARE(bed_.received(m.name, tcp.first()),
                     "$LOG" + m.password.toLatin1() + QByteArray("\r\n$GLM\r\n$SER\r\n\0", 15));
        }
        QVERIFY(bed_.exchanges(open.name, QStringLiteral("tcp")).isEmpty());
        QVERIFY(main_->messageLog()->toPlainText().contains(
            QStringLiteral("Reboot of 2 modules: 2 done, 0 failed")));
        QTRY_VERIFY_WITH_TIMEOUT(restarts(plain.name) > plainBefore, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(restarts(locked.name) > lockedBefore, 10000);
        QCOMPARE(restarts(open.name), openBefore);
        expectCleanTables();
    }

    void upgradeOfSeveralRowsShowsEachResult()
    {
        // One file for three modules: one refuses the login, and one row
        // names a MAC that is not the module at its address.
        const test::BedModule ok = bed_.module(QStringLiteral("m1"));
        const test::BedModule refusing = bed_.module(QStringLiteral("m4"));
        const test::BedModule other = bed_.module(QStringLiteral("m5"));
        QVERIFY(bed_.setFault(refusing.name, QStringLiteral("refuselogin")));
        const QByteArray image = TestBed::firmwareImage(QStringLiteral("V6.00"), 3000);
        const QString path = imageFile(QStringLiteral("batch.aff"), image);
        const QString wrongMac = QStringLiteral("02:54:58:0F:0F:0F");
        listAndSelect({ok.name, refusing.name, other.name}, {{other.name, wrongMac}});
        QString moduleLine;
        const auto answer = test::whenModal([&](QWidget* modal) {
            if (modal->objectName() != QStringLiteral("upgradeFWDlg"))
                return false;
            moduleLine = modal->findChild<QLabel*>(QStringLiteral("moduleLabel"))->text();
            modal->findChild<QLineEdit*>(QStringLiteral("Edit_file"))->setText(path);
            modal->findChild<QPushButton*>(QStringLiteral("OKBtn"))->click();
            return true;
        });
        prompter_.queueAnswer(true);
        const int before = restarts(ok.name);

        main_->runFunction(QStringLiteral("Upgrade"));

        QCOMPARE(moduleLine, QStringLiteral("3 devices"));
        QCOMPARE(prompter_.count(), 1);
        QVERIFY(prompter_.texts().first().startsWith(
            QStringLiteral("Are you sure to upgrade 3 devices with batch.aff?")));
        QCOMPARE(status(ok.name), QStringLiteral("done"));
        QCOMPARE(status(refusing.name), QStringLiteral("failed: login to device failed"));
        DeviceRegistry& devices = main_->devices();
        const QString otherStatus =
            devices.cell(devices.rowOfMac(wrongMac), DeviceRegistry::Status);
        QVERIFY2(otherStatus.startsWith(QStringLiteral("failed: another module answered"))
                     && otherStatus.contains(other.mac) && otherStatus.contains(wrongMac),
                 qPrintable(otherStatus));
        QByteArray request;
        QCOMPARE(receivedImage(ok.name, &request), image);
        QVERIFY(bed_.exchanges(refusing.name, QStringLiteral("tftp")).isEmpty());
        QVERIFY(bed_.exchanges(other.name, QStringLiteral("tftp")).isEmpty());
        QVERIFY(main_->messageLog()->toPlainText().contains(
            QStringLiteral("Upgrade of 3 modules: 1 done, 2 failed")));
        expectCleanTables();
        QTRY_VERIFY_WITH_TIMEOUT(restarts(ok.name) > before, 15000);
    }

    void settingsFileOnSeveralRowsLeavesTheAddressesAlone()
    {
        // Saved from another module: its name is taken, its address is not.
        const QString file = imageFile(QStringLiteral("settings.json"),
                                       "[{\"version\": 1, \"lanMac\": \"02:54:58:0F:0F:0E\", "
                                       "\"devName\": \"Batch-Name\", \"lanIp\": \"192.0.2.99\"}]");
        FixedPicker picker;
        picker.path = file;
        main_->setFilePicker(&picker);
        const QStringList names{QStringLiteral("m1"), QStringLiteral("m4")};
        listAndSelect(names);
        prompter_.queueAnswer(true);

        main_->applySettingsFile();
        main_->setFilePicker(nullptr);

        QCOMPARE(prompter_.count(), 1);
        QVERIFY(prompter_.texts().first().startsWith(
            QStringLiteral("Are you sure to apply settings.json to 2 devices?")));
        for (const QString& name : names) {
            QCOMPARE(status(name), QStringLiteral("done"));
            QVERIFY(bed_.waitUntilUp(name, 15000));
            QCOMPARE(bed_.setting(name, QStringLiteral("devName")), QStringLiteral("Batch-Name"));
            QCOMPARE(bed_.setting(name, QStringLiteral("lanIp")), bed_.module(name).ip);
        }
        const QString log = main_->messageLog()->toPlainText();
        QVERIFY(log.contains(QStringLiteral("lanIp not taken: the settings file was saved from "
                                            "another module")));
        QVERIFY(log.contains(
            QStringLiteral("Apply settings file of 2 modules: 2 done, 0 unchanged, 0 failed")));
        expectCleanTables();
    }

    void upgradeThroughTheTreeWithThePasswordDialog()
    {
        const test::BedModule m = bed_.modulesWithPassword().value(0);
        const QString path = imageFile(QStringLiteral("tree.aff"),
                                       TestBed::firmwareImage(QStringLiteral("V5.00"), 2048));
        main_->clearDevices();
        DiscoveryRecord r;
        std::memset(&r, 0, sizeof r);
        std::strncpy(r.macText, m.mac.toLatin1().constData(), 17);
        std::strncpy(r.ipText, m.ip.toLatin1().constData(), 19);
        std::strncpy(r.passwordState, "Yes", 9);
        main_->addDevice(r);
        main_->selectDeviceRow(0);
        main_->showDeviceActions(true);

        const auto answer = test::whenModal([&](QWidget* modal) {
            if (modal->objectName() != QStringLiteral("upgradePsswdDlg"))
                return false;
            modal->findChild<QLineEdit*>(QStringLiteral("Edit_file"))->setText(path);
            modal->findChild<QLineEdit*>(QStringLiteral("Edit_passwd"))->setText(m.password);
            modal->findChild<QPushButton*>(QStringLiteral("OKBtn"))->click();
            return true;
        });
        prompter_.queueAnswer(false);
        const auto items = main_->funcTree()->findItems(QStringLiteral("Upgrade"),
                                                        Qt::MatchExactly | Qt::MatchRecursive);
        QCOMPARE(items.size(), 1);
        main_->funcTree()->clearSelection();
        items.first()->setSelected(true);
        main_->funcTreeViewClick();

        QCOMPARE(prompter_.texts(), QStringList{kUpgradeOk});
        QByteArray request;
        QCOMPARE(receivedImage(m.name, &request).size(), 2048);
        const QList<int> tcp = bed_.exchanges(m.name, QStringLiteral("tcp"));
        QVERIFY(bed_.received(m.name, tcp.value(0)).startsWith("$LOG" + m.password.toLatin1()));
    }

private:
    // Goes first: every worker ends before what it uses.
    WorkerOwner workers_;
};

QTEST_MAIN(TestFirmwareBed)
#include "tst_firmware_bed.moc"
