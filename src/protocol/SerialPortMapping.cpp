#include "protocol/SerialPortMapping.h"

namespace tvx {

namespace {

constexpr char kUnitFolder[] = "/etc/tarvanix/tty";
constexpr char kLinkFolder[] = "/run/tarvanix/tty";
constexpr int kInstanceRoom = 32;

// Letters and digits of the device name, lower case, words joined by '-': a
// name that needs no quoting in a shell nor escaping in a unit name. Without
// one, the end of the MAC.
QString instanceName(const QString& deviceName, const QString& mac)
{
    QString name;
    for (const QChar c : deviceName.toLower()) {
        if ((c >= QLatin1Char('a') && c <= QLatin1Char('z'))
            || (c >= QLatin1Char('0') && c <= QLatin1Char('9')))
            name += c;
        else if (!name.isEmpty() && !name.endsWith(QLatin1Char('-')))
            name += QLatin1Char('-');
    }
    while (name.endsWith(QLatin1Char('-')))
        name.chop(1);
    name.truncate(kInstanceRoom);
    if (name.isEmpty())
        name = QStringLiteral("tx-") + QString(mac).remove(QLatin1Char(':')).right(6).toLower();
    return name;
}

} // namespace

SerialPortMapping serialPortMapping(const QString& deviceName, const QString& mac, bool hasPassword)
{
    SerialPortMapping m;
    m.instance = instanceName(deviceName, mac);
    m.link = QStringLiteral("%1/%2").arg(QLatin1String(kLinkFolder), m.instance);
    m.command = QStringLiteral("tarvanix-cli tty %1 --link /tmp/%2").arg(mac, m.instance);
    m.configuration = QStringLiteral("TARGET=%1\nGROUP=dialout\n").arg(mac);
    if (hasPassword)
        m.configuration += QStringLiteral("TARVANIX_PASSWORD=\n");
    return m;
}

QString SerialPortMapping::text() const
{
    const QString file = QStringLiteral("%1/%2.conf").arg(QLatin1String(kUnitFolder), instance);
    const bool password = configuration.contains(QLatin1String("TARVANIX_PASSWORD="));
    QString printed = configuration;
    printed.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    QString out =
        QStringLiteral("Its operation mode must be \"TCP Server\" (Operation Mode Settings).\n"
                       "\n"
                       "For a while, at /tmp/%1 until Ctrl+C:\n"
                       "\n"
                       "    %2\n"
                       "\n"
                       "For good, at %3 for the group dialout, with the unit\n"
                       "tarvanix-tty@%1 (it starts with the computer):\n"
                       "\n"
                       "    sudo mkdir -p %4\n")
            .arg(instance, command, link, QLatin1String(kUnitFolder));
    // The password's file is the administrator's alone from the start.
    if (password)
        out += QStringLiteral("    sudo install -m 600 /dev/null %1\n").arg(file);
    out += QStringLiteral("    printf '%1' | sudo tee %2\n").arg(printed, file);
    if (password)
        out += QStringLiteral("    sudoedit %1      # the password after TARVANIX_PASSWORD=\n")
                   .arg(file);
    out += QStringLiteral("    sudo systemctl enable --now tarvanix-tty@%1\n").arg(instance);
    return out;
}

} // namespace tvx
