#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace tvx::cli {

// One module named on the command line or in a targets file, before the
// search has found it: an IP address or a MAC address, and the password of
// its targets-file line, if any.
struct TargetId {
    enum class Kind { Ip, Mac };
    QString text; // as given, for the summary
    Kind kind = Kind::Ip;
    QString key; // "%u.%u.%u.%u" or "%02X:%02X:%02X:%02X:%02X:%02X"
    std::optional<QByteArray> password;

    // Nothing when `text` is neither a dotted IPv4 address (not 0.0.0.0 nor
    // 255.255.255.255) nor six two-digit hexadecimal groups joined by ':' or '-'.
    static std::optional<TargetId> parse(const QString& text);
};

struct TargetsFile {
    QList<TargetId> targets;
    QString error; // the first refused line, with its number
};

// One target a line, optionally followed by whitespace and the module's
// password; blank lines and lines beginning with '#' are skipped. The error
// names the line but never repeats a password. The file must be a regular
// file of at most 1 MiB holding at least one target.
TargetsFile readTargetsFile(const QString& path);

} // namespace tvx::cli
