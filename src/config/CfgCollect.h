#pragma once

#include "config/CfgEntries.h"
#include "protocol/SettingsRecord.h"

#include <QByteArray>
#include <QString>

#include <cstdint>

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

// The checks of "Save to Module" that judge one entry's text by itself, each
// with the collection's messages in the collection's order. The collection
// runs one where the window's modes make its entry count; settings given by
// name (arguments, settings files, plan lines) run them as they are read,
// before any module is asked, so that no value the window would refuse is
// sent anywhere. `value` receives the number the text converts to.
enum class EntryRule {
    DeviceName, // devName: not blank
    DioListenPort, // diolp: not blank, an integer, at most 9 characters
    PackingLength, // sp0_dpLen: not blank, 1 to 1024
    PackingTimeout, // sp0_dpTm: not blank, 1 to 65535
    DelimiterByte, // either half of sp0_dpStr: hexadecimal digits
    ListenPort, // sp0_tcpslport: not blank, an integer
    RemotePort, // sp0_tcpcrport: 1 to 65535, at most 30 characters
};
CollectResult checkEntry(EntryRule rule, const QByteArray& text, int32_t* value = nullptr);

// The longest DIO listen port and remote port texts the record can hold.
constexpr int kDiolpMaxChars = sizeof(SettingsRecord::diolp) - 1;
constexpr int kRemotePortMaxChars = sizeof(SettingsRecord::sp0_tcpcrport) - 1;

} // namespace tvx
