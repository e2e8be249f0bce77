// The configuration window offscreen, through its real controls: layout,
// load, control dependencies, the checks of "Save to Module" with their exact
// messages, the password page and the window's life. No test here lets a
// save reach a module: the confirmation is answered No, or the module address
// is one on loopback where nothing listens.
#include "CfgTestSupport.h"

#include "app/Mainfrm.h"
#include "handover/WorkerOwner.h"
#include "protocol/Tcpprgfrm.h"
#include "widgets/Ipv4AddressEdit.h"

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>

using namespace tvx;
using namespace tvx::test;

namespace {

const QString kConfirm = QStringLiteral("Are you sure to save settings to device?");

template <typename T>
T* child(QWidget* form, const char* name)
{
    T* w = form->findChild<T*>(QLatin1String(name));
    if (!w)
        qFatal("no control %s", name);
    return w;
}

QLineEdit* edit(QWidget* f, const char* name)
{
    return child<QLineEdit>(f, name);
}
QComboBox* combo(QWidget* f, const char* name)
{
    return child<QComboBox>(f, name);
}
QCheckBox* check(QWidget* f, const char* name)
{
    return child<QCheckBox>(f, name);
}

QStringList items(QComboBox* box)
{
    QStringList out;
    for (int i = 0; i < box->count(); ++i)
        out << box->itemText(i);
    return out;
}

QString addressText(Ipv4AddressEdit* c)
{
    if (c->isBlank())
        return QStringLiteral("(blank)");
    const uint32_t v = c->address();
    return QStringLiteral("%1.%2.%3.%4")
        .arg(v >> 24)
        .arg((v >> 16) & 0xFF)
        .arg((v >> 8) & 0xFF)
        .arg(v & 0xFF);
}

bool isInactive(QLineEdit* e)
{
    return !e->isEnabled() && e->text().isEmpty()
        && e->palette().color(QPalette::Disabled, QPalette::Base)
        == e->palette().color(QPalette::Active, QPalette::Button);
}

bool isActive(QLineEdit* e)
{
    const QPalette standard = e->window()->palette();
    return e->isEnabled()
        && e->palette().color(QPalette::Active, QPalette::Base)
        == standard.color(QPalette::Active, QPalette::Base);
}

} // namespace

class tst_CfgForm : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void layoutPagesAndLimits();
    void comboItemsAndDefaults_data();
    void comboItemsAndDefaults();

    void loadShowsEveryField();
    void loadDataFormat_data();
    void loadDataFormat();
    void loadAddresses();
    void loadPacking();
    void loadOperationModes();
    void loadDhcpAndPing();
    void loadKeepsUnmatchedValues();
    void loadLatin1AndEmptyName();

    void ipModeSwitchKeepsValues();
    void packingBoxes();
    void operationModeHandler();

    void checksInOrder();
    void checkDiolp_data();
    void checkDiolp();
    void checkPacking_data();
    void checkPacking();
    void checkDelimiter_data();
    void checkDelimiter();
    void checkAddresses();
    void checkServerMode();
    void checkClientMode_data();
    void checkClientMode();
    void collectionWritesTheRecord();
    void refusalKeepsEarlierFields();
    void unseenValuesGoBackAsRead();
    void hiddenPackingAsLoaded();

    void passwordPage();
    void lifecycleTwoWindowsAndRowColour();
    void closeBoxAndAddressControls();
    void addressControlCreationFails();
    void saveUnreachableReportsAndCloses();
    void windowFitsTheScreen();
    void boxesBelongToTheWindowAndNameItsModule();

private:
    QString saveOutcome(TcfgForm* form);

    std::unique_ptr<CfgHarness> h;

    // Goes first: every worker ends before what it uses.
    WorkerOwner workers_;
};

void tst_CfgForm::init()
{
    h = std::make_unique<CfgHarness>();
}

void tst_CfgForm::cleanup()
{
    h.reset();
}

// Clicks "Save to Module" and answers No to the confirmation: the first
// message shown, which is the confirmation when every check passed.
QString tst_CfgForm::saveOutcome(TcfgForm* form)
{
    h->prompter.clear();
    h->prompter.queueAnswer(false);
    QTest::mouseClick(child<QPushButton>(form, "saveModuleBtn"), Qt::LeftButton);
    const auto shown = h->prompter.shown();
    if (shown.isEmpty())
        return QStringLiteral("(nothing shown)");
    if (shown.first().kind == QLatin1String("error") && shown.first().caption != "Error")
        return QStringLiteral("(wrong caption)");
    return shown.first().text;
}

void tst_CfgForm::layoutPagesAndLimits()
{
    TcfgForm* form = h->open(sampleRecord());
    QCOMPARE(form->windowTitle(), QStringLiteral("Configuration Utility"));
    QCOMPARE(form->size(), QSize(550, 499));

    auto* pages = child<QTabWidget>(form, "PageControl_cfg");
    QCOMPARE(pages->count(), 3);
    QCOMPARE(pages->tabText(0), QStringLiteral("Basic Settings"));
    QCOMPARE(pages->tabText(1), QStringLiteral("Operation Mode Settings"));
    QCOMPARE(pages->tabText(2), QStringLiteral("Password Settings"));
    QCOMPARE(pages->currentWidget()->objectName(), QStringLiteral("TabSheet1"));
    auto* inner = child<QTabWidget>(form, "PageControl_op");
    QCOMPARE(inner->count(), 1);
    QCOMPARE(inner->tabText(0), QStringLiteral("Serial port 1"));
    QCOMPARE(inner->widget(0)->objectName(), QStringLiteral("TabSheet_sp0"));

    // Maximum lengths (of what can be typed in one go: the edit keeps a
    // longer text the module sent), password echo.
    const auto typedLimit = [](QLineEdit* e) {
        QString text(2000, QLatin1Char('7'));
        int pos = static_cast<int>(text.size());
        e->validator()->validate(text, pos);
        return static_cast<int>(text.size());
    };
    QCOMPARE(typedLimit(edit(form, "Edit_devName")), 14);
    QCOMPARE(typedLimit(edit(form, "Edit_sp0_tcpslport")), 5);
    QCOMPARE(typedLimit(edit(form, "Edit_sp0_dp_len")), 4);
    QCOMPARE(typedLimit(edit(form, "Edit_sp0_dp_tm")), 5);
    QCOMPARE(typedLimit(edit(form, "Edit_sp0_dp_str0")), 2);
    QCOMPARE(typedLimit(edit(form, "Edit_sp0_dp_str1")), 2);
    QCOMPARE(typedLimit(edit(form, "Edit_newPasswd")), 8);
    QCOMPARE(typedLimit(edit(form, "Edit_retryPasswd")), 8);
    QCOMPARE(edit(form, "Edit_newPasswd")->echoMode(), QLineEdit::Password);
    QCOMPARE(edit(form, "Edit_retryPasswd")->echoMode(), QLineEdit::Password);
    QVERIFY(typedLimit(edit(form, "diolp_Edit")) > 1000);
    QVERIFY(typedLimit(edit(form, "Edit_sp0_tcpcrport")) > 1000);

    // Shown only: disabled on the button face.
    for (const char* name : {"Edit_fmwVer", "Edit_mac", "Edit_LanStatus"}) {
        QVERIFY2(!edit(form, name)->isEnabled(), name);
        QCOMPARE(edit(form, name)->palette().color(QPalette::Disabled, QPalette::Base),
                 edit(form, name)->palette().color(QPalette::Active, QPalette::Button));
    }
    QVERIFY(!combo(form, "CmbBox_sp0_opmode")->isEnabled());

    // The never-visible part of the serial area, and what stays visible of it.
    for (const char* name : {"CmbBox_sp0_fc", "CmbBox_sp0_if", "ChkBox_sp0_dp_len",
                             "Edit_sp0_dp_len", "ChkBox_sp0_dp_tm", "Edit_sp0_dp_tm",
                             "ChkBox_sp0_dp_str", "Edit_sp0_dp_str0", "Edit_sp0_dp_str1"})
        QVERIFY2(form->findChild<QWidget*>(QLatin1String(name))->isHidden(), name);
    for (const char* name :
         {"CmbBox_sp0_baud", "CmbBox_sp0_parity", "CmbBox_sp0_db", "CmbBox_sp0_sb"})
        QVERIFY2(!form->findChild<QWidget*>(QLatin1String(name))->isHidden(), name);
    for (QLabel* l : form->findChildren<QLabel*>()) {
        if (l->text() == "Flow Control :" || l->text() == "Data packing by:"
            || l->text() == "(1~1024 bytes)" || l->text() == "0x")
            QVERIFY2(l->isHidden(), qPrintable(l->text()));
    }

    // Only printable ASCII can be typed into what goes to the module.
    QLineEdit* name = edit(form, "Edit_devName");
    name->clear();
    name->setFocus();
    for (const QChar c : QString::fromUtf8("Ab\u00e9\u4e2d c")) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(name, &press);
    }
    QCOMPARE(name->text(), QStringLiteral("Ab c"));

    // The address controls sit in their containers at their places.
    const QPoint places[4] = {{12, 8}, {12, 38}, {12, 68}, {10, 8}};
    const char* containers[4] = {"Panel4", "Panel4", "Panel4", "Panel2"};
    for (int i = 0; i < 4; ++i) {
        Ipv4AddressEdit* c = form->addressControl(i);
        QVERIFY(c);
        QCOMPARE(c->parentWidget()->objectName(), QLatin1String(containers[i]));
        QCOMPARE(c->geometry(), QRect(places[i], QSize(130, 21)));
    }
    // In the tab order right after the IP mode, and before the remote port.
    QCOMPARE(child<QComboBox>(form, "CmbBox_ipcfg")->nextInFocusChain(),
             form->addressControl(0)->field(0));
    QWidget* afterRemote = form->addressControl(3)->field(3)->nextInFocusChain();
    QCOMPARE(afterRemote, static_cast<QWidget*>(edit(form, "Edit_sp0_tcpcrport")));
    form->close();
}

void tst_CfgForm::comboItemsAndDefaults_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<int>("defaultIndex");
    QTest::addColumn<QString>("shownWithoutSelection");
    QTest::newRow("ipcfg") << "CmbBox_ipcfg" << QStringList{"Static", "DHCP"} << 0 << "";
    QTest::newRow("opmode") << "CmbBox_sp0_opmode" << QStringList{"TCP Server", "TCP Client"} << -1
                            << "TCP Server";
    QTest::newRow("tcpcat") << "CmbBox_sp0_tcpcat" << QStringList{"Startup", "Serial data in"} << 0
                            << "";
    QTest::newRow("baud") << "CmbBox_sp0_baud"
                          << QStringList{"921600", "460800", "230400", "115200", "57600",
                                         "38400",  "19200",  "9600",   "7200",   "4800",
                                         "2400",   "1200",   "300"}
                          << 3 << "";
    QTest::newRow("parity") << "CmbBox_sp0_parity"
                            << QStringList{"NONE", "EVEN", "ODD", "SPACE", "MARK"} << 0 << "";
    QTest::newRow("db") << "CmbBox_sp0_db" << QStringList{"5", "6", "7", "8"} << 3 << "";
    QTest::newRow("sb") << "CmbBox_sp0_sb" << QStringList{"1", "2"} << 0 << "";
    QTest::newRow("fc") << "CmbBox_sp0_fc" << QStringList{"NONE", "RTS/CTS", "XON/XOFF"} << 0 << "";
    QTest::newRow("if") << "CmbBox_sp0_if" << QStringList{"RS-232", "RS-485"} << -1 << "RS-232";
}

void tst_CfgForm::comboItemsAndDefaults()
{
    QFETCH(QString, name);
    QFETCH(QStringList, expected);
    QFETCH(int, defaultIndex);
    QFETCH(QString, shownWithoutSelection);
    // Not shown, so not loaded: the defaults as built, with no main window.
    TcfgForm form(nullptr, CfgFormLinks{}, "02:00:00:00:06:01", sampleRecord());
    QComboBox* box = form.findChild<QComboBox*>(name);
    QVERIFY(box);
    QVERIFY(!box->isEditable());
    QCOMPARE(items(box), expected);
    QCOMPARE(box->currentIndex(), defaultIndex);
    if (defaultIndex < 0)
        QCOMPARE(box->placeholderText(), shownWithoutSelection);
}

void tst_CfgForm::loadShowsEveryField()
{
    SettingsRecord r = sampleRecord();
    r.passwdChg = 1;
    storeField(r.sp0_baud, "9600");
    storeField(r.sp0_fc, "XON/XOFF");
    storeField(r.sp0_if, "RS-485");
    r.webEn = 0;
    TcfgForm* f = h->open(r);
    QCOMPARE(edit(f, "Edit_devName")->text(), QStringLiteral("Lab-1"));
    QCOMPARE(edit(f, "Edit_fmwVer")->text(), QStringLiteral("1.05b"));
    QVERIFY(!check(f, "web_ChkBox")->isChecked());
    QCOMPARE(edit(f, "diolp_Edit")->text(), QStringLiteral("5001"));
    QCOMPARE(combo(f, "CmbBox_sp0_baud")->currentText(), QStringLiteral("9600"));
    QCOMPARE(combo(f, "CmbBox_sp0_fc")->currentText(), QStringLiteral("XON/XOFF"));
    QCOMPARE(combo(f, "CmbBox_sp0_if")->currentText(), QStringLiteral("RS-485"));
    QCOMPARE(edit(f, "Edit_mac")->text(), QStringLiteral("02:00:00:00:06:01"));
    QCOMPARE(edit(f, "Edit_LanStatus")->text(), QStringLiteral("100M Full"));
    QCOMPARE(edit(f, "Edit_sp0_tcpslport")->text(), QStringLiteral("4000"));
    QCOMPARE(combo(f, "CmbBox_ipcfg")->currentText(), QStringLiteral("Static"));
    // The load withdraws any pending password change.
    QCOMPARE(int(f->record().passwdChg), 0);
    f->close();
}

void tst_CfgForm::loadDataFormat_data()
{
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<QString>("parity");
    QTest::addColumn<QString>("dataBits");
    QTest::addColumn<QString>("stopBits");
    QTest::newRow("lower case parity is not recognised") << QByteArray("e71") << "NONE"
                                                         << "7"
                                                         << "1";
    QTest::newRow("nine data bits") << QByteArray("O92") << "ODD"
                                    << "8"
                                    << "2";
    QTest::newRow("even") << QByteArray("E81") << "EVEN"
                          << "8"
                          << "1";
    QTest::newRow("mark five") << QByteArray("M52") << "MARK"
                               << "5"
                               << "2";
    QTest::newRow("space six") << QByteArray("S61") << "SPACE"
                               << "6"
                               << "1";
    QTest::newRow("empty") << QByteArray("") << "NONE"
                           << "8"
                           << "1";
    QTest::newRow("short") << QByteArray("E") << "EVEN"
                           << "8"
                           << "1";
}

void tst_CfgForm::loadDataFormat()
{
    QFETCH(QByteArray, format);
    QFETCH(QString, parity);
    QFETCH(QString, dataBits);
    QFETCH(QString, stopBits);
    SettingsRecord r = sampleRecord();
    storeField(r.sp0_dataFmt, format);
    TcfgForm* f = h->open(r);
    QCOMPARE(combo(f, "CmbBox_sp0_parity")->currentText(), parity);
    QCOMPARE(combo(f, "CmbBox_sp0_db")->currentText(), dataBits);
    QCOMPARE(combo(f, "CmbBox_sp0_sb")->currentText(), stopBits);
    f->close();
}

void tst_CfgForm::loadAddresses()
{
    SettingsRecord r = sampleRecord("10.0.0.010");
    storeField(r.lanMask, "192.168.1");
    storeField(r.lanGw, "0.0.0.0");
    storeField(r.sp0_opmode, "TC");
    storeField(r.sp0_tcpcrip, "0.0.0.0");
    TcfgForm* f = h->open(r);
    QCOMPARE(addressText(f->addressControl(0)), QStringLiteral("10.0.0.10"));
    QCOMPARE(addressText(f->addressControl(1)), QStringLiteral("255.255.255.255"));
    // The gateway 0.0.0.0 stays empty, the remote IP 0.0.0.0 is shown.
    QCOMPARE(addressText(f->addressControl(2)), QStringLiteral("(blank)"));
    QCOMPARE(addressText(f->addressControl(3)), QStringLiteral("0.0.0.0"));
    // The write goes where the module was read, whatever is entered now.
    f->close();

    r = sampleRecord();
    storeField(r.sp0_tcpcrip, "");
    storeField(r.lanGw, "192.0.2.254");
    f = h->open(r);
    QCOMPARE(addressText(f->addressControl(2)), QStringLiteral("192.0.2.254"));
    QCOMPARE(addressText(f->addressControl(3)), QStringLiteral("(blank)"));
    f->close();
}

void tst_CfgForm::loadPacking()
{
    // Length on with "0": ticked, active, and (unlike before) carrying "0".
    SettingsRecord r = sampleRecord();
    storeField(r.sp0_dpCtrl, "001");
    storeField(r.sp0_dpLen, "0");
    TcfgForm* f = h->open(r);
    QVERIFY(check(f, "ChkBox_sp0_dp_len")->isChecked());
    QVERIFY(isActive(edit(f, "Edit_sp0_dp_len")));
    QCOMPARE(edit(f, "Edit_sp0_dp_len")->text(), QStringLiteral("0"));
    QVERIFY(!check(f, "ChkBox_sp0_dp_tm")->isChecked());
    QVERIFY(isInactive(edit(f, "Edit_sp0_dp_tm")));
    QVERIFY(!check(f, "ChkBox_sp0_dp_str")->isChecked());
    QVERIFY(isInactive(edit(f, "Edit_sp0_dp_str0")));
    QVERIFY(isInactive(edit(f, "Edit_sp0_dp_str1")));
    f->close();

    // A one-byte delimiter fills the first edit only, a two-byte one both.
    r = sampleRecord();
    storeField(r.sp0_dpCtrl, "110");
    storeField(r.sp0_dpStr, "0D");
    storeField(r.sp0_dpTm, "050");
    f = h->open(r);
    QVERIFY(check(f, "ChkBox_sp0_dp_str")->isChecked());
    QCOMPARE(edit(f, "Edit_sp0_dp_str0")->text(), QStringLiteral("0D"));
    QCOMPARE(edit(f, "Edit_sp0_dp_str1")->text(), QString());
    QVERIFY(isActive(edit(f, "Edit_sp0_dp_str1")));
    QCOMPARE(edit(f, "Edit_sp0_dp_tm")->text(), QStringLiteral("050"));
    QVERIFY(isInactive(edit(f, "Edit_sp0_dp_len")));
    f->close();

    storeField(r.sp0_dpStr, "0D0A");
    f = h->open(r);
    QCOMPARE(edit(f, "Edit_sp0_dp_str0")->text(), QStringLiteral("0D"));
    QCOMPARE(edit(f, "Edit_sp0_dp_str1")->text(), QStringLiteral("0A"));
    f->close();
}

void tst_CfgForm::loadOperationModes()
{
    SettingsRecord r = sampleRecord();
    TcfgForm* f = h->open(r);
    auto* tcps = child<QFrame>(f, "Panel0_tcps");
    auto* tcpc = child<QFrame>(f, "Panel0_tcpc");
    QCOMPARE(combo(f, "CmbBox_sp0_opmode")->currentText(), QStringLiteral("TCP Server"));
    QVERIFY(!tcps->isHidden());
    QVERIFY(tcpc->isHidden());
    f->close();

    storeField(r.sp0_opmode, "TCx");
    storeField(r.sp0_tcpcat, "1");
    storeField(r.sp0_tcpcrport, "5123");
    storeField(r.sp0_tcpcrip, "198.51.100.7");
    f = h->open(r);
    QCOMPARE(combo(f, "CmbBox_sp0_opmode")->currentText(), QStringLiteral("TCP Client"));
    QVERIFY(child<QFrame>(f, "Panel0_tcps")->isHidden());
    QVERIFY(!child<QFrame>(f, "Panel0_tcpc")->isHidden());
    QCOMPARE(combo(f, "CmbBox_sp0_tcpcat")->currentText(), QStringLiteral("Serial data in"));
    QCOMPARE(edit(f, "Edit_sp0_tcpcrport")->text(), QStringLiteral("5123"));
    QCOMPARE(addressText(f->addressControl(3)), QStringLiteral("198.51.100.7"));
    f->close();

    // A mode with no item shows neither panel and no selection; the box shows
    // the mode as read, which is what a save writes back.
    storeField(r.sp0_opmode, "UD");
    storeField(r.sp0_tcpslport, "");
    f = h->open(r);
    QVERIFY(child<QFrame>(f, "Panel0_tcps")->isHidden());
    QVERIFY(child<QFrame>(f, "Panel0_tcpc")->isHidden());
    QCOMPARE(combo(f, "CmbBox_sp0_opmode")->currentIndex(), -1);
    QCOMPARE(combo(f, "CmbBox_sp0_opmode")->placeholderText(), QStringLiteral("UD"));
    QCOMPARE(edit(f, "Edit_sp0_tcpslport")->text(), QString());
    f->close();
}

void tst_CfgForm::loadDhcpAndPing()
{
    SettingsRecord r = sampleRecord();
    storeField(r.lanIpCfg, "1");
    storeField(r.lanPingEn, "");
    TcfgForm* f = h->open(r);
    QCOMPARE(combo(f, "CmbBox_ipcfg")->currentText(), QStringLiteral("DHCP"));
    for (int i = 0; i < 3; ++i)
        QVERIFY(!f->addressControl(i)->isEnabled());
    QVERIFY(f->addressControl(3)->isEnabled());
    // Disabled, yet showing what was read; an empty ping setting ticks the box.
    QCOMPARE(addressText(f->addressControl(0)), QStringLiteral("192.0.2.10"));
    QCOMPARE(addressText(f->addressControl(2)), QStringLiteral("192.0.2.1"));
    QVERIFY(check(f, "CkBox_pingEn")->isChecked());
    QVERIFY(!check(f, "CkBox_pingEn")->isEnabled());
    f->close();

    storeField(r.lanIpCfg, "0");
    storeField(r.lanPingEn, "0");
    f = h->open(r);
    QVERIFY(!check(f, "CkBox_pingEn")->isChecked());
    QVERIFY(check(f, "CkBox_pingEn")->isEnabled());
    QVERIFY(f->addressControl(0)->isEnabled());
    f->close();
}

void tst_CfgForm::loadKeepsUnmatchedValues()
{
    SettingsRecord r = sampleRecord();
    storeField(r.sp0_baud, "14400");
    storeField(r.sp0_fc, "DTR/DSR");
    storeField(r.sp0_if, "rs-485");
    TcfgForm* f = h->open(r);
    QComboBox* baud = combo(f, "CmbBox_sp0_baud");
    // The box shows the rate as read, as one more entry after the others.
    QCOMPARE(baud->currentText(), QStringLiteral("14400"));
    QCOMPARE(baud->count(), 14);
    QCOMPARE(baud->itemText(12), QStringLiteral("300"));
    // The hidden boxes stay as built: NONE, and no interface selected.
    QCOMPARE(combo(f, "CmbBox_sp0_fc")->currentText(), QStringLiteral("NONE"));
    QCOMPARE(combo(f, "CmbBox_sp0_if")->currentIndex(), -1);
    f->close();
}

void tst_CfgForm::loadLatin1AndEmptyName()
{
    SettingsRecord r = sampleRecord();
    storeField(r.devName, QByteArray("Caf\xE9"));
    TcfgForm* f = h->open(r);
    QCOMPARE(edit(f, "Edit_devName")->text(), QString::fromUtf8("Caf\u00e9"));
    // Saved back byte for byte.
    QCOMPARE(saveOutcome(f), kConfirm);
    QCOMPARE(fieldBytes(f->record().devName), QByteArray("Caf\xE9"));
    f->close();

    storeField(r.devName, "");
    f = h->open(r);
    QCOMPARE(edit(f, "Edit_devName")->text(), QString());
    f->close();
}

void tst_CfgForm::ipModeSwitchKeepsValues()
{
    TcfgForm* f = h->open(sampleRecord());
    QComboBox* mode = combo(f, "CmbBox_ipcfg");
    mode->setCurrentIndex(1);
    for (int i = 0; i < 3; ++i)
        QVERIFY(!f->addressControl(i)->isEnabled());
    QVERIFY(!check(f, "CkBox_pingEn")->isEnabled());
    mode->setCurrentIndex(0);
    for (int i = 0; i < 3; ++i)
        QVERIFY(f->addressControl(i)->isEnabled());
    QVERIFY(check(f, "CkBox_pingEn")->isEnabled());
    QVERIFY(check(f, "CkBox_pingEn")->isChecked());
    QCOMPARE(addressText(f->addressControl(0)), QStringLiteral("192.0.2.10"));
    QCOMPARE(addressText(f->addressControl(1)), QStringLiteral("255.255.255.0"));
    QCOMPARE(addressText(f->addressControl(2)), QStringLiteral("192.0.2.1"));
    f->close();
}

void tst_CfgForm::packingBoxes()
{
    SettingsRecord r = sampleRecord();
    storeField(r.sp0_dpCtrl, "100");
    TcfgForm* f = h->open(r);
    QCheckBox* str = check(f, "ChkBox_sp0_dp_str");
    QLineEdit* str0 = edit(f, "Edit_sp0_dp_str0");
    QLineEdit* str1 = edit(f, "Edit_sp0_dp_str1");
    QCOMPARE(str1->text(), QStringLiteral("0A"));
    str->setChecked(false);
    QVERIFY(isInactive(str0));
    QVERIFY(isInactive(str1));
    str->setChecked(true);
    QVERIFY(isActive(str0));
    QVERIFY(isActive(str1));
    QCOMPARE(str0->text(), QString());
    QCOMPARE(str1->text(), QString());

    // Ticking keeps whatever the edit holds; only unticking empties it.
    QCheckBox* len = check(f, "ChkBox_sp0_dp_len");
    QLineEdit* lenEdit = edit(f, "Edit_sp0_dp_len");
    QVERIFY(isInactive(lenEdit));
    lenEdit->setText(QStringLiteral("64"));
    len->setChecked(true);
    QVERIFY(isActive(lenEdit));
    QCOMPARE(lenEdit->text(), QStringLiteral("64"));
    QCheckBox* tm = check(f, "ChkBox_sp0_dp_tm");
    tm->setChecked(true);
    edit(f, "Edit_sp0_dp_tm")->setText(QStringLiteral("20"));
    tm->setChecked(false);
    QVERIFY(isInactive(edit(f, "Edit_sp0_dp_tm")));
    f->close();
}

void tst_CfgForm::operationModeHandler()
{
    TcfgForm* f = h->open(sampleRecord());
    QComboBox* mode = combo(f, "CmbBox_sp0_opmode");
    mode->setCurrentIndex(1);
    QVERIFY(child<QFrame>(f, "Panel0_tcps")->isHidden());
    QVERIFY(!child<QFrame>(f, "Panel0_tcpc")->isHidden());
    mode->setCurrentIndex(-1);
    QVERIFY(child<QFrame>(f, "Panel0_tcps")->isHidden());
    QVERIFY(child<QFrame>(f, "Panel0_tcpc")->isHidden());
    mode->setCurrentIndex(0);
    QVERIFY(!child<QFrame>(f, "Panel0_tcps")->isHidden());
    f->close();
}

void tst_CfgForm::checksInOrder()
{
    TcfgForm* f = h->open(sampleRecord());
    edit(f, "Edit_devName")->clear();
    edit(f, "diolp_Edit")->clear();
    f->addressControl(0)->clear();
    // The name is looked at before anything else.
    QCOMPARE(saveOutcome(f), QStringLiteral("device name can't be blank"));
    QCOMPARE(h->prompter.shown().first().caption, QStringLiteral("Error"));
    // Spaces are not blank.
    edit(f, "Edit_devName")->setText(QStringLiteral(" "));
    QCOMPARE(saveOutcome(f), QStringLiteral("DIO Listen port can't be blank"));
    edit(f, "diolp_Edit")->setText(QStringLiteral("1"));
    QCOMPARE(saveOutcome(f), QStringLiteral("invalid IP address"));
    // The window stays open after every refusal.
    QVERIFY(f->isVisible());
    f->close();
}

void tst_CfgForm::checkDiolp_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("logged");
    QTest::newRow("letters") << "abc"
                             << "'abc' is not a valid integer value" << true;
    QTest::newRow("trailing space") << "80 "
                                    << "'80 ' is not a valid integer value" << true;
    QTest::newRow("leading spaces") << "  80" << kConfirm << false;
    QTest::newRow("hex") << "$1F" << kConfirm << false;
    QTest::newRow("negative") << "-5" << kConfirm << false;
    QTest::newRow("nine characters") << "        1" << kConfirm << false;
    QTest::newRow("ten characters") << "         1"
                                    << "DIO Listen port can't be longer than 9 characters" << false;
}

void tst_CfgForm::checkDiolp()
{
    QFETCH(QString, text);
    QFETCH(QString, message);
    QFETCH(bool, logged);
    TcfgForm* f = h->open(sampleRecord());
    h->mainForm->messageLog()->clear();
    edit(f, "diolp_Edit")->setText(text);
    QCOMPARE(saveOutcome(f), message);
    QCOMPARE(h->mainForm->messageLog()->toPlainText(),
             logged ? QStringLiteral("checkBeforeSave") : QString());
    if (message == kConfirm)
        QCOMPARE(fieldText(f->record().diolp), text);
    else
        QCOMPARE(fieldText(f->record().diolp), QStringLiteral("5001"));
    f->close();
}

void tst_CfgForm::checkPacking_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("editName");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message");
    const QString len = QStringLiteral("invalid data packing length");
    const QString tm = QStringLiteral("invalid data packing timeout");
    QTest::newRow("length 1024") << "ChkBox_sp0_dp_len"
                                 << "Edit_sp0_dp_len"
                                 << "1024" << kConfirm;
    QTest::newRow("length 1") << "ChkBox_sp0_dp_len"
                              << "Edit_sp0_dp_len"
                              << "1" << kConfirm;
    QTest::newRow("length 1025") << "ChkBox_sp0_dp_len"
                                 << "Edit_sp0_dp_len"
                                 << "1025" << len;
    QTest::newRow("length 0") << "ChkBox_sp0_dp_len"
                              << "Edit_sp0_dp_len"
                              << "0" << len;
    QTest::newRow("length -1") << "ChkBox_sp0_dp_len"
                               << "Edit_sp0_dp_len"
                               << "-1" << len;
    QTest::newRow("length blank") << "ChkBox_sp0_dp_len"
                                  << "Edit_sp0_dp_len"
                                  << ""
                                  << "port 1 data packing length can't be blank";
    QTest::newRow("length hex prefix alone") << "ChkBox_sp0_dp_len"
                                             << "Edit_sp0_dp_len"
                                             << "x"
                                             << "'x' is not a valid integer value";
    QTest::newRow("timeout 65535") << "ChkBox_sp0_dp_tm"
                                   << "Edit_sp0_dp_tm"
                                   << "65535" << kConfirm;
    QTest::newRow("timeout 65536") << "ChkBox_sp0_dp_tm"
                                   << "Edit_sp0_dp_tm"
                                   << "65536" << tm;
    QTest::newRow("timeout 0") << "ChkBox_sp0_dp_tm"
                               << "Edit_sp0_dp_tm"
                               << "0" << tm;
    QTest::newRow("timeout blank") << "ChkBox_sp0_dp_tm"
                                   << "Edit_sp0_dp_tm"
                                   << ""
                                   << "port 1 data packing timeout can't be blank";
    QTest::newRow("timeout letters") << "ChkBox_sp0_dp_tm"
                                     << "Edit_sp0_dp_tm"
                                     << "1a"
                                     << "'1a' is not a valid integer value";
}

void tst_CfgForm::checkPacking()
{
    QFETCH(QString, box);
    QFETCH(QString, editName);
    QFETCH(QString, text);
    QFETCH(QString, message);
    TcfgForm* f = h->open(sampleRecord());
    f->findChild<QCheckBox*>(box)->setChecked(true);
    f->findChild<QLineEdit*>(editName)->setText(text);
    QCOMPARE(saveOutcome(f), message);
    if (message == kConfirm) {
        const bool isLength = box.contains("len");
        QCOMPARE(isLength ? fieldText(f->record().sp0_dpLen) : fieldText(f->record().sp0_dpTm),
                 text);
        QCOMPARE(fieldText(f->record().sp0_dpCtrl),
                 isLength ? QStringLiteral("001") : QStringLiteral("010"));
    }
    f->close();
}

void tst_CfgForm::checkDelimiter_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("collected");
    QTest::newRow("two bytes") << "d"
                               << "a0" << kConfirm << "0DA0";
    QTest::newRow("one byte") << "d"
                              << "" << kConfirm << "0D";
    QTest::newRow("upper case") << "FF"
                                << "0" << kConfirm << "FF00";
    QTest::newRow("first blank") << ""
                                 << "0a"
                                 << "port 1 delimiter can't be blank"
                                 << "";
    QTest::newRow("first not hex") << "zz"
                                   << ""
                                   << "'0xzz' is not a valid integer value"
                                   << "";
    QTest::newRow("second not hex") << "0d"
                                    << "g"
                                    << "'0xg' is not a valid integer value"
                                    << "";
    QTest::newRow("space") << " d"
                           << ""
                           << "'0x d' is not a valid integer value"
                           << "";
}

void tst_CfgForm::checkDelimiter()
{
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(QString, message);
    QFETCH(QString, collected);
    TcfgForm* f = h->open(sampleRecord());
    h->mainForm->messageLog()->clear();
    check(f, "ChkBox_sp0_dp_str")->setChecked(true);
    edit(f, "Edit_sp0_dp_str0")->setText(first);
    edit(f, "Edit_sp0_dp_str1")->setText(second);
    QCOMPARE(saveOutcome(f), message);
    if (message.startsWith('\''))
        QCOMPARE(h->mainForm->messageLog()->toPlainText(), QStringLiteral("checkBeforeSave"));
    if (!collected.isEmpty()) {
        QCOMPARE(fieldText(f->record().sp0_dpStr), collected);
        QCOMPARE(fieldText(f->record().sp0_dpCtrl), QStringLiteral("100"));
    }
    f->close();
}

void tst_CfgForm::checkAddresses()
{
    SettingsRecord r = sampleRecord();
    storeField(r.lanIpCfg, "1");
    TcfgForm* f = h->open(r);
    // In DHCP mode the address and mask are still checked.
    f->addressControl(1)->clear();
    QCOMPARE(saveOutcome(f), QStringLiteral("invalid netmask address"));
    f->addressControl(0)->setAddress(0);
    QCOMPARE(saveOutcome(f), QStringLiteral("invalid IP address"));
    f->addressControl(0)->setAddress(0xC0000263u);
    f->addressControl(1)->setAddress(0xFFFFFF00u);
    // A blank gateway passes and is written as 0.0.0.0.
    f->addressControl(2)->clear();
    QCOMPARE(saveOutcome(f), kConfirm);
    QCOMPARE(fieldText(f->record().lanIp), QStringLiteral("192.0.2.99"));
    QCOMPARE(fieldText(f->record().lanGw), QStringLiteral("0.0.0.0"));
    QCOMPARE(fieldText(f->record().lanIpCfg), QStringLiteral("1"));
    f->close();
}

void tst_CfgForm::checkServerMode()
{
    SettingsRecord r = sampleRecord();
    storeField(r.sp0_tcpcrport, "4000");
    storeField(r.sp0_tcpcrip, "198.51.100.1");
    TcfgForm* f = h->open(r);
    QLineEdit* port = edit(f, "Edit_sp0_tcpslport");
    port->clear();
    QCOMPARE(saveOutcome(f), QStringLiteral("port 1 Listen port can't be blank"));
    port->setText(QStringLiteral("1x"));
    QCOMPARE(saveOutcome(f), QStringLiteral("'1x' is not a valid integer value"));
    // No range here: the edit takes five characters at most.
    port->setText(QStringLiteral("0"));
    QCOMPARE(saveOutcome(f), kConfirm);
    port->setText(QStringLiteral("99999"));
    // The client fields are neither checked nor collected, whatever they hold.
    edit(f, "Edit_sp0_tcpcrport")->setText(QStringLiteral("junk"));
    f->addressControl(3)->clear();
    combo(f, "CmbBox_sp0_tcpcat")->setCurrentIndex(1);
    QCOMPARE(saveOutcome(f), kConfirm);
    QCOMPARE(fieldText(f->record().sp0_tcpslport), QStringLiteral("99999"));
    QCOMPARE(fieldText(f->record().sp0_opmode), QStringLiteral("TS"));
    QCOMPARE(fieldText(f->record().sp0_tcpcrport), QStringLiteral("4000"));
    QCOMPARE(fieldText(f->record().sp0_tcpcrip), QStringLiteral("198.51.100.1"));
    QCOMPARE(fieldText(f->record().sp0_tcpcat), QStringLiteral("0"));
    f->close();
}

void tst_CfgForm::checkClientMode_data()
{
    QTest::addColumn<bool>("remoteIpBlank");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("message");
    QTest::newRow("remote IP blank") << true << "80"
                                     << "invalid remote IP";
    QTest::newRow("port 0") << false << "0"
                            << "invalid remote Port";
    QTest::newRow("port 65536") << false << "65536"
                                << "invalid remote Port";
    QTest::newRow("port blank") << false << ""
                                << "'' is not a valid integer value";
    QTest::newRow("port 65535") << false << "65535" << kConfirm;
    QTest::newRow("thirty characters") << false << QString(28, ' ') + "80" << kConfirm;
    QTest::newRow("thirty-one characters")
        << false << QString(29, ' ') + "80"
        << "port 1 Remote port can't be longer than 30 characters";
}

void tst_CfgForm::checkClientMode()
{
    QFETCH(bool, remoteIpBlank);
    QFETCH(QString, port);
    QFETCH(QString, message);
    SettingsRecord r = sampleRecord();
    storeField(r.sp0_opmode, "TC");
    storeField(r.sp0_tcpcrip, "198.51.100.1");
    storeField(r.sp0_tcpslport, "4000");
    TcfgForm* f = h->open(r);
    if (remoteIpBlank)
        f->addressControl(3)->clear();
    edit(f, "Edit_sp0_tcpcrport")->setText(port);
    combo(f, "CmbBox_sp0_tcpcat")->setCurrentIndex(1);
    // The listen port is not looked at in this mode.
    edit(f, "Edit_sp0_tcpslport")->setText(QStringLiteral("bad"));
    QCOMPARE(saveOutcome(f), message);
    if (message == kConfirm) {
        QCOMPARE(fieldText(f->record().sp0_tcpcrport), port);
        QCOMPARE(fieldText(f->record().sp0_tcpcat), QStringLiteral("1"));
        QCOMPARE(fieldText(f->record().sp0_tcpcrip), QStringLiteral("198.51.100.1"));
        QCOMPARE(fieldText(f->record().sp0_tcpslport), QStringLiteral("4000"));
    } else {
        QCOMPARE(fieldText(f->record().sp0_tcpcrport), QStringLiteral("4000"));
    }
    f->close();
}

void tst_CfgForm::collectionWritesTheRecord()
{
    SettingsRecord r = sampleRecord();
    storeField(r.lanPingEn, "1ab");
    storeField(r.sp0_dpCtrl, "1111");
    storeField(r.sp0_dpLen, "64");
    storeField(r.sp0_dpTm, "10");
    TcfgForm* f = h->open(r);
    edit(f, "Edit_devName")->setText(QStringLiteral("Pump 7"));
    check(f, "web_ChkBox")->setChecked(false);
    combo(f, "CmbBox_sp0_baud")->setCurrentText(QStringLiteral("921600"));
    combo(f, "CmbBox_sp0_parity")->setCurrentText(QStringLiteral("SPACE"));
    combo(f, "CmbBox_sp0_db")->setCurrentText(QStringLiteral("7"));
    combo(f, "CmbBox_sp0_sb")->setCurrentText(QStringLiteral("2"));
    check(f, "CkBox_pingEn")->setChecked(false);
    check(f, "ChkBox_sp0_dp_tm")->setChecked(false);
    edit(f, "Edit_sp0_dp_len")->setText(QStringLiteral("0010"));
    QCOMPARE(saveOutcome(f), kConfirm);
    const SettingsRecord& c = f->record();
    QCOMPARE(fieldText(c.devName), QStringLiteral("Pump 7"));
    QCOMPARE(int(c.webEn), 0);
    QCOMPARE(fieldText(c.sp0_baud), QStringLiteral("921600"));
    QCOMPARE(fieldText(c.sp0_dataFmt), QStringLiteral("S72"));
    // Exactly three switches; a number stays as typed.
    QCOMPARE(fieldText(c.sp0_dpCtrl), QStringLiteral("101"));
    QCOMPARE(fieldText(c.sp0_dpLen), QStringLiteral("0010"));
    // Unticked: the value keeps what it had.
    QCOMPARE(fieldText(c.sp0_dpTm), QStringLiteral("10"));
    // Only the first character of the ping setting is the switch.
    QCOMPARE(fieldText(c.lanPingEn), QStringLiteral("0ab"));
    QCOMPARE(fieldText(c.lanMask), QStringLiteral("255.255.255.0"));
    // Answering No leaves the window open with the record collected.
    QVERIFY(f->isVisible());
    f->close();
}

void tst_CfgForm::refusalKeepsEarlierFields()
{
    TcfgForm* f = h->open(sampleRecord());
    edit(f, "Edit_devName")->setText(QStringLiteral("Renamed"));
    check(f, "web_ChkBox")->setChecked(false);
    edit(f, "diolp_Edit")->setText(QStringLiteral("oops"));
    QCOMPARE(saveOutcome(f), QStringLiteral("'oops' is not a valid integer value"));
    QCOMPARE(fieldText(f->record().devName), QStringLiteral("Renamed"));
    QCOMPARE(int(f->record().webEn), 0);
    QCOMPARE(fieldText(f->record().diolp), QStringLiteral("5001"));
    f->close();
}

void tst_CfgForm::unseenValuesGoBackAsRead()
{
    SettingsRecord r = sampleRecord();
    storeField(r.sp0_baud, "14400");
    storeField(r.sp0_fc, "DTR/DSR");
    storeField(r.sp0_if, "RS-422");
    storeField(r.sp0_opmode, "UD");
    TcfgForm* f = h->open(r);
    QCOMPARE(saveOutcome(f), kConfirm);
    QCOMPARE(fieldText(f->record().sp0_baud), QStringLiteral("14400"));
    QCOMPARE(fieldText(f->record().sp0_fc), QStringLiteral("DTR/DSR"));
    QCOMPARE(fieldText(f->record().sp0_if), QStringLiteral("RS-422"));
    QCOMPARE(fieldText(f->record().sp0_opmode), QStringLiteral("UD"));

    // An item picked by the user is written instead.
    combo(f, "CmbBox_sp0_baud")->setCurrentText(QStringLiteral("9600"));
    combo(f, "CmbBox_sp0_fc")->setCurrentIndex(1);
    combo(f, "CmbBox_sp0_if")->setCurrentIndex(1);
    QCOMPARE(saveOutcome(f), kConfirm);
    QCOMPARE(fieldText(f->record().sp0_baud), QStringLiteral("9600"));
    QCOMPARE(fieldText(f->record().sp0_fc), QStringLiteral("RTS/CTS"));
    QCOMPARE(fieldText(f->record().sp0_if), QStringLiteral("RS-485"));
    // Back on the extra entry: the rate as read again.
    combo(f, "CmbBox_sp0_baud")->setCurrentIndex(13);
    QCOMPARE(saveOutcome(f), kConfirm);
    QCOMPARE(fieldText(f->record().sp0_baud), QStringLiteral("14400"));
    f->close();
}

void tst_CfgForm::hiddenPackingAsLoaded()
{
    // Values nobody could see or change go back unchecked...
    SettingsRecord r = sampleRecord();
    storeField(r.sp0_dpCtrl, "111");
    storeField(r.sp0_dpLen, "0");
    storeField(r.sp0_dpTm, "070000");
    storeField(r.sp0_dpStr, "");
    TcfgForm* f = h->open(r);
    QCOMPARE(saveOutcome(f), kConfirm);
    QCOMPARE(fieldText(f->record().sp0_dpCtrl), QStringLiteral("111"));
    QCOMPARE(fieldText(f->record().sp0_dpLen), QStringLiteral("0"));
    QCOMPARE(fieldText(f->record().sp0_dpTm), QStringLiteral("070000"));
    QCOMPARE(fieldText(f->record().sp0_dpStr), QString());

    // ...while a changed one gets every check.
    edit(f, "Edit_sp0_dp_len")->setText(QStringLiteral("00"));
    QCOMPARE(saveOutcome(f), QStringLiteral("invalid data packing length"));
    edit(f, "Edit_sp0_dp_len")->setText(QStringLiteral("0"));
    edit(f, "Edit_sp0_dp_str1")->setText(QStringLiteral("0a"));
    QCOMPARE(saveOutcome(f), QStringLiteral("port 1 delimiter can't be blank"));
    edit(f, "Edit_sp0_dp_str0")->setText(QStringLiteral("d"));
    QCOMPARE(saveOutcome(f), kConfirm);
    QCOMPARE(fieldText(f->record().sp0_dpStr), QStringLiteral("0D0A"));
    // Unticked and ticked again: no longer as loaded.
    check(f, "ChkBox_sp0_dp_tm")->setChecked(false);
    check(f, "ChkBox_sp0_dp_tm")->setChecked(true);
    QCOMPARE(saveOutcome(f), QStringLiteral("port 1 data packing timeout can't be blank"));
    f->close();
}

void tst_CfgForm::passwordPage()
{
    TcfgForm* f = h->open(sampleRecord());
    QLineEdit* fresh = edit(f, "Edit_newPasswd");
    QLineEdit* again = edit(f, "Edit_retryPasswd");
    auto* save = child<QPushButton>(f, "Save_Btn");

    // Identical empty passwords are accepted: the next save removes it.
    h->prompter.clear();
    QTest::mouseClick(save, Qt::LeftButton);
    QCOMPARE(h->prompter.texts(), QStringList{"new password accepted"});
    QCOMPARE(h->prompter.shown().first().kind, QStringLiteral("finished"));
    QCOMPARE(int(f->record().passwdChg), 1);
    QCOMPARE(fieldText(f->record().newPasswd), QString());

    fresh->setText(QStringLiteral("s3cret"));
    again->setText(QStringLiteral("s3cret"));
    h->prompter.clear();
    QTest::mouseClick(save, Qt::LeftButton);
    QCOMPARE(h->prompter.texts(), QStringList{"new password accepted"});
    QCOMPARE(fieldText(f->record().newPasswd), QStringLiteral("s3cret"));
    QCOMPARE(fresh->text(), QStringLiteral("s3cret"));

    // A mismatch afterwards withdraws the accepted password.
    again->setText(QStringLiteral("s3creT"));
    h->prompter.clear();
    QTest::mouseClick(save, Qt::LeftButton);
    QCOMPARE(h->prompter.texts(), QStringList{"Confirm password isn't match for new password"});
    QCOMPARE(h->prompter.shown().first().caption, QStringLiteral("Error"));
    QCOMPARE(int(f->record().passwdChg), 0);
    QCOMPARE(again->text(), QStringLiteral("s3creT"));

    again->setText(QStringLiteral("s3cret"));
    QTest::mouseClick(save, Qt::LeftButton);
    QCOMPARE(int(f->record().passwdChg), 1);
    h->prompter.clear();
    QTest::mouseClick(child<QPushButton>(f, "Cancel_Btn"), Qt::LeftButton);
    QCOMPARE(h->prompter.count(), 0);
    QCOMPARE(int(f->record().passwdChg), 0);
    QVERIFY(fresh->text().isEmpty());
    QVERIFY(again->text().isEmpty());
    // The save carries the flag as the page left it.
    QCOMPARE(saveOutcome(f), kConfirm);
    QCOMPARE(int(f->record().passwdChg), 0);
    f->close();
}

void tst_CfgForm::lifecycleTwoWindowsAndRowColour()
{
    TmainForm* m = h->mainForm.get();
    for (const char* mac : {"02:00:00:00:06:01", "02:00:00:00:06:02"}) {
        DiscoveryRecord d;
        std::memset(&d, 0, sizeof d);
        std::strcpy(d.macText, mac);
        std::strcpy(d.ipText, "192.0.2.10");
        std::strcpy(d.deviceName, "Lab");
        m->addDevice(d);
        m->markDeviceOpen(mac, true);
    }
    const QColor blue(0, 0, 255);
    QCOMPARE(m->deviceRowColour(0), blue);

    QPointer<TcfgForm> first = h->open(sampleRecord("192.0.2.10", "02:00:00:00:06:01"));
    QPointer<TcfgForm> second = h->open(sampleRecord("192.0.2.11", "02:00:00:00:06:02"));
    QVERIFY(first->isVisible() && second->isVisible());
    QVERIFY(!first->isModal() && !second->isModal());
    edit(first, "Edit_devName")->setText(QStringLiteral("One"));
    QCOMPARE(edit(second, "Edit_devName")->text(), QStringLiteral("Lab-1"));

    QTest::mouseClick(child<QPushButton>(first, "abortBtn"), Qt::LeftButton);
    QTRY_VERIFY(first.isNull());
    QCOMPARE(m->isDeviceOpen("02:00:00:00:06:01"), 0);
    QCOMPARE(m->isDeviceOpen("02:00:00:00:06:02"), -1);
    QVERIFY(m->deviceRowColour(0) != blue);
    QCOMPARE(m->deviceRowColour(1), blue);
    QVERIFY(second->isVisible());
    second->close();
    QTRY_VERIFY(second.isNull());
    QCOMPARE(m->isDeviceOpen("02:00:00:00:06:02"), 0);
}

void tst_CfgForm::closeBoxAndAddressControls()
{
    TmainForm* m = h->mainForm.get();
    m->markDeviceOpen("02:00:00:00:06:01", true);
    QPointer<TcfgForm> f = h->open(sampleRecord());
    f->Save_BtnClick();
    QPointer<Ipv4AddressEdit> control = f->addressControl(0);
    QVERIFY(control);
    h->prompter.clear();
    // The close box: same as Abort, nothing is sent and nothing is asked.
    QCloseEvent event;
    QApplication::sendEvent(f, &event);
    QVERIFY(event.isAccepted());
    QVERIFY(control.isNull());
    QCOMPARE(m->isDeviceOpen("02:00:00:00:06:01"), 0);
    QCOMPARE(h->prompter.count(), 0);
    f->close();
    QTRY_VERIFY(f.isNull());
}

void tst_CfgForm::addressControlCreationFails()
{
    int made = 0;
    TcfgForm::AddressControlFactory factory = [&made](QWidget* parent,
                                                      int& error) -> Ipv4AddressEdit* {
        if (made++ == 1) {
            error = 1400;
            return nullptr;
        }
        return new Ipv4AddressEdit(parent);
    };
    TcfgForm* f = h->open(sampleRecord(), nullptr, factory);
    QCOMPARE(h->prompter.texts(), QStringList{"create ip control failed: 1400"});
    QVERIFY(f->isVisible());
    QVERIFY(f->addressControl(0) && !f->addressControl(1) && f->addressControl(2));
    // The rest of the load went on.
    QCOMPARE(addressText(f->addressControl(2)), QStringLiteral("192.0.2.1"));
    // A missing control reads as an empty one.
    QCOMPARE(saveOutcome(f), QStringLiteral("invalid netmask address"));
    f->close();
}

void tst_CfgForm::saveUnreachableReportsAndCloses()
{
    // Nothing listens on this loopback address; the host tables are fake.
    TmainForm* m = h->mainForm.get();
    m->markDeviceOpen("02:00:00:00:06:01", true);
    QPointer<TcfgForm> f = h->open(sampleRecord("127.77.6.9"));
    // The address entered now is not where the write goes.
    f->addressControl(0)->setAddress(0xC0000263u);
    h->prompter.clear();
    QTest::mouseClick(child<QPushButton>(f, "saveModuleBtn"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(f.isNull(), 15000);
    QCOMPARE(h->prompter.texts(), (QStringList{kConfirm, "connect to device failed"}));
    QCOMPARE(h->prompter.shown().last().caption, QStringLiteral("Error"));
    // The write worker's box too is the window's and names its module.
    QCOMPARE(h->prompter.shown().last().ownerName, QStringLiteral("cfgForm"));
    QCOMPARE(h->prompter.shown().last().subject,
             QStringLiteral("Lab-1  127.77.6.9  02:00:00:00:06:01"));
    QCOMPARE(m->isDeviceOpen("02:00:00:00:06:01"), 0);
    QVERIFY(!m->windows().tcpPrgForm->isVisible());
}

void tst_CfgForm::windowFitsTheScreen()
{
    // Run once on the usual test screen and once at scale 2 on a 1280x1024
    // screen (tst_cfgform_scale2), where the window is larger than the screen.
    const bool scaled = qEnvironmentVariable("QT_SCALE_FACTOR") == QLatin1String("2");
    TcfgForm* first = h->open(sampleRecord());
    QVERIFY(QTest::qWaitForWindowExposed(first));
    const QRect area = first->screen()->availableGeometry();
    if (scaled)
        QCOMPARE(first->screen()->geometry().size(), QSize(640, 512));
    QVERIFY2(area.contains(first->frameGeometry()),
             qPrintable(QStringLiteral("%1,%2 %3x%4")
                            .arg(first->frameGeometry().x())
                            .arg(first->frameGeometry().y())
                            .arg(first->frameGeometry().width())
                            .arg(first->frameGeometry().height())));
    // The pages keep their size and scroll where the window is smaller; the
    // buttons stay in sight below them.
    auto* scroll = child<QScrollArea>(first, "cfgScroll");
    QCOMPARE(scroll->widget()->size(), QSize(550, 458));
    QCOMPARE(scroll->verticalScrollBar()->maximum() > 0, first->height() < 499);
    const auto buttonsInSight = [&area](TcfgForm* form) {
        for (const char* name : {"saveModuleBtn", "abortBtn"}) {
            auto* button = child<QPushButton>(form, name);
            const QRect onScreen(button->mapToGlobal(QPoint(0, 0)), button->size());
            if (!form->rect().contains(button->geometry()) || !area.contains(onScreen))
                return false;
        }
        return true;
    };
    QVERIFY(buttonsInSight(first));
    // Resizable, and the buttons follow a smaller window.
    QVERIFY(first->minimumSize() != first->maximumSize());
    first->resize(300, 200);
    QTRY_COMPARE(first->size(), QSize(300, 200));
    QVERIFY(buttonsInSight(first));
    QVERIFY(scroll->verticalScrollBar()->maximum() > 0);
    QVERIFY(child<QPushButton>(first, "abortBtn")->y() > scroll->geometry().bottom());

    // A second window opens offset from the first, also on the screen.
    TcfgForm* second = h->open(sampleRecord("192.0.2.11", "02:00:00:00:06:02"));
    QVERIFY(QTest::qWaitForWindowExposed(second));
    QVERIFY(second->pos() != first->pos());
    QVERIFY(area.contains(second->frameGeometry()));

    // A window of its own for assistive technology, named by its caption.
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(first);
    QVERIFY(accessible);
    QCOMPARE(accessible->role(), QAccessible::Window);
    QCOMPARE(accessible->text(QAccessible::Name), first->windowTitle());
    first->close();
    second->close();
}

void tst_CfgForm::boxesBelongToTheWindowAndNameItsModule()
{
    TcfgForm* form = h->open(sampleRecord());
    const QString module = QStringLiteral("Lab-1  192.0.2.10  02:00:00:00:06:01");
    QCOMPARE(saveOutcome(form), kConfirm);
    const auto confirm = h->prompter.shown().first();
    QCOMPARE(confirm.owner.data(), static_cast<QObject*>(form));
    QCOMPARE(confirm.subject, module);
    // A refused check and the password page say so in the same window.
    edit(form, "Edit_devName")->clear();
    QCOMPARE(saveOutcome(form), QStringLiteral("device name can't be blank"));
    QCOMPARE(h->prompter.shown().first().owner.data(), static_cast<QObject*>(form));
    QCOMPARE(h->prompter.shown().first().subject, module);
    h->prompter.clear();
    form->Save_BtnClick();
    QCOMPARE(h->prompter.shown().first().owner.data(), static_cast<QObject*>(form));
    // The main window's prompts are left as they were.
    QCOMPARE(h->prompter.subject(), QString());
    QVERIFY(!h->prompter.owner());

    // The write's progress window is this window's while it runs, and the
    // main window's again afterwards.
    TtcpPrgForm* progress = h->mainForm->windows().tcpPrgForm;
    {
        const ProgressLoan loan(progress, form);
        QCOMPARE(progress->parentWidget(), static_cast<QWidget*>(form));
    }
    QCOMPARE(progress->parentWidget(), static_cast<QWidget*>(h->mainForm.get()));
    form->close();
}

QTEST_MAIN(tst_CfgForm)
#include "tst_cfgform.moc"
