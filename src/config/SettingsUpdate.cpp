#include "config/SettingsUpdate.h"

#include "config/CfgCollect.h"
#include "config/CfgLoad.h"
#include "handover/RecordText.h"

namespace tvx {

QList<Assignment> SettingsUpdate::forModule(const QString& lanMac, QStringList* dropped) const
{
    QList<Assignment> out = assignments;
    QStringList left;
    // A backup of another module would otherwise give this one its address.
    if (fromFile && !withAddress && !SettingsEdit::sameModule(savedFromMac, lanMac))
        left = SettingsEdit::dropAddress(out);
    if (dropped)
        *dropped = left;
    return out;
}

QString SettingsUpdate::prepare(const QList<Assignment>& values, const SettingsRecord& asRead,
                                SettingsRecord& toWrite, QList<SettingsChange>& changes) const
{
    changes.clear();
    const CfgEntries loaded = entriesFromRecord(asRead);
    CfgEntries now = loaded;
    const QString refused = SettingsEdit::apply(values, &asRead, now, fromFile);
    if (!refused.isEmpty())
        return refused;
    toWrite = asRead;
    const CollectResult checked = collectEntries(now, loaded, asRead, toWrite);
    if (!checked.passed()) {
        if (checked.kind == CollectResult::Kind::NotAnInteger && log)
            log(QStringLiteral("checkBeforeSave"));
        return checked.message;
    }
    if (newPassword) {
        toWrite.passwdChg = 1;
        storeField(toWrite.newPasswd, newPassword->left(8));
    }
    changes = SettingsEdit::changes(asRead, toWrite);
    return {};
}

} // namespace tvx
