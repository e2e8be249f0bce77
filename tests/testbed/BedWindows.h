#pragma once

#include "app/AppWindows.h"
#include "handover/Prompter.h"
#include "net/SystemNetTables.h"

#include <QCoreApplication>

#include <memory>

namespace tvx::test {

// The utility's real windows over the host namespace's real tables, shown, as
// every test in the bed drives them. `tables` receives the tables the windows
// use, so it must outlive them.
inline std::unique_ptr<TmainForm> showBedWindows(Prompter& prompter,
                                                 std::unique_ptr<SystemNetTables>& tables)
{
    tables = std::make_unique<SystemNetTables>(
        SystemNetTables::defaultHelperPath(QCoreApplication::applicationDirPath().toStdString()));
    // As the program does: its one helper runs from the start.
    tables->startHelper();
    AppEnvironment env;
    env.prompter = &prompter;
    env.netTables = std::shared_ptr<NetTables>(std::shared_ptr<NetTables>(), tables.get());
    auto mainForm = createAppWindows(env);
    mainForm->show();
    return mainForm;
}

} // namespace tvx::test
