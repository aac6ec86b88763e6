// The entry table of a folder (IndexCollection): owns the entries, keeps
// them in arrival order, finds them by index ID through an open-addressing
// table of hashes, and keeps the message-ID and parent lookups used by
// threading. Entries loaded from an index file are found without decoding
// their IDs.
#include "indexclass.h"
#include "indexrecord_p.h"
#include "mailfolder.h"

namespace {
constexpr size_t npos = ~size_t(0);
}

IndexCollection::IndexCollection() = default;

IndexCollection::~IndexCollection()
{
    clear();
}

template <typename Eq>
size_t IndexCollection::probe(quint64 hash, Eq eq) const
{
    if (_table.empty())
        return npos;
    const size_t mask = _table.size() - 1;
    const quint32 h32 = quint32(hash);
    for (size_t i = home(hash);; i = (i + 1) & mask) {
        const Bucket& b = _table[i];
        if (b.slot1 == Empty)
            return npos;
        if (b.slot1 != Removed && b.hash == h32 && eq(*_slots[b.slot1 - 1]))
            return i;
    }
}

IndexClass* IndexCollection::find(const QString& id) const
{
    const size_t i = probe(Orvane::stringHash(id), [&](const IndexClass& e) { return e.idEquals(id); });
    return i == npos ? nullptr : _slots[_table[i].slot1 - 1].get();
}

IndexClass* IndexCollection::find(const IndexClass& probeEntry) const
{
    const size_t i = probe(probeEntry.idHash(), [&](const IndexClass& e) { return e.idEquals(probeEntry); });
    return i == npos ? nullptr : _slots[_table[i].slot1 - 1].get();
}

void IndexCollection::prefetch(quint64 hash) const
{
#if defined(__GNUC__) || defined(__clang__)
    if (!_table.empty())
        __builtin_prefetch(&_table[home(hash)]);
#else
    Q_UNUSED(hash);
#endif
}

void IndexCollection::reserve(size_t n)
{
    _slots.reserve(n);
    size_t want = 16;
    while (want < n + n / 2)  // at most two thirds full
        want *= 2;
    if (want > _table.size()) {
        _table.assign(want, Bucket());
        placeAll();
    }
}

// Puts every held entry into an empty table of the current size.
void IndexCollection::placeAll()
{
    std::fill(_table.begin(), _table.end(), Bucket());
    _used = 0;
    const size_t mask = _table.size() - 1;
    for (size_t s = 0; s < _slots.size(); ++s) {
        if (!_slots[s])
            continue;
        const quint64 hash = _slots[s]->idHash();
        size_t i = home(hash);
        while (_table[i].slot1 != Empty)
            i = (i + 1) & mask;
        _table[i] = {quint32(s + 1), quint32(hash)};
        ++_used;
    }
}

IndexClass* IndexCollection::insert(std::unique_ptr<IndexClass> e)
{
    return insert(std::move(e), nullptr);
}

IndexClass* IndexCollection::insert(std::unique_ptr<IndexClass> e, std::unique_ptr<IndexClass>* replaced)
{
    const quint64 hash = e->idHash();
    return insert(std::move(e), replaced, hash);
}

IndexClass* IndexCollection::insert(std::unique_ptr<IndexClass> e, std::unique_ptr<IndexClass>* replaced,
                                    quint64 hash)
{
    IndexClass* raw = e.get();
    const size_t at = probe(hash, [&](const IndexClass& held) { return held.idEquals(*raw); });
    if (at != npos) {
        // Replace in place; the old entry is deleted after the new one is
        // in, so that nothing observes a hole.
        std::unique_ptr<IndexClass> old = std::move(_slots[_table[at].slot1 - 1]);
        _slots[_table[at].slot1 - 1] = std::move(e);
        if (replaced)
            *replaced = std::move(old);
        old.reset();
        ++_generation;
        return raw;
    }
    if ((_used + 1) * 4 > _table.size() * 3 || _table.empty()) {
        size_t size = qMax<size_t>(16, _table.size());
        while ((_count + 1) * 2 > size)
            size *= 2;
        _table.assign(size, Bucket());
        placeAll();
    }
    const size_t mask = _table.size() - 1;
    size_t i = home(hash);
    while (_table[i].slot1 != Empty && _table[i].slot1 != Removed)
        i = (i + 1) & mask;
    if (_table[i].slot1 == Empty)
        ++_used;
    _table[i] = {quint32(_slots.size() + 1), quint32(hash)};
    _slots.push_back(std::move(e));
    ++_count;
    const bool tablesValid = _tablesGeneration == _generation;
    ++_generation;
    if (tablesValid) {
        // A new entry comes last in order: it is the first holder of its
        // message ID only when no other entry holds it.
        const quint64 m = raw->messageIDHash();
        if (!_byMessageID.contains(m))
            _byMessageID.insert(m, quint32(_slots.size() - 1));
        if (raw->hasParent())
            _parents.insert(raw->parentIDHash());
        _tablesGeneration = _generation;
    }
    return raw;
}

std::unique_ptr<IndexClass> IndexCollection::take(const QString& id)
{
    const size_t at = probe(Orvane::stringHash(id), [&](const IndexClass& e) { return e.idEquals(id); });
    if (at == npos)
        return nullptr;
    std::unique_ptr<IndexClass> e = std::move(_slots[_table[at].slot1 - 1]);
    _table[at].slot1 = Removed;
    --_count;
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
    _table.clear();
    _count = _used = _holes = 0;
    ++_generation;
    old.clear();
}

void IndexCollection::compactSlots()
{
    std::vector<std::unique_ptr<IndexClass>> kept;
    kept.reserve(_count);
    for (auto& e : _slots)
        if (e)
            kept.push_back(std::move(e));
    _slots.swap(kept);
    _holes = 0;
    placeAll();
}

void IndexCollection::ensureTables()
{
    if (_tablesGeneration == _generation)
        return;
    _byMessageID.clear();
    _parents.clear();
    _byMessageID.reserve(qsizetype(_count));
    for (size_t s = 0; s < _slots.size(); ++s) {
        const IndexClass* e = _slots[s].get();
        if (!e)
            continue;
        const quint64 m = e->messageIDHash();
        if (!_byMessageID.contains(m))
            _byMessageID.insert(m, quint32(s));
        if (e->hasParent())
            _parents.insert(e->parentIDHash());
    }
    _tablesGeneration = _generation;
}

IndexClass* IndexCollection::firstWithMessageID(const QString& messageID)
{
    ensureTables();
    const auto it = _byMessageID.constFind(Orvane::stringHash(messageID));
    if (it == _byMessageID.constEnd())
        return nullptr;
    IndexClass* e = _slots[*it].get();
    if (e && e->getMessageID() == messageID)
        return e;
    // Two message IDs with one hash: look at every entry.
    for (const auto& c : _slots)
        if (c && c->getMessageID() == messageID)
            return c.get();
    return nullptr;
}

bool IndexCollection::isParent(const QString& id)
{
    ensureTables();
    return _parents.contains(Orvane::stringHash(id));
}

void IndexCollection::noteParentLinked(const QString& parentID)
{
    ensureTables();
    _parents.insert(Orvane::stringHash(parentID));
}

std::vector<IndexClass*> IndexCollection::entries() const
{
    std::vector<IndexClass*> out;
    out.reserve(_count);
    for (const auto& e : _slots)
        if (e)
            out.push_back(e.get());
    return out;
}

QStringList IndexCollection::keys() const
{
    QStringList out;
    out.reserve(qsizetype(_count));
    for (const auto& e : _slots)
        if (e)
            out.append(e->getID());
    return out;
}
