#include "cli/TargetId.h"

#include "net/Ipv4.h"
#include "platform/RegularFile.h"
#include "text/DottedQuad.h"

#include <QRegularExpression>

namespace tvx::cli {

namespace {
// Passwords fit the login's field: the windows take at most 8 characters.
constexpr int kPasswordMaxChars = 8;
} // namespace

std::optional<TargetId> TargetId::parse(const QString& text)
{
    TargetId id;
    id.text = text;
    const QByteArray bytes = text.toLatin1();
    const uint32_t address = parseDottedQuad(bytes.constData());
    if (address != kDottedQuadError && address != 0) {
        char dotted[16];
        formatDottedQuad(address, dotted);
        id.kind = Kind::Ip;
        id.key = QString::fromLatin1(dotted);
        return id;
    }
    static const QRegularExpression mac(
        QStringLiteral("^[0-9A-Fa-f]{2}([:-])[0-9A-Fa-f]{2}(\\1[0-9A-Fa-f]{2}){4}$"));
    if (mac.match(text).hasMatch()) {
        uint8_t raw[6];
        macTextToBytes(bytes.constData(), raw);
        char canonical[18];
        formatMac(raw, canonical);
        id.kind = Kind::Mac;
        id.key = QString::fromLatin1(canonical);
        return id;
    }
    return std::nullopt;
}

TargetsFile readTargetsFile(const QString& path)
{
    TargetsFile out;
    const std::optional<QByteArray> bytes = readRegularFile(path, kTextFileMaxBytes, out.error);
    if (!bytes)
        return out;
    int number = 0;
    for (const QByteArray& raw : bytes->split('\n')) {
        ++number;
        const QByteArray line = raw.trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const QList<QByteArray> columns = line.simplified().split(' ');
        const auto where = [&] { return QStringLiteral("%1:%2: ").arg(path).arg(number); };
        if (columns.size() > 2) {
            out.error = where() + QStringLiteral("expected a target and at most a password");
            return out;
        }
        std::optional<TargetId> id = TargetId::parse(QString::fromLatin1(columns[0]));
        if (!id) {
            out.error = where()
                + QStringLiteral("'%1' is neither an IP address nor a MAC address")
                      .arg(QString::fromLatin1(columns[0]));
            return out;
        }
        if (columns.size() == 2) {
            if (columns[1].size() > kPasswordMaxChars) {
                out.error = where()
                    + QStringLiteral("password longer than %1 characters").arg(kPasswordMaxChars);
                return out;
            }
            id->password = columns[1];
        }
        out.targets << *id;
    }
    // A script whose list came out empty must not look as if it had done its work.
    if (out.targets.isEmpty())
        out.error = QStringLiteral("%1: no target in the file").arg(path);
    return out;
}

} // namespace tvx::cli
