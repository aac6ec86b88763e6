// Index records read in place: the mapped index image and the record walk
// that lets entries decode their fields on first use.
#include "indexrecord_p.h"

#include "indexclass.h"
#include "storeio_p.h"
#include "streamio_p.h"

#include <orvaneversion.h>

#include <QFile>
#include <QtEndian>

#include <cstring>

namespace Orvane {

namespace {

constexpr quint32 NullLength = 0xffffffffu;

// Reads a 32-bit length at \a pos; false when it is not there.
bool lengthAt(const uchar* d, qint64 size, qint64 pos, quint32* len)
{
    if (pos < 0 || size - pos < 4)
        return false;
    *len = quint32(readInt(d + pos));
    return true;
}

// Skips a QCString record; its content (up to its first NUL, as the reader
// keeps it) goes to \a text / \a textLen when asked. \a canonical is
// cleared unless the writer would write the same bytes for what is read.
qint64 skipQCString(const uchar* d, qint64 size, qint64 pos, bool* canonical,
                    const char** text = nullptr, qsizetype* textLen = nullptr)
{
    quint32 len = 0;
    if (!lengthAt(d, size, pos, &len))
        return -1;
    pos += 4;
    if (text) {
        *text = "";
        *textLen = 0;
    }
    if (len == 0)
        return pos;
    if (qint64(len) > size - pos)
        return -1;
    const char* s = reinterpret_cast<const char*>(d + pos);
    // Part strings are short: a plain scan beats a library call here.
    qsizetype n = 0;
    while (n < qsizetype(len) && s[n])
        ++n;
    if (n != qsizetype(len) - 1)
        *canonical = false;  // no terminating NUL, or one inside
    if (text) {
        *text = s;
        *textLen = n;
    }
    return pos + len;
}

bool is(const char* t, qsizetype n, const char* lit)
{
    return qsizetype(std::strlen(lit)) == n && std::memcmp(t, lit, size_t(n)) == 0;
}

} // namespace

qint64 skipQString(const uchar* d, qint64 size, qint64 pos)
{
    quint32 len = 0;
    if (!lengthAt(d, size, pos, &len))
        return -1;
    pos += 4;
    if (len == NullLength || len == 0)
        return pos;
    if (len & 1u || qint64(len) > size - pos)
        return -1;
    return pos + len;
}

struct IndexImage::Mapping {
    QFile file;
    uchar* map = nullptr;
};

IndexImage::~IndexImage()
{
    if (_mapping && _mapping->map)
        _mapping->file.unmap(_mapping->map);
}

std::shared_ptr<const IndexImage> IndexImage::open(const QString& path)
{
    std::shared_ptr<IndexImage> img(new IndexImage);
    img->_file = true;
    img->_mapping = std::make_unique<Mapping>();
    QFile& f = img->_mapping->file;
    f.setFileName(path);
    if (!f.open(QIODevice::ReadOnly))
        return nullptr;
    const qint64 size = f.size();
    if (size > 0 && StoreIO::canKeepMapped())
        img->_mapping->map = f.map(0, size);
    if (img->_mapping->map) {
        StoreIO::adviseSequential(img->_mapping->map, size);
        img->_data = img->_mapping->map;
        img->_size = size;
        return img;
    }
    img->_bytes = f.readAll();
    img->_mapping.reset();
    img->_data = reinterpret_cast<const uchar*>(img->_bytes.constData());
    img->_size = img->_bytes.size();
    return img;
}

std::shared_ptr<const IndexImage> IndexImage::fromBytes(const QByteArray& bytes)
{
    std::shared_ptr<IndexImage> img(new IndexImage);
    img->_bytes = bytes;
    img->_data = reinterpret_cast<const uchar*>(img->_bytes.constData());
    img->_size = img->_bytes.size();
    return img;
}

qint64 scanPart(const uchar* d, qint64 size, qint64 pos, qint64* offsetPos, bool* canonical)
{
    const char* first = nullptr;
    qsizetype firstLen = 0;
    bool own = true;
    pos = skipQCString(d, size, pos, &own, &first, &firstLen);
    if (pos < 0)
        return -1;
    // The layouts the part reader knows: how many strings come before the
    // offset and length, and how many after them.
    int before = 0, after = 0;
    bool v1 = false;
    if (is(first, firstLen, "text")) {
        before = 2, after = 1;
    } else if (is(first, firstLen, "related")) {
        before = 3, after = 2;
    } else if (is(first, firstLen, "attachment")) {
        before = 2, after = 2;
    } else if (is(first, firstLen, "digest")) {
        before = 0, after = 1;
    } else if (is(first, firstLen, "1")) {
        before = 3, after = 3;
        v1 = true;
    } else {
        return -1;  // a layout we cannot read: the record is broken
    }
    for (int i = 0; i < before && pos >= 0; ++i) {
        const char* t = nullptr;
        qsizetype n = 0;
        pos = skipQCString(d, size, pos, &own, &t, &n);
        if (v1 && i == 0 && pos >= 0 && is(t, n, "unknown"))
            return -1;  // read as a part the reader refuses
    }
    if (pos < 0 || size - pos < 8)
        return -1;
    *offsetPos = pos;
    pos += 8;
    for (int i = 0; i < after && pos >= 0; ++i)
        pos = skipQCString(d, size, pos, &own);
    if (pos < 0)
        return -1;
    if (!v1 || !own)
        *canonical = false;
    return pos;
}

bool scanRecord(const uchar* d, qint64 size, qint64 pos, RawRecord* r)
{
    for (int k = 0; k < 3; ++k) {
        pos = skipQString(d, size, pos);
        if (pos < 0)
            return false;
    }
    if (size - pos < 28)
        return false;
    for (int i = 0; i < 7; ++i)
        r->fields[i] = readInt(d + pos + 4 * i);
    pos += 28;
    r->partsAt = pos;
    r->canonicalParts = true;
    const int count = qMax(r->fields[6], 0);
    for (int i = 0; i < count; ++i) {
        qint64 offPos = 0;
        pos = scanPart(d, size, pos, &offPos, &r->canonicalParts);
        if (pos < 0)
            return false;
    }
    r->partCount = count;
    r->end = pos;
    return true;
}

qint64 stringFieldAt(const uchar* d, qint64 rec, int k)
{
    for (int i = 0; i < k; ++i)
        rec += rawStringSize(d, rec);
    return rec;
}

qint64 rawStringSize(const uchar* d, qint64 at)
{
    const quint32 len = quint32(readInt(d + at));
    return len == NullLength ? 4 : 4 + qint64(len);
}

QString rawString(const uchar* d, qint64 at)
{
    const quint32 len = quint32(readInt(d + at));
    if (len == NullLength)
        return QString();
    if (len == 0)
        return QString(QLatin1String(""));
    QString s(qsizetype(len / 2), Qt::Uninitialized);
    QChar* out = s.data();
    const uchar* p = d + at + 4;
    for (quint32 i = 0; i < len / 2; ++i)
        out[i] = QChar(char16_t((p[2 * i] << 8) | p[2 * i + 1]));
    return s;
}

bool rawStringEquals(const uchar* d, qint64 at, const QString& s)
{
    const quint32 len = quint32(readInt(d + at));
    if (len == NullLength || len == 0)
        return s.isEmpty();  // as QString compares a null and an empty one
    if (qsizetype(len / 2) != s.size())
        return false;
    const uchar* p = d + at + 4;
    const QChar* c = s.constData();
    for (quint32 i = 0; i < len / 2; ++i)
        if (c[i].unicode() != char16_t((p[2 * i] << 8) | p[2 * i + 1]))
            return false;
    return true;
}

bool rawStringEmpty(const uchar* d, qint64 at)
{
    const quint32 len = quint32(readInt(d + at));
    return len == NullLength || len == 0;
}

namespace {
// The hash takes four UTF-16 code units at a time, the first in the high
// bits (the order in which the file stores them), so that a stored string
// and the same QString hash alike.
inline quint64 mix(quint64 h, quint64 word)
{
    h = (h ^ word) * 0x9e3779b97f4a7c15ull;
    return h ^ (h >> 29);
}
inline quint64 unitsWord(const char16_t* u, size_t n)
{
    quint64 w = 0;
    for (size_t i = 0; i < 4; ++i)
        w = (w << 16) | (i < n ? u[i] : 0);
    return w;
}
} // namespace

quint64 stringHash(const QString& s)
{
    const auto* u = reinterpret_cast<const char16_t*>(s.utf16());
    const size_t n = size_t(s.size());
    quint64 h = mix(0xcbf29ce484222325ull, n);
    for (size_t i = 0; i < n; i += 4)
        h = mix(h, unitsWord(u + i, n - i));
    return h;
}

quint64 rawStringHash(const uchar* d, qint64 at)
{
    const quint32 len = quint32(readInt(d + at));
    const size_t n = len == NullLength ? 0 : len / 2;
    quint64 h = mix(0xcbf29ce484222325ull, n);
    const uchar* p = d + at + 4;
    size_t i = 0;
    for (; i + 4 <= n; i += 4)
        h = mix(h, qFromBigEndian<quint64>(p + 2 * i));
    if (i < n) {
        char16_t tail[4] = {};
        for (size_t k = 0; i + k < n; ++k)
            tail[k] = char16_t((p[2 * (i + k)] << 8) | p[2 * (i + k) + 1]);
        h = mix(h, unitsWord(tail, n - i));
    }
    return h;
}

qint64 indexHeaderEnd(const uchar* d, qint64 size)
{
    if (size < 4 || (readInt(d) & 1) != 0)  // too short, or an odd byte count
        return -1;
    const qint64 end = rawStringSize(d, 0);
    if (end > size || !rawStringEquals(d, 0, QStringLiteral(ORVANE_MAIL_VERSION)))
        return -1;
    return end;
}

QByteArray indexFileBytes(const std::vector<IndexClass*>& entries, bool withHeader)
{
    QByteArray out;
    out.reserve(qsizetype(entries.size()) * 256);  // a typical record with a part or two
    QDataStream s(&out, QIODevice::WriteOnly);
    setupClassicStream(s);
    if (withHeader)
        s << QStringLiteral(ORVANE_MAIL_VERSION);
    for (const IndexClass* e : entries)
        s << *e;
    return out;
}

} // namespace Orvane
