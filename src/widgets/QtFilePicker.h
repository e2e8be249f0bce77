#pragma once

#include "handover/FilePicker.h"

namespace tvx {

// The file-open dialog as a real QFileDialog named "brsDlg". Filters show
// their description alone, as in "*.aff".
class QtFilePicker : public FilePicker {
public:
    QString openFile(QWidget* parent, const QString& title, const QString& directory,
                     const QString& filter) override;
    QString saveFile(QWidget* parent, const QString& title, const QString& directory,
                     const QString& filter) override;
};

} // namespace tvx
