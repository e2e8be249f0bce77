#pragma once

namespace tvx {

// Result codes of the upgrade worker, stored in the main window's
// operationResult. -9 and -10 are this program's own: a file that fails to
// read mid-transfer and a name too long for the request must never pass as
// success nor be reported as a network fault.
enum UpgradeCode : int {
    UpgradeDone = 0,
    UpgradeNoAddress = -1,
    UpgradeStopped = -2,
    UpgradeNotReached = -3,
    UpgradeOpenFailed = -4,
    UpgradeLoginRefused = -5,
    UpgradeLoginFailed = -6,
    UpgradeRequestFailed = -7,
    UpgradeBlockFailed = -8,
    UpgradeReadFailed = -9,
    UpgradeNameTooLong = -10,
    // After an unexpected exception the worker stores kUnexpectedResult, as
    // every worker does.
};

} // namespace tvx
