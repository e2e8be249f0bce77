// runUpgrade and runReboot in the main window where no module is involved:
// what ends before any connection, and what the user is then shown.
#include "app/AppWindows.h"
#include "common/FakeNetTables.h"
#include "common/ScriptedPrompter.h"
#include "firmware/Upgradeprgfrm.h"
#include "handover/WorkerOwner.h"
#include "handover/WorkerThread.h"

#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>

using namespace tvx;

namespace {
DeviceRequest request(const char* ip, const QByteArray& path = {})
{
    DeviceRequest r;
    std::memset(&r, 0, sizeof r);
    std::strncpy(r.ipText, ip, 19);
    std::memcpy(r.macText, "02:54:58:01:00:01", 17);
    std::strncpy(r.firmwarePath, path.constData(), 255);
    return r;
}
} // namespace

class TestFirmwareOperations : public QObject {
    Q_OBJECT

    test::ScriptedPrompter prompter_;
    test::FakeNetTables tables_;
    std::unique_ptr<TmainForm> main_;
    QTemporaryDir dir_;

    QByteArray file(const QString& name, const QByteArray& bytes)
    {
        QFile f(dir_.filePath(name));
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return {};
        f.write(bytes);
        return QFile::encodeName(f.fileName());
    }

private slots:
    void initTestCase()
    {
        AppEnvironment env;
        env.prompter = &prompter_;
        env.netTables = unownedTables(tables_);
        main_ = createAppWindows(env);
    }
    void init()
    {
        QTRY_COMPARE_WITH_TIMEOUT(WorkerThread::liveCount(), 0, 10000);
        prompter_.clear();
        main_->messageLog()->clear();
    }
    void cleanupTestCase()
    {
        workers_.stop();
        workers_.waitFor(std::chrono::seconds(10));
    }

    void unusableFileEndsBeforeAnyConnection_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::newRow("empty") << file("empty.aff", {});
        QTest::newRow("missing") << QFile::encodeName(dir_.filePath("gone.aff"));
        QTest::newRow("folder") << QFile::encodeName(dir_.path());
    }
    void unusableFileEndsBeforeAnyConnection()
    {
        QFETCH(QByteArray, path);
        main_->runUpgrade(request("127.0.0.1", path));
        QCOMPARE(prompter_.texts(), QStringList{QStringLiteral("open file failed")});
        QCOMPARE(prompter_.shown().first().caption, QStringLiteral("Error"));
        QCoreApplication::processEvents();
        QCOMPARE(main_->messageLog()->toPlainText(), QStringLiteral("openFile"));
        QVERIFY(!main_->windows().upgradePrgForm->isVisible());
    }

    void nameTooLongForTheRequestIsRefusedBeforeAnyConnection()
    {
        main_->runUpgrade(
            request("127.0.0.1", file(QString(80, QLatin1Char('n')), "\x55\xAA\xF1")));
        QCOMPARE(prompter_.texts(), QStringList{QStringLiteral("file name is too long")});
        QCoreApplication::processEvents();
        QCOMPARE(main_->messageLog()->toPlainText(), QStringLiteral("openFile"));
    }

    void zeroAddressShowsNothing()
    {
        const QByteArray image = file("fw.aff", "\x55\xAA\xF1 v1");
        main_->runReboot(request("0.0.0.0"));
        QCOMPARE(prompter_.count(), 0);
        main_->runUpgrade(request("0.0.0.0", image));
        QCOMPARE(prompter_.texts(), QStringList{QStringLiteral("initialize serial port failed")});
        QVERIFY(!main_->windows().upgradePrgForm->isVisible());
        QCOMPARE(main_->windows().upgradePrgForm->barPosition(), 1000);
    }

private:
    // Goes first: every worker ends before what it uses.
    WorkerOwner workers_;
};

QTEST_MAIN(TestFirmwareOperations)
#include "tst_operations.moc"
