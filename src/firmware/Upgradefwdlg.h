#pragma once

#include <QDialog>

namespace tvx {

// The firmware file dialog (module without a password).
class TupgradeFWDlg : public QDialog {
    Q_OBJECT
public:
    explicit TupgradeFWDlg(QWidget* parent);
    QString firmwareFile() const { return firmwareFile_; }

private:
    QString firmwareFile_;
};

} // namespace tvx
