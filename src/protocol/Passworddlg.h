#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace tvx {

// The password prompt shown before a module with a password is read or
// rebooted. Only printable ASCII is accepted, so the 8 characters it allows
// always fit the 10-byte password fields of the records they go into.
class TPasswordDlg : public QDialog {
    Q_OBJECT
public:
    explicit TPasswordDlg(QWidget* parent);
    void clearPassword();
    QString password() const;

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void FormActivate();

    QLabel* Label1 = nullptr;
    QLineEdit* Password = nullptr;
    QPushButton* OKBtn = nullptr;
    QPushButton* CancelBtn = nullptr;
};

} // namespace tvx
