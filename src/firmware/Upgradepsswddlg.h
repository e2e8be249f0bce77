#pragma once

#include <QDialog>

namespace tvx {

// The firmware file and password dialog (module with a password).
class TupgradePsswdDlg : public QDialog {
    Q_OBJECT
public:
    explicit TupgradePsswdDlg(QWidget* parent);
    void clearPassword() { firmwarePassword_.clear(); }
    QString firmwareFile() const { return firmwareFile_; }
    QString firmwarePassword() const { return firmwarePassword_; }

private:
    QString firmwareFile_;
    QString firmwarePassword_;
};

} // namespace tvx
