#pragma once

#include "widgets/ProgressForm.h"

namespace tvx {

// The search progress window: the search worker's texts and bar, and Cancel,
// which ends the modal wait at once while the worker finishes its step.
class TudpPrgForm : public ProgressForm {
    Q_OBJECT
public:
    explicit TudpPrgForm(QWidget* parent);
};

} // namespace tvx
