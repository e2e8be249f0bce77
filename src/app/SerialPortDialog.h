#pragma once

#include <QDialog>

class QPlainTextEdit;

namespace tvx {

// "Serial port…" of the device list: the command and the unit that make the
// module's serial port a terminal of this computer, as text to copy. The
// window only shows them; the bridge runs on its own, since a window that
// closes must not take a terminal program's port with it.
class TserialPortDlg : public QDialog {
    Q_OBJECT
public:
    // `hasPassword`: the row's "Password" cell reads "Yes".
    TserialPortDlg(QWidget* parent, const QString& deviceName, const QString& ip,
                   const QString& mac, bool hasPassword);

    QString text() const;

private:
    QPlainTextEdit* Memo_text;
};

} // namespace tvx
