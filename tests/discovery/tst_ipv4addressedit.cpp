// The IPv4 address entry as a user drives it: typing, moving between fields,
// clamping, pasting, and the value it reads and sets.
#include "widgets/Ipv4AddressEdit.h"

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QSignalSpy>
#include <QtTest>

using tvx::Ipv4AddressEdit;

class TestIpv4AddressEdit : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void valueOrder();
    void blankFields();
    void typingMovesOn_data();
    void typingMovesOn();
    void retypingOverAFilledControl_data();
    void retypingOverAFilledControl();
    void leadingZerosGoOnLeavingAField();
    void backspaceAndArrowsGoBack();
    void pastingFillsAllFour();
    void focusAndEnable();

private:
    // Types into whatever field has the focus, as the keyboard would.
    void type(const QString& keys);
    QString fields() const;
    QWidget* window_ = nullptr;
    Ipv4AddressEdit* edit_ = nullptr;
};

void TestIpv4AddressEdit::init()
{
    window_ = new QWidget;
    window_->resize(200, 60);
    edit_ = new Ipv4AddressEdit(window_);
    edit_->setGeometry(10, 10, 130, 21);
    window_->show();
    window_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window_));
    edit_->setFieldFocus(0);
    QTRY_COMPARE(QApplication::focusWidget(), edit_->field(0));
}

void TestIpv4AddressEdit::cleanup()
{
    delete window_;
    window_ = nullptr;
}

void TestIpv4AddressEdit::type(const QString& keys)
{
    for (const QChar c : keys) {
        QWidget* target = QApplication::focusWidget();
        QVERIFY(target);
        if (c == QLatin1Char('<'))
            QTest::keyClick(target, Qt::Key_Backspace);
        else
            QTest::keyClick(target, c.toLatin1());
    }
}

QString TestIpv4AddressEdit::fields() const
{
    QStringList parts;
    for (int i = 0; i < 4; ++i)
        parts << edit_->field(i)->text();
    return parts.join(QLatin1Char('|'));
}

void TestIpv4AddressEdit::valueOrder()
{
    edit_->setAddress(0xC0A80114u);
    QCOMPARE(fields(), QStringLiteral("192|168|1|20"));
    QCOMPARE(edit_->address(), 0xC0A80114u);
    QVERIFY(!edit_->isBlank());

    edit_->setAddress(0);
    QCOMPARE(fields(), QStringLiteral("0|0|0|0"));
    QVERIFY(!edit_->isBlank());
    edit_->setAddress(0xFFFFFFFFu);
    QCOMPARE(edit_->address(), 0xFFFFFFFFu);
}

void TestIpv4AddressEdit::blankFields()
{
    QVERIFY(edit_->isBlank());
    QCOMPARE(edit_->address(), 0u);

    edit_->field(0)->setText(QStringLiteral("10"));
    edit_->field(2)->setText(QStringLiteral("7"));
    QCOMPARE(edit_->address(), 0x0A000700u);
    QVERIFY(!edit_->isBlank());

    QSignalSpy changed(edit_, &Ipv4AddressEdit::addressChanged);
    edit_->clear();
    QVERIFY(edit_->isBlank());
    QCOMPARE(edit_->address(), 0u);
    QVERIFY(changed.count() >= 1);
}

// Columns: what the user types from the first field, the four fields after.
void TestIpv4AddressEdit::typingMovesOn_data()
{
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("expected");
    QTest::newRow("dots between fields") << "10.1.2.3"
                                         << "10|1|2|3";
    QTest::newRow("third digit moves on") << "192168001020"
                                          << "192|168|1|020";
    QTest::newRow("third digit then a dot does not skip a field") << "192.168.1.2"
                                                                  << "192|168|1|2";
    QTest::newRow("above 255 clamps") << "300.999.256.77"
                                      << "255|255|255|77";
    QTest::newRow("letters ignored") << "1a2.x3"
                                     << "12|3||";
    QTest::newRow("dot in an empty field stays") << ".5"
                                                 << "5|||";
    QTest::newRow("no fourth digit in the last field") << "1.2.3.1234"
                                                       << "1|2|3|123";
    QTest::newRow("last field blank") << "192.168.1"
                                      << "192|168|1|";
}

void TestIpv4AddressEdit::typingMovesOn()
{
    QFETCH(QString, keys);
    QFETCH(QString, expected);
    type(keys);
    QCOMPARE(fields(), expected);
}

// Columns: the field clicked, whether its text was selected, where the
// cursor stood otherwise; the user then types 198.18.0.50 over 198.18.0.50
// or over another address.
void TestIpv4AddressEdit::retypingOverAFilledControl_data()
{
    QTest::addColumn<uint32_t>("before");
    QTest::addColumn<int>("field");
    QTest::addColumn<bool>("selectAll");
    QTest::addColumn<bool>("cursorAtEnd");
    const uint32_t same = 0xC6120032u; // 198.18.0.50
    const uint32_t other = 0x0A01020Cu; // 10.1.2.12
    QTest::newRow("first field, all selected") << same << 0 << true << false;
    QTest::newRow("first field, cursor at its end") << same << 0 << false << true;
    QTest::newRow("first field, cursor at its start") << same << 0 << false << false;
    QTest::newRow("third field, all selected") << same << 2 << true << false;
    QTest::newRow("last field, cursor at its end") << other << 3 << false << true;
    QTest::newRow("second field of another address") << other << 1 << true << false;
}

void TestIpv4AddressEdit::retypingOverAFilledControl()
{
    QFETCH(uint32_t, before);
    QFETCH(int, field);
    QFETCH(bool, selectAll);
    QFETCH(bool, cursorAtEnd);
    edit_->setAddress(before);
    QLineEdit* clicked = edit_->field(field);
    QTest::mouseClick(clicked, Qt::LeftButton);
    QTRY_COMPARE(QApplication::focusWidget(), clicked);
    if (selectAll)
        clicked->selectAll();
    else
        clicked->setCursorPosition(cursorAtEnd ? clicked->text().size() : 0);
    type(QStringLiteral("198.18.0.50"));
    QCOMPARE(fields(), QStringLiteral("198|18|0|50"));
    QCOMPARE(edit_->address(), 0xC6120032u);
}

void TestIpv4AddressEdit::leadingZerosGoOnLeavingAField()
{
    // The third digit moves on: the first field has lost the focus already.
    type(QStringLiteral("010.07"));
    QCOMPARE(fields(), QStringLiteral("10|07||"));
    edit_->setFieldFocus(3);
    QCOMPARE(fields(), QStringLiteral("10|7||"));
    QCOMPARE(edit_->address(), 0x0A070000u);
}

void TestIpv4AddressEdit::backspaceAndArrowsGoBack()
{
    type(QStringLiteral("12.34"));
    QCOMPARE(QApplication::focusWidget(), edit_->field(1));
    // Two deletions empty the field, the third goes back, the fourth deletes
    // the previous field's last digit.
    type(QStringLiteral("<<<<"));
    QCOMPARE(QApplication::focusWidget(), edit_->field(0));
    QCOMPARE(fields(), QStringLiteral("1|||"));

    type(QStringLiteral("9.8"));
    QCOMPARE(fields(), QStringLiteral("19|8||"));
    QTest::keyClick(edit_->field(1), Qt::Key_Home);
    QTest::keyClick(edit_->field(1), Qt::Key_Left);
    QCOMPARE(QApplication::focusWidget(), edit_->field(0));
    QCOMPARE(edit_->field(0)->cursorPosition(), 2);
    QTest::keyClick(edit_->field(0), Qt::Key_Right);
    QCOMPARE(QApplication::focusWidget(), edit_->field(1));
    QCOMPARE(edit_->field(1)->cursorPosition(), 0);
}

void TestIpv4AddressEdit::pastingFillsAllFour()
{
    QClipboard* clipboard = QApplication::clipboard();
    clipboard->setText(QStringLiteral("203.0.113.45"));
    if (clipboard->text() != QStringLiteral("203.0.113.45"))
        QSKIP("this platform plugin keeps no clipboard");

    edit_->setFieldFocus(2);
    QTest::keySequence(edit_->field(2), QKeySequence::Paste);
    QCOMPARE(fields(), QStringLiteral("203|0|113|45"));
    QCOMPARE(edit_->address(), 0xCB00712Du);

    // Pasted over an existing address with its selection replaced.
    edit_->setAddress(0x01020304u);
    clipboard->setText(QStringLiteral(" 198.51.100.300 "));
    edit_->setFieldFocus(0);
    QTest::keySequence(edit_->field(0), QKeySequence::Paste);
    QCOMPARE(fields(), QStringLiteral("198|51|100|255"));

    // Into a filled field, nothing selected, the cursor at its end: the
    // digits the field held do not join the first group.
    clipboard->setText(QStringLiteral("203.0.113.45"));
    edit_->field(1)->setFocus();
    edit_->field(1)->setCursorPosition(2);
    QTest::keySequence(edit_->field(1), QKeySequence::Paste);
    QCOMPARE(fields(), QStringLiteral("203|0|113|45"));
}

void TestIpv4AddressEdit::focusAndEnable()
{
    edit_->field(3)->setFocus();
    edit_->setFieldFocus(0);
    QCOMPARE(QApplication::focusWidget(), edit_->field(0));

    edit_->setAddress(0xC0A80114u);
    edit_->grab().save(QDir::temp().filePath(QStringLiteral("tvx-ipv4-enabled.png")));
    edit_->setEnabled(false);
    edit_->grab().save(QDir::temp().filePath(QStringLiteral("tvx-ipv4-disabled.png")));
    for (int i = 0; i < 4; ++i)
        QVERIFY(!edit_->field(i)->isEnabled());
    QTest::keyClick(edit_->field(3), '9');
    QCOMPARE(edit_->address(), 0xC0A80114u);
    edit_->setEnabled(true);
    QVERIFY(edit_->field(3)->isEnabled());
}

QTEST_MAIN(TestIpv4AddressEdit)
#include "tst_ipv4addressedit.moc"
