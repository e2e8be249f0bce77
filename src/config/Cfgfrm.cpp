#include "config/Cfgfrm.h"

#include "config/CfgItems.h"
#include "handover/FilePicker.h"
#include "handover/WindowPrompter.h"
#include "widgets/Ipv4AddressEdit.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QStyle>
#include <QTabWidget>
#include <QValidator>

#include <algorithm>
#include <cstring>

namespace tvx {

namespace {

// Everything that goes to the module is counted in bytes: only printable
// ASCII can be typed, so a character never takes more room than one byte.
//
// The edit's maximum length is what the user may type, not what the module
// may hold: a longer text loaded from the module is shown whole and goes back
// unchanged. Typing never makes the text longer than the limit, nor longer
// than it already is. (QLineEdit's own maximum length would cut the loaded
// text when it is set.)
class ModuleTextValidator : public QValidator {
public:
    ModuleTextValidator(QLineEdit* edit, int typedLimit)
        : QValidator(edit), limit_(typedLimit), allowed_(typedLimit)
    {
        // QLineEdit runs the validator on setText as well: the loaded text
        // has to be allowed before it is set (allowFor).
        if (limit_ >= 0) {
            connect(edit, &QLineEdit::textChanged, this, [this](const QString& text) {
                allowed_ = std::max(limit_, static_cast<int>(text.size()));
            });
        }
    }

    State validate(QString& input, int& pos) const override
    {
        static const QRegularExpression printable(
            QRegularExpression::anchoredPattern(QStringLiteral("[\\x20-\\x7E]*")));
        if (!printable.match(input).hasMatch())
            return Invalid;
        if (limit_ >= 0 && input.size() > allowed_) {
            // What was just typed or pasted ends at the cursor: the part that
            // does not fit is dropped, as a maximum length would drop it.
            const int excess = static_cast<int>(input.size()) - allowed_;
            const int from = std::max(0, pos - excess);
            input.remove(from, pos - from);
            pos = from;
            if (input.size() > allowed_)
                return Invalid;
        }
        return Acceptable;
    }

    void allowFor(const QString& text)
    {
        if (limit_ >= 0)
            allowed_ = std::max(limit_, static_cast<int>(text.size()));
    }

private:
    int limit_;
    int allowed_;
};

QValidator* moduleTextValidator(QLineEdit* edit, int typedLimit = -1)
{
    return new ModuleTextValidator(edit, typedLimit);
}

QFont valueFont(const QFont& base)
{
    QFont f = base;
    f.setPointSize(9);
    f.setBold(true);
    return f;
}

// A label left of the control that begins at `controlLeft`: where the
// desktop font makes it wider than the room it was given, it moves left
// rather than being covered by the control.
QLabel* addLabel(QWidget* parent, const QString& text, int x, int y, int controlLeft = 0)
{
    auto* label = new QLabel(text, parent);
    label->adjustSize();
    if (controlLeft > 0 && x + label->width() > controlLeft - 4)
        x = std::max(2, controlLeft - 4 - label->width());
    label->move(x, y);
    return label;
}

QFrame* addPanel(QWidget* parent, const char* name, const QRect& place,
                 QFrame::Shape shape = QFrame::NoFrame)
{
    auto* panel = new QFrame(parent);
    panel->setObjectName(QLatin1String(name));
    panel->setFrameShape(shape);
    if (shape != QFrame::NoFrame)
        panel->setFrameShadow(QFrame::Sunken);
    panel->setGeometry(place);
    return panel;
}

void addSeparator(QWidget* parent, const QRect& place)
{
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    line->setGeometry(place);
}

// A shown-only edit: disabled for good, on the button-face colour.
void makeShowOnly(QLineEdit* edit)
{
    edit->setEnabled(false);
    QPalette pal = edit->palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        pal.setColor(group, QPalette::Base, pal.color(QPalette::Active, QPalette::Button));
    edit->setPalette(pal);
}

QComboBox* addCombo(QWidget* parent, const char* name, const QRect& place, const ComboTable& table,
                    const QFont& font)
{
    auto* combo = new QComboBox(parent);
    combo->setObjectName(QLatin1String(name));
    combo->setGeometry(place);
    combo->setFont(font);
    for (const char* item : table.items)
        combo->addItem(QLatin1String(item));
    combo->setCurrentIndex(table.defaultIndex);
    return combo;
}

} // namespace

void TcfgForm::setModuleText(QLineEdit* edit, const QString& text)
{
    if (auto* validator =
            dynamic_cast<ModuleTextValidator*>(const_cast<QValidator*>(edit->validator())))
        validator->allowFor(text);
    edit->setText(text);
}

TcfgForm::TcfgForm(QWidget* parent, CfgFormLinks links, const char* macText,
                   const SettingsRecord& record, AddressControlFactory createAddressControl)
    : QWidget(parent, Qt::Window), links_(std::move(links)), record_(record), loadedRecord_(record),
      createAddressControl_(std::move(createAddressControl))
{
    std::strncpy(openedMac_, macText ? macText : "", sizeof openedMac_ - 1);
    if (!createAddressControl_) {
        createAddressControl_ = [](QWidget* parent, int&) { return new Ipv4AddressEdit(parent); };
    }
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("cfgForm"));
    setWindowTitle(QStringLiteral("Configuration Utility"));
    QFont f = QApplication::font();
    f.setPointSize(8);
    setFont(f);
    prompter_ = std::make_shared<WindowPrompter>(links_.prompter, this, moduleLine());
    createControls();
    connectHandlers();
    describeForAssistiveTechnology();
    placeOnScreen();
}

TcfgForm::~TcfgForm() = default;

Ipv4AddressEdit* TcfgForm::addressControl(int index) const
{
    return index >= 0 && index < 4 ? ipControls_[static_cast<size_t>(index)] : nullptr;
}

void TcfgForm::createControls()
{
    createScrollArea();
    createInfoPanel();

    PageControl_cfg = new QTabWidget(cfgPage);
    PageControl_cfg->setObjectName(QStringLiteral("PageControl_cfg"));
    PageControl_cfg->setGeometry(4, 82, 541, 370);
    TabSheet1 = new QWidget;
    TabSheet1->setObjectName(QStringLiteral("TabSheet1"));
    TabSheet2 = new QWidget;
    TabSheet2->setObjectName(QStringLiteral("TabSheet2"));
    TabSheet3 = new QWidget;
    TabSheet3->setObjectName(QStringLiteral("TabSheet3"));
    PageControl_cfg->addTab(TabSheet1, QStringLiteral("Basic Settings"));
    PageControl_cfg->addTab(TabSheet2, QStringLiteral("Operation Mode Settings"));
    PageControl_cfg->addTab(TabSheet3, QStringLiteral("Password Settings"));
    createBasicPage(TabSheet1);
    createOperationPage(TabSheet2);
    createPasswordPage(TabSheet3);
    PageControl_cfg->setCurrentIndex(0);

    saveModuleBtn = new QPushButton(style()->standardIcon(QStyle::SP_DialogSaveButton),
                                    QStringLiteral("&Save to Module"), this);
    saveModuleBtn->setObjectName(QStringLiteral("saveModuleBtn"));
    saveModuleBtn->setGeometry(358, 464, 106, 27);
    abortBtn = new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton),
                               QStringLiteral("&Abort"), this);
    abortBtn->setObjectName(QStringLiteral("abortBtn"));
    abortBtn->setGeometry(468, 464, 75, 27);
    createFileControls();
}

void TcfgForm::createInfoPanel()
{
    const QFont bold = valueFont(font());
    infoPanel = addPanel(cfgPage, "infoPanel", QRect(2, 2, 543, 74), QFrame::Panel);

    Image1 = new QLabel(infoPanel);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(22, 22, 33, 33);
    Image1->setPixmap(style()->standardIcon(QStyle::SP_ComputerIcon).pixmap(32, 32));

    addLabel(infoPanel, QStringLiteral("Firmware version"), 92, 15, 186);
    Edit_fmwVer = new QLineEdit(infoPanel);
    Edit_fmwVer->setObjectName(QStringLiteral("Edit_fmwVer"));
    Edit_fmwVer->setGeometry(186, 12, 145, 21);
    Edit_fmwVer->setFont(bold);
    makeShowOnly(Edit_fmwVer);

    addLabel(infoPanel, QStringLiteral("Device name"), 92, 43, 186);
    Edit_devName = new QLineEdit(infoPanel);
    Edit_devName->setObjectName(QStringLiteral("Edit_devName"));
    Edit_devName->setGeometry(186, 40, 145, 21);
    Edit_devName->setFont(bold);
    Edit_devName->setValidator(moduleTextValidator(Edit_devName, 14));
}

void TcfgForm::createBasicPage(QWidget* page)
{
    const QFont bold = valueFont(font());

    GrpBox_ns = new QGroupBox(QStringLiteral("Network Settings"), page);
    GrpBox_ns->setObjectName(QStringLiteral("GrpBox_ns"));
    GrpBox_ns->setGeometry(8, 8, 265, 233);
    addLabel(GrpBox_ns, QStringLiteral("IP Mode:"), 16, 28, 112);
    CmbBox_ipcfg =
        addCombo(GrpBox_ns, "CmbBox_ipcfg", QRect(112, 24, 130, 21), cfgitems::kIpMode, bold);
    // The address controls go into this panel when the window is shown.
    Panel4 = addPanel(GrpBox_ns, "Panel4", QRect(100, 47, 151, 92));
    addLabel(GrpBox_ns, QStringLiteral("IP Address:"), 16, 58, 112);
    addLabel(GrpBox_ns, QStringLiteral("Subnet Mask:"), 16, 88, 112);
    addLabel(GrpBox_ns, QStringLiteral("Gateway:"), 16, 118, 112);
    CkBox_pingEn = new QCheckBox(QStringLiteral("Using ping"), GrpBox_ns);
    CkBox_pingEn->setObjectName(QStringLiteral("CkBox_pingEn"));
    CkBox_pingEn->setGeometry(16, 132, 81, 17);
    addSeparator(GrpBox_ns, QRect(8, 158, 249, 2));
    addLabel(GrpBox_ns, QStringLiteral("MAC address:"), 16, 176, 112);
    Edit_mac = new QLineEdit(GrpBox_ns);
    Edit_mac->setObjectName(QStringLiteral("Edit_mac"));
    Edit_mac->setGeometry(112, 172, 130, 21);
    Edit_mac->setFont(bold);
    makeShowOnly(Edit_mac);
    addLabel(GrpBox_ns, QStringLiteral("Ethernet Status:"), 16, 202, 112);
    Edit_LanStatus = new QLineEdit(GrpBox_ns);
    Edit_LanStatus->setObjectName(QStringLiteral("Edit_LanStatus"));
    Edit_LanStatus->setGeometry(112, 198, 130, 21);
    Edit_LanStatus->setFont(bold);
    makeShowOnly(Edit_LanStatus);

    GroupBox1 = new QGroupBox(QStringLiteral("Application"), page);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setGeometry(280, 8, 241, 233);
    web_ChkBox = new QCheckBox(QStringLiteral("Web Console Enable"), GroupBox1);
    web_ChkBox->setObjectName(QStringLiteral("web_ChkBox"));
    web_ChkBox->setGeometry(16, 28, 137, 17);
    addLabel(GroupBox1, QStringLiteral("DIO listen port:"), 32, 62);
    diolp_Edit = new QLineEdit(GroupBox1);
    diolp_Edit->setObjectName(QStringLiteral("diolp_Edit"));
    diolp_Edit->setGeometry(32, 80, 121, 21);
    diolp_Edit->setValidator(moduleTextValidator(diolp_Edit));
}

void TcfgForm::createOperationPage(QWidget* page)
{
    const QFont bold = valueFont(font());

    PageControl_op = new QTabWidget(page);
    PageControl_op->setObjectName(QStringLiteral("PageControl_op"));
    PageControl_op->setGeometry(8, 8, 489, 324);
    TabSheet_sp0 = new QWidget;
    TabSheet_sp0->setObjectName(QStringLiteral("TabSheet_sp0"));
    PageControl_op->addTab(TabSheet_sp0, QStringLiteral("Serial port 1"));

    Panel0_net = addPanel(TabSheet_sp0, "Panel0_net", QRect(0, 0, 241, 235));
    addLabel(Panel0_net, QStringLiteral("Operation mode :"), 8, 20, 100);
    CmbBox_sp0_opmode =
        addCombo(Panel0_net, "CmbBox_sp0_opmode", QRect(100, 16, 130, 21), cfgitems::kOpMode, bold);
    CmbBox_sp0_opmode->setPlaceholderText(QLatin1String(cfgitems::kOpModeShownText));
    // The mode is shown, not chosen.
    CmbBox_sp0_opmode->setEnabled(false);

    Panel0_tcps = addPanel(Panel0_net, "Panel0_tcps", QRect(8, 48, 225, 41));
    addLabel(Panel0_tcps, QStringLiteral("Listen Port:"), 8, 14, 92);
    Edit_sp0_tcpslport = new QLineEdit(Panel0_tcps);
    Edit_sp0_tcpslport->setObjectName(QStringLiteral("Edit_sp0_tcpslport"));
    Edit_sp0_tcpslport->setGeometry(92, 10, 130, 21);
    Edit_sp0_tcpslport->setFont(bold);
    Edit_sp0_tcpslport->setValidator(moduleTextValidator(Edit_sp0_tcpslport, 5));

    Panel0_tcpc = addPanel(Panel0_net, "Panel0_tcpc", QRect(8, 48, 233, 128));
    addLabel(Panel0_tcpc, QStringLiteral("Remote IP:"), 8, 17, 91);
    addLabel(Panel0_tcpc, QStringLiteral("Remote port:"), 8, 41, 91);
    addLabel(Panel0_tcpc, QStringLiteral("Connect at: "), 8, 67, 91);
    Panel2 = addPanel(Panel0_tcpc, "Panel2", QRect(81, 5, 151, 85));
    Edit_sp0_tcpcrport = new QLineEdit(Panel2);
    Edit_sp0_tcpcrport->setObjectName(QStringLiteral("Edit_sp0_tcpcrport"));
    Edit_sp0_tcpcrport->setGeometry(10, 32, 130, 21);
    Edit_sp0_tcpcrport->setFont(bold);
    Edit_sp0_tcpcrport->setValidator(moduleTextValidator(Edit_sp0_tcpcrport));
    CmbBox_sp0_tcpcat =
        addCombo(Panel2, "CmbBox_sp0_tcpcat", QRect(10, 58, 130, 21), cfgitems::kConnectAt, bold);
    // Neither panel shows until the load knows the mode.
    Panel0_tcps->hide();
    Panel0_tcpc->hide();

    Panel0_ser = addPanel(TabSheet_sp0, "Panel0_ser", QRect(248, 0, 233, 297));
    createSerialArea(Panel0_ser);
}

void TcfgForm::createSerialArea(QWidget* area)
{
    const QFont bold = valueFont(font());
    using namespace cfgitems;

    addLabel(area, QStringLiteral("Baud(bps):"), 8, 20, 88);
    CmbBox_sp0_baud = addCombo(area, "CmbBox_sp0_baud", QRect(88, 16, 105, 21), kBaud, bold);
    addLabel(area, QStringLiteral("Parity :"), 8, 46, 88);
    CmbBox_sp0_parity = addCombo(area, "CmbBox_sp0_parity", QRect(88, 42, 105, 21), kParity, bold);
    addLabel(area, QStringLiteral("Data bits :"), 8, 72, 88);
    CmbBox_sp0_db = addCombo(area, "CmbBox_sp0_db", QRect(88, 68, 105, 21), kDataBits, bold);
    addLabel(area, QStringLiteral("Stop bits :"), 8, 98, 88);
    CmbBox_sp0_sb = addCombo(area, "CmbBox_sp0_sb", QRect(88, 94, 105, 21), kStopBits, bold);

    // The rest of the area is never shown, yet loaded and collected like the
    // controls above: the module keeps these settings and a save sends them.
    QList<QWidget*> unseen;
    unseen << addLabel(area, QStringLiteral("Flow Control :"), 8, 124, 88);
    CmbBox_sp0_fc = addCombo(area, "CmbBox_sp0_fc", QRect(88, 120, 105, 21), kFlow, bold);
    unseen << CmbBox_sp0_fc << addLabel(area, QStringLiteral("Interface :"), 8, 150, 88);
    CmbBox_sp0_if = addCombo(area, "CmbBox_sp0_if", QRect(88, 146, 105, 21), kInterface, bold);
    CmbBox_sp0_if->setPlaceholderText(QLatin1String(kInterfaceShownText));
    unseen << CmbBox_sp0_if << addLabel(area, QStringLiteral("Data packing by:"), 8, 192);

    const auto addPacking = [&](QCheckBox*& box, const char* boxName, const QString& caption,
                                const QRect& boxPlace) {
        box = new QCheckBox(caption, area);
        box->setObjectName(QLatin1String(boxName));
        box->setGeometry(boxPlace);
        unseen << box;
    };
    const auto addPackingEdit = [&](QLineEdit*& edit, const char* name, const QRect& place,
                                    int maxLength) {
        edit = new QLineEdit(area);
        edit->setObjectName(QLatin1String(name));
        edit->setGeometry(place);
        edit->setFont(bold);
        edit->setValidator(moduleTextValidator(edit, maxLength));
        unseen << edit;
    };
    addPacking(ChkBox_sp0_dp_len, "ChkBox_sp0_dp_len", QStringLiteral("Length"),
               QRect(14, 216, 57, 17));
    addPackingEdit(Edit_sp0_dp_len, "Edit_sp0_dp_len", QRect(88, 212, 49, 21), 4);
    unseen << addLabel(area, QStringLiteral("(1~1024 bytes)"), 142, 216);
    addPacking(ChkBox_sp0_dp_tm, "ChkBox_sp0_dp_tm", QStringLiteral("Timeout"),
               QRect(14, 242, 65, 17));
    addPackingEdit(Edit_sp0_dp_tm, "Edit_sp0_dp_tm", QRect(88, 238, 49, 21), 5);
    unseen << addLabel(area, QStringLiteral("(1~65535 ms)"), 142, 242);
    addPacking(ChkBox_sp0_dp_str, "ChkBox_sp0_dp_str", QStringLiteral("Delimiter"),
               QRect(14, 268, 65, 17));
    unseen << addLabel(area, QStringLiteral("0x"), 86, 268);
    addPackingEdit(Edit_sp0_dp_str0, "Edit_sp0_dp_str0", QRect(100, 264, 24, 21), 2);
    unseen << addLabel(area, QStringLiteral("0x"), 126, 268);
    addPackingEdit(Edit_sp0_dp_str1, "Edit_sp0_dp_str1", QRect(140, 264, 24, 21), 2);
    for (QWidget* w : unseen)
        w->hide();
}

void TcfgForm::createPasswordPage(QWidget* page)
{
    const auto addPassword = [page](const char* name, int y) {
        auto* edit = new QLineEdit(page);
        edit->setObjectName(QLatin1String(name));
        edit->setGeometry(96, y, 121, 21);
        edit->setEchoMode(QLineEdit::Password);
        edit->setValidator(moduleTextValidator(edit, 8));
        return edit;
    };
    addLabel(page, QStringLiteral("New password"), 16, 28, 96);
    Edit_newPasswd = addPassword("Edit_newPasswd", 24);
    addLabel(page, QStringLiteral("Conform"), 16, 60, 96);
    Edit_retryPasswd = addPassword("Edit_retryPasswd", 56);
    addSeparator(page, QRect(16, 96, 240, 2));
    Save_Btn = new QPushButton(QStringLiteral("Sav&e"), page);
    Save_Btn->setObjectName(QStringLiteral("Save_Btn"));
    Save_Btn->setGeometry(96, 112, 75, 25);
    Cancel_Btn = new QPushButton(QStringLiteral("&Cancel"), page);
    Cancel_Btn->setObjectName(QStringLiteral("Cancel_Btn"));
    Cancel_Btn->setGeometry(176, 112, 75, 25);
}

void TcfgForm::connectHandlers()
{
    connect(CmbBox_ipcfg, &QComboBox::currentIndexChanged, this, [this] {
        if (!loading_)
            CmbBox_ipcfgChange();
    });
    connect(CmbBox_sp0_opmode, &QComboBox::currentIndexChanged, this, [this] {
        if (!loading_)
            CmbBox_sp0_opmodeChange();
    });
    // The packing boxes react to every change of their tick, not only to a
    // click: nothing in this window can click them.
    connect(ChkBox_sp0_dp_len, &QCheckBox::toggled, this, [this] {
        if (!loading_)
            ChkBox_sp0_dp_lenClick();
    });
    connect(ChkBox_sp0_dp_tm, &QCheckBox::toggled, this, [this] {
        if (!loading_)
            ChkBox_sp0_dp_tmClick();
    });
    connect(ChkBox_sp0_dp_str, &QCheckBox::toggled, this, [this] {
        if (!loading_)
            ChkBox_sp0_dp_strClick();
    });
    connect(saveModuleBtn, &QPushButton::clicked, this, [this] { saveModuleBtnClick(); });
    connect(abortBtn, &QPushButton::clicked, this, [this] { abortBtnClick(); });
    connect(saveFileBtn, &QPushButton::clicked, this, [this] { saveFileBtnClick(); });
    connect(loadFileBtn, &QPushButton::clicked, this, [this] { loadFileBtnClick(); });
    connect(Save_Btn, &QPushButton::clicked, this, [this] { Save_BtnClick(); });
    connect(Cancel_Btn, &QPushButton::clicked, this, [this] { Cancel_BtnClick(); });
}

void TcfgForm::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!shownOnce_) {
        shownOnce_ = true;
        FormShow();
    }
}

void TcfgForm::closeEvent(QCloseEvent* event)
{
    FormClose();
    QWidget::closeEvent(event);
}

void TcfgForm::FormClose()
{
    if (closed_)
        return;
    closed_ = true;
    if (links_.moduleClosed)
        links_.moduleClosed(openedMac_);
    destroyAddressControls();
}

void TcfgForm::abortBtnClick()
{
    close();
}

} // namespace tvx
