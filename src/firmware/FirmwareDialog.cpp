#include "firmware/FirmwareDialog.h"

#include "firmware/FirmwareRecognition.h"
#include "handover/Prompter.h"
#include "platform/DocumentsPath.h"
#include "widgets/DialogPlacement.h"
#include "widgets/QtFilePicker.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace tvx {

namespace {
const QString kTitle = QStringLiteral("Open firmware file...");
// Described as "*.aff"; the upper-case pattern lets file dialogs that compare
// case-sensitively list ".AFF" files too.
const QString kFilter = QStringLiteral("*.aff (*.aff *.AFF)");
constexpr int kModuleLineHeight = 16;
} // namespace

FirmwareDialog::FirmwareDialog(QWidget* parent, Prompter* prompter, const QString& objectName,
                               QSize clientSize)
    : QDialog(parent), prompter_(prompter)
{
    setObjectName(objectName);
    setWindowTitle(QStringLiteral("Upgrade Dialog"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint
                   | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    QFont small = font();
    small.setPointSize(8);
    setFont(small);
    setFixedSize(clientSize);

    GrpBox_upgrade = new QGroupBox(QStringLiteral("Upgrade firmware"), this);
    GrpBox_upgrade->setObjectName(QStringLiteral("GrpBox_upgrade"));
    GrpBox_upgrade->setGeometry(8, 6, 201, 99);

    Label_file = new QLabel(QStringLiteral("File:"), GrpBox_upgrade);
    Label_file->setObjectName(QStringLiteral("Label_file"));
    Label_file->setGeometry(12, 20, 60, 16);

    Edit_file = new QLineEdit(GrpBox_upgrade);
    Edit_file->setObjectName(QStringLiteral("Edit_file"));
    Edit_file->setGeometry(12, 38, 177, 21);

    Btn_brs = new QPushButton(QStringLiteral("Browse..."), GrpBox_upgrade);
    Btn_brs->setObjectName(QStringLiteral("Btn_brs"));
    Btn_brs->setAutoDefault(false);
    Btn_brs->setGeometry(114, 66, 75, 25);

    OKBtn = new QPushButton(QStringLiteral("OK"), this);
    OKBtn->setObjectName(QStringLiteral("OKBtn"));
    OKBtn->setDefault(true);
    OKBtn->setGeometry(clientSize.width() - 83, 12, 75, 25);

    CancelBtn = new QPushButton(QStringLiteral("Cancel"), this);
    CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
    CancelBtn->setAutoDefault(false);
    CancelBtn->setGeometry(clientSize.width() - 83, 44, 75, 25);

    clientSize_ = clientSize;
    moduleLabel_ = new QLabel(this);
    moduleLabel_->setObjectName(QStringLiteral("moduleLabel"));
    moduleLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    moduleLabel_->setGeometry(8, clientSize.height(), clientSize.width() - 16, kModuleLineHeight);
    moduleLabel_->hide();

    connect(Btn_brs, &QPushButton::clicked, this, &FirmwareDialog::Btn_brsClick);
    connect(OKBtn, &QPushButton::clicked, this, &FirmwareDialog::OKBtnClick);
    connect(CancelBtn, &QPushButton::clicked, this, &FirmwareDialog::CancelBtnClick);
}

FirmwareDialog::~FirmwareDialog() = default;

void FirmwareDialog::setModuleLine(const QString& line)
{
    moduleLabel_->setText(line);
    moduleLabel_->setVisible(!line.isEmpty());
    setFixedSize(line.isEmpty() ? clientSize_ : clientSize_ + QSize(0, kModuleLineHeight + 6));
}

QString FirmwareDialog::moduleLine() const
{
    return moduleLabel_->text();
}

QByteArray FirmwareDialog::firmwarePathBytes() const
{
    return QFile::encodeName(firmwareFile_);
}

Prompter& FirmwareDialog::prompter()
{
    return *prompter_;
}

void FirmwareDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    centreOverParent(this);
}

int FirmwareDialog::checkFirmwareFile(const QString& path)
{
    const QByteArray bytes = QFile::encodeName(path);
    const FirmwareCheck check = recogniseFirmwareFile(bytes);
    if (check == FirmwareCheck::Accepted)
        return 0;
    prompter().showError(firmwareCheckMessage(check, bytes));
    return -1;
}

void FirmwareDialog::Btn_brsClick()
{
    if (!picker_) {
        ownPicker_ = std::make_unique<QtFilePicker>();
        picker_ = ownPicker_.get();
    }
    // Start where the file box points, so a second upgrade finds the folder
    // of the first; otherwise in the documents folder.
    QString directory = QFileInfo(Edit_file->text()).absolutePath();
    if (Edit_file->text().isEmpty() || !QFileInfo(directory).isDir())
        directory = documentsFolder();
    const QString picked = picker_->openFile(this, kTitle, directory, kFilter);
    if (!picked.isEmpty())
        Edit_file->setText(picked);
}

void FirmwareDialog::OKBtnClick()
{
    fileDialogState_ = 5;
    const QString file = Edit_file->text();
    if (file.isEmpty()) {
        prompter().showError(QStringLiteral("file can't be blank"));
    } else if (checkFirmwareFile(file) == 0 && checkMoreEntries()) {
        firmwareFile_ = file;
        takeMoreEntries();
        fileDialogState_ = 1;
    }
    // Asks to close with OK; FormClose refuses it after a failed check.
    done(QDialog::Accepted);
}

void FirmwareDialog::CancelBtnClick()
{
    fileDialogState_ = 2;
    done(QDialog::Rejected);
}

bool FirmwareDialog::FormClose()
{
    const bool allowed = fileDialogState_ != 5;
    fileDialogState_ = 2;
    return allowed;
}

void FirmwareDialog::done(int result)
{
    if (FormClose())
        QDialog::done(result);
}

void FirmwareDialog::reject()
{
    // Escape and the close box end the dialog as Cancel does.
    CancelBtnClick();
}

} // namespace tvx
