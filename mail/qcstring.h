#pragma once

#include "orvanemail_export.h"

#include <QByteArray>
#include <QDataStream>

/**
 * \brief An 8-bit, NUL-terminated string: raw message text and raw header
 * values.
 *
 * A thin QByteArray that keeps the distinction between a null string
 * (isNull()) and an empty one (""), and carries the classic stream form:
 * a null string is written as a 32-bit zero, any other string as a 32-bit
 * length that counts a terminating NUL, then its bytes, then that NUL.
 *
 * Where a string is to be read "up to its NUL", use cLength(): a QCString may
 * hold zero bytes when it was built from binary data.
 */
class ORVANEMAIL_EXPORT QCString : public QByteArray
{
public:
    QCString() noexcept = default;
    /// A null pointer gives a null string, "" an empty one.
    QCString(const char* str) : QByteArray(str) {}
    QCString(const char* data, qsizetype size) : QByteArray(data, size) {}
    QCString(const QByteArray& a) : QByteArray(a) {}
    QCString(QByteArray&& a) noexcept : QByteArray(std::move(a)) {}

    /// Number of bytes before the first zero byte (or size() if none).
    qsizetype cLength() const noexcept { return qstrnlen(constData(), size()); }

    /// The bytes up to the first zero byte; a null string stays null.
    QCString upToNul() const
    {
        const qsizetype n = cLength();
        return n == size() ? *this : QCString(left(n));
    }

    /// The bytes followed by one NUL that is counted in the size: what the
    /// string looks like when it is handed to an operation that takes a byte
    /// array and processes its whole size.
    QByteArray withTerminator() const
    {
        QByteArray out;
        out.reserve(size() + 1);
        out.append(constData(), size());
        out.append('\0');
        return out;
    }
};

/// Writes \a str in the classic form (see QCString).
ORVANEMAIL_EXPORT QDataStream& operator<<(QDataStream& s, const QCString& str);
/// Reads the classic form: length 0 gives a null string, anything else the
/// bytes up to the first NUL. A length larger than what the stream holds
/// sets ReadPastEnd and yields a null string; memory use is bounded by what
/// is actually read.
ORVANEMAIL_EXPORT QDataStream& operator>>(QDataStream& s, QCString& str);

namespace Orvane {
/// Writes a byte array in the classic form: a 32-bit length and the bytes,
/// a null or empty array as length 0 (never the FF FF FF FF of Qt 6).
ORVANEMAIL_EXPORT void writeBytesClassic(QDataStream& s, const QByteArray& a);
/// Reads what writeBytesClassic() writes. A length larger than what the
/// stream holds sets ReadPastEnd; memory use is bounded by what is read.
ORVANEMAIL_EXPORT QByteArray readBytesClassic(QDataStream& s);
/// Reads exactly \a len bytes in bounded chunks, so a hostile length cannot
/// make us allocate more than the stream actually holds. Sets ReadPastEnd
/// and returns what was read on a short read.
ORVANEMAIL_EXPORT QByteArray readBoundedBytes(QDataStream& s, quint32 len);
} // namespace Orvane
