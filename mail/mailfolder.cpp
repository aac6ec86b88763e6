#include "mailfolder.h"

#include "foldernotifier.h"
#include "indexclass.h"
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

#include <cerrno>
#include <cstdio>
#include <limits>

#include <fcntl.h>
#include <unistd.h>

QList<MailFolder*> MailFolder::folderList;
bool MailFolder::autoExpunge = true;
unsigned long MailFolder::lastIndexID = 0;

namespace {

const QLatin1String NewSuffix("new");
const QLatin1String CommitMarkName("/compact.commit");

QString versionText() { return QStringLiteral(ORVANE_MAIL_VERSION); }

// Index file bytes: the header (when \a withHeader) and the records of
// \a entries, one after another.
QByteArray indexBytes(const std::vector<IndexClass*>& entries, bool withHeader)
{
    QByteArray out;
    QDataStream s(&out, QIODevice::WriteOnly);
    Orvane::setupClassicStream(s);
    if (withHeader)
        s << versionText();
    for (const IndexClass* e : entries)
        s << *e;
    return out;
}

// Renames \a from over \a to; rename(2) replaces the target atomically.
bool renameOver(const QString& from, const QString& to)
{
    return ::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

// A file being read by compaction: mapped into memory when it can be (no
// system call per record), read with pread otherwise.
class Source
{
public:
    explicit Source(QFile& f) : _file(f), _size(f.size())
    {
        if (_size > 0)
            _map = f.map(0, _size);
    }
    ~Source()
    {
        if (_map)
            _file.unmap(_map);
    }
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;
    qint64 size() const { return _size; }
    bool holds(qint64 off, qint64 len) const { return off >= 0 && len >= 0 && off + len <= _size; }
    const char* mapped(qint64 off) const { return _map ? reinterpret_cast<const char*>(_map) + off : nullptr; }
    bool read(qint64 off, char* to, qint64 len) const
    {
        while (len > 0) {
            const ssize_t r = ::pread(_file.handle(), to, size_t(len), off_t(off));
            if (r < 0 && errno == EINTR)
                continue;
            if (r <= 0)
                return false;
            to += r;
            off += r;
            len -= r;
        }
        return true;
    }

private:
    QFile& _file;
    qint64 _size;
    uchar* _map = nullptr;
};

// A file being written by compaction, from its start, through a large
// buffer: few, big writes.
class Sink
{
public:
    explicit Sink(int fd) : _fd(fd) { _buf.reserve(Capacity); }
    qint64 pos() const { return _pos; }
    bool put(const char* p, qint64 n)
    {
        if (qint64(_buf.size()) + n > Capacity && !flush())
            return false;
        if (n >= Capacity) {
            _pos += n;
            return writeAll(p, n);
        }
        _buf.append(p, n);
        _pos += n;
        return true;
    }
    bool copy(const Source& from, qint64 off, qint64 n)
    {
        if (const char* m = from.mapped(off))
            return put(m, n);
        while (n > 0) {
            if (qint64(_buf.size()) == Capacity && !flush())
                return false;
            const qint64 step = qMin(n, Capacity - qint64(_buf.size()));
            const qsizetype at = _buf.size();
            _buf.resize(at + step);
            if (!from.read(off, _buf.data() + at, step))
                return false;
            _pos += step;
            off += step;
            n -= step;
        }
        return true;
    }
    bool flush()
    {
        const bool ok = writeAll(_buf.constData(), _buf.size());
        _buf.clear();
        return ok;
    }

private:
    static constexpr qint64 Capacity = 4 << 20;
    bool writeAll(const char* p, qint64 n)
    {
        while (n > 0) {
            const ssize_t w = ::write(_fd, p, size_t(n));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                return false;
            p += w;
            n -= w;
        }
        return true;
    }
    int _fd;
    qint64 _pos = 0;
    QByteArray _buf;
};

} // namespace

// ------------------------------------------------------------ IndexCollection

IndexCollection::IndexCollection() = default;
IndexCollection::~IndexCollection() = default;

IndexClass* IndexCollection::find(const QString& id) const
{
    const auto it = _index.constFind(id);
    return it == _index.constEnd() ? nullptr : _slots[*it].get();
}

IndexClass* IndexCollection::insert(std::unique_ptr<IndexClass> e)
{
    IndexClass* raw = e.get();
    const auto it = _index.constFind(raw->getID());
    if (it != _index.constEnd()) {
        // Replace in place; the old entry is deleted after the new one is
        // in, so that nothing observes a hole.
        std::unique_ptr<IndexClass> old = std::move(_slots[*it]);
        _slots[*it] = std::move(e);
        old.reset();
        ++_generation;
        return raw;
    }
    _index.insert(raw->getID(), _slots.size());
    _slots.push_back(std::move(e));
    const bool tablesValid = _tablesGeneration == _generation;
    ++_generation;
    if (tablesValid) {
        // A new entry comes last in order: it is the first holder of its
        // message ID only when no other entry holds it.
        if (!_byMessageID.contains(raw->getMessageID()))
            _byMessageID.insert(raw->getMessageID(), raw);
        if (!raw->getParentID().isEmpty())
            _parents.insert(raw->getParentID());
        _tablesGeneration = _generation;
    }
    return raw;
}

std::unique_ptr<IndexClass> IndexCollection::take(const QString& id)
{
    const auto it = _index.find(id);
    if (it == _index.end())
        return nullptr;
    std::unique_ptr<IndexClass> e = std::move(_slots[*it]);
    _index.erase(it);
    ++_holes;
    ++_generation;
    if (_holes > 64 && _holes > _slots.size() / 2)
        compactSlots();
    return e;
}

bool IndexCollection::remove(const QString& id)
{
    std::unique_ptr<IndexClass> e = take(id);
    return e != nullptr;
}

void IndexCollection::clear()
{
    // Entries are deleted one by one while the collection is already
    // consistent (a destructor may ask the collection about itself).
    std::vector<std::unique_ptr<IndexClass>> old;
    old.swap(_slots);
    _index.clear();
    _holes = 0;
    ++_generation;
    old.clear();
}

void IndexCollection::compactSlots()
{
    std::vector<std::unique_ptr<IndexClass>> kept;
    kept.reserve(_index.size());
    for (auto& e : _slots) {
        if (e) {
            _index[e->getID()] = kept.size();
            kept.push_back(std::move(e));
        }
    }
    _slots.swap(kept);
    _holes = 0;
}

void IndexCollection::ensureTables()
{
    if (_tablesGeneration == _generation)
        return;
    _byMessageID.clear();
    _parents.clear();
    for (const auto& e : _slots) {
        if (!e)
            continue;
        if (!_byMessageID.contains(e->getMessageID()))
            _byMessageID.insert(e->getMessageID(), e.get());
        if (!e->getParentID().isEmpty())
            _parents.insert(e->getParentID());
    }
    _tablesGeneration = _generation;
}

IndexClass* IndexCollection::firstWithMessageID(const QString& messageID)
{
    ensureTables();
    return _byMessageID.value(messageID);
}

bool IndexCollection::isParent(const QString& id)
{
    ensureTables();
    return _parents.contains(id);
}

void IndexCollection::noteParentLinked(const QString& parentID)
{
    ensureTables();
    _parents.insert(parentID);
}

std::vector<IndexClass*> IndexCollection::entries() const
{
    std::vector<IndexClass*> out;
    out.reserve(_index.size());
    for (const auto& e : _slots)
        if (e)
            out.push_back(e.get());
    return out;
}

QStringList IndexCollection::keys() const
{
    QStringList out;
    out.reserve(_index.size());
    for (const auto& e : _slots)
        if (e)
            out.append(e->getID());
    return out;
}

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
            _indexFileIsOurs = Orvane::writeFileAtomically(indexFileName, indexBytes({entry}, true));
        else
            saveIndex();
        return;
    }
    QFile f(indexFileName);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    const QByteArray rec = indexBytes({entry}, false);
    f.write(rec);
}

void MailFolder::saveIndex()
{
    _indexFileIsOurs = Orvane::writeFileAtomically(indexFileName, indexBytes(indexCollection.entries(), true));
}

void MailFolder::appendIndexRecords(const std::vector<IndexClass*>& entries)
{
    if (!_indexFileIsOurs) {
        saveIndex();
        return;
    }
    const QByteArray out = indexBytes(entries, false);
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

bool MailFolder::compact(unsigned int level)
{
    sync();
    if (level != 0)
        orvaneDebug("Folder compressing isn't yet available.");

    const QByteArray separator = Orvane::separatorLine(QDateTime::currentDateTime());

    const QString messagesFile = getMessagesFileName();
    const QString descNew = descriptorFileName + NewSuffix;
    const QString msgNew = messagesFile + NewSuffix;
    const QString indexNew = indexFileName + NewSuffix;

    QFile descIn(descriptorFileName), descOut(descNew), msgIn(messagesFile), msgOut(msgNew);
    auto abandon = [&] {
        descOut.close();
        msgOut.close();
        QFile::remove(descNew);
        QFile::remove(msgNew);
        QFile::remove(indexNew);
        return false;
    };
    if (!descIn.open(QIODevice::ReadOnly))
        return false;
    if (!descOut.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return abandon();
    if (!msgIn.open(QIODevice::ReadOnly))
        return abandon();
    if (!msgOut.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return abandon();

    // Copy what the entries point to. The entries themselves are changed
    // only once the new files are in place. Positions in the new files are
    // kept here; a record that cannot be copied whole is overwritten by the
    // next one.
    struct Move {
        IndexClass* entry;
        long descOffset;
        long blockOffset;
    };
    std::vector<Move> moves;
    std::vector<IndexClass*> broken;
    const std::vector<IndexClass*> all = indexCollection.entries();
    moves.reserve(all.size());
    const Source descSrc(descIn), msgSrc(msgIn);
    Sink descSink(descOut.handle()), msgSink(msgOut.handle());
    for (IndexClass* e : all) {
        const qint64 dOff = e->getDescriptorOffset(), dLen = e->getDescriptorLength();
        const qint64 uOff = e->getUniblockOffset(), uLen = e->getUniblockLength();
        if (dLen == 0 || !descSrc.holds(dOff, dLen) || !msgSrc.holds(uOff, uLen)) {
            // No record (or one outside its file): the entry cannot be
            // carried over.
            orvaneDebug("The index file seems to be broken :(");
            broken.push_back(e);
            continue;
        }
        const qint64 descPos = descSink.pos();
        if (descPos + dLen > std::numeric_limits<qint32>::max())
            return abandon();  // offsets would no longer fit the record format
        if (uLen == 0) {
            // A message being composed whose text has not been written yet
            // (a fresh draft): it has nothing in the messages file, but its
            // descriptor is the user's data and goes along.
            if (!descSink.copy(descSrc, dOff, dLen))
                return abandon();
            moves.push_back({e, long(descPos), -1});
            continue;
        }
        const qint64 blockPos = msgSink.pos() + separator.size();
        if (blockPos + uLen + 2 > std::numeric_limits<qint32>::max())
            return abandon();
        if (!descSink.copy(descSrc, dOff, dLen) || !msgSink.put(separator.constData(), separator.size())
            || !msgSink.copy(msgSrc, uOff, uLen) || !msgSink.put("\r\n", 2))
            return abandon();
        moves.push_back({e, long(descPos), long(blockPos)});
    }
    if (!descSink.flush() || !msgSink.flush())
        return abandon();
    const int dOut = descOut.handle(), mOut = msgOut.handle();
    const qint64 descPos = descSink.pos(), msgPos = msgSink.pos();
    if (::ftruncate(dOut, off_t(descPos)) != 0 || ::ftruncate(mOut, off_t(msgPos)) != 0
        || ::fsync(dOut) != 0 || ::fsync(mOut) != 0)
        return abandon();
    descOut.close();
    msgOut.close();
    Orvane::faultPoint();

    // The new index, written beside the old one. Entries take their new
    // places now; if the switch fails they are put back.
    struct Old {
        long descOffset;
        long blockOffset;
    };
    std::vector<Old> olds;
    olds.reserve(moves.size());
    for (const Move& m : moves) {
        olds.push_back({m.entry->getDescriptorOffset(), m.entry->getUniblockOffset()});
        m.entry->setDescriptorOffset(m.descOffset);
        if (m.blockOffset >= 0)
            m.entry->setUniblockOffset(m.blockOffset, true);
    }
    auto restore = [&] {
        for (size_t i = 0; i < moves.size(); ++i) {
            moves[i].entry->setDescriptorOffset(olds[i].descOffset);
            if (moves[i].blockOffset >= 0)
                moves[i].entry->setUniblockOffset(olds[i].blockOffset, true);
        }
        return abandon();
    };
    {
        std::vector<IndexClass*> kept;
        kept.reserve(moves.size());
        for (const Move& m : moves)
            kept.push_back(m.entry);
        const QByteArray index = indexBytes(kept, true);
        QFile f(indexNew);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(index) != index.size()
            || !Orvane::syncFile(f))
            return restore();
    }
    Orvane::faultPoint();

    // Commit: from the moment the mark exists, the new files are the folder
    // and an interrupted switch is finished when the folder is next opened.
    const QString mark = storageDevice + CommitMarkName;
    {
        QFile m(mark);
        if (!m.open(QIODevice::WriteOnly | QIODevice::Truncate) || !Orvane::syncFile(m))
            return restore();
    }
    Orvane::syncDirectory(storageDevice);
    Orvane::faultPoint();

    const bool switched = renameOver(descNew, descriptorFileName) && (Orvane::faultPoint(), true)
        && renameOver(msgNew, messagesFile) && (Orvane::faultPoint(), true)
        && renameOver(indexNew, indexFileName);
    Orvane::syncDirectory(storageDevice);
    Orvane::faultPoint();
    for (IndexClass* e : broken)
        removeEntry(e);
    if (!switched)
        return false;  // the mark stays: the next opening finishes the switch
    QFile::remove(mark);
    return true;
}

void MailFolder::recoverInterruptedCompaction()
{
    const QString messagesFile = getMessagesFileName();
    const QString mark = storageDevice + CommitMarkName;
    const QString pairs[3][2] = {
        {descriptorFileName + NewSuffix, descriptorFileName},
        {messagesFile + NewSuffix, messagesFile},
        {indexFileName + NewSuffix, indexFileName},
    };
    if (QFile::exists(mark)) {
        // The new layout was complete: finish switching to it.
        for (const auto& p : pairs)
            if (QFile::exists(p[0]))
                renameOver(p[0], p[1]);
        Orvane::syncDirectory(storageDevice);
        QFile::remove(mark);
    } else {
        // Interrupted before its commit: the old files are the folder.
        for (const auto& p : pairs)
            QFile::remove(p[0]);
    }
}

// ------------------------------------------------------------ threading

bool MailFolder::linkToParent(IndexClass* e, const QString& parentID)
{
    IndexClass* parent = indexCollection.find(parentID);
    if (!parent || parent == e)
        return false;
    // Refuse a link that would make e its own ancestor (a hostile or
    // looping In-Reply-To / References chain). That needs e to have
    // children; most messages being linked have none, so the walk up the
    // parent's ancestors is rarely needed.
    if (indexCollection.isParent(e->getID())) {
        QSet<const IndexClass*> seen;
        for (const IndexClass* up = parent; up; up = indexCollection.find(up->getParentID())) {
            if (up == e || seen.contains(up))
                return false;
            seen.insert(up);
            if (up->getParentID().isEmpty())
                break;
        }
    }
    MessageDevice child(e);
    child.loadDescriptor(false);
    child.getDescriptor().parentIndexID = parentID;
    child.saveDescriptor();

    MessageDevice par(parent);
    par.loadDescriptor(false);
    MessageDescriptor& pd = par.getDescriptor();
    if (!pd.references.contains(e->getMessageID())) {
        pd.references.append(e->getMessageID());
        if (!pd.relatedIndexIDList.contains(e->getID()))
            pd.relatedIndexIDList.append(e->getID());
        par.saveDescriptor();
    }
    e->_parentID = parentID;  // set directly: the tables learn it below
    indexCollection.noteParentLinked(parentID);
    saveIndex(e);
    return true;
}

void MailFolder::reparentIndex(IndexClass* e)
{
    if (!e)
        return;
    MessageDevice dev(e);
    dev.loadDescriptor(false);
    const QString parent = translateLocalMessageID(dev.getDescriptor().inReplyTo);
    if (!parent.isEmpty())
        linkToParent(e, parent);
}

bool MailFolder::reparentByRelated(IndexClass* e)
{
    if (!e)
        return false;
    MessageDevice dev(e);
    dev.loadDescriptor(false);
    // Subjects never match, so the parent is the first reference that names
    // a message of this folder (one that can be linked without a cycle).
    for (const QString& ref : dev.getDescriptor().references) {
        const QString id = translateLocalMessageID(ref);
        if (!id.isEmpty() && linkToParent(e, id))
            return true;
    }
    return false;
}

bool MailFolder::reparentBySubject(IndexClass*)
{
    return false;
}

void MailFolder::crossReferenceIndex(IndexClass* e)
{
    if (!e)
        return;
    MessageDevice dev(e);
    dev.loadDescriptor(false);
    MessageDescriptor& d = dev.getDescriptor();
    bool changed = false;
    const QStringList refs = d.references;
    for (const QString& ref : refs) {
        const QString g = translateGlobalMessageID(ref);
        if (g.isEmpty() || g == e->getID())
            continue;
        if (!d.relatedIndexIDList.contains(g)) {
            d.relatedIndexIDList.append(g);
            changed = true;
        }
        IndexClass* other = findIndex(g);
        if (!other || other == e)
            continue;
        MessageDevice od(other);
        od.loadDescriptor(false);
        MessageDescriptor& o = od.getDescriptor();
        bool otherChanged = false;
        if (!o.references.contains(e->getMessageID())) {
            o.references.append(e->getMessageID());
            otherChanged = true;
        }
        if (!o.relatedIndexIDList.contains(e->getID())) {
            o.relatedIndexIDList.append(e->getID());
            otherChanged = true;
        }
        if (otherChanged)
            od.saveDescriptor();
    }
    if (changed)
        dev.saveDescriptor();
}
