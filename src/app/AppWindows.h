#pragma once

#include "app/Mainfrm.h"

#include <memory>

namespace tvx {

// Creates the start-up windows in their fixed order: the main window first,
// then the seven dialogs and progress windows, each a single instance that
// lives as long as the main window.
std::unique_ptr<TmainForm> createAppWindows(const AppEnvironment& env);

} // namespace tvx
