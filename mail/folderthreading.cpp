// Threading of a mail folder's messages (MailFolder::reparentIndex,
// reparentByRelated, reparentBySubject, crossReferenceIndex): links a
// reply to its parent in the entries, the descriptors and the index file,
// and records the reverse links in the parent's descriptor.
#include "mailfolder.h"

#include "indexclass.h"
#include "indexrecord_p.h"
#include "messagedevice.h"
#include "streamio_p.h"

#include <QFile>
#include <QHash>
#include <QSet>
#include <QtEndian>

#include <algorithm>

#include <limits>

namespace {

// A descriptor record kept as its stored bytes. Threading changes only the
// parent's index ID and two lists of a record, so it keeps the stored bytes
// untouched, notes the changes, and writes the changed record out in one go,
// instead of decoding and re-encoding every field of every record it touches.
//
// Every field before the tail is a string (32-bit big-endian byte length,
// 0xffffffff for a null string, then UTF-16BE) or a list of strings (32-bit
// count, then the strings), apart from four colour and flag bytes.
class DescriptorRecord
{
public:
    /// Takes \a bytes as the record; false when they are not one whole
    /// record, read the way MessageDescriptor reads one.
    bool assign(const QByteArray& bytes)
    {
        *this = DescriptorRecord();
        b = bytes;
        return scan();
    }

    QString inReplyTo() const { return Orvane::rawString(data(), inReplyToAt); }
    bool parentIndexIDIs(const QString& s) const
    {
        return parent.isNull() ? Orvane::rawStringEquals(data(), parentAt, s) : parent == encode(s);
    }
    bool referencesContain(const QString& s) const { return listContains(referencesAt, refs, s); }
    bool relatedContain(const QString& s) const { return listContains(relatedAt, related, s); }
    void appendReference(const QString& s) { refs.add(s); }
    void appendRelated(const QString& s) { related.add(s); }
    void setParentIndexID(const QString& s) { parent = encode(s); }

    /// Appends the record with its changes to \a out; returns its length.
    qint64 writeTo(QByteArray& out) const
    {
        const qint64 at = out.size();
        const qint64 refsEnd = skipList(referencesAt), parentEnd = skipString(parentAt);
        const qint64 relatedEnd = skipList(relatedAt);
        auto list = [&](qint64 from, qint64 to, const Added& added) {
            const qint64 count = out.size();
            out.append(b.constData() + from, to - from);
            qToBigEndian<quint32>(word(from) + added.count, out.data() + count);
            out.append(added.bytes);
        };
        out.append(b.constData(), referencesAt);
        list(referencesAt, refsEnd, refs);
        out.append(b.constData() + refsEnd, parentAt - refsEnd);
        if (parent.isNull())
            out.append(b.constData() + parentAt, parentEnd - parentAt);
        else
            out.append(parent);
        list(relatedAt, relatedEnd, related);
        out.append(b.constData() + relatedEnd, b.size() - relatedEnd);
        return out.size() - at;
    }

private:
    // Strings appended to a list, encoded as stored.
    struct Added {
        QByteArray bytes;
        quint32 count = 0;
        void add(const QString& s)
        {
            bytes += encode(s);
            ++count;
        }
    };

    const uchar* data() const { return reinterpret_cast<const uchar*>(b.constData()); }
    quint32 word(qint64 at) const { return quint32(Orvane::readInt(data() + at)); }
    qint64 skipString(qint64 at) const { return Orvane::skipQString(data(), b.size(), at); }
    // Each element takes at least 4 bytes, so a hostile count ends at the
    // end of the record.
    qint64 skipList(qint64 at) const
    {
        if (at < 0 || at + 4 > b.size())
            return -1;
        qint64 p = at + 4;
        for (quint32 i = word(at); i > 0 && p >= 0; --i)
            p = skipString(p);
        return p;
    }
    qint64 skipBytes(qint64 at, qint64 n) const { return at < 0 || at + n > b.size() ? -1 : at + n; }
    qint64 skipStrings(qint64 at, int n) const
    {
        while (n-- > 0 && at >= 0)
            at = skipString(at);
        return at;
    }

    bool scan()
    {
        qint64 p = skipList(skipString(0));                        // from, to
        p = skipList(skipStrings(p, 7));                           // subject .. scheduling, flags
        inReplyToAt = p = skipBytes(p, 4);                         // colour and flag
        referencesAt = p = skipString(p);                          // inReplyTo
        parentAt = p = skipString(skipList(p));                    // references, indexID
        relatedAt = p = skipString(p);                             // parentIndexID
        p = skipList(skipList(skipString(skipList(p))));           // related, replyTo, cc, bcc
        p = skipList(skipStrings(p, 3));                           // messageID, organization, uid, extendedStatus
        p = skipList(skipStrings(p, 2));                           // contentEncoding, account, route
        p = skipBytes(skipStrings(skipBytes(p, 1), 2), 4);         // receipt, extraInfo, category, persistence
        if (p >= 0 && p + 4 <= b.size())                           // extraData: 0 is null, else that many bytes
            p = skipBytes(p + 4, word(p));
        else
            p = -1;
        return skipBytes(p, 5) >= 0;                               // attachments, size
    }

    static QByteArray encode(const QString& s)
    {
        if (s.isNull())
            return QByteArray(4, '\xff');
        QByteArray out(4 + 2 * s.size(), Qt::Uninitialized);
        qToBigEndian<quint32>(quint32(2 * s.size()), out.data());
        qToBigEndian<char16_t>(s.utf16(), s.size(), out.data() + 4);
        return out;
    }

    // Whether the stored list at \a at or the strings added to it hold
    // \a s. Null and empty strings compare equal, as QString does.
    bool listContains(qint64 at, const Added& added, const QString& s) const
    {
        auto scanList = [&s](const uchar* d, qint64 p, quint32 n) {
            for (; n > 0; --n, p += Orvane::rawStringSize(d, p))
                if (Orvane::rawStringEquals(d, p, s))
                    return true;
            return false;
        };
        return scanList(data(), at + 4, word(at))
            || scanList(reinterpret_cast<const uchar*>(added.bytes.constData()), 0, added.count);
    }

    QByteArray b;
    qint64 inReplyToAt = -1, referencesAt = -1, parentAt = -1, relatedAt = -1;
    Added refs, related;
    QByteArray parent;  // the new parent index ID, encoded; null when unchanged
};

} // namespace

// True when linking \a e under \a parent would make e its own ancestor (a
// hostile or looping In-Reply-To / References chain). That needs e to have
// children; most messages being linked have none, so the walk up the
// parent's ancestors is rarely needed.
bool MailFolder::closesCycle(IndexClass* e, IndexClass* parent)
{
    if (parent == e)
        return true;
    if (!indexCollection.isParent(e->getID()))
        return false;
    QSet<const IndexClass*> seen;
    for (const IndexClass* up = parent; up; up = indexCollection.find(up->getParentID())) {
        if (up == e || seen.contains(up))
            return true;
        seen.insert(up);
        if (!up->hasParent())
            break;
    }
    return false;
}

void MailFolder::reparentIndex(const std::vector<IndexClass*>& entries)
{
    sync();  // pending descriptors first: they are read below
    // The descriptor file only grows while threading, so each stretch of it
    // is mapped once: what was there at the start, then what every flush
    // appends. Remapping the whole file after each flush would fault every
    // page in again.
    QFile file(descriptorFileName);
    struct Stretch {
        qint64 start, size;
        const uchar* data;
    };
    std::vector<Stretch> maps;
    auto mapStretch = [&](qint64 start, qint64 size) {
        // Asking the size also refreshes what the file knows of it.
        const uchar* p = size > 0 && file.size() >= start + size ? file.map(start, size) : nullptr;
        if (p)
            maps.push_back({start, size, p});
        return p != nullptr;
    };
    if (file.open(QIODevice::ReadOnly))
        mapStretch(0, file.size());
    // Records changed since the last flush, by entry; written in one append
    // (and their entries in one index append) every few thousand messages,
    // so memory stays bounded.
    std::vector<std::pair<IndexClass*, DescriptorRecord>> changed;
    QHash<IndexClass*, size_t> changedAt;
    // Set when the disk refuses an append or a mapping: threading stops
    // there rather than take a record it cannot read for a missing one.
    bool stopped = false;
    auto flush = [&] {
        if (changed.empty())
            return;
        QByteArray records;
        std::vector<qint64> lengths;
        lengths.reserve(changed.size());
        for (const auto& c : changed)
            lengths.push_back(c.second.writeTo(records));
        QFile out(descriptorFileName);
        stopped = !out.open(QIODevice::WriteOnly | QIODevice::Append);
        const qint64 start = out.size();
        if (stopped || start + records.size() > std::numeric_limits<qint32>::max()
            || out.write(records) != records.size() || !out.flush()) {
            out.resize(start);
            stopped = true;
            return;
        }
        out.close();
        std::vector<IndexClass*> touched;
        qint64 at = start;
        for (size_t i = 0; i < changed.size(); ++i) {
            changed[i].first->setDescriptorOffset(long(at));
            changed[i].first->setDescriptorLength(long(lengths[i]));
            at += lengths[i];
            touched.push_back(changed[i].first);
        }
        appendIndexRecords(touched);
        // The records just written stay readable through their own mapping;
        // the ones they replace are no longer read.
        changed.clear();
        changedAt.clear();
        stopped = !mapStretch(start, records.size());
    };
    // The record of \a e as changed so far in this batch, else as stored
    // (read into \a scratch); null when it is in neither.
    auto current = [&](IndexClass* e, DescriptorRecord* scratch) -> DescriptorRecord* {
        const auto it = changedAt.constFind(e);
        if (it != changedAt.constEnd())
            return &changed[*it].second;
        const qint64 off = e->getDescriptorOffset(), len = e->getDescriptorLength();
        if (off < 0 || len <= 0)
            return nullptr;
        // The stretches follow each other in the file: the last one that
        // starts at or before the record holds it, if any does.
        auto m = std::upper_bound(maps.begin(), maps.end(), off,
                                  [](qint64 at, const Stretch& st) { return at < st.start; });
        if (m == maps.begin() || off - (--m)->start > m->size - len)
            return nullptr;
        const auto* data = reinterpret_cast<const char*>(m->data + (off - m->start));
        return scratch->assign(QByteArray::fromRawData(data, qsizetype(len))) ? scratch : nullptr;
    };
    // Marks \a r (the result of current()) as changed; returns where it
    // now lives.
    auto keep = [&](IndexClass* e, DescriptorRecord* r, DescriptorRecord* scratch) {
        if (r != scratch)
            return r;
        changedAt.insert(e, changed.size());
        changed.emplace_back(e, std::move(*scratch));
        return &changed.back().second;
    };
    // What a device saves for a message without a record.
    QByteArray freshBytes;
    {
        QDataStream s(&freshBytes, QIODevice::WriteOnly);
        Orvane::setupClassicStream(s);
        s << MessageDescriptor();
    }
    for (IndexClass* e : entries) {
        if (stopped)
            break;
        if (!e || e->getParentFolder() != this)
            continue;
        DescriptorRecord own, other;
        DescriptorRecord* cd = current(e, &own);
        if (!cd)
            continue;
        const QString inReplyTo = cd->inReplyTo();
        if (inReplyTo.isEmpty())
            continue;
        IndexClass* parent = indexCollection.firstWithMessageID(inReplyTo);
        if (!parent || closesCycle(e, parent))
            continue;
        const QString parentID = parent->getID();
        // The parent changes only when it does not list the reply yet.
        const QString messageID = e->getMessageID();
        DescriptorRecord* pd = current(parent, &other);
        if (!pd) {
            other.assign(freshBytes);
            pd = &other;
        }
        if (!pd->referencesContain(messageID)) {
            pd = keep(parent, pd, &other);
            pd->appendReference(messageID);
            const QString id = e->getID();
            if (!pd->relatedContain(id))
                pd->appendRelated(id);
        }
        // After the parent: keeping it may have moved the stored records.
        // A reply linked before keeps its record as it is.
        cd = changedAt.contains(e) ? &changed[changedAt.value(e)].second : &own;
        if (!cd->parentIndexIDIs(parentID))
            keep(e, cd, &own)->setParentIndexID(parentID);
        e->linkParent(parentID);
        indexCollection.noteParentLinked(parentID);
        if (changed.size() >= 4096)
            flush();
    }
    if (!stopped)
        flush();
    for (const Stretch& m : maps)
        file.unmap(const_cast<uchar*>(m.data));
}

bool MailFolder::linkToParent(IndexClass* e, const QString& parentID)
{
    IndexClass* parent = indexCollection.find(parentID);
    if (!parent || closesCycle(e, parent))
        return false;
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
    e->linkParent(parentID);  // the tables learn it below
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
