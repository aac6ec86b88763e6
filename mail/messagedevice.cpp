#include "messagedevice.h"

#include "indexclass.h"
#include "mailfolder.h"
#include "mimecodec.h"
#include "mimepart.h"
#include "orvanelog_p.h"
#include "streamio_p.h"

#include <QBuffer>
#include <QFile>

#include <limits>

namespace {

// Reads \a len bytes at \a off of \a path, or nothing (a null array) when
// the file cannot be opened or does not hold them all.
QByteArray readRange(const QString& path, qint64 off, qint64 len, bool* opened = nullptr)
{
    QFile f(path);
    const bool ok = !path.isEmpty() && f.open(QIODevice::ReadOnly);
    if (opened)
        *opened = ok;
    if (!ok || off < 0 || len < 0 || off + len > f.size() || !f.seek(off))
        return QByteArray();
    QByteArray data = f.read(len);
    if (data.size() != len)
        return QByteArray();
    return data;
}

} // namespace

MessageDevice::MessageDevice(IndexClass* index) : _index(index) {}

MessageDevice::~MessageDevice() = default;

void MessageDevice::loadDescriptor(bool fast)
{
    if (!_index || _index->getDescriptorLength() <= 0)
        return;
    const QByteArray record = readRange(_index->getDescriptorFileName(),
                                        _index->getDescriptorOffset(),
                                        _index->getDescriptorLength());
    if (record.isNull())
        return;
    // Read into a copy: a damaged record must not leave half-read values.
    MessageDescriptor d = _descriptor;
    QDataStream s(record);
    Orvane::setupClassicStream(s);
    d.setCoreLoad(fast);
    s >> d;
    d.setCoreLoad(false);
    if (!Orvane::streamOk(s))
        return;
    if (fast) {
        // The file holds full records: in a core read, the two values that
        // follow the core block belong to the full-only block. Keep ours.
        d.attachments = _descriptor.attachments;
        d.size = _descriptor.size;
    }
    _descriptor = d;
}

void MessageDevice::saveDescriptor()
{
    if (!_index)
        return;
    QFile f(_index->getDescriptorFileName());
    if (_index->getDescriptorFileName().isEmpty() || !f.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    QByteArray record;
    {
        QDataStream s(&record, QIODevice::WriteOnly);
        Orvane::setupClassicStream(s);
        s << _descriptor;
    }
    const qint64 start = f.size();
    if (start + record.size() > std::numeric_limits<qint32>::max())
        return;
    if (f.write(record) != record.size() || !f.flush()) {
        f.resize(start);
        return;
    }
    f.close();
    _index->setDescriptorOffset(long(start));
    _index->setDescriptorLength(long(record.size()));
    if (MailFolder* folder = _index->getParentFolder())
        folder->saveIndex(_index);
}

int MessageDevice::getPartCount() const
{
    return _index ? _index->getPartCount() : 0;
}

MimePart* MessageDevice::operator[](int i) const
{
    return _index ? _index->getPartAt(i) : nullptr;
}

int MessageDevice::createPart()
{
    _index->setMultipartOnly(true);
    const int at = _index->addPart(std::make_unique<MimePart>(), false);
    if (MailFolder* folder = _index->getParentFolder())
        folder->saveIndex(_index);
    return at;
}

bool MessageDevice::getPartData(int partIndex, QByteArray& data)
{
    data = QByteArray();
    const int count = getPartCount();
    if (partIndex < 0 || partIndex >= count) {
        orvaneDebug("messagedevice: part out of scope (%d parts registered)", count);
        return false;
    }
    const MimePart* part = _index->getPartAt(partIndex);
    if (part->length < 1) {
        orvaneDebug("messagedevice: empty part");
        return true;
    }
    bool opened = false;
    QByteArray raw = readRange(_index->getDataFilename(), part->offset, part->length, &opened);
    if (!opened) {
        orvaneDebug("messagedevice: could not open file");
        return false;
    }
    if (raw.isNull()) {
        orvaneDebug("messagedevice: part lies outside the messages file");
        return false;
    }
    raw.append('\0');
    data = MIMECodec::decode(raw, part->encoding.constData());
    return true;
}

bool MessageDevice::hasAttachments() const
{
    for (int i = 0; i < getPartCount(); ++i)
        if (_index->getPartAt(i)->type == "attachment")
            return true;
    return false;
}

namespace {
bool selectParts(const IndexClass* index, const char* mimetype, QList<int>* list)
{
    bool any = false;
    for (int i = 0; index && i < index->getPartCount(); ++i) {
        const MimePart* p = index->getPartAt(i);
        if ((p->type == "text" || p->type == "attachment") && p->mimetype == mimetype) {
            any = true;
            if (list)
                list->append(i);
        }
    }
    return any;
}
} // namespace

bool MessageDevice::textPart(QList<int>* list) const
{
    return selectParts(_index, "text/plain", list);
}

bool MessageDevice::htmlPart(QList<int>* list) const
{
    return selectParts(_index, "text/html", list);
}

int MessageDevice::messageText() const
{
    for (int i = 0; i < getPartCount(); ++i) {
        const MimePart* p = _index->getPartAt(i);
        if (p->type == "text" && (p->mimetype == "text/plain" || p->mimetype == "text/html"))
            return i;
    }
    return -1;
}

QByteArray MessageDevice::getEntryCacheBlock()
{
    loadDescriptor(true);
    const MessageDescriptor& d = _descriptor;
    QByteArray out;
    QDataStream s(&out, QIODevice::WriteOnly);
    Orvane::setupClassicStream(s);
    s << d.status;
    Orvane::writeStringList(s, d.extendedStatus);
    s << quint8(d.flag) << quint8(hasAttachments() ? 1 : 0) << quint8(d.red) << quint8(d.green)
      << quint8(d.blue);
    s << d.from;
    Orvane::writeStringList(s, d.to);
    s << d.subject << d.sentDate << d.receivedDate << d.scheduling << d.priority << d.parentIndexID;
    s << qint32(_index ? _index->getSize() : 0);
    s << d.contentType << d.inReplyTo;
    Orvane::writeStringList(s, d.references);
    return out;
}

QCString MessageDevice::rfc822Message() const
{
    if (!_index)
        return QCString();
    if (_index->getUniblockLength() == 0)
        return QCString("");
    return QCString(readRange(_index->getDataFilename(), _index->getUniblockOffset(),
                              _index->getUniblockLength()));
}
