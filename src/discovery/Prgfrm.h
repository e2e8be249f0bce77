#pragma once

#include "app/ProgressForm.h"

namespace tvx {

// The search progress window.
class TudpPrgForm : public ProgressForm {
    Q_OBJECT
public:
    explicit TudpPrgForm(QWidget* parent);
};

} // namespace tvx
