#pragma once

class QWidget;

namespace tvx {

// Puts a dialog centred over the window it belongs to (its parent's window,
// where that is shown), within that window's screen; a dialog without a shown
// parent goes to the middle of its screen. Called as the dialog is shown, so a
// dialog that is reused follows its window.
void centreOverParent(QWidget* dialog);

} // namespace tvx
