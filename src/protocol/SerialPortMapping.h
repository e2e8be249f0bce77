#pragma once

#include <QString>

namespace tvx {

// How a module's serial port is made a terminal of the host, as the windows
// show it: the bridge is `tarvanix-cli tty` (for a while) or the unit
// tarvanix-tty@NAME (for good), never a window, which may close at any time.
// The module is named by its MAC, which stays when its address changes.
struct SerialPortMapping {
    QString instance; // the unit's instance name, after the device name
    QString link; // where the unit's terminal appears
    QString command; // while it runs
    QString configuration; // the unit's file, /etc/tarvanix/tty/<instance>.conf
    // Everything above as text to copy, with what to run.
    QString text() const;
};

// `hasPassword`: the row's "Password" cell reads "Yes".
SerialPortMapping serialPortMapping(const QString& deviceName, const QString& mac,
                                    bool hasPassword);

} // namespace tvx
