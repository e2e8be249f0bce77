#pragma once

namespace tvx {

// Makes the menus that pop up (the row menu, the menu bar's menus) children
// of the application for assistive technology while they are open: Qt leaves
// popups out of the application's children, so a screen reader walking the
// tree (AT-SPI) never finds them. Installed once, before anything asks.
void installPopupAccessibility();

} // namespace tvx
