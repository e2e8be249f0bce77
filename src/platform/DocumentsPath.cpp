#include "platform/DocumentsPath.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace tvx {

QString documentsFolder()
{
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (!documents.isEmpty() && QFileInfo(documents).isDir())
        return documents;
    return QDir::homePath();
}

QString suggestedFilePath(const QString& what, const QString& suffix, const QDate& day)
{
    QString name;
    for (const QChar c : what.trimmed())
        name += (c == QLatin1Char('/') || !c.isPrint()) ? QLatin1Char('-') : c;
    if (!name.isEmpty())
        name += QLatin1Char(' ');
    name += day.toString(Qt::ISODate) + QLatin1Char('.') + suffix;
    return QDir(documentsFolder()).filePath(name);
}

} // namespace tvx
