#pragma once

#include "firmware/FirmwareDialog.h"

class QGroupBox;
class QLabel;
class QLineEdit;

namespace tvx {

// The firmware file dialog for a module with a password: the file as in the
// other dialog, and the module's password, checked after the file.
class TupgradePsswdDlg : public FirmwareDialog {
    Q_OBJECT
public:
    explicit TupgradePsswdDlg(QWidget* parent, Prompter* prompter = nullptr);

    // Empties the password box; done before every show.
    void clearPassword();
    QString firmwarePassword() const { return firmwarePassword_; }

protected:
    bool checkMoreEntries() override;
    void takeMoreEntries() override;

private:
    QGroupBox* GrpBox_passwd = nullptr;
    QLabel* Label_passwd = nullptr;
    QLineEdit* Edit_passwd = nullptr;
    QString firmwarePassword_;
};

} // namespace tvx
