#pragma once

#include "cli/TargetId.h"
#include "config/SettingsEdit.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace tvx::cli {

// One module of a commissioning plan: its MAC and the settings its line gives.
struct PlanLine {
    int number = 0; // the file's line where the record begins
    TargetId module; // always a MAC target
    QList<Assignment> assignments; // the line's non-empty cells, in the header's order
    QString lanIp; // "%u.%u.%u.%u" when the line gives one, else empty
};

struct CommissionPlan {
    QList<PlanLine> lines;
    QString error; // the first problem, with the file's name and its line
};

// Records of comma-separated values as RFC 4180 writes them: fields in double
// quotes may hold commas, line breaks and doubled quotes; lines end in CR LF or
// LF. Each record carries the number of the line where it begins; empty lines
// are skipped. False with `error` (without the file's name) on a malformed one.
struct CsvRecord {
    int line = 0;
    QStringList fields;
};
bool parseCsv(const QByteArray& bytes, QList<CsvRecord>& records, QString& error);

// A plan: a header naming lanMac and any settings that set takes by name, then
// one module a line. An empty cell leaves that setting as the module has it.
// Refused as a whole: an unknown or repeated column, no lanMac column, a bad
// or repeated MAC, one lanIp on two lines, a value set would refuse, a line
// with another number of fields than the header, a plan without lines.
CommissionPlan parsePlan(const QByteArray& bytes, const QString& path);
// Reads `path` (a regular file of at most 1 MiB) and parses it.
CommissionPlan readPlan(const QString& path);

} // namespace tvx::cli
