#pragma once

#include "config/CfgEntries.h"
#include "protocol/SettingsRecord.h"
#include "text/JsonText.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

namespace tvx {

struct SettingsField;

// One NAME=VALUE, its name found. A value typed on the command line has its
// form checked at once; a value from a settings file only once it differs
// from what the module holds (`formChecked` false until then): a file saved
// from a module must go back onto it, whatever the module held.
struct Assignment {
    const SettingsField* field = nullptr;
    QString value;
    bool formChecked = true;
};

// What a settings file holds: the values to put into the controls, the
// shown-only fields it named (never taken), and the MAC address of the module
// it was saved from ("" when it names none).
struct SettingsFile {
    QList<Assignment> assignments;
    QStringList shownOnly;
    QString savedFromMac;
};

// One setting a write would change, with the module's value and the new one.
struct SettingsChange {
    QString name;
    QString old;
    QString now;
};

// The settings record by field name, and settings put into the configuration
// window's controls as a user would enter them: a value goes into the control
// that shows it, under the same limits (printable characters, the edits'
// maximum lengths, a choice only among the box's items), and a control the
// window disables or hides in the module's mode cannot be changed. The
// collection of "Save to Module" then checks the controls with its own
// messages (collectEntries). Used by the window's settings files and by the CLI.
class SettingsEdit {
public:
    // Every field of the record that a module reports, in the record's order,
    // each as its text (webEn as "0" or "1"). No password field is listed.
    static OrderedObject fields(const SettingsRecord& record);

    // A settings file: one JSON array holding one object, as `get --json`
    // prints it for one module.
    static QByteArray fileJson(const SettingsRecord& record, const QString& target);

    // Empty when `name` is a setting that can be set, else why not (the same
    // texts as parse).
    static QString checkName(const QString& name);
    // Checks names and each value as far as it does not depend on a module:
    // its form, and the checks of "Save to Module" that judge it alone (a
    // number, its range, a blank device name). A shown-only field is refused.
    // Empty when all pass, else the first problem.
    static QString parse(const QList<QPair<QString, QString>>& raw, QList<Assignment>& out);
    // NAME=VALUE arguments.
    static QString parseArguments(const QStringList& arguments, QList<Assignment>& out);
    // A settings file's text: one object, or an array of exactly one, of
    // strings (integers pass too). "version" and "target" are skipped, the
    // shown-only fields are listed in `shownOnly` and not taken; a key given
    // twice is refused. The values' forms are checked by apply, against the
    // module. Errors begin with `path`.
    static QString parseFile(const QByteArray& bytes, const QString& path, SettingsFile& out);
    // Reads `path` (a regular file of at most 1 MiB) and parses it.
    static QString readFile(const QString& path, SettingsFile& out);

    // The fields that say where the module is on the network (lanIp, lanMask,
    // lanGw, lanIpCfg): taken from a file only when it was saved from the same
    // module, or when the user says so. Removes them; their names.
    static QStringList dropAddress(QList<Assignment>& assignments);
    // Whether a file saved from `savedFromMac` comes from the module `lanMac`.
    static bool sameModule(const QString& savedFromMac, const QString& lanMac);

    // Puts the values into `now` (the entries loaded from `asRead`). A value
    // equal to the module's own is no change and always passes; without
    // `asRead` (a window whose controls the user may have edited) every value
    // goes into its control, and one not yet checked is checked unless it
    // equals what `holds` (the module as the window read it) holds. Empty when
    // applied, else why the window would not have let it be entered. With
    // `skipInactive` (a settings file, which names every field) a value for a
    // control that the modes leave disabled or hidden is passed over instead:
    // a user could not have entered it, and the write would not send it.
    static QString apply(const QList<Assignment>& assignments, const SettingsRecord* asRead,
                         CfgEntries& now, bool skipInactive = false,
                         const SettingsRecord* holds = nullptr);

    // What writing `toWrite` would change on a module that holds `asRead`:
    // each line the write would send whose value differs from the module's.
    // A password change is
    // listed as "passwd" without its values. Empty: the write would change
    // nothing.
    static QList<SettingsChange> changes(const SettingsRecord& asRead,
                                         const SettingsRecord& toWrite);
};

} // namespace tvx
