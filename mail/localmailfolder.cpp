#include "localmailfolder.h"

#include "dateclass.h"
#include "foldernotifier.h"
#include "indexclass.h"
#include "indexrecord_p.h"
#include "messageclass.h"
#include "messagedevice.h"
#include "mimepart.h"
#include "orvanelog_p.h"
#include "storefile_p.h"
#include "storeio_p.h"
#include "streamio_p.h"

#include <orvaneversion.h>

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>

#include <algorithm>
#include <cctype>
#include <limits>

namespace {

constexpr qint64 MaxOffset = std::numeric_limits<qint32>::max();
constexpr unsigned int ExpungeThreshold = 102400;
constexpr size_t ForceSyncAbove = 299;

// An ID holding a decimal number from its fourth character on raises
// lastIndexID past that number. Only IDs made of characters that such a
// number may hold are decoded (UUID texts never are).
void noteNumberedID(const uchar* d, qint64 at, unsigned long* last)
{
    const qint64 len = Orvane::rawStringSize(d, at) - 4;
    if (len <= 6)
        return;
    for (qint64 i = 6; i < len; i += 2) {
        const char16_t c = char16_t((d[at + 4 + i] << 8) | d[at + 4 + i + 1]);
        if (!(c < 128 && (std::isdigit(int(c)) || std::isspace(int(c)) || c == '+' || c == '-')))
            return;
    }
    bool ok = false;
    const unsigned long n = Orvane::rawString(d, at).mid(3).toULong(&ok);
    if (ok && *last < n)
        *last = n + 1;
}

using Range = std::pair<qint64, qint64>;  // offset, length

// Overwrites the \a ranges of the file \a path with zeros, leaving out
// every byte that one of the \a live ranges covers, and syncs the file.
void scrubRanges(const QString& path, std::vector<Range> ranges, std::vector<Range> live)
{
    if (ranges.empty())
        return;
    QFile f(path);
    if (!f.open(QIODevice::ReadWrite))
        return;
    const qint64 size = f.size();
    // Entries come in the order their records were written: mostly sorted.
    if (!std::is_sorted(live.begin(), live.end()))
        std::sort(live.begin(), live.end());
    std::sort(ranges.begin(), ranges.end());
    // Longest live range so far, for the overlap search below.
    std::vector<qint64> reach(live.size());
    qint64 far = -1;
    for (size_t i = 0; i < live.size(); ++i)
        reach[i] = far = qMax(far, live[i].first + qMax<qint64>(live[i].second, 0));
    static const QByteArray zeros(1 << 16, '\0');
    for (auto [off, len] : ranges) {
        len = qMin(len, size - off);
        if (off < 0 || len <= 0)
            continue;
        // Clip against the live ranges: write only the gaps between them.
        auto it = std::upper_bound(live.begin(), live.end(), Range(off + len, 0));
        size_t k = size_t(it - live.begin());
        bool overlaps = false;
        while (k > 0 && reach[k - 1] > off) {
            --k;
            const auto& [lo, ll] = live[k];
            if (ll > 0 && lo < off + len && lo + ll > off) {
                overlaps = true;
                break;
            }
        }
        if (overlaps)
            continue;  // shared with a live entry: leave it (compaction removes it)
        for (qint64 done = 0; done < len;) {
            const qint64 step = qMin<qint64>(zeros.size(), len - done);
            if (!Orvane::StoreIO::writeAt(f, off + done, zeros.constData(), step))
                return;
            done += step;
        }
    }
    Orvane::StoreIO::syncFile(f);
}

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
    // The file is mapped (or read once); records are walked in place and
    // each entry keeps only its offsets and flags, decoding its IDs and
    // parts when they are first asked for.
    const std::shared_ptr<const Orvane::IndexImage> image = Orvane::IndexImage::open(indexFileName);
    if (image)
        loadIndex(image);
}

void LocalMailFolder::loadIndex(const std::shared_ptr<const Orvane::IndexImage>& image)
{
    const uchar* d = image->data();
    const qint64 size = image->size();
    qint64 pos = Orvane::indexHeaderEnd(d, size);
    if (pos < 0) {
        orvaneDebug("Folder %s attempted to read an older version or invalid index                   cache, discarding index...",
                    qPrintable(name()));
        return;
    }
    setIndexFileIsOurs(true);
    // Roughly one entry per 400 bytes of file (a record with a part or
    // two): spares rehashing most of the time as the table grows.
    indexCollection.reserve(size_t(size / 400));
    int records = 0;
    bool damaged = false;
    // Records are read in chunks: the table slots of a chunk's IDs are
    // fetched while its entries are made, so that inserting them does not
    // wait for memory one entry at a time.
    struct Loaded {
        std::unique_ptr<IndexClass> entry;
        qint64 at;
        quint64 hash;
    };
    std::vector<Loaded> chunk;
    chunk.reserve(64);
    while (pos < size && !damaged) {
        while (chunk.size() < 64 && pos < size) {
            Orvane::RawRecord r;
            // A record without an ID is not one any writer produces: it is
            // damage like a short record. Keep what was read before it; the
            // rest of the file cannot be trusted to be aligned on records.
            if (!Orvane::scanRecord(d, size, pos, &r) || Orvane::rawStringEmpty(d, pos)) {
                orvaneDebug("Folder %s: index file damaged after %d records, the rest is ignored.",
                            qPrintable(name()), records + int(chunk.size()));
                damaged = true;
                break;
            }
            // A record whose framing is intact never hides the records
            // after it: offsets or lengths outside the files only mean that
            // this entry yields no data (every read is bounded by the
            // files, and `check` reports them).
            auto entry = std::make_unique<IndexClass>(this, image, pos, r);
            const quint64 hash = entry->idHash();
            indexCollection.prefetch(hash);
            chunk.push_back({std::move(entry), pos, hash});
            pos = r.end;
        }
        records += int(chunk.size());
        for (auto& [entry, at, hash] : chunk) {
            const bool isUnread = entry->getUnreadMark();
            std::unique_ptr<IndexClass> held;
            indexCollection.insert(std::move(entry), &held, hash);
            if (held) {
                incrementPruneIndexCount();
                if (held->getUnreadMark() && unread > 0)
                    decrementUnread();
            } else {
                noteNumberedID(d, at, &lastIndexID);
            }
            if (isUnread)
                incrementUnread();
        }
        chunk.clear();
    }
    if (damaged && image->isFile()) {
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
    // no entry is created that would point at nothing. A batch keeps the
    // file open until it is synced (opening it for each message cost a
    // fifth of an import); every write still reaches the file at once.
    std::unique_ptr<QFile> single;
    QFile* out = sync ? batchText.get() : nullptr;
    if (!out) {
        auto file = std::make_unique<QFile>(messagesFileName);
        if (!file->open(QIODevice::WriteOnly | QIODevice::Append))
            return QString();
        out = file.get();
        (sync ? batchText : single) = std::move(file);
    }
    QFile& f = *out;
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
        batchText.reset();
        return QString();
    }
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
    batchText.reset();
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
    if (!entry || entry->getParentFolder() != this || indexCollection.find(*entry) != entry)
        return false;
    deleteEntries({entry});
    return true;
}

// Deletes entries without rewriting the messages and descriptor files:
// the index file is rewritten once without them, then every byte of their
// texts and descriptor records (the current ones and the older versions
// the index log still names) is overwritten with zeros, so the message no
// longer exists in the files. The space is reclaimed by expunge().
void LocalMailFolder::deleteEntries(const std::vector<IndexClass*>& gone)
{
    std::vector<Range> texts, descs;
    QSet<quint64> idHashes;
    QSet<QString> ids;
    auto note = [&](qint64 dOff, qint64 dLen, qint64 uOff, qint64 uLen) {
        if (dLen > 0 && dOff >= 0)
            descs.push_back({dOff, dLen});
        if (uLen > 0 && uOff >= 0)
            texts.push_back({uOff, uLen});
    };
    for (IndexClass* e : gone) {
        if (ids.contains(e->getID()))
            continue;
        ids.insert(e->getID());
        idHashes.insert(e->idHash());
        note(e->getDescriptorOffset(), e->getDescriptorLength(), e->getUniblockOffset(),
             e->getUniblockLength());
    }
    // The index log is written again without any record of these
    // messages: the other records are copied as they are (older versions
    // included, so that deleting those messages later can still find every
    // byte of theirs). The records dropped name the older versions of these
    // messages (descriptors saved again, texts composed again) to scrub.
    bool rewritten = false;
    const auto image = indexFileIsOurs() ? Orvane::IndexImage::open(indexFileName) : nullptr;
    const qint64 first = image ? Orvane::indexHeaderEnd(image->data(), image->size()) : -1;
    if (first > 0) {
        const uchar* d = image->data();
        const qint64 size = image->size();
        // The kept spans go straight from the mapped log to the new file.
        QSaveFile out(indexFileName);
        bool ok = out.open(QIODevice::WriteOnly);
        auto put = [&](qint64 from, qint64 to) {
            ok = ok && out.write(reinterpret_cast<const char*>(d + from), to - from) == to - from;
        };
        qint64 pos = first, kept = 0;
        Orvane::RawRecord r;
        while (pos < size && Orvane::scanRecord(d, size, pos, &r)) {
            if (idHashes.contains(Orvane::rawStringHash(d, pos)) && ids.contains(Orvane::rawString(d, pos))) {
                note(r.fields[0], r.fields[1], r.fields[2], r.fields[3]);
                put(kept, pos);
                kept = r.end;
            }
            pos = r.end;
        }
        put(kept, pos);  // a damaged tail stays out
        for (const QString& id : std::as_const(ids))
            removeEntry(indexCollection.find(id));
        rewritten = ok && out.commit();
        if (!ok)
            out.cancelWriting();
    } else {
        for (const QString& id : std::as_const(ids))
            removeEntry(indexCollection.find(id));
    }
    if (!rewritten)
        saveIndex();

    // Never touch bytes that a remaining entry points to (a damaged or
    // foreign log could name them).
    std::vector<Range> liveTexts, liveDescs;
    liveTexts.reserve(size_t(indexCollection.count()));
    liveDescs.reserve(size_t(indexCollection.count()));
    for (const IndexClass* e : indexCollection.entries()) {
        liveDescs.push_back({e->getDescriptorOffset(), e->getDescriptorLength()});
        liveTexts.push_back({e->getUniblockOffset(), e->getUniblockLength()});
    }
    scrubRanges(messagesFileName, std::move(texts), std::move(liveTexts));
    scrubRanges(descriptorFileName, std::move(descs), std::move(liveDescs));
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
    if (!entries.empty())
        deleteEntries(entries);  // one index rewrite for the whole list
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
