#pragma once

#include <QDialog>

namespace tvx {

// The "Search by IP" dialog.
class TsIPDlg : public QDialog {
    Q_OBJECT
public:
    explicit TsIPDlg(QWidget* parent);
    const char* ipAddressText() const { return ipAddressText_; }
    int ipDialogState() const { return ipDialogState_; }

private:
    char ipAddressText_[20] = {};
    int ipDialogState_ = 2;
};

} // namespace tvx
