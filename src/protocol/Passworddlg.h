#pragma once

#include <QDialog>

class QLineEdit;

namespace tvx {

// The password prompt.
class TPasswordDlg : public QDialog {
    Q_OBJECT
public:
    explicit TPasswordDlg(QWidget* parent);
    void clearPassword();
    QString password() const;

private:
    QLineEdit* Password = nullptr;
};

} // namespace tvx
