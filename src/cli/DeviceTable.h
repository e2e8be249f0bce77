#pragma once

#include <QByteArray>

namespace tvx {
class DeviceRegistry;
}

namespace tvx::cli {

// The device list's columns as aligned text for the terminal; what a module
// sent in its names is shown with its control characters escaped.
QByteArray deviceTableText(const DeviceRegistry& devices);

} // namespace tvx::cli
