#pragma once

#include "firmware/FirmwareDialog.h"

namespace tvx {

// The firmware file dialog for a module without a password.
class TupgradeFWDlg : public FirmwareDialog {
    Q_OBJECT
public:
    explicit TupgradeFWDlg(QWidget* parent, Prompter* prompter = nullptr);
};

} // namespace tvx
