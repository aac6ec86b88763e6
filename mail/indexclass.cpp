#include "indexclass.h"

#include "mailfolder.h"
#include "messagefactory.h"
#include "mimepart.h"
#include "orvanelog_p.h"
#include "streamio_p.h"

IndexClass::IndexClass(MailFolder* parent, const QString& id)
    : _parent(parent), _id(id), _parentID(QLatin1String("")), _messageID(QLatin1String(""))
{
}

IndexClass::IndexClass(const IndexClass& other)
    : _parent(nullptr),
      _id(other._id),
      _parentID(other._parentID),
      _messageID(other._messageID),
      _descriptorOffset(other._descriptorOffset),
      _descriptorLength(other._descriptorLength),
      _uniblockOffset(other._uniblockOffset),
      _uniblockLength(other._uniblockLength),
      _multipartOnly(other._multipartOnly),
      _unreadMark(other._unreadMark)
{
    _partList.reserve(other._partList.size());
    for (const auto& p : other._partList)
        _partList.push_back(std::make_unique<MimePart>(*p));
}

IndexClass::~IndexClass()
{
    // A cached device bound to this entry must not outlive it.
    MessageFactory::entryDestroyed(this);
}

bool IndexClass::inCollection() const
{
    return _parent && _parent->indexIDict()->find(_id) == this;
}

void IndexClass::setMessageID(const QString& id)
{
    _messageID = id;
    if (inCollection())
        _parent->indexIDict()->touch();  // the folder's lookups must see it
}

void IndexClass::setParentID(const QString& id)
{
    _parentID = id;
    if (inCollection())
        _parent->indexIDict()->touch();
}

MimePart* IndexClass::getPartAt(int i) const
{
    if (i < 0 || size_t(i) >= _partList.size())
        return nullptr;
    return _partList[size_t(i)].get();
}

void IndexClass::setUniblockOffset(long offset, bool adjust)
{
    if (adjust) {
        for (const auto& p : _partList) {
            if (p->offset != 0 || p->length != 0)
                p->offset = offset + (p->offset - _uniblockOffset);
            else
                orvaneDebug("Hmm, saving an unfinished mail!");
        }
    }
    _uniblockOffset = offset;
}

QString IndexClass::url() const
{
    return (_parent ? _parent->name() : QString()) + QLatin1Char('/') + _id;
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
    long sum = 0;
    for (const auto& p : _partList)
        sum += p->length;
    return int(sum);
}

int IndexClass::addPart(std::unique_ptr<MimePart> part, bool adjust)
{
    if (adjust)
        part->offset += _uniblockOffset;
    _partList.push_back(std::move(part));
    return int(_partList.size()) - 1;
}

int IndexClass::addPart(MimePart* part, bool adjust)
{
    return addPart(std::unique_ptr<MimePart>(part), adjust);
}

bool IndexClass::removePart(int i)
{
    if (i < 0 || size_t(i) >= _partList.size())
        return false;
    _partList.erase(_partList.begin() + i);
    return true;
}

QDataStream& operator<<(QDataStream& s, const IndexClass& e)
{
    s << e._id << e._parentID << e._messageID;
    s << qint32(e._descriptorOffset) << qint32(e._descriptorLength)
      << qint32(e._uniblockOffset) << qint32(e._uniblockLength);
    s << qint32(e._multipartOnly) << qint32(e._unreadMark);
    s << qint32(e._partList.size());
    for (const auto& p : e._partList)
        s << *p;
    return s;
}

QDataStream& operator>>(QDataStream& s, IndexClass& e)
{
    qint32 dOff = 0, dLen = 0, uOff = 0, uLen = 0, multi = 0, unread = 0, count = 0;
    s >> e._id >> e._parentID >> e._messageID;
    s >> dOff >> dLen >> uOff >> uLen >> multi >> unread >> count;
    e._descriptorOffset = dOff;
    e._descriptorLength = dLen;
    e._uniblockOffset = uOff;
    e._uniblockLength = uLen;
    e._multipartOnly = multi;
    e._unreadMark = unread;
    e._partList.clear();
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
        e._partList.push_back(std::move(part));
    }
    return s;
}
