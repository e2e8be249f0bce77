#pragma once

#include "widgets/ProgressForm.h"

namespace tvx {

// The read/write progress window, kept above other windows.
class TtcpPrgForm : public ProgressForm {
    Q_OBJECT
public:
    explicit TtcpPrgForm(QWidget* parent);
};

} // namespace tvx
