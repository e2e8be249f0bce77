#pragma once

#include "cli/JsonText.h"
#include "config/CfgEntries.h"
#include "protocol/SettingsRecord.h"

#include <QList>
#include <QPair>
#include <QString>

namespace tvx::cli {

struct SettingsField;

// One NAME=VALUE of set, its name found and its value's form checked.
struct Assignment {
    const SettingsField* field = nullptr;
    QString value;
};

// The settings record by field name, and `set` as the configuration window
// would do it: a value goes into the control that shows it, under the same
// limits (printable characters, the edits' maximum lengths, a choice only
// among the box's items), and a control the window disables or hides in the
// module's mode cannot be changed. The collection of "Save to Module" then
// checks the controls with its own messages (collectEntries).
class SettingsEdit {
public:
    // Every field of the record that a module reports, in the record's order,
    // with its text (webEn as the number 0 or 1). No password field is listed.
    static OrderedObject fields(const SettingsRecord& record);

    // Checks names and the form of each value, as far as it does not depend on
    // a module. Empty when all pass, else the first problem.
    static QString parse(const QList<QPair<QString, QString>>& raw, QList<Assignment>& out,
                         bool shownOnlyAllowed);
    // NAME=VALUE arguments, or the members of a JSON object (strings or integers).
    static QString parseArguments(const QStringList& arguments, QList<Assignment>& out);
    static QString parseJsonFile(const QString& path, QList<Assignment>& out);

    // Puts the values into `now` (the entries loaded from `asRead`). A value
    // equal to the module's own is no change and always passes. Empty when
    // applied, else why the window would not have let it be entered.
    static QString apply(const QList<Assignment>& assignments, const SettingsRecord& asRead,
                         CfgEntries& now);
};

} // namespace tvx::cli
