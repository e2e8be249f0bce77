#pragma once

#include "config/SettingsEdit.h"
#include "protocol/SettingsRecord.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace tvx {

// Settings by name (NAME=VALUE, or a settings file) written onto modules, as
// the CLI's `set` and the window's "Apply settings file…" write them: once a
// module's settings are read, the values are put where the configuration
// window would put them and checked as "Save to Module" checks them; a value
// equal to the module's own is no change. A settings file's address fields
// count only on the module it was saved from, unless the user takes them.
struct SettingsUpdate {
    QList<Assignment> assignments;
    bool fromFile = false; // the values came from a settings file
    QString savedFromMac; // that file's module, if it names one
    bool withAddress = false; // a file's address fields for every module
    std::optional<QByteArray> newPassword; // set the module's password too
    // Receives "checkBeforeSave" where the window would log it.
    std::function<void(const QString&)> log;

    // The assignments for the module whose MAC is `lanMac` (as it reported
    // it); `dropped` names the address fields left out.
    QList<Assignment> forModule(const QString& lanMac, QStringList* dropped = nullptr) const;

    // What `assignments` would write to a module that reported `asRead`.
    // Empty when they pass (`toWrite` and `changes` then hold the write and
    // what it changes; no changes: nothing to write), else why refused.
    QString prepare(const QList<Assignment>& assignments, const SettingsRecord& asRead,
                    SettingsRecord& toWrite, QList<SettingsChange>& changes) const;
};

} // namespace tvx
