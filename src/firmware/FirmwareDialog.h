#pragma once

#include <QDialog>

#include <memory>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace tvx {

class FilePicker;
class Prompter;

// What the two firmware file dialogs share: the file box with its Browse
// button, OK and Cancel, the recognition of the file and the closing rules.
// OK closes the dialog only when the file passes every check; a refusal shows
// its message and leaves the entries as they were. The dialogs are created
// once and reused, so the file box keeps its text from one upgrade to the next.
class FirmwareDialog : public QDialog {
    Q_OBJECT
public:
    // 2 idle or cancelled, 5 while OK's checks run (and after they failed),
    // 1 when the file was accepted.
    int fileDialogState() const { return fileDialogState_; }
    // The accepted path, and its file-system byte form (what the request
    // record receives; at most 255 bytes, as the checks ensure).
    QString firmwareFile() const { return firmwareFile_; }
    QByteArray firmwarePathBytes() const;

    // Tests put their own prompts and file picker in.
    void setPrompter(Prompter* prompter) { prompter_ = prompter; }
    void setFilePicker(FilePicker* picker) { picker_ = picker; }

    // The module the dialog is for, on a line of its own under the Part's
    // controls; an empty line hides it and gives the dialog its own size back.
    void setModuleLine(const QString& line);
    QString moduleLine() const;

    // 0 accepted; -1 refused after its message was shown.
    int checkFirmwareFile(const QString& path);

    void Btn_brsClick();
    void OKBtnClick();
    void CancelBtnClick();
    // False (and the close refused) while OK's checks run or after they failed.
    bool FormClose();

    void done(int result) override;
    void reject() override;

protected:
    // `prompter` shows every refusal; it must be set before OK is pressed.
    FirmwareDialog(QWidget* parent, Prompter* prompter, const QString& objectName,
                   QSize clientSize);
    ~FirmwareDialog() override;

    // The password dialog's further check and value; the file checks come first.
    virtual bool checkMoreEntries() { return true; }
    virtual void takeMoreEntries() {}

    Prompter& prompter();
    void showEvent(QShowEvent* event) override;

    QGroupBox* GrpBox_upgrade = nullptr;
    QLabel* Label_file = nullptr;
    QLineEdit* Edit_file = nullptr;
    QPushButton* Btn_brs = nullptr;
    QPushButton* OKBtn = nullptr;
    QPushButton* CancelBtn = nullptr;

private:
    QSize clientSize_;
    QLabel* moduleLabel_ = nullptr;
    int fileDialogState_ = 2;
    QString firmwareFile_;
    Prompter* prompter_ = nullptr;
    FilePicker* picker_ = nullptr;
    std::unique_ptr<FilePicker> ownPicker_;
};

} // namespace tvx
