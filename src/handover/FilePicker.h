#pragma once

#include <QString>

class QWidget;

namespace tvx {

// The seam for the file dialogs, so that tests script the user's pick.
class FilePicker {
public:
    virtual ~FilePicker() = default;
    // Runs a modal file-open dialog; the full path of the picked file, or an
    // empty text when the user cancelled.
    virtual QString openFile(QWidget* parent, const QString& title, const QString& directory,
                             const QString& filter) = 0;
    // Runs a modal file-save dialog; the full path to write, or an empty text
    // when the user cancelled.
    virtual QString saveFile(QWidget* parent, const QString& title, const QString& directory,
                             const QString& filter) = 0;
};

} // namespace tvx
