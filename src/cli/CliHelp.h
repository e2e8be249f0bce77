#pragma once

#include "cli/CliRequest.h"

#include <QString>

namespace tvx::cli {

// The one place that says how the program is used: --help prints it, help2man
// turns it into the manual page and the README repeats its exit codes.
// `COMMAND --help` gives that command's part alone.
QString helpText(Command command = Command::None);
QString versionText();
// One line for a usage error, pointing at --help.
QString usageHint();

} // namespace tvx::cli
