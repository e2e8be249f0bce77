#pragma once

#include <QDate>
#include <QString>

namespace tvx {

// Where the file dialogs start: the user's documents folder where it exists,
// else the home folder (never the working folder, which may be anyone's).
QString documentsFolder();

// A file in that folder named after `what` and the day, as
// "Press-Line-2 2026-12-09.json"; a "/" in `what` becomes "-".
QString suggestedFilePath(const QString& what, const QString& suffix,
                          const QDate& day = QDate::currentDate());

} // namespace tvx
