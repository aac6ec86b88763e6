// The abstract mail folder: file names and kinds, index IDs, the index
// file (appends and atomic rewrites), message-ID translation, listing and
// composition of empty messages. The entry table, compaction with recovery
// and threading have files of their own (indexcollection.cpp,
// foldercompaction.cpp, folderthreading.cpp).
#include "mailfolder.h"

#include "foldernotifier.h"
#include "indexclass.h"
#include "indexrecord_p.h"
#include "messagedevice.h"
#include "messagefactory.h"
#include "orvanelog_p.h"
#include "storefile_p.h"
#include "streamio_p.h"

#include <orvaneversion.h>

#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QSysInfo>
#include <QUuid>

QList<MailFolder*> MailFolder::folderList;
bool MailFolder::autoExpunge = true;
unsigned long MailFolder::lastIndexID = 0;

// ------------------------------------------------------------ MailFolder

MailFolder::MailFolder(const QString& storageDevice_) : storageDevice(storageDevice_)
{
    folderList.append(this);
    setupFiles();
}

MailFolder::~MailFolder()
{
    FolderNotifier::destroying(this);
    folderList.removeAll(this);
    syncMessages.clear();
    indexCollection.clear();
}

void MailFolder::setupFiles()
{
    indexFileName = storageDevice + QLatin1String("/index");
    descriptorFileName = storageDevice + QLatin1String("/descriptor");
    struct Kind {
        const char* marker;
        int type, protocol, place;
    };
    static const Kind kinds[] = {
        {"sysmail_deleted", 101, 0, 0}, {"sysmail_drafts", 102, 0, 0},
        {"sysmail_inbox", 103, 0, 0},   {"sysmail_outbox", 104, 0, 0},
        {"sysmail_sent", 105, 0, 0},    {"sysmail", 100, 0, 0},
        {"imap_", 100, 2, 1},
    };
    folderType = 100;
    folderProtocol = 0;
    messagesPlace = 0;
    for (const Kind& k : kinds) {
        if (storageDevice.contains(QLatin1String(k.marker))) {
            folderType = k.type;
            folderProtocol = k.protocol;
            messagesPlace = k.place;
            break;
        }
    }
    accessRights = 4;
}

QString MailFolder::name() const
{
    return storageDevice.mid(storageDevice.lastIndexOf(QLatin1Char('/')) + 1);
}

QString MailFolder::nextIndexID()
{
    return QUuid::createUuid().toString(QUuid::WithBraces);
}

void MailFolder::syncIndexID(IndexClass* entry)
{
    entry->setID(nextIndexID());
}

void MailFolder::saveIndex(IndexClass* entry)
{
    FolderNotifier::changed(this, entry->getID());
    if (indexCollection.isEmpty()) {
        QFile::remove(indexFileName);
        return;
    }
    if (indexCollection.count() == 1 || !_indexFileIsOurs) {
        // The file starts afresh when the entry is the only one, and when
        // it does not hold our header (records appended under a foreign
        // header would be discarded with it).
        if (indexCollection.count() == 1)
            _indexFileIsOurs = Orvane::writeFileAtomically(indexFileName, Orvane::indexFileBytes({entry}, true));
        else
            saveIndex();
        return;
    }
    QFile f(indexFileName);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    const QByteArray rec = Orvane::indexFileBytes({entry}, false);
    f.write(rec);
}

void MailFolder::saveIndex()
{
    _indexFileIsOurs = Orvane::writeFileAtomically(indexFileName, Orvane::indexFileBytes(indexCollection.entries(), true));
}

void MailFolder::appendIndexRecords(const std::vector<IndexClass*>& entries)
{
    if (!_indexFileIsOurs) {
        saveIndex();
        return;
    }
    const QByteArray out = Orvane::indexFileBytes(entries, false);
    QFile f(indexFileName);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Append) || f.write(out) != out.size())
        saveIndex();  // start the file afresh rather than leave records out
}

void MailFolder::setIndexFileIsOurs(bool b)
{
    _indexFileIsOurs = b;
}

IndexClass* MailFolder::findIndex(const QString& id)
{
    for (MailFolder* f : std::as_const(folderList))
        if (IndexClass* e = f->indexCollection.find(id))
            return e;
    return nullptr;
}

QString MailFolder::translateLocalMessageID(const QString& messageID)
{
    if (messageID.isEmpty())
        return QString();
    IndexClass* e = indexCollection.firstWithMessageID(messageID);
    return e ? e->getID() : QString();
}

QString MailFolder::translateGlobalMessageID(const QString& messageID)
{
    for (MailFolder* f : std::as_const(folderList)) {
        const QString id = f->translateLocalMessageID(messageID);
        if (!id.isEmpty())
            return id;
    }
    return QString();
}

QStringList MailFolder::getEntryList(const QString& prefix) const
{
    QStringList ids = indexCollection.keys();
    if (!prefix.isEmpty())
        for (QString& id : ids)
            id = prefix + QLatin1Char('/') + id;
    return ids;
}

QMap<QString, QByteArray> MailFolder::entryCacheBlock()
{
    return {};
}

void MailFolder::removeEntry(IndexClass* entry)
{
    if (entry->getUnreadMark() && unread > 0)
        --unread;
    FolderNotifier::removed(this, entry->getID());
    indexCollection.remove(entry->getID());
}

// A message composed here gets a Message-ID that other mail software
// accepts (RFC 5322: id-left "@" id-right): the index ID without its braces
// at this host.
static QString composedMessageID(const QString& indexID)
{
    QString host;
    for (const QChar c : QSysInfo::machineHostName())
        if (c.isLetterOrNumber() && c.unicode() < 128)
            host += c;
        else if ((c == QLatin1Char('.') || c == QLatin1Char('-')) && !host.isEmpty())
            host += c;
    while (host.endsWith(QLatin1Char('.')) || host.endsWith(QLatin1Char('-')))
        host.chop(1);
    if (host.isEmpty())
        host = QStringLiteral("localhost");
    QString left = indexID;
    left.remove(QLatin1Char('{')).remove(QLatin1Char('}'));
    return left + QLatin1Char('@') + host;
}

QString MailFolder::createMessage()
{
    auto owned = std::make_unique<IndexClass>(this, QString());
    syncIndexID(owned.get());
    owned->setMultipartOnly(true);
    IndexClass* entry = indexCollection.insert(std::move(owned));
    const QString id = entry->getID();

    MessageDevice dev(entry);
    MessageDescriptor& d = dev.getDescriptor();
    d.indexID = id;
    d.messageID = composedMessageID(id);
    d.uid = id;
    d.status = QStringLiteral("New");
    entry->setMessageID(d.messageID);
    entry->setUnreadMark(true);
    incrementUnread();
    dev.saveDescriptor();
    FolderNotifier::stored(this, id);
    return id;
}
