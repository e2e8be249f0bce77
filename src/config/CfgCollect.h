#pragma once

#include "config/CfgEntries.h"
#include "protocol/SettingsRecord.h"

#include <QString>

namespace tvx {

// How a collection ended: every check passed, or the first failing check
// with the text the user is shown.
struct CollectResult {
    enum class Kind { Passed, Refused, NotAnInteger };
    Kind kind = Kind::Passed;
    QString message;

    bool passed() const { return kind == Kind::Passed; }
};

// The collection of "Save to Module": checks the entries in their fixed order
// and writes each setting into `record` as soon as its checks have passed, so
// a refusal leaves the settings collected before it changed in the record.
// `loaded` and `asRead` are the entries and the record as the window was
// loaded: a value the user could neither see nor change goes back as read.
CollectResult collectEntries(const CfgEntries& now, const CfgEntries& loaded,
                             const SettingsRecord& asRead, SettingsRecord& record);

// The longest DIO listen port and remote port texts the record can hold.
constexpr int kDiolpMaxChars = sizeof(SettingsRecord::diolp) - 1;
constexpr int kRemotePortMaxChars = sizeof(SettingsRecord::sp0_tcpcrport) - 1;

} // namespace tvx
