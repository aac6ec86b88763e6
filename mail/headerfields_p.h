#pragma once

// Shared by MessageClass and HeaderClass: the header field table and the
// small text helpers both parsers use. Private to the library.

#include "qcstring.h"

#include <QList>

#include <cstring>

namespace OrvaneHeader {

/// The last raw value of every field the parsers know (null when the field
/// was absent), and every Received value. A present field with an empty
/// value gives an empty, non-null string.
struct RawFields {
    QCString bcc, cc, contentType, contentTransferEncoding, date, from, inReplyTo, messageId,
        organization, priority, replyTo, references, resentFrom, subject, status, sender, to,
        xPriority;
    QList<QCString> received;
};

/// Reads every line of an unfolded header block (lines separated by LF,
/// CR LF or a lone CR) into \a out. The value of a field is the text after
/// its colon (one blank after the colon skipped), white space simplified and,
/// except for the unstructured Subject, comments removed.
void collectFields(const QCString& header, RawFields& out);

/// Calls \a fn(name, nameLength, value) for each "name: value" line of an
/// unfolded header block; \a fn gets the name in its original case and the
/// raw value (not yet simplified).
template<typename Fn>
void forEachField(const QCString& header, Fn fn);

/// "Read" for exactly "O" or "R", else "New".
QCString normaliseStatus(const QCString& status);
/// One of "Highest", "High", "Normal", "Low", "Lowest".
QCString normalisePriority(const QCString& priority);

/// Whether a byte is white space in the sense of a Latin-1 text stream.
inline bool isStreamSpace(unsigned char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r') || c == 0xA0;
}

/// End of the line starting at \a p (first CR or LF, or \a end).
inline const char* lineEnd(const char* p, const char* end)
{
    while (p < end && *p != '\n' && *p != '\r')
        ++p;
    return p;
}

/// Start of the next line after a line ending at \a p.
inline const char* nextLine(const char* p, const char* end)
{
    if (p < end && *p == '\r')
        ++p;
    else if (p < end && *p == '\n')
        return p + 1;
    if (p < end && *p == '\n' && p[-1] == '\r')
        ++p;
    return p;
}

template<typename Fn>
void forEachField(const QCString& header, Fn fn)
{
    const char* p = header.constData();
    const char* end = p + header.size();
    while (p < end) {
        const char* e = lineEnd(p, end);
        const char* colon = static_cast<const char*>(memchr(p, ':', size_t(e - p)));
        if (colon) {
            const char* v = colon + 1;
            // One blank after the colon is the usual separator; a value
            // written right after the colon keeps its first character.
            if (v < e && (*v == ' ' || *v == '\t'))
                ++v;
            fn(p, int(colon - p), v, e);
        }
        if (e == end)
            break;
        p = nextLine(e, end);
    }
}

} // namespace OrvaneHeader
