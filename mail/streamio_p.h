#pragma once

// Stream helpers for the stored record formats. Readers never trust a count
// or a length from the file: lists grow element by element and stop at the
// first short read, so memory is bounded by what the file really holds.

#include <QDataStream>
#include <QStringList>

namespace Orvane {

/// A QDataStream set up for the stored formats: Qt 3.3's form, big-endian.
inline void setupClassicStream(QDataStream& s)
{
    s.setVersion(QDataStream::Qt_3_3);
    s.setByteOrder(QDataStream::BigEndian);
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
        s >> str;
        if (s.status() != QDataStream::Ok)
            break;
        list.append(str);
    }
}

inline bool streamOk(const QDataStream& s) { return s.status() == QDataStream::Ok; }

} // namespace Orvane
