#include "localmailfolder.h"

#include "dateclass.h"
#include "foldernotifier.h"
#include "indexclass.h"
#include "messageclass.h"
#include "messagedevice.h"
#include "mimepart.h"
#include "orvanelog_p.h"
#include "storefile_p.h"
#include "streamio_p.h"

#include <orvaneversion.h>

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <limits>

namespace {

constexpr qint64 MaxOffset = std::numeric_limits<qint32>::max();
constexpr unsigned int ExpungeThreshold = 102400;
constexpr size_t ForceSyncAbove = 299;

QString bareID(const QString& id)
{
    const int slash = id.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? id : id.mid(slash + 1);
}

} // namespace

LocalMailFolder::LocalMailFolder(const QString& storageDevice_) : MailFolder(storageDevice_)
{
    messagesFileName = storageDevice + QLatin1String("/messages");
    recoverInterruptedCompaction();
    loadIndex();
}

LocalMailFolder::~LocalMailFolder()
{
    sync();
}

void LocalMailFolder::loadIndex()
{
    QFile f(indexFileName);
    if (!f.open(QIODevice::ReadOnly))
        return;
    // One read of the whole file (bounded by its size), then records are
    // parsed from memory.
    const QByteArray data = f.readAll();
    f.close();
    QDataStream s(data);
    Orvane::setupClassicStream(s);
    QString header;
    s >> header;
    if (!Orvane::streamOk(s) || header != QLatin1String(ORVANE_MAIL_VERSION)) {
        orvaneDebug("Folder %s attempted to read an older version or invalid index                   cache, discarding index...",
                    qPrintable(name()));
        return;
    }
    setIndexFileIsOurs(true);
    int records = 0;
    bool damaged = false;
    while (!s.atEnd()) {
        auto entry = std::make_unique<IndexClass>(this, QString());
        s >> *entry;
        // A record that streams but cannot be an entry (no ID, negative
        // offsets or lengths) is damage just like a short one.
        const bool plausible = !entry->getID().isEmpty() && entry->getDescriptorOffset() >= 0
            && entry->getDescriptorLength() >= 0 && entry->getUniblockOffset() >= 0
            && entry->getUniblockLength() >= 0;
        if (!Orvane::streamOk(s) || !plausible) {
            // Keep what was read before the damage; the rest of the file
            // cannot be trusted to be aligned on records.
            orvaneDebug("Folder %s: index file damaged after %d records, the rest is ignored.",
                        qPrintable(name()), records);
            damaged = true;
            break;
        }
        ++records;
        const QString id = entry->getID();
        if (IndexClass* held = indexCollection.find(id)) {
            incrementPruneIndexCount();
            if (held->getUnreadMark() && unread > 0)
                decrementUnread();
        } else {
            bool ok = false;
            const unsigned long n = id.mid(3).toULong(&ok);
            if (ok && lastIndexID < n)
                lastIndexID = n + 1;
        }
        const bool isUnread = entry->getUnreadMark();
        indexCollection.insert(std::move(entry));
        if (isUnread)
            incrementUnread();
    }
    if (damaged) {
        // The damaged tail would hide every record appended after it: write
        // the file afresh from what was read.
        saveIndex();
    }
}

QString LocalMailFolder::createMessage(const QCString& text, const QCString& uid,
                                       const QDateTime& date, const QString& account,
                                       const MessageClass* parsed, bool sync, unsigned int flags)
{
    std::unique_ptr<MessageClass> own;
    if (!parsed) {
        own = std::make_unique<MessageClass>(text);
        parsed = own.get();
    }
    auto owned = std::make_unique<IndexClass>(this, QString());
    syncIndexID(owned.get());
    IndexClass* entry = owned.get();
    const QString id = entry->getID();

    auto dev = std::make_unique<MessageDevice>(entry);
    MessageDescriptor& d = dev->getDescriptor();
    d.load(*parsed);
    d.account = account;
    d.indexID = id;
    d.receivedDate = QString::fromLatin1(QCString(DateClass(date)));
    d.uid = QString::fromLatin1(uid);
    if (uid.isEmpty()) {
        d.messageID = id;
        d.uid = id;
    }
    entry->setMessageID(d.messageID);
    const bool read = flags & 1;
    entry->setUnreadMark(!read);
    d.status = read ? QStringLiteral("Read") : QStringLiteral("New");

    // The text goes to the messages file first: if it cannot be written,
    // no entry is created that would point at nothing.
    QFile f(messagesFileName);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Append))
        return QString();
    const qint64 start = f.size();
    const QByteArray separator = Orvane::separatorLine(d.receivedDate.toLatin1());
    const qint64 blockOffset = start + separator.size();
    if (blockOffset + text.size() + 2 > MaxOffset)
        return QString();  // the record format holds 32-bit offsets only
    QByteArray block;
    block.reserve(separator.size() + text.size() + 2);
    block.append(separator).append(text).append("\r\n", 2);
    if (f.write(block) != block.size() || !f.flush()) {
        f.resize(start);
        return QString();
    }
    f.close();
    entry->setUniblockOffset(long(blockOffset), false);
    entry->setUniblockLength(long(text.size()));
    entry->setMultipartOnly(false);
    for (const auto& part : parsed->partList)
        entry->addPart(std::make_unique<MimePart>(*part), true);

    indexCollection.insert(std::move(owned));
    if (!read)
        incrementUnread();

    if (sync) {
        syncMessages.push_back(std::move(dev));
        if (syncMessages.size() > ForceSyncAbove) {
            orvaneDebug("Force syncing");
            this->sync();
        }
    } else {
        dev->saveDescriptor();
    }
    FolderNotifier::stored(this, id);
    return id;
}

void LocalMailFolder::sync()
{
    if (syncMessages.empty())
        return;
    orvaneDebug("Sync %u mails.", unsigned(syncMessages.size()));
    QFile f(descriptorFileName);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Append)) {
        orvaneDebug("MailFolder::sync() : the descriptors cannot be saved!");
        return;
    }
    // All records in one write; entries are re-pointed only once the
    // bytes are in the file.
    const qint64 start = f.size();
    QByteArray records;
    std::vector<std::pair<qint64, qint64>> spans;
    spans.reserve(syncMessages.size());
    {
        QBuffer buf(&records);
        buf.open(QIODevice::WriteOnly);
        QDataStream s(&buf);
        Orvane::setupClassicStream(s);
        for (const auto& dev : syncMessages) {
            const qint64 at = buf.pos();
            s << dev->getDescriptor();
            spans.emplace_back(start + at, buf.pos() - at);
        }
    }
    if (start + records.size() > MaxOffset || f.write(records) != records.size() || !f.flush()) {
        f.resize(start);
        orvaneDebug("MailFolder::sync() : the descriptors cannot be saved!");
        return;
    }
    f.close();
    std::vector<IndexClass*> batch;
    batch.reserve(syncMessages.size());
    for (size_t i = 0; i < syncMessages.size(); ++i) {
        IndexClass* e = syncMessages[i]->index();
        e->setDescriptorOffset(long(spans[i].first));
        e->setDescriptorLength(long(spans[i].second));
        batch.push_back(e);
    }
    // The batch's records go at the end of the index file: a later record
    // of an ID replaces an earlier one, so the file stays a valid log and a
    // batch costs its own size, not the folder's.
    appendIndexRecords(batch);
    syncMessages.clear();
}

bool LocalMailFolder::deleteMessage(IndexClass* entry)
{
    sync();
    if (!entry || entry->getParentFolder() != this || indexCollection.find(entry->getID()) != entry)
        return false;
    removeEntry(entry);
    // If the files cannot be compacted now, the index must still forget the
    // message, or it would come back when the folder is next opened.
    if (!compact(0))
        saveIndex();
    return true;
}

bool LocalMailFolder::resolve(const QStringList& ids, bool localOnly, std::vector<IndexClass*>* out)
{
    out->clear();
    out->reserve(size_t(ids.size()));
    for (const QString& raw : ids) {
        const QString id = bareID(raw);
        IndexClass* e = localOnly ? indexCollection.find(id) : findIndex(id);
        if (!e)
            return false;
        out->push_back(e);
    }
    return true;
}

bool LocalMailFolder::deleteMessage(const QStringList& ids)
{
    sync();
    std::vector<IndexClass*> entries;
    if (!resolve(ids, true, &entries))
        return false;
    if (entries.empty())
        return true;
    // The list may name a message twice: remove by ID, each once.
    QSet<QString> seen;
    QStringList unique;
    for (IndexClass* e : entries)
        if (!seen.contains(e->getID())) {
            seen.insert(e->getID());
            unique.append(e->getID());
        }
    for (const QString& id : std::as_const(unique))
        removeEntry(indexCollection.find(id));
    if (!compact(0))
        saveIndex();
    return true;
}

QString LocalMailFolder::copyInto(IndexClass* entry, bool batch)
{
    if (!entry || !entry->getParentFolder())
        return QString();
    if (entry->getParentFolder()->getFolderProtocol() == 2 && !entry->isFullMessage())
        return QString();
    MessageDevice dev(entry);
    dev.loadDescriptor(false);
    const QCString text = dev.rfc822Message();
    if (text.isNull())
        return QString();  // the stored text cannot be read: copy nothing
    const MessageDescriptor& d = dev.getDescriptor();
    const QDateTime date = DateClass(QCString(d.receivedDate.toLatin1())).toQDateTime();
    const bool read = !entry->getUnreadMark();
    return createMessage(text, QCString(d.uid.toLatin1()), date, d.account, nullptr, batch,
                         read ? 1 : 0);
}

QString LocalMailFolder::copyMessage(IndexClass* entry)
{
    sync();
    return copyInto(entry, false);
}

QString LocalMailFolder::moveMessage(IndexClass* entry)
{
    sync();
    const QString id = copyInto(entry, false);
    if (!id.isNull())
        entry->getParentFolder()->deleteMessage(entry);
    return id;
}

bool LocalMailFolder::copyMessage(const QStringList& ids)
{
    sync();
    std::vector<IndexClass*> entries;
    if (!resolve(ids, false, &entries))
        return false;
    bool ok = true;
    for (IndexClass* e : entries)
        ok = !copyInto(e, true).isNull() && ok;
    sync();
    return ok;
}

bool LocalMailFolder::moveMessage(const QStringList& ids)
{
    sync();
    std::vector<IndexClass*> entries;
    if (!resolve(ids, false, &entries))
        return false;
    // Copy everything first (descriptors in one batch), then delete the
    // originals with one compaction per source folder. A message whose copy
    // failed stays where it was.
    QList<MailFolder*> sources;
    QHash<MailFolder*, QStringList> moved;
    QSet<const IndexClass*> done;
    bool ok = true;
    for (IndexClass* e : entries) {
        MailFolder* src = e->getParentFolder();
        if (done.contains(e))
            continue;
        done.insert(e);
        if (copyInto(e, true).isNull()) {
            ok = false;
            continue;
        }
        if (!sources.contains(src))
            sources.append(src);
        moved[src].append(e->getID());
    }
    sync();
    for (MailFolder* src : std::as_const(sources))
        ok = src->deleteMessage(moved.value(src)) && ok;
    return ok;
}

bool LocalMailFolder::expunge(bool force)
{
    if (!force && !shouldExpunge())
        return false;
    compact(0);
    return true;
}

bool LocalMailFolder::shouldExpunge()
{
    orvaneDebug("localmailfolder: computing waste...");
    // Waste is what a compaction would reclaim from the two files it
    // rewrites: their sizes less what it would write again (each record
    // and each message text with its separator line and line end).
    const qint64 separator = Orvane::separatorLine(QDateTime::currentDateTime()).size();
    const qint64 total = QFileInfo(messagesFileName).size() + QFileInfo(descriptorFileName).size();
    qint64 used = 0;
    for (IndexClass* e : indexCollection.entries()) {
        if (e->getDescriptorLength() == 0)
            continue;  // compaction drops such an entry
        used += e->getDescriptorLength();
        if (e->getUniblockLength() > 0)
            used += separator + e->getUniblockLength() + 2;
    }
    return total - used > qint64(ExpungeThreshold);
}
