#pragma once

#include "config/CfgEntries.h"
#include "protocol/SettingsRecord.h"

namespace tvx {

// The load rules of the configuration window: what each control shows for a
// settings record as read from a module. Controls the load does not set keep
// the defaults in CfgEntries.
CfgEntries entriesFromRecord(const SettingsRecord& record);

} // namespace tvx
