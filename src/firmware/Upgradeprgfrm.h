#pragma once

#include "widgets/ProgressForm.h"

namespace tvx {

// The progress window of the upgrade and the reboot: bar from 2 to 1000 in
// steps of 10, sizeable. It has no handlers of its own; the worker drives it
// through its link and Cancel or the close box end the modal wait.
class TupgradePrgForm : public ProgressForm {
    Q_OBJECT
public:
    explicit TupgradePrgForm(QWidget* parent);
};

} // namespace tvx
