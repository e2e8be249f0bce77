#pragma once

#include "app/ProgressForm.h"

namespace tvx {

// The upgrade and reboot progress window.
class TupgradePrgForm : public ProgressForm {
    Q_OBJECT
public:
    explicit TupgradePrgForm(QWidget* parent);
};

} // namespace tvx
