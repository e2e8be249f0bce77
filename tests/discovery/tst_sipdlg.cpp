// The "Search by IP" dialog: what OK accepts and refuses, that a refused OK
// keeps it open, that every opening starts blank, and the path without an
// address field.
#include "discovery/Sipdlg.h"
#include "widgets/Ipv4AddressEdit.h"

#include "common/ScriptedPrompter.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

using tvx::Ipv4AddressEdit;
using tvx::TsIPDlg;
using tvx::test::ScriptedPrompter;

class TestSipDlg : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void layout();
    void okRefusesNoAddress_data();
    void okRefusesNoAddress();
    void okAccepts_data();
    void okAccepts();
    void cancelAndCloseBox();
    void reopensBlank();
    void withoutAddressField();

private:
    void openDialog();
    void type(const QString& keys);
    QPushButton* button(const char* name) const;

    ScriptedPrompter prompter_;
    TsIPDlg* dialog_ = nullptr;
};

void TestSipDlg::init()
{
    prompter_.clear();
    dialog_ = new TsIPDlg(nullptr, &prompter_);
}

void TestSipDlg::cleanup()
{
    delete dialog_;
    dialog_ = nullptr;
}

void TestSipDlg::openDialog()
{
    dialog_->open();
    QVERIFY(QTest::qWaitForWindowExposed(dialog_));
    dialog_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(dialog_));
}

void TestSipDlg::type(const QString& keys)
{
    for (const QChar c : keys) {
        QWidget* target = QApplication::focusWidget();
        QVERIFY(target);
        QTest::keyClick(target, c.toLatin1());
    }
}

QPushButton* TestSipDlg::button(const char* name) const
{
    return dialog_->findChild<QPushButton*>(QString::fromLatin1(name));
}

void TestSipDlg::layout()
{
    openDialog();
    QCOMPARE(dialog_->windowTitle(), QStringLiteral("Search by Dialog"));
    QCOMPARE(dialog_->size(), QSize(265, 135));
    auto* group = dialog_->findChild<QWidget*>(QStringLiteral("GrpBox_ip"));
    QVERIFY(group);
    QCOMPARE(group->geometry(), QRect(10, 10, 247, 80));
    Ipv4AddressEdit* control = dialog_->addressControl();
    QVERIFY(control);
    QCOMPARE(control->parentWidget(), group);
    QCOMPARE(control->geometry(), QRect(40, 24, 130, 21));
    QVERIFY(button("OKBtn")->isDefault());
    QCOMPARE(button("OKBtn")->text(), QStringLiteral("OK"));
    QCOMPARE(button("CancelBtn")->text(), QStringLiteral("Cancel"));
    // The focus starts in the first field.
    QTRY_COMPARE(QApplication::focusWidget(), control->field(0));

    const QString out = QDir::temp().filePath(QStringLiteral("tvx-sipdlg.png"));
    dialog_->grab().save(out);
}

void TestSipDlg::okRefusesNoAddress_data()
{
    QTest::addColumn<QString>("keys");
    QTest::newRow("all blank") << "";
    QTest::newRow("all zero") << "0.0.0.0";
    QTest::newRow("only a zero") << "0";
    QTest::newRow("broadcast") << "255.255.255.255";
    QTest::newRow("broadcast by clamping") << "999.300.256.400";
}

void TestSipDlg::okRefusesNoAddress()
{
    QFETCH(QString, keys);
    openDialog();
    QSignalSpy finished(dialog_, &QDialog::finished);
    type(keys);
    button("OKBtn")->click();

    QCOMPARE(prompter_.texts(), QStringList{QStringLiteral("invalid IP address")});
    QCOMPARE(prompter_.shown().first().caption, QStringLiteral("Error"));
    QVERIFY(dialog_->isVisible());
    QCOMPARE(finished.count(), 0);
    QCOMPARE(dialog_->ipDialogState(), 5);
    QCOMPARE(QByteArray(dialog_->ipAddressText()), QByteArray());
}

// Columns: what is typed, the text handed to the search.
void TestSipDlg::okAccepts_data()
{
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("text");
    QTest::newRow("full address") << "203.0.113.7"
                                  << "203.0.113.7";
    QTest::newRow("last field blank") << "192.168.1"
                                      << "192.168.1.0";
    QTest::newRow("leading zeros dropped") << "010.000.002.009"
                                           << "10.0.2.9";
    QTest::newRow("first field blank") << ".0.0.1"
                                       << "0.0.0.1";
    QTest::newRow("one short of broadcast") << "255.255.255.254"
                                            << "255.255.255.254";
}

void TestSipDlg::okAccepts()
{
    QFETCH(QString, keys);
    QFETCH(QString, text);
    openDialog();
    QSignalSpy finished(dialog_, &QDialog::finished);
    if (keys.startsWith(QLatin1Char('.'))) {
        // A dot in an empty field stays put: move on by hand.
        dialog_->addressControl()->setFieldFocus(1);
        keys.remove(0, 1);
    }
    type(keys);
    button("OKBtn")->click();

    QCOMPARE(prompter_.count(), 0);
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.first().first().toInt(), int(QDialog::Accepted));
    QCOMPARE(dialog_->ipDialogState(), 1);
    QCOMPARE(QString::fromLatin1(dialog_->ipAddressText()), text);
}

void TestSipDlg::cancelAndCloseBox()
{
    openDialog();
    type(QStringLiteral("10.1.1.1"));
    QSignalSpy finished(dialog_, &QDialog::finished);
    button("CancelBtn")->click();
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.first().first().toInt(), int(QDialog::Rejected));
    QCOMPARE(dialog_->ipDialogState(), 2);

    // After a refused OK the close box still closes, as Cancel.
    openDialog();
    button("OKBtn")->click();
    QCOMPARE(dialog_->ipDialogState(), 5);
    QVERIFY(dialog_->close());
    QCOMPARE(finished.count(), 2);
    QCOMPARE(finished.last().first().toInt(), int(QDialog::Rejected));
    QCOMPARE(dialog_->ipDialogState(), 2);

    // Escape too.
    openDialog();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QCOMPARE(finished.count(), 3);
    QCOMPARE(dialog_->ipDialogState(), 2);
}

void TestSipDlg::reopensBlank()
{
    openDialog();
    type(QStringLiteral("198.51.100.20"));
    // Enter takes the default button.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QVERIFY(!dialog_->isVisible());
    QCOMPARE(QString::fromLatin1(dialog_->ipAddressText()), QStringLiteral("198.51.100.20"));

    openDialog();
    Ipv4AddressEdit* control = dialog_->addressControl();
    QVERIFY(control);
    QVERIFY(control->isBlank());
    QCOMPARE(dialog_->findChildren<Ipv4AddressEdit*>().size(), 1);
    QTRY_COMPARE(QApplication::focusWidget(), control->field(0));
    type(QStringLiteral("198.51.100.21"));
    button("OKBtn")->click();
    QCOMPARE(QString::fromLatin1(dialog_->ipAddressText()), QStringLiteral("198.51.100.21"));
}

void TestSipDlg::withoutAddressField()
{
    dialog_->setControlFactory([](QWidget*) -> Ipv4AddressEdit* { return nullptr; });
    openDialog();
    QCOMPARE(prompter_.count(), 1);
    QVERIFY(prompter_.texts().first().startsWith(QStringLiteral("create ip control failed: ")));
    QVERIFY(dialog_->isVisible());
    QVERIFY(!dialog_->addressControl());

    // OK closes with no address: the caller starts no search.
    QSignalSpy finished(dialog_, &QDialog::finished);
    button("OKBtn")->click();
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.first().first().toInt(), int(QDialog::Accepted));
    QCOMPARE(QByteArray(dialog_->ipAddressText()), QByteArray());
}

QTEST_MAIN(TestSipDlg)
#include "tst_sipdlg.moc"
