#pragma once

#include <QString>

namespace tvx {

// Text that came from a module or a file, made fit to be shown where a control
// character would act instead of being seen (a terminal, a spreadsheet cell):
// each control character (C0, DEL and C1) becomes \xNN, so none can move the
// cursor, change colours, end a line or cut a message at a NUL. With
// `keepLineBreaks` a line feed stays one (a message of several lines).
QString printableText(const QString& text, bool keepLineBreaks = false);

} // namespace tvx
