#include "qcstring.h"

#include <QIODevice>

namespace Orvane {

QByteArray readBoundedBytes(QDataStream& s, quint32 len)
{
    // Grow in chunks: the length word may be hostile, so memory follows
    // what really arrives rather than what the word announces.
    constexpr quint32 Chunk = 1u << 20;
    QByteArray out;
    quint32 done = 0;
    // When the stream knows how much it still holds, a length beyond that
    // is a short read at once: no memory is spent on bytes that never come.
    // (Short strings are simply read: asking a file its size costs a
    // system call.)
    QIODevice* dev = s.device();
    if (len > Chunk / 16 && dev && !dev->isSequential()) {
        const qint64 avail = dev->size() - dev->pos();
        if (qint64(len) > avail) {
            out = dev->read(qMax<qint64>(avail, 0));
            s.setStatus(QDataStream::ReadPastEnd);
            return out;
        }
    }
    while (done < len) {
        const quint32 step = qMin(Chunk, len - done);
        out.resize(qsizetype(done) + step);
        const int got = s.readRawData(out.data() + done, int(step));
        if (got < 0 || quint32(got) != step) {
            out.resize(qsizetype(done) + qMax(got, 0));
            s.setStatus(QDataStream::ReadPastEnd);
            return out;
        }
        done += step;
    }
    return out;
}

void writeBytesClassic(QDataStream& s, const QByteArray& a)
{
    s << quint32(a.size());
    if (!a.isEmpty())
        s.writeRawData(a.constData(), int(a.size()));
}

QByteArray readBytesClassic(QDataStream& s)
{
    quint32 len = 0;
    s >> len;
    if (s.status() != QDataStream::Ok || len == 0)
        return QByteArray();
    return readBoundedBytes(s, len);
}

} // namespace Orvane

QDataStream& operator<<(QDataStream& s, const QCString& str)
{
    if (str.isNull()) {
        s << quint32(0);
        return s;
    }
    s << quint32(str.size() + 1);
    if (!str.isEmpty())
        s.writeRawData(str.constData(), int(str.size()));
    s << quint8(0);
    return s;
}

QDataStream& operator>>(QDataStream& s, QCString& str)
{
    str = QCString();
    quint32 len = 0;
    s >> len;
    if (s.status() != QDataStream::Ok || len == 0)
        return s;
    QByteArray raw = Orvane::readBoundedBytes(s, len);
    if (s.status() != QDataStream::Ok)
        return s;
    raw.truncate(qstrnlen(raw.constData(), raw.size()));
    if (raw.isNull())
        raw = QByteArray("");
    str = QCString(std::move(raw));
    return s;
}
