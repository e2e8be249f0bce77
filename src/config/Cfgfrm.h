#pragma once

#include "protocol/SettingsRecord.h"

#include <QWidget>

namespace tvx {

class TmainForm;

// The configuration window of one module.
class TcfgForm : public QWidget {
    Q_OBJECT
public:
    TcfgForm(TmainForm* mainForm, const char* macText, const SettingsRecord& record);

private:
    TmainForm* mainForm_;
    SettingsRecord record_;
};

} // namespace tvx
