#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace tvx::cli {

// Where a module's password may come from besides the targets file: an
// environment variable, or the controlling terminal with echo off. Never from
// the arguments, and the text is never printed.
class PasswordSource {
public:
    // The variable's value when it is set (also when empty).
    static std::optional<QByteArray> fromEnvironment(const char* name);
    // Asks on /dev/tty without echo; nothing when there is no terminal, or
    // when SIGINT, SIGTERM or SIGHUP ended the prompt: `interrupted` then says
    // so, the echo is back and the program's own handler has heard the signal.
    static std::optional<QByteArray> ask(const QString& prompt, bool& interrupted);
    // Why a password cannot be sent in a login line; empty when it can: at
    // most 8 characters, printable ASCII only (a line break would end the
    // login line early and send the rest as a command).
    static QString check(const QByteArray& password);
};

} // namespace tvx::cli
