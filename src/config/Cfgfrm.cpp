#include "config/Cfgfrm.h"

#include "app/Mainfrm.h"

namespace tvx {

TcfgForm::TcfgForm(TmainForm* mainForm, const char* macText, const SettingsRecord& record)
    : QWidget(nullptr), mainForm_(mainForm), record_(record)
{
    (void)macText;
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("cfgForm"));
    setWindowTitle(QStringLiteral("Configuration Utility"));
}

} // namespace tvx
