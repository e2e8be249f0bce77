#pragma once

#include <QDialog>

namespace tvx {

// Help > About: the program's version and its licence. Opened window-modal
// without a nested event loop, so nothing that waits on the main window is
// held up while it is open; it frees itself when closed.
class AboutBox : public QDialog {
    Q_OBJECT
public:
    explicit AboutBox(QWidget* parent = nullptr);

    // One box at a time: a second request raises the open one.
    static void showFor(QWidget* parent);
};

} // namespace tvx
