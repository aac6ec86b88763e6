#include "samples.h"

#include <dateclass.h>
#include <indexclass.h>
#include <localmailfolder.h>
#include <messageclass.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>

int importMessages(const QString& dir, LocalMailFolder& folder, QString* error)
{
    const QStringList files = QDir(dir).entryList({QStringLiteral("*.eml")}, QDir::Files, QDir::Name);
    int stored = 0;
    for (const QString& name : files) {
        QFile f(QDir(dir).filePath(name));
        if (!f.open(QIODevice::ReadOnly)) {
            *error = QCoreApplication::translate("importMessages", "Cannot read %1: %2").arg(f.fileName(), f.errorString());
            return -1;
        }
        const QCString text(f.readAll());
        const MessageClass parsed(text);
        QDateTime date = DateClass(parsed.Date).toQDateTime();
        if (!date.isValid())
            date = QFileInfo(f).lastModified();
        if (folder.createMessage(text, QCString(name.toUtf8()), date, QString(), &parsed, true, 0).isNull()) {
            *error = QCoreApplication::translate("importMessages", "Cannot store %1 in %2")
                         .arg(f.fileName(), folder.getStorageDevice());
            return -1;
        }
        ++stored;
    }
    folder.sync();
    // Replies hang under the messages they answer.
    for (IndexClass* e : folder.indexIDict()->entries())
        folder.reparentIndex(e);
    return stored;
}
