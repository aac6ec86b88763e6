// Threading of a mail folder's messages (MailFolder::reparentIndex,
// reparentByRelated, reparentBySubject, crossReferenceIndex): links a
// reply to its parent in the entries, the descriptors and the index file,
// and records the reverse links in the parent's descriptor.
#include "mailfolder.h"

#include "indexclass.h"
#include "messagedevice.h"
#include "streamio_p.h"

#include <QFile>
#include <QHash>
#include <QSet>

#include <limits>

namespace {

// Reads the descriptor record of \a e from the mapped descriptor file
// \a map (\a size bytes) into \a d; false when it is not there whole.
bool readDescriptor(const uchar* map, qint64 size, const IndexClass* e, MessageDescriptor* d)
{
    const qint64 off = e->getDescriptorOffset(), len = e->getDescriptorLength();
    if (!map || off < 0 || len <= 0 || off + len > size)
        return false;
    const QByteArray rec = QByteArray::fromRawData(reinterpret_cast<const char*>(map + off), qsizetype(len));
    QDataStream s(rec);
    Orvane::setupClassicStream(s);
    MessageDescriptor read = *d;
    s >> read;
    if (!Orvane::streamOk(s))
        return false;
    *d = std::move(read);
    return true;
}

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
    QFile file(descriptorFileName);
    uchar* map = nullptr;
    qint64 size = 0;
    // Descriptors changed since the last flush, by entry; written in one
    // append (and their entries in one index append) every few thousand
    // messages, so memory stays bounded.
    std::vector<std::pair<IndexClass*, MessageDescriptor>> changed;
    QHash<IndexClass*, size_t> changedAt;
    auto remap = [&] {
        if (map)
            file.unmap(map);
        map = nullptr;
        file.close();
        if (file.open(QIODevice::ReadOnly) && (size = file.size()) > 0)
            map = file.map(0, size);
    };
    auto flush = [&] {
        if (changed.empty())
            return;
        QByteArray records;
        std::vector<std::pair<qint64, qint64>> spans;
        {
            QDataStream s(&records, QIODevice::WriteOnly);
            Orvane::setupClassicStream(s);
            for (auto& [e, d] : changed) {
                const qint64 at = records.size();
                s << d;
                spans.emplace_back(at, records.size() - at);
            }
        }
        QFile out(descriptorFileName);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Append))
            return;
        const qint64 start = out.size();
        if (start + records.size() > std::numeric_limits<qint32>::max() || out.write(records) != records.size()
            || !out.flush()) {
            out.resize(start);
            return;
        }
        out.close();
        std::vector<IndexClass*> touched;
        for (size_t i = 0; i < changed.size(); ++i) {
            changed[i].first->setDescriptorOffset(long(start + spans[i].first));
            changed[i].first->setDescriptorLength(long(spans[i].second));
            touched.push_back(changed[i].first);
        }
        appendIndexRecords(touched);
        changed.clear();
        changedAt.clear();
        remap();
    };
    // The descriptor of \a e as changed so far in this batch, else as read
    // into \a scratch (null when it is in neither).
    auto current = [&](IndexClass* e, MessageDescriptor* scratch) -> MessageDescriptor* {
        const auto it = changedAt.constFind(e);
        if (it != changedAt.constEnd())
            return &changed[*it].second;
        return readDescriptor(map, size, e, scratch) ? scratch : nullptr;
    };
    // Marks \a d (the result of current()) as changed; returns where it
    // now lives.
    auto keep = [&](IndexClass* e, MessageDescriptor* d, MessageDescriptor* scratch) {
        if (d != scratch)
            return d;
        changedAt.insert(e, changed.size());
        changed.emplace_back(e, std::move(*scratch));
        return &changed.back().second;
    };
    remap();
    for (IndexClass* e : entries) {
        if (!e || e->getParentFolder() != this)
            continue;
        MessageDescriptor own, other;
        MessageDescriptor* cd = current(e, &own);
        if (!cd || cd->inReplyTo.isEmpty())
            continue;
        IndexClass* parent = indexCollection.firstWithMessageID(cd->inReplyTo);
        if (!parent || closesCycle(e, parent))
            continue;
        const QString parentID = parent->getID();
        // The parent changes only when it does not list the reply yet.
        const QString messageID = e->getMessageID();
        MessageDescriptor* pd = current(parent, &other);
        if (!pd)
            pd = &other;  // no record: a fresh one, as a device would save
        if (!pd->references.contains(messageID)) {
            pd = keep(parent, pd, &other);
            pd->references.append(messageID);
            const QString id = e->getID();
            if (!pd->relatedIndexIDList.contains(id))
                pd->relatedIndexIDList.append(id);
        }
        // After the parent: keeping it may have moved the stored descriptors.
        cd = changedAt.contains(e) ? &changed[changedAt.value(e)].second : keep(e, &own, &own);
        cd->parentIndexID = parentID;
        e->_parentID = parentID;
        e->_lazy &= quint8(~IndexClass::ParentLazy);
        indexCollection.noteParentLinked(parentID);
        if (changed.size() >= 4096)
            flush();
    }
    flush();
    if (map)
        file.unmap(map);
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
    e->_parentID = parentID;  // set directly: the tables learn it below
    e->_lazy &= quint8(~IndexClass::ParentLazy);
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
