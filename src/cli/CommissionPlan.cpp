#include "cli/CommissionPlan.h"

#include "platform/RegularFile.h"
#include "text/DottedQuad.h"

#include <QHash>

namespace tvx::cli {

bool parseCsv(const QByteArray& bytes, QList<CsvRecord>& records, QString& error)
{
    records.clear();
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    // Spreadsheets often begin their CSV with a byte-order mark.
    if (bytes.startsWith("\xEF\xBB\xBF"))
        i = 3;
    int line = 1;
    while (i < n) {
        CsvRecord record;
        record.line = line;
        bool quotedAny = false;
        for (;;) {
            QByteArray field;
            if (bytes[i] == '"') {
                quotedAny = true;
                const int opened = line;
                ++i;
                for (;;) {
                    if (i >= n) {
                        error = QStringLiteral("line %1: a quoted field is not closed").arg(opened);
                        return false;
                    }
                    const char c = bytes[i++];
                    if (c == '"') {
                        if (i < n && bytes[i] == '"') {
                            field += '"';
                            ++i;
                            continue;
                        }
                        break;
                    }
                    if (c == '\n')
                        ++line;
                    field += c;
                }
                if (i < n && bytes[i] != ',' && bytes[i] != '\n' && bytes[i] != '\r') {
                    error = QStringLiteral("line %1: text after a closing quote").arg(line);
                    return false;
                }
            } else {
                while (i < n && bytes[i] != ',' && bytes[i] != '\n' && bytes[i] != '\r') {
                    if (bytes[i] == '"') {
                        error = QStringLiteral("line %1: a quote inside a field that does not "
                                               "begin with one")
                                    .arg(line);
                        return false;
                    }
                    field += bytes[i++];
                }
            }
            record.fields << QString::fromLatin1(field);
            if (i >= n)
                break;
            if (bytes[i] == ',') {
                ++i;
                // A comma at the very end still ends an empty last field.
                if (i >= n) {
                    record.fields << QString();
                    break;
                }
                continue;
            }
            if (bytes[i] == '\r') {
                if (i + 1 >= n || bytes[i + 1] != '\n') {
                    error =
                        QStringLiteral("line %1: a carriage return without a line feed").arg(line);
                    return false;
                }
                ++i;
            }
            ++i; // the line feed
            ++line;
            break;
        }
        if (record.fields.size() == 1 && record.fields[0].isEmpty() && !quotedAny)
            continue; // an empty line
        records << record;
    }
    return true;
}

CommissionPlan parsePlan(const QByteArray& bytes, const QString& path)
{
    CommissionPlan plan;
    QList<CsvRecord> records;
    QString error;
    if (!parseCsv(bytes, records, error)) {
        plan.error = path + QStringLiteral(": ") + error;
        return plan;
    }
    if (records.isEmpty()) {
        plan.error = path + QStringLiteral(": no header (lanMac and the settings to give)");
        return plan;
    }

    const CsvRecord& header = records.first();
    const auto at = [&path](int line) { return QStringLiteral("%1:%2: ").arg(path).arg(line); };
    qsizetype macColumn = -1;
    for (qsizetype c = 0; c < header.fields.size(); ++c) {
        const QString& name = header.fields[c];
        if (header.fields.indexOf(name) != c) {
            plan.error = at(header.line) + QStringLiteral("column '%1' is given twice").arg(name);
            return plan;
        }
        if (name == QLatin1String("lanMac")) {
            macColumn = c;
            continue;
        }
        if (const QString bad = SettingsEdit::checkName(name); !bad.isEmpty()) {
            plan.error = at(header.line) + bad;
            return plan;
        }
    }
    if (macColumn < 0) {
        plan.error = at(header.line) + QStringLiteral("the header names no lanMac column");
        return plan;
    }

    QHash<QString, int> macLine;
    QHash<QString, int> ipLine;
    for (qsizetype r = 1; r < records.size(); ++r) {
        const CsvRecord& record = records[r];
        const QString where = at(record.line);
        if (record.fields.size() != header.fields.size()) {
            plan.error = where
                + QStringLiteral("%1 fields, the header names %2")
                      .arg(record.fields.size())
                      .arg(header.fields.size());
            return plan;
        }
        PlanLine line;
        line.number = record.line;
        const QString macText = record.fields[macColumn];
        const std::optional<TargetId> id = TargetId::parse(macText);
        if (!id || id->kind != TargetId::Kind::Mac) {
            plan.error = where + QStringLiteral("lanMac: '%1' is not a MAC address").arg(macText);
            return plan;
        }
        if (macLine.contains(id->key)) {
            plan.error = where
                + QStringLiteral("%1 is already on line %2").arg(id->key).arg(macLine[id->key]);
            return plan;
        }
        macLine.insert(id->key, record.line);
        line.module = *id;

        QList<QPair<QString, QString>> raw;
        for (qsizetype c = 0; c < header.fields.size(); ++c) {
            if (c != macColumn && !record.fields[c].isEmpty())
                raw.append({header.fields[c], record.fields[c]});
        }
        if (const QString bad = SettingsEdit::parse(raw, line.assignments); !bad.isEmpty()) {
            plan.error = where + bad;
            return plan;
        }
        for (const auto& [name, value] : std::as_const(raw)) {
            if (name != QLatin1String("lanIp"))
                continue;
            // The same address written two ways (010 and 10) is still one address.
            char dotted[16];
            formatDottedQuad(parseDottedQuad(value.toLatin1().constData()), dotted);
            line.lanIp = QString::fromLatin1(dotted);
            if (ipLine.contains(line.lanIp)) {
                plan.error = where
                    + QStringLiteral("lanIp %1 is already given on line %2")
                          .arg(line.lanIp)
                          .arg(ipLine[line.lanIp]);
                return plan;
            }
            ipLine.insert(line.lanIp, record.line);
        }
        plan.lines << line;
    }
    if (plan.lines.isEmpty())
        plan.error = path + QStringLiteral(": no module in the plan");
    return plan;
}

CommissionPlan readPlan(const QString& path)
{
    QString error;
    const std::optional<QByteArray> bytes = readRegularFile(path, kTextFileMaxBytes, error);
    if (!bytes) {
        CommissionPlan plan;
        plan.error = error;
        return plan;
    }
    return parsePlan(*bytes, path);
}

} // namespace tvx::cli
