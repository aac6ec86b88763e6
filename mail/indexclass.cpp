#include "indexclass.h"

#include "indexrecord_p.h"
#include "mailfolder.h"
#include "messagefactory.h"
#include "mimepart.h"
#include "orvanelog_p.h"
#include "storeio_p.h"
#include "streamio_p.h"

#include <atomic>
#include <cstring>
#include <new>

// Under AddressSanitizer entries come from the global allocator, so that a
// use after free of an entry is still reported.
#if defined(__SANITIZE_ADDRESS__)
#define ORVANE_ENTRY_SLABS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ORVANE_ENTRY_SLABS 0
#endif
#endif
#ifndef ORVANE_ENTRY_SLABS
#define ORVANE_ENTRY_SLABS 1
#endif

namespace {

// A block of entries, aligned on its size so that an entry finds its block
// from its own address. It counts its live entries, plus one while a
// thread still fills it; the last release frees it.
struct Slab {
    static constexpr size_t Bytes = size_t(8) << 20;
    static constexpr size_t Slot = (sizeof(IndexClass) + 15) & ~size_t(15);
    static constexpr size_t First = (sizeof(std::atomic<size_t>) + 15) & ~size_t(15);
    std::atomic<size_t> live{1};

    static Slab* of(void* entry) { return reinterpret_cast<Slab*>(quintptr(entry) & ~quintptr(Bytes - 1)); }
    void release()
    {
        if (live.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            this->~Slab();
            ::operator delete(static_cast<void*>(this), std::align_val_t(Bytes));
        }
    }
};

// The block a thread is filling, and how far.
struct Filling {
    Slab* slab = nullptr;
    size_t used = 0;
    ~Filling()
    {
        if (slab)
            slab->release();
    }
    void* take()
    {
        if (!slab || used + Slab::Slot > Slab::Bytes) {
            void* block = ::operator new(Slab::Bytes, std::align_val_t(Slab::Bytes));
            Orvane::StoreIO::adviseHugePages(block, qint64(Slab::Bytes));
            if (slab)
                slab->release();
            slab = new (block) Slab;
            used = Slab::First;
        }
        slab->live.fetch_add(1, std::memory_order_relaxed);
        void* p = reinterpret_cast<char*>(slab) + used;
        used += Slab::Slot;
        return p;
    }
};

} // namespace

void* IndexClass::operator new([[maybe_unused]] size_t size)
{
#if ORVANE_ENTRY_SLABS
    if (size == sizeof(IndexClass)) {
        thread_local Filling filling;
        return filling.take();
    }
#endif
    return ::operator new(size);
}

void IndexClass::operator delete(void* p, [[maybe_unused]] size_t size)
{
#if ORVANE_ENTRY_SLABS
    if (size == sizeof(IndexClass)) {
        Slab::of(p)->release();
        return;
    }
#endif
    ::operator delete(p);
}

struct IndexClass::Held {
    QString id;
    QString parentID = QLatin1String("");
    QString messageID = QLatin1String("");
    std::vector<std::unique_ptr<MimePart>> parts;
};

IndexClass::Held& IndexClass::held() const
{
    if (!_held)
        _held = std::make_unique<Held>();
    return *_held;
}

IndexClass::IndexClass(MailFolder* parent, const QString& id) : _parent(parent)
{
    held().id = id;
}

IndexClass::IndexClass(MailFolder* parent, std::shared_ptr<const Orvane::IndexImage> image, qint64 at,
                       const Orvane::RawRecord& r)
    : _parent(parent),
      _image(std::move(image)),
      _record(at),
      _descriptorOffset(r.fields[0]),
      _descriptorLength(r.fields[1]),
      _uniblockOffset(r.fields[2]),
      _uniblockLength(r.fields[3]),
      _lazyPartCount(r.partCount),
      _multipartOnly(r.fields[4]),
      _unreadMark(r.fields[5]),
      _lazy(IdLazy | ParentLazy | MessageIdLazy | PartsLazy | (r.canonicalParts ? CanonicalParts : 0))
{
}

IndexClass::IndexClass(const IndexClass& other)
    : _parent(nullptr),
      _image(other._image),
      _record(other._record),
      _partShift(other._partShift),
      _descriptorOffset(other._descriptorOffset),
      _descriptorLength(other._descriptorLength),
      _uniblockOffset(other._uniblockOffset),
      _uniblockLength(other._uniblockLength),
      _lazyPartCount(other._lazyPartCount),
      _multipartOnly(other._multipartOnly),
      _unreadMark(other._unreadMark),
      _lazy(other._lazy)
{
    if (!other._held)
        return;
    Held& h = held();
    h.id = other._held->id;
    h.parentID = other._held->parentID;
    h.messageID = other._held->messageID;
    h.parts.reserve(other._held->parts.size());
    for (const auto& p : other._held->parts)
        h.parts.push_back(std::make_unique<MimePart>(*p));
}

qint64 IndexClass::fieldAt(int k) const
{
    return Orvane::stringFieldAt(_image->data(), _record, k);
}

QString IndexClass::getID() const
{
    return _lazy & IdLazy ? Orvane::rawString(_image->data(), fieldAt(0)) : held().id;
}

void IndexClass::setID(const QString& id)
{
    held().id = id;
    _lazy &= quint8(~IdLazy);
}

QString IndexClass::getParentID() const
{
    return _lazy & ParentLazy ? Orvane::rawString(_image->data(), fieldAt(1)) : held().parentID;
}

bool IndexClass::hasParent() const
{
    return _lazy & ParentLazy ? !Orvane::rawStringEmpty(_image->data(), fieldAt(1)) : !held().parentID.isEmpty();
}

QString IndexClass::getMessageID() const
{
    return _lazy & MessageIdLazy ? Orvane::rawString(_image->data(), fieldAt(2)) : held().messageID;
}

quint64 IndexClass::idHash() const
{
    return _lazy & IdLazy ? Orvane::rawStringHash(_image->data(), fieldAt(0)) : Orvane::stringHash(held().id);
}

bool IndexClass::idEquals(const QString& id) const
{
    return _lazy & IdLazy ? Orvane::rawStringEquals(_image->data(), fieldAt(0), id) : held().id == id;
}

bool IndexClass::idEquals(const IndexClass& other) const
{
    if (!(other._lazy & IdLazy))
        return idEquals(other.held().id);
    if (!(_lazy & IdLazy))
        return other.idEquals(held().id);
    const qint64 a = fieldAt(0), b = other.fieldAt(0);
    const qint64 na = Orvane::rawStringSize(_image->data(), a);
    const qint64 nb = Orvane::rawStringSize(other._image->data(), b);
    if (na <= 4 || nb <= 4)  // null or empty: equal when both are
        return na <= 4 && nb <= 4;
    return na == nb && std::memcmp(_image->data() + a, other._image->data() + b, size_t(na)) == 0;
}

quint64 IndexClass::messageIDHash() const
{
    return _lazy & MessageIdLazy ? Orvane::rawStringHash(_image->data(), fieldAt(2))
                                 : Orvane::stringHash(held().messageID);
}

quint64 IndexClass::parentIDHash() const
{
    return _lazy & ParentLazy ? Orvane::rawStringHash(_image->data(), fieldAt(1)) : Orvane::stringHash(held().parentID);
}

void IndexClass::decodeParts() const
{
    if (!(_lazy & PartsLazy))
        return;
    _lazy &= quint8(~(PartsLazy | CanonicalParts));
    const qint64 at = Orvane::stringFieldAt(_image->data(), _record, 3) + 28;
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(_image->data() + at),
                                                     qsizetype(_image->size() - at));
    QDataStream s(bytes);
    Orvane::setupClassicStream(s);
    auto& parts = held().parts;
    parts.reserve(size_t(_lazyPartCount));
    for (qint32 i = 0; i < _lazyPartCount && Orvane::streamOk(s); ++i) {
        auto part = std::make_unique<MimePart>();
        s >> *part;
        if (!Orvane::streamOk(s))
            break;
        if (_partShift != 0 && (part->offset != 0 || part->length != 0))
            part->offset += _partShift;
        parts.push_back(std::move(part));
    }
    _lazyPartCount = 0;
    _partShift = 0;
}

IndexClass::~IndexClass()
{
    // A cached device bound to this entry must not outlive it.
    MessageFactory::entryDestroyed(this);
}

bool IndexClass::inCollection() const
{
    return _parent && _parent->indexIDict()->find(*this) == this;
}

void IndexClass::setMessageID(const QString& id)
{
    held().messageID = id;
    _lazy &= quint8(~MessageIdLazy);
    if (inCollection())
        _parent->indexIDict()->touch();  // the folder's lookups must see it
}

void IndexClass::setParentID(const QString& id)
{
    linkParent(id);
    if (inCollection())
        _parent->indexIDict()->touch();
}

void IndexClass::linkParent(const QString& id)
{
    held().parentID = id;
    _lazy &= quint8(~ParentLazy);
}

int IndexClass::getPartCount() const
{
    return _lazy & PartsLazy ? _lazyPartCount : _held ? int(_held->parts.size()) : 0;
}

MimePart* IndexClass::getPartAt(int i) const
{
    decodeParts();
    if (i < 0 || i >= getPartCount())
        return nullptr;
    return _held->parts[size_t(i)].get();
}

void IndexClass::setUniblockOffset(long offset, bool adjust)
{
    if (adjust && (_lazy & PartsLazy)) {
        // Parts still in the index file move by the same distance when
        // they are decoded.
        const qint64 at = Orvane::stringFieldAt(_image->data(), _record, 3) + 28;
        Orvane::forEachRawPart(_image->data(), _image->size(), at, _lazyPartCount,
                               [](qint64, qint32 off, qint32 len) {
                                   if (off == 0 && len == 0)
                                       orvaneDebug("Hmm, saving an unfinished mail!");
                               });
        _partShift += offset - long(_uniblockOffset);
    } else if (adjust && _held) {
        for (const auto& p : _held->parts) {
            if (p->offset != 0 || p->length != 0)
                p->offset = offset + (p->offset - _uniblockOffset);
            else
                orvaneDebug("Hmm, saving an unfinished mail!");
        }
    }
    _uniblockOffset = qint32(offset);
}

QString IndexClass::url() const
{
    return (_parent ? _parent->name() : QString()) + QLatin1Char('/') + getID();
}

QString IndexClass::getDataFilename() const
{
    return _parent ? _parent->getMessagesFileName() : QString();
}

QString IndexClass::getDescriptorFileName() const
{
    return _parent ? _parent->getDescriptorFileName() : QString();
}

int IndexClass::getSize() const
{
    if (!_multipartOnly)
        return int(_uniblockLength);
    decodeParts();
    long sum = 0;
    for (const auto& p : held().parts)
        sum += p->length;
    return int(sum);
}

int IndexClass::addPart(std::unique_ptr<MimePart> part, bool adjust)
{
    decodeParts();
    if (adjust)
        part->offset += _uniblockOffset;
    auto& parts = held().parts;
    parts.push_back(std::move(part));
    return int(parts.size()) - 1;
}

int IndexClass::addPart(MimePart* part, bool adjust)
{
    return addPart(std::unique_ptr<MimePart>(part), adjust);
}

bool IndexClass::removePart(int i)
{
    decodeParts();
    if (i < 0 || i >= getPartCount())
        return false;
    _held->parts.erase(_held->parts.begin() + i);
    return true;
}

void IndexClass::writeParts(QDataStream& s) const
{
    const uchar* d = _image->data();
    const qint64 at = Orvane::stringFieldAt(d, _record, 3) + 28;
    if (!(_lazy & CanonicalParts)) {
        // Older layouts are written in the current one, as the stream
        // reader and writer would do.
        const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(d + at),
                                                         qsizetype(_image->size() - at));
        QDataStream in(bytes);
        Orvane::setupClassicStream(in);
        for (qint32 i = 0; i < _lazyPartCount; ++i) {
            MimePart part;
            in >> part;
            if (_partShift != 0 && (part.offset != 0 || part.length != 0))
                part.offset += _partShift;
            s << part;
        }
        return;
    }
    // The records are copied as they are, their offsets moved with the text.
    std::vector<std::pair<qint64, qint32>> patches;
    qint64 end = at;
    for (qint32 i = 0; i < _lazyPartCount; ++i) {
        qint64 offPos = 0;
        bool canonical = true;
        end = Orvane::scanPart(d, _image->size(), end, &offPos, &canonical);
        const qint32 off = Orvane::readInt(d + offPos), len = Orvane::readInt(d + offPos + 4);
        if (_partShift != 0 && (off != 0 || len != 0))
            patches.emplace_back(offPos, qint32(off + _partShift));
    }
    qint64 from = at;
    for (const auto& [offPos, value] : patches) {
        s.writeRawData(reinterpret_cast<const char*>(d + from), int(offPos - from));
        s << value;
        from = offPos + 4;
    }
    s.writeRawData(reinterpret_cast<const char*>(d + from), int(end - from));
}

QDataStream& operator<<(QDataStream& s, const IndexClass& e)
{
    const uchar* d = e._image ? e._image->data() : nullptr;
    const auto str = [&](int k, IndexClass::Lazy bit, const QString& held) {
        if (e._lazy & bit) {
            const qint64 at = e.fieldAt(k);
            s.writeRawData(reinterpret_cast<const char*>(d + at), int(Orvane::rawStringSize(d, at)));
        } else {
            s << held;
        }
    };
    const IndexClass::Held* h = e._held.get();
    str(0, IndexClass::IdLazy, h ? h->id : QString());
    str(1, IndexClass::ParentLazy, h ? h->parentID : QString());
    str(2, IndexClass::MessageIdLazy, h ? h->messageID : QString());
    s << qint32(e._descriptorOffset) << qint32(e._descriptorLength)
      << qint32(e._uniblockOffset) << qint32(e._uniblockLength);
    s << qint32(e._multipartOnly) << qint32(e._unreadMark);
    if (e._lazy & IndexClass::PartsLazy) {
        s << qint32(e._lazyPartCount);
        e.writeParts(s);
        return s;
    }
    s << qint32(e.getPartCount());
    if (h)
        for (const auto& p : h->parts)
            s << *p;
    return s;
}

QDataStream& operator>>(QDataStream& s, IndexClass& e)
{
    qint32 dOff = 0, dLen = 0, uOff = 0, uLen = 0, multi = 0, unread = 0, count = 0;
    e._lazy = 0;
    e._image.reset();
    e._partShift = 0;
    e._lazyPartCount = 0;
    IndexClass::Held& h = e.held();
    s >> Orvane::bounded(h.id) >> Orvane::bounded(h.parentID) >> Orvane::bounded(h.messageID);
    s >> dOff >> dLen >> uOff >> uLen >> multi >> unread >> count;
    e._descriptorOffset = dOff;
    e._descriptorLength = dLen;
    e._uniblockOffset = uOff;
    e._uniblockLength = uLen;
    e._multipartOnly = multi;
    e._unreadMark = unread;
    h.parts.clear();
    // The count comes from the file: parts are read one by one, never
    // reserved, and reading stops at the first broken record.
    for (qint32 i = 0; i < count && Orvane::streamOk(s); ++i) {
        auto part = std::make_unique<MimePart>();
        s >> *part;
        if (Orvane::streamOk(s) && part->type == "unknown") {
            // A part record of a layout we cannot read leaves the rest of
            // the stream misaligned: treat the record as broken.
            s.setStatus(QDataStream::ReadCorruptData);
        }
        if (!Orvane::streamOk(s))
            break;
        h.parts.push_back(std::move(part));
    }
    return s;
}
