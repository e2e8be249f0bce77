// The firmware file dialogs: the checks in their order with their messages,
// what stays in the boxes, the closing rules and the file-open dialog.
#include "common/ScriptedPrompter.h"
#include "firmware/Upgradefwdlg.h"
#include "firmware/Upgradepsswddlg.h"
#include "handover/FilePicker.h"
#include "widgets/QtFilePicker.h"

#include <QFileDialog>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

using namespace tvx;
using tvx::test::ScriptedPrompter;

namespace {

// Records the dialog's state at the moment each message is shown.
class ProbingPrompter : public ScriptedPrompter {
public:
    FirmwareDialog* dialog = nullptr;
    QList<int> statesAtMessage;
    void showError(const QString& text) override
    {
        statesAtMessage << (dialog ? dialog->fileDialogState() : -1);
        ScriptedPrompter::showError(text);
    }
};

class ScriptedPicker : public FilePicker {
public:
    QString answer;
    QString title, directory, filter;
    int calls = 0;
    QString openFile(QWidget*, const QString& t, const QString& d, const QString& f) override
    {
        ++calls;
        title = t;
        directory = d;
        filter = f;
        return answer;
    }
    // The firmware dialogs never save a file.
    QString saveFile(QWidget*, const QString&, const QString&, const QString&) override
    {
        return {};
    }
};

QByteArray magic(const QByteArray& tail = {})
{
    return QByteArray("\x55\xAA\xF1", 3) + tail;
}

} // namespace

class TestFirmwareDialogs : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

    QString file(const QString& name, const QByteArray& bytes)
    {
        const QString path = dir_.filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return {};
        f.write(bytes);
        return path;
    }

    template <typename T>
    static T* child(QWidget* w, const char* name)
    {
        return w->findChild<T*>(QString::fromLatin1(name));
    }

    static void typeFile(QWidget* dlg, const QString& path)
    {
        child<QLineEdit>(dlg, "Edit_file")->setText(path);
    }
    static void clickOk(QWidget* dlg) { child<QPushButton>(dlg, "OKBtn")->click(); }

private slots:
    void blankFileIsRefusedAndTheCloseBoxThenCancels()
    {
        ProbingPrompter prompter;
        TupgradeFWDlg dlg(nullptr);
        prompter.dialog = &dlg;
        dlg.setPrompter(&prompter);
        QCOMPARE(dlg.fileDialogState(), 2);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));

        clickOk(&dlg);
        QCOMPARE(prompter.texts(), QStringList{QStringLiteral("file can't be blank")});
        QCOMPARE(prompter.shown().first().caption, QStringLiteral("Error"));
        QCOMPARE(prompter.statesAtMessage, QList<int>{5});
        QVERIFY(dlg.isVisible());
        // The refused close set the state back, so the close box now cancels.
        QCOMPARE(dlg.fileDialogState(), 2);
        dlg.close();
        QVERIFY(!dlg.isVisible());
        QCOMPARE(dlg.result(), int(QDialog::Rejected));
    }

    void refusedFilesKeepTheDialogOpen_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("message");
        QTest::newRow("nothing there") << dir_.filePath("missing.aff") << "file isn't exists";
        QTest::newRow("a folder") << dir_.path() << "file isn't exists";
        QTest::newRow("0 bytes") << file("e0.aff", {}) << "read file failed";
        QTest::newRow("1 byte") << file("e1.aff", "\x55") << "read file failed";
        QTest::newRow("2 bytes") << file("e2.aff", "\x55\xAA") << "read file failed";
        QTest::newRow("55 AA F0") << file("f0.aff", QByteArray("\x55\xAA\xF0xyz", 6))
                                  << "file can't be recognised";
        QTest::newRow("AA 55 F1") << file("sw.aff", QByteArray("\xAA\x55\xF1", 3))
                                  << "file can't be recognised";
        QTest::newRow("path over 255")
            << dir_.filePath(QString(256 - dir_.path().size() - 1, QLatin1Char('p')))
            << "file path is too long (at most 255 characters)";
        // 3000 bytes leave 67 characters for the name in the 100-byte request.
        const QString longName = QString(68, QLatin1Char('n'));
        QTest::newRow("name over the request") << file(longName, magic(QByteArray(2997, 'x')))
                                               << "file name is too long (at most 67 characters)";
    }
    void refusedFilesKeepTheDialogOpen()
    {
        QFETCH(QString, path);
        QFETCH(QString, message);
        QVERIFY(!path.isEmpty());
        ScriptedPrompter prompter;
        TupgradeFWDlg dlg(nullptr);
        dlg.setPrompter(&prompter);
        dlg.show();
        typeFile(&dlg, path);
        clickOk(&dlg);
        QCOMPARE(prompter.texts(), QStringList{message});
        QVERIFY(dlg.isVisible());
        QCOMPARE(child<QLineEdit>(&dlg, "Edit_file")->text(), path);
        QCOMPARE(dlg.firmwareFile(), QString());
    }

    void unreadableFileDoesNotOpen()
    {
        if (::geteuid() == 0)
            QSKIP("root opens a file without read permission");
        const QString path = file("locked.aff", magic());
        QFile::setPermissions(path, QFileDevice::WriteOwner);
        ScriptedPrompter prompter;
        TupgradeFWDlg dlg(nullptr);
        dlg.setPrompter(&prompter);
        QCOMPARE(dlg.checkFirmwareFile(path), -1);
        QCOMPARE(prompter.texts(), QStringList{QStringLiteral("open file failed")});
    }

    void acceptedFileClosesWithOkAndStaysInTheBox()
    {
        const QString path = file("exact.aff", magic());
        ProbingPrompter prompter;
        TupgradeFWDlg dlg(nullptr);
        dlg.setPrompter(&prompter);
        dlg.show();
        typeFile(&dlg, path);
        clickOk(&dlg);
        QVERIFY(!dlg.isVisible());
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QCOMPARE(dlg.firmwareFile(), path);
        QCOMPARE(dlg.firmwarePathBytes(), QFile::encodeName(path));
        QCOMPARE(prompter.count(), 0);

        // The next show finds the same path; Cancel then changes nothing.
        dlg.show();
        QCOMPARE(child<QLineEdit>(&dlg, "Edit_file")->text(), path);
        child<QPushButton>(&dlg, "CancelBtn")->click();
        QVERIFY(!dlg.isVisible());
        QCOMPARE(dlg.result(), int(QDialog::Rejected));
        QCOMPARE(dlg.fileDialogState(), 2);
        QCOMPARE(child<QLineEdit>(&dlg, "Edit_file")->text(), path);
    }

    void escapeCancels()
    {
        ScriptedPrompter prompter;
        TupgradeFWDlg dlg(nullptr);
        dlg.setPrompter(&prompter);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QTest::keyClick(&dlg, Qt::Key_Escape);
        QVERIFY(!dlg.isVisible());
        QCOMPARE(dlg.result(), int(QDialog::Rejected));
        QCOMPARE(prompter.count(), 0);
    }

    void passwordIsCheckedAfterTheFile()
    {
        const QString good = file("good.aff", magic("v2"));
        ScriptedPrompter prompter;
        TupgradePsswdDlg dlg(nullptr);
        dlg.setPrompter(&prompter);
        dlg.show();
        auto* password = child<QLineEdit>(&dlg, "Edit_passwd");
        QVERIFY(password);
        QCOMPARE(password->echoMode(), QLineEdit::Password);

        // A bad file with an empty password: only the file's message.
        typeFile(&dlg, file("bad.aff", "\x55\xAA\xF0"));
        clickOk(&dlg);
        QCOMPARE(prompter.texts(), QStringList{QStringLiteral("file can't be recognised")});

        prompter.clear();
        typeFile(&dlg, good);
        clickOk(&dlg);
        QCOMPARE(prompter.texts(), QStringList{QStringLiteral("password can't be blank")});
        QVERIFY(dlg.isVisible());

        // At most 8 characters get into the box.
        prompter.clear();
        password->setFocus();
        QTest::keyClicks(password, QStringLiteral("abcdefghij"));
        QCOMPARE(password->text(), QStringLiteral("abcdefgh"));
        clickOk(&dlg);
        QCOMPARE(prompter.count(), 0);
        QVERIFY(!dlg.isVisible());
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QCOMPARE(dlg.firmwarePassword(), QStringLiteral("abcdefgh"));
        QCOMPARE(dlg.firmwareFile(), good);

        // Emptied before the next show; the file stays.
        dlg.clearPassword();
        dlg.show();
        QCOMPARE(password->text(), QString());
        QCOMPARE(child<QLineEdit>(&dlg, "Edit_file")->text(), good);
    }

    void browsePutsThePickedPathIntoTheBox()
    {
        ScriptedPicker picker;
        ScriptedPrompter prompter;
        TupgradeFWDlg dlg(nullptr);
        dlg.setPrompter(&prompter);
        dlg.setFilePicker(&picker);
        dlg.show();
        auto* edit = child<QLineEdit>(&dlg, "Edit_file");

        picker.answer = file("picked.aff", magic());
        child<QPushButton>(&dlg, "Btn_brs")->click();
        QCOMPARE(picker.title, QStringLiteral("Open firmware file..."));
        QVERIFY(picker.filter.startsWith(QStringLiteral("*.aff (")));
        QCOMPARE(edit->text(), picker.answer);

        // The next browse starts in that file's folder; cancelling keeps the box.
        const QString before = edit->text();
        picker.answer.clear();
        child<QPushButton>(&dlg, "Btn_brs")->click();
        QCOMPARE(picker.directory, dir_.path());
        QCOMPARE(edit->text(), before);
        QCOMPARE(picker.calls, 2);
        QVERIFY(dlg.isVisible());
    }

    void realFileDialogListsAffInEitherCase()
    {
        QTemporaryDir folder;
        for (const char* name : {"lower.aff", "UPPER.AFF", "other.bin", "aff.txt"}) {
            QFile f(folder.filePath(QString::fromLatin1(name)));
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        QStringList listed;
        QString title;
        QTimer poll;
        poll.setInterval(20);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            QFileDialog* fd = nullptr;
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (auto* d = qobject_cast<QFileDialog*>(w); d && d->isVisible())
                    fd = d;
            }
            if (!fd)
                return;
            poll.stop();
            title = fd->windowTitle();
            auto* view = fd->findChild<QListView*>(QStringLiteral("listView"));
            // The folder is read in the background: wait until it shows.
            for (int i = 0; i < 100 && view && view->model()->rowCount(view->rootIndex()) < 2; ++i)
                QTest::qWait(20);
            if (view) {
                for (int r = 0; r < view->model()->rowCount(view->rootIndex()); ++r)
                    listed << view->model()->index(r, 0, view->rootIndex()).data().toString();
            }
            // Picked as a user would: the name typed into the dialog's name box.
            if (auto* name = fd->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
                name->setText(QStringLiteral("UPPER.AFF"));
            QMetaObject::invokeMethod(fd, "accept");
            if (fd->isVisible())
                fd->reject();
        });
        poll.start();
        QtFilePicker picker;
        const QString picked =
            picker.openFile(nullptr, QStringLiteral("Open firmware file..."), folder.path(),
                            QStringLiteral("*.aff (*.aff *.AFF)"));
        QCOMPARE(title, QStringLiteral("Open firmware file..."));
        listed.sort();
        QCOMPARE(listed, (QStringList{QStringLiteral("UPPER.AFF"), QStringLiteral("lower.aff")}));
        QCOMPARE(picked, folder.filePath(QStringLiteral("UPPER.AFF")));
    }

    void layoutMatchesTheWindowTables()
    {
        TupgradeFWDlg plain(nullptr);
        TupgradePsswdDlg withPassword(nullptr);
        QCOMPARE(plain.size(), QSize(297, 115));
        QCOMPARE(withPassword.size(), QSize(298, 169));
        QCOMPARE(plain.windowTitle(), QStringLiteral("Upgrade Dialog"));
        QVERIFY(child<QPushButton>(&plain, "OKBtn")->isDefault());
        for (QWidget* w : {static_cast<QWidget*>(&plain), static_cast<QWidget*>(&withPassword)}) {
            // Every control lies inside the window.
            for (QWidget* c : w->findChildren<QWidget*>()) {
                if (c->parentWidget() == w && c->isVisibleTo(w))
                    QVERIFY2(w->rect().contains(c->geometry()), qPrintable(c->objectName()));
            }
        }
        if (qEnvironmentVariableIsSet("TVX_SHOTS")) {
            const QString out = qEnvironmentVariable("TVX_SHOTS");
            plain.show();
            withPassword.show();
            plain.grab().save(out + QStringLiteral("/upgradeFWDlg.png"));
            withPassword.grab().save(out + QStringLiteral("/upgradePsswdDlg.png"));
        }
    }
};

QTEST_MAIN(TestFirmwareDialogs)
#include "tst_dialogs.moc"
