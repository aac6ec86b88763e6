#pragma once

// Stream helpers for the stored record formats. Readers never trust a count
// or a length from the file: lists grow element by element and stop at the
// first short read, so memory is bounded by what the file really holds.

#include <QDataStream>
#include <QIODevice>
#include <QStringList>
#include <QtEndian>

namespace Orvane {

/// A QDataStream set up for the stored formats: Qt 3.3's form, big-endian.
inline void setupClassicStream(QDataStream& s)
{
    s.setVersion(QDataStream::Qt_3_3);
    s.setByteOrder(QDataStream::BigEndian);
}

/// Reads a string in the stored form (32-bit byte length, 0xffffffff for a
/// null string, then UTF-16). A length beyond what the device still holds
/// fails the stream at once: Qt's own reader would first allocate up to a
/// megabyte-sized block for it, for every such string of a damaged record.
/// A stream that has already failed reads nothing more.
inline void readString(QDataStream& s, QString& str)
{
    if (s.status() != QDataStream::Ok) {
        str.clear();
        return;
    }
    QIODevice* d = s.device();
    char len[4];
    if (d && !d->isSequential() && d->peek(len, 4) == 4) {
        const quint32 n = s.byteOrder() == QDataStream::BigEndian ? qFromBigEndian<quint32>(len)
                                                                   : qFromLittleEndian<quint32>(len);
        if (n != 0xffffffff && qint64(n) > d->bytesAvailable() - 4) {
            d->skip(d->bytesAvailable());
            str.clear();
            s.setStatus(QDataStream::ReadPastEnd);
            return;
        }
    }
    s >> str;
}

/// `s >> bounded(str)` reads \a str with readString().
struct BoundedString {
    QString& str;
};
inline BoundedString bounded(QString& str) { return {str}; }
inline QDataStream& operator>>(QDataStream& s, BoundedString b)
{
    readString(s, b.str);
    return s;
}

inline void writeStringList(QDataStream& s, const QStringList& list)
{
    s << quint32(list.size());
    for (const QString& str : list)
        s << str;
}

/// Reads a 32-bit count and that many strings, without reserving the count.
inline void readStringList(QDataStream& s, QStringList& list)
{
    list.clear();
    quint32 n = 0;
    s >> n;
    for (quint32 i = 0; i < n && s.status() == QDataStream::Ok; ++i) {
        QString str;
        readString(s, str);
        if (s.status() != QDataStream::Ok)
            break;
        list.append(str);
    }
}

inline bool streamOk(const QDataStream& s) { return s.status() == QDataStream::Ok; }

} // namespace Orvane
