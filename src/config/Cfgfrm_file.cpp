// The configuration window's settings files: "Save settings to file…" writes
// what the window would save, in the CLI's JSON format; "Load settings from
// file…" puts a file's values into the controls as a user would type them, so
// "Save to Module" still checks everything before anything is written.
#include "config/Cfgfrm.h"

#include "config/CfgCollect.h"
#include "config/SettingsEdit.h"
#include "handover/Prompter.h"
#include "handover/RecordText.h"
#include "platform/DocumentsPath.h"
#include "platform/RegularFile.h"
#include "widgets/QtFilePicker.h"

#include <QCheckBox>
#include <QFrame>
#include <QLineEdit>
#include <QPushButton>

#include <cstring>

namespace tvx {

namespace {
const QString kFileFilter = QStringLiteral("Settings files (*.json);;All files (*)");
} // namespace

void TcfgForm::createFileControls()
{
    // The right of the info panel is free; the controls of the pages keep
    // their places.
    saveFileBtn = new QPushButton(QStringLiteral("Save settings to &file…"), infoPanel);
    saveFileBtn->setObjectName(QStringLiteral("saveFileBtn"));
    saveFileBtn->setGeometry(352, 5, 185, 22);
    loadFileBtn = new QPushButton(QStringLiteral("&Load settings from file…"), infoPanel);
    loadFileBtn->setObjectName(QStringLiteral("loadFileBtn"));
    loadFileBtn->setGeometry(352, 29, 185, 22);
    CkBox_fileAddress =
        new QCheckBox(QStringLiteral("Load the &IP settings of any file"), infoPanel);
    CkBox_fileAddress->setObjectName(QStringLiteral("CkBox_fileAddress"));
    CkBox_fileAddress->setToolTip(
        QStringLiteral("IP mode, IP address, subnet mask and gateway are loaded only from a "
                       "file saved from this module, unless this is ticked"));
    CkBox_fileAddress->setGeometry(352, 53, 188, 17);
}

FilePicker& TcfgForm::filePicker()
{
    if (!picker_) {
        ownPicker_ = std::make_unique<QtFilePicker>();
        picker_ = ownPicker_.get();
    }
    return *picker_;
}

void TcfgForm::saveFileBtnClick()
{
    // What "Save to Module" would write, checked the same way; the window's
    // own record stays as it is.
    SettingsRecord toSave = record_;
    const CollectResult result =
        collectEntries(currentEntries(), loadedEntries_, loadedRecord_, toSave);
    if (!result.passed()) {
        if (result.kind == CollectResult::Kind::NotAnInteger)
            writeLog(QStringLiteral("checkBeforeSave"));
        prompter().showError(result.message);
        return;
    }
    const QString path = filePicker().saveFile(
        this, QStringLiteral("Save settings to file"),
        suggestedFilePath(Edit_devName->text(), QStringLiteral("json")), kFileFilter);
    if (path.isEmpty())
        return;
    const QByteArray json = SettingsEdit::fileJson(
        toSave, QString::fromLatin1(deviceIp_, strnlen(deviceIp_, sizeof deviceIp_)));
    if (const QString error = writeRegularFile(path, json); !error.isEmpty()) {
        prompter().showError(error);
        return;
    }
    writeLog(QStringLiteral("settings saved to %1").arg(path));
}

void TcfgForm::loadFileBtnClick()
{
    const QString path = filePicker().openFile(this, QStringLiteral("Load settings from file"),
                                               documentsFolder(), kFileFilter);
    if (path.isEmpty())
        return;
    SettingsFile file;
    const QString problem = SettingsEdit::readFile(path, file);
    if (!problem.isEmpty()) {
        prompter().showError(problem);
        return;
    }
    // A backup of another module would otherwise give this one its address.
    const QString mac = QString::fromLatin1(deviceMac_, strnlen(deviceMac_, sizeof deviceMac_));
    if (!CkBox_fileAddress->isChecked() && !SettingsEdit::sameModule(file.savedFromMac, mac)) {
        const QStringList dropped = SettingsEdit::dropAddress(file.assignments);
        if (!dropped.isEmpty())
            writeLog(QStringLiteral("%1: %2 not loaded: the file was saved from "
                                    "another module")
                         .arg(path, dropped.join(QStringLiteral(", "))));
    }

    const CfgEntries before = currentEntries();
    CfgEntries now = before;
    const QString refused =
        SettingsEdit::apply(file.assignments, nullptr, now, true, &loadedRecord_);
    if (!refused.isEmpty()) {
        prompter().showError(refused);
        return;
    }
    // An address the file leaves as it is stays as shown, empty included.
    for (auto member :
         {&CfgEntries::ip, &CfgEntries::mask, &CfgEntries::gw, &CfgEntries::remoteIp}) {
        if (now.*member == before.*member)
            (now.*member).reset();
    }
    loading_ = true;
    applyEntries(now);
    loading_ = false;
    writeLog(QStringLiteral("settings loaded from %1").arg(path));
}

} // namespace tvx
